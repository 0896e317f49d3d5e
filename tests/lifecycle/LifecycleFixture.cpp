#include "tests/lifecycle/LifecycleFixture.h"

#include "lifecycle/EntryListing.h"
#include "storage/SafeCipher.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::test {

namespace {

void putWord(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void appendWord(std::string& bytes, std::uint32_t value) {
    bytes.append(4, '\0');
    putWord(bytes, bytes.size() - 4, value);
}

} // namespace

std::string containerBytes(const std::vector<StoredFile>& files, std::uint32_t version) {
    std::string bytes(12, '\0');
    std::vector<std::uint32_t> offsets;
    for (const auto& file : files) {
        offsets.push_back(static_cast<std::uint32_t>(bytes.size()));
        std::string name = file.name.substr(0, EntryNameSize);
        name.resize(EntryNameSize, '\0');
        bytes += name;
        appendWord(bytes, static_cast<std::uint32_t>(file.content.size()));
        appendWord(bytes, 0);
        bytes += file.content;
    }
    const auto indexOffset = static_cast<std::uint32_t>(bytes.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        appendWord(bytes, static_cast<std::uint32_t>(i));
        appendWord(bytes, offsets[i]);
    }
    putWord(bytes, 0, static_cast<std::uint32_t>(files.size()));
    putWord(bytes, 4, version);
    putWord(bytes, 8, indexOffset);
    return bytes;
}

std::string emptyContainerBytes() {
    return std::string("\x00\x00\x00\x00\x02\x00\x00\x00\x0C\x00\x00\x00\x33\x01\x00\x00", 16);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> folderListing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeSafe(const std::filesystem::path& path, const std::string& password,
               const std::string& container) {
    std::istringstream in(container);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    bool failed = false;
    std::string message;
    encryptSafe(in, out, derivePasswordKey(password), failed, message);
    out.close();
    if (failed || !out)
        throw std::runtime_error("cannot make safe " + path.string() + ": " + message);
}

std::optional<std::string> decryptedSafe(const std::filesystem::path& path,
                                         const std::string& password) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    bool failed = false;
    std::string message;
    decryptSafe(in, out, derivePasswordKey(password), failed, message);
    if (failed)
        return std::nullopt;
    return out.str();
}

void LifecycleTest::SetUp() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lifecycle-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    scratchCwd = root / "cwd";
    workDir = root / "work";
    std::filesystem::create_directory(scratchCwd);
    std::filesystem::create_directory(workDir);
    std::filesystem::permissions(workDir, std::filesystem::perms::owner_all);
    state.workDir = workDir;
    originalCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(scratchCwd);
}

void LifecycleTest::TearDown() {
    if (state.workingCopyStream.is_open())
        state.workingCopyStream.close();
    std::filesystem::current_path(originalCwd_);
    EXPECT_EQ(folderListing(scratchCwd), std::vector<std::string>{})
        << "files left in the current directory";
    std::error_code ignored;
    // Fault tests may have left read-only folders behind.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ignored))
        if (entry.is_directory(ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
}

void LifecycleTest::openThroughOpenSafe(const std::filesystem::path& safe,
                                        const std::string& password) {
    shell.openPickerAnswers.push_back(safe.string());
    shell.passwordAnswers.push_back(password);
    openSafe(session);
    ASSERT_TRUE(isSafeOpen(state)) << "the safe " << safe << " did not open";
}

void LifecycleTest::rewriteWorkingCopy(const std::string& container) {
    ASSERT_TRUE(isSafeOpen(state));
    state.workingCopyStream.clear();
    state.workingCopyStream.seekp(0);
    state.workingCopyStream.write(container.data(), static_cast<std::streamsize>(container.size()));
    ASSERT_TRUE(state.workingCopyStream.good());
    refreshEntryList(state, shell);
}

} // namespace quorvane::test
