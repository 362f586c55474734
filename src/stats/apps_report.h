#pragma once
#include "stats/apps_file.h"

#include <string>

namespace tn {

class IClock;
struct PlatformServices;

// Clears in the copy the day and month records that lie after the save and up to now, by the
// records' one date rule, as the program does when it loads apps.dat; false when the clock
// gives no date for now.
bool clearStaleApps(AppRecords& records, std::int64_t saveTime, const IClock& clock);

// Today's and this month's programs, biggest first: a table in the program's byte format, or
// JSON with exact counts.
std::string appsReportText(const AppRecords& records, const std::string& file,
                           std::int64_t saveTime, const IClock& clock, const std::string& version);
std::string appsReportJson(const AppRecords& records, const std::string& file,
                           std::int64_t saveTime, const IClock& clock);

// `tallynet --report --apps [--json]`: reads apps.dat, never writes; the exit code.
int runAppsReport(const PlatformServices& os, bool json, const std::string& version,
                  std::string& out, std::string& err);

} // namespace tn
