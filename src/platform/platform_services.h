#pragma once
#include <memory>

namespace tn {

class IClock;
class IPaths;
class ISettingsStore;
class IAutostart;
class IInterfaceTable;
class IAdapterSource;
class ICaptureFactory;
class IIcmpFactory;
class IInstanceLock;
class IInstanceActivation;
class IFileStore;
class ITerminationSource;
class ISleepMonitor;
class IScreenLockMonitor;
class INetworkSettings;
class ISocketOwners;
class INotifier;

// Everything the program takes from the operating system, in one value. The pointers are
// non-owning; a Platform (below) or a test owns the implementations. A null service means
// "not available here": the core then behaves as if the system had nothing to offer.
struct PlatformServices {
    IClock* clock = nullptr;
    IPaths* paths = nullptr;
    ISettingsStore* settings = nullptr;
    IAutostart* autostart = nullptr;
    IInterfaceTable* interfaces = nullptr;
    IAdapterSource* adapters = nullptr;
    ICaptureFactory* capture = nullptr;
    IIcmpFactory* icmp = nullptr;
    IInstanceLock* instanceLock = nullptr;
    IInstanceActivation* activation = nullptr; // a second start shows the running copy
    IFileStore* files = nullptr;
    ITerminationSource* termination = nullptr;
    ISleepMonitor* sleep = nullptr;
    IScreenLockMonitor* screenLock = nullptr; // the session locked: nothing to show meanwhile
    INetworkSettings* networkSettings = nullptr;
    ISocketOwners* socketOwners = nullptr; // which program a flow is; asked by the capture worker
    INotifier* notifier = nullptr;         // desktop notifications
};

// Owner of one operating system's implementations.
class Platform {
public:
    virtual ~Platform() = default;
    virtual PlatformServices services() = 0;
};

// The platform this program was built for. Each platform library (src/platform/linux,
// src/platform/stub, ...) defines it; the build links exactly one of them.
std::unique_ptr<Platform> createPlatform();
// Only the clock, the paths and the file store, for a reader that must leave no trace: it opens
// no socket, takes no lock, installs no handler and creates no folder.
std::unique_ptr<Platform> createReadOnlyPlatform();

} // namespace tn
