#pragma once
#include "capture/flow_key.h"
#include "stats/apps_file.h"
#include "stats/record_calendar.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tn {

// The traffic per program: every byte the packet handler counts in a day and month record is
// also counted here for the program whose socket sent or received it. The handler files flows in
// a fixed table; a flow it has not seen is held (its bytes kept with it) until the socket
// owners name its program, or until it is plainly nobody's here. One writer (the capture
// worker); the records and the running totals may be read from any thread.
class CAppCounter final : public IDatedRecords {
public:
    // Names held in memory at once, "Not a program of this computer" and "Other programs"
    // among them; further programs count as "Other programs".
    static constexpr int kPrograms = 256;
    static constexpr int kFlowSlots = 8192;
    // A flow whose socket was not found by then is taken for nobody's on this computer.
    static constexpr std::int64_t kGiveUpSeconds = 3;
    // A flow silent this long is asked about again: its ports may now be another program's.
    static constexpr std::int64_t kIdleSeconds = 60;

    explicit CAppCounter(ISocketOwners* owners);
    ~CAppCounter() override;

    // ---- capture worker ----
    // A frame of a flow of this computer, counted into day record `day` (1..31) and month
    // record `month` (1..12).
    [[gnu::always_inline]] void count(const FlowWords& key, bool sent, std::uint32_t length,
                                      int day, int month) {
        // A flood is mostly one flow: its frames skip the hash and add up in two plain
        // counters, which reach the records between batches.
        if (m_last && key == m_lastKey && day == m_lastDay && month == m_lastMonth) [[likely]] {
            (sent ? m_lastSent : m_lastReceived) += length;
            return;
        }
        flushLast();
        const std::uint64_t h = flowHash(key);
        Flow* f = &m_flows[h & (kFlowSlots - 1)];
        if (!(f->used && FlowWords::of(f->key) == key && f->app >= 0 &&
              m_now - f->lastSeen < kIdleSeconds)) [[unlikely]] {
            f = slowFlow(key.key(), h);
            if (f->app < 0) {
                (sent ? f->heldSent : f->heldReceived) += length;
                f->lastSeen = m_now;
                return;
            }
        }
        f->lastSeen = m_now;
        m_last = f;
        m_lastKey = key;
        m_lastDay = day;
        m_lastMonth = month;
        add(f->app, sent, length, day, month);
    }
    // A frame counted in the records that no socket of this computer can have carried (not TCP
    // or UDP, or not this computer's own address).
    void countUnowned(bool sent, std::uint32_t length, int day, int month) {
        add(kNotAProgramId, sent, length, day, month);
    }
    // Between batches: asks about the flows held back, and gives up on the old ones.
    void resolveHeld(std::int64_t now, int day, int month);

    // ---- any thread ----
    AppRecords snapshot() const;
    // Bytes per program since the counter was made (for speeds: the difference of two reads).
    std::vector<AppUsage> runningTotals() const;

    // ---- while capture is stopped ----
    void restore(const AppRecords& records);
    void clearDayRecord(int index) override;
    void clearMonthRecord(int index) override;
    void clearAllRecords() override;

private:
    static constexpr int kNotAProgramId = 0;
    static constexpr int kOtherId = 1;
    static constexpr int kProbe = 4;
    struct Flow {
        FlowKey key;
        bool used = false;
        bool asked = false;    // asked against m_knowledge already
        bool queued = false;   // in m_held
        std::int16_t app = -1; // -1: held until its program is known
        std::int64_t lastSeen = 0;
        std::int64_t firstSeen = 0;
        std::uint64_t heldSent = 0;
        std::uint64_t heldReceived = 0;
    };
    struct Pair {
        std::atomic<std::uint64_t> sent{0};
        std::atomic<std::uint64_t> received{0};
    };
    using Record = std::array<Pair, kPrograms>;

    static void bump(std::atomic<std::uint64_t>& c, std::uint64_t v) {
        c.store(c.load(std::memory_order_relaxed) + v, std::memory_order_relaxed);
    }
    void add(int app, bool sent, std::uint64_t length, int day, int month) {
        Pair& d = m_records[static_cast<std::size_t>(day - 1)][static_cast<std::size_t>(app)];
        Pair& m =
            m_records[static_cast<std::size_t>(31 + month - 1)][static_cast<std::size_t>(app)];
        Pair& r = m_running[static_cast<std::size_t>(app)];
        if (sent) {
            bump(d.sent, length);
            bump(m.sent, length);
            bump(r.sent, length);
        } else {
            bump(d.received, length);
            bump(m.received, length);
            bump(r.received, length);
        }
    }
    // The last flow's bytes into the records; before anything else reads or moves them.
    void flushLast() {
        if (!m_last)
            return;
        if (m_lastSent)
            add(m_last->app, true, m_lastSent, m_lastDay, m_lastMonth);
        if (m_lastReceived)
            add(m_last->app, false, m_lastReceived, m_lastDay, m_lastMonth);
        m_last->lastSeen = m_now;
        m_lastSent = m_lastReceived = 0;
        m_last = nullptr;
    }
    Flow* slowFlow(const FlowKey& key, std::uint64_t h);
    void hold(Flow& f);
    void settle(Flow& f, int app, int day, int month);
    int intern(const std::string& name);
    void clearRecord(std::size_t r);

    struct Free {
        void operator()(void* p) const { std::free(p); }
    };

    ISocketOwners* m_owners;
    // Zeroed by the allocator, not written: a table this large comes as fresh pages of the
    // system's, which take memory only once a flow lands in them. All-zero bytes are an unused
    // slot.
    std::unique_ptr<Flow[], Free> m_flows;
    Flow* m_last = nullptr; // the flow of the last frame counted (named), and its bytes since
    FlowWords m_lastKey;
    std::uint64_t m_lastSent = 0;
    std::uint64_t m_lastReceived = 0;
    int m_lastDay = 0;
    int m_lastMonth = 0;
    std::vector<int> m_held; // flow slots waiting for their program
    std::int64_t m_now = 0;
    std::uint64_t m_knowledge = 0; // the owners' knowledge the waiting flows were asked against
    int m_day = 1; // the records of the last batch, for bytes settled between batches
    int m_month = 1;
    std::unique_ptr<std::array<Record, 43>> m_recordsStore;
    std::array<Record, 43>& m_records;
    std::array<Pair, kPrograms> m_running;
    mutable std::mutex m_namesMutex; // the worker adds names while others read them
    std::vector<std::string> m_names;
    std::unordered_map<std::string, int> m_ids;
    std::atomic<int> m_nameCount{0};
};

} // namespace tn
