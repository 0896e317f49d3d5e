#include "storage/workingcopy/RandomAccessFile.h"

#include <cstring>

namespace quorvane {

std::string failureText(int error) {
    if (error == SafeChangedInPlace)
        return "The safe file was changed in place by another program";
    if (error == ContentDamaged)
        return "Its stored bytes are damaged";
    return std::strerror(error);
}

} // namespace quorvane
