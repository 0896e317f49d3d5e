#include "dialogs/BusyDialog.h"
#include "dialogs/Dialogs.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QScreen>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <memory>

namespace quorvane::dialogs {

struct BusyBox::Impl {
    std::unique_ptr<BusyDialog> box;
    bool busy = false;
    QFuture<void> step;
};

namespace {

// At a third of the screen's width and height, as the box has always stood.
void placeOnScreen(QWidget& box) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        box.move(area.x() + area.width() / 3, area.y() + area.height() / 3);
    }
}

// Clears the busy flag however run() leaves.
class BusyScope {
  public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    bool& busy_;
};

} // namespace

BusyBox::BusyBox() : impl_(new Impl) {}

BusyBox::~BusyBox() {
    delete impl_;
}

// One box at a time: a new show replaces whatever an earlier one left.
void BusyBox::show(const std::string& text) {
    hide();
    impl_->box = std::make_unique<BusyDialog>(QString::fromStdString(text));
    placeOnScreen(*impl_->box);
    impl_->box->show();
}

// Deleted at once rather than later, so that no box of this call is left
// standing when an error box follows.
void BusyBox::hide() {
    if (impl_->box) {
        impl_->box->hide();
        impl_->box.reset();
    }
}

// The step runs on a worker thread while this thread turns a local event
// loop, so the bar moves and the windows repaint however long it takes. The
// step's exception is carried over by hand: the future would only rethrow
// it as QUnhandledException.
void BusyBox::run(const std::function<void()>& step) {
    const BusyScope scope(impl_->busy);
    std::exception_ptr failure;
    QFuture<void> future = QtConcurrent::run([&step, &failure] {
        try {
            step();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    impl_->step = future;
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    future.waitForFinished();
    if (failure)
        std::rethrow_exception(failure);
}

bool BusyBox::isBusy() const {
    return impl_->busy;
}

void BusyBox::waitForStep() {
    if (impl_->busy)
        impl_->step.waitForFinished();
}

bool BusyBox::isShown() const {
    return impl_->box && impl_->box->isVisible();
}

} // namespace quorvane::dialogs
