// apps.dat may be damaged, truncated or planted: any bytes must decode or be refused, never
// crash, and a refusal must leave what the caller held untouched. What decodes is written back
// and must read the same again. The same bytes behind a valid header reach the records too.
#include "stats/apps_file.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

const tn::AppRecords& marker() {
    static const tn::AppRecords r = [] {
        tn::AppRecords m;
        m.days[3] = {{"marker", 1, 2}};
        return m;
    }();
    return r;
}

void check(std::span<const std::uint8_t> bytes) {
    tn::AppRecords records = marker();
    std::int64_t saveTime = 42;
    const std::string problem = tn::decodeAppsFile(bytes, records, saveTime);
    if (!problem.empty()) {
        if (saveTime != 42 || !(records == marker()))
            __builtin_trap();
        return;
    }
    for (const auto& r : records.days)
        if (r.size() > tn::kAppsPerRecord + 1)
            __builtin_trap();
    for (const auto& r : records.months)
        if (r.size() > tn::kAppsPerRecord + 1)
            __builtin_trap();
    const std::vector<std::uint8_t> again = tn::encodeAppsFile(records, saveTime);
    tn::AppRecords back;
    std::int64_t saveTime2 = 0;
    if (!tn::decodeAppsFile(again, back, saveTime2).empty() || saveTime2 != saveTime)
        __builtin_trap();
    // Written records are bounded and sorted, so a second round changes nothing more.
    if (tn::encodeAppsFile(back, saveTime2) != again)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(std::span<const std::uint8_t>(data, size));
    // Behind a valid magic, version and save time the fuzzer's bytes are the records.
    static std::vector<std::uint8_t> framed;
    framed.assign({'T', 'N', 'A', 'P', 1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0});
    framed.insert(framed.end(), data, data + size);
    check(framed);
    return 0;
}
