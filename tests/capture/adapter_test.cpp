#include "capture/adapter.h"
#include "capture/net_adapter.h"

#include "support/fake_platform.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

TEST(NewStyleLookup, TrimmedCaseInsensitiveEquality) {
    const std::vector<InterfaceRow> rows = {
        {"Realtek PCIe GbE (eth1)", 1, 2, 0},
        {"  intel corporation i219-v (ENP0S31F6)\t", 300, 400, 77},
        {"Intel Corporation I219-V (enp0s31f6)", 5, 6, 0},
    };
    InterfaceReading r;
    ASSERT_TRUE(findNewStyleReading(rows, "Intel Corporation I219-V (enp0s31f6) ", r));
    EXPECT_EQ(r.inOctets, 300u); // the first equal row wins
    EXPECT_EQ(r.outOctets, 400u);
    EXPECT_EQ(r.connectedSeconds, 77u);
    EXPECT_FALSE(findNewStyleReading(rows, "Intel Corporation  I219-V (enp0s31f6)", r));
    EXPECT_EQ(r.inOctets, 0u);
    EXPECT_FALSE(findNewStyleReading(rows, "Realtek", r));
}

TEST(CAdapterTest, FailedRefreshGivesNoReading) {
    test::FakeInterfaceTable t;
    t.rows = {{"eth0", 1, 2, 3}};
    CAdapter a(&t);
    InterfaceReading r;
    EXPECT_EQ(a.findInterfaceReading("eth0", r), 0); // no table before the first refresh
    a.refreshInterfaceTable();
    EXPECT_EQ(a.findInterfaceReading("eth0", r), 1);
    t.ok = false;
    a.refreshInterfaceTable();
    EXPECT_EQ(a.findInterfaceReading("eth0", r), 0);
    EXPECT_EQ(r.inOctets, 0u);
}

TEST(CAdapterTest, WithoutATableNothingIsFound) {
    CAdapter a(nullptr);
    a.refreshInterfaceTable();
    InterfaceReading r;
    EXPECT_EQ(a.findInterfaceReading("eth0", r), 0);
    EXPECT_EQ(a.countAdapters(), 0);
}

// A table that knows when its interfaces changed and can read one of them.
class WatchedTable final : public IInterfaceTable {
public:
    std::vector<InterfaceRow> rows; // the system's current state
    bool changed = false;
    int refreshes = 0;
    std::vector<int> reads;
    bool refresh(std::vector<InterfaceRow>& out) override {
        ++refreshes;
        changed = false;
        out = rows;
        return true;
    }
    int countAdapters() override { return static_cast<int>(rows.size()); }
    bool linksChanged() override { return changed; }
    bool readOne(int index, InterfaceRow& row) override {
        reads.push_back(index);
        for (const InterfaceRow& r : rows)
            if (r.index == index) {
                row.inOctets = r.inOctets;
                row.outOctets = r.outOctets;
                return true;
            }
        return false;
    }
};

TEST(CAdapterTest, UnchangedInterfacesAreReadOneByIndexAndChangesTakeTheWholeTable) {
    WatchedTable t;
    t.rows = {{"eth0", 10, 20, 0, 2}, {"Intel I219-V (enp0s31f6)", 30, 40, 0, 5}};
    CAdapter a(&t);
    InterfaceReading r;
    a.refreshInterfaceTable();
    ASSERT_EQ(a.findInterfaceReading(" intel i219-v (ENP0S31F6) ", r), 1);
    EXPECT_EQ(r.inOctets, 30u);
    EXPECT_EQ(t.refreshes, 1);
    EXPECT_TRUE(t.reads.empty()); // the refresh of this tick brought the counters

    t.rows[1].inOctets = 35;
    t.rows[0].inOctets = 11;
    a.refreshInterfaceTable();
    ASSERT_EQ(a.findInterfaceReading("Intel I219-V (enp0s31f6)", r), 1);
    ASSERT_EQ(a.findInterfaceReading("Intel I219-V (enp0s31f6)", r), 1);
    EXPECT_EQ(r.inOctets, 35u);
    ASSERT_EQ(a.findInterfaceReading("eth0", r), 1);
    EXPECT_EQ(r.inOctets, 11u);
    EXPECT_EQ(t.refreshes, 1);
    EXPECT_EQ(t.reads, (std::vector<int>{5, 2})); // once per interface and tick

    // An interface added: the next tick takes the table again and finds it.
    t.rows.push_back({"wlan0", 7, 8, 0, 9});
    t.changed = true;
    a.refreshInterfaceTable();
    ASSERT_EQ(a.findInterfaceReading("wlan0", r), 1);
    EXPECT_EQ(r.outOctets, 8u);
    EXPECT_EQ(t.refreshes, 2);

    // The interface vanished before its notification was seen: no reading, and the next tick
    // takes the whole table, which no longer has it.
    t.rows.erase(t.rows.begin() + 1);
    a.refreshInterfaceTable();
    EXPECT_EQ(a.findInterfaceReading("Intel I219-V (enp0s31f6)", r), 0);
    EXPECT_EQ(r.inOctets, 0u);
    a.refreshInterfaceTable();
    EXPECT_EQ(t.refreshes, 3);
    EXPECT_EQ(a.findInterfaceReading("Intel I219-V (enp0s31f6)", r), 0);
    EXPECT_EQ(a.findInterfaceReading("eth0", r), 1);
}

