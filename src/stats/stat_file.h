#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tn {

// The eleven counters of one day or month record, in category order.
using CounterArray = std::array<std::uint64_t, 11>;

// The 86 records as they are stored: file order is received before sent.
struct StatRecords {
    std::array<CounterArray, 31> daysReceived{};
    std::array<CounterArray, 31> daysSent{};
    std::array<CounterArray, 12> monthsReceived{};
    std::array<CounterArray, 12> monthsSent{};
    bool operator==(const StatRecords&) const = default;
};

inline constexpr std::size_t kStatFileV2Size = 8268;
inline constexpr std::size_t kStatFileV1Size = 11708;
inline constexpr std::int32_t kStatFileVersion = 2;

// The version-2 file, byte for byte: version, the four arrays (each record tagged C0 EA 45 00,
// four zero bytes, eleven little-endian counters), the save time.
std::vector<std::uint8_t> encodeStatFile(const StatRecords& records, std::int64_t saveTime);
// The version field of a file; false when it is shorter than four bytes.
bool statFileVersion(std::span<const std::uint8_t> bytes, std::int32_t& version);
// Why bytes read as stat.dat cannot be loaded; empty when they hold a whole version-1 or
// version-2 file.
std::string statFileProblem(std::span<const std::uint8_t> bytes);
// Reads a version-2 file of exactly kStatFileV2Size bytes; false for any other length.
bool decodeStatFileV2(std::span<const std::uint8_t> bytes, StatRecords& records,
                      std::int64_t& saveTime);
// Reads a version-1 file of exactly kStatFileV1Size bytes into counters 0 to 5 of every
// record, leaving counters 6 to 10 as they are; false for any other length.
bool decodeStatFileV1(std::span<const std::uint8_t> bytes, StatRecords& records,
                      std::int64_t& saveTime);

} // namespace tn
