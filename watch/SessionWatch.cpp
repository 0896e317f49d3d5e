#include "watch/SessionWatch.h"

#include "storage/files/UniqueFd.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quorvane {

namespace {

// The interface a screen saver announces its state on, under each desktop's
// name; all of them send ActiveChanged(b).
constexpr const char* ScreenSaverInterfaces[] = {
    "org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver", "org.cinnamon.ScreenSaver",
    "org.mate.ScreenSaver",        "org.xfce.ScreenSaver",
};

constexpr const char* Logind = "org.freedesktop.login1";
constexpr const char* LogindPath = "/org/freedesktop/login1";
constexpr const char* LogindManager = "org.freedesktop.login1.Manager";
constexpr const char* LogindSession = "org.freedesktop.login1.Session";
// A call to a service that hangs must not hold up the window or the folder.
constexpr std::uint64_t CallTimeoutMicroseconds = 2'000'000;

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct EventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// A plain call whose only interest is its reply; null when it failed.
template <typename... Arguments>
MessagePtr call(sd_bus* bus, const char* service, const char* path, const char* interface,
                const char* member, const char* types, Arguments... arguments) {
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(bus, service, path, interface, member, &error, &reply,
                                          types, arguments...);
    sd_bus_error_free(&error);
    return MessagePtr(result >= 0 ? reply : nullptr);
}

bool hasOwner(sd_bus* bus, const char* name) {
    MessagePtr reply = call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameHasOwner", "s", name);
    int owned = 0;
    return reply && sd_bus_message_read(reply.get(), "b", &owned) >= 0 && owned != 0;
}

// The first boolean of a signal, false when it has none.
bool firstBool(sd_bus_message* message) {
    int value = 0;
    return sd_bus_message_read(message, "b", &value) >= 0 && value != 0;
}

} // namespace

struct SessionWatch::Buses {
    Sources sources;
    std::unique_ptr<sd_event, EventUnref> event;
    BusPtr user;
    BusPtr system;
    std::string sessionPath; // ours in logind, empty when unknown
    std::string sessionId;
    bool logind = false;
    std::vector<std::string> screenSavers; // the names present at the start
    std::vector<CloseReason> reasons;
    UniqueFd inhibitor; // logind's delay lasts until this descriptor is closed

    BusPtr open(int (*opener)(sd_bus**)) const {
        sd_bus* bus = nullptr;
        if (opener(&bus) < 0)
            return nullptr;
        BusPtr owned(bus);
        sd_bus_set_method_call_timeout(bus, CallTimeoutMicroseconds);
        if (sd_bus_attach_event(bus, event.get(), SD_EVENT_PRIORITY_NORMAL) < 0)
            return nullptr;
        return owned;
    }

    void note(CloseReason reason) { reasons.push_back(reason); }

    template <auto Handler>
    bool match(sd_bus* bus, const char* sender, const char* path, const char* interface,
               const char* member) {
        const auto callback = [](sd_bus_message* message, void* self, sd_bus_error*) -> int {
            (static_cast<Buses*>(self)->*Handler)(message);
            return 0;
        };
        return sd_bus_match_signal(bus, nullptr, sender, path, interface, member, callback, this) >=
               0;
    }

    void onActiveChanged(sd_bus_message* message) {
        if (firstBool(message))
            note(CloseReason::ScreenLocked);
    }
    void onLock(sd_bus_message*) { note(CloseReason::ScreenLocked); }
    void onPrepareForSleep(sd_bus_message* message) {
        if (firstBool(message))
            note(CloseReason::Sleep);
    }
    void onPrepareForShutdown(sd_bus_message* message) {
        if (firstBool(message))
            note(CloseReason::Shutdown);
    }
    void onSessionRemoved(sd_bus_message* message) {
        const char* id = nullptr;
        const char* path = nullptr;
        if (sd_bus_message_read(message, "so", &id, &path) >= 0 && path != nullptr &&
            path == sessionPath)
            note(CloseReason::SessionEnded);
    }

    void listenToScreenSavers() {
        for (const char* interface : ScreenSaverInterfaces) {
            match<&Buses::onActiveChanged>(user.get(), nullptr, nullptr, interface,
                                           "ActiveChanged");
            if (hasOwner(user.get(), interface))
                screenSavers.emplace_back(interface);
        }
    }

