#pragma once
// Reading NetFalls.dat, the outage log: 16-byte little-endian records (start, stop), each a
// signed 64-bit count of seconds since 1970, in the order they were appended.
//
//   auto log = readOutageFile(global.dataFile(kOutageFileName), clock);
//   if (!log) -> no file (nothing recorded yet): empty list, totals untouched
//   log->records  -> the records read, in file order
//   log->invalid  -> reading stopped at a bad value or a failed read; ask about deleting
//
// A trailing half record reads as an outage whose stop equals its start; a file that ends
// inside the stop value replaces only the leading bytes of the start value.
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <vector>

namespace tn {

class IClock;

inline constexpr const char* kOutageFileName = "NetFalls.dat";
// The largest time value a record may hold (one less than the last one the Windows local-time
// conversion accepts).
inline constexpr std::int64_t kMaxOutageTime = 32535244798;

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

OutageLog readOutageRecords(std::istream& in, const IClock& clock);
// Empty when the file cannot be opened.
std::optional<OutageLog> readOutageFile(const std::filesystem::path& file, const IClock& clock);

} // namespace tn
