#pragma once

// The window's side of the open safe as a folder: mounted on Open as Folder
// under the per-user runtime folder, served by a thread of its own that takes
// the session's lock for each request, and unmounted before the safe ends.

#include "lifecycle/Session.h"
#include "mount/MountedFolder.h"
#include "mount/QuietShell.h"

#include <QObject>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace quorvane {

class OpenFolder : public QObject {
    Q_OBJECT

  public:
    OpenFolder(Session& session, SessionLock& lock);
    ~OpenFolder() override; // unmounts at once
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    bool mounted() const { return folder_ != nullptr && !ended_; }
    const std::filesystem::path& dir() const { return dir_; }

    // Open as Folder: mounts the open safe, unless it is already, and shows
    // the folder in the desktop's file manager. Called under the lock.
    void showFolder();
    // The stored file of the row, through the folder, in the application
    // the desktop opens its kind of file with. Called under the lock.
    void openRow(int row);
    // The stored files of the rows as files of the folder, mounting it first,
    // for a drag out of the window: a file manager copies them from there,
    // so nothing is extracted to a temporary file. Rows whose name the
    // folder cannot show are left out. Called under the lock.
    std::vector<std::filesystem::path> filesOfRows(const std::vector<int>& rows);
    // After a command of the window that may have changed the entries: the
    // kernel's view of the folder is dropped.
    void entriesChangedOutside();
    // Before the safe ends (close, switching safes), without the lock:
    // unmounts. While a file of the folder is still open, asks whether to
    // wait for it or to close the folder anyway.
    void unmount();
    // The same without asking or waiting: for a program ending without its
    // display, where nobody can be asked.
    void unmountNow() { stopServing(true); }
    // For a safe that closes by itself (screen lock, sleep, idleness): waits
    // up to grace for the folder's open files, then unmounts anyway; held
    // names the files and programs that still had some open. False, and the
    // folder kept, while a closed file could not be stored (named in unstored).
    bool unmountWithin(std::chrono::milliseconds grace, std::string& held, std::string& unstored);

    // Called on the folder's thread at each request: the safe is in use.
    std::function<void()> onRequest;

    // True while nobody is there to answer (the program is asked to end): the
    // boxes then answer by themselves, and a question asked again after
    // every answer would never end.
    std::function<bool()> nobodyAnswers;

    // How a folder or file is handed to the desktop (tests record instead).
    std::function<bool(const QUrl&)> openUrl;

  signals:
    // The folder changed the entries: the list should follow.
    void entriesChanged();
    // The folder was mounted or went away (closed here, or unmounted from
    // outside): mounted() and dir() tell which.
    void mountChanged();

  private:
    bool mount();
    void stopServing(bool force, bool mayAsk = false);
    void keepUnstoredFiles();
    void waitForOpenFiles(std::chrono::milliseconds longest);
    std::filesystem::path freeMountPoint(const std::filesystem::path& parent) const;

    Session& session_;
    SessionLock& lock_;
    QuietShell quiet_;
    Session quietSession_;
    std::unique_ptr<MountedFolder> folder_;
    std::thread server_;
    std::atomic<bool> ended_{false};
    std::filesystem::path dir_;
};

} // namespace quorvane
