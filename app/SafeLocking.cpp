#include "app/SafeLocking.h"

#include "app/MainWindow.h"
#include "app/WindowLayout.h"
#include "lifecycle/Lifecycle.h"
#include "lifecycle/LifecycleTexts.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMenuBar>
#include <QSocketNotifier>
#include <QToolBar>

#include <climits>
#include <filesystem>

namespace quorvane {

namespace {

constexpr int LockRetryMilliseconds = 250;

QString fileNameOf(const std::string& path) {
    return QFile::decodeName(std::filesystem::path(path).filename().c_str());
}

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

SafeLocking::SafeLocking(Parts parts, IdleTimer::Now now)
    : parts_(std::move(parts)), now_(std::move(now)) {
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, &SafeLocking::onWatch);
    parts_.folder.onRequest = [this] {
        // The folder's thread: the timer only reads an atomic.
        if (watch_)
            watch_->noteUse();
    };
    qApp->installEventFilter(this);
}

SafeLocking::~SafeLocking() {
    parts_.folder.onRequest = nullptr;
    qApp->removeEventFilter(this);
    // The list goes back into the window, which owns it again (and deletes
    // the locked view in its place).
    if (listPage_ != nullptr)
        parts_.window.setCentralWidget(listPage_);
    else
        delete view_.data(); // unless the window holds it, it has no owner
}

void SafeLocking::listen(const CloseSettings& settings) {
    settings_ = settings;
    delete notifier_;
    notifier_ = nullptr;
    watch_ = std::make_unique<CloseWatch>(settings, now_);
    watch_->logSources("quorvane");
    if (watch_->fd() >= 0) {
        notifier_ = new QSocketNotifier(watch_->fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &SafeLocking::onWatch);
    }
    followSession();
    arm();
}

void SafeLocking::arm() {
    const int wait = watch_ ? watch_->timeoutMilliseconds() : -1;
    if (wait < 0)
        idleTimer_.stop();
    else
        idleTimer_.start(wait);
}

void SafeLocking::onWatch() {
    const std::optional<CloseReason> reason = watch_->check();
    if (reason && !(reason == CloseReason::Idle && !isSafeOpen(parts_.session.state)))
        lock(*reason);
    else if (reason)
        watch_->noteUse(); // idle without a safe: nothing to close
    arm();
}

bool SafeLocking::eventFilter(QObject* watched, QEvent* event) {
    if (watch_ && isInput(event->type()) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == &parts_.window) {
        watch_->noteUse();
    }
    return QObject::eventFilter(watched, event);
}

void SafeLocking::followSession() {
    if (!watch_)
        return;
    if (isSafeOpen(parts_.session.state))
        watch_->session().holdSleepDelay();
    else
        watch_->session().releaseSleepDelay();
    // What the call to logind let in is looked at once the caller is done.
    QTimer::singleShot(0, this, &SafeLocking::onWatch);
}

void SafeLocking::lock(CloseReason reason) {
    QtShell& shell = parts_.shell;
    if (locking_ || parts_.window.hasEnded() || !isSafeOpen(parts_.session.state))
        return;
    // As a termination request does: the dialog that is open is answered
    // the way that keeps data, the operation behind it ends, a long step
    // finishes; then the safe closes.
    shell.setAnswering(QtShell::Answering::KeepData);
    if (parts_.closeOpenDialog() || shell.isBusy() || parts_.commandUnderWay()) {
        QTimer::singleShot(LockRetryMilliseconds, this, [this, reason] { lock(reason); });
        return;
    }
    locking_ = true;
    std::string held;
    const WriteResult closed = closeSafeForLock(held);
    shell.setAnswering(QtShell::Answering::User);
    locking_ = false;
    if (!closed.written()) {
        showSaveFailed(parts_.session, *closed.failure);
        return;
    }
    showLocked(reason, held);
}

WriteResult SafeLocking::closeSafeForLock(std::string& held) {
    Session& session = parts_.session;
    SafeState& state = session.state;
    std::string unstored;
    if (!parts_.folder.unmountWithin(settings_.grace, held, unstored))
        return writeFailed("could not be stored in the safe: " + unstored);
    if (!state.readOnly) {
        WriteResult written =
            writeSafeFile(session, lifecycle_text::Closing, AfterWrite::EndSession);
        if (!written.written())
            return written;
    }
    lockedSafe_ = state.safePath;
    discardWorkingCopy(state);
    std::fill(state.password.begin(), state.password.end(), '\0');
    state.password.clear();
    session.shell.list.showRows({});
    parts_.window.SetSafeButtonsEnabled(false);
    // Sleep may go on: the safe is written and its folder gone.
    watch_->session().releaseSleepDelay();
    return {};
}

void SafeLocking::showLocked(CloseReason reason, const std::string& held) {
    MainWindow& window = parts_.window;
    if (!view_) {
        view_ = new LockedView;
        connect(view_, &LockedView::unlockRequested, this, &SafeLocking::unlock);
    }
    QString note = QStringLiteral("Closed because ") + QString::fromUtf8(closeReasonText(reason)) +
                   QLatin1Char('.');
    if (!held.empty())
        note += QStringLiteral("\nClosed with files still open: ") + QString::fromUtf8(held);
    if (listPage_ == nullptr)
        listPage_ = window.takeCentralWidget();
    window.setCentralWidget(view_);
    view_->showFor(fileNameOf(lockedSafe_), note);
    window.menuBar()->setEnabled(false);
    if (window.toolbar() != nullptr)
        window.toolbar()->setEnabled(false);
    window.setWindowTitle(fileNameOf(lockedSafe_) + QString::fromUtf8(layout::LockedInTitle) +
                          QString::fromUtf8(layout::TitleSeparator) +
                          QString::fromUtf8(layout::WindowTitle));
    emit lockedChanged(true);
}

void SafeLocking::unlock(const QByteArray& password) {
    Session& session = parts_.session;
    SafeState& state = session.state;
    if (!isLocked() || isSafeOpen(state) || parts_.shell.isBusy())
        return;
    state.password.assign(
        password.constData(),
        std::min<std::size_t>(static_cast<std::size_t>(password.size()), PasswordLimit));
    state.safePath = lockedSafe_;
    openWorkingCopy(session, lockedSafe_, lifecycle_text::OpeningSafe,
                    lifecycle_text::CouldNotOpenFile);
    if (!isSafeOpen(state))
        return; // refused: the view stays, the reason was shown
    MainWindow& window = parts_.window;
    window.takeCentralWidget(); // the view, kept for the next lock
    window.setCentralWidget(listPage_);
    listPage_ = nullptr;
    window.menuBar()->setEnabled(true);
    if (window.toolbar() != nullptr)
        window.toolbar()->setEnabled(true);
    lockedSafe_.clear();
    window.SetSafeButtonsEnabled(true); // and the title names the safe again
    watch_->noteUse();
    followSession();
    arm();
    emit lockedChanged(false);
}

} // namespace quorvane
