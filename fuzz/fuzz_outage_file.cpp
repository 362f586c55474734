// NetFalls.dat may come from anywhere (an old copy, a damaged disk): any bytes must read as
// records or as an invalid file, never crash.
#include "platform/clock.h"
#include "stats/outage_file.h"

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

class UtcClock final : public tn::IClock {
public:
    std::int64_t now() const override { return 0; }
    std::uint32_t tickMs() const override { return 0; }
    std::int64_t steadyNs() const override { return 0; }
    std::optional<tn::LocalTime> toLocal(std::int64_t t) const override {
        using namespace std::chrono;
        const sys_seconds tp{seconds{t}};
        const auto day = floor<days>(tp);
        const year_month_day ymd{day};
        const hh_mm_ss hms{tp - day};
        return tn::LocalTime{static_cast<int>(ymd.year()),
                             static_cast<int>(static_cast<unsigned>(ymd.month())),
                             static_cast<int>(static_cast<unsigned>(ymd.day())),
                             static_cast<int>(hms.hours().count()),
                             static_cast<int>(hms.minutes().count()),
                             static_cast<int>(hms.seconds().count()),
                             0};
    }
    std::optional<std::int64_t> fromLocal(const tn::LocalTime&) const override {
        return std::nullopt;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const tn::OutageLog log = tn::readOutageRecords(in, UtcClock{});
    // Every record takes at least 8 bytes of the file.
    if (log.records.size() * 8 > size)
        __builtin_trap();
    for (const tn::OutageRecord& r : log.records)
        if (r.start < 0 || r.start > tn::kMaxOutageTime || r.stop < 0 ||
            r.stop > tn::kMaxOutageTime)
            __builtin_trap();
    return 0;
}
