#include "cli/ProgressLine.h"

#include <cmath>
#include <cstdio>

namespace quorvane {

namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr auto ShowAfter = std::chrono::milliseconds(500);

// "M:SS", or "H:MM:SS" from an hour on.
std::string clockTime(std::uint64_t seconds) {
    char buffer[32];
    if (seconds < 3600)
        std::snprintf(buffer, sizeof buffer, "%llu:%02llu",
                      static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    else
        std::snprintf(buffer, sizeof buffer, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds / 60 % 60),
                      static_cast<unsigned long long>(seconds % 60));
    return buffer;
}

} // namespace

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
        // Rounded up: "0:00 left" would be untrue while bytes remain.
        const double left = std::ceil(static_cast<double>(total - done) / rate);
        if (done < total)
            figures += ' ' + clockTime(static_cast<std::uint64_t>(left)) + " left";
    }
    return figures;
}

void ProgressLine::start(const std::string& text) {
    finish();
    text_ = text;
    stepStarted_ = false;
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
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

void ProgressLine::finish() {
    if (drawn_)
        out_ << '\n' << std::flush;
    drawn_ = false;
}

} // namespace quorvane
