// The terminal report: what it reads, what it prints, and that it leaves the folder alone.
#include "stats/report.h"

#include "capture/port_stat.h"
#include "platform/file_store.h"
#include "platform/paths.h"
#include "support/fake_platform.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace tn {
namespace {

class ReportTest : public ::testing::Test {
protected:
    test::TzScope tz{"UTC0"};
    test::FakePlatform fake;
    PlatformServices os = fake.services();
    std::filesystem::path folder = os.paths->dataDirectory();

    void SetUp() override { fake.clock.setLocal(2026, 3, 17, 10, 0, 0); }

    std::int64_t at(int y, int mo, int d, int h = 12) {
        test::FakeClock c;
        c.setLocal(y, mo, d, h, 0, 0);
        return c.nowValue;
    }
    void write(const char* name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    int run(bool json, std::string& out, std::string& err) {
        return runReport(os, json, "9.8.7", out, err);
    }
    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.insert(e.path().filename().string() + ":" +
                         std::to_string(std::filesystem::file_size(e.path())));
        return names;
    }
    // The line of `label` in the block that starts with `heading`.
    static std::string lineIn(const std::string& text, const std::string& heading,
                              const std::string& label) {
        const auto block = text.find(heading);
        if (block == std::string::npos)
            return {};
        const auto at = text.find("  " + label + " ", block);
        if (at == std::string::npos)
            return {};
        return text.substr(at, text.find('\n', at) - at);
    }
};

// Today (the 17th) and March hold web, mail and custom traffic; the 16th and April of last year
// something else; the 20th is February's and must not show.
StatRecords sample() {
    StatRecords r;
    r.daysSent[16][kWeb] = 1536;
    r.daysReceived[16][kWeb] = 1048576;
    r.daysReceived[16][kMail] = 1023;
    r.daysSent[16][kCustom] = 100;
    r.daysSent[15][kUdp] = 2048;
    r.daysSent[19][kWeb] = 777777;
    r.monthsSent[2][kWeb] = 1536 + 5000;
    r.monthsReceived[2][kWeb] = (1ull << 63) + 5; // exact in JSON, rounded in the text
    r.monthsSent[3][kOthers] = 3 * 1024 * 1024;
    return r;
}

TEST_F(ReportTest, TextShowsTodayThisMonthTheDaysAndTwelveMonthsInTheProgramsFormat) {
    write("stat.dat", encodeStatFile(sample(), at(2026, 3, 17, 9)));
    std::string out, err;
    ASSERT_EQ(run(false, out, err), 0) << err;
    EXPECT_TRUE(err.empty());
    EXPECT_NE(out.find("Tallynet 9.8.7 traffic report, Tuesday, March 17, 2026"),
              std::string::npos);
    EXPECT_NE(out.find("saved 2026-03-17 09:00"), std::string::npos);

    const std::string web = lineIn(out, "Today", "Web");
    EXPECT_NE(web.find("1.50 KB"), std::string::npos) << web;
    EXPECT_NE(web.find("1.00 MB"), std::string::npos) << web;
    EXPECT_NE(lineIn(out, "Today", "Mail").find("1023 B"), std::string::npos);
    EXPECT_NE(lineIn(out, "Today", "Custom").find("100 B"), std::string::npos);
    // TOTAL sums every counter, the custom one included, as the history viewer does.
    EXPECT_NE(lineIn(out, "Today", "TOTAL").find("1.60 KB"), std::string::npos);
    EXPECT_NE(lineIn(out, "March 2026", "Web").find("8.00 EB"), std::string::npos);

    EXPECT_NE(lineIn(out, "Day ", "2026-03-16").find("2.00 KB"), std::string::npos);
    EXPECT_NE(out.find("2026-03-17"), std::string::npos);
    EXPECT_EQ(out.find("2026-03-18"), std::string::npos); // only the days up to today
    EXPECT_EQ(out.find("759.55 KB"), std::string::npos);  // February's 20th
    EXPECT_NE(lineIn(out, "Month ", "2025-04").find("3.00 MB"), std::string::npos);
    EXPECT_NE(out.find("  2026-03 "), std::string::npos);
    EXPECT_EQ(out.find("  2025-03 "), std::string::npos); // twelve months, not thirteen
}

TEST_F(ReportTest, JsonCarriesExactCounts) {
    write("stat.dat", encodeStatFile(sample(), at(2026, 3, 17, 9)));
    std::string out, err;
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("\"today\":{\"date\":\"2026-03-17\",\"bytes\":{\"sent\":{\"Web\":1536,"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"received\":{\"Web\":9223372036854775813,"), std::string::npos);
    EXPECT_NE(out.find("{\"date\":\"2026-03-16\",\"sent\":2048,\"received\":0,\"total\":2048}"),
              std::string::npos);
    EXPECT_NE(out.find("{\"month\":\"2025-04\",\"sent\":3145728,"), std::string::npos);
    EXPECT_NE(out.find("\"saved\":" + std::to_string(at(2026, 3, 17, 9))), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '{'), std::count(out.begin(), out.end(), '}'));
    EXPECT_EQ(std::count(out.begin(), out.end(), '['), std::count(out.begin(), out.end(), ']'));
    EXPECT_EQ(std::count(out.begin(), out.end(), '{'), 1 + 2 * (1 + 4) + 17 + 12);
}

