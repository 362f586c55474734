#pragma once
// The test rig: one complete fake operating system for the core and the windows.
//
//   test::FakePlatform fake;                  // temporary folders, fake clock, INI text in memory
//   fake.settings.text = "[SetariGenerale]\nFallSecs=5\n";
//   CGlobal global(fake.services());
//   fake.clock.setLocal(2026, 3, 17, 10);     // moves "now"
//
// Files go through the platform's own file store into the temporary folder, so what the core
// writes can be read back; everything else is a fake the test steers.
#include "app/ini_file.h"
#include "orchestration/statistics_owner.h"
#include "platform/autostart.h"
#include "platform/interface_table.h"
#include "platform/platform_services.h"
#include "platform/session_events.h"
#include "support/fake_capture.h"
#include "support/fake_clock.h"
#include "support/fake_icmp.h"
#include "support/temp_dir.h"

#include <memory>
#include <string>
#include <vector>

namespace tn::test {

// Settings as INI text in memory, read and written by the same rules as the settings file.
class FakeSettingsStore final : public IniTextStore {
public:
    std::string text; // empty: no settings yet
    bool unreadableKept = false;
    int writes = 0;
    FakeSettingsStore() : IniTextStore("SetariGenerale") {}

protected:
    Load loadText(std::string& out) const override {
        out = text;
        return text.empty() ? Load::Missing : Load::Ok;
    }
    bool storeText(const std::string& t) override {
        text = t;
        ++writes;
        return true;
    }
    bool keepUnreadable() override { return unreadableKept = true; }
};

class FakeAutostart final : public IAutostart {
public:
    bool on = false;
    bool set(bool value) override {
        on = value;
        return true;
    }
    bool isSet() const override { return on; }
};

class FakeNetworkSettings final : public INetworkSettings {
public:
    int opened = 0;
    bool open() override {
        ++opened;
        return true;
    }
};

// The system's interface counters, as the test sets them.
class FakeInterfaceTable final : public IInterfaceTable {
public:
    bool ok = true;
    std::vector<InterfaceRow> rows;
    int count = 1;
    bool refresh(std::vector<InterfaceRow>& out) override {
        out = ok ? rows : std::vector<InterfaceRow>{};
        return ok;
    }
    int countAdapters() override { return count; }
    void set(std::uint64_t in, std::uint64_t out, std::uint64_t connected = 0) {
        rows = {InterfaceRow{"eth0", in, out, connected}};
    }
};

// A statistics owner that records what the window asks of it.
class FakeStatisticsOwner final : public IStatisticsOwner {
public:
    std::vector<std::string> adapters{"eth0", "wlan0"};
    std::vector<std::string> calls;
    std::string failText; // non-empty: opening an adapter fails with it
    int selected = -1;
    std::uint64_t rx = 0, tx = 0;
    int saves = 0;
    std::vector<int> lanOnly;

    std::uint64_t totalReceived() const override { return rx; }
    std::uint64_t totalSent() const override { return tx; }
    std::uint64_t dropped = 0;
    std::uint64_t framesDropped() const override { return dropped; }
    void setLanOnly(int on) override { lanOnly.push_back(on); }
    int addressRefreshes = 0;
    void refreshAddresses() override { ++addressRefreshes; }
    void save() override {
        ++saves;
        calls.emplace_back("save");
    }
    int initialise(int index) override {
        calls.push_back("init " + std::to_string(index));
        if (index < 0)
            return 1;
        selected = index;
        return failText.empty() ? 1 : 0;
    }
    std::string lastErrorText() const override { return failText; }
    void stopCapture() override { calls.emplace_back("stop"); }
    void stopAndSave() override { calls.emplace_back("stopAndSave"); }
    int adapterCount() const override { return static_cast<int>(adapters.size()); }
    std::string adapterDescription(int i) const override { return adapters.at(std::size_t(i)); }
    int selectedIndex() const override { return selected; }
    std::string selectedAdapterName() const override { return adapterName(selected); }
    void clearCategory(int category) override {
        calls.push_back("clear " + std::to_string(category));
    }
    std::optional<AppRecords> appsValue;
    std::vector<AppUsage> appTotalsValue;
    std::optional<AppRecords> appRecords() const override { return appsValue; }
    std::vector<AppUsage> appTotals() const override { return appTotalsValue; }
    StatRecords recordsValue;
    mutable int snapshots = 0;
    StatRecords records() const override {
        ++snapshots;
        return recordsValue;
    }
    HourRecords hoursValue;
    HourRecords hours() const override { return hoursValue; }
    // The interface names are the descriptions here.
    std::string adapterName(int i) const override {
        return i >= 0 && i < static_cast<int>(adapters.size())
                   ? adapters[static_cast<std::size_t>(i)]
                   : std::string{};
    }
    bool followRoute = false; // off: no "Automatic" entry, as before
    std::string route;
    std::string defaultRouteInterface() const override { return route; }
    bool canFollowDefaultRoute() const override { return followRoute; }
};

// Everything the program takes from the operating system, faked.
class FakePlatform {
public:
    TempDir dir;
    TempPaths paths{dir.path()};
    FakeClock clock;
    FakeSettingsStore settings;
    FakeAutostart autostart;
    FakeInterfaceTable interfaces;
    FakeAdapterSource adapters;
    FakeCaptureFactory capture;
    FakeIcmpFactory icmp{clock};
    FakeNetworkSettings networkSettings;

    PlatformServices services() {
        PlatformServices s;
        s.clock = &clock;
        s.paths = &paths;
        s.settings = &settings;
        s.autostart = &autostart;
        s.interfaces = &interfaces;
        s.adapters = &adapters;
        s.capture = &capture;
        s.icmp = &icmp;
        s.networkSettings = &networkSettings;
        s.files = m_real->services().files;
        return s;
    }
    std::filesystem::path dataFile(const std::string& name) const {
        return paths.dataDirectory() / name;
    }

private:
    std::unique_ptr<Platform> m_real = createPlatform();
};

} // namespace tn::test
