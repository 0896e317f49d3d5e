#include "storage/format/sealed/VaultSpace.h"

#include <algorithm>

namespace quorvane::vault {

void VaultSpace::startFrom(std::vector<Range> used, std::uint64_t start, std::uint64_t end) {
    free_.clear();
    waiting_.clear();
    released_.clear();
    end_ = end;
    std::sort(used.begin(), used.end(),
              [](const Range& a, const Range& b) { return a.offset < b.offset; });
    std::uint64_t at = start;
    for (const Range& range : used) {
        if (range.offset > at)
            waiting_.push_back({at, range.offset - at});
        at = std::max(at, range.offset + range.length);
    }
    if (end > at)
        waiting_.push_back({at, end - at});
}

std::uint64_t VaultSpace::take(std::uint64_t length) {
    for (auto run = free_.begin(); run != free_.end(); ++run) {
        if (run->second < length)
            continue;
        const std::uint64_t offset = run->first;
        const std::uint64_t left = run->second - length;
        free_.erase(run);
        if (left > 0)
            free_[offset + length] = left;
        return offset;
    }
    const std::uint64_t offset = end_;
    end_ += length;
    return offset;
}

void VaultSpace::releaseCommitted(Range range) {
    if (range.length > 0)
        released_.push_back(range);
}

void VaultSpace::commitLanded() {
    for (const Range& range : waiting_)
        addFree(range);
    waiting_ = std::move(released_);
    released_.clear();
}

void VaultSpace::addFree(Range range) {
    if (range.length == 0)
        return;
    auto next = free_.lower_bound(range.offset);
    if (next != free_.begin()) {
        auto before = std::prev(next);
        if (before->first + before->second == range.offset) {
            range = {before->first, before->second + range.length};
            free_.erase(before);
        }
    }
    if (next != free_.end() && range.offset + range.length == next->first) {
        range.length += next->second;
        free_.erase(next);
    }
    // A free run that reaches the end is given back to the end.
    if (range.offset + range.length == end_) {
        end_ = range.offset;
        return;
    }
    free_[range.offset] = range.length;
}

} // namespace quorvane::vault
