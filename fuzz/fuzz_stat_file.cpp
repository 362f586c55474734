// stat.dat may be damaged, truncated or planted: any bytes must decode or be refused, never
// crash. Each input is tried as it is, and cut or padded with zeros to the exact size of each
// version, so that the fuzzer reaches the record decoding whatever length it generates.
// The records live in static storage and are filled anew for every input: a 7 KiB object on
// the stack costs the address sanitizer more than the decoding itself.
#include "stats/stat_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

constexpr std::uint64_t kSentinel = 0x5A5A5A5A5A5A5A5Aull;

// The checks below need no coverage feedback: their loops, instrumented, cost more per input
// than the decoding they check.
#define TN_NO_COVERAGE __attribute__((no_sanitize("coverage")))

template <std::size_t N>
TN_NO_COVERAGE void fillArray(std::array<tn::CounterArray, N>& records, std::uint64_t v) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t k = 0; k < tn::CounterArray{}.size(); ++k)
            records[i][k] = v;
}

TN_NO_COVERAGE void fill(tn::StatRecords& r, std::uint64_t v) {
    fillArray(r.daysReceived, v);
    fillArray(r.daysSent, v);
    fillArray(r.monthsReceived, v);
    fillArray(r.monthsSent, v);
}

// Counters 6 to 10 of every record, which a version-1 file does not hold.
template <std::size_t N>
TN_NO_COVERAGE bool upperAre(const std::array<tn::CounterArray, N>& records, std::uint64_t v) {
    bool same = true;
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t k = 6; k < tn::CounterArray{}.size(); ++k)
            same = same && records[i][k] == v;
    return same;
}

TN_NO_COVERAGE bool upperCountersAre(const tn::StatRecords& r, std::uint64_t v) {
    return upperAre(r.daysReceived, v) && upperAre(r.daysSent, v) &&
           upperAre(r.monthsReceived, v) && upperAre(r.monthsSent, v);
}

// One comparison of the whole block: the records' own operator== compares 86 records one by one,
// and each comparison goes through the sanitizers' memcmp hooks.
static_assert(sizeof(tn::StatRecords) == 86 * sizeof(tn::CounterArray));
bool same(const tn::StatRecords& a, const tn::StatRecords& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What decodeStatFileV1 must leave alone when it refuses the bytes.
const tn::StatRecords& untouched() {
    static const tn::StatRecords r = [] {
        tn::StatRecords s;
        fill(s, kSentinel);
        return s;
    }();
    return r;
}

void version2(std::span<const std::uint8_t> bytes) {
    static tn::StatRecords records;
    static tn::StatRecords records2;
    records = {};
    std::int64_t saveTime = 0;
    if (!tn::decodeStatFileV2(bytes, records, saveTime)) {
        if (bytes.size() == tn::kStatFileV2Size)
            __builtin_trap();
        return;
    }
    // What was read is written back and reads again the same.
    const std::vector<std::uint8_t> again = tn::encodeStatFile(records, saveTime);
    if (again.size() != tn::kStatFileV2Size)
        __builtin_trap();
    records2 = {};
    std::int64_t saveTime2 = 0;
    std::int32_t version = 0;
    if (!tn::decodeStatFileV2(again, records2, saveTime2) || !same(records2, records) ||
        saveTime2 != saveTime || !tn::statFileVersion(again, version) ||
        version != tn::kStatFileVersion)
        __builtin_trap();
}

void version1(std::span<const std::uint8_t> bytes) {
    static tn::StatRecords records;
    records = untouched();
    std::int64_t saveTime = 0;
    if (!tn::decodeStatFileV1(bytes, records, saveTime)) {
        if (bytes.size() == tn::kStatFileV1Size || !same(records, untouched()))
            __builtin_trap();
        return;
    }
    if (!upperCountersAre(records, kSentinel))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    std::int32_t version = 0;
    if (tn::statFileVersion(input, version) != (size >= 4))
        __builtin_trap();
    version2(input);
    version1(input);
    // The load's verdict: no problem exactly when the bytes are a whole file of version 1 or 2.
    const bool whole = size >= 4 && ((version == 1 && size == tn::kStatFileV1Size) ||
                                     (version == 2 && size == tn::kStatFileV2Size));
    if (tn::statFileProblem(input).empty() != whole)
        __builtin_trap();
    // The same bytes cut or padded to each version's size.
    static std::array<std::uint8_t, tn::kStatFileV1Size> padded;
    const std::size_t n = std::min(size, padded.size());
    if (n > 0)
        std::memcpy(padded.data(), data, n);
    std::fill(padded.begin() + static_cast<std::ptrdiff_t>(n), padded.end(), std::uint8_t{0});
    version2(std::span<const std::uint8_t>(padded).first(tn::kStatFileV2Size));
    version1(padded);
    return 0;
}
