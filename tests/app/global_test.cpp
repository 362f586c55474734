#include "app/global.h"

#include "support/fake_platform.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

class GlobalTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    test::FakeSettingsStore& store = fake.settings;

    PlatformServices services() { return fake.services(); }
    void writeConf(const std::string& body) { store.text = body; }
};

TEST_F(GlobalTest, FirstRun_EveryKeyTakesItsDefault_AndNothingIsWritten) {
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.LastAdapterName, "");
    EXPECT_EQ(g.TraffTpe, 0);
    EXPECT_EQ(g.GNfoMode, 1);
    EXPECT_EQ(g.RunAtStartUp, 0);
    EXPECT_EQ(g.StartMin, 0);
    EXPECT_EQ(g.WinPCap, 0);
    EXPECT_EQ(g.LanOnly, 0);
    EXPECT_EQ(g.LogFalls, 0);
    EXPECT_EQ(g.FallSecs, 20);
    EXPECT_EQ(g.PingHost, 0);
    EXPECT_EQ(g.HostToPing, "");
    EXPECT_EQ(g.Incremtotal, 0);
    EXPECT_EQ(g.ConSpeed, 128u);
    EXPECT_EQ(g.Autohide, 0);
    EXPECT_EQ(g.ConfirmExit, 0);
    EXPECT_EQ(g.CustField, 0);
    EXPECT_EQ(g.TMaxScale, 1);
    EXPECT_EQ(g.PinPoint, 0);
    EXPECT_EQ(g.CountIPv6, 1);
    EXPECT_TRUE(g.customPorts().ports.empty());
    EXPECT_EQ(store.writes, 0);
}

