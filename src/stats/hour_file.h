#pragma once
#include "platform/clock.h"
#include "stats/stat_file.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tn {

class IClock;

// One hour of the categories' counters. `start` is the hour's first second (a local hh:00:00);
// 0 marks a slot that holds no hour.
struct HourRecord {
    std::int64_t start = 0;
    CounterArray sent{};
    CounterArray received{};
    bool operator==(const HourRecord&) const = default;
};

inline constexpr int kHourSlots = 48;
// Slot i holds the hour whose start lies in the i-th of the 48 hours of a cycle, so an hour
// has one place and a new hour clears the one two days before it.
using HourRecords = std::array<HourRecord, kHourSlots>;

// hours.dat: "TNHR", a little-endian version 1, then the 48 slots in order, each the start
// (signed 64-bit) and eleven sent and eleven received counters (unsigned 64-bit).
inline constexpr std::size_t kHourRecordSize = 8 + 22 * 8;
inline constexpr std::size_t kHourFileSize = 8 + kHourSlots * kHourRecordSize;
inline constexpr std::int32_t kHourFileVersion = 1;
// 9999-12-31 23:00 UTC: no hour this program counts lies later.
inline constexpr std::int64_t kMaxHourStart = 253402297200;

// The slot of an hour that starts at `start`.
int hourSlot(std::int64_t start);
// The first second of the local hour that holds `t`; empty without a calendar.
std::optional<std::int64_t> localHourStart(const IClock& clock, std::int64_t t);

std::vector<std::uint8_t> encodeHourFile(const HourRecords& hours);
// Why bytes read as hours.dat cannot be loaded; empty when they hold a whole file.
std::string hourFileProblem(std::span<const std::uint8_t> bytes);
// Reads a whole file; false (and `hours` untouched) when hourFileProblem finds one.
bool decodeHourFile(std::span<const std::uint8_t> bytes, HourRecords& hours);

// One of the last 48 hours as the viewer and the report show it.
struct HourRow {
    std::int64_t start = 0;
    LocalTime local;
    CounterArray sent{};
    CounterArray received{};
};
// The 48 hours up to and including the hour of `now`, oldest first; an hour the records do not
// hold shows zeros. Empty without a calendar.
std::vector<HourRow> lastHours(const HourRecords& hours, const IClock& clock, std::int64_t now);

} // namespace tn
