#include "app/global.h"
#include "app/help_about.h"

#include "platform/linux/pcap_capture.h"
#include "platform/linux/xdg_autostart.h"
#include "support/fake_clock.h"
#include "support/file_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace tn {
namespace {

using Paths = std::vector<std::filesystem::path>;

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    test::writeText(file, bytes);
}

TEST(HelpText, FileContent_IsCutAtTheFirstZeroByte) {
    test::TempDir dir;
    const auto file = dir / "readme.doc";
    writeBytes(file, std::string("Line one\r\nLine two\0hidden\0more", 29));
    EXPECT_EQ(loadHelpText({file}), "Line one\r\nLine two");

    writeBytes(file, std::string("\0everything hidden", 18));
    EXPECT_EQ(loadHelpText({file}), ""); // found, but empty: not the not-found text

    writeBytes(file, "no zero byte at all\n");
    EXPECT_EQ(loadHelpText({file}), "no zero byte at all\n");
}

TEST(HelpText, NothingReadable_GivesTheNotFoundText_WithoutBlocking) {
    test::TempDir dir;
    EXPECT_EQ(loadHelpText({}), "{Help File not found}");
    EXPECT_EQ(loadHelpText({dir / "missing.doc"}), "{Help File not found}");
    // A folder, a FIFO (opening it would wait for a writer for ever) and an oversized file
    // planted where the help file should be are all passed over.
    std::filesystem::create_directories(dir / "folder/readme.doc");
    ASSERT_EQ(::mkfifo((dir / "fifo.doc").c_str(), 0600), 0);
    writeBytes(dir / "huge.doc", std::string(kHelpMaxBytes + 1, 'x'));
    EXPECT_EQ(loadHelpText({dir / "folder/readme.doc", dir / "fifo.doc", dir / "huge.doc"}),
              "{Help File not found}");
    writeBytes(dir / "good.doc", "help");
    EXPECT_EQ(loadHelpText({dir / "fifo.doc", dir / "huge.doc", dir / "good.doc"}), "help");
}

TEST(HelpLookup, ExecutableFolderComesFirst_ThenTheInstalledDataFolder) {
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

TEST(HelpLookup, RealFolders_TheExecutablesCopyWins_AndTheDataFolderStandsIn) {
    test::TempDir dir;
    const auto exe = dir.path() / "prefix/bin/tallynet";
    const auto data = dir.path() / "elsewhere/share/tallynet";
    writeBytes(data / "readme.doc", "installed help");
    EXPECT_EQ(loadHelpText(helpFileCandidates(exe, data)), "installed help");
    writeBytes(dir / "prefix/share/tallynet/readme.doc", "relocated help");
    EXPECT_EQ(loadHelpText(helpFileCandidates(exe, data)), "relocated help");
    writeBytes(dir / "prefix/bin/readme.doc", "build tree help");
    EXPECT_EQ(loadHelpText(helpFileCandidates(exe, data)), "build tree help");
}

TEST(AboutText, CaptureLibraryVersion_KeepsTheNumberWithoutBlanksAndCommasAsDots) {
    EXPECT_EQ(aboutText("1.0.0.0", "libpcap version 1.10.3 (with TPACKET_V3)"),
              "ver 1.0.0.0  [libpcap-v.1.10.3]");
    EXPECT_EQ(aboutText("1.9.0.6", "1, 10, 3"), "ver 1.9.0.6  [libpcap-v.1.10.3]");
    EXPECT_EQ(aboutText("2.0", "libpcap version 1, 9, 1 (with TPACKET_V3, with x)"),
              "ver 2.0  [libpcap-v.1.9.1]");
    EXPECT_EQ(aboutText("2.0", "libpcap version 1.11.0-PRE-GIT"),
              "ver 2.0  [libpcap-v.1.11.0-PRE-GIT]");
    EXPECT_EQ(aboutText("2.0", ""), "ver 2.0  [libpcap-v.]"); // no capture library at all
}

TEST(AboutText, TheLinkedLibpcap_GivesANumericVersionLine) {
    PcapCaptureFactory factory;
    const std::string line = aboutText(CGlobal::programVersionText(), factory.libraryVersion());
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(ver [0-9.]+  \[libpcap-v\.[0-9]+\.[0-9]+\.[0-9]+\])")))
        << line;
}

// Paths whose executable the test chooses.
class ExePaths final : public IPaths {
public:
    ExePaths(std::filesystem::path root, std::filesystem::path exe)
        : m_root(std::move(root)), m_exe(std::move(exe)) {}
    std::filesystem::path dataDirectory() const override { return m_root; }
    std::filesystem::path configDirectory() const override { return m_root; }
    std::filesystem::path runtimeDirectory() const override { return m_root; }
    std::filesystem::path executablePath() const override { return m_exe; }

private:
    std::filesystem::path m_root;
    std::filesystem::path m_exe;
};

TEST(StartUpEntry, InstalledProgram_TakesOverAnExistingEntry_ABuildTreeDoesNot) {
    test::TempDir dir;
    const auto entry = dir / "autostart/TallynetStartUp.desktop";
    const std::string fromBuild = XdgAutostart::desktopEntry("/home/u/tallynet/build/tallynet");
    writeBytes(entry, fromBuild);

    auto refresh = [&](const std::filesystem::path& exe, int runAtStartUp) {
        ExePaths paths(dir.path(), exe);
        XdgAutostart autostart(entry, exe);
        PlatformServices os;
        os.paths = &paths;
        os.autostart = &autostart;
        CGlobal g(os);
        g.RunAtStartUp = runAtStartUp;
        return g.refreshRunAtStartUp();
    };

    EXPECT_FALSE(refresh("/home/u/tallynet/build2/tallynet", 1)); // another build tree
    EXPECT_EQ(test::readText(entry), fromBuild);
    EXPECT_FALSE(refresh("/usr/bin/tallynet", 0)); // the option is off
    EXPECT_EQ(test::readText(entry), fromBuild);

    EXPECT_TRUE(refresh("/usr/bin/tallynet", 1));
    EXPECT_NE(test::readText(entry).find("\nExec=\"/usr/bin/tallynet\"\n"), std::string::npos);

    // An entry the user removed in the desktop's settings stays removed.
    std::filesystem::remove(entry);
    EXPECT_FALSE(refresh("/usr/bin/tallynet", 1));
    EXPECT_FALSE(std::filesystem::exists(entry));
}

} // namespace
} // namespace tn
