#include "stats/report.h"

#include "app/formats.h"
#include "app/ini_file.h"
#include "platform/file_store.h"
#include "platform/paths.h"
#include "platform/platform_services.h"
#include "stats/history_table.h"
#include "stats/record_dates.h"

#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

namespace tn {

namespace {

// TN.log empties itself past 100,000 bytes; anything far larger is not our log.
constexpr std::size_t kMaxLogBytes = 1024 * 1024;

constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

bool validDate(const LocalTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31;
}

std::uint64_t sum(const CounterArray& c) {
    std::uint64_t s = 0;
    for (std::uint64_t v : c)
        s += v;
    return s;
}

std::uint64_t cell(const CounterArray& c, int category) {
    return category < 0 ? sum(c) : c[static_cast<std::size_t>(category)];
}

std::string printf1(const char* format, const std::string& a, const std::string& b,
                    const std::string& c, const std::string& d) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, a.c_str(), b.c_str(), c.c_str(), d.c_str());
    return buf;
}

std::string monthLabel(int year, int month) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d", year, month);
    return buf;
}

std::string dateLabel(int year, int month, int day) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

// The twelve months of the year cycle, oldest first, ending with this month.
struct MonthSlot {
    int year;
    int month;
};
std::vector<MonthSlot> twelveMonths(const LocalTime& today) {
    std::vector<MonthSlot> out;
    for (int back = 11; back >= 0; --back) {
        const int index = today.year * 12 + (today.month - 1) - back;
        out.push_back(MonthSlot{index / 12, index % 12 + 1});
    }
    return out;
}

// One record pair as the table shows it: per category row, sent, received and total.
void table(std::string& out, const std::string& title, const CounterArray& sent,
           const CounterArray& received) {
    out += printf1("%-14s%14s%14s%14s\n", title, "Sent", "Received", "Total");
    for (const HistoryRow& row : kHistoryRows) {
        const std::uint64_t s = cell(sent, row.category);
        const std::uint64_t r = cell(received, row.category);
        out += printf1("  %-12s%14s%14s%14s\n", row.label, formatBytes64(s), formatBytes64(r),
                       formatBytes64(s + r));
    }
}

void jsonTable(std::string& out, const CounterArray& sent, const CounterArray& received) {
    const auto part = [&](const char* name, auto value) {
        out += std::string("\"") + name + "\":{";
        bool first = true;
        for (const HistoryRow& row : kHistoryRows) {
            out += (first ? "\"" : ",\"") + std::string(row.label) +
                   "\":" + std::to_string(value(row.category));
            first = false;
        }
        out += "}";
    };
    out += "{";
    part("sent", [&](int k) { return cell(sent, k); });
    out += ",";
    part("received", [&](int k) { return cell(received, k); });
    out += ",";
    part("total", [&](int k) { return cell(sent, k) + cell(received, k); });
    out += "}";
}

struct Today {
    LocalTime date;
    StatRecords records;
};

const char* levelName(PlanLevel level) {
    switch (level) {
    case PlanLevel::Warning:
        return "warning";
    case PlanLevel::Full:
        return "full";
    default:
        return "below";
    }
}

// The plan's figures now; none without a plan or outside any plan month.
std::optional<PlanStatus> activePlan(const ReportHistory& h, const StatRecords& records,
                                     const IClock& clock) {
    if (!h.plan)
        return std::nullopt;
    const PlanStatus s = planStatus(*h.plan, records, clock, clock.now(), h.planCarry);
    return s.active ? std::optional<PlanStatus>(s) : std::nullopt;
}

void planSection(std::string& out, const ReportHistory& h, const StatRecords& records,
                 const IClock& clock) {
    const std::optional<PlanStatus> active = activePlan(h, records, clock);
    if (!active)
        return;
    const PlanStatus& s = *active;
    const PlanTexts t = planTexts(s);
    char line[160];
    std::snprintf(line, sizeof line, "\n%-24s%s%s\n", "Data plan", t.period.c_str(),
                  h.plan->downloadOnly ? ", received only" : "");
    out += line;
    const std::pair<const char*, const std::string*> rows[] = {{"Used", &t.used},
                                                               {"Allowance", &t.allowance},
                                                               {"Days left", &t.daysLeft},
                                                               {"At month end", &t.projected}};
    for (const auto& [label, value] : rows) {
        std::snprintf(line, sizeof line, "  %-22s%s\n", label, value->c_str());
        out += line;
    }
}

