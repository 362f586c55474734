// Every file of the program with something hostile in its place: a link to another file, a
// FIFO, a device, a folder, a huge file and corrupt bytes. For each, the program does what it
// does with that file (load and save the history, record an outage and list them, log, read
// and write the settings, take the instance lock) and must: return (nothing blocks), never
// write through a link, keep the good copy of the history, leave what is not a regular file in
// place and tell the user at most once per operation. The table of what happened is printed,
// and written to $TALLYNET_HOSTILE_TABLE when set.
#include "app/global.h"
#include "capture/ip_stat.h"
#include "platform/linux/flock_instance_lock.h"
#include "platform/linux/ini_settings_store.h"
#include "stats/outage_detector.h"
#include "stats/outage_list.h"
#include "stats/stat_file.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tn {
namespace {

enum class Plant { Link, Fifo, Device, Folder, Huge, Corrupt };
constexpr Plant kPlants[] = {Plant::Link,   Plant::Fifo, Plant::Device,
                             Plant::Folder, Plant::Huge, Plant::Corrupt};
const char* plantName(Plant p) {
    switch (p) {
    case Plant::Link:
        return "link to another file";
    case Plant::Fifo:
        return "FIFO";
    case Plant::Device:
        return "device (/dev/zero's node)";
    case Plant::Folder:
        return "folder";
    case Plant::Huge:
        return "huge file (4 GiB, sparse)";
    case Plant::Corrupt:
        return "corrupt (8268 random bytes)";
    }
    return "";
}

struct NullStatus : IOutageStatus {
    void setStatusPicture(int) override {}
    void setStatusText(const std::string&) override {}
    void showFileError(const std::string&) override {}
};

std::vector<std::uint8_t> history(std::uint64_t value, std::int64_t saveTime) {
    StatRecords r;
    r.monthsReceived[2][0] = value; // March, the fake clock's month
    return encodeStatFile(r, saveTime);
}

class HostileFileTable : public ::testing::Test {
protected:
    struct Rig {
        test::FakePlatform fake;
        PlatformServices os;
        std::unique_ptr<CGlobal> global;
        std::vector<std::string> shown;
        std::filesystem::path data() const { return fake.paths.dataDirectory(); }
        std::filesystem::path victim() const { return fake.dir.path() / "victim"; }
        Rig() {
            fake.clock.setLocal(2026, 3, 17, 10, 0, 0);
            os = fake.services();
            os.settings = nullptr;
            global = std::make_unique<CGlobal>(os);
            global->fileFailures().setShow([this](const std::string& t) { shown.push_back(t); });
            std::filesystem::create_directories(data());
            test::writeText(victim(), "precious");
        }
    };

    // Puts `plant` at `file`; false when this system does not allow it (no device nodes).
    static bool plantAt(Rig& rig, Plant plant, const std::filesystem::path& file) {
        std::filesystem::remove(file);
        switch (plant) {
        case Plant::Link:
            std::filesystem::create_symlink(rig.victim(), file);
            return true;
        case Plant::Fifo:
            return ::mkfifo(file.c_str(), 0600) == 0;
        case Plant::Device:
            return ::mknod(file.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
        case Plant::Folder:
            std::filesystem::create_directories(file / "inside");
            return true;
        case Plant::Huge: {
            std::ofstream(file).close();
            std::filesystem::resize_file(file, 4ull << 30);
            return true;
        }
        case Plant::Corrupt: {
            std::vector<std::uint8_t> bytes(kStatFileV2Size);
            std::mt19937 rng(18);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(rng());
            bytes[0] = 0x77;
            test::writeText(file, std::string(bytes.begin(), bytes.end()));
            return true;
        }
        }
        return false;
    }

    // What stands at `file` now, in a few words.
    static std::string standing(const std::filesystem::path& file) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0)
            return "gone";
        if (S_ISLNK(st.st_mode))
            return "link";
        if (S_ISFIFO(st.st_mode))
            return "FIFO";
        if (S_ISCHR(st.st_mode))
            return "device";
        if (S_ISDIR(st.st_mode))
            return "folder";
        return "regular " + std::to_string(st.st_size) + " B";
    }