TEST_F(GlobalTest, CustomPorts_KeepOneTo65534InOrderWithDuplicates) {
    writeConf(
        "[SetariGenerale]\nCustField=1\nCustName1=Rsync\nCustPort1=80, 443,abc,0,65535,70000,80\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.CustField, 1);
    EXPECT_EQ(g.CustName1, "Rsync");
    EXPECT_EQ(g.customPorts().ports, (std::vector<std::uint16_t>{80, 443, 80}));
    EXPECT_TRUE(g.customPorts().contains(443));
    EXPECT_FALSE(g.customPorts().contains(65535));
}

TEST(ParseCustomPorts, AtoiLikePieces) {
    EXPECT_EQ(parseCustomPorts("12abc,  7 ,x9,65534,99999999999999999999"),
              (std::vector<std::uint16_t>{12, 7, 65534}));
    EXPECT_TRUE(parseCustomPorts("").empty());
    EXPECT_TRUE(parseCustomPorts(",,,").empty());
    EXPECT_EQ(parseCustomPorts("-5,+6,21"), (std::vector<std::uint16_t>{21}));
}

TEST_F(GlobalTest, CustomField_NoPortKept_SwitchesOffInMemoryOnly) {
    writeConf("[SetariGenerale]\nCustField=1\nCustName1=X\nCustPort1=\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.CustField, 0);
    EXPECT_EQ(store.getInt("CustField"), 1);
}

TEST_F(GlobalTest, CustomFieldOff_NameAndPortsStayEmpty) {
    writeConf("[SetariGenerale]\nCustField=0\nCustName1=X\nCustPort1=80,81\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.CustName1, "");
    EXPECT_TRUE(g.customPorts().ports.empty());
}

TEST_F(GlobalTest, WrittenValues_ComeBackOnAFreshLoad) {
    {
        CGlobal g(services());
        g.loadSettings();
        EXPECT_TRUE(g.writeInt("FallSecs", 45));
        EXPECT_TRUE(g.writeInt("ConSpeed", 4294967295LL));
        EXPECT_TRUE(g.writeString("HostToPing", "  gw \"home\"\\net\n"));
        EXPECT_TRUE(g.writeString("LastAdapterName", "Intel Corporation I219-V (enp0s31f6)"));
        EXPECT_TRUE(g.writeBinary("WndPos", {0x10, 0x00, 0x20, 0x01}));
        EXPECT_TRUE(g.writeInt("PinPoint", -7));
    }
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 45);
    EXPECT_EQ(g.ConSpeed, 4294967295u);
    EXPECT_EQ(g.HostToPing, "  gw \"home\"\\net\n");
    EXPECT_EQ(g.LastAdapterName, "Intel Corporation I219-V (enp0s31f6)");
    EXPECT_EQ(g.PinPoint, -7);
    EXPECT_EQ(g.readBinary("WndPos"), (std::vector<std::uint8_t>{0x10, 0x00, 0x20, 0x01}));
    EXPECT_EQ(store.text.rfind("[SetariGenerale]\n", 0), 0u) << store.text;
}

TEST_F(GlobalTest, OneWrite_KeepsHandEditedKeysAndComments) {
    writeConf("; mine\n[Other]\nA=1\n[SetariGenerale]\nFallSecs=30\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_TRUE(g.writeInt("LogFalls", 1));
    EXPECT_EQ(store.text, "; mine\n[Other]\nA=1\n[SetariGenerale]\nFallSecs=30\nLogFalls=1\n");
}

TEST_F(GlobalTest, GarbageValues_YieldTheKeysDefault) {
    writeConf("[SetariGenerale]\nFallSecs=twenty\nConSpeed=-5\nGNfoMode=99999999999\n"
              "TMaxScale=\nLogFalls= 1 \nWndPos=hex:12z4\nStartMin=0x1\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 20);
    EXPECT_EQ(g.ConSpeed, 128u);
    EXPECT_EQ(g.GNfoMode, 1);
    EXPECT_EQ(g.TMaxScale, 1);
    EXPECT_EQ(g.LogFalls, 1); // blanks around a number are fine
    EXPECT_EQ(g.StartMin, 0);
    EXPECT_FALSE(g.readBinary("WndPos"));
}

TEST_F(GlobalTest, ValuesAreTakenAsStored_NoRangeCheck) {
    writeConf("[SetariGenerale]\nFallSecs=-3\nConSpeed=0\nLogFalls=7\nCountIPv6=0\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.CountIPv6, 0);
    EXPECT_EQ(g.FallSecs, -3);
    EXPECT_EQ(g.ConSpeed, 0u);
    EXPECT_EQ(g.LogFalls, 7);
}

TEST_F(GlobalTest, UnparseableText_LeftUntouchedAtLoad_AndKeptAsideOnFirstWrite) {
    const std::string junk = "\x7f"
                             "ELF\x01\x02\0\0garbage\n[SetariGenerale\nFallSecs=5\n";
    writeConf(std::string(junk.data(), junk.size()));
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 20);
    EXPECT_EQ(store.text, junk);
    EXPECT_FALSE(store.unreadableKept);
    EXPECT_TRUE(g.writeInt("FallSecs", 9));
    EXPECT_TRUE(store.unreadableKept);
    EXPECT_EQ(store.getInt("FallSecs"), 9);
}

TEST_F(GlobalTest, KeysMatchWithoutRegardToCase) {
    writeConf("[setarigenerale]\nfallsecs=33\n");
    CGlobal g(services());
    g.loadSettings();
    EXPECT_EQ(g.FallSecs, 33);
}

TEST(ProgramVersion, ResourceTextBecomesDotted) {
    EXPECT_EQ(versionTextFromResource("1, 9, 0, 6"), "1.9.0.6");
    EXPECT_EQ(CGlobal::programVersionText(), "1.0.0.0");
}

TEST(SystemErrorText, NamesTheError) {
    EXPECT_EQ(CGlobal::systemErrorText(ETIMEDOUT), "Connection timed out");
    errno = EACCES;
    EXPECT_EQ(CGlobal::lastSystemErrorText(), "Permission denied");
}

TEST_F(GlobalTest, ModuleDirectory_IsCreatedWhenMissing) {
    CGlobal g(services());
    EXPECT_FALSE(std::filesystem::exists(dir / "data"));
    EXPECT_EQ(g.moduleDirectory(), dir / "data");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "data"));
}

TEST_F(GlobalTest, CustomPortListReplacement_OldListStaysReadable) {
    CGlobal g(services());
    const CustomPortList& before = g.customPorts();
    g.replaceCustomPorts({873});
    EXPECT_TRUE(before.ports.empty()); // still a valid object
    EXPECT_TRUE(g.customPorts().contains(873));
}

} // namespace
} // namespace tn
