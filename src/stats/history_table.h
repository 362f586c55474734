#pragma once
#include "app/control_ids.h"
#include "stats/hour_file.h"
#include "stats/stat_file.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tn {

class IClock;

// One row of the history viewer's table: its label, the counter it shows and the identifiers of
// its three value cells. The TOTAL row sums all eleven counters (category -1).
struct HistoryRow {
    const char* label;
    int category;
    int uploadId;
    int downloadId;
    int totalId;
};

inline constexpr std::array<HistoryRow, 9> kHistoryRows{{
    {"Web", 0, ids::log_viewer::kWebUpload, ids::log_viewer::kWebDownload,
     ids::log_viewer::kWebTotal},
    {"Mail", 1, ids::log_viewer::kMailUpload, ids::log_viewer::kMailDownload,
     ids::log_viewer::kMailTotal},
    {"Ftp", 6, ids::log_viewer::kFtpUpload, ids::log_viewer::kFtpDownload,
     ids::log_viewer::kFtpTotal},
    {"Filesharing", 3, ids::log_viewer::kFilesharingUpload, ids::log_viewer::kFilesharingDownload,
     ids::log_viewer::kFilesharingTotal},
    {"News", 2, ids::log_viewer::kNewsUpload, ids::log_viewer::kNewsDownload,
     ids::log_viewer::kNewsTotal},
    {"Udp", 4, ids::log_viewer::kUdpUpload, ids::log_viewer::kUdpDownload,
     ids::log_viewer::kUdpTotal},
    {"Others", 5, ids::log_viewer::kOthersUpload, ids::log_viewer::kOthersDownload,
     ids::log_viewer::kOthersTotal},
    {"Custom", 7, ids::log_viewer::kCustomUpload, ids::log_viewer::kCustomDownload,
     ids::log_viewer::kCustomTotal},
    {"TOTAL", -1, ids::log_viewer::kTotalUpload, ids::log_viewer::kTotalDownload,
     ids::log_viewer::kTotalTotal},
}};
inline constexpr int kHistoryCustomRow = 7;
inline constexpr int kHistoryTotalRow = 8;
inline constexpr const char* kHistoryColumns[3] = {"Upload", "Download", "Total"};

// Day d (1..31) or month m (1..12) of the records, sent and received together, wrapping like
// the counters; 0 outside those ranges.
std::uint64_t historyDayTotal(const StatRecords& records, int day);
std::uint64_t historyMonthTotal(const StatRecords& records, int month);

// Calendar helpers of the viewer's titles, independent of the user's locale.
int daysInMonth(int year, int month);
// "%A, %B %d, %Y" of a date, e.g. "Tuesday, March 03, 2015"; empty for a date that does not
// exist.
std::string formatLongDate(int year, int month, int day);
// "%B  , %Y" of a month, e.g. "March  , 2015"; empty for a month outside 1..12.
std::string formatMonthTitle(int year, int month);

struct HistoryChartEntry {
    double value = 0.0;
    std::string label;
};

// What the chart shows after a fill: one value per day of this month or per month, and the
// bar of today or of this month selected.
struct HistoryChartFill {
    std::vector<HistoryChartEntry> values;
    int selected = -1;
};

// The rules of the traffic history viewer: which days or months the chart shows, which record
// the table shows, the chart's title and the texts of every cell. The viewer widget shows what
// this says. Records come as a snapshot of the statistics owner; a null snapshot means there is
// no owner, and then nothing is filled.
class HistoryTable {
public:
    static constexpr const char* kInitialCell = "...";
    static constexpr const char* kInitialTitle = "Today";

    explicit HistoryTable(const IClock& clock);

    bool dayView() const { return m_dayView; }
    void setDayView(bool on) { m_dayView = on; }
    // The third view: the last 48 hours, which come from their own records (hours.dat).
    bool hourView() const { return m_hourView; }
    void setHourView(bool on) { m_hourView = on; }

    // Takes today's date as the year, selected month and selected day, and gives the chart's
    // values. Empty (no values) without records or without a local date.
    HistoryChartFill fillChart(const StatRecords* records);
    // Sets every cell's text from the selected day or month; the month view also sets the
    // title. `customField` and `customName` are the settings of the custom category.
    void fillTable(const StatRecords* records, int customField, const std::string& customName);
    // The user chose bar `index` (-1 for none): sets the title and fills the table.
    void selectBar(int index, const StatRecords* records, int customField,
                   const std::string& customName);

    // The hour view's chart: 48 bars, oldest first, each labelled with its local hour; the
    // current hour selected and shown in the table.
    HistoryChartFill fillHourChart(const HourRecords* hours, int customField,
                                   const std::string& customName);
    // Bar `index` of the hour view (-1 for none): title and table of that hour.
    void selectHour(int index, int customField, const std::string& customName);
    const std::vector<HourRow>& hourRows() const { return m_hourRows; }
    // "Tuesday, December 08, 2026  14:00 - 15:00" of an hour.
    static std::string formatHourTitle(const LocalTime& start);

    const std::string& title() const { return m_title; }
    void setTitle(std::string title) { m_title = std::move(title); }
    // Row r of kHistoryRows, column 0 upload, 1 download, 2 total.
    const std::string& cell(int row, int column) const;
    const std::string& customLabel() const { return m_customLabel; }

    int selectedDay() const { return m_selectedDay; }
    int selectedMonth() const { return m_selectedMonth; }
    int year() const { return m_year; }
    bool previousMonthShown() const { return m_previousMonth; }

private:
    void showRecord(const CounterArray* sent, const CounterArray* received, int customField,
                    const std::string& customName);

    const IClock& m_clock;
    bool m_dayView = true;
    bool m_hourView = false;
    std::vector<HourRow> m_hourRows;
    int m_selectedHour = -1;
    int m_selectedDay = 1;
    int m_selectedMonth = 0;
    int m_year = 0;
    bool m_previousMonth = false;
    std::string m_title = kInitialTitle;
    std::string m_customLabel = "Custom";
    // Per category index: the formatted upload, download and total of the last record shown.
    std::array<std::array<std::string, 11>, 3> m_texts;
    std::array<std::array<std::string, 3>, kHistoryRows.size()> m_cells;
};

} // namespace tn
