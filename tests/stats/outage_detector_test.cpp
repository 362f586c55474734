#include "stats/outage_detector.h"

#include "app/global.h"
#include "platform/file_store.h"
#include "stats/outage_file.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tn {
namespace {

struct RecordingStatus : IOutageStatus {
    std::vector<int> pictures;
    std::vector<std::string> texts;
    std::vector<std::string> errors;
    void setStatusPicture(int id) override { pictures.push_back(id); }
    void setStatusText(const std::string& t) override { texts.push_back(t); }
    void showFileError(const std::string& t) override { errors.push_back(t); }
    void clear() {
        pictures.clear();
        texts.clear();
        errors.clear();
    }
};

class OutageDetectorTest : public ::testing::Test {
protected:
    static constexpr std::int64_t kT0 = 1700000000; // 2023-11-14 22:13:20 UTC
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    test::FakeClock& clock = fake.clock;
    CGlobal global{fake.services()};
    RecordingStatus status;
    COutageDetector detector{global, clock, status};
    void SetUp() override {
        // The main window shows the texts of the failure reporter through the same control.
        global.fileFailures().setShow([this](const std::string& t) { status.showFileError(t); });
        global.LogFalls = 1;
        global.FallSecs = 20;
        clock.nowValue = kT0;
    }
    // One tick one second after the previous one.
    void tick(std::uint64_t incoming, int adapters = 1) {
        clock.advance(1);
        detector.step(incoming, adapters);
    }
    void silent(int n) {
        for (int i = 0; i < n; ++i)
            tick(0);
    }
    std::filesystem::path outageFile() const { return dir / "data/NetFalls.dat"; }
    std::vector<OutageRecord> records() {
        auto log = readOutageFile(*fake.services().files, outageFile(), clock);
        return log ? log->records : std::vector<OutageRecord>{};
    }
};

TEST_F(OutageDetectorTest, TwentyOneSilentTicks_AtThreshold20_LeaveNoTrace) {
    tick(500);
    silent(21);
    tick(500);
    EXPECT_TRUE(status.pictures.empty());
    EXPECT_TRUE(status.texts.empty());
    EXPECT_FALSE(std::filesystem::exists(outageFile()));
    EXPECT_EQ(detector.silentTicks(), 0);
}

TEST_F(OutageDetectorTest, ThirtySilentTicks_ShowCountAndAreRecordedWhenDataReturns) {
    tick(500);  // kT0 + 1
    silent(30); // kT0 + 2 .. kT0 + 31
    EXPECT_EQ(status.texts,
              (std::vector<std::string>{"00:00:21", "00:00:22", "00:00:23", "00:00:24", "00:00:25",
                                        "00:00:26", "00:00:27", "00:00:28", "00:00:29"}));
    EXPECT_EQ(status.pictures, (std::vector<int>{131, 141, 131, 141, 131, 141, 131, 141, 131}));
    status.clear();

    tick(500); // kT0 + 32
    EXPECT_EQ(status.pictures, std::vector<int>{131});
    EXPECT_EQ(status.texts, std::vector<std::string>{""});
    // The second silent tick (kT0 + 3) starts the outage, the data tick ends it.
    // 1700000003 = 0x6553F103, 1700000032 = 0x6553F120.
    EXPECT_EQ(test::readBytes(outageFile()),
              (std::vector<std::uint8_t>{0x03, 0xF1, 0x53, 0x65, 0, 0, 0, 0, 0x20, 0xF1, 0x53, 0x65,
                                         0, 0, 0, 0}));
    EXPECT_EQ(detector.silentTicks(), 0);
}

TEST_F(OutageDetectorTest, ThresholdZero_TwoSilentTicksShowOneSecond) {
    global.FallSecs = 0;
    tick(1);
    silent(1);
    EXPECT_TRUE(status.texts.empty());
    silent(1);
    EXPECT_EQ(status.texts, std::vector<std::string>{"00:00:01"});
    EXPECT_EQ(status.pictures, std::vector<int>{131});
    tick(1);
    EXPECT_EQ(records(), (std::vector<OutageRecord>{{kT0 + 3, kT0 + 4}}));
}

TEST_F(OutageDetectorTest, DataInTheMiddleOfASilence_RestartsTheCount) {
    global.FallSecs = 5;
    tick(10);
    silent(5); // count 4
    tick(10);  // short silence: no trace
    silent(6); // count 5, not above the threshold
    EXPECT_TRUE(status.texts.empty());
    silent(1); // count 6
    EXPECT_EQ(status.texts, std::vector<std::string>{"00:00:06"});
    EXPECT_FALSE(std::filesystem::exists(outageFile()));
}

TEST_F(OutageDetectorTest, ResetDuringShownOutage_RestoresIdleAndWritesNothing) {
    tick(10);
    silent(25);
    ASSERT_FALSE(status.texts.empty());
    status.clear();
    detector.reset();
    EXPECT_EQ(status.pictures, std::vector<int>{131});
    EXPECT_EQ(status.texts, std::vector<std::string>{"..."});
    status.clear();
    tick(10);
    EXPECT_TRUE(status.pictures.empty());
    EXPECT_TRUE(status.texts.empty());
    EXPECT_FALSE(std::filesystem::exists(outageFile()));
}

TEST_F(OutageDetectorTest, OutageOverADay_WrapsHoursInTextButRecordsTrueTimes) {
    tick(10);
    silent(90001); // count 90000: 25 hours
    EXPECT_EQ(status.texts.back(), "01:00:00");
    tick(10);
    EXPECT_EQ(records(), (std::vector<OutageRecord>{{kT0 + 3, kT0 + 90003}}));
}

TEST_F(OutageDetectorTest, LogFallsOffOrNoAdapters_FreezeTheState) {
    tick(10);
    silent(10); // count 9
    global.LogFalls = 0;
    for (int i = 0; i < 50; ++i)
        tick(10);
    global.LogFalls = 1;
    for (int i = 0; i < 50; ++i)
        tick(10, 0);
    EXPECT_EQ(detector.silentTicks(), 9);
    silent(11); // count 20
    EXPECT_TRUE(status.texts.empty());
    silent(1);
    EXPECT_EQ(status.texts, std::vector<std::string>{"00:00:21"});
}

TEST_F(OutageDetectorTest, NegativeThreshold_CountsAsZero) {
    global.FallSecs = -5;
    tick(10); // right after start-up: must not log an outage that began at time 0
    silent(1);
    tick(10); // one silent tick is no outage
    EXPECT_FALSE(std::filesystem::exists(outageFile()));
    silent(2);
    EXPECT_EQ(status.texts, std::vector<std::string>{"00:00:01"});
    tick(10);
    EXPECT_EQ(records(), (std::vector<OutageRecord>{{kT0 + 5, kT0 + 6}}));
}

// A disk that is full for the outage file.
class FullDisk final : public IFileStore {
public:
    ReadStatus read(const std::filesystem::path&, std::size_t,
                    std::vector<std::uint8_t>&) override {
        return ReadStatus::Missing;
    }
    ReplaceResult replace(const std::filesystem::path&, const std::filesystem::path&,
                          std::span<const std::uint8_t>) override {
        return {ReplaceStatus::Failed, ENOSPC};
    }
    AppendResult append(const std::filesystem::path&, std::span<const std::uint8_t>) override {
        return {AppendStatus::WriteFailed, ENOSPC};
    }
    SetAsideResult setAside(const std::filesystem::path&, const std::string&,
                            std::size_t) override {
        return {SetAsideStatus::Failed, {}, ENOSPC};
    }
    std::optional<std::uintmax_t> size(const std::filesystem::path&) override { return {}; }
};

TEST_F(OutageDetectorTest, FailedWrite_IsReportedAndDisplayKept) {
    FullDisk full;
    PlatformServices os = fake.services();
    os.files = &full;
    CGlobal fullGlobal(os);
    fullGlobal.fileFailures().setShow([this](const std::string& t) { status.showFileError(t); });
    fullGlobal.LogFalls = 1;
    fullGlobal.FallSecs = 20;
    COutageDetector detector{fullGlobal, clock, status};
    const auto step = [&](std::uint64_t incoming) {
        clock.advance(1);
        detector.step(incoming, 1);
    };
    step(10);
    for (int i = 0; i < 22; ++i)
        step(0);
    status.clear();
    step(10);
    // The full disk fails TN.log too: each file is told once.
    ASSERT_EQ(status.errors.size(), 2u);
    EXPECT_NE(status.errors[0].find(outageFile().string() + ": No space left on device"),
              std::string::npos)
        << status.errors[0];
    EXPECT_NE(status.errors[1].find("TN.log"), std::string::npos) << status.errors[1];
    EXPECT_TRUE(status.pictures.empty());
    EXPECT_TRUE(status.texts.empty());
    EXPECT_EQ(detector.silentTicks(), 0);
    // The next outage fails for the same reasons: not told again.
    for (int i = 0; i < 22; ++i)
        step(0);
    step(10);
    EXPECT_EQ(status.errors.size(), 2u);
}

TEST_F(OutageDetectorTest, FolderInPlaceOfTheOutageFile_IsNamedAndLeftAlone) {
    std::filesystem::create_directories(outageFile());
    tick(10);
    silent(22);
    status.clear();
    tick(10);
    ASSERT_EQ(status.errors.size(), 1u);
    EXPECT_NE(status.errors[0].find("not a regular file"), std::string::npos) << status.errors[0];
    EXPECT_TRUE(std::filesystem::is_directory(outageFile()));
    // Once the folder is gone the record is written, and a folder planted again is told anew.
    std::filesystem::remove(outageFile());
    silent(22);
    tick(10);
    EXPECT_EQ(records().size(), 1u);
    std::filesystem::remove(outageFile());
    std::filesystem::create_directories(outageFile());
    silent(22);
    tick(10);
    EXPECT_EQ(status.errors.size(), 2u);
}

} // namespace
} // namespace tn
