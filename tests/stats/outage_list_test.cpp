#include "stats/outage_list.h"

#include "app/file_failures.h"
#include "platform/platform_services.h"
#include "support/fake_clock.h"
#include "support/file_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tn {
namespace {

std::string le64(std::int64_t v) {
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i)
        s[static_cast<std::size_t>(i)] =
            static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i));
    return s;
}

// 2015-01-05 10:11:12 UTC, a Monday.
constexpr std::int64_t kMonday = 1420452672;

class OutageListTest : public ::testing::Test {
protected:
    test::TzScope tz{"CET-1CEST,M3.5.0,M10.5.0/3"};
    test::TempDir dir;
    test::FakeClock clock;
    std::unique_ptr<Platform> platform = createPlatform(); // the program's own file reader
    IFileStore& files = *platform->services().files;
    std::filesystem::path file = dir / "NetFalls.dat";

    std::int64_t local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return clock.fromLocal(LocalTime{y, mo, d, h, mi, s, -1}).value();
    }
    void write(const std::vector<OutageRecord>& recs, const std::string& tail = {}) {
        std::string bytes;
        for (const OutageRecord& r : recs)
            bytes += le64(r.start) + le64(r.stop);
        test::writeText(file, bytes + tail);
    }
    OutageListLoad load(OutageFilter f = OutageFilter::All) {
        OutageQuery query;
        query.filter = f;
        query.now = clock.now();
        return loadOutageList(files, file, query, clock);
    }
    std::vector<std::int64_t> starts(const OutageListLoad& l) {
        std::vector<std::int64_t> s;
        for (const OutageRecord& r : l.rows)
            s.push_back(r.start);
        return s;
    }
};

TEST_F(OutageListTest, MissingFile_IsNotOpened_ShortFile_GivesZeroTotals) {
    EXPECT_FALSE(load().opened);
    test::writeText(file, "1234567");
    const OutageListLoad l = load();
    EXPECT_TRUE(l.opened);
    EXPECT_FALSE(l.invalid);
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(outageTotalText(l.totalSeconds), "0:00:00:00");
}

TEST_F(OutageListTest, TwentyFourBytes_GiveARowAndAZeroLengthRow) {
    const std::int64_t t = local(2026, 3, 2, 12);
    write({{t, t + 3725}}, le64(t + 7200));
    const OutageListLoad l = load();
    ASSERT_EQ(l.rows.size(), 2u);
    EXPECT_EQ(outageCell(l.rows[0], 0, 3, clock), "01:02:05");
    EXPECT_EQ(outageCell(l.rows[1], 1, 0, clock), "2");
    EXPECT_EQ(outageCell(l.rows[1], 1, 3, clock), "00:00:00");
    EXPECT_EQ(l.rows[1].stop, t + 7200);
    EXPECT_EQ(outageTotalText(l.totalSeconds), "0:01:02:05");
}

TEST_F(OutageListTest, NegativeDuration_TruncatesEachUnitAndLowersTheTotal) {
    const std::int64_t t = local(2026, 3, 2, 12);
    write({{t, t + 100}, {t + 65, t}, {t, t + 26 * 3600}});
    const OutageListLoad l = load();
    ASSERT_EQ(l.rows.size(), 3u);
    EXPECT_EQ(outageCell(l.rows[1], 1, 3, clock), "00:-1:-5");
    EXPECT_EQ(outageCell(l.rows[2], 2, 3, clock), "02:00:00"); // hours modulo 24
    EXPECT_EQ(l.totalSeconds, 100 - 65 + 26 * 3600);
    EXPECT_EQ(outageTotalText(l.totalSeconds), "1:02:00:35");
}

