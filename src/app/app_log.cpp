#include "app/app_log.h"

#include "platform/clock.h"
#include "platform/file_store.h"

#include <algorithm>
#include <cstdio>

namespace tn {

namespace {

// Cuts text to at most n bytes without splitting a UTF-8 sequence.
std::string_view cutUtf8(std::string_view s, std::size_t n) {
    if (s.size() <= n)
        return s;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

} // namespace

CAppLog::CAppLog(std::filesystem::path file, IFileStore& files, const IClock& clock,
                 MessageReporter reporter)
    : m_path(std::move(file)), m_files(files), m_clock(clock), m_report(std::move(reporter)) {}

void CAppLog::write(std::string_view message) {
    if (m_files.size(m_path).value_or(0) > kSizeLimit) {
        // Emptying replaces the triggering message with the banner; the message is dropped.
        if (const ReplaceResult emptied = m_files.replace(m_path, {}, {}); !emptied) {
            m_written = false;
            m_error = emptied.error;
            m_notRegular = emptied.status == ReplaceStatus::NotRegular;
            if (m_report)
                m_report("Nu am putut sterge fisierul .log!", MessageIcon::Exclamation);
            return;
        }
        write(kBanner);
        return;
    }
    const LocalTime lt = m_clock.toLocal(m_clock.now()).value_or(LocalTime{});
    char prefix[64];
    const int n = std::snprintf(prefix, sizeof prefix, "%4d-%02d-%02d %02d:%02d:%02d ", lt.year,
                                lt.month, lt.day, lt.hour, lt.minute, lt.second);
    if (n < 0)
        return;
    std::string line(prefix, static_cast<std::size_t>(n));
    line += cutUtf8(message, kMaxLine - 2 - std::min(line.size(), kMaxLine - 2));
    line += "\r\n";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.data());
    const AppendResult appended = m_files.append(m_path, {bytes, line.size()});
    m_written = appended.status == AppendStatus::Written;
    m_error = appended.error;
    m_notRegular = appended.status == AppendStatus::NotRegular;
    if (!m_written && m_report)
        m_report("Nu am putut deschide fisierul Log", MessageIcon::None);
}

} // namespace tn
