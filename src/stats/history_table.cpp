#include "stats/history_table.h"

#include "app/formats.h"
#include "platform/clock.h"

#include <cstdio>
#include <optional>

namespace tn {

namespace {

constexpr const char* kMonthNames[12] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
constexpr const char* kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

std::uint64_t recordSum(const CounterArray& a) {
    std::uint64_t sum = 0;
    for (std::uint64_t c : a)
        sum += c;
    return sum;
}

// Day of the week of a proleptic Gregorian date, 0 for Sunday.
int weekday(int year, int month, int day) {
    // Days since 1970-01-01 (a Thursday), after Howard Hinnant's days_from_civil.
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
    const long long w = (days + 4) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

std::optional<LocalTime> today(const IClock& clock) {
    const auto lt = clock.toLocal(clock.now());
    if (!lt || lt->month < 1 || lt->month > 12 || lt->day < 1 || lt->day > 31)
        return std::nullopt;
    return lt;
}

} // namespace

std::uint64_t historyDayTotal(const StatRecords& records, int day) {
    if (day < 1 || day > 31)
        return 0;
    const auto i = static_cast<std::size_t>(day - 1);
    return recordSum(records.daysSent[i]) + recordSum(records.daysReceived[i]);
}

std::uint64_t historyMonthTotal(const StatRecords& records, int month) {
    if (month < 1 || month > 12)
        return 0;
    const auto i = static_cast<std::size_t>(month - 1);
    return recordSum(records.monthsSent[i]) + recordSum(records.monthsReceived[i]);
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    if (month == 2 && (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)))
        return 29;
    return kDays[month - 1];
}

std::string formatLongDate(int year, int month, int day) {
    if (day < 1 || day > daysInMonth(year, month))
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "%s, %s %02d, %d", kDayNames[weekday(year, month, day)],
                  kMonthNames[month - 1], day, year);
    return text;
}

std::string formatMonthTitle(int year, int month) {
    if (month < 1 || month > 12)
        return {};
    return std::string(kMonthNames[month - 1]) + "  , " + std::to_string(year);
}

HistoryTable::HistoryTable(const IClock& clock) : m_clock(clock) {
    for (auto& row : m_cells)
        row.fill(kInitialCell);
}

const std::string& HistoryTable::cell(int row, int column) const {
    return m_cells.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column));
}

HistoryChartFill HistoryTable::fillChart(const StatRecords* records) {
    HistoryChartFill fill;
    const auto now = today(m_clock);
    if (!records || !now)
        return fill;
    m_year = now->year;
    m_selectedMonth = now->month;
    m_selectedDay = now->day;
    if (m_dayView) {
        const int days = daysInMonth(now->year, now->month);
        for (int d = 1; d <= days; ++d) {
            const std::uint64_t total = historyDayTotal(*records, d);
            fill.values.push_back({static_cast<double>(total), std::to_string(d)});
            // The day table is a ring: a day after today still holds last month's count.
            if (d > now->day && total != 0)
                m_previousMonth = true;
        }
        fill.selected = now->day - 1;
    } else {
        for (int m = 1; m <= 12; ++m)
            fill.values.push_back(
                {static_cast<double>(historyMonthTotal(*records, m)), std::to_string(m)});
        fill.selected = now->month - 1;
    }
    return fill;
}

void HistoryTable::fillTable(const StatRecords* records, int customField,
                             const std::string& customName) {
    if (!records)
        return;
    const CounterArray* sent = nullptr;
    const CounterArray* received = nullptr;
    if (m_dayView) {
        if (m_selectedDay >= 1 && m_selectedDay <= 31) {
            sent = &records->daysSent[static_cast<std::size_t>(m_selectedDay - 1)];
            received = &records->daysReceived[static_cast<std::size_t>(m_selectedDay - 1)];
        }
    } else if (m_selectedMonth == 0) {
        m_title = "n/a";
    } else if (m_selectedMonth >= 1 && m_selectedMonth <= 12) {
        sent = &records->monthsSent[static_cast<std::size_t>(m_selectedMonth - 1)];
        received = &records->monthsReceived[static_cast<std::size_t>(m_selectedMonth - 1)];
        m_title = formatMonthTitle(m_year, m_selectedMonth);
    }
    showRecord(sent, received, customField, customName);
}

