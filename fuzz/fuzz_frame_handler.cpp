// The packet handler reads every frame the network delivers. Input:
//   byte 0      bits 0-1: link type (Ethernet, Linux cooked v1, v2, raw IP); bit 2: LAN only;
//               bit 3: an IPv6 address of the adapter follows the ports
//   bytes 1-8   the adapter's address and mask, four octets each (written as dotted text)
//   byte 9      custom ports: count (low 3 bits), then two bytes per port
//   (bit 3)     16 bytes of IPv6 address and one byte of prefix length
//   then frames, each: captured length (1 byte), extra wire bytes (2), minutes the clock moves
//   on before it (1), the captured bytes, with every byte after them poisoned so any read past it
//   is caught.
#include "app/global.h"
#include "capture/frame_layout.h"
#include "capture/ip_stat.h"
#include "platform/platform_services.h"
#include "support/fake_capture.h"
#include "support/fake_clock.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

const auto platform = tn::createPlatform();
constexpr std::size_t kFrameBuffer = 256; // a captured length is one byte

// Selects adapter 0 as opening its device would, without starting a capture worker per input.
class FuzzedStat final : public tn::CIPStat {
public:
    using CIPStat::CIPStat;
    bool selectFirst(tn::LinkKind link) {
        if (buildAdapterList() != 1 || adapterCount() < 1)
            return false;
        m_selected = 0;
        m_selAddress = m_records[0].address;
        m_selMask = m_records[0].mask;
        m_link = link;
        return true;
    }
};

std::string dotted(const std::uint8_t* p) {
    return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." +
           std::to_string(p[3]);
}

// Every category except the custom one (which counts a frame a second time) takes a frame at
// most once, and only a frame that the totals took too. Read through the month totals: each
// counted frame is in a day and in a month, and twelve months cost less to read than 31 days.
std::uint64_t categorySum(const tn::CIPStat& stat) {
    std::uint64_t sum = 0;
    for (int month = 1; month <= tn::CIPStat::kMonths; ++month)
        sum += stat.monthTotal(month) - stat.monthRecord(tn::Direction::Sent, month, tn::kCustom) -
               stat.monthRecord(tn::Direction::Received, month, tn::kCustom);
    return sum;
}

// The fakes and one frame buffer live across inputs; the program's objects are built anew for
// every input in the same storage, so nothing an input did reaches the next one.
struct Fixture {
    tn::test::FakeAdapterSource adapters;
    tn::test::FakeCaptureFactory capture;
    tn::test::FakeClock clock;
    tn::PlatformServices os;
    std::optional<tn::CGlobal> global;
    std::optional<FuzzedStat> stat;
    std::optional<FuzzedStat> cutStat; // the same frames, cut as the capture helper cuts them
    std::vector<std::uint16_t> ports;
    // Frames are copied to its start and the rest is poisoned, so a read past the captured
    // bytes is caught as it would be in a buffer of exactly that size.
    std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(kFrameBuffer);

    Fixture() {
        adapters.adapters = {{"eth0", "Fuzzed NIC", "", ""}};
        os = platform->services();
        os.settings = nullptr;
        os.adapters = &adapters;
        os.capture = &capture;
        os.clock = &clock;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 10)
        return 0;
    static constexpr tn::LinkKind kLinks[] = {tn::LinkKind::Ethernet, tn::LinkKind::LinuxSll,
                                              tn::LinkKind::LinuxSll2, tn::LinkKind::RawIp};
    const tn::LinkKind link = kLinks[data[0] & 3];
    const int lanOnly = (data[0] >> 2) & 1;

    static Fixture f;
    // Everything an input allocated is freed before it returns, so that libFuzzer's leak check
    // after each input keeps working.
    struct Reset {
        Fixture& f;
        ~Reset() {
            f.cutStat.reset();
            f.stat.reset();
            f.global.reset();
        }
    } reset{f};
    f.adapters.adapters[0].addressText = dotted(data + 1);
    f.adapters.adapters[0].maskText = dotted(data + 5);
    f.clock.nowValue = 1773741600; // 2026-03-17 10:00 UTC
    tn::CGlobal& global = f.global.emplace(f.os);

    std::size_t pos = 10;
    const std::size_t portCount = data[9] & 7u;
    f.ports.clear();
    for (std::size_t i = 0; i < portCount && pos + 2 <= size; ++i, pos += 2)
        f.ports.push_back(static_cast<std::uint16_t>(data[pos] << 8 | data[pos + 1]));
    global.replaceCustomPorts(f.ports);

    FuzzedStat& stat = f.stat.emplace(global, f.clock);
    FuzzedStat& cutStat = f.cutStat.emplace(global, f.clock);
    if (!stat.selectFirst(link) || !cutStat.selectFirst(link))
        return 0;
    stat.setLanOnly(lanOnly);
    cutStat.setLanOnly(lanOnly);
    if ((data[0] & 8) != 0 && pos + 17 <= size) {
        tn::Ipv6Address a;
        std::copy(data + pos, data + pos + 16, a.address.begin());
        a.prefixLength = data[pos + 16];
        stat.setIpv6Addresses({a});
        cutStat.setIpv6Addresses({a});
        pos += 17;
    }

    std::uint64_t wire = 0;
    std::uint8_t* const frame = f.frame.data();
    while (pos + 4 <= size) {
        const std::size_t captured = std::min<std::size_t>(data[pos], size - pos - 4);
        const std::uint32_t extra = static_cast<std::uint32_t>(data[pos + 1] << 8 | data[pos + 2]);
        f.clock.nowValue += 60 * static_cast<std::int64_t>(data[pos + 3]);
        pos += 4;
        ASAN_UNPOISON_MEMORY_REGION(frame, kFrameBuffer);
        std::copy(data + pos, data + pos + captured, frame);
        ASAN_POISON_MEMORY_REGION(frame + captured, kFrameBuffer - captured);
        pos += captured;
        tn::CaptureHeader header;
        header.capturedLength = static_cast<std::uint32_t>(captured);
        header.wireLength = static_cast<std::uint32_t>(captured) + extra;
        stat.batchStarting();
        stat.packetHandler(header, frame);
        wire += header.wireLength;
        // The helper's cut: the handler must not read past it, nor count differently.
        const std::uint32_t cut = tn::frame::accountedBytes(link, frame, header.capturedLength);
        if (cut > header.capturedLength)
            __builtin_trap();
        ASAN_POISON_MEMORY_REGION(frame + cut, kFrameBuffer - cut);
        header.capturedLength = cut;
        cutStat.batchStarting();
        cutStat.packetHandler(header, frame);
    }
    ASAN_UNPOISON_MEMORY_REGION(frame, kFrameBuffer);

    // No frame counts more than the wire carried; every counted byte was counted in a total.
    const std::uint64_t totals = stat.totalReceived() + stat.totalSent();
    if (totals > wire)
        __builtin_trap();
    if (categorySum(stat) > totals)
        __builtin_trap();
    if (cutStat.totalReceived() != stat.totalReceived() ||
        cutStat.totalSent() != stat.totalSent() || !(cutStat.snapshot() == stat.snapshot()))
        __builtin_trap();
    return 0;
}
