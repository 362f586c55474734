#pragma once
#include "stats/record_dates.h"
#include "stats/stat_file.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tn {

class CGlobal;
class IClock;

// A data plan: an allowance of bytes per plan month, counted in both directions or received
// only, the day its month starts and the level that warns.
struct DataPlan {
    std::uint64_t allowanceBytes = 0; // 0: no plan
    bool downloadOnly = false;
    int startDay = 1;     // 1..31; a month without that day starts on its last day
    int warnPercent = 80; // 1..100
    bool active() const { return allowanceBytes != 0; }
};

// The plan month that holds a date: from `first` up to the day before `next`.
struct PlanPeriod {
    CivilDate first;
    CivilDate next;
};
PlanPeriod planPeriod(const CivilDate& today, int startDay);

// A plan month that starts on the last day of a short month (the 28th of February for a plan
// on the 31st) reaches the same day number in the next month, whose record then replaces the
// first day's in the 31-day ring. The first day's count is kept here before that happens.
struct PlanCarry {
    std::int64_t firstDays = -1; // the plan month's first date, days since 1970; -1: none
    std::uint64_t bytes = 0;
};

// The plan's bytes of the day records from the period's first date up to `today`.
std::uint64_t planUse(const StatRecords& records, const PlanPeriod& period, const CivilDate& today,
                      bool downloadOnly, const PlanCarry& carry);

enum class PlanLevel { Below, Warning, Full };

struct PlanStatus {
    bool active = false;
    PlanPeriod period;
    std::uint64_t used = 0;
    std::uint64_t allowance = 0;
    int percent = 0;             // of the allowance used, rounded down
    int daysLeft = 0;            // today included
    std::uint64_t projected = 0; // at the month's end, at the pace so far
    PlanLevel level = PlanLevel::Below;
};

// The plan's figures at `now`; inactive without a plan or a local date.
PlanStatus planStatus(const DataPlan& plan, const StatRecords& records, const IClock& clock,
                      std::int64_t now, const PlanCarry& carry);

// A byte count with one decimal in the program's binary units: "41.2 GB", "512.0 B".
std::string formatPlanBytes(std::uint64_t bytes);
// "Plan: 41.2 GB of 50.0 GB (82%)"; empty for an inactive plan.
std::string planTooltipLine(const PlanStatus& status);
// "2026-02-28 to 2026-03-30" (the last day of the plan month).
std::string planPeriodText(const PlanPeriod& period);

// The allowance as the plan window edits it, in GB of 2^30 bytes: "50", "2.5", "0.75".
// Empty text or zero means no plan (0); nullopt for anything that is not such a number or
// exceeds a million GB.
std::optional<std::uint64_t> parseAllowanceGB(std::string_view text);
// The edit's text for an allowance: up to three decimals, trailing zeros dropped; "" for none.
std::string allowanceGBText(std::uint64_t bytes);

// The plan window's value texts.
struct PlanTexts {
    std::string period;
    std::string used;
    std::string allowance;
    std::string daysLeft;
    std::string projected;
};
inline constexpr const char* kNoPlanText = "No plan set";
PlanTexts planTexts(const PlanStatus& status);

// The plan as the settings hold it.
DataPlan dataPlanOf(const CGlobal& global);

// The running program's side of the plan: each tick it computes the status from the day
// records, keeps the first day's count of a month that needs it, and tells the user once per
// plan month when the warning level and the allowance are reached.
class CDataPlanWatch {
public:
    using Notify = std::function<void(const std::string& summary, const std::string& body)>;

    CDataPlanWatch(CGlobal& global, const IClock& clock);
    // Where notices go; none (the default) tells nobody and marks nothing as told.
    void setNotify(Notify notify) { m_notify = std::move(notify); }
    // The status now; keeps the carry.
    PlanStatus status(const StatRecords& records);
    // status() and the notices; returns the tooltip line (empty without a plan).
    std::string step(const StatRecords& records);

private:
    CGlobal& m_global;
    const IClock& m_clock;
    Notify m_notify;
};

} // namespace tn
