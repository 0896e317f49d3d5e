#pragma once

// The window's side of closing a safe that is left unattended: the watch's
// descriptor in the event loop (a QSocketNotifier, a timer for idleness),
// input in the window counted as use, File > Lock, and the close itself:
// the folder unmounted (open files waited for the grace time), the safe
// written, key and working copy dropped, and the locked view shown in place
// of the list, from which the same safe opens again.

#include "app/LockedView.h"
#include "app/OpenFolder.h"
#include "app/QtShell.h"
#include "lifecycle/Session.h"
#include "lifecycle/WriteResult.h"
#include "watch/CloseWatch.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace quorvane {

class MainWindow;

class SafeLocking : public QObject {
    Q_OBJECT

  public:
    struct Parts {
        Session& session;
        QtShell& shell;
        MainWindow& window;
        OpenFolder& folder;
        // Closes an open dialog or menu with the answer that keeps data;
        // true when there was one (the close then waits for its operation).
        std::function<bool()> closeOpenDialog;
        // True while a command of the window is under way.
        std::function<bool()> commandUnderWay;
    };

    explicit SafeLocking(Parts parts, IdleTimer::Now now = IdleTimer::Clock::now);
    ~SafeLocking() override;

    // Listens as the settings say (again, after Preferences changed them).
    void listen(const CloseSettings& settings);
    const CloseSettings& settings() const { return settings_; }
    CloseWatch& watch() { return *watch_; }

    // Closes the open safe for this reason, once no dialog and no long step
    // is in the way; nothing without an open safe. A failed write keeps the
    // safe open, says so, and the next event tries again.
    void lock(CloseReason reason);
    bool isLocked() const { return !lockedSafe_.empty(); }
    LockedView* lockedView() const { return view_; }

    // After every command and open: holds the sleep delay while a safe is open.
    void followSession();

  signals:
    void lockedChanged(bool locked);

  private:
    void onWatch();
    void arm();
    WriteResult closeSafeForLock(std::string& held);
    void showLocked(CloseReason reason, const std::string& held);
    void unlock(const QByteArray& password);
    bool eventFilter(QObject* watched, QEvent* event) override;

    Parts parts_;
    IdleTimer::Now now_;
    CloseSettings settings_;
    std::unique_ptr<CloseWatch> watch_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer idleTimer_;
    QPointer<LockedView> view_;
    QWidget* listPage_ = nullptr;
    std::string lockedSafe_; // the path of the locked safe, empty when none is
    bool locking_ = false;
};

} // namespace quorvane
