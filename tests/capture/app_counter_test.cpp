#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"

#include <map>

namespace tn {
namespace {

// Names the flows a test has announced; the rest are not known (yet).
class FakeOwners final : public ISocketOwners {
public:
    std::optional<std::string> ownerOf(const FlowKey& flow) override {
        ++asked;
        const auto it = names.find(flow.localPort);
        if (it == names.end())
            return std::nullopt;
        return it->second;
    }
    std::uint64_t knowledge() const override { return known; }
    std::map<std::uint16_t, std::string> names; // by local port
    std::uint64_t known = 0;                    // raised with every change of `names`
    int asked = 0;
};

class AppCounterTest : public test::IPStatFixture {
protected:
    void SetUp() override {
        IPStatFixture::SetUp();
        os.socketOwners = &owners;
        global = std::make_unique<CGlobal>(os);
        stat = std::make_unique<CIPStat>(*global, clock);
    }
    std::map<std::string, AppUsage> today() const {
        std::map<std::string, AppUsage> m;
        const AppRecords r = stat->apps()->snapshot();
        for (const AppUsage& u : r.days[16])
            m[u.name] = u;
        return m;
    }
    // Bytes of today's day record of the accounting, each frame once (Custom counts twice there).
    std::uint64_t accountedToday(Direction dir) const {
        std::uint64_t sum = 0;
        for (int k = 0; k < kCategoryCount; ++k)
            if (k != kCustom)
                sum += stat->dayRecord(dir, 17, k);
        return sum;
    }
    FakeOwners owners;
};

TEST_F(AppCounterTest, EveryCountedByteGoesToTheProgramOfItsSocketOrToNobodyHere) {
    owners.names = {{50000, "firefox-esr"}, {50001, "python3 sync.py"}, {53000, "user root"}};
    select();
    feed(test::ethernetFrame(tcp(kSelf, 50000, kRemote, 443, 100)));  // sent, firefox
    feed(test::ethernetFrame(tcp(kRemote, 443, kSelf, 50000, 1500))); // received, firefox
    feed(test::ethernetFrame(tcp(kSelf, 50001, kRemote2, 22, 300)));  // python3 sync.py
    test::TestPacket udp = tcp(kRemote, 53, kSelf, 53000, 80);
    udp.protocol = 17;
    feed(test::ethernetFrame(udp));                                 // another user's socket
    feed(test::ethernetFrame(other(1, kRemote, kSelf, 84)));        // ICMP: no socket
    feed(test::ethernetFrame(tcp(kSelf, 40000, kRemote, 80, 200))); // nobody claims it
    global->LanOnly = 0;
    stat->setLanOnly(0);
    feed(test::ethernetFrame(tcp(kNeighbour, 50000, kRemote, 80, 70))); // a neighbour's
    // The unclaimed flow waits for its owner, and is given up after a while.
    clock.nowValue += CAppCounter::kGiveUpSeconds;
    stat->batchStarting();

    auto t = today();
    EXPECT_EQ(t["firefox-esr"].sent, 100u);
    EXPECT_EQ(t["firefox-esr"].received, 1500u);
    EXPECT_EQ(t["python3 sync.py"].sent, 300u);
    EXPECT_EQ(t["user root"].received, 80u);
    EXPECT_EQ(t[kNotAProgram].sent, 200u + 70u);
    EXPECT_EQ(t[kNotAProgram].received, 84u);
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
    for (const auto& [name, u] : today()) {
        sent += u.sent;
        received += u.received;
    }
    EXPECT_EQ(sent, accountedToday(Direction::Sent));
    EXPECT_EQ(received, accountedToday(Direction::Received));
}

TEST_F(AppCounterTest, AFlowFoundLateKeepsTheBytesItCarriedMeanwhile) {
    select();
    for (int i = 0; i < 5; ++i)
        feed(test::ethernetFrame(tcp(kRemote, 443, kSelf, 50007, 1000)));
    EXPECT_TRUE(today().count("curl") == 0);
    owners.names[50007] = "curl";
    ++owners.known;
    feed(test::ethernetFrame(tcp(kRemote, 443, kSelf, 50007, 1000)));
    EXPECT_EQ(today()["curl"].received, 6000u);
    // Found once, the flow is not asked about again for each frame.
    const int asked = owners.asked;
    for (int i = 0; i < 20; ++i)
        feed(test::ethernetFrame(tcp(kRemote, 443, kSelf, 50007, 1000)));
    EXPECT_EQ(owners.asked, asked);
    EXPECT_EQ(today()["curl"].received, 26000u);
    EXPECT_EQ(stat->apps()->runningTotals().size(), 1u);
}

// Within one handed-over block, a flow's frames in a row skip the flow table and are added up
// apart: they must reach the records at the block's end, under their own program and day, and
// neither twice nor under the flow that interrupted them.
TEST_F(AppCounterTest, OneBlocksFramesReachTheRecordsAtItsEnd_UnderTheirProgramAndDay) {
    owners.names = {{50000, "wget"}, {50001, "curl"}};
    select();
    const auto wgetIn = test::ethernetFrame(tcp(kRemote, 80, kSelf, 50000, 1000));
    const auto wgetOut = test::ethernetFrame(tcp(kSelf, 50000, kRemote, 80, 60));
    const auto curlOut = test::ethernetFrame(tcp(kSelf, 50001, kRemote, 443, 100));
    feed(wgetIn); // both flows named before the blocks
    feed(curlOut);
    const auto block = [this](const std::vector<const std::vector<std::uint8_t>*>& frames) {
        stat->batchStarting();
        for (const auto* f : frames) {
            CaptureHeader h;
            h.capturedLength = h.wireLength = static_cast<std::uint32_t>(f->size());
            stat->packetHandler(h, f->data());
        }
        stat->batchEnded();
    };
    std::vector<const std::vector<std::uint8_t>*> frames(50, &wgetIn);
    frames.push_back(&curlOut);
    frames.insert(frames.end(), 50, &wgetOut);
    frames.push_back(&wgetIn);
    block(frames);
    auto t = today();
    EXPECT_EQ(t["wget"], (AppUsage{"wget", 50 * 60, 52 * 1000}));
    EXPECT_EQ(t["curl"], (AppUsage{"curl", 2 * 100, 0}));
    EXPECT_EQ(t["wget"].total() + t["curl"].total(),
              accountedToday(Direction::Sent) + accountedToday(Direction::Received));

    clock.setLocal(2026, 3, 18, 0, 0, 1); // the next block comes after midnight
    block(std::vector<const std::vector<std::uint8_t>*>(10, &wgetIn));
    const AppRecords r = stat->apps()->snapshot();
    ASSERT_EQ(r.days[17].size(), 1u);
    EXPECT_EQ(r.days[17][0], (AppUsage{"wget", 0, 10 * 1000}));
    EXPECT_EQ(today()["wget"], (AppUsage{"wget", 50 * 60, 52 * 1000})); // the 17th keeps its own
    ASSERT_EQ(r.months[2].size(), 2u);
}

TEST_F(AppCounterTest, ManyFlowsAtOnceLoseNoByte) {
    // More flows than the table holds: those pushed out while waiting go to nobody, none is lost.
    select();
    std::uint64_t fed = 0;
    for (int i = 0; i < 3 * CAppCounter::kFlowSlots; ++i) {
        const auto port = static_cast<std::uint16_t>(1024 + i % 60000);
        const test::Ip4 remote{
            {198, 19, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}};
        feed(test::ethernetFrame(tcp(kSelf, port, remote, 80, 100)));
        fed += 100;
    }
    clock.nowValue += CAppCounter::kGiveUpSeconds;
    stat->batchStarting();
    EXPECT_EQ(today()[kNotAProgram].sent, fed);
    EXPECT_EQ(accountedToday(Direction::Sent), fed);
}

TEST_F(AppCounterTest, TheNewDayStartsEmptyForProgramsAsForCategories) {
    owners.names = {{50000, "wget"}};
    select();
    feed(test::ethernetFrame(tcp(kRemote, 80, kSelf, 50000, 1000)));
    clock.setLocal(2026, 4, 17, 10, 0, 0); // a month later: day 17 comes round again
    // The first frame's flow was still waiting for its program: its bytes stay March's.
    // A flow silent for a month is asked about again: the next batch finds it.
    feed(test::ethernetFrame(tcp(kRemote, 80, kSelf, 50000, 40)));
    stat->batchStarting();
    const AppRecords r = stat->apps()->snapshot();
    ASSERT_EQ(r.days[16].size(), 1u);
    EXPECT_EQ(r.days[16][0], (AppUsage{"wget", 0, 40}));
    EXPECT_EQ(stat->dayRecord(Direction::Received, 17, kWeb), 40u);
    ASSERT_EQ(r.months[2].size(), 1u); // March keeps its count
    EXPECT_EQ(r.months[2][0].received, 1000u);
    ASSERT_EQ(r.months[3].size(), 1u);
    EXPECT_EQ(r.months[3][0].received, 40u);
}

TEST_F(AppCounterTest, ALoadClearsTheSameStaleDatesInBothHistories) {
    struct Case {
        const char* what;
        int savedDay, savedMonth; // of 2026, at 23:00
        int nowDay, nowMonth;     // at 08:00
        bool appsSavedEarlier;    // apps.dat a month older than stat.dat
    };
    const Case cases[] = {
        {"two dates later", 3, 6, 5, 6, false},
        {"across a month's end", 31, 1, 1, 2, false},
        {"clock set back", 10, 6, 8, 6, false},
        {"apps.dat older than stat.dat", 3, 6, 5, 6, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int64_t saved =
            clock.fromLocal(LocalTime{2026, c.savedMonth, c.savedDay, 23, 0, 0, -1}).value();
        StatRecords ones;
        AppRecords apps;
        for (int d = 0; d < 31; ++d) {
            ones.daysSent[static_cast<std::size_t>(d)].fill(1);
            apps.days[static_cast<std::size_t>(d)] = {{"app", 1, 0}};
        }
        for (int m = 0; m < 12; ++m) {
            ones.monthsSent[static_cast<std::size_t>(m)].fill(1);
            apps.months[static_cast<std::size_t>(m)] = {{"app", 1, 0}};
        }
        const auto statBytes = encodeStatFile(ones, saved);
        const std::int64_t appsSaved = c.appsSavedEarlier ? saved - 31 * 86400 : saved;
        const auto appBytes = encodeAppsFile(apps, appsSaved);
        test::writeText(fake.dataFile("stat.dat"), std::string(statBytes.begin(), statBytes.end()));
        test::writeText(fake.dataFile("apps.dat"), std::string(appBytes.begin(), appBytes.end()));
        clock.nowValue =
            clock.fromLocal(LocalTime{2026, c.nowMonth, c.nowDay, 8, 0, 0, -1}).value();
        CIPStat owner(*global, clock);
        ASSERT_EQ(owner.initialise(-1), 1);
        const AppRecords got = owner.apps()->snapshot();
        for (int d = 1; d <= 31; ++d) {
            const bool statKept = owner.dayRecord(Direction::Sent, d, 0) != 0;
            const bool appKept = !got.days[static_cast<std::size_t>(d - 1)].empty();
            if (!c.appsSavedEarlier) {
                EXPECT_EQ(appKept, statKept) << "day " << d;
            } else if (!statKept) {
                EXPECT_FALSE(appKept) << "day " << d;
            }
        }
        for (int m = 1; m <= 12; ++m) {
            const bool statKept = owner.monthRecord(Direction::Sent, m, 0) != 0;
            const bool appKept = !got.months[static_cast<std::size_t>(m - 1)].empty();
            if (!c.appsSavedEarlier) {
                EXPECT_EQ(appKept, statKept) << "month " << m;
            } else if (!statKept) {
                EXPECT_FALSE(appKept) << "month " << m;
            }
        }
        if (c.appsSavedEarlier) {
            // A whole month went by since apps.dat was saved: every day of it and June are stale
            // there, while stat.dat keeps June and most days; May was apps.dat's own month.
            for (const auto& day : got.days)
                EXPECT_TRUE(day.empty());
            EXPECT_TRUE(got.months[5].empty());
            EXPECT_NE(owner.monthRecord(Direction::Sent, 6, 0), 0u);
            EXPECT_FALSE(got.months[4].empty());
        }
    }
}

} // namespace
} // namespace tn
