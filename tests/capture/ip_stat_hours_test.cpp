#include "platform/file_store.h"
#include "stats/report.h"
#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"

#include <map>
#include <regex>

namespace tn {
namespace {

using test::ethernetFrame;

// The hours are counted by the packet handler beside the day and month records.
class HourRecordsTest : public test::IPStatFixture {
protected:
    explicit HourRecordsTest(const char* tz = "CET-1CEST,M3.5.0,M10.5.0/3") : IPStatFixture(tz) {}
    void SetUp() override {
        IPStatFixture::SetUp();
        select();
    }
    void web(std::uint16_t bytes) { feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 80, bytes))); }
    void udpIn(std::uint16_t bytes) { feed(ethernetFrame(other(17, kRemote, kSelf, bytes))); }
    // The hours as the viewer shows them, summed per local date, direction and category.
    std::map<int, std::pair<CounterArray, CounterArray>> hoursByDay() const {
        std::map<int, std::pair<CounterArray, CounterArray>> out;
        for (const HourRow& row : lastHours(stat->hourSnapshot(), clock, clock.now())) {
            auto& [s, r] = out[row.local.day];
            for (std::size_t k = 0; k < 11; ++k) {
                s[k] += row.sent[k];
                r[k] += row.received[k];
            }
        }
        return out;
    }
    void expectHoursMatchDays(std::initializer_list<int> days) const {
        const auto byDay = hoursByDay();
        for (int d : days) {
            SCOPED_TRACE(d);
            for (int k = 0; k < 11; ++k) {
                const auto it = byDay.find(d);
                const std::uint64_t s = it == byDay.end() ? 0 : it->second.first[k];
                const std::uint64_t r = it == byDay.end() ? 0 : it->second.second[k];
                EXPECT_EQ(s, stat->dayRecord(Direction::Sent, d, k)) << k;
                EXPECT_EQ(r, stat->dayRecord(Direction::Received, d, k)) << k;
            }
        }
    }
    std::uint64_t hourWeb(int back) const {
        const auto rows = lastHours(stat->hourSnapshot(), clock, clock.now());
        return rows[rows.size() - 1 - static_cast<std::size_t>(back)].sent[kWeb];
    }
};

TEST_F(HourRecordsTest, HoursAddUpToTheDayRecordsAcrossMidnightAndTheDaylightSavingChange) {
    // 29 March 2026: 02:00 CET jumps to 03:00 CEST, a day of 23 hours.
    const std::vector<std::tuple<int, int, int, int, std::uint16_t>> frames = {
        {28, 10, 0, 0, 100},   {28, 10, 59, 59, 200}, {28, 11, 0, 0, 300},
        {28, 23, 59, 59, 400}, {29, 0, 0, 0, 500},    {29, 1, 59, 59, 600},
        {29, 3, 0, 0, 700},    {29, 3, 30, 0, 800},   {29, 9, 0, 0, 900}};
    for (const auto& [d, h, m, s, bytes] : frames) {
        clock.setLocal(2026, 3, d, h, m, s);
        web(bytes);
        udpIn(static_cast<std::uint16_t>(bytes / 2));
    }
    expectHoursMatchDays({28, 29});
    EXPECT_EQ(hourWeb(0), 900u);  // 09:00
    EXPECT_EQ(hourWeb(6), 1500u); // 03:00, right after 01:00: 02:00 did not exist
    EXPECT_EQ(hourWeb(7), 600u);  // 01:00
    EXPECT_EQ(hourWeb(9), 400u);  // 23:00 the day before
    EXPECT_EQ(hourWeb(21), 300u); // 11:00
    EXPECT_EQ(hourWeb(22), 300u); // 10:00
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 29, kWeb), 3500u);
}

TEST_F(HourRecordsTest, AnHourTwoDaysLaterStartsItsSlotEmptyAndResetClearsHoursToo) {
    clock.setLocal(2026, 3, 17, 10, 15, 0);
    web(100);
    clock.setLocal(2026, 3, 19, 10, 5, 0); // the same slot, 48 hours on
    web(40);
    EXPECT_EQ(hourWeb(0), 40u);
    EXPECT_EQ(hourWeb(47), 0u); // 11:00 on the 17th: nothing

    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 873, 60)));
    global->replaceCustomPorts({873});
    feed(ethernetFrame(tcp(kSelf, 5000, kRemote, 873, 60)));
    ASSERT_EQ(
        stat->hourSnapshot()[static_cast<std::size_t>(hourSlot(clock.now() - 300))].sent[kCustom],
        60u);
    stat->clearCategory(kCustom);
    for (const HourRecord& h : stat->hourSnapshot())
        EXPECT_EQ(h.sent[kCustom], 0u);
    expectHoursMatchDays({19});
}

