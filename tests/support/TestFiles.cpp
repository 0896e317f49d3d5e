#include "tests/support/TestFiles.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    removeTree(path_);
}

fs::path TempFolder::write(const std::string& name, const std::string& content) const {
    const fs::path file = path_ / name;
    writeFile(file, content);
    return file;
}

void removeTree(const fs::path& folder) {
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored))
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder, ignored);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> folderListing(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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

int runProgram(const std::vector<std::string>& command) {
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::string hexOf(const std::string& bytes) {
    std::string hex;
    CryptoPP::StringSource source(bytes, true,
                                  new CryptoPP::HexEncoder(new CryptoPP::StringSink(hex)));
    return hex;
}

} // namespace

bool opensslCbc(bool decrypt, const std::string& key, const std::string& iv, const fs::path& in,
                const fs::path& out) {
    std::vector<std::string> command{"openssl", "enc"};
    if (decrypt)
        command.emplace_back("-d");
    for (const std::string& word :
         {std::string("-aes-256-cbc"), std::string("-K"), hexOf(key), std::string("-iv"), hexOf(iv),
          std::string("-in"), in.string(), std::string("-out"), out.string()})
        command.push_back(word);
    return runProgram(command) == 0;
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

} // namespace quorvane::test
