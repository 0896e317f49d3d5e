#include "cli/ProgressLine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <iterator>

namespace quorvane {

namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr auto ShowAfter = std::chrono::milliseconds(500);

} // namespace

std::string batchFigures(std::uint64_t number, std::uint64_t count, std::uint64_t done,
                         std::uint64_t total, ProgressClock::duration elapsed) {
    return "Adding file " + groupedCount(number) + " of " + groupedCount(count) + ", " +
           amountsDone(done, total, elapsed);
}

std::string progressFigures(std::uint64_t done, std::uint64_t total,
                            ProgressClock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    // Rounded down, so that 100% means every byte is done.
    const std::uint64_t percent = total == 0 || done >= total ? 100 : done * 100 / total;
    std::string figures = std::to_string(percent) + "% " + std::to_string(done) + '/' +
                          std::to_string(total) + " bytes ";
    if (seconds <= 0.0 || done == 0) {
        figures += "-- MB/s";
    } else {
        const double rate = static_cast<double>(done) / seconds;
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.1f MB/s", rate / 1e6);
        figures += speed;
        if (done < total)
            figures += ' ' + clockTime(secondsLeft(done, total, seconds)) + " left";
    }
    return figures;
}

void ProgressLine::start(const std::string& text) {
    if (batch_.active) {
        // A small file reports no bytes: the line moves on at its start.
        drawBatch();
        return;
    }
    finish();
    text_ = text;
    stepStarted_ = false;
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
    if (batch_.active) {
        batch_.fileDone = std::min(done, batch_.fileSize);
        drawBatch();
        return;
    }
    const auto now = now_();
    // One busy box may cover several byte-moving steps; each starts its own count.
    if (!stepStarted_ || done < lastDone_ || total != lastTotal_) {
        stepStarted_ = true;
        stepDrawn_ = false;
        stepStart_ = now;
    }
    lastDone_ = done;
    lastTotal_ = total;
    if (now - stepStart_ < ShowAfter)
        return;
    if (!stepDrawn_ || done == total || now - lastDraw_ >= RedrawInterval)
        draw(done, total, now);
}

void ProgressLine::draw(std::uint64_t done, std::uint64_t total, ProgressClock::time_point now) {
    // "\r" back to the start of the line, "\033[K" clears what a longer
    // earlier figure left behind.
    out_ << '\r' << text_ << ' ' << progressFigures(done, total, now - stepStart_) << "\033[K"
         << std::flush;
    drawn_ = true;
    stepDrawn_ = true;
    lastDraw_ = now;
}

void ProgressLine::startBatch(std::uint64_t count, std::uint64_t totalBytes) {
    finish();
    batch_ = Batch{true, count, totalBytes, 0, 0, 0, 0, now_()};
}

void ProgressLine::startBatchFile(std::uint64_t number, std::uint64_t size) {
    batch_.doneBefore += batch_.fileSize;
    batch_.number = number;
    batch_.fileSize = size;
    batch_.fileDone = 0;
}

void ProgressLine::endBatch() {
    batch_.active = false;
    finish();
}

void ProgressLine::drawBatch() {
    const auto now = now_();
    // Counted from the start of the command, not of the file: each of a
    // thousand small files ends well within half a second.
    if (now - batch_.started < ShowAfter)
        return;
    const std::uint64_t done = std::min(batch_.doneBefore + batch_.fileDone, batch_.totalBytes);
    // At most ten times a second, and once more for the last figure.
    if (drawn_ && done < batch_.totalBytes && now - lastDraw_ < RedrawInterval)
        return;
    out_ << '\r'
         << batchFigures(batch_.number, batch_.count, done, batch_.totalBytes, now - batch_.started)
         << "\033[K" << std::flush;
    drawn_ = true;
    lastDraw_ = now;
}

void ProgressLine::finish() {
    if (drawn_)
        out_ << '\n' << std::flush;
    drawn_ = false;
}

} // namespace quorvane
