#include "capture/ip_stat.h"

#include "app/global.h"
#include "capture/frame_layout.h"
#include "platform/clock.h"
#include "platform/file_store.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace tn {

namespace {

constexpr std::uint8_t kNoCategory = 0xFF;

using frame::be16;
using frame::kTypeIpv4;
using frame::kTypeIpv6;
constexpr int kSentDir = 1;
constexpr int kReceivedDir = 2;

// Category of every port number that the category table lists.
constexpr std::array<std::uint8_t, 65536> makePortTable() {
    std::array<std::uint8_t, 65536> t{};
    for (auto& c : t)
        c = kNoCategory;
    for (int p : {80, 443})
        t[p] = kWeb;
    for (int p : {25, 109, 110, 143, 220, 585, 993, 995})
        t[p] = kMail;
    for (int p : {119, 563})
        t[p] = kNews;
    for (int p : {1214, 1412, 4661, 4662, 6346, 6347, 6367, 6426, 6699, 8888})
        t[p] = kFilesharing;
    for (int p : {20, 21})
        t[p] = kFtp;
    return t;
}

constinit const std::array<std::uint8_t, 65536> kPortTable = makePortTable();

// Addresses stay in network byte order, as the adapter record keeps them.
inline std::uint32_t raw32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace

CIPStat::CIPStat(CGlobal& global, const IClock& clock)
    : CPacket(global.os().adapters, global.os().capture), m_global(global), m_clock(clock),
      m_calendar(clock) {
    // The records start at zero: their counters are value-initialised.
    m_lastFrameTime = m_clock.now();
    m_calendar.attach(this);
}

CIPStat::~CIPStat() {
    stop(1000);
}

void CIPStat::resetAll() {
    for (int i = 0; i < kDays; ++i)
        resetDay(i);
    for (int m = 0; m < kMonths; ++m)
        clearMonthRecord(m);
}

void CIPStat::resetDay(int index) {
    if (index < 0 || index >= kDays)
        return;
    m_daysReceived[static_cast<std::size_t>(index)].reset();
    m_daysSent[static_cast<std::size_t>(index)].reset();
}

void CIPStat::clearMonthRecord(int index) {
    if (index < 0 || index >= kMonths)
        return;
    m_monthsReceived[static_cast<std::size_t>(index)].reset();
    m_monthsSent[static_cast<std::size_t>(index)].reset();
}

void CIPStat::zeroCategory(int category) {
    for (int h = 0; h < kHourSlots; ++h) {
        m_hoursSent[static_cast<std::size_t>(h)].set(category, 0);
        m_hoursReceived[static_cast<std::size_t>(h)].set(category, 0);
    }
    for (int d = 0; d < kDays; ++d) {
        m_daysSent[static_cast<std::size_t>(d)].set(category, 0);
        m_daysReceived[static_cast<std::size_t>(d)].set(category, 0);
    }
    for (int m = 0; m < kMonths; ++m) {
        m_monthsSent[static_cast<std::size_t>(m)].set(category, 0);
        m_monthsReceived[static_cast<std::size_t>(m)].set(category, 0);
    }
}

void CIPStat::clearCategory(int category) {
    if (category < 0 || category >= kCategoryCount)
        return;
    // Cleared at once, so a save or a view right after sees it; the worker adds with a load and
    // a store, so it clears again before its next frame in case it stored an old value back.
    zeroCategory(category);
    if (hasThread())
        m_pendingClear.fetch_or(1u << category, std::memory_order_release);
}

std::uint64_t CIPStat::dayTotal(int day) const {
    if (day < 1 || day > kDays)
        return 0;
    const auto i = static_cast<std::size_t>(day - 1);
    return m_daysReceived[i].total() + m_daysSent[i].total();
}

std::uint64_t CIPStat::monthTotal(int month) const {
    if (month < 1 || month > kMonths)
        return 0;
    const auto i = static_cast<std::size_t>(month - 1);
    return m_monthsSent[i].total() + m_monthsReceived[i].total();
}

std::uint64_t CIPStat::dayRecord(Direction dir, int day, int category) const {
    if (day < 1 || day > kDays || category < 0 || category >= kCategoryCount)
        return 0;
    const auto i = static_cast<std::size_t>(day - 1);
    return (dir == Direction::Sent ? m_daysSent[i] : m_daysReceived[i]).get(category);
}

std::uint64_t CIPStat::monthRecord(Direction dir, int month, int category) const {
    if (month < 1 || month > kMonths || category < 0 || category >= kCategoryCount)
        return 0;
    const auto i = static_cast<std::size_t>(month - 1);
    return (dir == Direction::Sent ? m_monthsSent[i] : m_monthsReceived[i]).get(category);
}

StatRecords CIPStat::snapshot() const {
    StatRecords r;
    for (std::size_t i = 0; i < kDays; ++i)
        for (int k = 0; k < kCategoryCount; ++k) {
            r.daysReceived[i][static_cast<std::size_t>(k)] = m_daysReceived[i].get(k);
            r.daysSent[i][static_cast<std::size_t>(k)] = m_daysSent[i].get(k);
        }
    for (std::size_t i = 0; i < kMonths; ++i)
        for (int k = 0; k < kCategoryCount; ++k) {
            r.monthsReceived[i][static_cast<std::size_t>(k)] = m_monthsReceived[i].get(k);
            r.monthsSent[i][static_cast<std::size_t>(k)] = m_monthsSent[i].get(k);
        }
    return r;
}

void CIPStat::restore(const StatRecords& r) {
    for (std::size_t i = 0; i < kDays; ++i)
        for (int k = 0; k < kCategoryCount; ++k) {
            m_daysReceived[i].set(k, r.daysReceived[i][static_cast<std::size_t>(k)]);
            m_daysSent[i].set(k, r.daysSent[i][static_cast<std::size_t>(k)]);
        }
    for (std::size_t i = 0; i < kMonths; ++i)
        for (int k = 0; k < kCategoryCount; ++k) {
            m_monthsReceived[i].set(k, r.monthsReceived[i][static_cast<std::size_t>(k)]);
            m_monthsSent[i].set(k, r.monthsSent[i][static_cast<std::size_t>(k)]);
        }
}

HourRecords CIPStat::hourSnapshot() const {
    HourRecords r;
    for (std::size_t i = 0; i < kHourSlots; ++i) {
        r[i].start = m_hourStart[i].load(std::memory_order_relaxed);
        for (int k = 0; k < kCategoryCount; ++k) {
            r[i].sent[static_cast<std::size_t>(k)] = m_hoursSent[i].get(k);
            r[i].received[static_cast<std::size_t>(k)] = m_hoursReceived[i].get(k);
        }
    }
    return r;
}

void CIPStat::restoreHours(const HourRecords& hours) {
    for (std::size_t i = 0; i < kHourSlots; ++i) {
        m_hourStart[i].store(hours[i].start, std::memory_order_relaxed);
        for (int k = 0; k < kCategoryCount; ++k) {
            m_hoursSent[i].set(k, hours[i].sent[static_cast<std::size_t>(k)]);
            m_hoursReceived[i].set(k, hours[i].received[static_cast<std::size_t>(k)]);
        }
    }
}

// ---- packet accounting ----

void CIPStat::batchEnded() {
    if (m_apps)
        m_apps->resolveHeld(m_clock.now(), m_calendar.day(), m_calendar.month());
}

void CIPStat::batchStarting() {
    m_lastFrameTime = m_clock.now();
    // Bytes held for a flow whose program was not known yet belong to the date they came on:
    // they are settled before a new date may clear its records.
    if (m_apps)
        m_apps->resolveHeld(m_lastFrameTime, m_calendar.day(), m_calendar.month());
}

std::int64_t CIPStat::enterSlot(std::int64_t now) {
    const auto start = localHourStart(m_clock, now);
    if (!start)
        return now + 1;
    const int slot = hourSlot(*start);
    const auto i = static_cast<std::size_t>(slot);
    if (m_hourStart[i].load(std::memory_order_relaxed) != *start) {
        // The slot held the hour two days back (or none): it starts empty.
        m_hoursSent[i].reset();
        m_hoursReceived[i].reset();
        m_hourStart[i].store(*start, std::memory_order_relaxed);
    }
    m_currentHour = slot;
    return *start + 3600;
}

void CIPStat::packetHandler(const CaptureHeader& header, const std::uint8_t* frame) {
    if (m_selected == -1 || (isFlowStart(header) && !m_apps))
        return;
    if (m_pendingClear.load(std::memory_order_relaxed) != 0) [[unlikely]] {
        const std::uint32_t mask = m_pendingClear.exchange(0, std::memory_order_acquire);
        for (int k = 0; k < kCategoryCount; ++k)
            if (mask & (1u << k))
                zeroCategory(k);
    }
    m_calendar.at(m_lastFrameTime);

    // Nothing is read past the captured bytes: a frame too short for its IP header is not
    // counted at all, and a TCP segment cut before its ports counts in the totals but in no
    // category.
    const std::uint32_t cap = header.capturedLength;
    const frame::Link link = frame::linkOf(m_link, frame, cap);
    if (!link.ok)
        return;
    const std::uint32_t ip = link.ip;
    const std::uint16_t type = link.type;
    // What the wire carried past the link header: no length field can claim more. A flow start
    // carries nothing: it goes the way of its frame and counts zero bytes, which files its flow
    // for its program while the frame itself may still be on its way.
    const std::uint32_t wire =
        isFlowStart(header) ? 0 : (header.wireLength > cap ? header.wireLength : cap);
    const std::uint32_t carried = wire > ip ? wire - ip : 0;
    if (type == kTypeIpv4)
        handleIpv4(frame, cap, ip, carried);
    else if (type == kTypeIpv6 && m_countIpv6.load(std::memory_order_relaxed) != 0)
        handleIpv6(frame, cap, ip, carried);
}

inline void CIPStat::handleIpv4(const std::uint8_t* frame, std::uint32_t cap, std::uint32_t ip,
                                std::uint32_t carried) {
    if (cap < ip + 20)
        return;
    const std::uint8_t* iph = frame + ip;
    const std::uint32_t headerBytes = (iph[0] & 0x0Fu) * 4;
    const std::uint32_t total = be16(iph + 2);
    // A header whose lengths contradict each other says nothing trustworthy about the
    // datagram: its wire bytes count in the totals, in no category.
    const bool sound = headerBytes >= 20 && total >= headerBytes;
    const std::uint32_t length = sound ? std::min(total, carried) : carried;
    const std::uint8_t protocol = iph[9];
    const std::uint32_t s = raw32(iph + 12);
    const std::uint32_t d = raw32(iph + 16);
    // The ports are read 20 bytes into the IP header whatever its length field says.
    const bool portsPresent = cap >= ip + 24;
    const std::uint16_t srcPort = portsPresent ? be16(iph + 20) : 0;
    const std::uint16_t dstPort = portsPresent ? be16(iph + 22) : 0;

    const std::uint32_t a = m_selAddress;
    const std::uint32_t mask = m_selMask;
    const std::uint32_t net = a & mask;
    const int dir = tally([&](bool src) { return (src ? s : d) == a; },
                          [&](bool src) { return ((src ? s : d) & mask) == net; }, length);
    if (dir == 0 || !sound)
        return;
    classify(dir, protocol, srcPort, dstPort, portsPresent, length);
    if (m_apps)
        countApp(dir == kSentDir ? s == a : d == a, dir, protocol, iph + 12, iph + 16, 4, srcPort,
                 dstPort, portsPresent, length);
}

void CIPStat::handleIpv6(const std::uint8_t* frame, std::uint32_t cap, std::uint32_t ip,
                         std::uint32_t carried) {
    if (cap < ip + 40)
        return;
    const std::uint8_t* iph = frame + ip;
    if ((iph[0] >> 4) != 6)
        return;
    const std::uint32_t payload = be16(iph + 4);
    // A zero payload length after a hop-by-hop header is a jumbogram, whose length only the
    // wire tells.
    const std::uint32_t length =
        (payload == 0 && iph[6] == 0) ? carried : std::min(40 + payload, carried);

    // The extension headers up to TCP or UDP. A chain cut by the capture counts in the
    // totals only; a later fragment, or an unknown header, as Others.
    const frame::Ipv6Chain chain = frame::ipv6ChainOf(frame, cap, ip + 40, iph[6]);
    const bool known = chain.known;
    const std::uint8_t next = chain.next;
    bool portsPresent = false;
    std::uint16_t srcPort = 0;
    std::uint16_t dstPort = 0;
    if (known && (next == 6 || next == 17)) {
        portsPresent = cap >= chain.transport + 4;
        if (portsPresent) {
            srcPort = be16(frame + chain.transport);
            dstPort = be16(frame + chain.transport + 2);
        }
    }

    const Ipv6Set& set = workerIpv6();
    const Ipv6Set::Half s = Ipv6Set::load(iph + 8);
    const Ipv6Set::Half d = Ipv6Set::load(iph + 24);
    const int dir = tally([&](bool src) { return set.isSelf(src ? s : d); },
                          [&](bool src) { return set.isLocal(src ? s : d); }, length);
    if (dir == 0 || !known)
        return;
    classify(dir, next, srcPort, dstPort, portsPresent, length);
    if (m_apps)
        countApp(set.isSelf(dir == kSentDir ? s : d), dir, next, iph + 8, iph + 24, 16, srcPort,
                 dstPort, portsPresent, length);
}

template <class IsSelf, class IsLocal>
inline int CIPStat::tally(IsSelf isSelf, IsLocal isLocal, std::uint32_t length) {
    const auto addSent = [this, length] {
        m_totalSent.store(m_totalSent.load(std::memory_order_relaxed) + length,
                          std::memory_order_relaxed);
    };
    const auto addReceived = [this, length] {
        m_totalReceived.store(m_totalReceived.load(std::memory_order_relaxed) + length,
                              std::memory_order_relaxed);
    };
    if (isSelf(true)) {
        addSent();
        return isLocal(false) ? 0 : kSentDir;
    }
    if (isSelf(false)) {
        addReceived();
        return isLocal(true) ? 0 : kReceivedDir;
    }
    if (isLocal(true)) {
        addSent();
        return (isLocal(false) || m_lanOnly.load(std::memory_order_relaxed) != 0) ? 0 : kSentDir;
    }
    if (isLocal(false)) {
        addReceived();
        return m_lanOnly.load(std::memory_order_relaxed) != 0 ? 0 : kReceivedDir;
    }
    return 0;
}

inline void CIPStat::countApp(bool self, int dir, std::uint8_t protocol, const std::uint8_t* src,
                              const std::uint8_t* dst, std::uint32_t addrBytes,
                              std::uint16_t srcPort, std::uint16_t dstPort, bool portsPresent,
                              std::uint32_t length) {
    const bool sent = dir == kSentDir;
    // Only a frame of this computer's own address, of TCP or UDP with its ports, can belong to
    // one of its sockets; a neighbour's frame (LanOnly off) or ICMP never does.
    if (self && portsPresent && (protocol == 6 || protocol == 17))
        m_apps->count(makeFlowWords(protocol, src, dst, addrBytes, srcPort, dstPort, sent), sent,
                      length, m_calendar.day(), m_calendar.month());
    else
        m_apps->countUnowned(sent, length, m_calendar.day(), m_calendar.month());
}

inline void CIPStat::classify(int dir, std::uint8_t protocol, std::uint16_t srcPort,
                              std::uint16_t dstPort, bool portsPresent, std::uint32_t length) {
    const auto di = static_cast<std::size_t>(m_calendar.day() - 1);
    const auto mi = static_cast<std::size_t>(m_calendar.month() - 1);
    const auto hi = static_cast<std::size_t>(m_currentHour);
    if (dir == kSentDir)
        account(m_daysSent[di], m_monthsSent[mi], m_hoursSent[hi], protocol, dstPort, srcPort,
                portsPresent, length);
    else
        account(m_daysReceived[di], m_monthsReceived[mi], m_hoursReceived[hi], protocol, srcPort,
                dstPort, portsPresent, length);
}

inline void CIPStat::account(CPortStat& day, CPortStat& month, CPortStat& hour,
                             std::uint8_t protocol, std::uint16_t remote, std::uint16_t local,
                             bool portsPresent, std::uint32_t length) {
    if (protocol == 17) {
        day.add(kUdp, length);
        month.add(kUdp, length);
        hour.add(kUdp, length);
        return;
    }
    if (protocol != 6) {
        remote = 0;
        local = 0;
    } else if (!portsPresent) {
        return;
    }
    const CustomPortList& custom = m_global.customPorts();
    if (custom.contains(remote) || custom.contains(local)) {
        day.add(kCustom, length);
        month.add(kCustom, length);
        hour.add(kCustom, length);
    }
    int category = kPortTable[remote];
    if (category == kNoCategory)
        category = kPortTable[local];
    if (category == kNoCategory)
        category = kOthers;
    day.add(category, length);
    month.add(category, length);
    hour.add(category, length);
}

// ---- database ----

int CIPStat::initialise(int adapterIndex) {
    // The list is rebuilt below: no device may stay open on a record that goes away.
    closeAll();
    // Reloading would drop what was counted since the last save (up to a minute of traffic
    // when the user picks another adapter): write it out first.
    if (m_dbReady && snapshot() != m_initialised)
        save();
    m_dbReady = 1;
    setCountIpv6(m_global.CountIPv6 != 0 ? 1 : 0);
    std::int64_t saveTime =
        m_clock.fromLocal(LocalTime{2002, 1, 1, 0, 0, 0, -1}).value_or(1009843200);
    resetAll();
    load(saveTime);
    // Counting per program asks the kernel for a flow's socket while the socket may still be
    // there: a connection's first segment is told of at once, and where it cannot be, frames
    // are handed over within a tenth of a second, not half a second.
    setFlowStarts(m_global.CountApps != 0);
    if (m_global.CountApps != 0) {
        if (!m_apps)
            m_apps = std::make_unique<CAppCounter>(m_global.os().socketOwners);
        m_calendar.attach(m_apps.get());
        loadApps(saveTime);
    } else if (m_apps) {
        m_calendar.detach(m_apps.get());
        m_apps.reset();
    }
    loadHours();
    m_calendar.clearStale(saveTime);
    m_initialised = snapshot();
    if (!buildAdapterList()) {
        m_statError = CNetAdapter::lastErrorText();
        return 0;
    }
    if (adapterIndex < 0)
        return 1;
    if (open(adapterIndex, kUserBufferBytes, kKernelBufferBytes, 1))
        return 1;
    m_statError = CNetAdapter::lastErrorText();
    return 0;
}

void CIPStat::load(std::int64_t& saveTime) {
    loadFrom(saveTime, true);
}

namespace {

const char* readProblem(ReadStatus status) {
    switch (status) {
    case ReadStatus::TooLarge:
        return "larger than any history file";
    case ReadStatus::Failed:
        return "a read error";
    default:
        return "";
    }
}

} // namespace

void CIPStat::loadFrom(std::int64_t& saveTime, bool mayConvert) {
    const auto failed = [this](std::int32_t v) {
        m_global.writeLog("Failed converting database from version: " + std::to_string(v) +
                          " to version: " + std::to_string(kStatFileVersion));
    };
    IFileStore* files = m_global.os().files;
    if (!files)
        return;
    // Whatever cannot be read is kept aside and the other copy is tried: one bad file never
    // costs the history, and a bad stat.dat is never rotated over a good stat.bak. The user is
    // told once, after both were tried.
    std::string told;
    const auto tell = [&](const std::filesystem::path& file, std::string_view why) {
        const SetAsideResult aside = files->setAside(file, setAsideStamp(m_clock), kKeptBadFiles);
        told += (told.empty() ? "" : "\n") + badFileText(file, why, aside);
    };
    const auto finish = [&] {
        if (!told.empty())
            m_global.fileFailures().tell(m_global.dataFile("stat.dat"), told);
    };
    for (const char* name : {"stat.dat", "stat.bak"}) {
        const std::filesystem::path file = m_global.dataFile(name);
        std::vector<std::uint8_t> bytes;
        const ReadStatus status = files->read(file, kStatFileV1Size, bytes);
        if (status == ReadStatus::Missing)
            continue;
        if (status == ReadStatus::NotRegular) {
            told += (told.empty() ? "" : "\n") +
                    badFileText(file, "not a regular file", {SetAsideStatus::NotRegular, {}, 0});
            continue;
        }
        std::string problem = readProblem(status);
        if (problem.empty())
            problem = statFileProblem(bytes);
        if (!problem.empty()) {
            std::int32_t version = 0;
            if (status == ReadStatus::Ok && statFileVersion(bytes, version) && version != 1 &&
                version != 2)
                failed(version);
            tell(file, problem);
            continue;
        }
        std::int32_t version = 0;
        statFileVersion(bytes, version);
        StatRecords records = snapshot();
        if (version == 2) {
            decodeStatFileV2(bytes, records, saveTime);
            restore(records);
            finish();
            return;
        }
        if (!mayConvert) {
            failed(version);
            finish();
            return;
        }
        std::int64_t oldSaveTime = 0;
        decodeStatFileV1(bytes, records, oldSaveTime);
        restore(records);
        if (files->replace(m_global.dataFile("stat.dat"), {},
                           encodeStatFile(records, oldSaveTime))) {
            loadFrom(saveTime, false);
            m_global.writeLog(
                "Successfully converted database from version: " + std::to_string(version) +
                " to version: " + std::to_string(kStatFileVersion));
        } else {
            failed(version);
        }
        finish();
        return;
    }
    finish();
}

void CIPStat::save() {
    IFileStore* files = m_global.os().files;
    if (!m_dbReady || !files)
        return;
    // The stamp is a time of the newest date the records were started for, not simply now.
    const std::int64_t stamp = m_calendar.saveStamp();
    // Every counter is read whole and the copy does not change while it is written.
    const std::vector<std::uint8_t> bytes = encodeStatFile(snapshot(), stamp);
    const std::filesystem::path target = m_global.dataFile("stat.dat");
    std::filesystem::path backup = m_global.dataFile("stat.bak");
    // Only a good stat.dat becomes the backup. One that went bad since the load is kept aside
    // first; should that fail, it is overwritten in place and stat.bak stays as it is.
    std::vector<std::uint8_t> old;
    const ReadStatus oldStatus = files->read(target, kStatFileV1Size, old);
    if (oldStatus == ReadStatus::Ok || oldStatus == ReadStatus::TooLarge ||
        oldStatus == ReadStatus::Failed) {
        std::string problem = readProblem(oldStatus);
        if (problem.empty())
            problem = statFileProblem(old);
        if (!problem.empty()) {
            const SetAsideResult aside =
                files->setAside(target, setAsideStamp(m_clock), kKeptBadFiles);
            m_global.fileFailures().tell(target, badFileText(target, problem, aside));
            if (aside.status != SetAsideStatus::Moved)
                backup.clear();
        }
    }
    const ReplaceResult result = files->replace(target, backup, bytes);
    if (result) {
        m_global.fileFailures().succeeded(target);
        // Only beside a stat.dat that was written: a full disk is then told once, for the
        // history that matters more. apps.dat goes under the same stamp as stat.dat.
        saveHours();
        if (m_apps)
            saveApps(stamp);
    } else {
        m_global.fileFailures().failed(target, result.error,
                                       result.status == ReplaceStatus::NotRegular,
                                       "Counting goes on in memory; the next save tries again.");
    }
}

void CIPStat::loadHours() {
    restoreHours(HourRecords{});
    IFileStore* files = m_global.os().files;
    if (!files)
        return;
    const std::filesystem::path file = m_global.dataFile("hours.dat");
    std::vector<std::uint8_t> bytes;
    const ReadStatus status = files->read(file, kHourFileSize, bytes);
    if (status == ReadStatus::Missing)
        return;
    if (status == ReadStatus::NotRegular) {
        m_global.fileFailures().tell(
            file, badFileText(file, "not a regular file", {SetAsideStatus::NotRegular, {}, 0}));
        return;
    }
    std::string problem = readProblem(status);
    if (problem.empty())
        problem = hourFileProblem(bytes);
    HourRecords hours;
    if (problem.empty() && decodeHourFile(bytes, hours)) {
        restoreHours(hours);
        return;
    }
    // The hours start again from empty; the damaged file is kept for whoever wants to look.
    const SetAsideResult aside = files->setAside(file, setAsideStamp(m_clock), kKeptBadFiles);
    m_global.fileFailures().tell(file, badFileText(file, problem, aside));
}

void CIPStat::saveHours() {
    IFileStore* files = m_global.os().files;
    writeBeside(*files, "hours.dat", encodeHourFile(hourSnapshot()));
}

void CIPStat::writeBeside(IFileStore& files, const char* name,
                          const std::vector<std::uint8_t>& bytes) {
    const std::filesystem::path target = m_global.dataFile(name);
    const ReplaceResult result = files.replace(target, {}, bytes);
    if (result)
        m_global.fileFailures().succeeded(target);
    else
        m_global.fileFailures().failed(target, result.error,
                                       result.status == ReplaceStatus::NotRegular,
                                       "Counting goes on in memory; the next save tries again.");
}

void CIPStat::loadApps(std::int64_t statSaveTime) {
    IFileStore* files = m_global.os().files;
    if (!files || !m_apps)
        return;
    const std::filesystem::path file = m_global.dataFile("apps.dat");
    std::vector<std::uint8_t> bytes;
    const ReadStatus status = files->read(file, kAppsFileMaxSize, bytes);
    if (status == ReadStatus::Missing) {
        m_apps->restore(AppRecords{});
        return;
    }
    if (status == ReadStatus::NotRegular) {
        m_global.fileFailures().tell(
            file, badFileText(file, "not a regular file", {SetAsideStatus::NotRegular, {}, 0}));
        m_apps->restore(AppRecords{});
        return;
    }
    AppRecords records;
    std::int64_t appsSaveTime = 0;
    std::string problem = readProblem(status);
    if (problem.empty())
        problem = decodeAppsFile(bytes, records, appsSaveTime);
    if (!problem.empty()) {
        // Kept aside as a damaged stat.dat is: never thrown away, never written over.
        const SetAsideResult aside = files->setAside(file, setAsideStamp(m_clock), kKeptBadFiles);
        m_global.fileFailures().tell(file, badFileText(file, problem, aside));
        m_apps->restore(AppRecords{});
        return;
    }
    m_apps->restore(records);
    // Saved before stat.dat (counting per program was off for a while): its own stale dates go
    // first, by the same rule, and then both histories are cleared together.
    if (appsSaveTime < statSaveTime)
        m_calendar.catchUp(*m_apps, appsSaveTime, statSaveTime);
}

void CIPStat::saveApps(std::int64_t stamp) {
    IFileStore* files = m_global.os().files;
    if (!files)
        return;
    writeBeside(*files, "apps.dat", encodeAppsFile(m_apps->snapshot(), stamp));
}

void CIPStat::stopAndSave() {
    stop(1000);
    save();
}

void CIPStat::stopCapture() {
    if (hasThread())
        stop(100);
    closeAll();
}

} // namespace tn
