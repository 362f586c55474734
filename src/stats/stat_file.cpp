#include "stats/stat_file.h"

namespace tn {

namespace {

constexpr std::size_t kRecordV2 = 96;
constexpr std::size_t kRecordV1 = 136;
constexpr std::uint8_t kTag[4] = {0xC0, 0xEA, 0x45, 0x00};

void putLe(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint64_t getLe(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

template <std::size_t N>
void putArray(std::vector<std::uint8_t>& out, const std::array<CounterArray, N>& recs) {
    for (const CounterArray& r : recs) {
        out.insert(out.end(), std::begin(kTag), std::end(kTag));
        putLe(out, 0, 4);
        for (std::uint64_t c : r)
            putLe(out, c, 8);
    }
}

// Counters `first` .. `first + count - 1` of each record, `skip` bytes into each stored record.
template <std::size_t N>
const std::uint8_t* getArray(const std::uint8_t* p, std::array<CounterArray, N>& recs,
                             std::size_t recordSize, std::size_t skip, std::size_t count) {
    for (CounterArray& r : recs) {
        for (std::size_t k = 0; k < count; ++k)
            r[k] = getLe(p + skip + 8 * k, 8);
        p += recordSize;
    }
    return p;
}

} // namespace

std::vector<std::uint8_t> encodeStatFile(const StatRecords& records, std::int64_t saveTime) {
    std::vector<std::uint8_t> out;
    out.reserve(kStatFileV2Size);
    putLe(out, static_cast<std::uint32_t>(kStatFileVersion), 4);
    putArray(out, records.daysReceived);
    putArray(out, records.daysSent);
    putArray(out, records.monthsReceived);
    putArray(out, records.monthsSent);
    putLe(out, static_cast<std::uint64_t>(saveTime), 8);
    return out;
}

bool statFileVersion(std::span<const std::uint8_t> bytes, std::int32_t& version) {
    if (bytes.size() < 4)
        return false;
    version = static_cast<std::int32_t>(static_cast<std::uint32_t>(getLe(bytes.data(), 4)));
    return true;
}

std::string statFileProblem(std::span<const std::uint8_t> bytes) {
    std::int32_t version = 0;
    if (!statFileVersion(bytes, version))
        return std::to_string(bytes.size()) + " bytes hold no version";
    if (version != 1 && version != 2)
        return "unknown version " + std::to_string(version);
    const std::size_t expected = version == 2 ? kStatFileV2Size : kStatFileV1Size;
    if (bytes.size() != expected)
        return std::to_string(bytes.size()) + " bytes do not fit version " +
               std::to_string(version);
    return {};
}

namespace {

// Both versions hold the four arrays in the same order after the version field, then the save
// time; only the record size and where the counters sit in a record differ.
bool decodeStatFile(std::span<const std::uint8_t> bytes, std::size_t fileSize,
                    std::size_t recordSize, std::size_t counterOffset, std::size_t counters,
                    StatRecords& records, std::int64_t& saveTime) {
    if (bytes.size() != fileSize)
        return false;
    const std::uint8_t* p = bytes.data() + 4;
    p = getArray(p, records.daysReceived, recordSize, counterOffset, counters);
    p = getArray(p, records.daysSent, recordSize, counterOffset, counters);
    p = getArray(p, records.monthsReceived, recordSize, counterOffset, counters);
    p = getArray(p, records.monthsSent, recordSize, counterOffset, counters);
    saveTime = static_cast<std::int64_t>(getLe(p, 8));
    return true;
}

} // namespace

bool decodeStatFileV2(std::span<const std::uint8_t> bytes, StatRecords& records,
                      std::int64_t& saveTime) {
    return decodeStatFile(bytes, kStatFileV2Size, kRecordV2, 8, 11, records, saveTime);
}

bool decodeStatFileV1(std::span<const std::uint8_t> bytes, StatRecords& records,
                      std::int64_t& saveTime) {
    return decodeStatFile(bytes, kStatFileV1Size, kRecordV1, 88, 6, records, saveTime);
}

} // namespace tn
