#include "stats/notices.h"

#include "app/formats.h"
#include "app/global.h"
#include "platform/clock.h"
#include "platform/notifier.h"

#include <algorithm>
#include <cstdio>

namespace tn {

CNotices::CNotices(CGlobal& global, const IClock& clock, INotifier* notifier)
    : m_global(global), m_clock(clock), m_notifier(notifier) {}

std::string CNotices::outageBeganText(const IClock& clock, std::int64_t start) {
    const auto lt = clock.toLocal(start);
    if (!lt)
        return "No data received";
    char text[48];
    std::snprintf(text, sizeof text, "No data received since %02d:%02d", lt->hour, lt->minute);
    return text;
}

std::string CNotices::outageEndedText(std::int64_t start, std::int64_t end) {
    return "Data again after " + formatTimeSpan("%H:%M:%S", std::max<std::int64_t>(end - start, 0));
}

void CNotices::outageBegan(std::int64_t start) {
    if (m_notifier && m_global.NotifyFalls != 0)
        m_notifier->notify(kSummary, outageBeganText(m_clock, start));
}

void CNotices::outageEnded(std::int64_t start, std::int64_t end) {
    if (m_notifier && m_global.NotifyFalls != 0)
        m_notifier->notify(kSummary, outageEndedText(start, end));
}

void CNotices::plan(const std::string& summary, const std::string& body) {
    if (m_notifier && m_global.NotifyPlan != 0)
        m_notifier->notify(summary, body);
}

} // namespace tn
