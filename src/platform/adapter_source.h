#pragma once
#include <string>
#include <vector>

namespace tn {

// One adapter as the system reports it.
struct AdapterInfo {
    std::string name;          // the interface name the capture device opens
    std::string description;   // shown in the combo box; unique and stable
    std::string addressText;   // first IPv4 address, dotted ("0.0.0.0" when none)
    std::string maskText;      // its mask, dotted
    int index = 0;             // the system's interface index
    bool up = false;           // administratively up and running
    bool defaultRoute = false; // carries the IPv4 default route
};

enum class AdapterListStatus {
    Ok,
    LibraryMissing, // the system's adapter service is not there
    NoFunction,     // the service lacks the listing call
    NoAdapters,     // the system reports no adapters
    NoMemory,
    ListFailed,   // the list could not be obtained
    OtherFailure, // any other answer: no text of its own
};

class IAdapterSource {
public:
    virtual ~IAdapterSource() = default;
    virtual AdapterListStatus list(std::vector<AdapterInfo>& out) = 0;
};

} // namespace tn
