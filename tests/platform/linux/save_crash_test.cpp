// A child process saves stat.dat again and again and is killed with SIGKILL in the middle: after
// a random delay, after the write has put N bytes into the temporary file, or right after a
// write failed at one step of the save. After every kill the next load must find the history of
// the last save that finished or of the one under way, complete, and never older than before.
#include "capture/ip_stat.h"
#include "platform/linux/posix_file_store.h"
#include "support/ip_stat_fixture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace tn {
namespace {

// The fixture's clock stands on 17 March: these records survive the stale clearing of a load.
constexpr int kDay = 17;
constexpr int kMonth = 3;

// Generation g of the history, spread over four records so that a file mixing two saves shows.
void putGeneration(StatRecords& r, std::uint64_t g) {
    r.daysReceived[kDay - 1][0] = g;
    r.daysSent[kDay - 1][1] = g * 3;
    r.monthsReceived[kMonth - 1][5] = g * 5;
    r.monthsSent[kMonth - 1][10] = g * 7;
}

enum class Kill { AfterDelay, AfterBytes, AfterFailedWrite };

struct Round {
    Kill kill = Kill::AfterDelay;
    std::size_t bytes = 0;  // AfterBytes: the write kills the child once this many went out
    std::size_t failAt = 0; // AfterFailedWrite: the write call that fails, counted from 0
    int error = 0;          // and the error it reports
    unsigned delayUs = 0;   // AfterDelay: the parent kills after this long
};

// Writes at most 64 bytes per call, so one save of stat.dat takes 130 calls.
WriteCall writerFor(const Round& round) {
    auto written = std::make_shared<std::size_t>(0);
    auto calls = std::make_shared<std::size_t>(0);
    return [round, written, calls](int fd, const void* data, std::size_t size) -> ssize_t {
        std::size_t n = std::min<std::size_t>(size, 64);
        if (round.kill == Kill::AfterFailedWrite && (*calls)++ == round.failAt) {
            errno = round.error;
            return -1;
        }
        if (round.kill == Kill::AfterBytes) {
            n = std::min(n, round.bytes - *written);
            if (n == 0)
                ::raise(SIGKILL);
        }
        const ssize_t done = ::write(fd, data, n);
        if (done > 0)
            *written += static_cast<std::size_t>(done);
        return done;
    };
}

class SaveCrashTest : public test::IPStatFixture {
protected:
    // A kill loses what the process had not handed to the kernel, never what it had, so memory
    // backed files test the same thing as a disk: there, without the disk's sync delays, a
    // thousand kills take seconds.
    void SetUp() override {
        IPStatFixture::SetUp();
        std::string folder = "/dev/shm/tallynet-crash-XXXXXX";
        if (::mkdtemp(folder.data())) {
            m_shm = folder;
            m_paths = std::make_unique<test::TempPaths>(m_shm);
            os.paths = m_paths.get();
            stat.reset();
            global = std::make_unique<CGlobal>(os);
            stat = std::make_unique<CIPStat>(*global, clock);
        }
    }
    void TearDown() override {
        std::error_code ec;
        if (!m_shm.empty())
            std::filesystem::remove_all(m_shm, ec);
    }

    // The child: loads what is there, then saves generation after generation, telling the parent
    // through `report` which one it is about to save (+g) and which one is on disk (-g).
    [[noreturn]] void childSaves(const Round& round, int report) {
        PosixFileStore store(writerFor(round));
        PlatformServices s = os;
        s.files = &store;
        CGlobal g(s);
        CIPStat child(g, clock);
        if (child.initialise(-1) != 1)
            ::_exit(3);
        StatRecords r = child.snapshot();
        std::int64_t generation = static_cast<std::int64_t>(r.daysReceived[kDay - 1][0]);
        for (;;) {
            ++generation;
            putGeneration(r, static_cast<std::uint64_t>(generation));
            child.restore(r);
            if (::write(report, &generation, sizeof generation) != sizeof generation)
                ::_exit(4);
            child.save();
            if (round.kill != Kill::AfterDelay)
                ::raise(SIGKILL); // the save failed or the write killed us already
            const std::int64_t saved = -generation;
            if (::write(report, &saved, sizeof saved) != sizeof saved)
                ::_exit(4);
        }
    }

