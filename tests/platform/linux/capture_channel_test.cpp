#include "platform/linux/capture_channel.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tn::channel {
namespace {

Request captureRequest(const std::string& name = "eth0") {
    Request r;
    r.kind = RequestKind::Capture;
    r.interfaceName = name;
    r.snapLength = 64;
    r.kernelBufferBytes = 4 << 20;
    r.readTimeoutMs = 500;
    r.promiscuous = true;
    return r;
}

std::span<const std::uint8_t> view(const std::vector<std::uint8_t>& v) {
    return {v.data(), v.size()};
}

TEST(CaptureChannelRequest, RoundTripKeepsEveryField) {
    const auto m = encodeRequest(captureRequest("veth-a.12"));
    const auto r = decodeRequest(view(m));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, RequestKind::Capture);
    EXPECT_EQ(r->interfaceName, "veth-a.12");
    EXPECT_EQ(r->snapLength, 64u);
    EXPECT_EQ(r->kernelBufferBytes, 4u << 20);
    EXPECT_EQ(r->readTimeoutMs, 500u);
    EXPECT_TRUE(r->promiscuous);

    Request icmp;
    icmp.kind = RequestKind::IcmpSocket;
    icmp.snapLength = icmp.readTimeoutMs = 0;
    const auto back = decodeRequest(view(encodeRequest(icmp)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, RequestKind::IcmpSocket);
    EXPECT_TRUE(back->interfaceName.empty());
}

TEST(CaptureChannelRequest, TruncatedPaddedOrAlteredMessagesAreRejected) {
    const auto good = encodeRequest(captureRequest("eth0"));
    ASSERT_FALSE(good.empty());
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(decodeRequest({good.data(), n})) << "cut to " << n;
    auto longer = good;
    longer.push_back('x');
    EXPECT_FALSE(decodeRequest(view(longer)));
    auto lyingLength = good;
    lyingLength[6] = 3; // says "eth" but carries "eth0"
    EXPECT_FALSE(decodeRequest(view(lyingLength)));
    auto badTag = good;
    badTag[0] = 'X';
    EXPECT_FALSE(decodeRequest(view(badTag)));
    auto badKind = good;
    badKind[4] = 9;
    EXPECT_FALSE(decodeRequest(view(badKind)));
    auto unknownFlag = good;
    unknownFlag[5] |= 0x80;
    EXPECT_FALSE(decodeRequest(view(unknownFlag)));
    auto reserved = good;
    reserved[7] = 1;
    EXPECT_FALSE(decodeRequest(view(reserved)));
}

TEST(CaptureChannelRequest, OutOfBoundsValuesAreRefusedOnBothSides) {
    auto check = [](Request r, const char* what) {
        EXPECT_TRUE(encodeRequest(r).empty()) << what;
        // The same values forged past the encoder are refused by the decoder.
        auto m = encodeRequest(captureRequest("eth0"));
        std::memcpy(m.data() + 8, &r.snapLength, 4);
        std::memcpy(m.data() + 12, &r.kernelBufferBytes, 4);
        std::memcpy(m.data() + 16, &r.readTimeoutMs, 4);
        EXPECT_FALSE(decodeRequest(view(m))) << what;
    };
    Request r = captureRequest();
    r.snapLength = kMaxSnapLength + 1;
    check(r, "snap length too large");
    r = captureRequest();
    r.snapLength = kMinSnapLength - 1;
    check(r, "snap length too small");
    r = captureRequest();
    r.kernelBufferBytes = kMaxKernelBufferBytes + 1;
    check(r, "kernel buffer too large");
    r = captureRequest();
    r.readTimeoutMs = 0;
    check(r, "no read timeout");

    EXPECT_TRUE(encodeRequest(captureRequest("")).empty());
    EXPECT_TRUE(encodeRequest(captureRequest("sixteen-chars-xx")).empty());
    EXPECT_FALSE(encodeRequest(captureRequest("fifteen-chars-x")).empty());
    for (const char* name : {"a/b", "a b", "..", "eth0:1", "\x7f"})
        EXPECT_TRUE(encodeRequest(captureRequest(name)).empty()) << name;
    // A NUL inside the name would cut it short on its way into the kernel.
    auto m = encodeRequest(captureRequest("eth0"));
    m[20 + 1] = 0;
    EXPECT_FALSE(decodeRequest(view(m)));

    Request icmp;
    icmp.kind = RequestKind::IcmpSocket;
    icmp.snapLength = icmp.readTimeoutMs = 0;
    icmp.interfaceName = "eth0";
    EXPECT_TRUE(encodeRequest(icmp).empty()) << "an ICMP request names no interface";
}

TEST(CaptureChannelReply, RoundTripCutsLongReasonsAndRejectsBadLengths) {
    const auto m = encodeReply({ReplyStatus::NoSuchInterface, 0, "no interface is named \"x\""});
    const auto r = decodeReply(view(m));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, ReplyStatus::NoSuchInterface);
    EXPECT_EQ(r->reason, "no interface is named \"x\"");

