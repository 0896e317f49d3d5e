#include "tests/support/WorkingCopyBytes.h"

#include <gtest/gtest.h>

namespace quorvane::test {

void putWorkingCopy(WorkingCopyFile& file, const std::filesystem::path& path,
                    const std::string& container) {
    file.close();
    std::filesystem::remove(path);
    ASSERT_TRUE(file.create(path)) << path;
    file.write(container.data(), static_cast<std::streamsize>(container.size()));
    ASSERT_TRUE(file.flush().good());
}

std::string workingCopyContent(WorkingCopyFile& file) {
    file.clear();
    file.flush();
    file.seekg(0);
    std::string bytes(file.length(), '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    file.clear();
    return bytes;
}

} // namespace quorvane::test
