#include "platform/linux/socket_activation.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace tn {
namespace {

// Counts show requests as they arrive on the listener's thread.
struct Shows {
    std::mutex mutex;
    std::condition_variable arrived;
    int count = 0;
    std::function<void()> callback() {
        return [this] {
            std::lock_guard lock(mutex);
            ++count;
            arrived.notify_all();
        };
    }
    // The wait is only a guard against a request that never comes, not a measurement.
    bool waitFor(int n) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(20), [&] { return count >= n; });
    }
};

TEST(SocketActivation, SecondStartReachesTheRunningCopy_AsOftenAsItAsks) {
    test::TempDir dir;
    const auto file = dir / "Tallynet_Instance_Checker.sock";
    SocketActivation second(file);
    EXPECT_FALSE(second.requestShow()); // nobody listens yet
    Shows shows;
    SocketActivation first(file);
    ASSERT_TRUE(first.listen(shows.callback()));
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << "others may not reach it";
    EXPECT_TRUE(second.requestShow());
    EXPECT_TRUE(second.requestShow());
    EXPECT_TRUE(shows.waitFor(2));
    first.stop();
    EXPECT_FALSE(second.requestShow());
    EXPECT_NE(::lstat(file.c_str(), &st), 0) << "the socket goes with the copy";
}

// What a copy that crashed, or someone else, leaves at the name.
TEST(SocketActivation, LeftoversAtTheName_aDeadSocketIsReplaced_anythingElseIsLeftAlone) {
    test::TempDir dir;
    const auto file = dir / "Tallynet_Instance_Checker.sock";
    {
        // A socket bound and never cleaned up: connecting to it is refused.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, file.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(fd);
    }
    SocketActivation second(file);
    EXPECT_FALSE(second.requestShow());
    Shows shows;
    SocketActivation first(file);
    ASSERT_TRUE(first.listen(shows.callback()));
    EXPECT_TRUE(second.requestShow());
    EXPECT_TRUE(shows.waitFor(1));
    first.stop();

    for (const char* kind : {"file", "link"}) {
        const auto other = dir / (std::string(kind) + ".sock");
        if (std::string(kind) == "file")
            std::ofstream(other) << "keep me";
        else
            std::filesystem::create_symlink(dir / "elsewhere", other);
        SocketActivation planted(other);
        EXPECT_FALSE(planted.listen([] {})) << kind;
        EXPECT_TRUE(std::filesystem::is_symlink(other) || std::filesystem::file_size(other) == 7u)
            << kind << " was touched";
    }
    // A name too long for a socket address does without.
    SocketActivation tooLong(dir / std::string(120, 'x'));
    EXPECT_FALSE(tooLong.listen([] {}));
    EXPECT_FALSE(tooLong.requestShow());
}

} // namespace
} // namespace tn
