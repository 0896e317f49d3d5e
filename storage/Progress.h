#pragma once

#include <cstdint>
#include <functional>

namespace quorvane {

// Reports how far a long byte-moving step has come. It is called from whatever
// thread runs the step (a worker thread in the desktop program), so whoever
// supplies it must not touch widgets from it. An empty callback is allowed.
using ProgressCallback = std::function<void(std::uint64_t done, std::uint64_t total)>;

inline void reportProgress(const ProgressCallback& progress, std::uint64_t done,
                           std::uint64_t total) {
    if (progress)
        progress(done, total);
}

// Buffer size of every streaming copy: large enough to keep the disk and the
// cipher busy, small enough that no routine holds a file in memory.
inline constexpr std::size_t StreamBlockSize = 1u << 20;

} // namespace quorvane
