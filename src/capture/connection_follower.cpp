#include "capture/connection_follower.h"

namespace tn {

int CConnectionFollower::target(const std::string& defaultInterface,
                                const std::vector<std::string>& names) {
    if (defaultInterface.empty())
        return -1;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == defaultInterface)
            return static_cast<int>(i);
    return -1;
}

int CConnectionFollower::step(const std::string& defaultInterface,
                              const std::vector<std::string>& names, int current) {
    const int t = target(defaultInterface, names);
    return t == current ? -1 : t;
}

std::string CConnectionFollower::automaticText(const std::string& description) {
    return description.empty() ? std::string(kSetting)
                               : std::string(kSetting) + " (" + description + ")";
}

std::string CConnectionFollower::switchLogText(const std::string& from, const std::string& to) {
    return "Automatic: the default route moved from " + (from.empty() ? "none" : from) + " to " +
           to + ", counting goes on there";
}

} // namespace tn
