#include "platform/linux/flock_instance_lock.h"

#include "support/file_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace tn {
namespace {

TEST(FlockInstanceLock, SecondHolderIsRefused_UntilTheFirstIsGone) {
    test::TempDir dir;
    const auto file = dir / "run/Tallynet_Instance_Checker.lock"; // folder created on demand
    auto first = std::make_unique<FlockInstanceLock>(file);
    FlockInstanceLock second(file);
    EXPECT_TRUE(first->tryAcquire());
    EXPECT_TRUE(first->tryAcquire()); // asking again keeps it
    EXPECT_FALSE(second.tryAcquire());
    first.reset();
    EXPECT_TRUE(second.tryAcquire());
}

TEST(FlockInstanceLock, AnotherProcessIsRefused_AndTheLockDiesWithItsProcess) {
    test::TempDir dir;
    const auto file = dir / "Tallynet_Instance_Checker.lock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FlockInstanceLock held(file);
        const char ok = held.tryAcquire() ? '1' : '0';
        [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
        ::pause(); // holds the lock until killed
        ::_exit(0);
    }
    // The child never outlives the test, even when an assertion ends it early.
    struct Reaper {
        pid_t pid;
        bool done = false;
        void reap() {
            if (!done) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                done = true;
            }
        }
        ~Reaper() { reap(); }
    } reaper{child};
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    FlockInstanceLock mine(file);
    EXPECT_FALSE(mine.tryAcquire());
    reaper.reap(); // killed: no clean-up code runs in the child
    EXPECT_TRUE(mine.tryAcquire());
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(FlockInstanceLock, LockThatCannotBeCreated_CountsAsAnotherCopy) {
    test::TempDir dir;
    test::writeText(dir / "file", "not a folder");
    FlockInstanceLock lock(dir / "file/Tallynet_Instance_Checker.lock");
    EXPECT_FALSE(lock.tryAcquire());
}

// What someone may have planted at the lock's name: it neither passes for another copy nor is
// opened (a device), and one real lock file takes its place.
TEST(FlockInstanceLock, WhateverStandsAtItsName_IsReplacedByARegularLockFile) {
    struct Case {
        const char* what;
        std::function<int(const std::filesystem::path&)> plant;
    };
    const std::vector<Case> cases = {
        {"a link to a file elsewhere",
         [](const std::filesystem::path& p) {
             test::writeText(p.parent_path() / "elsewhere", "keep me");
             return ::symlink((p.parent_path() / "elsewhere").c_str(), p.c_str());
         }},
        {"a dangling link",
         [](const std::filesystem::path& p) { return ::symlink("/nonexistent/tn", p.c_str()); }},
        {"a folder", [](const std::filesystem::path& p) { return ::mkdir(p.c_str(), 0700); }},
        {"a FIFO", [](const std::filesystem::path& p) { return ::mkfifo(p.c_str(), 0600); }},
        {"a device node",
         [](const std::filesystem::path& p) {
             return ::geteuid() == 0 ? ::mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3))
                                     : ::mkfifo(p.c_str(), 0600);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const auto path = dir / "Tallynet_Instance_Checker.lock";
        ASSERT_EQ(c.plant(path), 0);
        FlockInstanceLock lock(path);
        EXPECT_TRUE(lock.tryAcquire());
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        if (std::filesystem::exists(dir / "elsewhere")) {
            EXPECT_EQ(test::readText(dir / "elsewhere"), "keep me");
        }
    }
}

} // namespace
} // namespace tn
