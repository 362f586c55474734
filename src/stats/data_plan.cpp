#include "stats/data_plan.h"

#include "app/global.h"
#include "platform/clock.h"
#include "stats/history_table.h"

#include <algorithm>
#include <cstdio>

namespace tn {

namespace {

// The plan month's start in a calendar month.
CivilDate startIn(int year, int month, int startDay) {
    return CivilDate{year, month, std::min(std::clamp(startDay, 1, 31), daysInMonth(year, month))};
}

CivilDate monthAfter(const CivilDate& d, int startDay) {
    return d.month == 12 ? startIn(d.year + 1, 1, startDay)
                         : startIn(d.year, d.month + 1, startDay);
}

CivilDate monthBefore(const CivilDate& d, int startDay) {
    return d.month == 1 ? startIn(d.year - 1, 12, startDay)
                        : startIn(d.year, d.month - 1, startDay);
}

std::uint64_t counted(const StatRecords& r, int day, bool downloadOnly) {
    const auto i = static_cast<std::size_t>(day - 1);
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < 11; ++k)
        sum += r.daysReceived[i][k] + (downloadOnly ? 0 : r.daysSent[i][k]);
    return sum;
}

std::optional<std::int64_t> midnight(const IClock& clock, const CivilDate& d) {
    return clock.fromLocal(LocalTime{d.year, d.month, d.day, 0, 0, 0, -1});
}

} // namespace

PlanPeriod planPeriod(const CivilDate& today, int startDay) {
    const CivilDate here = startIn(today.year, today.month, startDay);
    if (today.day >= here.day)
        return PlanPeriod{here, monthAfter(here, startDay)};
    return PlanPeriod{monthBefore(here, startDay), here};
}

std::uint64_t planUse(const StatRecords& records, const PlanPeriod& period, const CivilDate& today,
                      bool downloadOnly, const PlanCarry& carry) {
    const std::int64_t first = daysFromCivil(period.first);
    const std::int64_t last = std::min(daysFromCivil(today), daysFromCivil(period.next) - 1);
    std::uint64_t sum = 0;
    bool firstReused = false;
    for (std::int64_t d = first + 1; d <= last; ++d) {
        const CivilDate c = civilFromDays(d);
        firstReused = firstReused || c.day == period.first.day;
        sum += counted(records, c.day, downloadOnly);
    }
    if (last < first)
        return 0;
    if (!firstReused)
        sum += counted(records, period.first.day, downloadOnly);
    else if (carry.firstDays == first)
        sum += carry.bytes;
    return sum;
}

PlanStatus planStatus(const DataPlan& plan, const StatRecords& records, const IClock& clock,
                      std::int64_t now, const PlanCarry& carry) {
    PlanStatus s;
    const auto lt = clock.toLocal(now);
    if (!plan.active() || !lt || lt->month < 1 || lt->month > 12 || lt->day < 1 || lt->day > 31)
        return s;
    const CivilDate today{lt->year, lt->month, lt->day};
    s.active = true;
    s.period = planPeriod(today, plan.startDay);
    s.allowance = plan.allowanceBytes;
    s.used = planUse(records, s.period, today, plan.downloadOnly, carry);
    // Multiplied before the division, so whole percents come out whole.
    const long double percent =
        static_cast<long double>(s.used) * 100.0L / static_cast<long double>(s.allowance);
    s.percent = static_cast<int>(std::min<long double>(percent, 1.0e6L));
    s.daysLeft = static_cast<int>(daysFromCivil(s.period.next) - daysFromCivil(today));
    const auto begin = midnight(clock, s.period.first);
    const auto end = midnight(clock, s.period.next);
    if (begin && end && *end > *begin) {
        // At least an hour in, so the first minutes of a month do not project a flood.
        const std::int64_t elapsed = std::clamp<std::int64_t>(now - *begin, 3600, *end - *begin);
        const long double projected = static_cast<long double>(s.used) *
                                      static_cast<long double>(*end - *begin) /
                                      static_cast<long double>(elapsed);
        s.projected = projected >= 1.8e19L ? UINT64_MAX : static_cast<std::uint64_t>(projected);
    } else {
        s.projected = s.used;
    }
    const int warn = std::clamp(plan.warnPercent, 1, 100);
    // Compared in whole bytes, not rounded percents: 79.99% does not warn at 80.
    const long double warnBytes = static_cast<long double>(s.allowance) * warn / 100.0L;
    if (s.used >= s.allowance)
        s.level = PlanLevel::Full;
    else if (static_cast<long double>(s.used) >= warnBytes)
        s.level = PlanLevel::Warning;
    return s;
}

std::string formatPlanBytes(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
    long double v = static_cast<long double>(bytes);
    int unit = 0;
    while (v >= 1024.0L && unit < 6) {
        v /= 1024.0L;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1Lf %s", v, kUnits[unit]);
    return text;
}

std::string planTooltipLine(const PlanStatus& s) {
    if (!s.active)
        return {};
    return "Plan: " + formatPlanBytes(s.used) + " of " + formatPlanBytes(s.allowance) + " (" +
           std::to_string(s.percent) + "%)";
}

std::string planPeriodText(const PlanPeriod& p) {
    const CivilDate last = civilFromDays(daysFromCivil(p.next) - 1);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d to %04d-%02d-%02d", p.first.year,
                  p.first.month, p.first.day, last.year, last.month, last.day);
    return text;
}

