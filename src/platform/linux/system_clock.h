#pragma once
#include "platform/clock.h"

namespace tn {

// The real clock, with the C library's local calendar (which honours TZ).
class SystemClock : public IClock {
public:
    std::int64_t now() const override;
    std::uint32_t tickMs() const override;
    std::int64_t steadyNs() const override;
    std::optional<LocalTime> toLocal(std::int64_t t) const override;
    std::optional<std::int64_t> fromLocal(const LocalTime& lt) const override;
};

} // namespace tn