    // The generation that a fresh load finds; -1 when the four records disagree.
    std::int64_t loadGeneration() {
        CIPStat loader(*global, clock);
        if (loader.initialise(-1) != 1)
            return -1;
        const std::uint64_t g = loader.dayRecord(Direction::Received, kDay, 0);
        if (loader.dayRecord(Direction::Sent, kDay, 1) != g * 3 ||
            loader.monthRecord(Direction::Received, kMonth, 5) != g * 5 ||
            loader.monthRecord(Direction::Sent, kMonth, 10) != g * 7)
            return -1;
        return static_cast<std::int64_t>(g);
    }

private:
    std::filesystem::path m_shm;
    std::unique_ptr<test::TempPaths> m_paths;
};

TEST_F(SaveCrashTest, KillAtAThousandMomentsOfASave_NeverLosesOrRewindsTheHistory) {
    constexpr int kKills = 1000;
    constexpr std::uint32_t kSeed = 20261208;
    std::mt19937 random(kSeed);
    const int errors[] = {ENOSPC, EIO, EDQUOT, EROFS, EFBIG};
    // The delays span a few saves on this disk, so the kills fall into every step of one.
    const auto began = std::chrono::steady_clock::now();
    {
        PosixFileStore store;
        ASSERT_TRUE(
            store.replace(os.paths->dataDirectory() / "timing.dat", {}, encodeStatFile({}, 0)));
    }
    const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - began)
                            .count();
    const auto maxDelayUs = static_cast<unsigned>(std::min<long long>(4 * saveUs + 2000, 50000));

    std::int64_t last = 0; // what the previous load found
    int losses = 0;
    int newer = 0; // kills after which the save under way was already complete
    int killedBySignal = 0;
    for (int i = 0; i < kKills; ++i) {
        Round round;
        switch (i % 3) {
        case 0:
            round.kill = Kill::AfterBytes;
            round.bytes = static_cast<std::size_t>(i / 3) * kStatFileV2Size / (kKills / 3 + 1);
            break;
        case 1:
            round.kill = Kill::AfterFailedWrite;
            round.failAt = static_cast<std::size_t>(i / 3) % (kStatFileV2Size / 64 + 1);
            round.error = errors[static_cast<std::size_t>(i / 3) % std::size(errors)];
            break;
        default:
            round.kill = Kill::AfterDelay;
            round.delayUs = std::uniform_int_distribution<unsigned>(0, maxDelayUs)(random);
        }
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            childSaves(round, pipeFds[1]);
        }
        ::close(pipeFds[1]);
        if (round.kill == Kill::AfterDelay) {
            ::usleep(round.delayUs);
            ::kill(pid, SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            ++killedBySignal;
        else
            ADD_FAILURE() << "child " << i << " ended with status " << status;

        std::int64_t attempted = last;
        std::int64_t finished = last;
        std::int64_t message = 0;
        while (::read(pipeFds[0], &message, sizeof message) == sizeof message) {
            if (message > 0)
                attempted = message;
            else
                finished = -message;
        }
        ::close(pipeFds[0]);

        const std::int64_t found = loadGeneration();
        // A save that was killed or failed leaves the previous history; one killed after its
        // rename leaves the new one. Anything else lost data.
        const bool sound = round.kill == Kill::AfterDelay
                               ? found >= finished && found <= attempted && found >= last
                               : found == last;
        if (!sound) {
            ++losses;
            ADD_FAILURE() << "kill " << i << ": loaded generation " << found << ", previous "
                          << last << ", finished " << finished << ", attempted " << attempted;
        }
        if (found > finished)
            ++newer;
        if (found >= 0)
            last = found;
    }
    std::printf("kills: %d (seed %u, delays up to %u us), killed by SIGKILL: %d, losses: %d,"
                " generations saved: %lld, kills that found the save under way complete: %d\n",
                kKills, kSeed, maxDelayUs, killedBySignal, losses, static_cast<long long>(last),
                newer);
    EXPECT_EQ(losses, 0);
    EXPECT_EQ(killedBySignal, kKills);
}

} // namespace
} // namespace tn
