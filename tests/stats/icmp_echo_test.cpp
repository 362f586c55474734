#include "stats/icmp_echo.h"

#include "support/fake_icmp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace tn {
namespace {

// The one's-complement sum of a message read as big-endian words, as a receiver on the wire
// checks it: a correct checksum makes it 0xFFFF.
std::uint16_t wireSum(const std::vector<std::uint8_t>& m) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < m.size(); i += 2)
        sum += (static_cast<std::uint32_t>(m[i]) << 8) | (i + 1 < m.size() ? m[i + 1] : 0u);
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

std::vector<std::uint8_t> machine16(std::uint16_t v) {
    std::vector<std::uint8_t> b(2);
    std::memcpy(b.data(), &v, 2);
    return b;
}

// An ICMP message of 12 bytes plus filler, optionally behind a 20-byte IP header.
std::vector<std::uint8_t> datagram(bool ipHeader, std::uint8_t type, std::uint16_t id,
                                   std::uint16_t seq, std::size_t filler = 4) {
    std::vector<std::uint8_t> d;
    if (ipHeader) {
        d = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, 1, 0, 0, 198, 18, 0, 2, 198, 18, 0, 1};
    }
    d.push_back(type);
    d.push_back(0);
    d.push_back(0);
    d.push_back(0);
    const auto idb = machine16(id);
    const auto seqb = machine16(seq);
    d.insert(d.end(), idb.begin(), idb.end());
    d.insert(d.end(), seqb.begin(), seqb.end());
    d.insert(d.end(), 4 + filler, 0x45);
    return d;
}

TEST(InternetChecksum, MatchesHandComputedValues) {
    // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to 0x2ddf0, folded 0xddf2; the
    // complement is 0x220d, sent in that byte order.
    const std::vector<std::uint8_t> even = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(machine16(internetChecksum(even)), (std::vector<std::uint8_t>{0x22, 0x0d}));
    // 0x0102 + 0x0300 (odd byte padded with zero) = 0x0402, complement 0xfbfd.
    const std::vector<std::uint8_t> odd = {0x01, 0x02, 0x03};
    EXPECT_EQ(machine16(internetChecksum(odd)), (std::vector<std::uint8_t>{0xfb, 0xfd}));
    // Carries fold back: 0xffff + 0xffff = 0x1fffe -> 0xffff, complement 0.
    const std::vector<std::uint8_t> carry = {0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(internetChecksum(carry), 0);
}

TEST(EchoRequest, HasTheFieldsInMachineOrderAndAValidChecksum) {
    const auto m = buildEchoRequest(0x5678, 7, 0xAABBCCDD, 32);
    ASSERT_EQ(m.size(), 44u);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[1], 0);
    std::vector<std::uint8_t> fields(m.begin() + 4, m.begin() + 12);
    std::vector<std::uint8_t> expected = machine16(0x5678);
    const auto seq = machine16(7);
    expected.insert(expected.end(), seq.begin(), seq.end());
    const std::uint32_t tick = 0xAABBCCDD;
    expected.resize(8);
    std::memcpy(expected.data() + 4, &tick, 4);
    EXPECT_EQ(fields, expected);
    for (std::size_t i = 12; i < m.size(); ++i)
        ASSERT_EQ(m[i], 0x45) << i;
    EXPECT_EQ(wireSum(m), 0xFFFF);
}

TEST(EchoRequest, DataSizeIsCutTo1024AndNeverBelowZero) {
    const auto big = buildEchoRequest(1, 0, 0, 2000);
    EXPECT_EQ(big.size(), 1036u);
    EXPECT_EQ(wireSum(big), 0xFFFF);
    const auto odd = buildEchoRequest(0xffff, 0xffff, 0xffffffff, 33);
    EXPECT_EQ(odd.size(), 45u);
    EXPECT_EQ(wireSum(odd), 0xFFFF);
    EXPECT_EQ(buildEchoRequest(1, 0, 0, -5).size(), 12u);
}

TEST(ReplyCheck, ClassifiesCraftedDatagrams) {
    const std::uint16_t id = 0x5678;
    auto check = [&](const std::vector<std::uint8_t>& d, bool ip = true) {
        return checkEchoReply(d, ip, id, 0);
    };
    EXPECT_EQ(check({}), ReplyCheck::Short);
    auto reply = datagram(true, 0, id, 0, 0);
    EXPECT_EQ(check(reply), ReplyCheck::Reply);
    reply.pop_back(); // 31 bytes: one short of the header plus 12
    EXPECT_EQ(check(reply), ReplyCheck::Short);

    auto farHeader = datagram(true, 0, id, 0, 36);
    farHeader[0] = 0x4F; // a 60-byte header in a 68-byte datagram
    EXPECT_EQ(check(farHeader), ReplyCheck::Short);

    EXPECT_EQ(check(datagram(true, 0, 0x1234, 0)), ReplyCheck::OtherIdentifier);
    EXPECT_EQ(check(datagram(true, 0, id, 1)), ReplyCheck::OtherSequence);
    EXPECT_EQ(check(datagram(true, 3, id, 0)), ReplyCheck::NotReply);
    EXPECT_EQ(check(datagram(true, 8, id, 0)), ReplyCheck::OwnRequest);
    EXPECT_EQ(check(datagram(true, 0, id, 0)), ReplyCheck::Reply);
    // Another program's request carries another identifier and is ignored before its type.
    EXPECT_EQ(check(datagram(true, 8, 0x1111, 0)), ReplyCheck::OtherIdentifier);
}

