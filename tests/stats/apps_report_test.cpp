// `tallynet --report --apps`: what it reads from apps.dat and what it prints.
#include "stats/apps_report.h"

#include "app/command_line.h"
#include "platform/paths.h"
#include "support/fake_platform.h"

#include <fstream>
#include <gtest/gtest.h>

namespace tn {
namespace {

class AppsReportTest : public ::testing::Test {
protected:
    test::TzScope tz{"UTC0"};
    test::FakePlatform fake;
    PlatformServices os = fake.services();

    void SetUp() override { fake.clock.setLocal(2026, 3, 17, 10, 0, 0); }
    void write(const AppRecords& r, std::int64_t saved) {
        const auto bytes = encodeAppsFile(r, saved);
        std::ofstream out(os.paths->dataDirectory() / "apps.dat", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
};

TEST_F(AppsReportTest, TodayAndThisMonthListTheProgramsBiggestFirst) {
    AppRecords r;
    r.days[16] = {{"curl", 100, 1000}, {"firefox-esr", 2048, 1048576}, {"user root", 1, 1}};
    r.months[2] = {{"firefox-esr", 4096, 2097152}};
    write(r, fake.clock.nowValue - 60);
    std::string out, err;
    ASSERT_EQ(runAppsReport(os, false, "9.8.7", out, err), 0) << err;
    const auto fx = out.find("firefox-esr");
    const auto curl = out.find("curl");
    const auto root = out.find("user root");
    ASSERT_NE(fx, std::string::npos) << out;
    EXPECT_LT(fx, curl);
    EXPECT_LT(curl, root);
    EXPECT_NE(out.find("1.00 MB"), std::string::npos) << out;
    EXPECT_NE(out.find("This month (2026-03)"), std::string::npos) << out;

    ASSERT_EQ(runAppsReport(os, true, "9.8.7", out, err), 0) << err;
    EXPECT_NE(out.find("\"today\":{\"date\":\"2026-03-17\",\"programs\":[{\"name\":\"firefox-esr\","
                       "\"sent\":2048,\"received\":1048576,\"total\":1050624}"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"month\":{\"month\":\"2026-03\",\"programs\":[{\"name\":\"firefox-esr\""),
              std::string::npos)
        << out;
}

TEST_F(AppsReportTest, DatesSinceTheSaveShowEmptyAndABadFileFails) {
    AppRecords r;
    r.days[16] = {{"curl", 1, 1}}; // the 17th of last month
    r.days[15] = {{"wget", 1, 1}};
    r.months[2] = {{"curl", 1, 1}}; // last year's March
    // Saved on February 16th: the 17th of this cycle has not been counted into yet.
    write(r, fake.clock.nowValue - 29 * 86400);
    std::string out, err;
    ASSERT_EQ(runAppsReport(os, true, "9.8.7", out, err), 0) << err;
    EXPECT_NE(out.find("\"today\":{\"date\":\"2026-03-17\",\"programs\":[]}"), std::string::npos)
        << out;
    EXPECT_NE(out.find("\"month\":{\"month\":\"2026-03\",\"programs\":[]}"), std::string::npos)
        << out;

    std::ofstream(os.paths->dataDirectory() / "apps.dat", std::ios::trunc) << "TNAP";
    EXPECT_EQ(runAppsReport(os, false, "9.8.7", out, err), 1);
    EXPECT_NE(err.find("cut short"), std::string::npos) << err;
    std::filesystem::remove(os.paths->dataDirectory() / "apps.dat");
    EXPECT_EQ(runAppsReport(os, false, "9.8.7", out, err), 1);
    EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
}

TEST(AppsCommandLineTest, AppsGoesWithReport) {
    EXPECT_EQ(parseCommandLine({"--report", "--apps"}).mode, CommandLine::Mode::Report);
    EXPECT_TRUE(parseCommandLine({"--apps", "--json", "--report"}).apps);
    const CommandLine alone = parseCommandLine({"--apps"});
    EXPECT_EQ(alone.mode, CommandLine::Mode::Bad);
    EXPECT_EQ(commandLineProblem(alone), "tallynet: --apps goes with --report\n");
}

} // namespace
} // namespace tn
