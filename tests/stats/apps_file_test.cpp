#include "stats/apps_file.h"
#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"

#include <filesystem>

namespace tn {
namespace {

AppRecords sample() {
    AppRecords r;
    r.days[0] = {{"firefox-esr", 10, 2000}, {"python3 sync.py", 5, 7}};
    r.days[30] = {{"user root", 1, 1}};
    r.months[11] = {{std::string(kMaxAppName, 'x'), 0xFFFFFFFFFFFFFFFFull, 1}};
    return r;
}

TEST(AppsFileTest, WhatIsWrittenReadsBackTheSame) {
    AppRecords got;
    std::int64_t t = 0;
    const auto bytes = encodeAppsFile(sample(), -5);
    ASSERT_EQ(decodeAppsFile(bytes, got, t), "");
    EXPECT_EQ(got, sample());
    EXPECT_EQ(t, -5);
}

TEST(AppsFileTest, ARecordKeepsTheBiggestProgramsAndSumsTheRest) {
    std::vector<AppUsage> many;
    for (int i = 0; i < 70; ++i)
        many.push_back({"p" + std::to_string(i), static_cast<std::uint64_t>(i + 1), 0});
    many.push_back({kOtherPrograms, 1000, 0}); // an earlier overflow joins the new one
    many.push_back({"idle", 0, 0});
    const auto b = boundedRecord(many);
    ASSERT_EQ(b.size(), kAppsPerRecord + 1);
    EXPECT_EQ(b.front().name, "p69");
    EXPECT_EQ(b[kAppsPerRecord - 1].name, "p6");
    EXPECT_EQ(b.back().name, kOtherPrograms);
    EXPECT_EQ(b.back().sent, 1000u + 1 + 2 + 3 + 4 + 5 + 6);
}

TEST(AppsFileTest, DamagedBytesAreRefusedWithTheirReason) {
    const auto good = encodeAppsFile(sample(), 1);
    const auto with = [&](std::size_t at, std::vector<std::uint8_t> patch) {
        auto b = good;
        std::copy(patch.begin(), patch.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    // Day 1's record starts at 16 with its count; its first name's length at 18.
    auto duplicate = encodeAppsFile(AppRecords{}, 1);
    duplicate[16] = 2;
    const std::vector<std::uint8_t> entry = {1, 'a', 0, 0, 0, 0, 0, 0, 0,
                                             0, 0,   0, 0, 0, 0, 0, 0, 0};
    duplicate.insert(duplicate.begin() + 18, entry.begin(), entry.end());
    duplicate.insert(duplicate.begin() + 18, entry.begin(), entry.end());
    auto tooMany = good;
    tooMany[16] = static_cast<std::uint8_t>(kAppsPerRecord + 2);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* problem;
    } cases[] = {
        {"empty", {}, "not a file of traffic per program"},
        {"stat.dat's bytes", {2, 0, 0, 0, 0xC0, 0xEA}, "not a file of traffic per program"},
        {"cut in the header", std::vector<std::uint8_t>(good.begin(), good.begin() + 10),
         "cut short"},
        {"cut in a record", std::vector<std::uint8_t>(good.begin(), good.end() - 3), "cut short"},
        {"another version", with(4, {2}), "an unknown version (2)"},
        {"an empty name", with(18, {0}), "a program name that is not one"},
        {"a name with a line break", with(19, {'\n'}), "a program name that is not one"},
        {"a name twice", duplicate, "a program listed twice in one record"},
        {"too many names", tooMany, "a record of too many programs"},
        {"bytes after the end",
         [&] {
             auto b = good;
             b.push_back(0);
             return b;
         }(),
         "bytes after its end"},
        {"huge", std::vector<std::uint8_t>(kAppsFileMaxSize + 1, 0),
         "larger than any file of traffic per program"},
    };
    for (const Case& c : cases) {
        AppRecords r = sample();
        std::int64_t t = 77;
        EXPECT_EQ(decodeAppsFile(c.bytes, r, t), c.problem) << c.what;
        EXPECT_EQ(r, sample()) << c.what; // nothing taken from a damaged file
        EXPECT_EQ(t, 77) << c.what;
    }
}

class AppsDatabaseTest : public test::IPStatFixture {
protected:
    std::filesystem::path file(const char* name) const { return fake.dataFile(name); }
    std::vector<std::filesystem::path> asideFiles() const {
        std::vector<std::filesystem::path> v;
        for (const auto& e : std::filesystem::directory_iterator(file("apps.dat").parent_path()))
            if (e.path().filename().string().rfind("apps.dat.bad-", 0) == 0)
                v.push_back(e.path());
        return v;
    }
};

TEST_F(AppsDatabaseTest, ADamagedFileIsKeptAsideAndTheUserToldWhileStatDatLoads) {
    std::vector<std::string> shown;
    global->fileFailures().setShow([&](const std::string& t) { shown.push_back(t); });
    StatRecords r;
    r.daysSent[16][0] = 9;
    const auto stat_ = encodeStatFile(r, clock.now());
    test::writeText(file("stat.dat"), std::string(stat_.begin(), stat_.end()));
    test::writeText(file("apps.dat"), "TNAP garbage");
    ASSERT_EQ(stat->initialise(-1), 1);
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 17, 0), 9u);
    const auto aside = asideFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(test::readBytes(aside[0]).size(), 12u);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("apps.dat"), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find("cut short"), std::string::npos) << shown[0];
    // The next save starts a new apps.dat and leaves the damaged one where it was put.
    stat->save();
    AppRecords got;
    std::int64_t t = 0;
    EXPECT_EQ(decodeAppsFile(test::readBytes(file("apps.dat")), got, t), "");
    EXPECT_EQ(asideFiles().size(), 1u);
}

TEST_F(AppsDatabaseTest, SavedProgramsComeBackAndCountAppsZeroWritesNoFile) {
    select();
    feed(test::ethernetFrame(tcp(kRemote, 80, kSelf, 50000, 1000)));
    clock.nowValue += CAppCounter::kGiveUpSeconds;
    stat->batchStarting();
    stat->save();
    CIPStat again(*global, clock);
    ASSERT_EQ(again.initialise(-1), 1);
    ASSERT_NE(again.apps(), nullptr);
    const AppRecords got = again.apps()->snapshot();
    ASSERT_EQ(got.days[16].size(), 1u);
    EXPECT_EQ(got.days[16][0], (AppUsage{kNotAProgram, 0, 1000}));

    std::filesystem::remove(file("apps.dat"));
    global->CountApps = 0;
    CIPStat off(*global, clock);
    ASSERT_EQ(off.initialise(-1), 1);
    EXPECT_EQ(off.apps(), nullptr);
    off.save();
    EXPECT_TRUE(std::filesystem::exists(file("stat.dat")));
    EXPECT_FALSE(std::filesystem::exists(file("apps.dat")));
}

} // namespace
} // namespace tn
