#include "platform/linux/capture_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/linux/unique_fd.h"

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
    r.flowStarts = true;
    return r;
}

Request echoRequest() {
    Request r;
    r.kind = RequestKind::Echo;
    const std::uint8_t to[4] = {198, 18, 0, 1};
    const std::uint8_t from[4] = {198, 18, 0, 2};
    std::memcpy(r.echo.destination, to, 4);
    std::memcpy(r.echo.source, from, 4);
    r.echo.identifier = 0x1234;
    r.echo.sequence = 7;
    r.echo.tick = 0xdeadbeef;
    r.echo.timeToLive = 3;
    r.echo.typeOfService = 0x10;
    r.echo.dontFragment = true;
    r.echo.dataSize = kMaxEchoData;
    r.echo.waitMs = 250;
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
    EXPECT_TRUE(r->flowStarts);

    const Request echo = echoRequest();
    const auto back = decodeRequest(view(encodeRequest(echo)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, RequestKind::Echo);
    EXPECT_TRUE(back->interfaceName.empty());
    EXPECT_EQ(std::memcmp(back->echo.destination, echo.echo.destination, 4), 0);
    EXPECT_EQ(std::memcmp(back->echo.source, echo.echo.source, 4), 0);
    EXPECT_EQ(back->echo.identifier, 0x1234);
    EXPECT_EQ(back->echo.sequence, 7);
    EXPECT_EQ(back->echo.tick, 0xdeadbeefu);
    EXPECT_EQ(back->echo.timeToLive, 3);
    EXPECT_EQ(back->echo.typeOfService, 0x10);
    EXPECT_TRUE(back->echo.dontFragment);
    EXPECT_EQ(back->echo.dataSize, kMaxEchoData);
    EXPECT_EQ(back->echo.waitMs, 250u);

    EchoAnswer a;
    a.error = 0;
    a.from[0] = 198;
    a.identifier = 0x1234;
    a.sequence = 7;
    a.dataSize = 32;
    const auto answer = decodeEchoAnswer(view(encodeEchoAnswer(a)));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->from[0], 198);
    EXPECT_EQ(answer->dataSize, 32);
    a.dataSize = kMaxEchoData + 1;
    EXPECT_FALSE(decodeEchoAnswer(view(encodeEchoAnswer(a)))) << "more data than any request";
    a.dataSize = 0;
    a.error = -1;
    EXPECT_FALSE(decodeEchoAnswer(view(encodeEchoAnswer(a))));
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
    // The byte that once asked for an IPv4 cut length: the helper cuts as it sees fit.
    auto reserved = good;
    reserved[7] = 24;
    EXPECT_FALSE(decodeRequest(view(reserved)));
    // The retired request for a raw ICMP socket.
    auto socketRequest = good;
    socketRequest[4] = 2;
    EXPECT_FALSE(decodeRequest(view(socketRequest)));

    const auto echo = encodeRequest(echoRequest());
    for (std::size_t n = 0; n < echo.size(); ++n)
        EXPECT_FALSE(decodeRequest({echo.data(), n})) << "echo cut to " << n;
    auto echoLonger = echo;
    echoLonger.push_back(0);
    EXPECT_FALSE(decodeRequest(view(echoLonger))) << "no payload of the caller's travels";
    auto echoNamed = echo;
    echoNamed[6] = 1;
    EXPECT_FALSE(decodeRequest(view(echoNamed)));
    auto echoFlag = echo;
    echoFlag[5] |= 0x02;
    EXPECT_FALSE(decodeRequest(view(echoFlag)));
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
    r = captureRequest();
    r.kernelBufferBytes = 256u << 20;
    check(r, "the kernel ring an earlier helper allowed");

    EXPECT_TRUE(encodeRequest(captureRequest("")).empty());
    EXPECT_TRUE(encodeRequest(captureRequest("sixteen-chars-xx")).empty());
    EXPECT_FALSE(encodeRequest(captureRequest("fifteen-chars-x")).empty());
    for (const char* name : {"a/b", "a b", "..", "eth0:1", "\x7f"})
        EXPECT_TRUE(encodeRequest(captureRequest(name)).empty()) << name;
    // A NUL inside the name would cut it short on its way into the kernel.
    auto m = encodeRequest(captureRequest("eth0"));
    m[20 + 1] = 0;
    EXPECT_FALSE(decodeRequest(view(m)));

    // Echo fields out of bounds, on both sides (offsets of the fixed echo message).
    struct EchoCase {
        const char* what;
        std::function<void(EchoRequest&)> set;
        std::size_t offset;
        std::vector<std::uint8_t> forged;
    };
    const std::vector<EchoCase> echoCases = {
        {"time to live 0", [](EchoRequest& e) { e.timeToLive = 0; }, 24, {0}},
        {"more data than any probe sends",
         [](EchoRequest& e) { e.dataSize = kMaxEchoData + 1; },
         26,
         {0x01, 0x04}},
        {"no wait", [](EchoRequest& e) { e.waitMs = 0; }, 28, {0, 0, 0, 0}},
        {"a wait past the longest",
         [](EchoRequest& e) { e.waitMs = kMaxEchoWaitMs + 1; },
         28,
         {0x61, 0xea, 0, 0}},
    };
    for (const EchoCase& c : echoCases) {
        Request e = echoRequest();
        c.set(e.echo);
        EXPECT_TRUE(encodeRequest(e).empty()) << c.what;
        auto forged = encodeRequest(echoRequest());
        std::memcpy(forged.data() + c.offset, c.forged.data(), c.forged.size());
        EXPECT_FALSE(decodeRequest(view(forged))) << c.what;
    }
    Request named = echoRequest();
    named.interfaceName = "eth0";
    EXPECT_TRUE(encodeRequest(named).empty()) << "an echo request names no interface";
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

// A flow start carries a ring record's worth of headers at most: the window keeps each one it
// reads until its next look, and takes nothing larger or empty.
TEST(CaptureChannelFlowStart, HeadersWithinARecordsBoundRoundTripAndNothingElse) {
    const std::vector<std::uint8_t> headers(58, 0x45);
    const auto m = encodeFlowStart(view(headers));
    EXPECT_EQ(kindOf(view(m)), MessageKind::FlowStart);
    const auto back = decodeFlowStart(view(m));
    ASSERT_TRUE(back);
    EXPECT_TRUE(std::equal(back->begin(), back->end(), headers.begin(), headers.end()));

    const std::vector<std::uint8_t> most(kMaxSnapLength, 1);
    EXPECT_TRUE(decodeFlowStart(view(encodeFlowStart(view(most)))));
    EXPECT_TRUE(encodeFlowStart(view(std::vector<std::uint8_t>(kMaxSnapLength + 1))).empty());
    EXPECT_TRUE(encodeFlowStart({}).empty());
    auto tooLong = encodeFlowStart(view(most));
    tooLong.push_back(0);
    EXPECT_FALSE(decodeFlowStart(view(tooLong)));
    EXPECT_FALSE(decodeFlowStart({m.data(), 4})) << "a tag alone";
    EXPECT_FALSE(decodeFlowStart(view(encodeReady())));
}

// The window's ring and the helper's view of it: one memory file, two mappings.
struct RingPair {
    FrameRing reader;
    FrameRing writer;
    UniqueFd fd;
    std::uint8_t* raw = nullptr; // a third mapping, for what a broken peer could write

    RingPair() {
        int f = -1;
        std::string error;
        if (!reader.create(f, error))
            return;
        fd = UniqueFd(f);
        if (!writer.attach(f, error))
            return;
        void* p = ::mmap(nullptr, FrameRing::kMapBytes, PROT_READ | PROT_WRITE, MAP_SHARED, f, 0);
        raw = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
    }
    ~RingPair() {
        if (raw)
            ::munmap(raw, FrameRing::kMapBytes);
    }
    void poke(std::size_t at, std::uint64_t v) { std::memcpy(raw + at, &v, sizeof v); }
    std::uint64_t peek(std::size_t at) const {
        std::uint64_t v;
        std::memcpy(&v, raw + at, sizeof v);
        return v;
    }
};

std::vector<std::uint8_t> frameBytes(std::uint32_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n % (kMaxSnapLength + 1));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint8_t>(seed * 31 + i);
    return v;
}

