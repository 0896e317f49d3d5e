#pragma once

#include <QApplication>

#include <exception>

namespace quorvane {

// The program's QApplication. An exception cannot travel through Qt's event
// loop, so one thrown by an event handler (an operation that ran out of
// memory, say) is kept here, the loop is ended, and the exception is thrown
// again where the loop was entered: the program then ends through main's
// catch, without writing a working copy that the failed step may have left
// half changed, and with its working folder removed on the way out.
class GuardedApplication : public QApplication {
  public:
    GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;

    // Throws what an event handler threw, if anything, once the loop has ended.
    static void rethrowFromEventLoop();

  private:
    static std::exception_ptr pending_;
};

} // namespace quorvane
