#pragma once
#include <cstddef>
#include <cstdint>

namespace tn {

// A local calendar date, as the day and month records know it.
struct CivilDate {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
};
// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(const CivilDate& d);
CivilDate civilFromDays(std::int64_t days);

// The records' date rule: calls `clearDay(i)` (0..30) and `clearMonth(i)` (0..11) for every day
// and month record whose date lies after `from` and up to `to`. Nothing when `to` is not after
// `from`, so a clock set back never wipes a record. Two months or more apart, every day goes.
template <class ClearDay, class ClearMonth>
void clearDatesAfter(const CivilDate& from, const CivilDate& to, ClearDay clearDay,
                     ClearMonth clearMonth) {
    // Any 60 consecutive dates hold every day of the month (the longest gap between two 29ths,
    // 30ths or 31sts is January to March), so a longer stretch clears every day record.
    constexpr std::int64_t kAllDaysSpan = 62;
    const std::int64_t first = daysFromCivil(from);
    const std::int64_t last = daysFromCivil(to);
    if (last <= first)
        return;
    if (last - first >= kAllDaysSpan) {
        for (int i = 0; i < 31; ++i)
            clearDay(i);
    } else {
        for (std::int64_t d = first + 1; d <= last; ++d)
            clearDay(civilFromDays(d).day - 1);
    }
    const std::int64_t firstMonth = static_cast<std::int64_t>(from.year) * 12 + (from.month - 1);
    const std::int64_t lastMonth = static_cast<std::int64_t>(to.year) * 12 + (to.month - 1);
    for (std::int64_t m = firstMonth + 1; m <= lastMonth && m <= firstMonth + 12; ++m)
        clearMonth(static_cast<int>(((m % 12) + 12) % 12));
}

} // namespace tn
