#include "platform/linux/logind_sleep_monitor.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>

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

void watch(BusPtr bus, SlotPtr slot, std::unique_ptr<Callback> callback, int wake) {
    runLoop(bus.get(), wake);
    slot.reset(); // the match goes before the bus and the callback it points to
    bus.reset();
    callback.reset();
}

} // namespace

LogindSleepMonitor::~LogindSleepMonitor() {
    stop();
}

bool LogindSleepMonitor::start(std::function<void(bool sleeping)> onChange) {
    if (m_watcher.joinable())
        return false;
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0)
        return false;
    BusPtr bus(raw);
    auto callback = std::make_unique<Callback>(std::move(onChange));
    sd_bus_slot* slotRaw = nullptr;
    if (sd_bus_match_signal(bus.get(), &slotRaw, "org.freedesktop.login1",
                            "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                            "PrepareForSleep", onPrepareForSleep, callback.get()) < 0)
        return false;
    SlotPtr slot(slotRaw);
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC));
    if (m_wake.get() < 0)
        return false;
    // The bus connection is used by the watcher alone from here on.
    m_watcher = std::jthread([bus = std::move(bus), slot = std::move(slot),
                              callback = std::move(callback), wake = m_wake.get()]() mutable {
        watch(std::move(bus), std::move(slot), std::move(callback), wake);
    });
    return true;
}

void LogindSleepMonitor::stop() {
    if (!m_watcher.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake.get(), &one, sizeof one);
    m_watcher.join();
    m_wake = UniqueFd();
}

} // namespace tn
