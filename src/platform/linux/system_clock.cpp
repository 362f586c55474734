#include "platform/linux/system_clock.h"

#include <chrono>
#include <ctime>
#include <time.h>

namespace tn {

std::int64_t SystemClock::now() const {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint32_t SystemClock::tickMs() const {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::int64_t SystemClock::steadyNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<LocalTime> SystemClock::toLocal(std::int64_t t) const {
    const auto tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm))
        return std::nullopt;
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                     tm.tm_min,         tm.tm_sec,     tm.tm_isdst};
}

std::optional<std::int64_t> SystemClock::fromLocal(const LocalTime& lt) const {
    std::tm tm{};
    tm.tm_year = lt.year - 1900;
    tm.tm_mon = lt.month - 1;
    tm.tm_mday = lt.day;
    tm.tm_hour = lt.hour;
    tm.tm_min = lt.minute;
    tm.tm_sec = lt.second;
    tm.tm_isdst = lt.isDst;
    const std::time_t t = mktime(&tm);
    if (t == static_cast<std::time_t>(-1) &&
        !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31))
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

} // namespace tn
