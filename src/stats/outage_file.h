#pragma once
// Reading NetFalls.dat, the outage log: 16-byte little-endian records (start, stop), each a
// signed 64-bit count of seconds since 1970, in the order they were appended.
//
//   auto log = readOutageFile(files, global.dataFile(kOutageFileName), clock);
//   if (!log) -> no file (nothing recorded yet): empty list, totals untouched
//   log->records  -> the records read, in file order
//   log->invalid  -> reading stopped at a bad value or a failed read; ask about deleting
//
// A trailing half record reads as an outage whose stop equals its start; a file that ends
// inside the stop value replaces only the leading bytes of the start value.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace tn {

class IClock;
class IFileStore;
enum class AppendStatus;
struct AppendResult;

inline constexpr const char* kOutageFileName = "NetFalls.dat";
// The largest time value a record may hold (one less than the last one the Windows local-time
// conversion accepts).
inline constexpr std::int64_t kMaxOutageTime = 32535244798;
inline constexpr std::size_t kOutageRecordBytes = 16;
// Four million outages; a larger file is not read into memory.
inline constexpr std::size_t kMaxOutageFileBytes = 64 * 1024 * 1024;

struct OutageRecord {
    std::int64_t start = 0;
    std::int64_t stop = 0;
    // Seconds, negative when the clock was set back during the outage.
    std::int64_t duration() const { return stop - start; }
    bool operator==(const OutageRecord&) const = default;
};

struct OutageLog {
    std::vector<OutageRecord> records;
    bool invalid = false;
};

// 0..kMaxOutageTime and convertible to local time.
bool isValidOutageTime(std::int64_t t, const IClock& clock);

// The record as it is stored: start, then stop, each little-endian.
std::array<std::uint8_t, kOutageRecordBytes> encodeOutageRecord(const OutageRecord& record);
OutageLog decodeOutageRecords(std::span<const std::uint8_t> bytes, const IClock& clock);
// Empty when the file does not exist or cannot be opened; a file too large to be an outage
// list reads as invalid.
std::optional<OutageLog> readOutageFile(IFileStore& files, const std::filesystem::path& file,
                                        const IClock& clock);
// Appends one record to the outage file, whole or not at all.
AppendResult appendOutageRecord(IFileStore& files, const std::filesystem::path& file,
                                const OutageRecord& record);

} // namespace tn
