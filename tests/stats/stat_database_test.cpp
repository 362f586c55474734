#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"
#include "support/scripted_file_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Every file set aside from `name`, oldest first.
std::vector<std::filesystem::path> setAside(const std::filesystem::path& dir, const char* name) {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (isSetAsideName(e.path().filename().string(), name))
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(StatDatabaseTest, UndecodableStatDat_IsKeptAside_TheBackupLoaded_NeverRotatedOverIt) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* why;
    };
    auto unknown = version2Image(3, 777);
    unknown[0] = 7;
    std::vector<std::uint8_t> random(kStatFileV2Size);
    std::mt19937 rng(18);
    for (auto& b : random)
        b = static_cast<std::uint8_t>(rng());
    random[0] = 0x33;
    auto cut = version2Image(3, 777);
    cut.resize(8000);
    auto v1cut = version1Image(3, 777);
    v1cut.resize(11000);
    for (const Case& c :
         {Case{"unknown version", unknown, "(unknown version 7)"},
          Case{"all zero", std::vector<std::uint8_t>(kStatFileV2Size), "(unknown version 0)"},
          Case{"random", random, "(unknown version"},
          Case{"cut", cut, "(8000 bytes do not fit version 2)"},
          Case{"version 1 overlong", v1cut, "(11000 bytes do not fit version 1)"},
          Case{"empty", {}, "(0 bytes hold no version)"}}) {
        SCOPED_TRACE(c.what);
        for (const auto& f : setAside(dir.path() / "data", "stat.dat"))
            std::filesystem::remove(f);
        writeBytes(file("stat.dat"), c.bytes);
        writeBytes(file("stat.bak"), version2Image(4, 888));
        std::vector<std::string> shown;
        global->fileFailures().setShow([&](const std::string& t) { shown.push_back(t); });
        std::int64_t t = 0;
        auto s = reload(t);
        EXPECT_EQ(t, 888);
        expectPattern(*s, 4);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_NE(shown[0].find(file("stat.dat").string()), std::string::npos) << shown[0];
        EXPECT_NE(shown[0].find(c.why), std::string::npos) << shown[0];
        EXPECT_NE(log().find(shown[0]), std::string::npos);
        const auto aside = setAside(dir.path() / "data", "stat.dat");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(test::readBytes(aside[0]), c.bytes); // kept byte for byte
        EXPECT_NE(shown[0].find(aside[0].filename().string()), std::string::npos) << shown[0];
        // The next save writes the backup's history with what came since; the bad bytes go
        // nowhere near stat.bak.
        ASSERT_EQ(s->initialise(-1), 1);
        s->save();
        s->save();
        EXPECT_NE(test::readBytes(file("stat.bak")), c.bytes);
        EXPECT_EQ(reload(t)->snapshot(), s->snapshot());
        global->fileFailures().setShow({});
    }
    EXPECT_NE(log().find("Failed converting database from version: 7 to version: 2"),
              std::string::npos);
}

TEST_F(StatDatabaseTest, BothCopiesBad_BothKeptAside_OneMessage_StartsFromZero) {
    writeBytes(file("stat.dat"), std::vector<std::uint8_t>(kStatFileV2Size, 0xFF));
    writeBytes(file("stat.bak"), std::vector<std::uint8_t>(10, 0x01));
    std::vector<std::string> shown;
    global->fileFailures().setShow([&](const std::string& t) { shown.push_back(t); });
    std::int64_t t = 0;
    auto s = reload(t, 99);
    EXPECT_EQ(t, 99);
    EXPECT_EQ(s->monthTotal(1), 0u);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("stat.bak"), std::string::npos) << shown[0];
    EXPECT_EQ(setAside(dir.path() / "data", "stat.dat").size(), 1u);
    EXPECT_EQ(setAside(dir.path() / "data", "stat.bak").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(file("stat.dat")));
    EXPECT_FALSE(std::filesystem::exists(file("stat.bak")));
}

TEST_F(StatDatabaseTest, OnlyTheNewestThreeBadFilesAreKept) {
    for (int round = 0; round < 5; ++round) {
        writeBytes(file("stat.dat"), std::vector<std::uint8_t>(100, std::uint8_t(round)));
        std::int64_t t = 0;
        reload(t);
        clock.advance(1);
    }
    const auto aside = setAside(dir.path() / "data", "stat.dat");
    ASSERT_EQ(aside.size(), 3u);
    EXPECT_EQ(test::readBytes(aside[0]), std::vector<std::uint8_t>(100, 2));
    EXPECT_EQ(test::readBytes(aside[2]), std::vector<std::uint8_t>(100, 4));
}

TEST_F(StatDatabaseTest, StatDatGoneBadSinceTheLoad_IsKeptAsideBeforeTheSave) {
    writeBytes(file("stat.dat"), version2Image(3, 777));
    writeBytes(file("stat.bak"), version2Image(4, 888));
    ASSERT_EQ(stat->initialise(-1), 1);
    const std::vector<std::uint8_t> bad(kStatFileV2Size, 0xEE);
    writeBytes(file("stat.dat"), bad);
    stat->save();
    const auto aside = setAside(dir.path() / "data", "stat.dat");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(test::readBytes(aside[0]), bad);
    EXPECT_NE(test::readBytes(file("stat.bak")), bad);
    std::int64_t t = 0;
    auto s = reload(t);
    EXPECT_EQ(s->monthTotal(3), stat->monthTotal(3));

    // Should the bad file not move aside, it is overwritten and the backup stays as it was.
    test::ScriptedFileStore files(*fake.services().files);
    files.setAsideError = EACCES;
    PlatformServices scripted = os;
    scripted.files = &files;
    CGlobal g(scripted);
    CIPStat owner(g, clock);
    ASSERT_EQ(owner.initialise(-1), 1);
    const auto backup = test::readBytes(file("stat.bak"));
    writeBytes(file("stat.dat"), bad);
    owner.save();
    EXPECT_EQ(test::readBytes(file("stat.bak")), backup);
    EXPECT_EQ(statFileProblem(test::readBytes(file("stat.dat"))), "");
}

TEST_F(StatDatabaseTest, FailedSaves_AreToldOncePerCause_CountingGoesOn) {
    test::ScriptedFileStore files(*fake.services().files);
    PlatformServices scripted = os;
    scripted.files = &files;
    CGlobal g(scripted);
    std::vector<std::string> shown;
    g.fileFailures().setShow([&](const std::string& t) { shown.push_back(t); });
    CIPStat owner(g, clock);
    ASSERT_EQ(owner.initialise(-1), 1);
    StatRecords r;
    r.monthsSent[2][0] = 5;
    owner.restore(r);
    files.replaceError = ENOSPC;
    for (int minute = 0; minute < 10; ++minute)
        owner.save();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find(file("stat.dat").string()), std::string::npos) << shown[0];
    EXPECT_NE(shown[0].find(std::strerror(ENOSPC)), std::string::npos) << shown[0];
    EXPECT_EQ(owner.monthRecord(Direction::Sent, 3, 0), 5u); // still in memory
    files.replaceError = EROFS;
    owner.save();
    owner.save();
    EXPECT_EQ(shown.size(), 2u);
    files.replaceError = 0;
    owner.save(); // the next save that can write, writes
    std::int64_t t = 0;
    EXPECT_EQ(reload(t)->monthRecord(Direction::Sent, 3, 0), 5u);
    files.replaceError = ENOSPC;
    owner.save();
    EXPECT_EQ(shown.size(), 3u); // told again after the success
    EXPECT_NE(log().find(shown[0]), std::string::npos);
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
