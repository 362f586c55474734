#pragma once
#include "platform/clock.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#ifdef QT_CORE_LIB
#include <QByteArray>
#include <QtGlobal>
#endif

namespace tn::test {

// A clock whose "now" and tick count the test sets. Its calendar is the C library's own, apart
// from the program's clock, so a test that sets TZ (TzScope) gets real daylight-saving rules.
class FakeClock : public IClock {
public:
    std::int64_t nowValue = 1700000000;
    std::uint32_t tick = 0;
    std::int64_t steady = 0;

    std::int64_t now() const override { return nowValue; }
    std::uint32_t tickMs() const override { return tick; }
    std::int64_t steadyNs() const override { return steady; }
    std::optional<LocalTime> toLocal(std::int64_t t) const override {
        const auto tt = static_cast<std::time_t>(t);
        std::tm tm{};
        if (!localtime_r(&tt, &tm))
            return std::nullopt;
        return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                         tm.tm_min,         tm.tm_sec,     tm.tm_isdst};
    }
    std::optional<std::int64_t> fromLocal(const LocalTime& lt) const override {
        std::tm tm{};
        tm.tm_year = lt.year - 1900;
        tm.tm_mon = lt.month - 1;
        tm.tm_mday = lt.day;
        tm.tm_hour = lt.hour;
        tm.tm_min = lt.minute;
        tm.tm_sec = lt.second;
        tm.tm_isdst = lt.isDst;
        const std::time_t t = std::mktime(&tm);
        if (t == static_cast<std::time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mday == 31))
            return std::nullopt;
        return static_cast<std::int64_t>(t);
    }
    void advance(std::int64_t seconds) {
        nowValue += seconds;
        tick += static_cast<std::uint32_t>(seconds * 1000);
        steady += seconds * 1000000000;
    }
    // Sets now to local calendar fields.
    void setLocal(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        nowValue = fromLocal(LocalTime{y, mo, d, h, mi, s, -1}).value();
    }
};

// Sets TZ for the life of the object and restores the previous value.
class TzScope {
public:
    explicit TzScope(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            m_had = true;
            m_old = old;
        }
        set(tz);
    }
    ~TzScope() { set(m_had ? m_old.c_str() : nullptr); }
    TzScope(const TzScope&) = delete;
    TzScope& operator=(const TzScope&) = delete;

private:
    static void set(const char* tz) {
#ifdef QT_CORE_LIB
        // Qt's test watchdog thread reads the environment under Qt's lock while a test runs;
        // a write beside that lock can move the environment under its read.
        if (tz)
            qputenv("TZ", QByteArray(tz));
        else
            qunsetenv("TZ");
#else
        if (tz)
            ::setenv("TZ", tz, 1);
        else
            ::unsetenv("TZ");
#endif
        ::tzset();
    }

    bool m_had = false;
    std::string m_old;
};

} // namespace tn::test
