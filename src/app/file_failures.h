#pragma once
// Telling the user about files that could not be written or read, once per cause.
//
//   CFileFailures failures;
//   failures.setLog([&](std::string_view line) { log.write(line); }, [] { return logPath; });
//   failures.setShow([&](const std::string& text) { window.showFileError(text); });
//   if (!saved) failures.failed(path, error, notRegular, "the next save tries again");
//   else failures.succeeded(path);       // the same cause may be told again when it recurs
//
// A save that fails every minute for the same reason is told once; a new reason, or the same
// one after a success, is told again. Texts that arrive before a window can show them wait.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tn {

class IClock;
struct SetAsideResult;

// How many files set aside from one name are kept ("stat.dat.bad-...", newest first).
inline constexpr std::size_t kKeptBadFiles = 3;
// "YYYYMMDD-HHMMSS" of the local time now, for the name of a file set aside.
std::string setAsideStamp(const IClock& clock);
// One sentence on a file that could not be read: why, and what became of it (moved aside,
// left alone, or the move failed).
std::string badFileText(const std::filesystem::path& file, std::string_view why,
                        const SetAsideResult& aside);

// Why a write failed, as far as the user can act on it.
enum class FileFailureCause { DiskFull, ReadOnly, FolderMissing, NotRegular, Other };

FileFailureCause fileFailureCause(int error, bool notRegular);

class CFileFailures {
public:
    using Show = std::function<void(const std::string& text)>;
    using Log = std::function<void(std::string_view line)>;
    static constexpr std::size_t kMaxWaiting = 8;

    // Texts told before a way to show them existed are shown now, in order.
    void setShow(Show show);
    // TN.log, and where it is (asked only when needed: finding it may create its folder); a
    // failure of TN.log itself is never written into it.
    void setLog(Log log, std::function<std::filesystem::path()> logFile);

    // A write of `file` failed with `error` (errno) or because something other than a regular
    // file stands there. The first failure of its cause is shown and logged, with the path, the
    // system's reason and `consequence`; true when told.
    bool failed(const std::filesystem::path& file, int error, bool notRegular,
                std::string_view consequence);
    // Tells `text` about `file` once until the next success; `key` tells causes apart.
    bool tellOnce(const std::filesystem::path& file, std::string_view key, const std::string& text);
    // Tells `text` every time (an event of its own, such as a file set aside).
    void tell(const std::filesystem::path& file, const std::string& text);
    // A write of `file` succeeded: its causes may be told again.
    void succeeded(const std::filesystem::path& file);

    // The text failed() shows.
    static std::string failureText(const std::filesystem::path& file, int error, bool notRegular,
                                   std::string_view consequence);

private:
    void deliver(const std::filesystem::path& file, const std::string& text);

    Show m_show;
    Log m_log;
    std::function<std::filesystem::path()> m_logFile;
    bool m_logging = false; // a log write under way: a failure it causes is not logged again
    std::set<std::pair<std::string, std::string>> m_told; // (path, cause)
    std::vector<std::string> m_waiting;
};

} // namespace tn
