#pragma once
#include <string>

namespace tn {

// The desktop's notification service (freedesktop notifications on Linux). A null service, or
// a desktop without one, shows nothing.
class INotifier {
public:
    virtual ~INotifier() = default;
    // Hands one notice to the service without waiting for it; false when there is no service
    // to hand it to.
    virtual bool notify(const std::string& summary, const std::string& body) = 0;
};

} // namespace tn
