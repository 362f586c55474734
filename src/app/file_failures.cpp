#include "app/file_failures.h"

#include "app/error_text.h"
#include "platform/clock.h"
#include "platform/file_store.h"

#include <cerrno>
#include <cstdio>

namespace tn {

namespace {

const char* causeKey(FileFailureCause cause) {
    switch (cause) {
    case FileFailureCause::DiskFull:
        return "full";
    case FileFailureCause::ReadOnly:
        return "read-only";
    case FileFailureCause::FolderMissing:
        return "no folder";
    case FileFailureCause::NotRegular:
        return "not regular";
    case FileFailureCause::Other:
        break;
    }
    return "other";
}

} // namespace

std::string setAsideStamp(const IClock& clock) {
    const std::int64_t now = clock.now();
    char text[32];
    if (const auto lt = clock.toLocal(now))
        std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", lt->year, lt->month, lt->day,
                      lt->hour, lt->minute, lt->second);
    else
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(now));
    return text;
}

std::string badFileText(const std::filesystem::path& file, std::string_view why,
                        const SetAsideResult& aside) {
    std::string text = "Tallynet could not read " + file.string() + " (" + std::string(why) + "). ";
    switch (aside.status) {
    case SetAsideStatus::Moved:
        text += "It was kept as " + aside.aside.filename().string() + ".";
        break;
    case SetAsideStatus::NotRegular:
        text += "It is not a regular file (a link, a FIFO, a device or a folder) and was left "
                "alone; remove it so that Tallynet can write its own file there.";
        break;
    case SetAsideStatus::Missing:
        break;
    case SetAsideStatus::Failed:
        text += "It could not be moved aside: " + systemErrorText(aside.error) + ".";
        break;
    }
    return text;
}

FileFailureCause fileFailureCause(int error, bool notRegular) {
    if (notRegular)
        return FileFailureCause::NotRegular;
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return FileFailureCause::DiskFull;
    case EROFS:
    case EACCES:
    case EPERM:
        return FileFailureCause::ReadOnly;
    case ENOENT:
    case ENOTDIR:
        return FileFailureCause::FolderMissing;
    default:
        return FileFailureCause::Other;
    }
}

void CFileFailures::setShow(Show show) {
    m_show = std::move(show);
    if (!m_show)
        return;
    for (const std::string& text : std::exchange(m_waiting, {}))
        m_show(text);
}

void CFileFailures::setLog(Log log, std::function<std::filesystem::path()> logFile) {
    m_log = std::move(log);
    m_logFile = std::move(logFile);
}

std::string CFileFailures::failureText(const std::filesystem::path& file, int error,
                                       bool notRegular, std::string_view consequence) {
    std::string text = "Tallynet could not write " + file.string() + ": ";
    text += notRegular ? "it is not a regular file (a link, a FIFO, a device or a folder "
                         "stands in its place; Tallynet leaves it alone)"
                       : systemErrorText(error);
    text += '.';
    if (!consequence.empty()) {
        text += ' ';
        text += consequence;
    }
    return text;
}

bool CFileFailures::failed(const std::filesystem::path& file, int error, bool notRegular,
                           std::string_view consequence) {
    // Another reason within one cause (EACCES after EROFS) is the same thing to the user.
    return tellOnce(file, causeKey(fileFailureCause(error, notRegular)),
                    failureText(file, error, notRegular, consequence));
}

bool CFileFailures::tellOnce(const std::filesystem::path& file, std::string_view key,
                             const std::string& text) {
    if (!m_told.emplace(file.string(), std::string(key)).second)
        return false;
    deliver(file, text);
    return true;
}

void CFileFailures::tell(const std::filesystem::path& file, const std::string& text) {
    deliver(file, text);
}

void CFileFailures::succeeded(const std::filesystem::path& file) {
    const std::string name = file.string();
    for (auto it = m_told.lower_bound({name, std::string()});
         it != m_told.end() && it->first == name;)
        it = m_told.erase(it);
}

void CFileFailures::deliver(const std::filesystem::path& file, const std::string& text) {
    if (m_show)
        m_show(text);
    else if (m_waiting.size() < kMaxWaiting)
        m_waiting.push_back(text);
    // Then the log: should it fail too, its own text follows this one.
    if (m_log && !m_logging && (!m_logFile || file != m_logFile())) {
        m_logging = true;
        m_log(text);
        m_logging = false;
    }
}

} // namespace tn
