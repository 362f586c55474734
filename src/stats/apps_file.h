#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tn {

// One program's bytes in one day or month record.
struct AppUsage {
    std::string name;
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
    std::uint64_t total() const { return sent + received; }
    bool operator==(const AppUsage&) const = default;
};

// The traffic per program: 31 day records (day 1 first) and 12 month records (January first).
struct AppRecords {
    std::array<std::vector<AppUsage>, 31> days;
    std::array<std::vector<AppUsage>, 12> months;
    bool operator==(const AppRecords&) const = default;
};

inline constexpr std::int32_t kAppsFileVersion = 1;
// Programs a record keeps by name; the rest are summed under kOtherPrograms.
inline constexpr std::size_t kAppsPerRecord = 64;
inline constexpr std::size_t kMaxAppName = 255;
inline constexpr const char* kOtherPrograms = "Other programs";
inline constexpr const char* kNotAProgram = "Not a program of this computer";
// The largest file a reader takes: 43 full records of the longest names.
inline constexpr std::size_t kAppsFileMaxSize =
    16 + 43 * (2 + (kAppsPerRecord + 1) * (1 + kMaxAppName + 16));

// Biggest first (ties by name), at most kAppsPerRecord names, the rest summed as
// "Other programs" at the end. Entries without traffic are dropped.
std::vector<AppUsage> boundedRecord(std::vector<AppUsage> record);

// apps.dat: "TNAP", version (32-bit), save time (64-bit), then the 43 records in order, each a
// 16-bit count and that many entries of a name (8-bit length, 1..255 bytes) and the bytes sent
// and received (64-bit). Little-endian throughout. Records are bounded on the way out.
std::vector<std::uint8_t> encodeAppsFile(const AppRecords& records, std::int64_t saveTime);
// Why bytes read as apps.dat cannot be loaded; empty when they decode. `records` and `saveTime`
// are set only then.
std::string decodeAppsFile(std::span<const std::uint8_t> bytes, AppRecords& records,
                           std::int64_t& saveTime);

} // namespace tn