TEST(DottedQuad, NetworkOrderAndAllOnesOnBadText) {
    const std::uint32_t a = dottedToAddress("198.18.0.1");
    const auto* b = reinterpret_cast<const unsigned char*>(&a);
    EXPECT_EQ(b[0], 198);
    EXPECT_EQ(b[1], 18);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(dottedToAddress("256.1.1.1"), 0xFFFFFFFFu);
    EXPECT_EQ(dottedToAddress("1.2.3"), 0xFFFFFFFFu);
    EXPECT_EQ(dottedToAddress("1.2.3.4x"), 0xFFFFFFFFu);
    EXPECT_EQ(dottedToAddress(""), 0xFFFFFFFFu);
    EXPECT_EQ(dottedToAddress("0.0.0.0"), 0u);
}

TEST(NetAdapterList, FailureTexts) {
    test::FakeAdapterSource s;
    s.adapters.clear();
    CNetAdapter list(&s);
    const std::pair<AdapterListStatus, const char*> cases[] = {
        {AdapterListStatus::LibraryMissing,
         "Iphlpapi.dll not found on this Operation System. It is "
         "required to handle network adapters."},
        {AdapterListStatus::NoFunction,
         "Could not locate GetAdaptersInfo function  inside Iphlpapi.dll."},
        {AdapterListStatus::NoAdapters,
         "No network adapter information found on the local computer"},
        {AdapterListStatus::NoMemory, "Could not allocate memory for the adapter list!"},
        {AdapterListStatus::ListFailed, "Could not obtain info about adapters!"},
    };
    for (const auto& [status, text] : cases) {
        s.status = status;
        EXPECT_EQ(list.buildAdapterList(), 0);
        EXPECT_EQ(list.lastErrorText(), text);
        EXPECT_EQ(list.adapterCount(), 0);
    }
    s.status = AdapterListStatus::OtherFailure;
    EXPECT_EQ(list.buildAdapterList(), 0);
    EXPECT_EQ(list.lastErrorText(), "Could not obtain info about adapters!"); // unchanged
}

TEST(NetAdapterList, EveryRecordInOrderWithoutALimit) {
    test::FakeAdapterSource s;
    s.adapters.clear();
    for (int i = 0; i < 1000; ++i)
        s.adapters.push_back({"veth" + std::to_string(i), "veth" + std::to_string(i),
                              "198.18." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                              "255.255.255.0", i + 2});
    CNetAdapter list(&s);
    ASSERT_EQ(list.buildAdapterList(), 1);
    EXPECT_EQ(list.adapterCount(), 1000);
    EXPECT_EQ(list.adapterDescription(99), "veth99");
    EXPECT_EQ(list.adapterDescription(999), "veth999");
    EXPECT_EQ(list.adapterDescription(1000), "");
    EXPECT_EQ(list.record(5).addressText, "198.18.0.5");
    EXPECT_EQ(list.record(5).mask, dottedToAddress("255.255.255.0"));
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.selectedAdapterName(), "");
}

TEST(NetAdapterList, DefaultRouteFirstThenUpWithIpv4ThenTheRest) {
    test::FakeAdapterSource s;
    s.adapters.clear();
    const auto add = [&](std::string name, int index, const char* address, bool up, bool dflt) {
        s.adapters.push_back({name, name, address, "255.255.255.0", index, up, dflt});
    };
    add("ifb0", 2, "0.0.0.0", false, false);       // down, virtual: last
    add("docker0", 3, "198.18.1.1", false, false); // has an address but no carrier
    add("wlan0", 9, "198.18.2.7", true, true);     // the default route
    add("veth1", 7, "198.18.3.1", true, false);    // up with an address
    add("tun0", 5, "0.0.0.0", true, false);        // up without IPv4
    add("br0", 4, "198.18.4.1", true, false);      // up with an address, lower index
    CNetAdapter list(&s);
    ASSERT_EQ(list.buildAdapterList(), 1);
    std::vector<std::string> order;
    for (int i = 0; i < list.adapterCount(); ++i)
        order.push_back(list.record(i).name);
    EXPECT_EQ(order,
              (std::vector<std::string>{"wlan0", "br0", "veth1", "ifb0", "docker0", "tun0"}));
}

} // namespace
} // namespace tn
