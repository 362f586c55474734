#include "app/options_rules.h"

#include "app/global.h"
#include "platform/autostart.h"
#include "support/fake_clock.h"
#include "support/recording_settings.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

using Ports = std::vector<std::uint16_t>;

TEST(CustomPortText, AcceptedTexts_GiveThePortsInOrder) {
    EXPECT_EQ(validateCustomPorts("80, 443"), Ports({80, 443})); // the blank is skipped
    EXPECT_EQ(validateCustomPorts("80,"), Ports({80}));          // a trailing comma adds nothing
    EXPECT_EQ(validateCustomPorts("65535"), Ports({65535}));
    EXPECT_EQ(validateCustomPorts("1"), Ports({1}));
    EXPECT_EQ(validateCustomPorts("80,80,21x"), Ports({80, 80, 21})); // stops at the non-digit
}

TEST(CustomPortText, RefusedTexts_GiveNothing) {
    for (const char* text :
         {"80,,90", ",80", "0", "abc", "65536", "99999999999", "-1", "80,-443", ",", "80,0", " "})
        EXPECT_FALSE(validateCustomPorts(text).has_value()) << '"' << text << '"';
}

TEST(CustomPortText, PiecesBeforeEveryCommaCountEvenWhenEmpty) {
    EXPECT_EQ(customPortPieces("80,,90").size(), 3u);
    EXPECT_EQ(customPortPieces("80,").size(), 1u);
    EXPECT_EQ(customPortPieces(",").size(), 1u);
    EXPECT_TRUE(customPortPieces("").empty());
}

TEST(DecimalValue, ReadsLikeTheCLibrary) {
    EXPECT_EQ(decimalValue(""), 0);
    EXPECT_EQ(decimalValue("  12x"), 12);
    EXPECT_EQ(decimalValue("-7"), -7);
    EXPECT_EQ(decimalValue("+7"), 7);
    EXPECT_EQ(decimalValue("x12"), 0);
    EXPECT_EQ(decimalValue("99999999999"), 2147483647);
    EXPECT_EQ(decimalValue("-99999999999"), -2147483647 - 1);
}

TEST(HostChoices, PresetsThenAStoredHostThatIsNoneOfThem) {
    const HostChoices none = hostChoices("");
    ASSERT_EQ(none.entries.size(), 4u);
    EXPECT_EQ(none.selected, 0);

    const HostChoices preset = hostChoices("DNS.Google"); // found ignoring case, not added
    EXPECT_EQ(preset.entries.size(), 4u);
    EXPECT_EQ(preset.entries[static_cast<std::size_t>(preset.selected)], "dns.google");

    const HostChoices own = hostChoices("198.18.0.1");
    ASSERT_EQ(own.entries.size(), 5u);
    EXPECT_EQ(own.entries.back(), "198.18.0.1");
    EXPECT_EQ(own.selected, 4);
}

class FakeAutostart final : public IAutostart {
public:
    std::vector<bool> calls;
    bool set(bool on) override {
        calls.push_back(on);
        return true;
    }
    bool isSet() const override { return !calls.empty() && calls.back(); }
};

class OptionsModelTest : public ::testing::Test {
protected:
    test::RecordingSettings store;
    FakeAutostart autostart;
    std::unique_ptr<CGlobal> global;

    void load() {
        PlatformServices os;
        os.settings = &store;
        os.autostart = &autostart;
        global = std::make_unique<CGlobal>(os);
        global->loadSettings();
    }
};

TEST_F(OptionsModelTest, Initialise_ZeroOutageSecondsShowAsTwentyInMemoryOnly) {
    store.ints["FallSecs"] = 0;
    store.ints["PingHost"] = 1;
    store.strings["CustPort1"] = "80,x"; // read for the box even with the field off
    store.strings["CustName1"] = "Rsync";
    load();
    COptionsModel model(*global);
    const OptionsInitial init = model.initialise();
    EXPECT_EQ(init.fallSecsText, "20");
    EXPECT_EQ(global->FallSecs, 20);
    EXPECT_EQ(store.ints["FallSecs"], 0);
    EXPECT_EQ(init.conSpeedText, "128");
    EXPECT_EQ(init.custPort, "80,x");
    EXPECT_EQ(init.custName, "Rsync");
    // The ping box's handler runs once and writes the value back unchanged; nothing else.
    EXPECT_EQ(store.writes, std::vector<std::string>{"PingHost=1"});
    EXPECT_TRUE(model.enabling().host);
}

