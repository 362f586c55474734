#include "platform/linux/dbus_notifier.h"
#include "platform/linux/desktop_network_settings.h"
#include "platform/linux/flock_instance_lock.h"
#include "platform/linux/helper_capture.h"
#include "platform/linux/ini_settings_store.h"
#include "platform/linux/linux_icmp.h"
#include "platform/linux/linux_paths.h"
#include "platform/linux/logind_sleep_monitor.h"
#include "platform/linux/netlink_interfaces.h"
#include "platform/linux/posix_file_store.h"
#include "platform/linux/signal_termination.h"
#include "platform/linux/sock_diag_owners.h"
#include "platform/linux/socket_activation.h"
#include "platform/linux/system_clock.h"
#include "platform/linux/xdg_autostart.h"
#include "platform/platform_services.h"

namespace tn {

namespace {

class LinuxPlatform final : public Platform {
public:
    LinuxPlatform()
        : m_settings(m_paths.configDirectory() / "Tallynet.conf", "SetariGenerale"),
          m_autostart(LinuxPaths::xdgConfigHome() / "autostart" / "TallynetStartUp.desktop",
                      m_paths.executablePath()),
          m_interfaces(m_clock, m_names), m_adapters(m_names),
          m_instanceLock(m_paths.runtimeDirectory() / "Tallynet_Instance_Checker.lock"),
          m_activation(m_paths.runtimeDirectory() / "Tallynet_Instance_Checker.sock"),
          m_icmp([this] { return m_capture.helperPath(); }) {
        m_files.guardFolder(m_paths.dataDirectoryPath());
    }

    PlatformServices services() override {
        PlatformServices s;
        s.clock = &m_clock;
        s.paths = &m_paths;
        s.settings = &m_settings;
        s.autostart = &m_autostart;
        s.interfaces = &m_interfaces;
        s.adapters = &m_adapters;
        s.instanceLock = &m_instanceLock;
        s.activation = &m_activation;
        s.capture = &m_capture;
        s.icmp = &m_icmp;
        s.files = &m_files;
        s.termination = &m_termination;
        s.sleep = &m_sleep;
        s.screenLock = &m_screenLock;
        s.networkSettings = &m_networkSettings;
        s.socketOwners = &m_socketOwners;
        s.notifier = &m_notifier;
        return s;
    }

private:
    SystemClock m_clock;
    LinuxPaths m_paths;
    IniSettingsStore m_settings;
    XdgAutostart m_autostart;
    DeviceNames m_names;
    NetlinkInterfaceTable m_interfaces;
    NetlinkAdapterSource m_adapters;
    FlockInstanceLock m_instanceLock;
    SocketActivation m_activation;
    // Live capture runs in tallynet-capture: this process holds no capabilities.
    HelperCaptureFactory m_capture;
    LinuxIcmpFactory m_icmp;
    PosixFileStore m_files;
    SignalTermination m_termination;
    LogindSleepMonitor m_sleep;
    LogindLockMonitor m_screenLock;
    DesktopNetworkSettings m_networkSettings;
    SockDiagOwners m_socketOwners;
    DbusNotifier m_notifier;
};

class ReadOnlyLinuxPlatform final : public Platform {
public:
    ReadOnlyLinuxPlatform() { m_files.guardFolder(m_paths.dataDirectoryPath()); }

    PlatformServices services() override {
        PlatformServices s;
        s.clock = &m_clock;
        s.paths = &m_paths;
        s.files = &m_files;
        return s;
    }

private:
    SystemClock m_clock;
    LinuxPaths m_paths;
    PosixFileStore m_files;
};

} // namespace

std::unique_ptr<Platform> createPlatform() {
    return std::make_unique<LinuxPlatform>();
}

std::unique_ptr<Platform> createReadOnlyPlatform() {
    return std::make_unique<ReadOnlyLinuxPlatform>();
}

} // namespace tn
