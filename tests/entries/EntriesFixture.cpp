#include "tests/entries/EntriesFixture.h"

#include "lifecycle/EntryListing.h"
#include "storage/SafeCipher.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quorvane::test {

namespace {

void putU32(std::string& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putU64(std::string& bytes, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

} // namespace

std::string containerBytes(const std::vector<StoredFile>& files) {
    std::string records;
    std::string table;
    std::uint32_t offset = 12;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string name = files[i].name.substr(0, 50);
        name.resize(50, '\0');
        putU32(table, static_cast<std::uint32_t>(i));
        putU32(table, offset);
        records += name;
        putU64(records, files[i].content.size());
        records += files[i].content;
        offset += static_cast<std::uint32_t>(58 + files[i].content.size());
    }
    std::string bytes;
    putU32(bytes, static_cast<std::uint32_t>(files.size()));
    putU32(bytes, 2);
    putU32(bytes, offset);
    bytes += records;
    if (files.empty())
        putU32(bytes, 307); // the empty container's unread word
    return bytes + table;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file.is_open()) << path;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << path;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> folderListing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string decryptedSafe(const std::filesystem::path& safe, const std::string& password) {
    std::ifstream in(safe, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << safe;
    std::ostringstream plain;
    bool failed = true;
    std::string why;
    decryptSafe(in, plain, derivePasswordKey(password), failed, why);
    EXPECT_FALSE(failed) << safe << ": " << why;
    return plain.str();
}

std::string patternBytes(std::size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    std::uint32_t value = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        value = value * 1103515245u + 12345u;
        byte = static_cast<char>(value >> 24);
    }
    return bytes;
}

void HookedShell::runBusy(const std::function<void()>& step) {
    const int number = busySteps;
    if (beforeStep)
        beforeStep(number);
    ScriptedShell::runBusy(step);
    if (afterStep)
        afterStep(number);
}

bool HookedShell::askYesNo(const std::string& text, const std::string& caption) {
    if (onQuestion)
        onQuestion(text);
    return ScriptedShell::askYesNo(text, caption);
}

int HookedShell::selectedCount() {
    return claimedSelectedCount >= 0 ? claimedSelectedCount : ScriptedShell::selectedCount();
}

ProgressCallback HookedShell::byteProgress() {
    return
        [this](std::uint64_t done, std::uint64_t total) { byteReports.emplace_back(done, total); };
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &lowered);
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
}

void EntriesTest::SetUp() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-entries-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    workDir = root / "work";
    sources = root / "sources";
    out = root / "out";
    for (const auto& folder : {workDir, sources, out})
        std::filesystem::create_directory(folder);
    state.workDir = workDir;
    state.safePath = (root / "safe.cx").string();
    state.password = TestPassword;
}

void EntriesTest::TearDown() {
    if (state.workingCopyStream.is_open())
        state.workingCopyStream.close();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void EntriesTest::openContainer(const std::string& container) {
    writeFile(workingCopyPath(state), container);
    state.workingCopyStream.open(workingCopyPath(state),
                                 std::ios::in | std::ios::out | std::ios::binary | std::ios::ate);
    ASSERT_TRUE(state.workingCopyStream.is_open());
    refreshEntryList(state, shell);
    shell.clearRecords();
}

void EntriesTest::openEmptySafe() {
    openContainer(containerBytes({}));
}

std::string EntriesTest::workingCopyBytes() {
    state.workingCopyStream.clear();
    state.workingCopyStream.flush();
    return readFile(workingCopyPath(state));
}

std::filesystem::path EntriesTest::source(const std::string& name, const std::string& content) {
    auto path = sources / name;
    writeFile(path, content);
    return path;
}

void EntriesTest::addKeepingOriginal(const std::filesystem::path& path) {
    shell.addFilePickerAnswers.push_back(path.string());
    shell.yesNoAnswers.push_back(false);
    addFile(session);
}

void EntriesTest::extractRows(const std::set<int>& rows, const std::filesystem::path& folder) {
    shell.selected = rows;
    shell.folderAnswers.push_back(folder.string());
    extractFiles(session);
}

} // namespace quorvane::test
