#pragma once
#include "platform/clock.h"
#include "stats/data_plan.h"
#include "stats/hour_file.h"
#include "stats/stat_file.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tn {

class IFileStore;
struct PlatformServices;

// The history as the terminal report reads it: the records of stat.dat (or stat.bak) and when
// they were saved.
struct ReportHistory {
    StatRecords records;
    std::int64_t saveTime = 0;
    bool haveSaveTime = false; // a version-1 file may lack one
    std::filesystem::path file;
    // Frames the capture dropped, as a running program last wrote them to TN.log.
    std::optional<std::uint64_t> framesDropped;
    std::string droppedLogged; // "YYYY-MM-DD HH:MM:SS" of that line
    // The last 48 hours (hours.dat), read when asked for; `hoursWhy` says why there are none.
    std::optional<HourRecords> hours;
    std::string hoursWhy;
    // The data plan of the settings file, when one is set.
    std::optional<DataPlan> plan;
    PlanCarry planCarry;
};

// Reads the plan from the settings file's text without writing; empty without a plan or a
// readable file.
std::optional<DataPlan> readReportPlan(IFileStore& files, const std::filesystem::path& settingsFile,
                                       PlanCarry& carry);

// What the terminal asked for.
struct ReportOptions {
    bool json = false;
    bool hours = false; // --hours: the last 48 hours too
};

// Reads hours.dat in `folder` without writing; empty with `why` set when it holds no hours.
std::optional<HourRecords> readReportHours(IFileStore& files, const std::filesystem::path& folder,
                                           std::string& why);

// The TN.log line a running program writes while its capture drops frames, and its reading:
// the newest such line of a log's bytes, or nothing.
std::string captureDropsLogText(std::uint64_t frames);
bool lastLoggedDrops(std::string_view log, std::uint64_t& frames, std::string& logged);

// Reads stat.dat in `folder`, or stat.bak when stat.dat is missing or cannot be decoded, with
// the program's own decoder; never writes. Empty with `why` set when neither holds a history.
std::optional<ReportHistory>
readReportHistory(IFileStore& files, const std::filesystem::path& folder, std::string& why);

// Clears in the copy the days and months that lie after the save and up to `today`, as the
// program does when it starts: their records belong to an earlier cycle.
void clearStaleForReport(StatRecords& records, const std::optional<LocalTime>& saved,
                         const LocalTime& today);

// Today's and this month's sent, received and total bytes per category, the days of this month
// and the last twelve months: in the program's byte format, or as JSON with exact counts.
std::string reportText(const ReportHistory& history, const IClock& clock,
                       const std::string& version);
std::string reportJson(const ReportHistory& history, const IClock& clock);
// The last 48 hours, oldest first, as a table or as a JSON array (or null without hours).
std::string reportHoursText(const ReportHistory& history, const IClock& clock);
std::string reportHoursJson(const ReportHistory& history, const IClock& clock);

// A JSON string of `s`, quoted, with quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& s);

// `tallynet --report [--json]`: the exit code; the report goes to `out`, a failure to `err`.
int runReport(const PlatformServices& os, bool json, const std::string& version, std::string& out,
              std::string& err);
int runReport(const PlatformServices& os, const ReportOptions& options, const std::string& version,
              std::string& out, std::string& err);

} // namespace tn