TEST_F(OutageListTest, InvalidRecord_KeepsTheRowsBeforeIt_AndIsSetAsideWhole) {
    const std::int64_t t = local(2026, 3, 2, 12);
    write({{t, t + 30}, {-5, t}, {t, t + 40}});
    const OutageListLoad l = load();
    EXPECT_TRUE(l.invalid);
    ASSERT_EQ(l.rows.size(), 1u);
    EXPECT_EQ(l.totalSeconds, 30);
    write({{t, t + 30}, {kMaxOutageTime + 1, t}});
    EXPECT_TRUE(load().invalid);

    // Three older ones and one of the same second are kept beside it; only the newest three
    // of all stay, and a link of that name pattern is neither counted nor removed.
    const std::string bad = test::readText(file);
    const std::string stamp = setAsideStamp(clock);
    for (const char* older : {"20200101-000000", "20210101-000000", "20220101-000000"})
        test::writeText(dir / (std::string("NetFalls.dat.bad-") + older), older);
    test::writeText(dir / ("NetFalls.dat.bad-" + stamp), "same second");
    std::filesystem::create_symlink(dir / "elsewhere", dir / "NetFalls.dat.bad-19990101-000000");
    const SetAsideResult aside = setAsideInvalidOutageFile(files, file, clock);
    ASSERT_EQ(aside.status, SetAsideStatus::Moved);
    EXPECT_EQ(aside.aside, dir / ("NetFalls.dat.bad-" + stamp + "-2"));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(test::readText(aside.aside), bad);
    EXPECT_EQ(test::readText(dir / ("NetFalls.dat.bad-" + stamp)), "same second");
    EXPECT_EQ(test::readText(dir / "NetFalls.dat.bad-20220101-000000"), "20220101-000000");
    EXPECT_FALSE(std::filesystem::exists(dir / "NetFalls.dat.bad-20210101-000000"));
    EXPECT_FALSE(std::filesystem::exists(dir / "NetFalls.dat.bad-20200101-000000"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "NetFalls.dat.bad-19990101-000000"));
    EXPECT_FALSE(load().opened);
}

TEST_F(OutageListTest, PlantedLinkOrPipe_IsInvalid_NeverFollowedOrWaitedFor) {
    test::writeText(dir / "target", le64(kMonday) + le64(kMonday + 5));
    std::filesystem::create_symlink(dir / "target", file);
    EXPECT_TRUE(load().notRegular);
    // Neither the link nor its target is moved.
    EXPECT_EQ(setAsideInvalidOutageFile(files, file, clock).status, SetAsideStatus::NotRegular);
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_TRUE(std::filesystem::exists(dir / "target"));
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const OutageListLoad l = load();
    EXPECT_TRUE(l.notRegular);
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(setAsideInvalidOutageFile(files, file, clock).status, SetAsideStatus::NotRegular);
}

TEST_F(OutageListTest, LastWeek_IsBoundedByTheCalendarMonth) {
    const std::vector<OutageRecord> recs = {{local(2026, 2, 28, 23, 50), local(2026, 3, 1, 0, 10)},
                                            {local(2026, 3, 1, 8), local(2026, 3, 1, 9)},
                                            {local(2026, 3, 2, 8), local(2026, 3, 2, 9)},
                                            {local(2026, 3, 20, 8), local(2026, 3, 20, 9)},
                                            {local(2026, 3, 24, 23, 59), local(2026, 3, 25, 1)},
                                            {local(2026, 3, 25, 0), local(2026, 3, 25, 1)},
                                            {local(2026, 3, 31, 8), local(2026, 3, 31, 9)}};
    write(recs);
    clock.setLocal(2026, 3, 2, 12);
    EXPECT_EQ(starts(load(OutageFilter::LastWeek)),
              (std::vector<std::int64_t>{recs[1].start, recs[2].start, recs[3].start, recs[4].start,
                                         recs[5].start, recs[6].start}));
    clock.setLocal(2026, 3, 31, 23, 59);
    EXPECT_EQ(starts(load(OutageFilter::LastWeek)),
              (std::vector<std::int64_t>{recs[5].start, recs[6].start}));
    EXPECT_EQ(starts(load(OutageFilter::LastDay)), std::vector<std::int64_t>{recs[6].start});
    EXPECT_EQ(load(OutageFilter::LastMonth).rows.size(), 6u);
    EXPECT_EQ(load(OutageFilter::All).rows.size(), 7u);
}

