#pragma once
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tn {

class IClock;
class IFileStore;

// How the core asks the user interface to show a message box.
enum class MessageIcon { None, Information, Exclamation, Stop };
using MessageReporter = std::function<void(const std::string& text, MessageIcon icon)>;

// The diagnostic text log "TN.log": one timestamped line per event, CR LF endings, emptied
// with a banner line once it has grown past 100000 bytes.
class CAppLog {
public:
    static constexpr std::uintmax_t kSizeLimit = 100000;
    static constexpr std::size_t kMaxLine = 511; // the line buffer held 512 bytes
    static constexpr const char* kBanner = "******Tallynet Log File (deleted)******";

    CAppLog(std::filesystem::path file, IFileStore& files, const IClock& clock,
            MessageReporter reporter);
    void write(std::string_view message);
    const std::filesystem::path& path() const { return m_path; }
    // How the last write ended: the line written, or the system's error code and whether
    // something other than a regular file stands at the name.
    bool lastWritten() const { return m_written; }
    int lastError() const { return m_error; }
    bool lastNotRegular() const { return m_notRegular; }

private:
    std::filesystem::path m_path;
    IFileStore& m_files;
    const IClock& m_clock;
    MessageReporter m_report;
    bool m_written = false;
    int m_error = 0;
    bool m_notRegular = false;
};

} // namespace tn
