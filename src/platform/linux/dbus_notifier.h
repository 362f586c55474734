#pragma once
#include "platform/notifier.h"

#include <memory>

struct sd_bus;

namespace tn {

// org.freedesktop.Notifications on the session bus. The call is sent without waiting for its
// answer, so a stuck notification daemon never holds up the tick; without a session bus, or
// with no daemon on it, the notice goes nowhere.
class DbusNotifier final : public INotifier {
public:
    DbusNotifier();
    ~DbusNotifier() override;
    bool notify(const std::string& summary, const std::string& body) override;

private:
    struct BusDeleter {
        void operator()(sd_bus* bus) const;
    };
    std::unique_ptr<sd_bus, BusDeleter> m_bus;
};

} // namespace tn
