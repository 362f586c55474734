#include "platform/linux/logind_sleep_monitor.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <vector>

namespace tn {

namespace {

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

struct SlotDeleter {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotDeleter>;

using Callback = std::function<void(bool)>;

int onPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) >= 0)
        (*static_cast<Callback*>(userdata))(sleeping != 0);
    return 0;
}

// Runs until the wake-up descriptor is signalled or the bus goes away.
void runLoop(sd_bus* bus, int wake) {
    for (;;) {
        int r;
        while ((r = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (r < 0)
            return; // the bus connection broke
        pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                         {wake, POLLIN, 0}};
        std::uint64_t usec = 0;
        int timeoutMs = -1;
        if (sd_bus_get_timeout(bus, &usec) > 0 && usec != UINT64_MAX)
            timeoutMs = 1000; // a pending reply of the bus library's own: look again soon
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
    }
}

void watch(BusPtr bus, std::vector<SlotPtr> slots, std::unique_ptr<Callback> callback, int wake) {
    runLoop(bus.get(), wake);
    slots.clear(); // the matches go before the bus and the callback they point to
    bus.reset();
    callback.reset();
}

// Hands the bus, its matches and their callback to a new watcher thread.
bool startWatcher(BusWatcher& w, BusPtr bus, std::vector<SlotPtr> slots,
                  std::unique_ptr<Callback> callback) {
    w.wake = UniqueFd(::eventfd(0, EFD_CLOEXEC));
    if (w.wake.get() < 0)
        return false;
    // The bus connection is used by the watcher alone from here on.
    w.thread = std::jthread([bus = std::move(bus), slots = std::move(slots),
                             callback = std::move(callback), wake = w.wake.get()]() mutable {
        watch(std::move(bus), std::move(slots), std::move(callback), wake);
    });
    return true;
}

// PropertiesChanged of a session: the new LockedHint, when it is among the changes.
int onSessionProperties(sd_bus_message* message, void* userdata, sd_bus_error*) {
    if (sd_bus_message_skip(message, "s") < 0 ||
        sd_bus_message_enter_container(message, 'a', "{sv}") < 0)
        return 0;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0 || !name)
            return 0;
        if (std::strcmp(name, "LockedHint") == 0) {
            int locked = 0;
            if (sd_bus_message_read(message, "v", "b", &locked) >= 0)
                (*static_cast<Callback*>(userdata))(locked != 0);
            return 0;
        }
        if (sd_bus_message_skip(message, "v") < 0 || sd_bus_message_exit_container(message) < 0)
            return 0;
    }
    return 0;
}

int onLock(sd_bus_message*, void* userdata, sd_bus_error*) {
    (*static_cast<Callback*>(userdata))(true);
    return 0;
}

int onUnlock(sd_bus_message*, void* userdata, sd_bus_error*) {
    (*static_cast<Callback*>(userdata))(false);
    return 0;
}

// The object path of this process's session, or of the session XDG_SESSION_ID names.
std::string sessionPath(sd_bus* bus) {
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    std::string out;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "GetSessionByPID", nullptr, &reply,
                           "u", static_cast<std::uint32_t>(::getpid())) >= 0 &&
        sd_bus_message_read(reply, "o", &path) >= 0 && path)
        out = path;
    sd_bus_message_unref(reply);
    if (!out.empty())
        return out;
    const char* id = std::getenv("XDG_SESSION_ID");
    reply = nullptr;
    if (id && *id &&
        sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "GetSession", nullptr, &reply, "s",
                           id) >= 0 &&
        sd_bus_message_read(reply, "o", &path) >= 0 && path)
        out = path;
    sd_bus_message_unref(reply);
    return out;
}

BusPtr openSystemBus() {
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0)
        return nullptr;
    return BusPtr(raw);
}

} // namespace

LogindSleepMonitor::~LogindSleepMonitor() {
    stop();
}

bool LogindSleepMonitor::start(std::function<void(bool sleeping)> onChange) {
    BusPtr bus = m_watcher.running() ? nullptr : openSystemBus();
    if (!bus)
        return false;
    auto callback = std::make_unique<Callback>(std::move(onChange));
    sd_bus_slot* slotRaw = nullptr;
    if (sd_bus_match_signal(bus.get(), &slotRaw, "org.freedesktop.login1",
                            "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                            "PrepareForSleep", onPrepareForSleep, callback.get()) < 0)
        return false;
    std::vector<SlotPtr> slots;
    slots.emplace_back(slotRaw);
    return startWatcher(m_watcher, std::move(bus), std::move(slots), std::move(callback));
}

void LogindSleepMonitor::stop() {
    m_watcher.stop();
}

void BusWatcher::stop() {
    if (!thread.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake.get(), &one, sizeof one);
    thread.join();
    wake = UniqueFd();
}

LogindLockMonitor::~LogindLockMonitor() {
    stop();
}

bool LogindLockMonitor::start(std::function<void(bool locked)> onChange) {
    BusPtr bus = m_watcher.running() ? nullptr : openSystemBus();
    if (!bus)
        return false;
    const std::string path = sessionPath(bus.get());
    if (path.empty())
        return false;
    auto callback = std::make_unique<Callback>(std::move(onChange));
    std::vector<SlotPtr> slots;
    const auto match = [&](const char* interface, const char* member,
                           sd_bus_message_handler_t handler) {
        sd_bus_slot* slot = nullptr;
        if (sd_bus_match_signal(bus.get(), &slot, "org.freedesktop.login1", path.c_str(), interface,
                                member, handler, callback.get()) < 0)
            return false;
        slots.emplace_back(slot);
        return true;
    };
    if (!match("org.freedesktop.DBus.Properties", "PropertiesChanged", onSessionProperties) ||
        !match("org.freedesktop.login1.Session", "Lock", onLock) ||
        !match("org.freedesktop.login1.Session", "Unlock", onUnlock))
        return false;
    return startWatcher(m_watcher, std::move(bus), std::move(slots), std::move(callback));
}

void LogindLockMonitor::stop() {
    m_watcher.stop();
}

} // namespace tn
