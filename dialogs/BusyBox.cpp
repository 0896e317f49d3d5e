#include "dialogs/BusyDialog.h"
#include "dialogs/Dialogs.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <exception>
#include <memory>

namespace quorvane::dialogs {

struct BusyBox::Impl {
    std::unique_ptr<BusyDialog> box;
    bool busy = false;
    QFuture<void> step;
    std::function<std::string()> detail;
    std::chrono::steady_clock::time_point lastPaint{};

    void showDetail() const {
        if (box && detail)
            box->setDetail(QString::fromStdString(detail()));
    }
};

namespace {

// Often enough for figures that move, seldom enough to cost nothing.
constexpr int DetailMilliseconds = 200;
// A count, not a duration: a static duration's constructor counts as one
// that may throw.
std::chrono::milliseconds::rep paintMilliseconds = 50;

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
    impl_->showDetail();
    // A child of the box: it goes with it.
    auto* refresh = new QTimer(impl_->box.get());
    QObject::connect(refresh, &QTimer::timeout, refresh, [impl = impl_] { impl->showDetail(); });
    refresh->start(DetailMilliseconds);
    impl_->box->show();
}

void BusyBox::setText(const std::string& text) {
    if (impl_->box)
        impl_->box->setText(QString::fromStdString(text));
}

void BusyBox::setDetailSource(std::function<std::string()> detail) {
    impl_->detail = std::move(detail);
    if (impl_->detail)
        impl_->showDetail();
    else if (impl_->box)
        impl_->box->setDetail(QString());
}

void BusyBox::setPaintInterval(std::chrono::milliseconds interval) {
    paintMilliseconds = interval.count();
}

void BusyBox::paintIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now - impl_->lastPaint < std::chrono::milliseconds(paintMilliseconds))
        return;
    impl_->showDetail();
    const bool wasBusy = impl_->busy;
    impl_->busy = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    impl_->busy = wasBusy;
    impl_->lastPaint = std::chrono::steady_clock::now();
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