void planJson(std::string& out, const ReportHistory& h, const StatRecords& records,
              const IClock& clock) {
    const std::optional<PlanStatus> active = activePlan(h, records, clock);
    if (!active)
        return;
    const PlanStatus& s = *active;
    const CivilDate last = civilFromDays(daysFromCivil(s.period.next) - 1);
    out += ",\"plan\":{\"first\":\"" +
           dateLabel(s.period.first.year, s.period.first.month, s.period.first.day) +
           "\",\"last\":\"" + dateLabel(last.year, last.month, last.day) +
           "\",\"downloadOnly\":" + (h.plan->downloadOnly ? "true" : "false") +
           ",\"used\":" + std::to_string(s.used) + ",\"allowance\":" + std::to_string(s.allowance) +
           ",\"percent\":" + std::to_string(s.percent) +
           ",\"daysLeft\":" + std::to_string(s.daysLeft) +
           ",\"projected\":" + std::to_string(s.projected) +
           ",\"warnPercent\":" + std::to_string(h.plan->warnPercent) + ",\"level\":\"" +
           levelName(s.level) + "\"}";
}

std::optional<Today> prepare(const ReportHistory& history, const IClock& clock) {
    const auto today = clock.toLocal(clock.now());
    if (!today || !validDate(*today))
        return std::nullopt;
    Today t{*today, history.records};
    const std::optional<LocalTime> saved =
        history.haveSaveTime ? clock.toLocal(history.saveTime) : std::nullopt;
    clearStaleForReport(t.records, saved, *today);
    return t;
}

} // namespace

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string captureDropsLogText(std::uint64_t frames) {
    return "Capture dropped " + std::to_string(frames) + " frames since start";
}

bool lastLoggedDrops(std::string_view log, std::uint64_t& frames, std::string& logged) {
    constexpr std::string_view kHead = "Capture dropped ";
    constexpr std::string_view kTail = " frames since start";
    constexpr std::size_t kStamp = 19; // "YYYY-MM-DD HH:MM:SS"
    bool found = false;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string_view::npos)
            end = log.size();
        std::string_view line = log.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < kStamp + 1 + kHead.size() + 1 + kTail.size() || line[kStamp] != ' ' ||
            line.substr(kStamp + 1, kHead.size()) != kHead || !line.ends_with(kTail))
            continue;
        const std::string_view digits = line.substr(
            kStamp + 1 + kHead.size(), line.size() - kStamp - 1 - kHead.size() - kTail.size());
        std::uint64_t n = 0;
        const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec != std::errc{} || ptr != digits.data() + digits.size())
            continue; // not a count this program wrote (or one past 64 bits)
        frames = n;
        logged.assign(line.substr(0, kStamp));
        found = true;
    }
    return found;
}

std::optional<ReportHistory>
readReportHistory(IFileStore& files, const std::filesystem::path& folder, std::string& why) {
    why.clear();
    int missing = 0;
    for (const char* name : {"stat.dat", "stat.bak"}) {
        const std::filesystem::path file = folder / name;
        std::vector<std::uint8_t> bytes;
        const ReadStatus status = files.read(file, kStatFileV1Size, bytes);
        std::string problem;
        ReportHistory h;
        h.file = file;
        std::int32_t version = 0;
        if (status == ReadStatus::Missing) {
            ++missing;
            problem = "does not exist";
        } else if (status == ReadStatus::NotRegular) {
            problem = "is not a regular file";
        } else if (status == ReadStatus::TooLarge) {
            problem = "is too large for a traffic history";
        } else if (status != ReadStatus::Ok) {
            problem = "cannot be read";
        } else if (!statFileVersion(bytes, version)) {
            problem = "is too short to hold a traffic history";
        } else if (version == 2 && decodeStatFileV2(bytes, h.records, h.saveTime)) {
            h.haveSaveTime = true;
            return h;
        } else if (version == 1 && decodeStatFileV1(bytes, h.records, h.saveTime)) {
            h.haveSaveTime = true;
            return h;
        } else if (version == 1 || version == 2) {
            problem = "has " + std::to_string(bytes.size()) + " bytes, not a version-" +
                      std::to_string(version) + " history";
        } else {
            problem = "has the unknown version " + std::to_string(version);
        }
        why += file.string() + " " + problem + ".\n";
    }
    if (missing == 2)
        why = "No traffic history in " + folder.string() +
              ": neither stat.dat nor stat.bak exists (Tallynet saves it once a minute while it "
              "runs).\n";
    return std::nullopt;
}