TEST_F(OptionsModelTest, Boxes_WriteAtOnce_RestartOnlyForTheSourceChoices) {
    load();
    COptionsModel model(*global);
    model.initialise();
    store.writes.clear();
    model.setChecked(OptionBox::LanOnly, true);
    model.setChecked(OptionBox::Autohide, true);
    EXPECT_EQ(global->RestartFlag.load(), 0);
    model.setChecked(OptionBox::WinPCap, true);
    EXPECT_EQ(global->RestartFlag.load(), 1);
    global->RestartFlag = 0;
    model.setChecked(OptionBox::Incremtotal, true);
    EXPECT_EQ(global->RestartFlag.load(), 1);
    model.setChecked(OptionBox::RunAtStartUp, true);
    model.setChecked(OptionBox::RunAtStartUp, false);
    EXPECT_EQ(autostart.calls, (std::vector<bool>{true, false}));
    EXPECT_EQ(global->LanOnly, 1);
    EXPECT_EQ(global->Autohide, 1);
    EXPECT_EQ(global->WinPCap, 1);
    EXPECT_EQ(store.writes,
              (std::vector<std::string>{"LanOnly=1", "Autohide=1", "WinPCap=1", "Incremtotal=1",
                                        "RunAtStartUp=1", "RunAtStartUp=0"}));
}

TEST_F(OptionsModelTest, Enabling_FollowsEachBox) {
    load();
    COptionsModel model(*global);
    model.initialise();
    OptionsEnabling e = model.enabling();
    EXPECT_FALSE(e.incremtotal || e.lanOnly || e.fallSecs || e.host || e.test || e.custName ||
                 e.custPort);
    model.setChecked(OptionBox::WinPCap, true);
    e = model.enabling();
    EXPECT_TRUE(e.incremtotal && e.lanOnly);
    EXPECT_FALSE(e.fallSecs || e.host || e.custName);
    model.setChecked(OptionBox::LogFalls, true);
    model.setChecked(OptionBox::PingHost, true);
    model.setChecked(OptionBox::CustField, true);
    e = model.enabling();
    EXPECT_TRUE(e.fallSecs && e.host && e.test && e.custName && e.custPort);
    model.setChecked(OptionBox::WinPCap, false);
    e = model.enabling();
    EXPECT_FALSE(e.incremtotal || e.lanOnly);
}

TEST_F(OptionsModelTest, Ok_GoodCustomField_IsSavedAsTypedAndTakesEffect) {
    load();
    COptionsModel model(*global);
    model.initialise();
    model.setChecked(OptionBox::CustField, true);
    EXPECT_EQ(global->CustField, 0); // the box alone changes only the stored value
    EXPECT_EQ(store.ints["CustField"], 1);
    EXPECT_EQ(model.accept("Rsync", "873, 22,873"), CustomFieldCheck::Accepted);
    EXPECT_EQ(global->CustField, 1);
    EXPECT_EQ(global->CustName1, "Rsync");
    EXPECT_EQ(global->customPorts().ports, Ports({873, 22, 873}));
    EXPECT_EQ(store.strings["CustPort1"], "873, 22,873");
    EXPECT_EQ(store.strings["CustName1"], "Rsync");
}

TEST_F(OptionsModelTest, Ok_BadCustomField_SavesNothing) {
    store.ints["CustField"] = 1;
    store.strings["CustPort1"] = "21";
    store.strings["CustName1"] = "Old";
    load();
    COptionsModel model(*global);
    model.initialise();
    store.writes.clear();
    EXPECT_EQ(model.accept("", "80"), CustomFieldCheck::InvalidName);
    EXPECT_EQ(model.accept("New", ""), CustomFieldCheck::InvalidPort);
    EXPECT_EQ(model.accept("New", "80,,90"), CustomFieldCheck::InvalidPort);
    EXPECT_EQ(model.accept("New", "-1"), CustomFieldCheck::InvalidPort);
    EXPECT_TRUE(store.writes.empty());
    EXPECT_EQ(global->customPorts().ports, Ports({21}));
    EXPECT_EQ(global->CustName1, "Old");
}

TEST_F(OptionsModelTest, OkWithTheBoxUnchecked_TurnsTheCustomCategoryOffInMemory) {
    store.ints["CustField"] = 1;
    store.strings["CustPort1"] = "21";
    load();
    COptionsModel model(*global);
    model.initialise();
    model.setChecked(OptionBox::CustField, false);
    EXPECT_EQ(global->CustField, 1); // until OK
    EXPECT_EQ(model.accept("", ""), CustomFieldCheck::Accepted);
    EXPECT_EQ(global->CustField, 0);
    EXPECT_EQ(store.ints["CustField"], 0);
}

TEST_F(OptionsModelTest, Edits_StoreTheirDecimalValue) {
    load();
    COptionsModel model(*global);
    model.initialise();
    model.fallSecsEdited("");
    EXPECT_EQ(global->FallSecs, 0);
    model.fallSecsEdited("45");
    model.conSpeedEdited("");
    EXPECT_EQ(global->ConSpeed, 0u);
    model.conSpeedEdited("99999");
    model.hostEdited("198.18.0.9");
    EXPECT_EQ(global->FallSecs, 45);
    EXPECT_EQ(global->ConSpeed, 99999u);
    EXPECT_EQ(global->HostToPing, "198.18.0.9");
    EXPECT_EQ(store.ints["FallSecs"], 45);
    EXPECT_EQ(store.ints["ConSpeed"], 99999);
    EXPECT_EQ(store.strings["HostToPing"], "198.18.0.9");
}

} // namespace
} // namespace tn