TEST(FrameRing, FramesComeBackInOrderOverManyLapsAndAFullRingWaitsForTheReader) {
    RingPair ring;
    ASSERT_TRUE(ring.raw && ring.writer.valid());
    EXPECT_FALSE(ring.writer.add(10, std::vector<std::uint8_t>(20)))
        << "more bytes captured than were on the wire";
    EXPECT_FALSE(ring.writer.add(9000, std::vector<std::uint8_t>(kMaxSnapLength + 1)));

    // Sizes from 0 to the largest, so that records end at every offset and the wrap is met
    // with every amount of room left; three laps and more.
    std::uint32_t written = 0, read = 0;
    bool inOrder = true;
    const auto check = [&](const FrameView& f) {
        const auto expected = frameBytes(read * 7, read);
        inOrder =
            inOrder && f.wireLength == 1000 + read &&
            std::equal(f.captured.begin(), f.captured.end(), expected.begin(), expected.end());
        ++read;
    };
    while (ring.peek(FrameRing::kWrittenAt) <= 3 * FrameRing::kDataBytes) {
        for (int i = 0; i < 5000; ++i, ++written)
            ASSERT_TRUE(ring.writer.add(1000 + written, frameBytes(written * 7, written)));
        EXPECT_FALSE(ring.reader.pending()) << "nothing is seen before it is published";
        EXPECT_TRUE(ring.writer.publish());
        EXPECT_TRUE(ring.reader.pending());
        ASSERT_TRUE(ring.reader.consume(check));
        ASSERT_EQ(read, written);
    }
    EXPECT_TRUE(inOrder);
    EXPECT_GT(ring.peek(FrameRing::kWrittenAt), 3 * FrameRing::kDataBytes);

    // Full: the writer refuses rather than overwrite what the reader has not read.
    std::size_t added = 0;
    while (ring.writer.add(5000, frameBytes(200, 1)))
        ++added;
    EXPECT_GT(added, FrameRing::kDataBytes / 220);
    EXPECT_LE(added, FrameRing::kDataBytes / 208);
    EXPECT_FALSE(ring.writer.readerBroken());
    ring.writer.publish();
    std::size_t got = 0;
    ASSERT_TRUE(ring.reader.consume([&](const FrameView&) { ++got; }));
    EXPECT_EQ(got, added);
    EXPECT_TRUE(ring.writer.add(5000, frameBytes(200, 1))) << "room again once read";
}

