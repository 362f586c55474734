#pragma once
#include <cstdint>
#include <optional>

namespace tn {

// Local calendar fields of a moment, as the C library's broken-down time gives them.
struct LocalTime {
    int year = 0;   // e.g. 2026
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..60
    int isDst = -1; // >0 daylight saving, 0 standard, <0 let the calendar decide
};

// "Now" and the local calendar. Every rule that depends on the time takes one of these,
// so tests can drive midnights, month ends and clocks set back.
class IClock {
public:
    virtual ~IClock() = default;
    // Seconds since 1970-01-01 00:00:00 UTC.
    virtual std::int64_t now() const = 0;
    // Millisecond tick count of a monotonic clock; wraps at 32 bits like GetTickCount.
    virtual std::uint32_t tickMs() const = 0;
    // Monotonic nanoseconds for round-trip measurements.
    virtual std::int64_t steadyNs() const = 0;
    // Local calendar fields of a time value; empty when the platform cannot convert it.
    virtual std::optional<LocalTime> toLocal(std::int64_t t) const = 0;
    // Seconds since 1970 for local calendar fields (normalised like mktime); empty on failure.
    virtual std::optional<std::int64_t> fromLocal(const LocalTime& lt) const = 0;
};

} // namespace tn
