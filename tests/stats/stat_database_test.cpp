#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tn {
namespace {

// File layouts written out offset by offset, independently of the program's encoder.
struct FileImage {
    std::vector<std::uint8_t> bytes;
    explicit FileImage(std::size_t size) : bytes(size, 0) {}
    void u32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void u64(std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 8; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

// Counter k of stored record r (0..85 in file order) carries a value unique to both.
std::uint64_t pattern(int r, int k, std::uint64_t seed) {
    return seed * 1000003u + static_cast<std::uint64_t>(r) * 0x10001u +
           (static_cast<std::uint64_t>(k) << 40);
}

std::vector<std::uint8_t> version2Image(std::uint64_t seed, std::int64_t saveTime) {
    FileImage f(8268);
    f.u32(0, 2);
    for (int r = 0; r < 86; ++r) {
        const std::size_t at = 4 + static_cast<std::size_t>(r) * 96;
        f.bytes[at] = 0xC0;
        f.bytes[at + 1] = 0xEA;
        f.bytes[at + 2] = 0x45;
        f.bytes[at + 3] = 0x00;
        for (int k = 0; k < 11; ++k)
            f.u64(at + 8 + static_cast<std::size_t>(k) * 8, pattern(r, k, seed));
    }
    f.u64(8260, static_cast<std::uint64_t>(saveTime));
    return f.bytes;
}

std::vector<std::uint8_t> version1Image(std::uint64_t seed, std::int64_t saveTime) {
    FileImage f(11708);
    f.u32(0, 1);
    for (int r = 0; r < 86; ++r) {
        const std::size_t at = 4 + static_cast<std::size_t>(r) * 136;
        for (std::size_t i = 0; i < 88; ++i)
            f.bytes[at + i] = 0xEE; // no data there
        for (int k = 0; k < 6; ++k)
            f.u64(at + 88 + static_cast<std::size_t>(k) * 8, pattern(r, k, seed));
    }
    f.u64(11700, static_cast<std::uint64_t>(saveTime));
    return f.bytes;
}

void writeBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& b) {
    test::writeText(p, std::string(b.begin(), b.end()));
}

// Stored record r (file order) as the owner holds it.
std::uint64_t held(const CIPStat& s, int r, int k) {
    if (r < 31)
        return s.dayRecord(Direction::Received, r + 1, k);
    if (r < 62)
        return s.dayRecord(Direction::Sent, r - 31 + 1, k);
    if (r < 74)
        return s.monthRecord(Direction::Received, r - 62 + 1, k);
    return s.monthRecord(Direction::Sent, r - 74 + 1, k);
}

class StatDatabaseTest : public test::IPStatFixture {
protected:
    std::filesystem::path file(const char* name) { return fake.dataFile(name); }
    std::string log() { return test::readText(file("TN.log")); }

