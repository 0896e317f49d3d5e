#pragma once

namespace quorvane {

// Whether nobody reads the output descriptor any more: a pipe whose reader
// has ended (list | head) or a socket shut down. A pipeline that stops
// reading once it has what it wants is no failure of the tool that fed it,
// whereas a full disk or a broken device is.
bool outputReaderGone(int fd, int writeError);

} // namespace quorvane
