#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/platform_services.h"

#include <chrono>
#include <ctime>

namespace tn {

namespace {

// A clock without a local calendar: UTC stands for local time.
class StubClock final : public IClock {
public:
    std::int64_t now() const override {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    std::uint32_t tickMs() const override {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    std::int64_t steadyNs() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::optional<LocalTime> toLocal(std::int64_t t) const override {
        using namespace std::chrono;
        const sys_seconds tp{seconds{t}};
        const auto day = floor<days>(tp);
        const year_month_day ymd{day};
        const hh_mm_ss hms{tp - day};
        return LocalTime{static_cast<int>(ymd.year()),
                         static_cast<int>(static_cast<unsigned>(ymd.month())),
                         static_cast<int>(static_cast<unsigned>(ymd.day())),
                         static_cast<int>(hms.hours().count()),
                         static_cast<int>(hms.minutes().count()),
                         static_cast<int>(hms.seconds().count()),
                         0};
    }
    std::optional<std::int64_t> fromLocal(const LocalTime& lt) const override {
        using namespace std::chrono;
        const year_month ym = year{lt.year} / month{1} + months{lt.month - 1};
        const sys_days d = sys_days{ym / day{1}} + days{lt.day - 1};
        return duration_cast<seconds>(d.time_since_epoch() + hours{lt.hour} + minutes{lt.minute} +
                                      seconds{lt.second})
            .count();
    }
};

class StubPaths final : public IPaths {
public:
    std::filesystem::path dataDirectory() const override { return "."; }
    std::filesystem::path configDirectory() const override { return "."; }
    std::filesystem::path runtimeDirectory() const override { return "."; }
    std::filesystem::path executablePath() const override { return {}; }
};

// Finds nothing: no adapters, no counters, no capture, no settings store.
class StubPlatform final : public Platform {
public:
    PlatformServices services() override {
        PlatformServices s;
        s.clock = &m_clock;
        s.paths = &m_paths;
        return s;
    }

private:
    StubClock m_clock;
    StubPaths m_paths;
};

} // namespace

std::unique_ptr<Platform> createStubPlatform() {
    return std::make_unique<StubPlatform>();
}

} // namespace tn
