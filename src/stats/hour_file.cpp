#include "stats/hour_file.h"

#include "platform/clock.h"

#include <cstring>

namespace tn {

namespace {

constexpr std::uint8_t kMagic[4] = {'T', 'N', 'H', 'R'};

void put64(std::uint8_t*& p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        *p++ = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t get64(const std::uint8_t*& p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    p += 8;
    return v;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

int hourSlot(std::int64_t start) {
    const std::int64_t h = floorDiv(start, 3600) % kHourSlots;
    return static_cast<int>(h < 0 ? h + kHourSlots : h);
}

std::optional<std::int64_t> localHourStart(const IClock& clock, std::int64_t t) {
    const auto lt = clock.toLocal(t);
    if (!lt || lt->minute < 0 || lt->minute > 59 || lt->second < 0 || lt->second > 60)
        return std::nullopt;
    // A leap second counts as the hour's last.
    const int second = lt->second > 59 ? 59 : lt->second;
    return t - lt->minute * 60 - second;
}

std::vector<std::uint8_t> encodeHourFile(const HourRecords& hours) {
    std::vector<std::uint8_t> out(kHourFileSize);
    std::uint8_t* p = out.data();
    std::memcpy(p, kMagic, 4);
    p += 4;
    for (int i = 0; i < 4; ++i)
        *p++ = static_cast<std::uint8_t>(static_cast<std::uint32_t>(kHourFileVersion) >> (8 * i));
    for (const HourRecord& h : hours) {
        put64(p, static_cast<std::uint64_t>(h.start));
        for (std::uint64_t c : h.sent)
            put64(p, c);
        for (std::uint64_t c : h.received)
            put64(p, c);
    }
    return out;
}

std::string hourFileProblem(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kHourFileSize)
        return "has " + std::to_string(bytes.size()) + " bytes, not " +
               std::to_string(kHourFileSize);
    if (std::memcmp(bytes.data(), kMagic, 4) != 0)
        return "not an hours file";
    const std::uint32_t version =
        static_cast<std::uint32_t>(bytes[4]) | static_cast<std::uint32_t>(bytes[5]) << 8 |
        static_cast<std::uint32_t>(bytes[6]) << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
    if (version != static_cast<std::uint32_t>(kHourFileVersion))
        return "an unknown version " + std::to_string(version);
    // A slot holding an hour that belongs elsewhere was not written by this program.
    const std::uint8_t* p = bytes.data() + 8;
    for (int i = 0; i < kHourSlots; ++i) {
        const std::uint8_t* q = p;
        const auto start = static_cast<std::int64_t>(get64(q));
        if (start != 0 && (start < 0 || start > kMaxHourStart))
            return "an hour outside the years 1970 to 9999";
        // Every zone's offset is a whole number of quarter hours, so is every hour's start.
        if (start % 900 != 0)
            return "an hour that starts at no quarter hour";
        if (start != 0 && hourSlot(start) != i)
            return "an hour out of its place";
        p += kHourRecordSize;
    }
    return {};
}

bool decodeHourFile(std::span<const std::uint8_t> bytes, HourRecords& hours) {
    if (!hourFileProblem(bytes).empty())
        return false;
    const std::uint8_t* p = bytes.data() + 8;
    for (HourRecord& h : hours) {
        h.start = static_cast<std::int64_t>(get64(p));
        for (std::uint64_t& c : h.sent)
            c = get64(p);
        for (std::uint64_t& c : h.received)
            c = get64(p);
    }
    return true;
}

std::vector<HourRow> lastHours(const HourRecords& hours, const IClock& clock, std::int64_t now) {
    std::vector<HourRow> rows;
    const auto current = localHourStart(clock, now);
    if (!current || *current < kHourSlots * 3600 || *current > kMaxHourStart)
        return rows;
    for (int back = kHourSlots - 1; back >= 0; --back) {
        HourRow row;
        row.start = *current - static_cast<std::int64_t>(back) * 3600;
        const auto lt = clock.toLocal(row.start);
        if (!lt)
            return {};
        row.local = *lt;
        const HourRecord& h = hours[static_cast<std::size_t>(hourSlot(row.start))];
        if (h.start == row.start) {
            row.sent = h.sent;
            row.received = h.received;
        }
        rows.push_back(row);
    }
    return rows;
}

} // namespace tn