    // Ours is the session of $XDG_SESSION_ID, else the one logind files this
    // process under (a Wayland desktop may not set the variable).
    void findSession() {
        const char* id = std::getenv("XDG_SESSION_ID");
        MessagePtr reply;
        if (id != nullptr && id[0] != '\0')
            reply = call(system.get(), Logind, LogindPath, LogindManager, "GetSession", "s", id);
        if (!reply)
            reply = call(system.get(), Logind, LogindPath, LogindManager, "GetSessionByPID", "u",
                         static_cast<std::uint32_t>(::getpid()));
        const char* path = nullptr;
        if (reply && sd_bus_message_read(reply.get(), "o", &path) >= 0 && path != nullptr) {
            sessionPath = path;
            sessionId = sessionPath.substr(sessionPath.rfind('/') + 1);
        }
    }

    void listenToLogind() {
        logind = hasOwner(system.get(), Logind);
        sd_bus* bus = system.get();
        if (sources.sleep)
            match<&Buses::onPrepareForSleep>(bus, Logind, LogindPath, LogindManager,
                                             "PrepareForSleep");
        match<&Buses::onPrepareForShutdown>(bus, Logind, LogindPath, LogindManager,
                                            "PrepareForShutdown");
        if (!logind)
            return;
        findSession();
        if (sessionPath.empty())
            return;
        match<&Buses::onSessionRemoved>(bus, Logind, LogindPath, LogindManager, "SessionRemoved");
        if (sources.screenLock)
            match<&Buses::onLock>(bus, Logind, sessionPath.c_str(), LogindSession, "Lock");
    }
};

SessionWatch::SessionWatch(Sources sources) : buses_(std::make_unique<Buses>()) {
    buses_->sources = sources;
    sd_event* event = nullptr;
    if (sd_event_new(&event) < 0)
        return;
    buses_->event.reset(event);
    if (sources.screenLock) {
        buses_->user = buses_->open(sd_bus_open_user);
        if (buses_->user)
            buses_->listenToScreenSavers();
    }
    buses_->system = buses_->open(sd_bus_open_system);
    if (buses_->system)
        buses_->listenToLogind();
    pump();
}

SessionWatch::~SessionWatch() {
    releaseSleepDelay();
    // The buses go before the loop they are attached to.
    buses_->user.reset();
    buses_->system.reset();
}

int SessionWatch::fd() const {
    if (!buses_->event || (!buses_->user && !buses_->system))
        return -1;
    return sd_event_get_fd(buses_->event.get());
}

void SessionWatch::pump() {
    if (fd() < 0)
        return;
    // Runs until nothing more is ready, without waiting.
    while (sd_event_run(buses_->event.get(), 0) > 0) {
    }
}

std::vector<CloseReason> SessionWatch::takeReasons() {
    pump();
    return std::exchange(buses_->reasons, {});
}

std::string SessionWatch::describe() const {
    const Buses& buses = *buses_;
    std::string screen;
    for (const std::string& name : buses.screenSavers)
        screen += (screen.empty() ? "" : ", ") + name;
    if (buses.sources.screenLock && !buses.sessionPath.empty())
        screen += (screen.empty() ? "" : ", ") + std::string("logind session ") + buses.sessionId;
    std::string text = "closes the safe on ";
    if (!buses.sources.screenLock)
        text += "screen lock: not asked for; ";
    else
        text += "screen lock: " + (screen.empty() ? std::string("no source found") : screen) + "; ";
    const std::string logind = buses.logind ? "logind" : "no logind";
    text += "sleep: " + (buses.sources.sleep ? logind : std::string("not asked for")) + "; ";
    text += "shutdown and log-out: " + logind;
    if (!buses.user && buses.sources.screenLock)
        text += "; no session bus";
    if (!buses.system)
        text += "; no system bus";
    return text;
}

void SessionWatch::holdSleepDelay() {
    Buses& buses = *buses_;
    if (buses.inhibitor || !buses.system || !buses.sources.sleep || !buses.logind)
        return;
    MessagePtr reply =
        call(buses.system.get(), Logind, LogindPath, LogindManager, "Inhibit", "ssss", "sleep",
             "Quorvane", "An open safe is written and closed before sleep", "delay");
    int fd = -1;
    if (reply && sd_bus_message_read(reply.get(), "h", &fd) >= 0 && fd >= 0)
        buses.inhibitor.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 3)); // the reply owns its own
    pump();
}

void SessionWatch::releaseSleepDelay() {
    buses_->inhibitor.reset();
}

bool SessionWatch::holdsSleepDelay() const {
    return buses_->inhibitor.valid();
}

} // namespace quorvane