TEST(ReplyCheck, DatagramSocketMessagesHaveNoIpHeader) {
    const auto bare = datagram(false, 0, 0xBEEF, 0, 0);
    EXPECT_EQ(checkEchoReply(bare, false, 0xBEEF, 0), ReplyCheck::Reply);
    // Read as an IP header, its first byte (type 0) would give a 0-byte header.
    EXPECT_EQ(checkEchoReply(std::span(bare.data(), 11), false, 0xBEEF, 0), ReplyCheck::Short);
    EXPECT_EQ(checkEchoReply(bare, false, 0x5678, 0), ReplyCheck::OtherIdentifier);
}

class IcmpEchoTest : public ::testing::Test {
protected:
    test::FakeClock clock;
    test::FakeIcmpFactory icmp{clock};
    EchoParams params;
    EchoReply reply;
    EchoError error;
    static constexpr std::uint16_t kOwnId = 0x5678; // low half of the fake pid 0x12345678

    void SetUp() override { params.host = "198.18.0.2"; }
    bool run() { return icmpEcho(icmp, clock, params, reply, error); }
    void queue(std::vector<std::uint8_t> bytes, Ipv4Address from = {{198, 18, 0, 2}}) {
        icmp.script.datagrams.push_back({std::move(bytes), from, 0});
    }
};

TEST_F(IcmpEchoTest, ReplyAfterUnrelatedTraffic_Succeeds) {
    clock.tick = 0x01020304;
    icmp.script.nsPerWait = 3'700'000;
    queue(datagram(true, 0, 0x1111, 0)); // another program's reply
    auto shortOne = datagram(true, 0, kOwnId, 0, 0);
    shortOne.resize(25);
    queue(shortOne);                                   // too short
    icmp.script.datagrams.push_back({{}, {}, EAGAIN}); // a failed receive
    queue(datagram(true, 8, kOwnId, 0));               // our own request on loopback
    queue(datagram(true, 0, kOwnId, 0), {{198, 18, 7, 9}});
    ASSERT_TRUE(run()) << error.text;
    EXPECT_EQ(reply.address, (Ipv4Address{{198, 18, 7, 9}}));
    EXPECT_EQ(reply.rttMs, 18); // five waits of 3.7 ms: 18.5 ms, whole milliseconds
    EXPECT_EQ(icmp.resolvedHosts(), std::vector<std::string>{"198.18.0.2"});
    EXPECT_EQ(icmp.script.calls, (std::vector<std::string>{"ttl 100", "tos 0", "send"}));
    EXPECT_EQ(icmp.script.sent, buildEchoRequest(kOwnId, 0, 0x01020304, 32));
    EXPECT_EQ(icmp.script.sentTo, (Ipv4Address{{198, 18, 0, 10}}));
    EXPECT_EQ(icmp.script.waitTimeouts, std::vector<std::uint32_t>(5, 5000u));
}

TEST_F(IcmpEchoTest, NoReply_TimesOutAfterEveryWaitGotTheFullTimeout) {
    params.timeoutMs = 250;
    queue(datagram(true, 0, 0x1111, 0));
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, ETIMEDOUT);
    EXPECT_EQ(error.text, "Connection timed out");
    EXPECT_EQ(icmp.script.waitTimeouts, (std::vector<std::uint32_t>{250, 250}));
}

TEST_F(IcmpEchoTest, MatchingNonReply_Fails) {
    queue(datagram(true, 11, kOwnId, 0));
    queue(datagram(true, 0, kOwnId, 0));
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, EPROTO);
    EXPECT_EQ(error.text, "Protocol error");
}

TEST_F(IcmpEchoTest, DatagramSocket_MatchesTheKernelIdentifier) {
    icmp.script.raw = false;
    icmp.script.kernelId = 0xBEEF;
    queue(datagram(false, 0, kOwnId, 0));
    queue(datagram(false, 0, 0xBEEF, 0));
    ASSERT_TRUE(run()) << error.text;
    EXPECT_TRUE(icmp.script.datagrams.empty());
}

TEST_F(IcmpEchoTest, LocalAddressAndDontFragment_AreApplied) {
    params.localAddress = "10.1";
    params.dontFragment = 1;
    params.timeToLive = 7;
    params.typeOfService = 16;
    queue(datagram(true, 0, kOwnId, 0));
    ASSERT_TRUE(run());
    EXPECT_EQ(icmp.script.calls,
              (std::vector<std::string>{"bind 198.4", "ttl 7", "tos 16", "df", "send"}));
}

TEST_F(IcmpEchoTest, EachFailingStep_ReportsItsOwnError) {
    params.host = "nowhere.invalid";
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, -2);
    EXPECT_EQ(error.text, "Name or service not known");

    params.host = "198.18.0.2";
    icmp.script.openError = EPERM;
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, EPERM);
    EXPECT_EQ(error.text, "Operation not permitted");
    icmp.script.openError = 0;

    params.localAddress = "x";
    icmp.script.bindError = EADDRNOTAVAIL;
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, EADDRNOTAVAIL);
    params.localAddress.clear();

    icmp.script.ttlError = EINVAL;
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_EQ(icmp.script.calls.back(), "ttl 100");
    icmp.script.ttlError = 0;

    icmp.script.sendError = ENETUNREACH;
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, ENETUNREACH);
    EXPECT_EQ(error.text, "Network is unreachable");
    icmp.script.sendError = 0;

    icmp.script.waitError = EBADF;
    EXPECT_FALSE(run());
    EXPECT_EQ(error.code, EBADF);
}

} // namespace
} // namespace tn
