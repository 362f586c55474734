#include "stats/outage_detector.h"

#include "app/error_text.h"
#include "app/formats.h"
#include "app/global.h"
#include "platform/clock.h"
#include "platform/file_store.h"
#include "stats/notices.h"
#include "stats/outage_file.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace tn {

namespace {

// The marker keeps the low 32 bits of the tick's bytes and is only ever tested for zero, so a
// count that is a whole multiple of 4 GiB must not pass for a silent tick.
std::uint32_t incomingMarker(std::uint64_t incomingBytes) {
    const auto low = static_cast<std::uint32_t>(incomingBytes);
    return (low == 0 && incomingBytes != 0) ? 1u : low;
}

} // namespace

COutageDetector::COutageDetector(CGlobal& global, const IClock& clock, IOutageStatus& status)
    : m_global(global), m_clock(clock), m_status(status) {}

void COutageDetector::step(std::uint64_t incomingBytes, int listedAdapters) {
    if (m_global.LogFalls == 0 || listedAdapters == 0)
        return; // frozen: switching back on resumes from the same count and marker
    // Only an edited settings file holds a negative threshold. Taken as it is, the first data
    // tick after start-up would log an outage beginning in 1970 and every lone silent tick an
    // outage, so it counts as 0.
    const std::int32_t threshold = std::max(m_global.FallSecs, 0);
    if (incomingBytes == 0) {
        if (m_silentTicks == 0)
            m_outageStart = m_clock.now();
        if (m_previousIncoming == 0) {
            // Saturates rather than wrapping after 68 years of silence.
            if (m_silentTicks < std::numeric_limits<std::int32_t>::max())
                ++m_silentTicks;
            if (m_silentTicks == threshold + 1 && m_notices)
                m_notices->outageBegan(m_outageStart);
            if (m_silentTicks > threshold) {
                m_status.setStatusPicture(m_silentTicks % 2 != 0 ? kNormalPicture : kAlertPicture);
                m_status.setStatusText(formatTimeSpan("%H:%M:%S", m_silentTicks));
            }
        }
    } else if (m_previousIncoming == 0) {
        if (m_silentTicks > threshold) {
            m_outageEnd = m_clock.now();
            m_silentTicks = 0;
            if (m_notices)
                m_notices->outageEnded(m_outageStart, m_outageEnd);
            AppendResult result{AppendStatus::NotOpened, 0};
            const std::filesystem::path file = m_global.dataFile(kOutageFileName);
            if (IFileStore* files = m_global.os().files)
                result = appendOutageRecord(*files, file, {m_outageStart, m_outageEnd});
            if (result.status != AppendStatus::Written) {
                // Told once per cause; the display keeps the outage it showed, so the user
                // sees which one was lost.
                m_global.fileFailures().failed(
                    file, result.error, result.status == AppendStatus::NotRegular,
                    "This outage was not recorded; the next one tries again.");
                m_previousIncoming = incomingMarker(incomingBytes);
                return;
            }
            m_global.fileFailures().succeeded(file);
            m_status.setStatusPicture(kNormalPicture);
            m_status.setStatusText("");
        } else {
            m_silentTicks = 0;
        }
    }
    m_previousIncoming = incomingMarker(incomingBytes);
}

void COutageDetector::reset() {
    m_silentTicks = 0;
    m_status.setStatusPicture(kNormalPicture);
    m_status.setStatusText(kIdleText);
}

} // namespace tn
