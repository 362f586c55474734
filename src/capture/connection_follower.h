#pragma once
#include <string>
#include <vector>

namespace tn {

// "Automatic": the adapter that carries the default route. Each tick the window asks which
// adapter that is; while the route is gone for a moment (a Wi-Fi roaming, a VPN reconnecting)
// the adapter in use stays, so a flap never switches twice.
class CConnectionFollower {
public:
    static constexpr const char* kSetting = "Automatic"; // LastAdapterName when following

    // The adapter whose interface name is `defaultInterface`; -1 when none is.
    static int target(const std::string& defaultInterface, const std::vector<std::string>& names);
    // The adapter to switch to, or -1 to stay with `current` (also when no adapter carries the
    // route).
    static int step(const std::string& defaultInterface, const std::vector<std::string>& names,
                    int current);
    // "Automatic (Intel Corporation I219-V (enp0s31f6))"; "Automatic" with no adapter in use.
    static std::string automaticText(const std::string& description);
    // The TN.log line of a switch.
    static std::string switchLogText(const std::string& from, const std::string& to);
};

} // namespace tn