TEST(FrameRing, AWakeRequestIsTakenOnceAndNeverMadeOverUnreadFrames) {
    RingPair ring;
    ASSERT_TRUE(ring.raw);
    EXPECT_FALSE(ring.writer.takeWakeRequest());
    EXPECT_TRUE(ring.reader.requestWake());
    EXPECT_FALSE(ring.writer.publish()) << "nothing added, nothing published";
    ASSERT_TRUE(ring.writer.add(60, frameBytes(60, 3)));
    EXPECT_TRUE(ring.writer.publish());
    EXPECT_TRUE(ring.writer.takeWakeRequest());
    EXPECT_FALSE(ring.writer.takeWakeRequest());
    // Frames wait: the reader reads them instead of sleeping.
    EXPECT_FALSE(ring.reader.requestWake());
    EXPECT_FALSE(ring.writer.takeWakeRequest());
}

// A peer that breaks the rules, by fault or on purpose: the positions and lengths it wrote are
// checked, nothing is read out of bounds, and nothing past the first bad record is handed out.
TEST(FrameRing, PositionsAndRecordsOutOfBoundsStopTheReadingAtTheFirstBadOne) {
    const auto countAfter = [](const std::function<void(RingPair&)>& damage, bool& ok) {
        RingPair ring;
        if (!ring.raw)
            return -1;
        ring.writer.add(100, frameBytes(40, 1));
        ring.writer.add(100, frameBytes(40, 2));
        ring.writer.publish();
        damage(ring);
        int frames = 0;
        ok = ring.reader.consume([&](const FrameView&) { ++frames; });
        return frames;
    };
    constexpr std::size_t second = FrameRing::kHeaderBytes + 8 + 40; // the second record's head
    bool ok = true;
    EXPECT_EQ(countAfter([](RingPair&) {}, ok), 2);
    EXPECT_TRUE(ok);
    const std::uint32_t huge = 0xfffffff0u, tooLong = kMaxSnapLength + 1, ten = 10;
    EXPECT_EQ(countAfter([&](RingPair& r) { std::memcpy(r.raw + second, &huge, 4); }, ok), 1);
    EXPECT_FALSE(ok) << "captured length past the published bytes";
    EXPECT_EQ(countAfter(
                  [&](RingPair& r) {
                      std::memcpy(r.raw + second, &tooLong, 4);
                      std::memcpy(r.raw + second + 4, &tooLong, 4);
                  },
                  ok),
              1);
    EXPECT_FALSE(ok) << "captured length past the snap length";
    EXPECT_EQ(countAfter([&](RingPair& r) { std::memcpy(r.raw + second + 4, &ten, 4); }, ok), 1);
    EXPECT_FALSE(ok) << "wire length below the captured length";
    EXPECT_EQ(countAfter([](RingPair& r) { r.poke(FrameRing::kWrittenAt, 8 + 40 + 3); }, ok), 1);
    EXPECT_FALSE(ok) << "a published position inside a record";
    EXPECT_EQ(
        countAfter([](RingPair& r) { r.poke(FrameRing::kWrittenAt, 2 * FrameRing::kDataBytes); },
                   ok),
        0);
    EXPECT_FALSE(ok) << "more published than the ring holds";

    // The writer's side: a reader position past what was written, or more than a ring behind.
    for (const bool ahead : {true, false}) {
        RingPair ring;
        ASSERT_TRUE(ring.raw);
        while (ring.peek(FrameRing::kWrittenAt) <= FrameRing::kDataBytes + 4096) {
            ASSERT_TRUE(ring.writer.add(300, frameBytes(200, 1)));
            ring.writer.publish();
            ASSERT_TRUE(ring.reader.consume([](const FrameView&) {}));
        }
        ring.poke(FrameRing::kReadAt, ahead ? std::uint64_t{1} << 40 : 0);
        EXPECT_FALSE(ring.writer.add(300, frameBytes(200, 1))) << ahead;
        EXPECT_TRUE(ring.writer.readerBroken()) << ahead;
    }
}

