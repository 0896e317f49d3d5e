#include "app/GuardedApplication.h"

#include <utility>

namespace quorvane {

std::exception_ptr GuardedApplication::pending_;

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The first one counts; later ones are its consequences.
        if (!pending_)
            pending_ = std::current_exception();
        QCoreApplication::exit(1);
        return false;
    }
}

void GuardedApplication::rethrowFromEventLoop() {
    if (std::exception_ptr failure = std::exchange(pending_, nullptr))
        std::rethrow_exception(failure);
}

} // namespace quorvane
