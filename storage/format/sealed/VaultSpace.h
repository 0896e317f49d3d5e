#pragma once

// Where new chunks go in the vault file. Space that neither commit slot can
// reach is reused; space that only the older slot reaches waits for the next
// commit to land (the older slot is overwritten by it), as LMDB keeps the
// pages of the previous transaction; the rest is appended at the end.

#include <cstdint>
#include <map>
#include <vector>

namespace quorvane::vault {

struct Range {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

class VaultSpace {
  public:
    // After an open: the committed state reaches `used` (any order); gaps
    // below end may still be reached by the older slot.
    void startFrom(std::vector<Range> used, std::uint64_t start, std::uint64_t end);

    // length bytes in one run: the first free run that holds them, else at the end.
    std::uint64_t take(std::uint64_t length);
    // A run the committed state reaches and the coming commit no longer does.
    void releaseCommitted(Range range);
    // A run taken since the last commit (reached by no slot): free at once.
    void releaseUncommitted(Range range) { addFree(range); }

    // The commit landed: what the older state alone reached is free now.
    void commitLanded();

    std::uint64_t end() const { return end_; }

  private:
    void addFree(Range range);

    std::map<std::uint64_t, std::uint64_t> free_; // offset -> length, adjacent runs merged
    std::vector<Range> waiting_;                  // free once the next commit lands
    std::vector<Range> released_;                 // waiting once the next commit lands
    std::uint64_t end_ = 0;
};

} // namespace quorvane::vault