// The helper gives back the pages the window has read. It must never take unread records or
// the positions with them, and what it gives back must be gone from memory (mincore asks the
// memory file, whichever mapping looks).
TEST(FrameRing, ReleaseGivesBackEveryPageExceptUnreadRecordsAndThePositions) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    struct Case {
        const char* what;
        std::size_t readBefore; // bytes written and read first (in 208-byte records)
        int unread;             // records written after them and left for the reader
        bool readerBehind;      // the window's position moved back more than a ring
    };
    const Case cases[] = {
        {"unread records inside the lap", 3 << 20, 100, false},
        {"unread records across the end of the lap", FrameRing::kDataBytes - 10000, 200, false},
        {"everything read, after more than a lap", FrameRing::kDataBytes + (1 << 20), 0, false},
        {"a reader position more than a ring behind", FrameRing::kDataBytes + (1 << 20), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RingPair ring;
        ASSERT_TRUE(ring.raw);
        while (ring.peek(FrameRing::kWrittenAt) < c.readBefore) {
            ASSERT_TRUE(ring.writer.add(300, frameBytes(200, 1)));
            ring.writer.publish();
            ASSERT_TRUE(ring.reader.consume([](const FrameView&) {}));
        }
        const std::uint64_t read = ring.peek(FrameRing::kWrittenAt);
        for (int i = 0; i < c.unread; ++i)
            ASSERT_TRUE(ring.writer.add(300, frameBytes(200, 1)));
        ring.writer.publish();
        const std::uint64_t written = ring.peek(FrameRing::kWrittenAt);
        if (c.readerBehind)
            ring.poke(FrameRing::kReadAt, 0);

        const auto residency = [&] {
            std::vector<unsigned char> v((FrameRing::kMapBytes + page - 1) / page);
            EXPECT_EQ(::mincore(ring.raw, FrameRing::kMapBytes, v.data()), 0);
            std::transform(v.begin(), v.end(), v.begin(), [](unsigned char b) { return b & 1; });
            return v;
        };
        const std::vector<unsigned char> before = residency();
        const std::size_t released = ring.writer.release();
        const std::vector<unsigned char> after = residency();
        const auto pageOf = [&](std::uint64_t at) {
            return (FrameRing::kHeaderBytes + at % FrameRing::kDataBytes) / page;
        };
        // Which pages hold a byte of [read, written): maybe two stretches, across the lap's end.
        std::vector<bool> unread(after.size());
        for (std::uint64_t at = read; at < written; ++at)
            unread[pageOf(at)] = true;
        std::size_t gone = 0;
        for (std::size_t p = 0; p < after.size(); ++p) {
            gone += before[p] && !after[p] ? 1 : 0;
            if (p == 0 || unread[p] || c.readerBehind) {
                EXPECT_EQ(after[p], before[p]) << "page " << p << " was taken";
            } else if (p != pageOf(read) && p != pageOf(written)) {
                EXPECT_FALSE(after[p]) << "page " << p << " holds only read records";
            }
        }
        if (c.readerBehind) {
            EXPECT_EQ(released, 0u) << "nothing given back on a position out of bounds";
            continue;
        }
        EXPECT_GT(gone, 200u) << "the pages read before were given back";

        int got = 0;
        ASSERT_TRUE(ring.reader.consume([&](const FrameView&) { ++got; }));
        EXPECT_EQ(got, c.unread);
    }
}

