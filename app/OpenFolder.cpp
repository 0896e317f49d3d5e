#include "app/OpenFolder.h"

#include "app/FolderTexts.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"
#include "mount/DeadMounts.h"
#include "storage/files/AtomicReplace.h"
#include "watch/FolderHolders.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

// How long one wait for the folder's open files lasts before the question
// comes again.
constexpr auto WaitForClose = std::chrono::seconds(10);
// The kernel tells the folder that a file was closed a moment after close()
// returned to its program: no question for a file closed just now.
constexpr auto ClosingGrace = std::chrono::milliseconds(1000);
constexpr int PollMilliseconds = 100;

QUrl urlOf(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
}

bool isEmptyFolder(const std::filesystem::path& path) {
    std::error_code failed;
    return std::filesystem::is_directory(path, failed) && std::filesystem::is_empty(path, failed) &&
           !failed;
}

// Mounts folder on dir; why not, with the parent's errno when no mount point
// could be made.
std::optional<Failure> mountOn(MountedFolder& folder, const std::filesystem::path& dir,
                               int parentError) {
    if (dir.empty()) {
        const int error = parentError != 0 ? parentError : EACCES;
        return Failure{error, std::strerror(error)};
    }
    return folder.mount(dir);
}

} // namespace

OpenFolder::OpenFolder(Session& session, SessionLock& lock)
    : session_(session), lock_(lock), quietSession_{session.state, quiet_} {
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

OpenFolder::~OpenFolder() {
    stopServing(true);
}

// $XDG_RUNTIME_DIR/quorvane/<safe name>; "<safe name> (2)" and so on when
// that is taken by another safe of the same name.
std::filesystem::path OpenFolder::freeMountPoint(const std::filesystem::path& parent) const {
    std::string name = std::filesystem::path(session_.state.safePath).stem().string();
    if (name.empty() || name.size() > 200)
        name = "safe";
    for (int number = 1; number < 100; ++number) {
        std::filesystem::path candidate =
            parent / (number == 1 ? name : name + " (" + std::to_string(number) + ")");
        if (::mkdir(candidate.c_str(), 0700) == 0 || isEmptyFolder(candidate))
            return candidate;
    }
    return {};
}

bool OpenFolder::mount() {
    if (mounted())
        return true;
    stopServing(true); // an earlier folder unmounted from outside
    SafeState& state = session_.state;
    // What is done in the folder is kept by writing the safe anew beside it:
    // where its folder takes no new file that work could not be kept, so the
    // folder is refused before anything is mounted (a read-only session's
    // folder is read-only and writes nothing).
    if (!state.readOnly) {
        if (const std::optional<Failure> unwritable = cannotReplaceFileAt(state.safePath)) {
            session_.shell.talk.showMessage(withReason(folder_text::NotMounted, unwritable->detail),
                                            folder_text::Caption, MessageIcon::Error);
            return false;
        }
    }
    int parentError = 0;
    const auto parent = madeWindowMountParent(parentError);
    dir_ = parent ? freeMountPoint(*parent) : std::filesystem::path();
    MountSettings settings;
    settings.readOnly = state.readOnly;
    folder_ =
        std::make_unique<MountedFolder>(state, lock_, settings, [this]() -> std::optional<Failure> {
            return writeSafeFile(quietSession_, lifecycle_text::Saving).failure;
        });
    folder_->onRequest = [this] {
        if (onRequest)
            onRequest();
    };
    folder_->onChange = [this] {
        QMetaObject::invokeMethod(
            this, [this] { emit entriesChanged(); }, Qt::QueuedConnection);
    };
    folder_->onSaveFailed = [this](const std::string& reason) {
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                session_.shell.talk.showMessage(withReason(folder_text::TimedSaveFailed, reason),
                                                folder_text::Caption, MessageIcon::Error);
            },
            Qt::QueuedConnection);
    };
    folder_->onStoreFailed = [this](const std::string& name, const std::string& reason) {
        QMetaObject::invokeMethod(
            this,
            [this, name, reason] {
                session_.shell.talk.showMessage(withReason(folder_text::notStored(name), reason),
                                                folder_text::Caption, MessageIcon::Error);
            },
            Qt::QueuedConnection);
    };
    folder_->onSafeChanged = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                session_.shell.talk.showMessage(lifecycle_text::SafeChangedInPlace,
                                                folder_text::Caption, MessageIcon::Error);
            },
            Qt::QueuedConnection);
    };
    if (const std::optional<Failure> failed = mountOn(*folder_, dir_, parentError)) {
        folder_.reset();
        if (!dir_.empty())
            ::rmdir(dir_.c_str());
        session_.shell.talk.showMessage(withReason(folder_text::NotMounted, failed->detail),
                                        folder_text::Caption, MessageIcon::Error);
        return false;
    }
    ended_ = false;
    server_ = std::thread([this] {
        folder_->serve();
        ended_ = true;
        // Unmounted from outside, perhaps: the window should know.
        QMetaObject::invokeMethod(
            this, [this] { emit mountChanged(); }, Qt::QueuedConnection);
    });
    emit mountChanged();
    return true;
}