    const auto longReply = encodeReply({ReplyStatus::OpenFailed, 1, std::string(2000, 'e')});
    const auto cut = decodeReply(view(longReply));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->reason.size(), kMaxReasonText);
    EXPECT_EQ(cut->linkKind, 1);

    for (std::size_t n = 0; n < m.size(); ++n)
        EXPECT_FALSE(decodeReply({m.data(), n}));
    auto badStatus = m;
    badStatus[4] = 99;
    EXPECT_FALSE(decodeReply(view(badStatus)));
    auto longer = m;
    longer.push_back(0);
    EXPECT_FALSE(decodeReply(view(longer)));
}

TEST(CaptureChannelStatistics, RoundTripAndExactSize) {
    const auto m = encodeStatistics({1234567890123ull, 42});
    const auto s = decodeStatistics(view(m));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->received, 1234567890123ull);
    EXPECT_EQ(s->dropped, 42u);
    EXPECT_EQ(kindOf(view(m)), MessageKind::Statistics);
    EXPECT_FALSE(decodeStatistics({m.data(), m.size() - 1}));
    auto longer = m;
    longer.push_back(0);
    EXPECT_FALSE(decodeStatistics(view(longer)));
    EXPECT_TRUE(isStop(view(encodeStop())));
    EXPECT_FALSE(isStop(view(m)));
}

TEST(CaptureChannelBatch, FramesComeBackInOrderAndBatchesStayBounded) {
    BatchWriter w;
    EXPECT_TRUE(w.empty());
    const std::vector<std::uint8_t> a(60, 0xaa), b(20, 0xbb);
    ASSERT_TRUE(w.add(1514, a));
    ASSERT_TRUE(w.add(20, b));
    EXPECT_FALSE(w.add(10, b)) << "more bytes captured than were on the wire";
    EXPECT_FALSE(w.add(9000, std::vector<std::uint8_t>(kMaxSnapLength + 1)));
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> seen;
    ASSERT_TRUE(forEachFrame(w.message(), [&](const FrameView& f) {
        seen.emplace_back(f.wireLength,
                          std::vector<std::uint8_t>(f.captured.begin(), f.captured.end()));
    }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, 1514u);
    EXPECT_EQ(seen[0].second, a);
    EXPECT_EQ(seen[1].first, 20u);
    EXPECT_EQ(seen[1].second, b);

    // A full batch refuses the next record instead of growing past the largest message.
    w.clear();
    const std::vector<std::uint8_t> big(kMaxSnapLength, 1);
    std::size_t added = 0;
    while (w.add(1500, big))
        ++added;
    EXPECT_LE(w.message().size(), kMaxMessage);
    EXPECT_GT(w.message().size() + 8 + big.size(), kMaxMessage);
    std::size_t frames = 0;
    ASSERT_TRUE(validBatch(w.message(), frames));
    EXPECT_EQ(frames, added);
}

TEST(CaptureChannelBatch, MalformedBatchesHandOutNoFrameAtAll) {
    BatchWriter w;
    const std::vector<std::uint8_t> frame(40, 7);
    ASSERT_TRUE(w.add(100, frame));
    ASSERT_TRUE(w.add(100, frame));
    const std::vector<std::uint8_t> good(w.message().begin(), w.message().end());
    int calls = 0;
    auto count = [&](const FrameView&) { ++calls; };
    // Every cut inside a record leaves a truncated one.
    for (std::size_t n = 5; n < good.size(); ++n) {
        if (n == 4 + 8 + 40)
            continue; // the cut between the two records is a valid one-frame batch
        EXPECT_FALSE(forEachFrame(std::span(good.data(), n), count)) << "cut to " << n;
    }
    auto lying = good;
    const std::uint32_t huge = 0xfffffff0u;
    std::memcpy(lying.data() + 4, &huge, 4); // captured length far past the message
    EXPECT_FALSE(forEachFrame(std::span<const std::uint8_t>(lying), count));
    auto overSnap = good;
    const std::uint32_t overSnapLength = kMaxSnapLength + 1;
    std::memcpy(overSnap.data() + 4, &overSnapLength, 4);
    std::memcpy(overSnap.data() + 8, &overSnapLength, 4);
    EXPECT_FALSE(forEachFrame(std::span<const std::uint8_t>(overSnap), count));
    auto wireShorter = good;
    const std::uint32_t ten = 10;
    std::memcpy(wireShorter.data() + 8, &ten, 4);
    EXPECT_FALSE(forEachFrame(std::span<const std::uint8_t>(wireShorter), count));
    std::vector<std::uint8_t> oversized(kMaxMessage + 1, 0);
    std::memcpy(oversized.data(), good.data(), 4);
    EXPECT_FALSE(forEachFrame(std::span<const std::uint8_t>(oversized), count));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(kindOf(std::span<const std::uint8_t>(good)), MessageKind::Batch);
    EXPECT_EQ(kindOf(std::span<const std::uint8_t>(good.data(), 3)), MessageKind::Unknown);
}

} // namespace
} // namespace tn::channel
