#include "entries/AddSteps.h"
#include "entries/Entries.h"
#include "entries/FolderSources.h"
#include "entries/Messages.h"
#include "lifecycle/Lifecycle.h"
#include "storage/files/FileRoutines.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_set>

namespace quorvane {

namespace text = entries_text;

void addFile(Session& session) {
    Shell& shell = session.shell;
    std::string path;
    if (!shell.pickers.pickFileToAdd(path))
        return;
    // The erase question comes first and is asked even without an open safe.
    const bool eraseWanted =
        shell.talk.askYesNo(text::EraseOriginalQuestion, text::CaptionDeleteOriginal);
    if (!isSafeOpen(session.state)) {
        shell.talk.showMessage(text::UnableToOpenFile, text::CaptionUnknownError,
                               MessageIcon::Error);
        return;
    }
    if (refuseIfReadOnly(session))
        return;
    SourceFile source;
    if (!measureSource(session, path, source))
        return;
    if (!storeSource(session, source, text::AddingFile))
        return;
    // A failed save keeps the original; the file itself is stored all the
    // same, and it reaches the safe file with the next save that works.
    if (eraseWanted && shell.talk.askYesNo(text::AreYouSure, text::CaptionDeleteOriginal) &&
        saveBeforeErasing(session))
        eraseOriginal(session, source);
    shell.talk.showMessage(text::WrittenSuccessfully, text::CaptionSuccess,
                           MessageIcon::Information);
}

namespace {

bool anyFolder(const std::vector<std::string>& paths) {
    return std::any_of(paths.begin(), paths.end(), [](const std::string& path) {
        std::error_code failed;
        return std::filesystem::is_directory(path, failed);
    });
}

// The files a drop stands for, with their sizes in all. Going through big
// folders takes a while, so it runs under the busy box then.
SourceList listDrop(Shell& shell, const std::vector<std::string>& paths, std::uint64_t& bytes) {
    SourceList sources;
    const auto list = [&] {
        sources = expandSources(paths);
        bytes = 0;
        for (const std::string& file : sources.files)
            bytes += fileSize(file);
    };
    if (!anyFolder(paths)) {
        list();
        return sources;
    }
    shell.busy.ShowProgress(text::LookingAtDrop);
    shell.busy.runBusy(list);
    shell.busy.HideProgress();
    return sources;
}

// Keeps count of the names the safe stores other than the files had them:
// cut to fit, or the same as another entry's.
class StoredNames {
  public:
    explicit StoredNames(const SafeState& state) {
        for (const EntryDetail& entry : state.entryDetails)
            taken_.insert(entry.name);
    }

    void noteLastAdded(const SafeState& state, const std::string& path, const std::string& wanted) {
        if (state.entryDetails.empty())
            return;
        const std::string& stored = state.entryDetails.back().name;
        if (stored != (wanted.empty() ? storedNameOf(path) : wanted))
            cut_.push_back({path, stored});
        if (!taken_.insert(stored).second)
            doubled_.push_back({path, stored});
    }

    void report(Shell& shell) const {
        if (!cut_.empty() || !doubled_.empty())
            shell.talk.showMessage(text::storedNamesReport(cut_, doubled_),
                                   text::CaptionStoredNames, MessageIcon::Information);
    }

  private:
    std::unordered_set<std::string> taken_;
    std::vector<text::StoredName> cut_;
    std::vector<text::StoredName> doubled_;
};

// Where the safe keeps folders, a file from a dropped folder is stored under
// the folder's own name and its path below it ("Album/2024/a.jpg" for
// ".../Album/2024/a.jpg" when "Album" was dropped), inside the folders that
// path names; every folder of the drop is kept, an empty one too. Elsewhere:
// its own name, and no folders.
struct TreePlan {
    std::vector<std::string> paths; // per file: its path in the safe, "" for its own name
    std::map<std::string, std::string> folders; // path in the safe -> the folder it comes from
};

// The path in the safe of a file or folder of the drop: "" when it is none
// of the dropped folders or below one.
std::string pathInDrop(const std::vector<std::string>& dropped, const std::string& source) {
    for (const std::string& top : dropped) {
        if (source != top && source.rfind(top + "/", 0) != 0)
            continue;
        const std::string parent = std::filesystem::path(top).parent_path().string();
        return source.substr(parent.empty() ? 0 : parent.size() + 1);
    }
    return "";
}

TreePlan planTree(Session& session, const std::vector<std::string>& dropped,
                  const SourceList& sources) {
    TreePlan plan;
    plan.paths.resize(sources.files.size());
    if (!isSafeOpen(session.state) || !contentsOf(session.state).keepsTree())
        return plan;
    for (const std::string& folder : sources.folders)
        if (const std::string path = pathInDrop(dropped, folder); !path.empty())
            plan.folders.emplace(path, folder);
    for (std::size_t i = 0; i < sources.files.size(); ++i) {
        plan.paths[i] = pathInDrop(dropped, sources.files[i]);
        for (std::string folder = folderOfPath(plan.paths[i]); !folder.empty();
             folder = folderOfPath(folder))
            plan.folders.emplace(folder, "");
    }
    return plan;
}

// The paths a drop would store that the safe holds already (or that the drop
// names twice): a safe that keeps folders keeps one entry per path, so the
// drop is refused whole rather than stopped at the first of them. A folder
// that is there already is used as it is, unless it is a file.
std::vector<std::string> pathsTaken(Session& session, const TreePlan& plan,
                                    const std::vector<std::string>& files) {
    std::vector<std::string> taken;
    if (!isSafeOpen(session.state) || !contentsOf(session.state).keepsTree())
        return taken;
    const SafeContents& contents = contentsOf(session.state);
    for (const auto& [folder, source] : plan.folders)
        if (const auto entry = contents.entry(session.state, folder);
            entry && entry->kind != ContentKind::Folder)
            taken.push_back(folder);
    std::set<std::string> named;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string path = plan.paths[i].empty() ? storedNameOf(files[i]) : plan.paths[i];
        if (contents.entry(session.state, path) || !named.insert(path).second)
            taken.push_back(path);
    }
    return taken;
}

using MadeFolders = std::map<std::string, EntryStamp>;

// In path order a folder comes before what it holds; one that is there
// already is used as it is, and its time moves as files come into it.
MadeFolders makeFolders(Session& session, const TreePlan& plan) {
    SafeState& state = session.state;
    MadeFolders made;
    for (const auto& [folder, source] : plan.folders) {
        const EntryStamp stamp = stampOfSource(source);
        if (!contentsOf(state).entry(state, folder) &&
            contentsOf(state).makeFolder(state, folder, stamp))
            made.emplace(folder, stamp);
    }
    // A folder made inside moved its parent's time.
    for (const auto& [folder, stamp] : made)
        contentsOf(state).setStamp(state, folder, stamp);
    return made;
}

// A folder made for the drop keeps its original's time as its files come
// in (each one that came moved it), as cp -p does; at once, so that the
// safe written before an original is erased holds it too.
void keepFolderTime(Session& session, const MadeFolders& made, const std::string& stored) {
    if (const auto folder = made.find(folderOfPath(stored)); folder != made.end())
        contentsOf(session.state).setStamp(session.state, folder->first, folder->second);
}

// Ends the indicator over the files of a drop however the drop ends.
class AddBatch {
  public:
    AddBatch(Shell& shell, std::uint64_t count, std::uint64_t bytes) : shell_(shell) {
        shell_.busy.startAddBatch(count, bytes);
    }
    ~AddBatch() { shell_.busy.endAddBatch(); }
    AddBatch(const AddBatch&) = delete;
    AddBatch& operator=(const AddBatch&) = delete;