void clearStaleForReport(StatRecords& r, const std::optional<LocalTime>& saved,
                         const LocalTime& today) {
    const auto resetDay = [&r](int index) {
        r.daysSent[static_cast<std::size_t>(index)] = {};
        r.daysReceived[static_cast<std::size_t>(index)] = {};
    };
    if (!saved || !validDate(*saved)) {
        r = StatRecords{}; // nothing of it can be placed in time
        return;
    }
    clearDatesAfter(CivilDate{saved->year, saved->month, saved->day},
                    CivilDate{today.year, today.month, today.day}, resetDay, [&r](int i) {
                        r.monthsSent[static_cast<std::size_t>(i)] = {};
                        r.monthsReceived[static_cast<std::size_t>(i)] = {};
                    });
}

std::string reportText(const ReportHistory& history, const IClock& clock,
                       const std::string& version) {
    const auto t = prepare(history, clock);
    if (!t)
        return {};
    const LocalTime& d = t->date;
    const StatRecords& r = t->records;
    const auto di = static_cast<std::size_t>(d.day - 1);
    const auto mi = static_cast<std::size_t>(d.month - 1);
    const std::string monthName = kMonthNames[mi];

    std::string out =
        "Tallynet " + version + " traffic report, " + formatLongDate(d.year, d.month, d.day) + "\n";
    out += "History: " + history.file.string();
    if (const auto s = clock.toLocal(history.saveTime); history.haveSaveTime && s) {
        char buf[48];
        std::snprintf(buf, sizeof buf, ", saved %04d-%02d-%02d %02d:%02d", s->year, s->month,
                      s->day, s->hour, s->minute);
        out += buf;
    }
    if (history.framesDropped)
        out += "\nThe capture dropped " + std::to_string(*history.framesDropped) +
               " frames (TN.log, " + history.droppedLogged +
               "): the counts may fall short of the traffic.";
    out += "\n\n";
    table(out, "Today", r.daysSent[di], r.daysReceived[di]);
    out += "\n";
    table(out, monthName + " " + std::to_string(d.year), r.monthsSent[mi], r.monthsReceived[mi]);

    out += "\n" + printf1("%-14s%14s%14s%14s\n", "Day", "Sent", "Received", "Total");
    for (int day = 1; day <= d.day; ++day) {
        const auto i = static_cast<std::size_t>(day - 1);
        const std::uint64_t s = sum(r.daysSent[i]);
        const std::uint64_t v = sum(r.daysReceived[i]);
        out += printf1("  %-12s%14s%14s%14s\n", dateLabel(d.year, d.month, day), formatBytes64(s),
                       formatBytes64(v), formatBytes64(s + v));
    }
    out += "\n" + printf1("%-14s%14s%14s%14s\n", "Month", "Sent", "Received", "Total");
    for (const MonthSlot& m : twelveMonths(d)) {
        const auto i = static_cast<std::size_t>(m.month - 1);
        const std::uint64_t s = sum(r.monthsSent[i]);
        const std::uint64_t v = sum(r.monthsReceived[i]);
        out += printf1("  %-12s%14s%14s%14s\n", monthLabel(m.year, m.month), formatBytes64(s),
                       formatBytes64(v), formatBytes64(s + v));
    }
    planSection(out, history, r, clock);
    return out;
}

