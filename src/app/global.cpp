#include "app/global.h"

#include "app/error_text.h"

#include "platform/autostart.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/settings_store.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <system_error>

namespace tn {

CustomPortList::CustomPortList(std::vector<std::uint16_t> p) : ports(std::move(p)) {
    for (std::uint16_t port : ports)
        member.set(port);
}

std::vector<std::uint16_t> parseCustomPorts(std::string_view text) {
    std::vector<std::uint16_t> kept;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos)
            comma = text.size();
        std::string_view piece = text.substr(start, comma - start);
        start = comma + 1;
        // atoi-like: blanks skipped, digits until the first other character, none gives 0.
        std::size_t i = 0;
        while (i < piece.size() && (piece[i] == ' ' || piece[i] == '\t'))
            ++i;
        std::uint32_t value = 0;
        bool overflow = false;
        for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
            value = value * 10 + static_cast<std::uint32_t>(piece[i] - '0');
            if (value >= 65535)
                overflow = true; // stays out of range however many digits follow
        }
        if (!overflow && value >= 1 && value < 65535)
            kept.push_back(static_cast<std::uint16_t>(value));
        if (comma == text.size())
            break;
    }
    return kept;
}

std::string versionTextFromResource(std::string_view resource) {
    std::string out;
    for (char c : resource) {
        if (c == ',')
            out += '.';
        else if (c != ' ')
            out += c;
    }
    return out;
}

CGlobal::CGlobal(const PlatformServices& os, MessageReporter reporter)
    : m_os(os), m_report(std::move(reporter)) {
    m_portLists.push_back(std::make_unique<const CustomPortList>(std::vector<std::uint16_t>{}));
    m_ports.store(m_portLists.back().get(), std::memory_order_release);
    m_failures.setLog([this](std::string_view line) { writeLog(line); },
                      [this] { return dataFile("TN.log"); });
}

CGlobal::~CGlobal() = default;

void CGlobal::setReporter(MessageReporter reporter) {
    m_report = std::move(reporter);
}

namespace {

// Days since 1970 of the year 9999's end: no plan month lies later.
constexpr std::int64_t kMaxPlanDays = 2932896;

// A stored number that does not fit the field's 32-bit kind is unreadable, so its default applies.
std::optional<std::int64_t> readRanged(const ISettingsStore* store, const char* key,
                                       std::int64_t lo, std::int64_t hi) {
    if (!store)
        return std::nullopt;
    const auto v = store->getInt(key);
    if (!v || *v < lo || *v > hi)
        return std::nullopt;
    return v;
}

std::int32_t readInt(const ISettingsStore* store, const char* key, std::int32_t def) {
    const auto v = readRanged(store, key, std::numeric_limits<std::int32_t>::min(),
                              std::numeric_limits<std::int32_t>::max());
    return v ? static_cast<std::int32_t>(*v) : def;
}

std::uint32_t readUnsigned(const ISettingsStore* store, const char* key, std::uint32_t def) {
    const auto v = readRanged(store, key, 0, std::numeric_limits<std::uint32_t>::max());
    return v ? static_cast<std::uint32_t>(*v) : def;
}

std::string readString(const ISettingsStore* store, const char* key) {
    if (!store)
        return {};
    return store->getString(key).value_or(std::string{});
}

} // namespace

void CGlobal::loadSettings() {
    const ISettingsStore* s = m_os.settings;
    LastAdapterName = readString(s, "LastAdapterName");
    TraffTpe = readInt(s, "TraffTpe", 0);
    GNfoMode = readInt(s, "GNfoMode", 1);
    RunAtStartUp = readInt(s, "RunAtStartUp", 0);
    StartMin = readInt(s, "StartMin", 0);
    WinPCap = readInt(s, "WinPCap", 0);
    LanOnly = readInt(s, "LanOnly", 0);
    LogFalls = readInt(s, "LogFalls", 0);
    FallSecs = readInt(s, "FallSecs", 20);
    PingHost = readInt(s, "PingHost", 0);
    HostToPing = readString(s, "HostToPing");
    Incremtotal = readInt(s, "Incremtotal", 0);
    ConSpeed = readUnsigned(s, "ConSpeed", 128);
    Autohide = readInt(s, "Autohide", 0);
    ConfirmExit = readInt(s, "ConfirmExit", 0);
    CustField = readInt(s, "CustField", 0);
    TMaxScale = readInt(s, "TMaxScale", 1);
    PinPoint = readInt(s, "PinPoint", 0);
    CountIPv6 = readInt(s, "CountIPv6", 1);
    CountApps = readInt(s, "CountApps", 1);
    PlanBytes = static_cast<std::uint64_t>(
        readRanged(s, "PlanBytes", 0, std::numeric_limits<std::int64_t>::max()).value_or(0));
    PlanDown = readInt(s, "PlanDown", 0);
    PlanDay = static_cast<std::int32_t>(readRanged(s, "PlanDay", 1, 31).value_or(1));
    PlanWarn = static_cast<std::int32_t>(readRanged(s, "PlanWarn", 1, 100).value_or(80));
    PlanWarned = readRanged(s, "PlanWarned", -1, kMaxPlanDays).value_or(-1);
    PlanFull = readRanged(s, "PlanFull", -1, kMaxPlanDays).value_or(-1);
    PlanFirst = readRanged(s, "PlanFirst", -1, kMaxPlanDays).value_or(-1);
    PlanFirstBytes = static_cast<std::uint64_t>(
        readRanged(s, "PlanFirstBytes", 0, std::numeric_limits<std::int64_t>::max()).value_or(0));
    NotifyFalls = readInt(s, "NotifyFalls", 0);
    NotifyPlan = readInt(s, "NotifyPlan", 0);
    if (CustField != 0) {
        CustName1 = readString(s, "CustName1");
        std::vector<std::uint16_t> ports = parseCustomPorts(readString(s, "CustPort1"));
        if (ports.empty())
            CustField = 0; // in memory only: the stored value stays as the user left it
        else
            replaceCustomPorts(std::move(ports));
    }
}