TEST(FrameRing, TheHelperMapsOnlyASealedMemoryFileOfTheRingsSize) {
    std::string error;
    FrameRing ring;
    // A plain file of the right size: no seals to keep it from shrinking under the reader.
    char path[] = "/tmp/tn-ring-XXXXXX";
    UniqueFd file(::mkstemp(path));
    ASSERT_GE(file.get(), 0);
    ::unlink(path);
    ASSERT_EQ(::ftruncate(file.get(), FrameRing::kMapBytes), 0);
    EXPECT_FALSE(ring.attach(file.get(), error));
    // A memory file without seals, and one sealed at another size.
    UniqueFd unsealed(::memfd_create("t", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    ASSERT_EQ(::ftruncate(unsealed.get(), FrameRing::kMapBytes), 0);
    EXPECT_FALSE(ring.attach(unsealed.get(), error));
    UniqueFd small(::memfd_create("t", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    ASSERT_EQ(::ftruncate(small.get(), 4096), 0);
    ASSERT_EQ(::fcntl(small.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW), 0);
    EXPECT_FALSE(ring.attach(small.get(), error));
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    UniqueFd in(pipeFds[0]), out(pipeFds[1]);
    EXPECT_FALSE(ring.attach(in.get(), error));
    EXPECT_FALSE(ring.valid());
    // What the window makes is accepted.
    int fd = -1;
    FrameRing made;
    ASSERT_TRUE(made.create(fd, error)) << error;
    UniqueFd owner(fd);
    EXPECT_TRUE(ring.attach(fd, error)) << error;

    EXPECT_EQ(kindOf(view(encodeReady())), MessageKind::Ready);
    EXPECT_TRUE(isReady(view(encodeReady())));
    EXPECT_FALSE(isReady(view(encodeStop())));
}

} // namespace
} // namespace tn::channel
