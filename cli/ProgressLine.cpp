#include "cli/ProgressLine.h"

#include <cstdio>

namespace quorvane {

namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(100);

std::string formatSpeed(std::uint64_t bytes, std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    char buffer[32];
    if (seconds <= 0.0)
        std::snprintf(buffer, sizeof buffer, "-- MB/s");
    else
        std::snprintf(buffer, sizeof buffer, "%.1f MB/s",
                      static_cast<double>(bytes) / seconds / 1e6);
    return buffer;
}

} // namespace

void ProgressLine::start(const std::string& text) {
    finish();
    text_ = text;
    stepStarted_ = false;
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
    const auto now = Clock::now();
    // One busy box may cover several byte-moving steps; each starts its own count.
    if (!stepStarted_ || done < lastDone_ || total != lastTotal_) {
        stepStarted_ = true;
        stepStart_ = now;
        draw(done, total, now);
    } else if (done == total || now - lastDraw_ >= RedrawInterval) {
        draw(done, total, now);
    }
    lastDone_ = done;
    lastTotal_ = total;
}

void ProgressLine::draw(std::uint64_t done, std::uint64_t total, Clock::time_point now) {
    // "\r" back to the start of the line, "\033[K" clears what a longer
    // earlier figure left behind.
    out_ << '\r' << text_ << ' ' << done << '/' << total << " bytes "
         << formatSpeed(done, now - stepStart_) << "\033[K" << std::flush;
    drawn_ = true;
    lastDraw_ = now;
}

void ProgressLine::finish() {
    if (drawn_)
        out_ << '\n' << std::flush;
    drawn_ = false;
}

} // namespace quorvane
