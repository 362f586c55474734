#include "stats/outage_list.h"

#include "app/file_failures.h"
#include "app/formats.h"
#include "platform/clock.h"

#include <cstdint>
#include <cstdio>

namespace tn {

namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};

// 0 for Sunday; proleptic Gregorian calendar.
int weekday(int y, int m, int d) {
    static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3)
        y -= 1;
    const int w = (y + y / 4 - y / 100 + y / 400 + kOffsets[m - 1] + d) % 7;
    return w < 0 ? w + 7 : w;
}

CalendarDate dateOf(const LocalTime& lt) {
    return {lt.year, lt.month, lt.day};
}

} // namespace

std::optional<std::int32_t> parseMinimumDuration(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

bool outagePasses(const OutageRecord& rec, const OutageQuery& query, const IClock& clock) {
    if (query.filter == OutageFilter::All)
        return true;
    const std::optional<LocalTime> start = clock.toLocal(rec.start);
    if (!start)
        return false;
    if (query.filter == OutageFilter::MoreFilters) {
        const std::optional<LocalTime> stop = clock.toLocal(rec.stop);
        if (!stop)
            return false;
        // Local midnights rise with the calendar date, so comparing dates compares the days.
        const CalendarDate a = dateOf(*start);
        const CalendarDate b = dateOf(*stop);
        if (a < query.firstDay || a > query.lastDay || b < query.firstDay || b > query.lastDay)
            return false;
        return rec.duration() >= std::int64_t{query.minDuration};
    }
    const std::optional<LocalTime> now = clock.toLocal(query.now);
    if (!now)
        return false;
    const bool sameMonth = start->year == now->year && start->month == now->month;
    switch (query.filter) {
    case OutageFilter::LastDay:
        return sameMonth && start->day == now->day;
    case OutageFilter::LastWeek:
        // Bounded by the calendar month: on the 3rd only the 1st to the 3rd qualify.
        return sameMonth && now->day - start->day <= 6;
    case OutageFilter::LastMonth:
        return sameMonth;
    default:
        return true;
    }
}

std::string formatOutageDate(const LocalTime& lt) {
    if (lt.month < 1 || lt.month > 12)
        return {};
    char buf[128];
    const int n =
        std::snprintf(buf, sizeof buf, "%s, %s %02d, %04d %02d:%02d:%02d",
                      kWeekdays[static_cast<std::size_t>(weekday(lt.year, lt.month, lt.day))],
                      kMonths[static_cast<std::size_t>(lt.month - 1)], lt.day, lt.year, lt.hour,
                      lt.minute, lt.second);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf)
        return {};
    return buf;
}

std::string formatOutageDate(std::int64_t t, const IClock& clock) {
    const std::optional<LocalTime> lt = clock.toLocal(t);
    return lt ? formatOutageDate(*lt) : std::string{};
}

std::string outageCell(const OutageRecord& rec, std::size_t index, int column,
                       const IClock& clock) {
    switch (column) {
    case 0:
        return std::to_string(index + 1);
    case 1:
        return formatOutageDate(rec.start, clock);
    case 2:
        return formatOutageDate(rec.stop, clock);
    case 3:
        return formatTimeSpan("%H:%M:%S", rec.duration());
    default:
        return {};
    }
}

std::string outageTotalText(std::int64_t seconds) {
    return formatTimeSpan("%D:%H:%M:%S", seconds);
}

OutageListLoad filterOutages(const OutageLog& log, const OutageQuery& query, const IClock& clock) {
    OutageListLoad out;
    out.opened = true;
    out.invalid = log.invalid;
    for (const OutageRecord& rec : log.records) {
        if (!outagePasses(rec, query, clock))
            continue;
        out.rows.push_back(rec);
        out.totalSeconds += rec.duration();
    }
    return out;
}

OutageListLoad loadOutageList(IFileStore& files, const std::filesystem::path& file,
                              const OutageQuery& query, const IClock& clock) {
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::symlink_status(file, ec);
    if (ec || !std::filesystem::exists(st))
        return {};
    if (!std::filesystem::is_regular_file(st)) {
        OutageListLoad bad;
        bad.opened = true;
        bad.invalid = true;
        bad.notRegular = true;
        return bad;
    }
    const std::optional<OutageLog> log = readOutageFile(files, file, clock);
    if (!log)
        return {};
    return filterOutages(*log, query, clock);
}

SetAsideResult setAsideInvalidOutageFile(IFileStore& files, const std::filesystem::path& file,
                                         const IClock& clock) {
    return files.setAside(file, setAsideStamp(clock), kKeptBadFiles);
}

namespace {
void appendPadded(std::string& out, const std::string& text, std::size_t width) {
    out += text;
    if (text.size() < width)
        out.append(width - text.size(), ' ');
    out += " | ";
}
} // namespace

std::string outageExportText(const std::vector<OutageRecord>& rows, const IClock& clock,
                             std::string_view totalText) {
    static constexpr std::array<std::size_t, 4> kWidths = {3, 40, 40, 9};
    std::string out;
    out.reserve(128 + rows.size() * 112);
    out += kExportBanner;
    out += kHomePageAddress;
    out += "\r\n\r\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (int c = 0; c < 4; ++c)
            appendPadded(out, outageCell(rows[i], i, c, clock),
                         kWidths[static_cast<std::size_t>(c)]);
        out += "\r\n";
    }
    out += kExportTotalPrefix;
    out += totalText;
    out += kExportTotalSuffix;
    return out;
}

} // namespace tn
