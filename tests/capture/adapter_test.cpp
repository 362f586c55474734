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

TEST(NetAdapterList, RecordsInOrderCappedAtOneHundred) {
    test::FakeAdapterSource s;
    s.adapters.clear();
    for (int i = 0; i < 120; ++i)
        s.adapters.push_back({"veth" + std::to_string(i), "veth" + std::to_string(i),
                              "198.18.0." + std::to_string(i), "255.255.255.0"});
    CNetAdapter list(&s);
    ASSERT_EQ(list.buildAdapterList(), 1);
    EXPECT_EQ(list.adapterCount(), 100);
    EXPECT_EQ(list.adapterDescription(99), "veth99");
    EXPECT_EQ(list.adapterDescription(100), "");
    EXPECT_EQ(list.record(5).addressText, "198.18.0.5");
    EXPECT_EQ(list.record(5).mask, dottedToAddress("255.255.255.0"));
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.selectedAdapterName(), "");
}

} // namespace
} // namespace tn
