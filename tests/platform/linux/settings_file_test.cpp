// The settings file and the start-up entry on disk.
#include "app/global.h"
#include "platform/linux/ini_settings_store.h"
#include "platform/linux/linux_paths.h"
#include "platform/linux/xdg_autostart.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tn {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    IniSettingsStore store{dir / "config/Tallynet.conf", "SetariGenerale"};
    XdgAutostart autostart{dir / "autostart/TallynetStartUp.desktop",
                           "/opt/tally net/bin/tallynet"};

    PlatformServices services() {
        PlatformServices s = fake.services();
        s.settings = &store;
        s.autostart = &autostart;
        return s;
    }
    void writeConf(const std::string& body) {
        std::filesystem::create_directories(dir / "config");
        test::writeText(dir / "config/Tallynet.conf", body);
    }
};

TEST_F(SettingsFileTest, WrittenValues_ComeBackFromTheFile_AndNothingIsWrittenAtLoad) {
    {
        CGlobal g(services());
        g.loadSettings();
        EXPECT_FALSE(std::filesystem::exists(dir / "config"));
        EXPECT_TRUE(g.writeInt("FallSecs", 45));
        EXPECT_TRUE(g.writeString("HostToPing", "  gw \"home\"\\net\n"));
    }
    IniSettingsStore again{dir / "config/Tallynet.conf", "SetariGenerale"};
    EXPECT_EQ(again.getInt("FallSecs"), 45);
    EXPECT_EQ(again.getString("HostToPing"), "  gw \"home\"\\net\n");
    EXPECT_EQ(std::filesystem::status(dir / "config/Tallynet.conf").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(SettingsFileTest, OneWrite_KeepsHandEditedKeysAndComments) {
    writeConf("; mine\n[Other]\nA=1\n[SetariGenerale]\nFallSecs=30\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_TRUE(g.writeInt("LogFalls", 1));
    EXPECT_EQ(test::readText(dir / "config/Tallynet.conf"),
              "; mine\n[Other]\nA=1\n[SetariGenerale]\nFallSecs=30\nLogFalls=1\n");
}

TEST_F(SettingsFileTest, UnparseableFile_LeftUntouchedAtLoad_AndKeptAsideOnFirstWrite) {
    const std::string junk = "\x7f"
                             "ELF\x01\x02\0\0garbage\n[SetariGenerale\nFallSecs=5\n";
    writeConf(std::string(junk.data(), junk.size()));
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 20);
    EXPECT_EQ(test::readText(dir / "config/Tallynet.conf"), junk);
    EXPECT_TRUE(g.writeInt("FallSecs", 9));
    EXPECT_EQ(test::readText(dir / "config/Tallynet.conf.unreadable"), junk);
    EXPECT_EQ(store.getInt("FallSecs"), 9);
}

TEST_F(SettingsFileTest, OversizedFile_IsNotReadIntoMemory_AndKeptAsideOnFirstWrite) {
    writeConf("[SetariGenerale]\nFallSecs=5\n" + std::string(1024 * 1024, ';'));
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 20);
    EXPECT_TRUE(g.writeInt("FallSecs", 9));
    EXPECT_EQ(std::filesystem::file_size(dir / "config/Tallynet.conf.unreadable"),
              28u + 1024 * 1024);
    EXPECT_EQ(store.getInt("FallSecs"), 9);
}

TEST_F(SettingsFileTest, RunAtStartUp_EntryAppearsWithTheExecutablePathAndDisappears) {
    CGlobal g(services());
    const auto entry = dir / "autostart/TallynetStartUp.desktop";
    EXPECT_TRUE(g.setRunAtStartUp(0)); // nothing there: silently fine
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(g.setRunAtStartUp(1));
    const std::string text = test::readText(entry);
    EXPECT_NE(text.find("Exec=\"/opt/tally net/bin/tallynet\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_TRUE(g.setRunAtStartUp(0));
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(XdgAutostartEntry, ExecQuotingEscapesSpecialCharacters) {
    const std::string e = XdgAutostart::desktopEntry("/a$b/c\"d\\e");
    EXPECT_NE(e.find("Exec=\"/a\\\\$b/c\\\\\"d\\\\\\\\e\"\n"), std::string::npos) << e;
    // TryExec is a plain string: no quotes, only the backslash doubled.
    EXPECT_NE(e.find("TryExec=/a$b/c\"d\\\\e\n"), std::string::npos) << e;
}

// The entry must pass the desktop's own check, or a session may ignore it; TryExec is what
// keeps a removed program from being started at every log-in.
TEST(XdgAutostartEntry, PassesDesktopFileValidate_AndNamesTheProgramInTryExec) {
    test::TempDir dir;
    const auto entry = dir / "TallynetStartUp.desktop";
    XdgAutostart autostart{entry, "/opt/Tally net/bin/tallynet"};
    ASSERT_TRUE(autostart.set(true));
    std::ifstream in(entry);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("TryExec=/opt/Tally net/bin/tallynet\n"), std::string::npos) << text;
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    const std::string command = "desktop-file-validate '" + entry.string() + "' 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string said;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out))
        said += buffer;
    EXPECT_EQ(::pclose(out), 0) << said;
    EXPECT_EQ(said, "") << said;
}

TEST(LinuxPathsTest, DataFolderIsPrivate_EvenWhenAnOlderVersionMadeItReadable) {
    test::TempDir root;
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_DATA_HOME", root.path().c_str(), 1);
    const auto created = LinuxPaths().dataDirectory();
    std::filesystem::permissions(created, std::filesystem::perms::all);
    const auto again = LinuxPaths().dataDirectory();
    if (old)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(created, root.path() / "Tallynet");
    EXPECT_EQ(again, created);
    // The report's reader only names the folder; it never makes one.
    ::setenv("XDG_DATA_HOME", (root.path() / "fresh").c_str(), 1);
    const auto named = LinuxPaths().dataDirectoryPath();
    if (old)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(named, root.path() / "fresh" / "Tallynet");
    EXPECT_FALSE(std::filesystem::exists(root.path() / "fresh"));
    EXPECT_EQ(std::filesystem::status(created).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(SettingsFileTest, SettingsFileThatIsALink_IsNeitherReadNorWritten) {
    std::filesystem::create_directories(dir / "config");
    test::writeText(dir / "elsewhere.conf", "[SetariGenerale]\nFallSecs=5\n");
    std::filesystem::create_symlink(dir / "elsewhere.conf", dir / "config/Tallynet.conf");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 20);
    EXPECT_FALSE(g.writeInt("FallSecs", 9));
    EXPECT_EQ(test::readText(dir / "elsewhere.conf"), "[SetariGenerale]\nFallSecs=5\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "config/Tallynet.conf"));
}

} // namespace
} // namespace tn