void OpenFolder::showFolder() {
    if (!isSafeOpen(session_.state) || !mount())
        return;
    if (!openUrl(urlOf(dir_)))
        session_.shell.talk.showMessage(folder_text::openAt(dir_.string()), folder_text::Caption,
                                        MessageIcon::Information);
}

void OpenFolder::openRow(int row) {
    const SafeState& state = session_.state;
    if (!isSafeOpen(state) || row < 0 || static_cast<std::size_t>(row) >= state.entryDetails.size())
        return;
    if (!mount())
        return;
    // The folder's own name for that entry: after a save through the folder
    // it need not be the one its place in the list would give.
    const auto name = folder_->shownNameOf(static_cast<std::size_t>(row));
    if (!name) {
        session_.shell.talk.showMessage(folder_text::NameNotShown, folder_text::Caption,
                                        MessageIcon::Error);
        return;
    }
    if (!openUrl(urlOf(dir_ / *name)))
        session_.shell.talk.showMessage(folder_text::noProgramFor((dir_ / *name).string()),
                                        folder_text::Caption, MessageIcon::Error);
}

std::vector<std::filesystem::path> OpenFolder::filesOfRows(const std::vector<int>& rows) {
    std::vector<std::filesystem::path> files;
    if (!isSafeOpen(session_.state) || rows.empty() || !mount())
        return files;
    for (int row : rows) {
        if (row < 0 || static_cast<std::size_t>(row) >= session_.state.entryDetails.size())
            continue;
        if (const auto name = folder_->shownNameOf(static_cast<std::size_t>(row)))
            files.push_back(dir_ / *name);
    }
    if (files.empty())
        session_.shell.talk.showMessage(folder_text::NameNotShown, folder_text::Caption,
                                        MessageIcon::Error);
    return files;
}

void OpenFolder::entriesChangedOutside() {
    if (folder_ != nullptr)
        folder_->entriesChangedOutside();
}

// Waits with the window alive, so that it repaints and its timers run,
// until no file of the folder is open or the time is up.
void OpenFolder::waitForOpenFiles(std::chrono::milliseconds longest) {
    const auto until = std::chrono::steady_clock::now() + longest;
    while (!ended_ && folder_->openFiles() != 0 && std::chrono::steady_clock::now() < until) {
        QEventLoop pause;
        QTimer::singleShot(PollMilliseconds, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

void OpenFolder::unmount() {
    if (folder_ == nullptr)
        return;
    waitForOpenFiles(ClosingGrace);
    bool force = false;
    while (!ended_ && folder_->openFiles() != 0) {
        if (!session_.shell.talk.askYesNo(folder_text::StillOpen, folder_text::Caption)) {
            force = true;
            break;
        }
        waitForOpenFiles(WaitForClose);
    }
    stopServing(force, true);
}

bool OpenFolder::unmountWithin(std::chrono::milliseconds grace, std::string& held,
                               std::string& unstored) {
    if (folder_ == nullptr)
        return true;
    waitForOpenFiles(grace);
    {
        // A closed file that could not be stored would go with the folder.
        std::lock_guard hold(lock_);
        for (const std::string& name : folder_->unstoredFiles())
            unstored += (unstored.empty() ? "" : ", ") + name;
    }
    if (!unstored.empty())
        return false;
    if (!ended_ && folder_->openFiles() != 0)
        held = describeHeldFiles(filesHeldUnder(dir_));
    stopServing(true);
    return true;
}

// A file closed in the folder that still could not be stored (a full disk)
// is not dropped with the folder unless the user says so twice.
void OpenFolder::keepUnstoredFiles() {
    for (;;) {
        const auto failures = folder_->storeRemaining();
        if (failures.empty())
            return;
        std::string names;
        for (const auto& [name, error] : failures)
            names += (names.empty() ? "" : ", ") + name;
        const std::string reason = std::strerror(failures.front().second);
        if (nobodyAnswers && nobodyAnswers()) {
            // One try was made just now; asking again would loop for ever.
            session_.shell.talk.showMessage(withReason(folder_text::givenUpAtEnd(names), reason),
                                            folder_text::Caption, MessageIcon::Error);
            return;
        }
        if (session_.shell.talk.askYesNo(withReason(folder_text::tryAgainToStore(names), reason),
                                         folder_text::Caption))
            continue;
        if (session_.shell.talk.askYesNo(folder_text::reallyGiveUp(names), folder_text::Caption))
            return;
    }
}

void OpenFolder::stopServing(bool force, bool mayAsk) {
    if (folder_ == nullptr)
        return;
    folder_->stop(force);
    if (server_.joinable())
        server_.join();
    if (mayAsk)
        keepUnstoredFiles();
    folder_.reset();
    if (!dir_.empty())
        ::rmdir(dir_.c_str());
    dir_.clear();
    ended_ = false;
    emit mountChanged();
}

} // namespace quorvane
