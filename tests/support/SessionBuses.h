#pragma once

#include <string>
#include <sys/types.h>

namespace quorvane::test {

// Private system and session buses with a mocked logind and screen savers
// (python3-dbusmock, driven by session_buses.py in this folder). The test
// sends the script's commands ("session c1", "lock", "sleep true",
// "screensaver org.gnome.ScreenSaver", "inhibitors", ...) and gets its answer.
class SessionBuses {
  public:
    SessionBuses();  // waits until both buses are up; started() says whether they are
    ~SessionBuses(); // ends the mocks and the buses
    SessionBuses(const SessionBuses&) = delete;
    SessionBuses& operator=(const SessionBuses&) = delete;

    bool started() const { return !systemAddress_.empty(); }
    const std::string& systemAddress() const { return systemAddress_; }
    const std::string& sessionAddress() const { return sessionAddress_; }
    // Points DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS of this
    // process (and so of its children) at the private buses.
    void useInThisProcess() const;

    // One command; the script's answer ("ok", "ok ANSWER"; empty when it failed).
    std::string send(const std::string& command);

  private:
    std::string readLine();

    pid_t pid_ = -1;
    int toScript_ = -1;
    int fromScript_ = -1;
    std::string buffered_;
    std::string systemAddress_;
    std::string sessionAddress_;
};

} // namespace quorvane::test
