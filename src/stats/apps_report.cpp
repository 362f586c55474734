#include "stats/apps_report.h"

#include "app/formats.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "platform/paths.h"
#include "platform/platform_services.h"
#include "stats/record_dates.h"
#include "stats/report.h"

#include <cstdio>

namespace tn {

namespace {

std::string line(const std::string& name, const std::string& sent, const std::string& received,
                 const std::string& total) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "  %-34.34s%14s%14s%14s\n", name.c_str(), sent.c_str(),
                  received.c_str(), total.c_str());
    return buf;
}

void table(std::string& out, const std::string& title, const std::vector<AppUsage>& rows) {
    char head[128];
    std::snprintf(head, sizeof head, "%-36s%14s%14s%14s\n", title.c_str(), "Sent", "Received",
                  "Total");
    out += head;
    if (rows.empty())
        out += "  (no traffic)\n";
    for (const AppUsage& u : rows)
        out += line(u.name, formatBytes64(u.sent), formatBytes64(u.received),
                    formatBytes64(u.total()));
}

std::string programsJson(const std::vector<AppUsage>& rows) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
        out += (i ? "," : "") + std::string("{\"name\":") + jsonString(rows[i].name) +
               ",\"sent\":" + std::to_string(rows[i].sent) +
               ",\"received\":" + std::to_string(rows[i].received) +
               ",\"total\":" + std::to_string(rows[i].total()) + "}";
    return out + "]";
}

std::string isoDate(const LocalTime& d) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

} // namespace

bool clearStaleApps(AppRecords& r, std::int64_t saveTime, const IClock& clock) {
    const auto today = clock.toLocal(clock.now());
    if (!today)
        return false;
    const auto saved = clock.toLocal(saveTime);
    if (!saved || saved->month < 1 || saved->month > 12 || saved->day < 1 || saved->day > 31) {
        r = AppRecords{};
        return true;
    }
    clearDatesAfter(
        CivilDate{saved->year, saved->month, saved->day},
        CivilDate{today->year, today->month, today->day},
        [&r](int i) { r.days[static_cast<std::size_t>(i)].clear(); },
        [&r](int i) { r.months[static_cast<std::size_t>(i)].clear(); });
    return true;
}

std::string appsReportText(const AppRecords& r, const std::string& file, std::int64_t saveTime,
                           const IClock& clock, const std::string& version) {
    const auto d = clock.toLocal(clock.now());
    if (!d)
        return {};
    std::string out = "Tallynet " + version + " traffic per program, " + isoDate(*d) + "\n";
    out += "History: " + file;
    if (const auto s = clock.toLocal(saveTime)) {
        char buf[48];
        std::snprintf(buf, sizeof buf, ", saved %04d-%02d-%02d %02d:%02d", s->year, s->month,
                      s->day, s->hour, s->minute);
        out += buf;
    }
    out += "\n\n";
    table(out, "Today", boundedRecord(r.days[static_cast<std::size_t>(d->day - 1)]));
    out += "\n";
    char month[16];
    std::snprintf(month, sizeof month, "%04d-%02d", d->year, d->month);
    table(out, std::string("This month (") + month + ")",
          boundedRecord(r.months[static_cast<std::size_t>(d->month - 1)]));
    return out;
}

std::string appsReportJson(const AppRecords& r, const std::string& file, std::int64_t saveTime,
                           const IClock& clock) {
    const auto d = clock.toLocal(clock.now());
    if (!d)
        return {};
    char month[16];
    std::snprintf(month, sizeof month, "%04d-%02d", d->year, d->month);
    return "{\"file\":" + jsonString(file) + ",\"saved\":" + std::to_string(saveTime) +
           ",\"today\":{\"date\":\"" + isoDate(*d) + "\",\"programs\":" +
           programsJson(boundedRecord(r.days[static_cast<std::size_t>(d->day - 1)])) +
           "},\"month\":{\"month\":\"" + month + "\",\"programs\":" +
           programsJson(boundedRecord(r.months[static_cast<std::size_t>(d->month - 1)])) + "}}\n";
}

int runAppsReport(const PlatformServices& os, bool json, const std::string& version,
                  std::string& out, std::string& err) {
    out.clear();
    err.clear();
    if (!os.files || !os.paths || !os.clock) {
        err = "tallynet: this build cannot read files.\n";
        return 1;
    }
    const std::filesystem::path file = os.paths->dataDirectoryPath() / "apps.dat";
    std::vector<std::uint8_t> bytes;
    const ReadStatus status = os.files->read(file, kAppsFileMaxSize, bytes);
    if (status != ReadStatus::Ok) {
        err = "tallynet: " + file.string() +
              (status == ReadStatus::Missing      ? " does not exist (no traffic per program "
                                                    "was counted yet, or CountApps=0).\n"
               : status == ReadStatus::NotRegular ? " is not a regular file.\n"
                                                  : " cannot be read.\n");
        return 1;
    }
    AppRecords records;
    std::int64_t saveTime = 0;
    if (const std::string why = decodeAppsFile(bytes, records, saveTime); !why.empty()) {
        err = "tallynet: " + file.string() + " cannot be read: " + why + ".\n";
        return 1;
    }
    if (!clearStaleApps(records, saveTime, *os.clock)) {
        err = "tallynet: the system gives no local date for now.\n";
        return 1;
    }
    out = json ? appsReportJson(records, file.string(), saveTime, *os.clock)
               : appsReportText(records, file.string(), saveTime, *os.clock, version);
    return 0;
}

} // namespace tn
