// The durable replace and the record append on a real file system, with writes that fail at
// every byte.
#include "capture/ip_stat.h"
#include "platform/linux/posix_file_store.h"
#include "stats/stat_file.h"
#include "support/file_bytes.h"
#include "support/ip_stat_fixture.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tn {
namespace {

// A write system call that lets `limit` bytes through in all and then fails with ENOSPC.
WriteCall failingAfter(std::size_t limit) {
    auto written = std::make_shared<std::size_t>(0);
    return [limit, written](int fd, const void* data, std::size_t size) -> ssize_t {
        const std::size_t room = limit > *written ? limit - *written : 0;
        const std::size_t n = std::min(room, size);
        if (n == 0) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t done = ::write(fd, data, n);
        if (done > 0)
            *written += static_cast<std::size_t>(done);
        return done;
    };
}

std::vector<std::uint8_t> image(std::uint64_t value, std::int64_t saveTime) {
    StatRecords r;
    r.daysSent[3][0] = value;
    r.monthsReceived[5][10] = value * 3;
    return encodeStatFile(r, saveTime);
}

class PosixFileStoreTest : public test::IPStatFixture {
protected:
    std::filesystem::path file(const char* name) { return fake.dataFile(name); }
    void put(const char* name, const std::vector<std::uint8_t>& bytes) {
        test::writeText(file(name), std::string(bytes.begin(), bytes.end()));
    }
    std::size_t filesInDataFolder() {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir.path() / "data"),
                          std::filesystem::directory_iterator{}));
    }
};