    static std::size_t keptAside(const Rig& rig, const std::string& name) {
        std::size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(rig.data()))
            n += isSetAsideName(e.path().filename().string(), name) ? 1 : 0;
        return n;
    }

    std::vector<std::string> m_rows;

    void row(const std::string& file, Plant plant, const std::string& did) {
        m_rows.push_back("| " + file + " | " + plantName(plant) + " | " + did + " |");
    }

    void TearDown() override {
        std::string table = "| file | in its place | what the program did |\n|---|---|---|\n";
        for (const std::string& r : m_rows)
            table += r + "\n";
        std::fputs(table.c_str(), stdout);
        if (const char* out = std::getenv("TALLYNET_HOSTILE_TABLE"))
            test::writeText(out, table);
    }
};

TEST_F(HostileFileTable, EveryFileEveryPlant_NothingBlocks_NothingWrittenThrough_HistoryKept) {
    // A FIFO or a device that blocked would hang here; the alarm turns that into a failure.
    ::alarm(300);
    for (const char* name : {"stat.dat", "stat.bak", "stat.dat.new"}) {
        for (Plant plant : kPlants) {
            SCOPED_TRACE(std::string(name) + " / " + plantName(plant));
            Rig rig;
            // The good copies: stat.dat 5, stat.bak 4, except where the plant stands.
            auto put = [&](const char* n, std::uint64_t v) {
                const auto b = history(v, rig.fake.clock.now());
                test::writeText(rig.data() / n, std::string(b.begin(), b.end()));
            };
            put("stat.dat", 5);
            put("stat.bak", 4);
            const std::filesystem::path at = rig.data() / name;
            if (!plantAt(rig, plant, at))
                continue;
            const std::string kind = standing(at);
            const bool foreign = kind.rfind("regular", 0) != 0;
            CIPStat stat(*rig.global, rig.fake.clock);
            ASSERT_EQ(stat.initialise(-1), 1);
            const std::uint64_t loaded = stat.monthTotal(3);
            if (foreign) {
                EXPECT_EQ(standing(at), kind); // the load leaves what is not ours in place
            }
            const std::size_t afterLoad = rig.shown.size();
            stat.save();
            stat.save();
            std::string did = "loaded " + std::string(loaded == 5   ? "stat.dat"
                                                      : loaded == 4 ? "stat.bak"
                                                                    : "nothing");
            if (const std::size_t n = keptAside(rig, name))
                did += "; kept aside as " + std::string(name) + ".bad-<time> (" +
                       std::to_string(n) + ")";
            did += "; " + std::string(name) + " now: " + standing(at);
            did += "; messages at load " + std::to_string(afterLoad) + ", at two saves " +
                   std::to_string(rig.shown.size() - afterLoad);
            row(name, plant, did);

            EXPECT_EQ(test::readText(rig.victim()), "precious");
            EXPECT_NE(loaded, 0u) << "a good copy was there";
            EXPECT_LE(afterLoad, 1u);
            EXPECT_LE(rig.shown.size() - afterLoad, 1u);
            if (foreign && std::string(name) == "stat.dat") {
                EXPECT_EQ(standing(at), kind); // never saved through nor replaced
            }
            // What the next start reads is never less than what this one loaded.
            CIPStat next(*rig.global, rig.fake.clock);
            std::int64_t t = 0;
            next.load(t);
            EXPECT_GE(next.monthTotal(3), loaded);
        }
    }

    for (Plant plant : kPlants) {
        SCOPED_TRACE(std::string("NetFalls.dat / ") + plantName(plant));
        Rig rig;
        const std::filesystem::path at = rig.data() / kOutageFileName;
        if (!plantAt(rig, plant, at))
            continue;
        const std::string kind = standing(at);
        rig.global->LogFalls = 1;
        rig.global->FallSecs = 2;
        NullStatus status;
        COutageDetector detector(*rig.global, rig.fake.clock, status);
        for (int outage = 0; outage < 2; ++outage) {
            for (std::uint64_t in : {10, 0, 0, 0, 0, 10}) {
                rig.fake.clock.advance(1);
                detector.step(in, 1);
            }
        }
        const std::size_t appendMessages = rig.shown.size();
        const OutageListLoad list =
            loadOutageList(*rig.os.files, at, OutageQuery{}, rig.fake.clock);
        row(kOutageFileName, plant,
            "two outages: " + std::to_string(appendMessages) + " message(s); list: " +
                (list.notRegular ? "not regular, named, left alone"
                 : list.invalid  ? "invalid, the user is asked to set it aside"
                                 : std::to_string(list.rows.size()) + " row(s)") +
                "; now: " + standing(at));
        EXPECT_EQ(test::readText(rig.victim()), "precious");
        EXPECT_LE(appendMessages, 1u);
        if (kind.rfind("regular", 0) != 0) {
            EXPECT_EQ(standing(at), kind);
        }
    }

    for (Plant plant : kPlants) {
        SCOPED_TRACE(std::string("TN.log / ") + plantName(plant));
        Rig rig;
        const std::filesystem::path at = rig.data() / "TN.log";
        if (!plantAt(rig, plant, at))
            continue;
        const std::string kind = standing(at);
        for (int i = 0; i < 5; ++i)
            rig.global->writeLog("line " + std::to_string(i));
        row("TN.log", plant,
            "five lines: " + std::to_string(rig.shown.size()) +
                " message(s); now: " + standing(at));
        EXPECT_EQ(test::readText(rig.victim()), "precious");
        EXPECT_LE(rig.shown.size(), 1u);
        if (kind.rfind("regular", 0) != 0) {
            EXPECT_EQ(standing(at), kind);
        }
    }

    for (Plant plant : kPlants) {
        SCOPED_TRACE(std::string("Tallynet.conf / ") + plantName(plant));
        Rig rig;
        const std::filesystem::path at = rig.fake.dir.path() / "config/Tallynet.conf";
        std::filesystem::create_directories(at.parent_path());
        if (!plantAt(rig, plant, at))
            continue;
        const std::string kind = standing(at);
        IniSettingsStore store(at, "SetariGenerale");
        PlatformServices os = rig.os;
        os.settings = &store;
        CGlobal g(os);
        std::vector<std::string> shown;
        g.fileFailures().setShow([&](const std::string& t) { shown.push_back(t); });
        g.loadSettings();
        const bool first = g.writeInt("FallSecs", 7);
        g.writeInt("FallSecs", 8);
        row("Tallynet.conf", plant,
            "settings read with defaults; two writes: " +
                std::string(first ? "stored" : "refused") + ", " + std::to_string(shown.size()) +
                " message(s); now: " + standing(at) +
                (std::filesystem::exists(at.string() + ".unreadable") ? "; old one kept as "
                                                                        "Tallynet.conf.unreadable"
                                                                      : ""));
        EXPECT_EQ(test::readText(rig.victim()), "precious");
        EXPECT_LE(shown.size(), 1u);
        if (kind.rfind("regular", 0) != 0) {
            EXPECT_EQ(standing(at), kind);
        }
    }

    for (Plant plant : kPlants) {
        if (plant == Plant::Huge || plant == Plant::Corrupt)
            continue; // the lock's content is never read
        SCOPED_TRACE(std::string("lock / ") + plantName(plant));
        Rig rig;
        const std::filesystem::path at = rig.fake.dir.path() / "Tallynet_Instance_Checker.lock";
        if (!plantAt(rig, plant, at))
            continue;
        const std::string kind = standing(at);
        FlockInstanceLock lock(at);
        const bool held = lock.tryAcquire();
        row("Tallynet_Instance_Checker.lock", plant,
            std::string(held ? "lock taken" : "lock refused: the copy ends quietly") +
                "; now: " + standing(at) + (lock.path() != at ? ", lock inside it" : ""));
        EXPECT_EQ(test::readText(rig.victim()), "precious");
        // Whatever was planted does not pass for another copy: a lock file of ours replaces it.
        (void)kind;
        EXPECT_TRUE(held);
        EXPECT_EQ(standing(lock.path()).rfind("regular", 0), 0u) << standing(lock.path());
    }
    ::alarm(0);
}

} // namespace
} // namespace tn
