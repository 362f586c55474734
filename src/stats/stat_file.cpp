#include "stats/stat_file.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tn {

namespace {

constexpr std::size_t kRecordV2 = 96;
constexpr std::size_t kRecordV1 = 136;
constexpr std::uint8_t kTag[4] = {0xC0, 0xEA, 0x45, 0x00};
static_assert(4 + 86 * kRecordV2 + 8 == kStatFileV2Size);
static_assert(4 + 86 * kRecordV1 + 8 == kStatFileV1Size);

// The file is little-endian, like every machine the program runs on so far: there a record's
// counters are copied whole, so a save or a load moves 86 blocks instead of 8,000 bytes one
// by one (the fuzzer runs both for every input).
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

std::uint8_t* put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return p + 4;
}

std::uint32_t get32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

std::uint8_t* put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, static_cast<std::uint32_t>(v));
    return put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

std::uint64_t get64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(get32(p)) | static_cast<std::uint64_t>(get32(p + 4)) << 32;
}

template <std::size_t N>
std::uint8_t* putArray(std::uint8_t* p, const std::array<CounterArray, N>& recs) {
    for (const CounterArray& r : recs) {
        p = std::copy(std::begin(kTag), std::end(kTag), p);
        p = put32(p, 0);
        if constexpr (kLittleEndian) {
            std::memcpy(p, r.data(), sizeof r);
            p += sizeof r;
        } else {
            for (std::uint64_t c : r)
                p = put64(p, c);
        }
    }
    return p;
}

// Counters 0 .. `count` - 1 of each record, `skip` bytes into each stored record.
template <std::size_t N>
const std::uint8_t* getArray(const std::uint8_t* p, std::array<CounterArray, N>& recs,
                             std::size_t recordSize, std::size_t skip, std::size_t count) {
    for (CounterArray& r : recs) {
        if constexpr (kLittleEndian) {
            std::memcpy(r.data(), p + skip, 8 * count);
        } else {
            for (std::size_t k = 0; k < count; ++k)
                r[k] = get64(p + skip + 8 * k);
        }
        p += recordSize;
    }
    return p;
}

} // namespace

std::vector<std::uint8_t> encodeStatFile(const StatRecords& records, std::int64_t saveTime) {
    std::vector<std::uint8_t> out(kStatFileV2Size);
    std::uint8_t* p = put32(out.data(), static_cast<std::uint32_t>(kStatFileVersion));
    p = putArray(p, records.daysReceived);
    p = putArray(p, records.daysSent);
    p = putArray(p, records.monthsReceived);
    p = putArray(p, records.monthsSent);
    put64(p, static_cast<std::uint64_t>(saveTime));
    return out;
}

bool statFileVersion(std::span<const std::uint8_t> bytes, std::int32_t& version) {
    if (bytes.size() < 4)
        return false;
    version = static_cast<std::int32_t>(get32(bytes.data()));
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
    saveTime = static_cast<std::int64_t>(get64(p));
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