// The newest drop line of TN.log reaches the report; lines that only look like one do not.
TEST_F(ReportTest, ShowsTheCaptureDropsTheRunningProgramLogged) {
    write("stat.dat", encodeStatFile(sample(), at(2026, 3, 17, 9)));
    std::string out, err;
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("\"dropped\":null"), std::string::npos); // no log: nothing is claimed

    const std::string log = "2026-03-16 08:00:00 Warp:2400\r\n"
                            "2026-03-16 08:00:01 " +
                            captureDropsLogText(12) +
                            "\r\n"
                            "2026-03-17 09:58:00 " +
                            captureDropsLogText(4096) +
                            "\r\n"
                            "2026-03-17 09:59:00 Capture dropped 99999999999999999999999 frames "
                            "since start\r\n"
                            "2026-03-17 09:59:30 Capture dropped -5 frames since start\r\n"
                            "2026-03-17 09:59:40 Capture dropped 77 frames since st";
    write("TN.log", std::vector<std::uint8_t>(log.begin(), log.end()));
    ASSERT_EQ(run(false, out, err), 0) << err;
    EXPECT_NE(out.find("The capture dropped 4096 frames (TN.log, 2026-03-17 09:58:00)"),
              std::string::npos)
        << out;
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("\"dropped\":{\"frames\":4096,\"logged\":\"2026-03-17 09:58:00\"}"),
              std::string::npos)
        << out;

    // A log too large to be ours is not read at all; the report still answers.
    write("TN.log", std::vector<std::uint8_t>(2 * 1024 * 1024, 'x'));
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("\"dropped\":null"), std::string::npos);
}

TEST_F(ReportTest, DaysAndMonthsSinceTheSaveShowEmptyAsTheProgramWouldStart) {
    StatRecords r = sample();
    r.daysSent[10][kWeb] = 4096; // the 11th, before the save: kept
    write("stat.dat", encodeStatFile(r, at(2026, 3, 11)));
    std::string out, err;
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("{\"date\":\"2026-03-11\",\"sent\":4096,"), std::string::npos);
    EXPECT_NE(out.find("{\"date\":\"2026-03-16\",\"sent\":0,"), std::string::npos);
    EXPECT_NE(out.find("\"today\":{\"date\":\"2026-03-17\",\"bytes\":{\"sent\":{\"Web\":0,"),
              std::string::npos);

    write("stat.dat", encodeStatFile(r, at(2026, 2, 20))); // saved last month
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("\"month\":{\"month\":\"2026-03\",\"bytes\":{\"sent\":{\"Web\":0,"),
              std::string::npos);
    EXPECT_NE(out.find("{\"month\":\"2025-04\",\"sent\":3145728,"), std::string::npos);
    EXPECT_NE(out.find("{\"date\":\"2026-03-11\",\"sent\":0,"), std::string::npos);
}

TEST_F(ReportTest, FallsBackToTheBackupAndNeverWritesAnything) {
    write("stat.dat", {7, 0, 0, 0, 1, 2, 3}); // an unknown version
    StatRecords r;
    r.daysSent[16][kFtp] = 5120;
    write("stat.bak", encodeStatFile(r, at(2026, 3, 17, 8)));
    const auto before = listing();
    std::string out, err;
    ASSERT_EQ(run(false, out, err), 0) << err;
    EXPECT_NE(out.find("stat.bak"), std::string::npos);
    EXPECT_NE(lineIn(out, "Today", "Ftp").find("5.00 KB"), std::string::npos);

    // A version-1 history is read as it is; the program would convert it, the report does not.
    std::vector<std::uint8_t> v1(kStatFileV1Size, 0);
    v1[0] = 1;
    write("stat.dat", v1);
    const auto withV1 = listing();
    ASSERT_EQ(run(true, out, err), 0) << err;
    EXPECT_NE(out.find("stat.dat"), std::string::npos);
    EXPECT_EQ(listing(), withV1);
    EXPECT_NE(before, withV1);
}

TEST_F(ReportTest, MissingOrUnreadableHistoryFailsWithAClearMessage) {
    std::string out, err;
    EXPECT_EQ(run(false, out, err), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("neither stat.dat nor stat.bak exists"), std::string::npos) << err;

    write("stat.dat", {9, 0, 0, 0});
    EXPECT_EQ(run(true, out, err), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(err.find("stat.dat has the unknown version 9"), std::string::npos) << err;
    EXPECT_NE(err.find("stat.bak does not exist"), std::string::npos) << err;

    std::vector<std::uint8_t> cut = encodeStatFile(sample(), at(2026, 3, 17));
    cut.resize(5000);
    write("stat.dat", cut);
    write("stat.bak", {2, 0});
    EXPECT_EQ(run(false, out, err), 1);
    EXPECT_NE(err.find("has 5000 bytes, not a version-2 history"), std::string::npos) << err;
    EXPECT_NE(err.find("stat.bak is too short"), std::string::npos) << err;
}

} // namespace
} // namespace tn
