#pragma once
#include "app/app_log.h"
#include "app/file_failures.h"
#include "platform/platform_services.h"

#include <atomic>
#include <bitset>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

// An immutable custom-port list. The capture worker reads it for every TCP segment while the
// options dialog may install a new one, so a list is never edited once published.
struct CustomPortList {
    std::vector<std::uint16_t> ports; // in the order the user listed them, duplicates kept
    std::bitset<65536> member;        // the same ports, for a constant-time test
    explicit CustomPortList(std::vector<std::uint16_t> p);
    bool contains(std::uint16_t port) const { return member.test(port); }
};

// Parses a comma-separated port list the way the settings load does: each piece is read as a
// decimal number (leading blanks skipped, stops at the first non-digit, no digits gives 0) and
// kept when it is 1..65534.
std::vector<std::uint16_t> parseCustomPorts(std::string_view text);

// Turns a version-resource text such as "1, 9, 0, 6" into "1.9.0.6".
std::string versionTextFromResource(std::string_view resource);

// True for a program that was installed (…/bin/tallynet), false for one run from a build tree.
bool isInstalledLocation(const std::filesystem::path& executable);

// The settings of the program and the few operations every window needs.
class CGlobal {
public:
    static constexpr const char* kSection = "SetariGenerale";

    // Setting fields, named after their keys.
    std::string LastAdapterName;
    std::int32_t TraffTpe = 0;
    std::int32_t GNfoMode = 0;
    std::int32_t RunAtStartUp = 0;
    std::int32_t StartMin = 0;
    std::int32_t WinPCap = 0;
    std::atomic<std::int32_t> RestartFlag{0}; // not stored: set by the options, read by the tick
    std::int32_t LanOnly = 0;
    std::int32_t LogFalls = 0;
    std::int32_t FallSecs = 0;
    std::int32_t PingHost = 0;
    std::string HostToPing;
    std::int32_t Incremtotal = 0;
    std::uint32_t ConSpeed = 0;
    std::int32_t Autohide = 0;
    std::int32_t ConfirmExit = 0;
    std::int32_t CustField = 0;
    std::string CustName1;
    std::int32_t TMaxScale = 0;
    std::int32_t PinPoint = 0;
    std::int32_t CountIPv6 = 1; // 0: IPv6 frames are left out of the counts, as in old versions
    std::int32_t CountApps = 1; // 0: no traffic per program, and no apps.dat
    // The data plan and the desktop notices, beyond the original settings.
    std::uint64_t PlanBytes = 0;  // the allowance per plan month; 0: no plan
    std::int32_t PlanDown = 0;    // 1: only received bytes count
    std::int32_t PlanDay = 1;     // the day of the month the plan month starts on, 1..31
    std::int32_t PlanWarn = 80;   // percent of the allowance that warns
    std::int64_t PlanWarned = -1; // the plan month (first date, days since 1970) warned of
    std::int64_t PlanFull = -1;   // the plan month whose allowance was told used up
    std::int64_t PlanFirst = -1;  // the plan month whose first day's count PlanFirstBytes keeps
    std::uint64_t PlanFirstBytes = 0;
    std::int32_t NotifyFalls = 0; // 1: a desktop notice when an outage is logged and when it ends
    std::int32_t NotifyPlan = 0;  // 1: a desktop notice at the plan's warning level and at 100%

    explicit CGlobal(const PlatformServices& os, MessageReporter reporter = {});
    virtual ~CGlobal();
    CGlobal(const CGlobal&) = delete;
    CGlobal& operator=(const CGlobal&) = delete;

    // Reads every key (WndPos excepted) with its default, in the fixed order; writes nothing.
    void loadSettings();

    // Writes one key at the moment its field changed; false when it could not be stored.
    bool writeInt(std::string_view key, std::int64_t value);
    bool writeString(std::string_view key, const std::string& value);
    bool writeBinary(std::string_view key, const std::vector<std::uint8_t>& value);
    std::optional<std::vector<std::uint8_t>> readBinary(std::string_view key) const;

    // The custom-port list as the capture worker sees it; never null.
    const CustomPortList& customPorts() const;
    // Publishes a new list; the old one stays valid for readers that still hold it.
    void replaceCustomPorts(std::vector<std::uint16_t> ports);

    // Installs (on) or removes (off) the start-up entry.
    bool setRunAtStartUp(int on);
    // An installed program that finds "Run at StartUp" on and its entry present points the
    // entry at itself, so a log-in starts the installed copy even when a build tree or an
    // earlier install wrote the entry. A build tree leaves the entry alone. True when rewritten.
    bool refreshRunAtStartUp();
    // The data directory, created when missing.
    std::filesystem::path moduleDirectory() const;
    std::filesystem::path dataFile(std::string_view name) const { return moduleDirectory() / name; }
    // The program's version, e.g. "1.0.0.0".
    static std::string programVersionText();
    // The text of the calling thread's last error (errno).
    static std::string lastSystemErrorText();
    static std::string systemErrorText(int code);
    // One line in TN.log. A log that cannot be written is told once per cause through
    // fileFailures(), not every line.
    void writeLog(std::string_view message);
    // Failed saves and files set aside, told to the user once per cause and kept in TN.log.
    CFileFailures& fileFailures() { return m_failures; }
    // The outcome of a settings write: a failure is told once per cause, a success lets it be
    // told again.
    void noteSettingsWrite(bool stored);

    void setReporter(MessageReporter reporter);
    const PlatformServices& os() const { return m_os; }

private:
    PlatformServices m_os;
    MessageReporter m_report;
    CFileFailures m_failures;
    std::atomic<const CustomPortList*> m_ports;
    std::vector<std::unique_ptr<const CustomPortList>> m_portLists; // every list ever published
    std::mutex m_portListsMutex;
};

} // namespace tn