void HistoryTable::showRecord(const CounterArray* sent, const CounterArray* received,
                              int customField, const std::string& customName) {
    std::uint64_t sentSum = 0;
    std::uint64_t receivedSum = 0;
    if (sent && received) {
        for (std::size_t k = 0; k < 11; ++k) {
            m_texts[0][k] = formatBytes64((*sent)[k]);
            m_texts[1][k] = formatBytes64((*received)[k]);
            m_texts[2][k] = formatBytes64((*sent)[k] + (*received)[k]);
            sentSum += (*sent)[k];
            receivedSum += (*received)[k];
        }
    }
    auto& total = m_cells[kHistoryTotalRow];
    total[0] = formatBytes64(sentSum);
    total[1] = formatBytes64(receivedSum);
    total[2] = formatBytes64(sentSum + receivedSum);
    for (int r = 0; r < kHistoryCustomRow; ++r) {
        const auto k = static_cast<std::size_t>(kHistoryRows[static_cast<std::size_t>(r)].category);
        for (std::size_t c = 0; c < 3; ++c)
            m_cells[static_cast<std::size_t>(r)][c] = m_texts[c][k];
    }
    if (customField != 0) {
        m_customLabel = customName;
        for (std::size_t c = 0; c < 3; ++c)
            m_cells[kHistoryCustomRow][c] = m_texts[c][7];
    } else {
        m_customLabel = "Custom";
    }
}

void HistoryTable::selectBar(int index, const StatRecords* records, int customField,
                             const std::string& customName) {
    if (!m_dayView) {
        m_selectedMonth = index + 1;
        if (m_selectedMonth >= 0)
            fillTable(records, customField, customName);
        return;
    }
    if (index < 0)
        return;
    m_selectedDay = index + 1;
    const auto now = today(m_clock);
    if (!now)
        return;
    const int previousMonth = now->month == 1 ? 12 : now->month - 1;
    const int previousYear = now->month == 1 ? now->year - 1 : now->year;
    const int p = daysInMonth(previousYear, previousMonth);
    if (m_previousMonth && m_selectedDay > now->day && m_selectedDay <= p)
        m_title = formatLongDate(previousYear, previousMonth, m_selectedDay);
    else if (m_selectedDay <= now->day || m_selectedDay > p)
        m_title = formatLongDate(m_year, m_selectedMonth, m_selectedDay);
    else
        m_title.clear();
    fillTable(records, customField, customName);
}

std::string HistoryTable::formatHourTitle(const LocalTime& start) {
    char hours[32];
    std::snprintf(hours, sizeof hours, "  %02d:00 - %02d:00", start.hour, (start.hour + 1) % 24);
    return formatLongDate(start.year, start.month, start.day) + hours;
}

HistoryChartFill HistoryTable::fillHourChart(const HourRecords* hours, int customField,
                                             const std::string& customName) {
    HistoryChartFill fill;
    m_hourRows.clear();
    m_selectedHour = -1;
    if (!hours)
        return fill;
    m_hourRows = lastHours(*hours, m_clock, m_clock.now());
    if (m_hourRows.empty())
        return fill;
    for (const HourRow& row : m_hourRows)
        fill.values.push_back({static_cast<double>(recordSum(row.sent) + recordSum(row.received)),
                               std::to_string(row.local.hour)});
    fill.selected = static_cast<int>(m_hourRows.size()) - 1;
    selectHour(fill.selected, customField, customName);
    return fill;
}

void HistoryTable::selectHour(int index, int customField, const std::string& customName) {
    if (index < 0 || index >= static_cast<int>(m_hourRows.size()))
        return;
    m_selectedHour = index;
    const HourRow& row = m_hourRows[static_cast<std::size_t>(index)];
    m_title = formatHourTitle(row.local);
    showRecord(&row.sent, &row.received, customField, customName);
}

} // namespace tn
