#include "capture/app_counter.h"

#include <algorithm>
#include <new>
#include <type_traits>

namespace tn {

CAppCounter::CAppCounter(ISocketOwners* owners)
    : m_owners(owners), m_flows(static_cast<Flow*>(std::calloc(kFlowSlots, sizeof(Flow)))),
      m_recordsStore(std::make_unique<std::array<Record, 43>>()), m_records(*m_recordsStore) {
    static_assert(std::is_trivially_copyable_v<Flow> && std::is_trivially_destructible_v<Flow>,
                  "the flow table is used as the allocator's zeroed bytes");
    if (!m_flows)
        throw std::bad_alloc();
    intern(kNotAProgram);
    intern(kOtherPrograms);
    if (m_owners)
        m_owners->begin();
}

CAppCounter::~CAppCounter() = default;

int CAppCounter::intern(const std::string& name) {
    const std::lock_guard lock(m_namesMutex);
    if (const auto it = m_ids.find(name); it != m_ids.end())
        return it->second;
    if (m_names.size() >= static_cast<std::size_t>(kPrograms))
        return kOtherId;
    const int id = static_cast<int>(m_names.size());
    m_names.push_back(name);
    m_ids.emplace(name, id);
    return id;
}

CAppCounter::Flow* CAppCounter::slowFlow(const FlowKey& key, std::uint64_t h) {
    Flow* victim = nullptr;
    for (int i = 0; i < kProbe; ++i) {
        Flow& f = m_flows[(h + static_cast<std::uint64_t>(i)) & (kFlowSlots - 1)];
        if (f.used && f.key == key) {
            if (f.app >= 0 && m_now - f.lastSeen >= kIdleSeconds) {
                // Quiet for a long time: the same ports may belong to another program now.
                f.app = -1;
                f.asked = false;
                f.firstSeen = m_now;
                hold(f);
            }
            return &f;
        }
        if (!victim || (victim->used && (!f.used || f.lastSeen < victim->lastSeen)))
            victim = &f;
    }
    if (victim->used && victim->app < 0) {
        // A flow still waiting loses its place: its bytes go where a flow nobody claims goes.
        settle(*victim, kNotAProgramId, m_day, m_month);
    }
    const bool queued = victim->queued;
    *victim = Flow{};
    victim->queued = queued;
    victim->used = true;
    victim->key = key;
    victim->firstSeen = m_now;
    victim->lastSeen = m_now;
    hold(*victim);
    return victim;
}

void CAppCounter::hold(Flow& f) {
    if (f.queued)
        return;
    f.queued = true;
    m_held.push_back(static_cast<int>(&f - m_flows.get()));
}

void CAppCounter::settle(Flow& f, int app, int day, int month) {
    f.app = static_cast<std::int16_t>(app);
    if (f.heldSent)
        add(app, true, f.heldSent, day, month);
    if (f.heldReceived)
        add(app, false, f.heldReceived, day, month);
    f.heldSent = f.heldReceived = 0;
}

void CAppCounter::resolveHeld(std::int64_t now, int day, int month) {
    flushLast();
    m_now = now;
    m_day = day;
    m_month = month;
    if (m_held.empty())
        return;
    const std::uint64_t knowledge = m_owners ? m_owners->knowledge() : 0;
    const bool news = knowledge != m_knowledge;
    m_knowledge = knowledge;
    std::vector<int> still;
    for (const int slot : m_held) {
        Flow& f = m_flows[static_cast<std::size_t>(slot)];
        if (!f.used || f.app >= 0) {
            f.queued = false;
            continue;
        }
        std::optional<std::string> owner;
        if (m_owners && (news || !f.asked)) {
            owner = m_owners->ownerOf(f.key);
            f.asked = true;
        }
        if (owner && !owner->empty())
            settle(f, intern(*owner), day, month);
        else if (now - f.firstSeen >= kGiveUpSeconds || !m_owners) {
            const std::optional<std::string> guess =
                m_owners ? m_owners->lastGuess(f.key) : std::nullopt;
            settle(f, guess && !guess->empty() ? intern(*guess) : kNotAProgramId, day, month);
        }
        if (f.app >= 0)
            f.queued = false;
        else
            still.push_back(slot);
    }
    m_held.swap(still);
}

AppRecords CAppCounter::snapshot() const {
    std::vector<std::string> names;
    {
        const std::lock_guard lock(m_namesMutex);
        names = m_names;
    }
    const auto read = [&names](const Record& rec) {
        std::vector<AppUsage> out;
        for (std::size_t id = 0; id < names.size(); ++id) {
            const std::uint64_t s = rec[id].sent.load(std::memory_order_relaxed);
            const std::uint64_t r = rec[id].received.load(std::memory_order_relaxed);
            if (s || r)
                out.push_back(AppUsage{names[id], s, r});
        }
        return boundedRecord(std::move(out));
    };
    AppRecords a;
    for (std::size_t d = 0; d < 31; ++d)
        a.days[d] = read(m_records[d]);
    for (std::size_t m = 0; m < 12; ++m)
        a.months[m] = read(m_records[31 + m]);
    return a;
}

std::vector<AppUsage> CAppCounter::runningTotals() const {
    std::vector<std::string> names;
    {
        const std::lock_guard lock(m_namesMutex);
        names = m_names;
    }
    std::vector<AppUsage> out;
    for (std::size_t id = 0; id < names.size(); ++id) {
        const std::uint64_t s = m_running[id].sent.load(std::memory_order_relaxed);
        const std::uint64_t r = m_running[id].received.load(std::memory_order_relaxed);
        if (s || r)
            out.push_back(AppUsage{names[id], s, r});
    }
    return out;
}

void CAppCounter::clearRecord(std::size_t r) {
    for (Pair& p : m_records[r]) {
        p.sent.store(0, std::memory_order_relaxed);
        p.received.store(0, std::memory_order_relaxed);
    }
}

void CAppCounter::clearDayRecord(int index) {
    flushLast();
    if (index >= 0 && index < 31)
        clearRecord(static_cast<std::size_t>(index));
}

void CAppCounter::clearMonthRecord(int index) {
    flushLast();
    if (index >= 0 && index < 12)
        clearRecord(static_cast<std::size_t>(31 + index));
}

void CAppCounter::clearAllRecords() {
    flushLast();
    for (std::size_t r = 0; r < m_records.size(); ++r)
        clearRecord(r);
}

void CAppCounter::restore(const AppRecords& records) {
    flushLast();
    clearAllRecords();
    const auto put = [this](std::size_t r, const std::vector<AppUsage>& usage) {
        for (const AppUsage& u : usage) {
            Pair& p = m_records[r][static_cast<std::size_t>(intern(u.name))];
            bump(p.sent, u.sent);
            bump(p.received, u.received);
        }
    };
    for (std::size_t d = 0; d < 31; ++d)
        put(d, records.days[d]);
    for (std::size_t m = 0; m < 12; ++m)
        put(31 + m, records.months[m]);
}

} // namespace tn