std::optional<std::uint64_t> parseAllowanceGB(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty())
        return 0;
    constexpr std::uint64_t kMaxWhole = 1000000;
    std::uint64_t whole = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        whole = whole * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (whole > kMaxWhole)
            return std::nullopt;
    }
    // Thousandths of a GB: three decimals are as fine as anyone buys data.
    std::uint64_t thousandths = 0;
    int digits = 0;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
            if (digits < 3)
                thousandths = thousandths * 10 + static_cast<std::uint64_t>(text[i] - '0');
            else if (text[i] != '0')
                return std::nullopt;
        if (digits == 0 && i == 1)
            return std::nullopt; // "." alone
    }
    if (i != text.size() || (i == 0))
        return std::nullopt;
    for (int d = digits; d < 3; ++d)
        thousandths *= 10;
    const std::uint64_t total = whole * 1000 + thousandths;
    if (total > kMaxWhole * 1000)
        return std::nullopt;
    return total * (1ull << 30) / 1000;
}

std::string allowanceGBText(std::uint64_t bytes) {
    if (bytes == 0)
        return {};
    // Rounded to the nearest thousandth of a GB, the unit the edit takes.
    const std::uint64_t thousandths = static_cast<std::uint64_t>(
        (static_cast<long double>(bytes) * 1000.0L) / (1ull << 30) + 0.5L);
    std::string out = std::to_string(thousandths / 1000);
    std::uint64_t frac = thousandths % 1000;
    if (frac != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%03u", static_cast<unsigned>(frac));
        std::string f = buf;
        while (f.back() == '0')
            f.pop_back();
        out += f;
    }
    return out;
}

PlanTexts planTexts(const PlanStatus& s) {
    if (!s.active)
        return PlanTexts{kNoPlanText, kNoPlanText, kNoPlanText, kNoPlanText, kNoPlanText};
    PlanTexts t;
    t.period = planPeriodText(s.period);
    t.used = formatPlanBytes(s.used) + " (" + std::to_string(s.percent) + "%)";
    t.allowance = formatPlanBytes(s.allowance);
    t.daysLeft = std::to_string(s.daysLeft);
    t.projected = formatPlanBytes(s.projected);
    if (s.projected > s.allowance)
        t.projected += " (over by " + formatPlanBytes(s.projected - s.allowance) + ")";
    return t;
}

DataPlan dataPlanOf(const CGlobal& g) {
    DataPlan p;
    p.allowanceBytes = g.PlanBytes;
    p.downloadOnly = g.PlanDown != 0;
    p.startDay = std::clamp(g.PlanDay, 1, 31);
    p.warnPercent = std::clamp(g.PlanWarn, 1, 100);
    return p;
}

CDataPlanWatch::CDataPlanWatch(CGlobal& global, const IClock& clock)
    : m_global(global), m_clock(clock) {}

PlanStatus CDataPlanWatch::status(const StatRecords& records) {
    const std::int64_t now = m_clock.now();
    const PlanCarry carry{m_global.PlanFirst, m_global.PlanFirstBytes};
    const PlanStatus s = planStatus(dataPlanOf(m_global), records, m_clock, now, carry);
    if (!s.active)
        return s;
    // Once the first day is over its record no longer changes: keep it, once per plan month,
    // while the ring still holds it.
    const auto lt = m_clock.toLocal(now);
    const std::int64_t first = daysFromCivil(s.period.first);
    const std::int64_t today = daysFromCivil(CivilDate{lt->year, lt->month, lt->day});
    if (m_global.PlanFirst != first && today > first &&
        civilFromDays(today).day != s.period.first.day) {
        bool reused = false;
        for (std::int64_t d = first + 1; d <= today; ++d)
            reused = reused || civilFromDays(d).day == s.period.first.day;
        if (!reused) {
            const bool down = m_global.PlanDown != 0;
            std::uint64_t bytes = 0;
            const auto i = static_cast<std::size_t>(s.period.first.day - 1);
            for (std::size_t k = 0; k < 11; ++k)
                bytes += records.daysReceived[i][k] + (down ? 0 : records.daysSent[i][k]);
            m_global.PlanFirst = first;
            m_global.PlanFirstBytes = bytes;
            m_global.writeInt("PlanFirst", first);
            m_global.writeInt("PlanFirstBytes", static_cast<std::int64_t>(bytes));
        }
    }
    return s;
}

std::string CDataPlanWatch::step(const StatRecords& records) {
    const PlanStatus s = status(records);
    if (!s.active)
        return {};
    const std::int64_t first = daysFromCivil(s.period.first);
    if (m_notify && m_global.NotifyPlan != 0) {
        const std::string line = planTooltipLine(s);
        if (s.level == PlanLevel::Full && m_global.PlanFull != first) {
            m_global.PlanFull = first;
            m_global.PlanWarned = first; // the warning is past too
            m_global.writeInt("PlanFull", first);
            m_global.writeInt("PlanWarned", first);
            m_notify("Data plan used up", line);
        } else if (s.level == PlanLevel::Warning && m_global.PlanWarned != first) {
            m_global.PlanWarned = first;
            m_global.writeInt("PlanWarned", first);
            m_notify("Data plan at " + std::to_string(std::clamp(m_global.PlanWarn, 1, 100)) + "%",
                     line);
        }
    }
    return planTooltipLine(s);
}

} // namespace tn