std::string reportJson(const ReportHistory& history, const IClock& clock) {
    const auto t = prepare(history, clock);
    if (!t)
        return {};
    const LocalTime& d = t->date;
    const StatRecords& r = t->records;
    const auto di = static_cast<std::size_t>(d.day - 1);
    const auto mi = static_cast<std::size_t>(d.month - 1);
    std::string out = "{\"file\":" + jsonString(history.file.string());
    out += ",\"saved\":" + (history.haveSaveTime ? std::to_string(history.saveTime) : "null");
    out += ",\"dropped\":";
    if (history.framesDropped)
        out += "{\"frames\":" + std::to_string(*history.framesDropped) +
               ",\"logged\":" + jsonString(history.droppedLogged) + "}";
    else
        out += "null";
    out += ",\"today\":{\"date\":\"" + dateLabel(d.year, d.month, d.day) + "\",\"bytes\":";
    jsonTable(out, r.daysSent[di], r.daysReceived[di]);
    out += "},\"month\":{\"month\":\"" + monthLabel(d.year, d.month) + "\",\"bytes\":";
    jsonTable(out, r.monthsSent[mi], r.monthsReceived[mi]);
    out += "},\"days\":[";
    for (int day = 1; day <= d.day; ++day) {
        const auto i = static_cast<std::size_t>(day - 1);
        const std::uint64_t s = sum(r.daysSent[i]);
        const std::uint64_t v = sum(r.daysReceived[i]);
        out += std::string(day > 1 ? "," : "") + "{\"date\":\"" + dateLabel(d.year, d.month, day) +
               "\",\"sent\":" + std::to_string(s) + ",\"received\":" + std::to_string(v) +
               ",\"total\":" + std::to_string(s + v) + "}";
    }
    out += "],\"months\":[";
    bool first = true;
    for (const MonthSlot& m : twelveMonths(d)) {
        const auto i = static_cast<std::size_t>(m.month - 1);
        const std::uint64_t s = sum(r.monthsSent[i]);
        const std::uint64_t v = sum(r.monthsReceived[i]);
        out += std::string(first ? "" : ",") + "{\"month\":\"" + monthLabel(m.year, m.month) +
               "\",\"sent\":" + std::to_string(s) + ",\"received\":" + std::to_string(v) +
               ",\"total\":" + std::to_string(s + v) + "}";
        first = false;
    }
    out += "]";
    planJson(out, history, r, clock);
    out += "}\n";
    return out;
}

std::optional<HourRecords> readReportHours(IFileStore& files, const std::filesystem::path& folder,
                                           std::string& why) {
    const std::filesystem::path file = folder / "hours.dat";
    std::vector<std::uint8_t> bytes;
    const ReadStatus status = files.read(file, kHourFileSize, bytes);
    if (status == ReadStatus::Missing) {
        why = file.string() + " does not exist";
        return std::nullopt;
    }
    if (status == ReadStatus::NotRegular) {
        why = file.string() + " is not a regular file";
        return std::nullopt;
    }
    if (status == ReadStatus::TooLarge) {
        why = file.string() + " is too large for an hours file";
        return std::nullopt;
    }
    if (status != ReadStatus::Ok) {
        why = file.string() + " cannot be read";
        return std::nullopt;
    }
    HourRecords hours;
    if (const std::string problem = hourFileProblem(bytes); !problem.empty()) {
        why = file.string() + ": " + problem;
        return std::nullopt;
    }
    decodeHourFile(bytes, hours);
    return hours;
}

