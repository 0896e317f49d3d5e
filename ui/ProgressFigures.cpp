#include "ui/ProgressFigures.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <iterator>

namespace quorvane {

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

std::uint64_t secondsLeft(std::uint64_t done, std::uint64_t total, double seconds) {
    const double rate = static_cast<double>(done) / seconds;
    return static_cast<std::uint64_t>(std::ceil(static_cast<double>(total - done) / rate));
}

std::string groupedCount(std::uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0)
            grouped += ',';
        grouped += digits[at];
    }
    return grouped;
}

std::string shortSize(std::uint64_t bytes) {
    static constexpr const char* Units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    std::size_t unit = 0;
    std::uint64_t scale = 1;
    while (unit + 1 < std::size(Units) && bytes / scale >= 1000) {
        scale *= 1000;
        ++unit;
    }
    char buffer[64]; // room for any two 64-bit numbers and a unit
    // Rounded down, so that a size is never shown as more than it is.
    if (unit > 0 && bytes / scale < 10)
        std::snprintf(buffer, sizeof buffer, "%llu.%llu %s",
                      static_cast<unsigned long long>(bytes / scale),
                      static_cast<unsigned long long>(bytes % scale / (scale / 10)), Units[unit]);
    else
        std::snprintf(buffer, sizeof buffer, "%llu %s",
                      static_cast<unsigned long long>(bytes / scale), Units[unit]);
    return buffer;
}

std::string amountsDone(std::uint64_t done, std::uint64_t total, ProgressClock::duration elapsed) {
    std::string line = shortSize(done) + " of " + shortSize(total);
    const double seconds = std::chrono::duration<double>(elapsed).count();
    if (seconds > 0.0 && done > 0 && done < total)
        line += ", " + clockTime(secondsLeft(done, total, seconds)) + " left";
    return line;
}

void FileBatch::start(std::uint64_t count, std::uint64_t totalBytes,
                      ProgressClock::time_point now) {
    active_ = true;
    count_ = count;
    totalBytes_ = totalBytes;
    number_ = 0;
    doneBefore_ = 0;
    fileSize_ = 0;
    fileDone_ = 0;
    started_ = now;
}

void FileBatch::startFile(std::uint64_t number, std::uint64_t size) {
    doneBefore_ += fileSize_;
    number_ = number;
    fileSize_ = size;
    fileDone_ = 0;
}

std::string FileBatch::figures(ProgressClock::time_point now) const {
    const std::uint64_t done =
        std::min(doneBefore_ + std::min<std::uint64_t>(fileDone_, fileSize_), totalBytes_);
    return "File " + groupedCount(std::max<std::uint64_t>(number_, 1)) + " of " +
           groupedCount(count_) + ", " + amountsDone(done, totalBytes_, now - started_);
}

} // namespace quorvane
