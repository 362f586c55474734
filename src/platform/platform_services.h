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
};

// Owner of one operating system's implementations.
class Platform {
public:
    virtual ~Platform() = default;
    virtual PlatformServices services() = 0;
};

// The Linux platform (src/platform/linux) and the stub that finds nothing (src/platform/stub).
std::unique_ptr<Platform> createLinuxPlatform();
std::unique_ptr<Platform> createStubPlatform();

} // namespace tn
