#include "stats/apps_view.h"

#include "app/formats.h"

#include <algorithm>
#include <map>

namespace tn {

void AppsTable::takeSecond(const std::vector<AppUsage>& running) {
    m_speeds.clear();
    if (m_havePrevious) {
        std::map<std::string, const AppUsage*> before;
        for (const AppUsage& u : m_previous)
            before[u.name] = &u;
        for (const AppUsage& u : running) {
            const auto it = before.find(u.name);
            // Totals only grow; one that went back (a new capture) starts from zero.
            const std::uint64_t s0 =
                it != before.end() && it->second->sent <= u.sent ? it->second->sent : 0;
            const std::uint64_t r0 =
                it != before.end() && it->second->received <= u.received ? it->second->received : 0;
            if (u.sent != s0 || u.received != r0)
                m_speeds.push_back({u.name, u.sent - s0, u.received - r0});
        }
    }
    m_previous = running;
    m_havePrevious = true;
}

std::vector<AppsRow> AppsTable::rows(AppsView view, const AppRecords& records, int today, int month,
                                     const AppsSelection& selection) const {
    std::vector<AppUsage> usage;
    const auto day = [&records](int d) {
        return d >= 1 && d <= 31 ? records.days[static_cast<std::size_t>(d - 1)]
                                 : std::vector<AppUsage>{};
    };
    const auto monthOf = [&records](int m) {
        return m >= 1 && m <= 12 ? records.months[static_cast<std::size_t>(m - 1)]
                                 : std::vector<AppUsage>{};
    };
    switch (view) {
    case AppsView::Now:
        usage = m_speeds;
        break;
    case AppsView::Today:
        usage = day(today);
        break;
    case AppsView::Selected:
        usage = selection.month ? monthOf(selection.index) : day(selection.index);
        break;
    case AppsView::ThisMonth:
        usage = monthOf(month);
        break;
    }
    usage = boundedRecord(std::move(usage));
    std::vector<AppsRow> out;
    for (const AppUsage& u : usage) {
        AppsRow r;
        r.name = u.name;
        r.totalBytes = u.total();
        if (view == AppsView::Now) {
            r.download = formatSpeed(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(u.received, 0xFFFFFFFFu)));
            r.upload = formatSpeed(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(u.sent, 0xFFFFFFFFu)));
            r.total = formatSpeed(
                static_cast<std::uint32_t>(std::min<std::uint64_t>(u.total(), 0xFFFFFFFFu)));
        } else {
            r.download = formatBytes64(u.received);
            r.upload = formatBytes64(u.sent);
            r.total = formatBytes64(u.total());
        }
        out.push_back(std::move(r));
    }
    return out;
}

} // namespace tn
