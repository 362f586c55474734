// Termination requests from signals and the desktop's network settings.
#include "platform/linux/desktop_network_settings.h"
#include "platform/linux/signal_termination.h"
#include "support/file_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

namespace tn {
namespace {

TEST(SignalTerminationTest, EachSignalBecomesOneRequest_AndStopRestoresTheDefault) {
    SignalTermination source;
    std::promise<int> first;
    std::atomic<int> count{0};
    ASSERT_TRUE(source.start([&](int code) {
        if (count++ == 0)
            first.set_value(code);
    }));
    EXPECT_FALSE(SignalTermination().start([](int) {})); // signal handlers are process-wide
    ::raise(SIGTERM);
    auto future = first.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), SIGTERM);
    source.stop();
    struct sigaction current {};
    ::sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
    EXPECT_EQ(count.load(), 1);
}

class NetworkSettingsTest : public ::testing::Test {
protected:
    test::TempDir bin;
    void program(const char* name) {
        const auto script = bin / name;
        test::writeText(script, std::string("#!/bin/sh\necho \"") + name + " $*\" >>" +
                                    (bin / "ran").string() + "\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
};

TEST_F(NetworkSettingsTest, TheFirstProgramThatExistsIsStartedDetached) {
    program("gnome-control-center");
    program("systemsettings");
    const std::string path = "/nonexistent::" + bin.path().string();
    EXPECT_EQ(DesktopNetworkSettings::command(path),
              (std::vector<std::string>{(bin / "gnome-control-center").string(), "network"}));
    const std::string oldPath = std::getenv("PATH");
    ::setenv("PATH", path.c_str(), 1);
    const bool opened = DesktopNetworkSettings().open();
    ::setenv("PATH", oldPath.c_str(), 1);
    ASSERT_TRUE(opened);
    for (int i = 0; i < 1000 && test::readText(bin / "ran").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(test::readText(bin / "ran"), "gnome-control-center network\n");
}

TEST_F(NetworkSettingsTest, NothingInstalled_OpensNothing) {
    EXPECT_TRUE(DesktopNetworkSettings::command(bin.path().string()).empty());
    EXPECT_TRUE(DesktopNetworkSettings::command("").empty());
}

} // namespace
} // namespace tn