TEST_F(PosixFileStoreTest, SaveFailingAtAnyByte_KeepsThePreviousFiles) {
    const auto previous = image(6, 1000);
    const auto older = image(7, 900);
    put("stat.dat", previous);
    put("stat.bak", older);
    ASSERT_EQ(stat->initialise(-1), 1);
    for (std::size_t limit = 0; limit < kStatFileV2Size; ++limit) {
        PosixFileStore failing(failingAfter(limit));
        os.files = &failing;
        CGlobal g(os);
        CIPStat s(g, clock);
        ASSERT_EQ(s.initialise(-1), 1);
        s.save();
        ASSERT_EQ(test::readBytes(file("stat.dat")), previous) << limit;
        ASSERT_EQ(test::readBytes(file("stat.bak")), older) << limit;
    }
    // No temporary left behind (TN.log is the third file: the failing writer left it empty).
    EXPECT_FALSE(std::filesystem::exists(file("stat.dat.new")));
    EXPECT_EQ(filesInDataFolder(), 3u);
    stat->save();
    EXPECT_EQ(test::readBytes(file("stat.bak")), previous);
    EXPECT_EQ(std::filesystem::status(file("stat.dat")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(PosixFileStoreTest, FirstSaveWithOnlyABackup_KeepsTheBackupUntilTheNewFileHasTheName) {
    const auto older = image(7, 900);
    put("stat.bak", older);
    PosixFileStore failing(failingAfter(100));
    const std::vector<std::uint8_t> bytes = image(1, 2);
    EXPECT_FALSE(failing.replace(file("stat.dat"), file("stat.bak"), bytes));
    EXPECT_EQ(test::readBytes(file("stat.bak")), older);
    EXPECT_FALSE(std::filesystem::exists(file("stat.dat")));
    PosixFileStore store;
    EXPECT_TRUE(store.replace(file("stat.dat"), file("stat.bak"), bytes));
    EXPECT_EQ(test::readBytes(file("stat.dat")), bytes);
    EXPECT_FALSE(std::filesystem::exists(file("stat.bak")));
}

TEST_F(PosixFileStoreTest, AppendFailingHalfWay_IsCutBack_AndSaysWhy) {
    const std::vector<std::uint8_t> first(16, 0x11);
    PosixFileStore store;
    ASSERT_EQ(store.append(file("NetFalls.dat"), first).status, AppendStatus::Written);
    PosixFileStore failing(failingAfter(8));
    const AppendResult r =
        failing.append(file("NetFalls.dat"), std::vector<std::uint8_t>(16, 0x22));
    EXPECT_EQ(r.status, AppendStatus::WriteFailed);
    EXPECT_EQ(r.error, ENOSPC);
    EXPECT_EQ(test::readBytes(file("NetFalls.dat")), first);
}

TEST_F(PosixFileStoreTest, BoundedRead_ReportsALargerFileWithoutReadingIt) {
    put("big", std::vector<std::uint8_t>(5000, 1));
    PosixFileStore store;
    std::vector<std::uint8_t> out;
    EXPECT_EQ(store.read(file("big"), 4999, out), ReadStatus::TooLarge);
    EXPECT_EQ(store.read(file("big"), 5000, out), ReadStatus::Ok);
    EXPECT_EQ(out.size(), 5000u);
    EXPECT_EQ(store.read(file("none"), 10, out), ReadStatus::Missing);
}

// Files planted by someone else: a link is never written through, a FIFO never waited on, and
// whatever stands in place of a file is left as it is.
class HostileFileTest : public PosixFileStoreTest {
protected:
    PosixFileStore store;
    std::filesystem::path victim() { return dir.path() / "victim"; }
    void SetUp() override {
        PosixFileStoreTest::SetUp();
        test::writeText(victim(), "precious");
    }
    void fifo(const char* name) { ASSERT_EQ(::mkfifo(file(name).c_str(), 0600), 0); }
};

TEST_F(HostileFileTest, LinkAtTheTemporaryName_IsRemovedNotWrittenThrough) {
    std::filesystem::create_symlink(victim(), file("stat.dat.new"));
    ASSERT_EQ(stat->initialise(-1), 1);
    stat->save();
    EXPECT_EQ(test::readText(victim()), "precious");
    EXPECT_EQ(std::filesystem::file_size(file("stat.dat")), kStatFileV2Size);
    EXPECT_FALSE(std::filesystem::is_symlink(file("stat.dat")));
}

TEST_F(HostileFileTest, LinkOrFifoInPlaceOfAFile_IsLeftAloneAtOnce) {
    std::filesystem::create_symlink(victim(), file("stat.dat"));
    fifo("NetFalls.dat");
    fifo("TN.log");
    std::vector<std::uint8_t> out;
    EXPECT_EQ(store.read(file("stat.dat"), 100, out), ReadStatus::NotRegular);
    EXPECT_EQ(store.read(file("NetFalls.dat"), 100, out), ReadStatus::NotRegular);
    EXPECT_EQ(store.replace(file("stat.dat"), file("stat.bak"), image(1, 1)).status,
              ReplaceStatus::NotRegular);
    EXPECT_EQ(store.append(file("NetFalls.dat"), image(1, 1)).status, AppendStatus::NotRegular);
    global->writeLog("into a FIFO"); // returns at once instead of waiting for a reader
    EXPECT_TRUE(std::filesystem::is_symlink(file("stat.dat")));
    EXPECT_TRUE(std::filesystem::is_fifo(file("NetFalls.dat")));
    EXPECT_EQ(test::readText(victim()), "precious");
    EXPECT_FALSE(store.size(file("stat.dat")).has_value());
}

TEST_F(HostileFileTest, LinkToADevice_IsNotReadWithoutLimit) {
    std::filesystem::create_symlink("/dev/zero", file("settings"));
    std::vector<std::uint8_t> out;
    EXPECT_EQ(store.read(file("settings"), 1024 * 1024, out), ReadStatus::NotRegular);
    EXPECT_TRUE(out.empty());
}

TEST_F(HostileFileTest, NewFilesArePrivate_AndAnOldReadableLogBecomesPrivate) {
    test::writeText(file("TN.log"), "old\r\n");
    std::filesystem::permissions(file("TN.log"), std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    global->writeLog("line");
    const auto mode = [&](const char* name) {
        return std::filesystem::status(file(name)).permissions() & std::filesystem::perms::all;
    };
    const auto privateMode =
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    EXPECT_EQ(mode("TN.log"), privateMode);
    ASSERT_EQ(store.append(file("NetFalls.dat"), image(1, 1)).status, AppendStatus::Written);
    EXPECT_EQ(mode("NetFalls.dat"), privateMode);
}

} // namespace
} // namespace tn

namespace tn {
namespace {

// A data folder that is a link (perhaps into another user's world-writable folder) is not
// written through, nor read from: every operation on its files fails with ENOTDIR, and a real
// folder in its place works again.
TEST(GuardedFolder, ALinkedDataFolderIsNeitherWrittenNorRead_ARealOneIs) {
    test::TempDir root;
    const auto elsewhere = root / "elsewhere";
    const auto data = root / "Tallynet";
    std::filesystem::create_directories(elsewhere);
    test::writeText(elsewhere / "stat.dat", "planted");
    ASSERT_EQ(::symlink(elsewhere.c_str(), data.c_str()), 0);
    PosixFileStore store;
    store.guardFolder(data);
    const std::vector<std::uint8_t> bytes = {1, 2, 3};
    std::vector<std::uint8_t> out;
    EXPECT_EQ(store.replace(data / "stat.dat", data / "stat.bak", bytes).error, ENOTDIR);
    EXPECT_EQ(store.append(data / "NetFalls.dat", bytes).error, ENOTDIR);
    EXPECT_EQ(store.read(data / "stat.dat", 100, out), ReadStatus::Failed);
    EXPECT_EQ(store.setAside(data / "stat.dat", "20261209-000000", 3).status,
              SetAsideStatus::Failed);
    EXPECT_FALSE(store.size(data / "stat.dat"));
    EXPECT_EQ(test::readText(elsewhere / "stat.dat"), "planted");
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "NetFalls.dat"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "stat.bak"));
    // Files elsewhere (an export the user chose) are not the guard's business.
    EXPECT_TRUE(store.replace(elsewhere / "export.txt", {}, bytes));

    ASSERT_EQ(::unlink(data.c_str()), 0);
    ASSERT_EQ(::mkdir(data.c_str(), 0700), 0);
    EXPECT_TRUE(store.replace(data / "stat.dat", data / "stat.bak", bytes));
    EXPECT_EQ(store.read(data / "stat.dat", 100, out), ReadStatus::Ok);
    EXPECT_EQ(out, bytes);
}

} // namespace
} // namespace tn
