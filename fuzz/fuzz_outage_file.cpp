// NetFalls.dat may come from anywhere (an old copy, a damaged disk): any bytes must read as
// records or as an invalid file, never crash.
#include "platform/platform_services.h"
#include "stats/outage_file.h"

#include <cstdint>

namespace {
// The stub platform's clock has a UTC calendar that converts any time value.
const auto platform = tn::createPlatform();
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tn::OutageLog log = tn::decodeOutageRecords({data, size}, *platform->services().clock);
    // Every record takes at least 8 bytes of the file.
    if (log.records.size() * 8 > size)
        __builtin_trap();
    for (const tn::OutageRecord& r : log.records)
        if (r.start < 0 || r.start > tn::kMaxOutageTime || r.stop < 0 ||
            r.stop > tn::kMaxOutageTime)
            __builtin_trap();
    return 0;
}
