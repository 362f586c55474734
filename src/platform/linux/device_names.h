#pragma once
#include <map>
#include <memory>
#include <string>

struct udev;
struct udev_hwdb;

namespace tn {

// Turns an interface name into the description the user sees: the hardware model from udev's
// device database followed by the name in parentheses, e.g. "Intel Corporation I219-V
// (enp0s31f6)"; interfaces without hardware (veth, bridges, tun) keep their bare name.
class DeviceNames {
public:
    DeviceNames();
    ~DeviceNames();
    DeviceNames(const DeviceNames&) = delete;
    DeviceNames& operator=(const DeviceNames&) = delete;

    // Cached per interface name: the lookup reads sysfs and the hardware database.
    const std::string& describe(const std::string& ifname);

private:
    std::string lookup(const std::string& ifname);

    udev* m_udev = nullptr;
    udev_hwdb* m_hwdb = nullptr;
    std::map<std::string, std::string> m_cache;
};

} // namespace tn