    // A fresh owner that loads what is on disk; the save time it read, or `fallback`.
    std::unique_ptr<CIPStat> reload(std::int64_t& saveTime, std::int64_t fallback = -7) {
        auto s = std::make_unique<CIPStat>(*global, clock);
        saveTime = fallback;
        s->load(saveTime);
        return s;
    }
    void expectPattern(const CIPStat& s, std::uint64_t seed, int counters = 11) {
        for (int r = 0; r < 86; ++r) {
            for (int k = 0; k < 11; ++k) {
                ASSERT_EQ(held(s, r, k), k < counters ? pattern(r, k, seed) : 0u)
                    << "record " << r << " counter " << k;
            }
        }
    }
};

TEST_F(StatDatabaseTest, SavedFileMatchesTheLayoutByteForByteAndReadsBack) {
    writeBytes(file("stat.dat"), version2Image(5, 1111));
    std::int64_t t = 0;
    auto s = reload(t);
    EXPECT_EQ(t, 1111);
    expectPattern(*s, 5);

    // Loaded by initialise and saved with the clock's time: the file is the image with the new
    // save time, so every record went back where it came from.
    clock.nowValue = 1111; // no day passed: nothing is stale
    ASSERT_EQ(s->initialise(-1), 1);
    clock.nowValue = 2222;
    s->save();
    EXPECT_EQ(test::readBytes(file("stat.dat")), version2Image(5, 2222));
    EXPECT_EQ(test::readBytes(file("stat.bak")), version2Image(5, 1111));
}

TEST_F(StatDatabaseTest, CountedTrafficLandsInTheSentSectionOfItsDay) {
    select();
    feed(test::ethernetFrame(tcp(kSelf, 5000, kRemote, 25, 1234))); // Mail, day 17, March
    stat->save();
    FileImage expected(8268);
    expected.u32(0, 2);
    for (int r = 0; r < 86; ++r) {
        expected.bytes[4 + static_cast<std::size_t>(r) * 96] = 0xC0;
        expected.bytes[5 + static_cast<std::size_t>(r) * 96] = 0xEA;
        expected.bytes[6 + static_cast<std::size_t>(r) * 96] = 0x45;
    }
    expected.u64(2980 + 16 * 96 + 8 + 1 * 8, 1234); // days sent, 17th, Mail
    expected.u64(7108 + 2 * 96 + 8 + 1 * 8, 1234);  // months sent, March, Mail
    expected.u64(8260, static_cast<std::uint64_t>(clock.nowValue));
    EXPECT_EQ(test::readBytes(file("stat.dat")), expected.bytes);
}

TEST_F(StatDatabaseTest, ChoosingAnotherAdapterKeepsWhatWasCountedSinceTheLastSave) {
    select();
    const auto before = test::readBytes(file("stat.dat")); // none yet
    capture.next = std::make_unique<test::FakeDevice>();
    ASSERT_EQ(stat->initialise(0), 1);
    EXPECT_EQ(test::readBytes(file("stat.dat")), before); // nothing counted: nothing written
    stat->waitForExit();
    feed(test::ethernetFrame(tcp(kSelf, 5000, kRemote, 80, 900)));
    capture.next = std::make_unique<test::FakeDevice>();
    ASSERT_EQ(stat->initialise(0), 1);
    EXPECT_EQ(stat->dayRecord(Direction::Sent, 17, kWeb), 900u);
    EXPECT_EQ(stat->monthTotal(3), 900u);
}

TEST_F(StatDatabaseTest, SaveBeforeTheFirstInitialiseWritesNothing) {
    stat->save();
    EXPECT_FALSE(std::filesystem::exists(file("stat.dat")));
}

TEST_F(StatDatabaseTest, VersionOneIsConvertedAndRewritten) {
    writeBytes(file("stat.dat"), version1Image(9, 4444));
    std::int64_t t = 0;
    auto s = reload(t);
    EXPECT_EQ(t, 4444);
    expectPattern(*s, 9, 6); // Web..Others carried over, Ftp, Custom and reserved at 0
    EXPECT_NE(log().find("Successfully converted database from version: 1 to version: 2"),
              std::string::npos);
    const auto rewritten = test::readBytes(file("stat.dat"));
    ASSERT_EQ(rewritten.size(), 8268u);
    EXPECT_EQ(rewritten[0], 2);
    std::int64_t t2 = 0;
    auto again = reload(t2);
    EXPECT_EQ(t2, 4444);
    expectPattern(*again, 9, 6);
}

TEST_F(StatDatabaseTest, MissingFilesLoadNothing) {
    std::int64_t t = 0;
    auto s = reload(t, 99);
    EXPECT_EQ(t, 99);
    EXPECT_EQ(s->dayTotal(17), 0u);
    EXPECT_FALSE(std::filesystem::exists(file("stat.dat")));
}

TEST_F(StatDatabaseTest, BackupIsReadWhenStatDatIsMissing) {
    writeBytes(file("stat.bak"), version2Image(3, 777));
    std::int64_t t = 0;
    auto s = reload(t);
    EXPECT_EQ(t, 777);
    expectPattern(*s, 3);
    ASSERT_EQ(s->initialise(-1), 1);
    s->save(); // the backup goes, and only once stat.dat is there
    EXPECT_TRUE(std::filesystem::exists(file("stat.dat")));
    EXPECT_FALSE(std::filesystem::exists(file("stat.bak")));
}

TEST_F(StatDatabaseTest, UnsupportedVersionIsLoggedAndNothingLoaded) {
    auto image = version2Image(3, 777);
    image[0] = 7;
    writeBytes(file("stat.dat"), image);
    writeBytes(file("stat.bak"), version2Image(4, 888));
    std::int64_t t = 0;
    auto s = reload(t, 99);
    EXPECT_EQ(t, 99);
    EXPECT_EQ(s->monthTotal(1), 0u);
    EXPECT_NE(log().find("Failed converting database from version: 7 to version: 2"),
              std::string::npos);
}

TEST_F(StatDatabaseTest, FilesOfTheWrongLengthAreRejectedForTheBackup) {
    struct Case {
        std::size_t keep;
        const char* line;
    };
    for (const Case& c :
         {Case{8000, "Rejected database file stat.dat: 8000 bytes do not fit version 2"},
          Case{8269, "Rejected database file stat.dat: 8269 bytes do not fit version 2"},
          Case{2, "Rejected database file stat.dat: 2 bytes hold no version"}}) {
        auto image = version2Image(3, 777);
        image.resize(c.keep, 0x5A);
        writeBytes(file("stat.dat"), image);
        writeBytes(file("stat.bak"), version2Image(4, 888));
        std::int64_t t = 0;
        auto s = reload(t);
        EXPECT_EQ(t, 888) << c.keep;
        expectPattern(*s, 4);
        EXPECT_NE(log().find(c.line), std::string::npos) << log();
    }
    auto v1 = version1Image(3, 777);
    v1.resize(11000);
    writeBytes(file("stat.dat"), v1);
    std::filesystem::remove(file("stat.bak"));
    std::int64_t t = 0;
    auto s = reload(t, 99);
    EXPECT_EQ(t, 99);
    EXPECT_EQ(s->monthTotal(1), 0u);
    EXPECT_NE(log().find("Rejected database file stat.dat: 11000 bytes do not fit version 1"),
              std::string::npos);
}

TEST_F(StatDatabaseTest, KilledInTheMiddleOfSavingTheNextStartFindsACompleteFile) {
    const std::vector<std::uint8_t> zeros = encodeStatFile(StatRecords{}, 1);
    writeBytes(file("stat.dat"), zeros);
    std::mt19937 rng(42);
    for (int round = 0; round < 25; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves without end, each time with every counter set to the save's number.
            CIPStat s(*global, clock);
            s.initialise(-1);
            for (std::uint64_t n = 1;; ++n) {
                StatRecords r;
                for (auto* a : {&r.daysReceived, &r.daysSent})
                    for (auto& rec : *a)
                        rec.fill(n);
                for (auto* a : {&r.monthsReceived, &r.monthsSent})
                    for (auto& rec : *a)
                        rec.fill(n);
                s.restore(r);
                s.save();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        std::int64_t t = 0;
        auto s = reload(t);
        const std::uint64_t n = s->dayRecord(Direction::Received, 1, 0);
        // Until a child has finished its first save the first file stands (a save syncs to
        // the disk, so a kill may well come before one is complete).
        ASSERT_EQ(t, n == 0 ? 1 : clock.nowValue) << round;
        for (int r = 0; r < 86; ++r) {
            for (int k = 0; k < 11; ++k) {
                ASSERT_EQ(held(*s, r, k), n) << "round " << round << " record " << r;
            }
        }
    }
}

} // namespace
} // namespace tn
