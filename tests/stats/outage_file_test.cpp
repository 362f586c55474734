#include "stats/outage_file.h"

#include "platform/file_store.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tn {
namespace {

class OutageFileTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    test::FakeClock& clock = fake.clock;
    IFileStore& files = *fake.services().files;
    test::TzScope tz{"UTC"};

    std::filesystem::path file() const { return dir / "data/NetFalls.dat"; }
    AppendStatus append(std::int64_t start, std::int64_t stop) {
        return appendOutageRecord(files, file(), {start, stop}).status;
    }
    void writeBytes(const std::vector<std::uint8_t>& bytes) {
        std::filesystem::create_directories(file().parent_path());
        test::writeText(file(), std::string(bytes.begin(), bytes.end()));
    }
    OutageLog read() {
        auto log = readOutageFile(files, file(), clock);
        EXPECT_TRUE(log.has_value());
        return log.value_or(OutageLog{});
    }
};

// Little-endian bytes of the values used below, written out by hand.
const std::vector<std::uint8_t> k1000 = {0xE8, 0x03, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> k1060 = {0x24, 0x04, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> k2000 = {0xD0, 0x07, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kMinus1 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// 32535244798 = 0x7_9340_6FFE and one more.
const std::vector<std::uint8_t> kMax = {0xFE, 0x6F, 0x40, 0x93, 0x07, 0, 0, 0};
const std::vector<std::uint8_t> kMaxPlus1 = {0xFF, 0x6F, 0x40, 0x93, 0x07, 0, 0, 0};

std::vector<std::uint8_t> cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(OutageFileTest, Append_CreatesMissingFileThenGrowsBySixteenBytes) {
    std::filesystem::create_directories(file().parent_path());
    EXPECT_EQ(append(1000, 1060), AppendStatus::Written);
    EXPECT_EQ(test::readBytes(file()), cat({k1000, k1060}));
    EXPECT_EQ(append(2000, -1), AppendStatus::Written);
    EXPECT_EQ(test::readBytes(file()), cat({k1000, k1060, k2000, kMinus1}));
}

TEST_F(OutageFileTest, Append_WhereAFolderStands_IsDroppedAndTheFolderLeftAlone) {
    std::filesystem::create_directories(file());
    EXPECT_EQ(append(1000, 1060), AppendStatus::NotRegular);
    EXPECT_TRUE(std::filesystem::is_directory(file()));
}

// A write that runs into the file-size limit half-way must not leave half a record behind.
TEST_F(OutageFileTest, Append_FailingHalfWay_IsCutBack) {
    writeBytes(cat({k1000, k1060}));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{24, 24}; // room for 8 of the 16 bytes
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(3);
        _exit(append(2000, 2000) == AppendStatus::WriteFailed ? 0 : 1);
    }
    int st = 0;
    ASSERT_EQ(waitpid(child, &st, 0), child);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
    EXPECT_EQ(test::readBytes(file()), cat({k1000, k1060}));
}

TEST_F(OutageFileTest, Reader_GoodFile_GivesRecordsInFileOrder) {
    writeBytes(cat({k2000, k2000, k1000, k1060, k1000, kMax}));
    const OutageLog log = read();
    EXPECT_FALSE(log.invalid);
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0], (OutageRecord{2000, 2000}));
    EXPECT_EQ(log.records[1], (OutageRecord{1000, 1060}));
    EXPECT_EQ(log.records[1].duration(), 60);
    EXPECT_EQ(log.records[2], (OutageRecord{1000, 32535244798}));
}

TEST_F(OutageFileTest, Reader_MissingEmptyOrTooShortFile) {
    EXPECT_FALSE(readOutageFile(files, file(), clock).has_value());
    writeBytes({});
    EXPECT_TRUE(read().records.empty());
    EXPECT_FALSE(read().invalid);
    writeBytes({1, 2, 3, 4, 5, 6, 7});
    EXPECT_TRUE(read().records.empty());
    EXPECT_FALSE(read().invalid);
}

TEST_F(OutageFileTest, Reader_TrailingHalfRecord_StopsWhereItStarted) {
    writeBytes(cat({k1000, k1060, k2000}));
    const OutageLog log = read();
    EXPECT_FALSE(log.invalid);
    ASSERT_EQ(log.records.size(), 2u);
    EXPECT_EQ(log.records[1], (OutageRecord{2000, 2000}));
    EXPECT_EQ(log.records[1].duration(), 0);

    // Ending four bytes into the stop value replaces only the low bytes of the start.
    writeBytes(cat({k2000, {0x01, 0x02, 0x03, 0x04}}));
    const OutageLog partial = read();
    ASSERT_EQ(partial.records.size(), 1u);
    EXPECT_EQ(partial.records[0], (OutageRecord{2000, 0x04030201}));
}

TEST_F(OutageFileTest, Reader_BadValue_StopsAndKeepsEarlierRecords) {
    writeBytes(cat({k1000, k1060, kMinus1, k1000, k1000, k1060}));
    OutageLog log = read();
    EXPECT_TRUE(log.invalid);
    EXPECT_EQ(log.records, (std::vector<OutageRecord>{{1000, 1060}}));

    writeBytes(cat({k1000, k1060, kMaxPlus1, k1000}));
    log = read();
    EXPECT_TRUE(log.invalid);
    EXPECT_EQ(log.records.size(), 1u);

    writeBytes(cat({k1000, kMaxPlus1}));
    log = read();
    EXPECT_TRUE(log.invalid);
    EXPECT_TRUE(log.records.empty());
}

TEST_F(OutageFileTest, Reader_StopBeforeStart_GivesNegativeDuration) {
    writeBytes(cat({k1060, k1000}));
    const OutageLog log = read();
    EXPECT_FALSE(log.invalid);
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].duration(), -60);
}

TEST_F(OutageFileTest, Reader_TimeWithoutLocalForm_IsInvalid) {
    struct NoCalendar : test::FakeClock {
        std::optional<LocalTime> toLocal(std::int64_t t) const override {
            if (t == 1060)
                return std::nullopt;
            return FakeClock::toLocal(t);
        }
    } noCalendar;
    writeBytes(cat({k1000, k2000, k1000, k1060}));
    const auto log = readOutageFile(files, file(), noCalendar);
    ASSERT_TRUE(log.has_value());
    EXPECT_TRUE(log->invalid);
    EXPECT_EQ(log->records.size(), 1u);
}

} // namespace
} // namespace tn
