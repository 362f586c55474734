#include "platform/linux/device_names.h"

#include <cstring>
#include <libudev.h>

namespace tn {

DeviceNames::DeviceNames() : m_udev(udev_new()) {
    if (m_udev)
        m_hwdb = udev_hwdb_new(m_udev);
}

DeviceNames::~DeviceNames() {
    if (m_hwdb)
        udev_hwdb_unref(m_hwdb);
    if (m_udev)
        udev_unref(m_udev);
}

const std::string& DeviceNames::describe(const std::string& ifname) {
    auto it = m_cache.find(ifname);
    if (it == m_cache.end())
        it = m_cache.emplace(ifname, lookup(ifname)).first;
    return it->second;
}

namespace {

struct DeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

// A copy: the next query of the hardware database frees the list the value lives in.
std::string hwdbValue(udev_hwdb* hwdb, const char* modalias, const char* key) {
    udev_list_entry* e = udev_hwdb_get_properties_list_entry(hwdb, modalias, 0);
    for (; e; e = udev_list_entry_get_next(e))
        if (std::strcmp(udev_list_entry_get_name(e), key) == 0)
            if (const char* value = udev_list_entry_get_value(e))
                return value;
    return {};
}

} // namespace

std::string DeviceNames::lookup(const std::string& ifname) {
    if (!m_udev)
        return ifname;
    std::unique_ptr<udev_device, DeviceUnref> dev(
        udev_device_new_from_subsystem_sysname(m_udev, "net", ifname.c_str()));
    if (!dev)
        return ifname;
    std::string vendor;
    std::string model;
    // Walk from the interface towards the bus: the udev database (when udevd has run) or the
    // hardware database by modalias names the first device that has a model.
    for (udev_device* d = udev_device_get_parent(dev.get()); d && model.empty();
         d = udev_device_get_parent(d)) {
        const char* v = udev_device_get_property_value(d, "ID_VENDOR_FROM_DATABASE");
        const char* m = udev_device_get_property_value(d, "ID_MODEL_FROM_DATABASE");
        const char* alias = udev_device_get_sysattr_value(d, "modalias");
        if (m) {
            model = m;
            vendor = v ? v : "";
        } else if (m_hwdb && alias) {
            vendor = hwdbValue(m_hwdb, alias, "ID_VENDOR_FROM_DATABASE");
            model = hwdbValue(m_hwdb, alias, "ID_MODEL_FROM_DATABASE");
        }
    }
    if (model.empty())
        return ifname;
    return (vendor.empty() ? model : vendor + " " + model) + " (" + ifname + ")";
}

} // namespace tn
