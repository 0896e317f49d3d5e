// The "Please Wait" box and the running of a long step beside it.

#include "tests/support/qt/QtPrinting.h"

#include "dialogs/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace quorvane::dialogs {
namespace {

// The busy boxes that exist as windows, shown or not.
QList<QDialog*> busyBoxes() {
    QList<QDialog*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "busyDialog")
            found.push_back(qobject_cast<QDialog*>(widget));
    return found;
}

int visibleBusyBoxes() {
    int count = 0;
    for (QDialog* box : busyBoxes())
        count += box->isVisible() ? 1 : 0;
    return count;
}

TEST(BusyBox, ShowsThePleaseWaitBoxAndReturnsAtOnce) {
    BusyBox busy;
    busy.show("Opening Safe Please Wait...");
    ASSERT_EQ(busyBoxes().size(), 1);
    QDialog* box = busyBoxes().front();
    EXPECT_TRUE(busy.isShown());
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowTitle(), "Please Wait");
    auto* text = box->findChild<QLabel*>("busyText");
    auto* detail = box->findChild<QLabel*>("busyDetail");
    auto* bar = box->findChild<QProgressBar*>("busyBar");
    ASSERT_TRUE(text && detail && bar);
    EXPECT_EQ(text->text(), "Opening Safe Please Wait...");
    EXPECT_TRUE(text->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(detail->text(), "");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 0) << "an endless bar, no amount";
    EXPECT_FALSE(bar->isTextVisible());
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    const Qt::WindowFlags flags = box->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint) << "no close box";
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(box->pos(),
              QPoint(screen.x() + screen.width() / 3, screen.y() + screen.height() / 3));
    busy.hide();
    EXPECT_FALSE(busy.isShown());
    EXPECT_TRUE(busyBoxes().isEmpty());
}

TEST(BusyBox, EscAndCloseRequestsLeaveItStanding) {
    BusyBox busy;
    busy.show("Closing Safe...");
    ASSERT_EQ(busyBoxes().size(), 1);
    QDialog* box = busyBoxes().front();
    QTest::keyClick(box, Qt::Key_Escape);
    box->close();
    box->reject();
    QCoreApplication::processEvents();
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(busy.isShown());
    busy.hide();
    EXPECT_EQ(visibleBusyBoxes(), 0);
}

TEST(BusyBox, BackToBackBoxesLeaveExactlyOne) {
    BusyBox busy;
    busy.show("Removing File...");
    busy.hide(); // at once
    QCoreApplication::processEvents();
    EXPECT_TRUE(busyBoxes().isEmpty());
    busy.hide(); // a second hide does nothing
    EXPECT_TRUE(busyBoxes().isEmpty());
    for (int file = 1; file <= 3; ++file) {
        busy.show("Adding File " + std::to_string(file) + " of 3...");
        QCoreApplication::processEvents();
        ASSERT_EQ(busyBoxes().size(), 1);
        EXPECT_EQ(busyBoxes().front()->findChild<QLabel*>("busyText")->text(),
                  QString("Adding File %1 of 3...").arg(file));
        busy.hide();
        EXPECT_TRUE(busyBoxes().isEmpty());
    }
    busy.show("Adding File...");
    busy.show("Removing Original File..."); // without a hide between
    EXPECT_EQ(busyBoxes().size(), 1);
    EXPECT_EQ(visibleBusyBoxes(), 1);
    busy.hide();
    EXPECT_TRUE(busyBoxes().isEmpty());
}

TEST(BusyBox, TheEventLoopTurnsAndTheBoxStaysUpWhileTheStepRuns) {
    BusyBox busy;
    busy.show("Securely Closing Safe...");
    int ticks = 0;
    int ticksWithBoxUp = 0;
    int ticksWhileBusy = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        ticksWithBoxUp += visibleBusyBoxes() == 1 ? 1 : 0;
        ticksWhileBusy += busy.isBusy() ? 1 : 0;
    });
    timer.start();
    EXPECT_FALSE(busy.isBusy());
    std::thread::id stepThread;
    bool stepRan = false;
    busy.run([&] {
        stepThread = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stepRan = true;
    });
    timer.stop();
    EXPECT_TRUE(stepRan) << "run returns only after the step has ended";
    EXPECT_NE(stepThread, std::this_thread::get_id()) << "the step runs on a worker thread";
    EXPECT_GT(ticks, 0) << "timers ran while the step was working";
    EXPECT_EQ(ticksWithBoxUp, ticks);
    EXPECT_EQ(ticksWhileBusy, ticks);
    EXPECT_FALSE(busy.isBusy());
    EXPECT_TRUE(busy.isShown()) << "run leaves the box to hide()";
    busy.hide();
    EXPECT_TRUE(busyBoxes().isEmpty());
}

// Steps that end at once, with no box shown: none hangs, none shows a box.
TEST(BusyBox, StepsThatEndAtOnceRunWithoutABox) {
    BusyBox busy;
    int runs = 0;
    for (int i = 0; i < 50; ++i)
        busy.run([&] { ++runs; });
    EXPECT_EQ(runs, 50);
    EXPECT_FALSE(busy.isBusy());
    EXPECT_FALSE(busy.isShown());
    EXPECT_TRUE(busyBoxes().isEmpty());
}

TEST(BusyBox, TheStepsExceptionReachesTheCaller) {
    BusyBox busy;
    busy.show("Extracting File 1 of 1...");
    try {
        busy.run([] { throw std::runtime_error("disk full"); });
        ADD_FAILURE() << "no exception came through";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "disk full");
    }
    EXPECT_FALSE(busy.isBusy());
    EXPECT_THROW(busy.run([] { throw 42; }), int);
    EXPECT_FALSE(busy.isBusy());
    // The error box comes after hide(): nothing of the busy box stays above it.
    busy.hide();
    EXPECT_TRUE(busyBoxes().isEmpty());
}

TEST(BusyBox, DestroyingItTakesItsBoxAlong) {
    {
        BusyBox busy;
        busy.show("Closing Safe...");
        EXPECT_EQ(busyBoxes().size(), 1);
    }
    EXPECT_TRUE(busyBoxes().isEmpty());
}

} // namespace
} // namespace quorvane::dialogs
