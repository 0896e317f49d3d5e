#pragma once

namespace quorvane {

// Removes the folder at path with everything in it, using only system calls
// on buffers of its own: no heap and no lock, so that it works from a thread
// that has stopped another one at an arbitrary point (perhaps inside malloc).
// Returns whether the folder is gone.
bool removeFolderWithoutAllocating(const char* path);

} // namespace quorvane
