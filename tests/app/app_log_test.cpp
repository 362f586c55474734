#include "app/app_log.h"

#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

class AppLogTest : public ::testing::Test {
protected:
    test::TzScope tz{"UTC0"};
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    test::FakeClock& clock = fake.clock;
    std::vector<std::pair<std::string, MessageIcon>> shown;
    CAppLog log{dir / "TN.log", *fake.services().files, clock,
                [this](const std::string& t, MessageIcon i) { shown.emplace_back(t, i); }};

    void SetUp() override { clock.setLocal(2024, 3, 5, 14, 7, 9); }
};

TEST_F(AppLogTest, FirstWrite_CreatesOneCrLfLine) {
    log.write("Warp:3015");
    EXPECT_EQ(test::readText(dir / "TN.log"), "2024-03-05 14:07:09 Warp:3015\r\n");
    EXPECT_TRUE(shown.empty());
}

TEST_F(AppLogTest, PercentSignsAreWrittenUnchanged) {
    log.write("100% %s %d %%");
    EXPECT_EQ(test::readText(dir / "TN.log"), "2024-03-05 14:07:09 100% %s %d %%\r\n");
}

TEST_F(AppLogTest, FileOfExactlyTheLimit_IsStillAppendedTo) {
    test::writeText(dir / "TN.log", std::string(100000, 'x'));
    log.write("next");
    const std::string text = test::readText(dir / "TN.log");
    EXPECT_EQ(text.size(), 100000u + 26u);
    EXPECT_EQ(text.substr(100000), "2024-03-05 14:07:09 next\r\n");
}

TEST_F(AppLogTest, FileOneByteOverTheLimit_RestartsWithTheBannerOnly) {
    test::writeText(dir / "TN.log", std::string(100001, 'x'));
    log.write("lost message");
    EXPECT_EQ(test::readText(dir / "TN.log"),
              "2024-03-05 14:07:09 ******Tallynet Log File (deleted)******\r\n");
    log.write("after");
    EXPECT_EQ(test::readText(dir / "TN.log"),
              "2024-03-05 14:07:09 ******Tallynet Log File (deleted)******\r\n"
              "2024-03-05 14:07:09 after\r\n");
}

TEST_F(AppLogTest, LongMessages_AreCutTo511CharactersPerLine) {
    log.write(std::string(2000, 'a'));
    const std::string text = test::readText(dir / "TN.log");
    EXPECT_EQ(text.size(), 511u);
    EXPECT_EQ(text.substr(509), "\r\n");
}

TEST_F(AppLogTest, LongMessages_AreNotCutInsideAUtf8Character) {
    std::string msg(488, 'a'); // 20-byte prefix + 488 = 508, then a 3-byte character crosses 509
    msg += "\xE2\x82\xAC";
    log.write(msg);
    const std::string text = test::readText(dir / "TN.log");
    EXPECT_EQ(text, "2024-03-05 14:07:09 " + std::string(488, 'a') + "\r\n");
}

TEST_F(AppLogTest, UnopenableFile_ReportsTheRomanianMessage) {
    CAppLog bad(dir / "missing-folder/TN.log", *fake.services().files, clock,
                [this](const std::string& t, MessageIcon i) { shown.emplace_back(t, i); });
    bad.write("x");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, "Nu am putut deschide fisierul Log");
    EXPECT_EQ(shown[0].second, MessageIcon::None);
}

} // namespace
} // namespace tn
