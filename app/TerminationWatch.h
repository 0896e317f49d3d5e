#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quorvane {

// Turns every signal that would end the process (EndingSignals: the desktop
// session ending, a terminal closing, Ctrl+C or Ctrl+\, a file size limit)
// into a call on the GUI thread, so that the program can
// write the open safe and remove its plaintext working copy instead of
// dying with both left as they are. One watch at a time per process; the
// signals get their default handling back when it goes.
class TerminationWatch : public QObject {
    Q_OBJECT

  public:
    explicit TerminationWatch(std::function<void()> onTermination, QObject* parent = nullptr);
    ~TerminationWatch() override;
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

    bool isActive() const { return notifier_ != nullptr; }

  private:
    void drain();

    std::function<void()> onTermination_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace quorvane
