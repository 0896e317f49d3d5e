#include "tests/support/WorkingCopyBytes.h"

#include <gtest/gtest.h>

namespace quorvane::test {

void putWorkingCopy(std::unique_ptr<WorkingCopy>& file, const std::filesystem::path& path,
                    const std::string& container) {
    file.reset();
    std::filesystem::remove(path);
    file = std::make_unique<WorkingCopy>(path);
    ASSERT_TRUE(file->writeAt(0, container.data(), container.size())) << path;
}

std::string workingCopyContent(RandomAccessFile& file) {
    std::string bytes(file.length(), '\0');
    EXPECT_TRUE(file.readAt(0, bytes.data(), bytes.size()));
    return bytes;
}

} // namespace quorvane::test
