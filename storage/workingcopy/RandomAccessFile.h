#pragma once

// The one narrow file interface that the container operations work on: read
// and write at an offset, length, resize, sync, and the reason of the last
// failure. The container never learns what it was handed: a plain file, the
// encrypted working copy, or a safe file read through its cipher.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

// Our own reason, beside errno values: the safe file under an open session
// was changed in place by another program (see ReadThroughSafe).
inline constexpr int SafeChangedInPlace = -1;
// Ours too: a stored file's bytes do not open at their place (a damaged
// chunk of a sealed safe). Only the files that use it fail.
inline constexpr int ContentDamaged = -2;

class RandomAccessFile {
  public:
    virtual ~RandomAccessFile() = default;

    // Reads exactly count bytes at offset. False when the range passes the end
    // (lastError() is then 0) or the system failed (lastError() says why).
    virtual bool readAt(std::uint64_t offset, void* into, std::size_t count) = 0;
    // Writes count bytes at offset, growing the file when it passes the end;
    // a gap left by growing reads as zeros.
    virtual bool writeAt(std::uint64_t offset, const void* from, std::size_t count) = 0;
    virtual std::uint64_t length() const = 0;
    // Cuts the file, or grows it with zeros, to length.
    virtual bool resize(std::uint64_t length) = 0;
    // Forces what was written to the disk.
    virtual bool sync() = 0;
    // errno of the last failure (or SafeChangedInPlace), 0 when it was none of
    // the system's (a read past the end).
    virtual int lastError() const = 0;
    // False once the file under it was changed by another program, so that
    // nothing more is read or written as if it had not been.
    virtual bool unchanged() { return true; }
};

// The reason of a failure as the user reads it: the system's text for an
// errno value, ours for SafeChangedInPlace.
std::string failureText(int error);

} // namespace quorvane
