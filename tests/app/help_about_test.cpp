#include "app/global.h"
#include "app/help_about.h"

#include "support/fake_platform.h"
#include "support/file_bytes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tn {
namespace {

using Paths = std::vector<std::filesystem::path>;

class HelpTextTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    IFileStore* files = fake.services().files;
    std::filesystem::path dir = fake.dir.path();

    std::string load(const Paths& candidates) { return loadHelpText(candidates, files); }
    static void write(const std::filesystem::path& file, const std::string& bytes) {
        std::filesystem::create_directories(file.parent_path());
        test::writeText(file, bytes);
    }
};

TEST_F(HelpTextTest, FileContent_IsCutAtTheFirstZeroByte) {
    const auto file = dir / "readme.doc";
    write(file, std::string("Line one\r\nLine two\0hidden\0more", 29));
    EXPECT_EQ(load({file}), "Line one\r\nLine two");

    write(file, std::string("\0everything hidden", 18));
    EXPECT_EQ(load({file}), ""); // found, but empty: not the not-found text

    write(file, "no zero byte at all\n");
    EXPECT_EQ(load({file}), "no zero byte at all\n");
}

TEST_F(HelpTextTest, NothingReadable_GivesTheNotFoundText_WithoutBlocking) {
    EXPECT_EQ(load({}), "{Help File not found}");
    EXPECT_EQ(load({dir / "missing.doc"}), "{Help File not found}");
    EXPECT_EQ(loadHelpText({dir / "missing.doc"}, nullptr), "{Help File not found}");
    // A folder, a FIFO (opening it would wait for a writer for ever) and an oversized file
    // planted where the help file should be are all passed over.
    std::filesystem::create_directories(dir / "folder/readme.doc");
    ASSERT_EQ(::mkfifo((dir / "fifo.doc").c_str(), 0600), 0);
    write(dir / "huge.doc", std::string(kHelpMaxBytes + 1, 'x'));
    EXPECT_EQ(load({dir / "folder/readme.doc", dir / "fifo.doc", dir / "huge.doc"}),
              "{Help File not found}");
    write(dir / "good.doc", "help");
    EXPECT_EQ(load({dir / "fifo.doc", dir / "huge.doc", dir / "good.doc"}), "help");
}

TEST_F(HelpTextTest, RealFolders_TheExecutablesCopyWins_AndTheDataFolderStandsIn) {
    const auto exe = dir / "prefix/bin/tallynet";
    const auto data = dir / "elsewhere/share/tallynet";
    write(data / "readme.doc", "installed help");
    EXPECT_EQ(load(helpFileCandidates(exe, data)), "installed help");
    write(dir / "prefix/share/tallynet/readme.doc", "relocated help");
    EXPECT_EQ(load(helpFileCandidates(exe, data)), "relocated help");
    write(dir / "prefix/bin/readme.doc", "build tree help");
    EXPECT_EQ(load(helpFileCandidates(exe, data)), "build tree help");
}

TEST(HelpLookupTest, ExecutableFolderComesFirst_ThenTheInstalledDataFolder) {
    // A build tree: beside the executable, then where an install puts it.
    EXPECT_EQ(
        helpFileCandidates("/home/u/src/tallynet/build/tallynet", "/usr/local/share/tallynet"),
        (Paths{"/home/u/src/tallynet/build/readme.doc", "/usr/local/share/tallynet/readme.doc"}));
    // Installed by the package under /usr while the build was configured for /usr/local: the
    // data folder next to the bin folder is found before the configured one.
    EXPECT_EQ(helpFileCandidates("/usr/bin/tallynet", "/usr/local/share/tallynet"),
              (Paths{"/usr/bin/readme.doc", "/usr/share/tallynet/readme.doc",
                     "/usr/local/share/tallynet/readme.doc"}));
    // The same folder twice is tried once.
    EXPECT_EQ(helpFileCandidates("/usr/bin/tallynet", "/usr/share/tallynet/"),
              (Paths{"/usr/bin/readme.doc", "/usr/share/tallynet/readme.doc"}));
    // Executable unknown: only the data folder.
    EXPECT_EQ(helpFileCandidates("", "/usr/share/tallynet"),
              (Paths{"/usr/share/tallynet/readme.doc"}));
}

TEST(AboutTextTest, CaptureLibraryVersion_KeepsTheNumberWithoutBlanksAndCommasAsDots) {
    EXPECT_EQ(aboutText("1.0.0.0", "libpcap version 1.10.3 (with TPACKET_V3)"),
              "ver 1.0.0.0  [libpcap-v.1.10.3]");
    EXPECT_EQ(aboutText("1.9.0.6", "1, 10, 3"), "ver 1.9.0.6  [libpcap-v.1.10.3]");
    EXPECT_EQ(aboutText("2.0", "libpcap version 1, 9, 1 (with TPACKET_V3, with x)"),
              "ver 2.0  [libpcap-v.1.9.1]");
    EXPECT_EQ(aboutText("2.0", "libpcap version 1.11.0-PRE-GIT"),
              "ver 2.0  [libpcap-v.1.11.0-PRE-GIT]");
    EXPECT_EQ(aboutText("2.0", ""), "ver 2.0  [libpcap-v.]"); // no capture library at all
}

// Counts how often the entry is written.
class CountingAutostart final : public IAutostart {
public:
    bool present = true;
    int writes = 0;
    bool set(bool on) override {
        writes += on ? 1 : 0;
        present = on;
        return true;
    }
    bool isSet() const override { return present; }
};

// Paths whose executable the test chooses.
class ExePaths final : public IPaths {
public:
    std::filesystem::path exe;
    std::filesystem::path dataDirectory() const override { return "/nonexistent"; }
    std::filesystem::path configDirectory() const override { return "/nonexistent"; }
    std::filesystem::path runtimeDirectory() const override { return "/nonexistent"; }
    std::filesystem::path executablePath() const override { return exe; }
};

TEST(StartUpEntryTest, InstalledProgram_TakesOverAnExistingEntry_ABuildTreeDoesNot) {
    CountingAutostart autostart;
    ExePaths paths;
    PlatformServices os;
    os.paths = &paths;
    os.autostart = &autostart;
    CGlobal g(os);
    auto refresh = [&](const char* exe, int runAtStartUp) {
        paths.exe = exe;
        g.RunAtStartUp = runAtStartUp;
        return g.refreshRunAtStartUp();
    };

    EXPECT_FALSE(refresh("/home/u/tallynet/build/tallynet", 1)); // a build tree
    EXPECT_FALSE(refresh("tallynet", 1));                        // not an absolute path
    EXPECT_FALSE(refresh("/usr/bin/tallynet", 0));               // the option is off
    EXPECT_EQ(autostart.writes, 0);

    EXPECT_TRUE(refresh("/usr/bin/tallynet", 1));
    EXPECT_TRUE(refresh("/opt/tallynet/bin/tallynet", 1));
    EXPECT_EQ(autostart.writes, 2);

    // An entry the user removed in the desktop's settings stays removed.
    autostart.present = false;
    EXPECT_FALSE(refresh("/usr/bin/tallynet", 1));
    EXPECT_EQ(autostart.writes, 2);
}

} // namespace
} // namespace tn
