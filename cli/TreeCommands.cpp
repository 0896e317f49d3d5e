#include "cli/TreeCommands.h"

#include "cli/ChangeCommands.h"
#include "cli/ListFormat.h"
#include "cli/PasswordInput.h"
#include "entries/Messages.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

EntryStamp stampNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    return {seconds.count(),
            static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds).count()),
            0700};
}

bool isAtOrBelow(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

void reportFailure(CommandRun& run, const std::string& path) {
    report(run.errors,
           escapeEntryName(path) + ": " + failureText(contentsOf(run.session.state).lastError()));
}

// At a terminal the question is asked; elsewhere only --recursive says yes.
bool folderMayGo(CommandRun& run, const std::string& folder) {
    if (run.invocation.recursive)
        return true;
    const std::size_t inside = rowsBelow(run.session.state, folder).size();
    if (::isatty(STDIN_FILENO) != 1) {
        report(run.errors, escapeEntryName(folder) + ": " + clitext::FolderNeedsRecursive);
        return false;
    }
    const std::string question = clitext::deleteFolderQuestion(escapeEntryName(folder), inside);
    const CliResult<std::string> answer = readTerminalAnswer(question.c_str());
    return answer && (answer.value() == "y" || answer.value() == "Y");
}

} // namespace

bool refusedWithoutTree(CommandRun& run, const std::string& what) {
    if (contentsOf(run.session.state).keepsTree())
        return false;
    report(run.errors, escapeEntryName(what) + ": " + clitext::NoFoldersInPlainSafe);
    return true;
}

bool makeFolderPath(CommandRun& run, const std::string& path, const EntryStamp& stamp) {
    SafeState& state = run.session.state;
    SafeContents& contents = contentsOf(state);
    for (std::size_t slash = path.find('/');; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        const auto there = contents.entry(state, part);
        if (there && there->kind != ContentKind::Folder) {
            report(run.errors, escapeEntryName(part) + ": " + clitext::NotAFolderOfTheSafe);
            return false;
        }
        if (!there && !contents.makeFolder(state, part, stamp)) {
            reportFailure(run, part);
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

ExitCode runMkdir(CommandRun& run) {
    if (refusedWithoutTree(run, run.invocation.paths.front()))
        return ExitCode::Failed;
    for (const std::string& path : run.invocation.paths)
        if (!makeFolderPath(run, path, stampNow()))
            return ExitCode::Failed;
    return saveBack(run);
}

namespace {

namespace fs = std::filesystem;

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return name.empty() ? folder : folder + "/" + name;
}

// The name a folder given to add is kept under: its own, also when given as
// "." or with a slash at its end; none for the root.
std::string ownName(const std::string& given) {
    std::error_code failed;
    fs::path path = fs::absolute(given, failed).lexically_normal();
    if (path.filename().empty())
        path = path.parent_path();
    return path.filename().string();
}

EntryStamp stampOf(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return stampNow();
    return {status.st_mtim.tv_sec, static_cast<std::uint32_t>(status.st_mtim.tv_nsec),
            static_cast<std::uint16_t>(status.st_mode & 0700u)};
}

bool isFolder(const std::string& given) {
    std::error_code failed;
    return fs::is_directory(given, failed);
}

} // namespace

std::string treePathOf(const std::string& given, const std::string& path, const std::string& to) {
    if (!isFolder(given))
        return joinPath(to, fs::path(path).filename().string());
    const std::string relative = fs::path(path).lexically_relative(given).generic_string();
    return joinPath(joinPath(to, ownName(given)), relative);
}

bool listTreeFolders(const std::string& given, const std::string& to,
                     std::vector<TreeFolder>& folders) {
    if (!to.empty())
        folders.push_back({to, stampNow()});
    if (!isFolder(given))
        return true;
    const std::string top = joinPath(to, ownName(given));
    if (!top.empty())
        folders.push_back({top, stampOf(given)});
    std::error_code failed;
    std::vector<TreeFolder> below;
    // Links are not followed: a link to a folder is passed over, as by the walk of the files.
    for (fs::recursive_directory_iterator it(given, failed), end; !failed && it != end;
         it.increment(failed)) {
        std::error_code kind;
        if (it->is_directory(kind) && !it->is_symlink(kind))
            below.push_back(
                {joinPath(top, fs::path(it->path()).lexically_relative(given).generic_string()),
                 stampOf(it->path())});
    }
    // Parents first: the walk's order is the file system's.
    std::sort(below.begin(), below.end(),
              [](const TreeFolder& a, const TreeFolder& b) { return a.path < b.path; });
    folders.insert(folders.end(), below.begin(), below.end());
    return !failed;
}

bool makeTreeFolders(CommandRun& run, const std::vector<TreeFolder>& folders,
                     std::vector<TreeFolder>& made) {
    SafeState& state = run.session.state;
    for (const TreeFolder& folder : folders) {
        const bool there = contentsOf(state).entry(state, folder.path).has_value();
        if (!makeFolderPath(run, folder.path, folder.stamp))
            return false;
        if (!there)
            made.push_back(folder);
    }
    return true;
}

void keepTreeFolderTimes(CommandRun& run, const std::vector<TreeFolder>& made) {
    SafeState& state = run.session.state;
    for (const TreeFolder& folder : made)
        contentsOf(state).setStamp(state, folder.path, folder.stamp);
}

std::vector<int> rowsBelow(const SafeState& state, const std::string& folder) {
    std::vector<int> rows;
    for (std::size_t row = 0; row < state.entryDetails.size(); ++row)
        if (isAtOrBelow(state.entryDetails[row].name, folder))
            rows.push_back(static_cast<int>(row));
    return rows;
}

ExitCode runMove(CommandRun& run, const std::string& from) {
    SafeState& state = run.session.state;
    if (!contentsOf(state).moveEntry(state, from, run.invocation.newName, OnExisting::Refuse)) {
        report(run.errors, entries_text::vaultRenameRefused(contentsOf(state).lastError()));
        return ExitCode::Failed;
    }
    return saveBack(run);
}

bool foldersMayGo(CommandRun& run) {
    for (const std::string& folder : run.folders)
        if (!folderMayGo(run, folder))
            return false;
    return true;
}

bool removeFolders(CommandRun& run) {
    SafeState& state = run.session.state;
    for (const std::string& folder : run.folders) {
        // A folder given twice, or inside another one given, is gone already.
        if (!contentsOf(state).entry(state, folder))
            continue;
        if (contentsOf(state).removeEntry(state, folder, FolderRemoval::WithEverything) !=
            RemoveResult::Removed) {
            reportFailure(run, folder);
            return false;
        }
    }
    return true;
}

} // namespace quorvane