std::optional<DataPlan> readReportPlan(IFileStore& files, const std::filesystem::path& settingsFile,
                                       PlanCarry& carry) {
    // A settings file is a few hundred bytes; anything far larger is not ours.
    constexpr std::size_t kMaxSettingsBytes = 256 * 1024;
    std::vector<std::uint8_t> bytes;
    if (files.read(settingsFile, kMaxSettingsBytes, bytes) != ReadStatus::Ok)
        return std::nullopt;
    const auto doc =
        IniDocument::parse({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    if (!doc)
        return std::nullopt;
    const auto number = [&](const char* key, std::int64_t lo, std::int64_t hi,
                            std::int64_t def) -> std::int64_t {
        const auto raw = doc->raw("SetariGenerale", key);
        const auto v = raw ? IniDocument::decodeInt(*raw) : std::nullopt;
        return v && *v >= lo && *v <= hi ? *v : def;
    };
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    DataPlan plan;
    plan.allowanceBytes = static_cast<std::uint64_t>(number("PlanBytes", 0, kMax, 0));
    if (!plan.active())
        return std::nullopt;
    plan.downloadOnly = number("PlanDown", INT32_MIN, INT32_MAX, 0) != 0;
    plan.startDay = static_cast<int>(number("PlanDay", 1, 31, 1));
    plan.warnPercent = static_cast<int>(number("PlanWarn", 1, 100, 80));
    carry.firstDays = number("PlanFirst", -1, kMax, -1);
    carry.bytes = static_cast<std::uint64_t>(number("PlanFirstBytes", 0, kMax, 0));
    return plan;
}

std::string reportHoursText(const ReportHistory& history, const IClock& clock) {
    if (!history.hours)
        return "\nHours: " + history.hoursWhy + "\n";
    const std::vector<HourRow> rows = lastHours(*history.hours, clock, clock.now());
    char line[160];
    std::snprintf(line, sizeof line, "%-18s%12s%14s%14s\n", "Hour", "Sent", "Received", "Total");
    std::string out = std::string("\n") + line;
    for (const HourRow& row : rows) {
        char label[32];
        std::snprintf(label, sizeof label, "%04d-%02d-%02d %02d:00", row.local.year,
                      row.local.month, row.local.day, row.local.hour);
        const std::uint64_t s = sum(row.sent);
        const std::uint64_t v = sum(row.received);
        std::snprintf(line, sizeof line, "  %-16s%12s%14s%14s\n", label, formatBytes64(s).c_str(),
                      formatBytes64(v).c_str(), formatBytes64(s + v).c_str());
        out += line;
    }
    return out;
}

std::string reportHoursJson(const ReportHistory& history, const IClock& clock) {
    if (!history.hours)
        return "null";
    std::string out = "[";
    bool first = true;
    for (const HourRow& row : lastHours(*history.hours, clock, clock.now())) {
        char label[32];
        std::snprintf(label, sizeof label, "%04d-%02d-%02d %02d:00", row.local.year,
                      row.local.month, row.local.day, row.local.hour);
        const std::uint64_t s = sum(row.sent);
        const std::uint64_t v = sum(row.received);
        out += std::string(first ? "" : ",") + "{\"start\":" + std::to_string(row.start) +
               ",\"hour\":\"" + label + "\",\"sent\":" + std::to_string(s) +
               ",\"received\":" + std::to_string(v) + ",\"total\":" + std::to_string(s + v) + "}";
        first = false;
    }
    return out + "]";
}

int runReport(const PlatformServices& os, bool json, const std::string& version, std::string& out,
              std::string& err) {
    return runReport(os, ReportOptions{json, false}, version, out, err);
}

int runReport(const PlatformServices& os, const ReportOptions& options, const std::string& version,
              std::string& out, std::string& err) {
    const bool json = options.json;
    out.clear();
    err.clear();
    if (!os.files || !os.paths || !os.clock) {
        err = "tallynet: this build cannot read files.\n";
        return 1;
    }
    std::string why;
    const std::filesystem::path folder = os.paths->dataDirectoryPath();
    auto history = readReportHistory(*os.files, folder, why);
    if (!history) {
        err = "tallynet: " + why;
        return 1;
    }
    // The log says whether the capture lost frames; a log that cannot be read says nothing.
    std::vector<std::uint8_t> log;
    if (os.files->read(folder / "TN.log", kMaxLogBytes, log) == ReadStatus::Ok) {
        std::uint64_t frames = 0;
        if (lastLoggedDrops({reinterpret_cast<const char*>(log.data()), log.size()}, frames,
                            history->droppedLogged))
            history->framesDropped = frames;
    }
    if (options.hours)
        history->hours = readReportHours(*os.files, folder, history->hoursWhy);
    history->plan = readReportPlan(*os.files, os.paths->configDirectory() / "Tallynet.conf",
                                   history->planCarry);
    out = json ? reportJson(*history, *os.clock) : reportText(*history, *os.clock, version);
    if (out.empty()) {
        err = "tallynet: the system gives no local date for now.\n";
        return 1;
    }
    if (options.hours) {
        if (json)
            out.insert(out.size() - 2, ",\"hours\":" + reportHoursJson(*history, *os.clock));
        else
            out += reportHoursText(*history, *os.clock);
    }
    return 0;
}

} // namespace tn
