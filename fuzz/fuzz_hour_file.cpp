// hours.dat may be damaged, truncated or planted: any bytes must decode or be refused, never
// crash. Each input is tried as it is and cut or padded to the file's size, so the fuzzer
// reaches the slot checks whatever length it makes; a file that decodes must encode back to
// the same bytes, and the 48 hours shown from it must each come from its own slot.
#include "platform/platform_services.h"
#include "stats/hour_file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {
// The stub platform's clock has a UTC calendar that converts any time value.
const auto platform = tn::createPlatform();
tn::HourRecords hours;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> exact(data, data + std::min(size, tn::kHourFileSize));
    exact.resize(tn::kHourFileSize, 0);
    for (const auto& bytes : {std::vector<std::uint8_t>(data, data + size), exact}) {
        hours = {};
        const bool problem = !tn::hourFileProblem(bytes).empty();
        if (tn::decodeHourFile(bytes, hours) == problem)
            __builtin_trap();
        if (problem)
            continue;
        if (tn::encodeHourFile(hours) != bytes)
            __builtin_trap();
        for (int i = 0; i < tn::kHourSlots; ++i) {
            const tn::HourRecord& h = hours[static_cast<std::size_t>(i)];
            if (h.start == 0)
                continue;
            if (tn::hourSlot(h.start) != i)
                __builtin_trap();
            // Shown as the hour it is, when now lies in it (the stub's calendar is UTC).
            if (h.start % 3600 != 0)
                continue;
            const auto rows = tn::lastHours(hours, *platform->services().clock, h.start);
            if (!rows.empty() && (rows.back().start != h.start || rows.back().sent != h.sent))
                __builtin_trap();
        }
    }
    return 0;
}
