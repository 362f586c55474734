// The notifier against a private session bus of the test's own, with a stand-in notification
// service on it: what the desktop's service would receive, and nothing at all without one.
#include "platform/linux/dbus_notifier.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <vector>

namespace tn {
namespace {

struct Received {
    std::vector<std::string> notices;
};

int onNotify(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* app = nullptr;
    std::uint32_t replaces = 0;
    const char* icon = nullptr;
    const char* summary = nullptr;
    const char* body = nullptr;
    if (sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body) < 0)
        return -EINVAL;
    static_cast<Received*>(userdata)->notices.push_back(std::string(app) + "|" + summary + "|" +
                                                        body);
    return sd_bus_reply_method_return(m, "u", std::uint32_t{7});
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", onNotify, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

class DbusNotifierTest : public ::testing::Test {
protected:
    test::TempDir dir;
    pid_t m_daemon = -1;
    std::string m_oldAddress;
    bool m_hadAddress = false;

    void SetUp() override {
        if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            m_hadAddress = true;
            m_oldAddress = a;
        }
        const std::string socket = (dir.path() / "bus").string();
        const std::string address = "unix:path=" + socket;
        const std::string config = (dir.path() / "bus.conf").string();
        if (FILE* f = std::fopen(config.c_str(), "w")) {
            std::fprintf(f,
                         "<busconfig><type>session</type><listen>%s</listen>"
                         "<auth>EXTERNAL</auth><policy context=\"default\"><allow "
                         "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                         "<allow own=\"*\"/></policy></busconfig>",
                         address.c_str());
            std::fclose(f);
        }
        m_daemon = fork();
        if (m_daemon == 0) {
            execlp("dbus-daemon", "dbus-daemon", "--nofork", "--nopidfile",
                   ("--config-file=" + config).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        // The daemon is up when its socket is.
        for (int i = 0; i < 500 && access(socket.c_str(), F_OK) != 0; ++i)
            usleep(10000);
    }
    void TearDown() override {
        if (m_daemon > 0) {
            kill(m_daemon, SIGTERM);
            waitpid(m_daemon, nullptr, 0);
        }
        if (m_hadAddress)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress.c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
};

TEST_F(DbusNotifierTest, TheServiceReceivesTheNotice_WithoutOneNothingHappens) {
    if (access((dir.path() / "bus").c_str(), F_OK) != 0)
        GTEST_SKIP() << "dbus-daemon did not start";
    DbusNotifier notifier;
    // No service on the bus yet: the notice is handed over and goes nowhere.
    EXPECT_TRUE(notifier.notify("Tallynet", "nobody hears this"));

    sd_bus* service = nullptr;
    ASSERT_GE(sd_bus_open_user(&service), 0);
    Received received;
    sd_bus_slot* slot = nullptr;
    ASSERT_GE(sd_bus_add_object_vtable(service, &slot, "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications", kVtable, &received),
              0);
    ASSERT_GE(sd_bus_request_name(service, "org.freedesktop.Notifications", 0), 0);
    EXPECT_TRUE(notifier.notify("Tallynet", "No data received since 14:02"));
    EXPECT_TRUE(notifier.notify("Data plan used up", "Plan: 50.0 GB of 50.0 GB (100%)"));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.notices.size() < 2 && std::chrono::steady_clock::now() < until) {
        if (sd_bus_process(service, nullptr) == 0)
            sd_bus_wait(service, 100000);
    }
    ASSERT_EQ(received.notices.size(), 2u);
    EXPECT_EQ(received.notices[0], "Tallynet|Tallynet|No data received since 14:02");
    EXPECT_EQ(received.notices[1], "Tallynet|Data plan used up|Plan: 50.0 GB of 50.0 GB (100%)");
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(service);
}

TEST(DbusNotifierNoBusTest, WithoutASessionBusNothingIsShownAndNothingBreaks) {
    const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string saved = old ? old : "";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tallynet-test-bus", 1);
    DbusNotifier notifier;
    EXPECT_FALSE(notifier.notify("Tallynet", "x"));
    EXPECT_FALSE(notifier.notify("Tallynet", "y"));
    if (old)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

} // namespace
} // namespace tn
