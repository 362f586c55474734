#pragma once
#include "platform/linux/system_clock.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace tn::test {

// A clock whose "now" and tick count the test sets; the local calendar is the C library's, so
// a test that sets TZ (TzScope) gets real daylight-saving rules.
class FakeClock : public SystemClock {
public:
    std::int64_t nowValue = 1700000000;
    std::uint32_t tick = 0;
    std::int64_t steady = 0;

    std::int64_t now() const override { return nowValue; }
    std::uint32_t tickMs() const override { return tick; }
    std::int64_t steadyNs() const override { return steady; }
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
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TzScope() {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TzScope(const TzScope&) = delete;
    TzScope& operator=(const TzScope&) = delete;

private:
    bool m_had = false;
    std::string m_old;
};

} // namespace tn::test