  private:
    Shell& shell_;
};

} // namespace

void addDroppedFiles(Session& session, const std::vector<std::string>& paths) {
    Shell& shell = session.shell;
    // Said once, before the questions about erasing: none of the files can go in.
    if (refuseIfReadOnly(session))
        return;
    // A dropped folder stands for the files in it and below. They are counted
    // first, so that the question about erasing says how many would go.
    std::uint64_t bytes = 0;
    const SourceList sources = listDrop(shell, paths, bytes);
    if (!sources.unlistedFolder.empty()) {
        shell.talk.showMessage(text::folderNotListed(sources.unlistedFolder, sources.unlistedWhy),
                               text::CaptionError, MessageIcon::Error);
        return;
    }
    const std::vector<std::string>& files = sources.files;
    const TreePlan plan = planTree(session, paths, sources);
    if (const std::vector<std::string> taken = pathsTaken(session, plan, files); !taken.empty()) {
        shell.talk.showMessage(text::pathsTakenReport(taken), text::CaptionNotAdded,
                               MessageIcon::Error);
        return;
    }
    // Both questions come before any file is stored; only two Yes erase.
    bool eraseWanted = shell.talk.askYesNo(text::eraseOriginalsQuestion(files.size(), bytes),
                                           text::CaptionDeleteOriginal);
    if (eraseWanted)
        eraseWanted = shell.talk.askYesNo(text::AreYouSure, text::CaptionDeleteOriginal);
    // What the folders hold that cannot be stored is listed once, before the
    // first file goes in.
    if (!sources.passedOver.empty())
        shell.talk.showMessage(text::passedOverReport(sources.passedOver), text::CaptionNotAdded,
                               MessageIcon::Information);
    const int count = static_cast<int>(files.size());
    // A drop is added whole or not at all, as the tool adds: every file is
    // measured before the first goes in, and one that cannot be stored ends
    // the drop with nothing added.
    std::vector<SourceFile> measured(files.size());
    for (std::size_t i = 0; isSafeOpen(session.state) && i < files.size(); ++i)
        if (!measureSource(session, files[i], measured[i], text::NothingOfTheDropAdded))
            return;
    StoredNames names(session.state);
    const MadeFolders made = isSafeOpen(session.state) ? makeFolders(session, plan) : MadeFolders();
    const std::vector<std::string>& storedPaths = plan.paths;
    {
        const AddBatch batch(shell, files.size(), bytes);
        for (int i = 0; i < count; ++i) {
            if (!isSafeOpen(session.state)) {
                shell.talk.showMessage(text::SafeNotOpen, text::CaptionError, MessageIcon::Error);
                continue;
            }
            const SourceFile& source = measured[static_cast<std::size_t>(i)];
            shell.busy.startAddBatchFile(static_cast<std::uint64_t>(i) + 1, source.size);
            if (!storeSource(session, source, text::addingFileOf(i + 1, count),
                             storedPaths[static_cast<std::size_t>(i)]))
                return;
            names.noteLastAdded(session.state, source.path,
                                storedPaths[static_cast<std::size_t>(i)]);
            keepFolderTime(session, made, storedPaths[static_cast<std::size_t>(i)]);
            // One save per erased file: a file is destroyed only once the safe
            // file holds it, and a failed save ends the drop before anything more
            // is stored that the user would expect to be erased.
            if (!eraseWanted)
                continue;
            if (!saveBeforeErasing(session))
                return;
            eraseOriginal(session, source);
        }
    }
    names.report(shell);
    if (isSafeOpen(session.state) && !contentsOf(session.state).keepsTree() && anyFolder(paths))
        shell.talk.showMessage(text::FoldersLeftOut, text::CaptionNotAdded,
                               MessageIcon::Information);
}

} // namespace quorvane
