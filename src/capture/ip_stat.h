#pragma once
#include "capture/app_counter.h"
#include "capture/packet.h"
#include "capture/port_stat.h"
#include "stats/hour_file.h"
#include "stats/record_calendar.h"
#include "stats/stat_file.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace tn {

class CGlobal;
class IClock;
class IFileStore;
struct LocalTime;

enum class Direction { Sent, Received };

// The statistics owner: the capture object with the packet accounting by direction and port
// category, the day and month records, the running totals and the database stat.dat.
class CIPStat : public CPacket, private IDatedRecords {
public:
    static constexpr int kDays = 31;
    static constexpr int kMonths = 12;
    static constexpr int kUserBufferBytes = 524288;
    static constexpr int kKernelBufferBytes = 524288;

    CIPStat(CGlobal& global, const IClock& clock);
    ~CIPStat() override;

    // Loads the database, clears what went stale, rebuilds the adapter list and, for an index
    // of 0 or more, opens capture on it. 1 on success, 0 with lastErrorText() set.
    int initialise(int adapterIndex);
    std::string lastErrorText() const { return m_statError; }
    // Writes stat.dat (the previous one becomes stat.bak); nothing before the first initialise.
    void save();
    // Stops the worker (1000 ms) and saves.
    void stopAndSave();
    // Stops the worker (100 ms) and closes every device.
    void stopCapture();
    // Reads stat.dat (else stat.bak) into the records; `saveTime` receives the stored save
    // time of a version-2 file and is left alone otherwise. Converts a version-1 file.
    void load(std::int64_t& saveTime);

    // The packet handler; runs on the capture worker.
    void packetHandler(const CaptureHeader& header, const std::uint8_t* frame) override;
    // Takes the time that the next frames are accounted at.
    void batchStarting() override;
    // Asks at once about the flows the batch brought: a short connection may be gone soon.
    void batchEnded() override;

    std::uint64_t totalReceived() const { return m_totalReceived.load(std::memory_order_relaxed); }
    std::uint64_t totalSent() const { return m_totalSent.load(std::memory_order_relaxed); }
    void setLanOnly(int on) { m_lanOnly.store(on, std::memory_order_relaxed); }
    int lanOnly() const { return m_lanOnly.load(std::memory_order_relaxed); }
    // 0 leaves IPv6 frames uncounted (the setting CountIPv6); initialise takes the setting.
    void setCountIpv6(int on) { m_countIpv6.store(on, std::memory_order_relaxed); }
    int countIpv6() const { return m_countIpv6.load(std::memory_order_relaxed); }

    // Day d (1..31) and month m (1..12), both directions; 0 outside those ranges.
    std::uint64_t dayTotal(int day) const;
    std::uint64_t monthTotal(int month) const;
    std::uint64_t dayRecord(Direction dir, int day, int category) const;
    std::uint64_t monthRecord(Direction dir, int month, int category) const;
    // Clears days received[i] and days sent[i]; an index outside 0..30 is ignored.
    void resetDay(int index);
    // Sets counter k to 0 in every day and month record. While the worker runs it clears the
    // counter once more before its next frame, so an add it had under way cannot bring the old
    // value back.
    void clearCategory(int category);

    // The traffic per program; null while the setting CountApps is 0 (initialise takes it).
    const CAppCounter* apps() const { return m_apps.get(); }

    int databaseVersion() const { return kStatFileVersion; }
    int databaseReady() const { return m_dbReady; }
    StatRecords snapshot() const;
    // Replaces all 86 records; only while capture is stopped.
    void restore(const StatRecords& records);
    // The last 48 hours' records (hours.dat), read like snapshot(); restoreHours only while
    // capture is stopped.
    HourRecords hourSnapshot() const;
    void restoreHours(const HourRecords& hours);
    // Where saves write their bytes; tests substitute a failing writer.

private:
    void resetAll();
    void zeroCategory(int category);
    void clearDayRecord(int index) override { resetDay(index); }
    void clearMonthRecord(int index) override;
    void clearAllRecords() override { resetAll(); }
    void loadFrom(std::int64_t& saveTime, bool mayConvert);
    // apps.dat: read into the program records (a damaged file is kept aside), and written.
    void loadApps(std::int64_t statSaveTime);
    void saveApps(std::int64_t stamp);
    [[gnu::always_inline]] void countApp(bool self, int dir, std::uint8_t protocol,
                                         const std::uint8_t* src, const std::uint8_t* dst,
                                         std::uint32_t addrBytes, std::uint16_t srcPort,
                                         std::uint16_t dstPort, bool portsPresent,
                                         std::uint32_t length);
    void loadHours();
    void saveHours();
    // A file of the data folder beside stat.dat, replaced whole; a failure is told as for it.
    void writeBeside(IFileStore& files, const char* name, const std::vector<std::uint8_t>& bytes);
    // Starts the hour of `now` in its slot unless the slot already holds it; returns the
    // hour's end.
    std::int64_t enterSlot(std::int64_t now) override;
    // Inlined into the handler: they run for every frame.
    [[gnu::always_inline]] void handleIpv4(const std::uint8_t* frame, std::uint32_t cap,
                                           std::uint32_t ip, std::uint32_t carried);
    void handleIpv6(const std::uint8_t* frame, std::uint32_t cap, std::uint32_t ip,
                    std::uint32_t carried);
    // Adds the frame to the total of its direction; returns 1 (sent) or 2 (received) when it
    // also counts in a category, 0 otherwise.
    template <class IsSelf, class IsLocal>
    [[gnu::always_inline]] int tally(IsSelf isSelf, IsLocal isLocal, std::uint32_t length);
    [[gnu::always_inline]] void classify(int dir, std::uint8_t protocol, std::uint16_t srcPort,
                                         std::uint16_t dstPort, bool portsPresent,
                                         std::uint32_t length);
    [[gnu::always_inline]] void account(CPortStat& day, CPortStat& month, CPortStat& hour,
                                        std::uint8_t protocol, std::uint16_t remote,
                                        std::uint16_t local, bool portsPresent,
                                        std::uint32_t length);

    CGlobal& m_global;
    const IClock& m_clock;

    std::array<CPortStat, kDays> m_daysSent;
    std::array<CPortStat, kDays> m_daysReceived;
    std::array<CPortStat, kMonths> m_monthsSent;
    std::array<CPortStat, kMonths> m_monthsReceived;
    std::array<CPortStat, kHourSlots> m_hoursSent;
    std::array<CPortStat, kHourSlots> m_hoursReceived;
    std::array<std::atomic<std::int64_t>, kHourSlots> m_hourStart{};
    std::atomic<int> m_lanOnly{1};
    std::atomic<int> m_countIpv6{1};
    std::atomic<std::uint64_t> m_totalReceived{0};
    std::atomic<std::uint64_t> m_totalSent{0};
    std::atomic<std::uint32_t> m_pendingClear{0}; // one bit per category, taken by the worker

    // Worker-only state of the handler.
    std::int64_t m_lastFrameTime = 0;
    // Which records a frame counts into, and which records a new date clears.
    CRecordCalendar m_calendar;
    std::unique_ptr<CAppCounter> m_apps;
    int m_currentHour = 0; // the hour slot counted into

    int m_dbReady = 0;
    StatRecords m_initialised; // the records as the last initialise left them
    std::string m_statError;
};

} // namespace tn