bool CGlobal::writeInt(std::string_view key, std::int64_t value) {
    if (!m_os.settings)
        return false;
    const bool stored = m_os.settings->setInt(std::string(key), value);
    noteSettingsWrite(stored);
    return stored;
}

bool CGlobal::writeString(std::string_view key, const std::string& value) {
    if (!m_os.settings)
        return false;
    const bool stored = m_os.settings->setString(std::string(key), value);
    noteSettingsWrite(stored);
    return stored;
}

bool CGlobal::writeBinary(std::string_view key, const std::vector<std::uint8_t>& value) {
    if (!m_os.settings)
        return false;
    const bool stored = m_os.settings->setBinary(std::string(key), value);
    noteSettingsWrite(stored);
    return stored;
}

void CGlobal::noteSettingsWrite(bool stored) {
    const StoreOutcome outcome = m_os.settings->lastStore();
    if (outcome.file.empty())
        return; // a store without a file (the tests' memory store) has nothing to tell
    if (stored)
        m_failures.succeeded(outcome.file);
    else
        m_failures.failed(outcome.file, outcome.error, outcome.notRegular,
                          "The setting is kept for this session only; the next change tries "
                          "again.");
}

std::optional<std::vector<std::uint8_t>> CGlobal::readBinary(std::string_view key) const {
    if (!m_os.settings)
        return std::nullopt;
    return m_os.settings->getBinary(std::string(key));
}

const CustomPortList& CGlobal::customPorts() const {
    return *m_ports.load(std::memory_order_acquire);
}

void CGlobal::replaceCustomPorts(std::vector<std::uint16_t> ports) {
    auto list = std::make_unique<const CustomPortList>(std::move(ports));
    const CustomPortList* raw = list.get();
    {
        // Old lists are kept until the program ends: a worker may still be reading one, and a
        // list is replaced only when the user confirms the options, so they never pile up.
        std::lock_guard lock(m_portListsMutex);
        m_portLists.push_back(std::move(list));
    }
    m_ports.store(raw, std::memory_order_release);
}

bool CGlobal::setRunAtStartUp(int on) {
    return m_os.autostart && m_os.autostart->set(on != 0);
}

bool isInstalledLocation(const std::filesystem::path& executable) {
    return executable.is_absolute() && executable.parent_path().filename() == "bin";
}

bool CGlobal::refreshRunAtStartUp() {
    if (RunAtStartUp == 0 || !m_os.autostart || !m_os.paths ||
        !isInstalledLocation(m_os.paths->executablePath()) || !m_os.autostart->isSet())
        return false;
    return m_os.autostart->set(true);
}

std::filesystem::path CGlobal::moduleDirectory() const {
    return m_os.paths ? m_os.paths->dataDirectory() : std::filesystem::path(".");
}

std::string CGlobal::programVersionText() {
    // The compiled-in project version stands where the Windows build reads its version resource.
    return versionTextFromResource(TALLYNET_VERSION_TEXT);
}

std::string CGlobal::systemErrorText(int code) {
    return tn::systemErrorText(code);
}

std::string CGlobal::lastSystemErrorText() {
    return tn::systemErrorText(errno);
}

void CGlobal::writeLog(std::string_view message) {
    if (!m_os.clock || !m_os.files)
        return;
    const std::filesystem::path file = dataFile("TN.log");
    std::string shown;
    CAppLog log(file, *m_os.files, *m_os.clock,
                [&shown](const std::string& text, MessageIcon) { shown = text; });
    log.write(message);
    if (log.lastWritten()) {
        m_failures.succeeded(file);
        return;
    }
    if (shown.empty())
        return;
    // The log's own texts lead; the path and the reason follow. A log that keeps failing is
    // told once, not with every line.
    m_failures.tellOnce(
        file, shown + (log.lastNotRegular() ? " not regular" : std::to_string(log.lastError())),
        shown + "\n\n" +
            CFileFailures::failureText(file, log.lastError(), log.lastNotRegular(),
                                       "Its lines are lost until it can be "
                                       "written again."));
}

} // namespace tn