TEST_F(HourRecordsTest, HoursSurviveASaveAndAReload_ADamagedFileIsKeptAside) {
    clock.setLocal(2026, 3, 17, 10, 15, 0);
    web(100);
    clock.setLocal(2026, 3, 17, 12, 15, 0);
    web(200);
    stat->save();
    const HourRecords saved = stat->hourSnapshot();
    {
        auto again = std::make_unique<CIPStat>(*global, clock);
        ASSERT_EQ(again->initialise(-1), 1);
        EXPECT_EQ(again->hourSnapshot(), saved);
    }
    // Cut short: the hours start from empty, the file is kept as it was and the user told once;
    // the day records are not touched.
    auto bytes = test::readBytes(fake.dataFile("hours.dat"));
    bytes.resize(100);
    test::writeText(fake.dataFile("hours.dat"), std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> shown;
    global->fileFailures().setShow([&](const std::string& t) { shown.push_back(t); });
    auto damaged = std::make_unique<CIPStat>(*global, clock);
    ASSERT_EQ(damaged->initialise(-1), 1);
    EXPECT_EQ(damaged->hourSnapshot(), HourRecords{});
    EXPECT_EQ(damaged->dayRecord(Direction::Sent, 17, kWeb), 300u);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("hours.dat"), std::string::npos) << shown[0];
    int aside = 0;
    for (const auto& e :
         std::filesystem::directory_iterator(fake.dataFile("hours.dat").parent_path()))
        if (isSetAsideName(e.path().filename().string(), "hours.dat")) {
            ++aside;
            EXPECT_EQ(test::readBytes(e.path()), bytes);
        }
    EXPECT_EQ(aside, 1);
    global->fileFailures().setShow({});
}

TEST_F(HourRecordsTest, TheReportsHoursAgreeWithItsDays) {
    clock.setLocal(2026, 3, 16, 22, 10, 0);
    web(1000);
    clock.setLocal(2026, 3, 17, 0, 10, 0);
    web(2000);
    udpIn(500);
    clock.setLocal(2026, 3, 17, 9, 59, 0);
    web(3000);
    stat->save();
    std::string out, err;
    ASSERT_EQ(runReport(os, ReportOptions{true, true}, "1", out, err), 0) << err;
    // Sum the hours of each date and compare with that date's entry of "days".
    std::map<std::string, std::uint64_t> hours;
    const std::regex hour(
        R"re(\{"start":\d+,"hour":"(\d{4}-\d\d-\d\d) \d\d:00","sent":\d+,"received":\d+,"total":(\d+)\})re");
    const auto at = out.find("\"hours\":[");
    ASSERT_NE(at, std::string::npos) << out;
    int rows = 0;
    for (auto it = std::sregex_iterator(out.begin() + static_cast<long>(at), out.end(), hour);
         it != std::sregex_iterator(); ++it, ++rows)
        hours[(*it)[1]] += std::stoull((*it)[2]);
    EXPECT_EQ(rows, 48);
    const std::regex day(
        R"re(\{"date":"(2026-03-\d\d)","sent":\d+,"received":\d+,"total":(\d+)\})re");
    int days = 0;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), day); it != std::sregex_iterator();
         ++it)
        if ((*it)[1] == "2026-03-17" || (*it)[1] == "2026-03-16") {
            ++days;
            EXPECT_EQ(hours[(*it)[1]], std::stoull((*it)[2])) << (*it)[1];
        }
    EXPECT_EQ(days, 2);
    EXPECT_EQ(hours["2026-03-17"], 5500u);

    ASSERT_EQ(runReport(os, ReportOptions{false, true}, "1", out, err), 0) << err;
    EXPECT_NE(out.find("  2026-03-17 00:00"), std::string::npos) << out;
    std::filesystem::remove(fake.dataFile("hours.dat"));
    ASSERT_EQ(runReport(os, ReportOptions{false, true}, "1", out, err), 0) << err;
    EXPECT_NE(out.find("hours.dat does not exist"), std::string::npos) << out;
}

} // namespace
} // namespace tn