TEST_F(OutageListTest, MoreFilters_BothEndsWithinWholeDays_AndTheMinimumDuration) {
    const std::vector<OutageRecord> recs = {
        {local(2026, 3, 1, 23, 59), local(2026, 3, 2, 0, 5)}, // started yesterday
        {local(2026, 3, 2, 0, 0), local(2026, 3, 2, 0, 1)},   // exactly 60 s
        {local(2026, 3, 2, 10, 0), local(2026, 3, 2, 10, 0, 59)},
        {local(2026, 3, 2, 23, 50), local(2026, 3, 3, 0, 0)}, // ends at the next midnight
        {local(2026, 3, 2, 23, 0), local(2026, 3, 2, 23, 59, 59)}};
    write(recs);
    OutageQuery query;
    query.filter = OutageFilter::MoreFilters;
    query.firstDay = query.lastDay = {2026, 3, 2};
    query.minDuration = 60;
    OutageListLoad l = loadOutageList(files, file, query, clock);
    EXPECT_EQ(starts(l), (std::vector<std::int64_t>{recs[1].start, recs[4].start}));

    query.lastDay = {2026, 3, 3};
    query.minDuration = 0;
    EXPECT_EQ(loadOutageList(files, file, query, clock).rows.size(), 4u);
    query.minDuration = -100; // a negative minimum lets negative durations through as well
    EXPECT_EQ(loadOutageList(files, file, query, clock).rows.size(), 4u);
    query.firstDay = {2026, 3, 4}; // start after stop: nothing
    EXPECT_TRUE(loadOutageList(files, file, query, clock).rows.empty());
}

TEST_F(OutageListTest, Dates_AreEnglishWhateverTheLocale) {
    test::TzScope utc("UTC0");
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // may be missing; the text must not depend on it
    EXPECT_EQ(formatOutageDate(kMonday, clock), "Monday, January 05, 2015 10:11:12");
    EXPECT_EQ(formatOutageDate(951782400, clock), "Tuesday, February 29, 2000 00:00:00");
    EXPECT_EQ(formatOutageDate(0, clock), "Thursday, January 01, 1970 00:00:00");
    EXPECT_EQ(formatOutageDate(4102444799, clock), "Thursday, December 31, 2099 23:59:59");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(OutageListTest, MinimumDurationBox_TakesWholeIntegersOnly) {
    EXPECT_EQ(parseMinimumDuration("0"), 0);
    EXPECT_EQ(parseMinimumDuration(" 60 "), 60);
    EXPECT_EQ(parseMinimumDuration("-5"), -5);
    EXPECT_EQ(parseMinimumDuration("2147483647"), 2147483647);
    for (const char* bad : {"", " ", "-", "12a", "2147483648", "99999999999"})
        EXPECT_FALSE(parseMinimumDuration(bad).has_value()) << bad;
}

TEST_F(OutageListTest, Export_MatchesAFileWrittenByHand) {
    test::TzScope utc("UTC0");
    const std::vector<OutageRecord> rows = {{kMonday, kMonday + 48}, {kMonday + 36610, kMonday}};
    const std::string banner =
        "File generated by Tallynet -> file:///usr/share/tallynet/readme.doc";
    const std::string expected = banner +
                                 "\r\n"
                                 "\r\n"
                                 "1   | Monday, January 05, 2015 10:11:12        | Monday, January "
                                 "05, 2015 10:12:00        | 00:00:48  | \r\n"
                                 "2   | Monday, January 05, 2015 20:21:22        | Monday, January "
                                 "05, 2015 10:11:12        | -10:-10:-10 | \r\n"
                                 "\r\n"
                                 "Total Time : 0:00:00:48  <- i pay for this Mr. ISP";
    EXPECT_EQ(outageExportText(rows, clock, "0:00:00:48"), expected);
    EXPECT_EQ(outageExportText({}, clock, ".."),
              banner + "\r\n\r\n\r\nTotal Time : ..  <- i pay for this Mr. ISP");
}

} // namespace
} // namespace tn
