#include "platform/linux/dbus_notifier.h"

#include <cstdint>
#include <systemd/sd-bus.h>

namespace tn {

void DbusNotifier::BusDeleter::operator()(sd_bus* bus) const {
    sd_bus_flush_close_unref(bus);
}

DbusNotifier::DbusNotifier() = default;
DbusNotifier::~DbusNotifier() = default;

bool DbusNotifier::notify(const std::string& summary, const std::string& body) {
    if (!m_bus) {
        // Opened at the first notice: a program that never notifies never talks to the bus.
        sd_bus* bus = nullptr;
        if (sd_bus_open_user(&bus) < 0)
            return false;
        m_bus.reset(bus);
    }
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(m_bus.get(), &call, "org.freedesktop.Notifications",
                                           "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
    if (r >= 0)
        // app name, replaces id, icon, summary, body, actions, hints, expiry (-1: the server's)
        r = sd_bus_message_append(call, "susssasa{sv}i", "Tallynet", std::uint32_t{0}, "tallynet",
                                  summary.c_str(), body.c_str(), 0, 0, std::int32_t{-1});
    if (r >= 0)
        r = sd_bus_call_async(m_bus.get(), nullptr, call, nullptr, nullptr, 0);
    sd_bus_message_unref(call);
    if (r < 0) {
        // A bus that went away (the session ended and came back) is opened again next time.
        m_bus.reset();
        return false;
    }
    sd_bus_flush(m_bus.get());
    // Answers and errors of earlier notices are read and dropped, so none piles up.
    while (sd_bus_process(m_bus.get(), nullptr) > 0) {
    }
    return true;
}

} // namespace tn
