#pragma once
#include "platform/capture_device.h"

namespace tn {

// Capture through libpcap: live interfaces and capture files alike.
class PcapCaptureFactory final : public ICaptureFactory {
public:
    // libpcap's TPACKET_V3 ring is cut into blocks of at least 256 KiB; a ring of only two
    // blocks (the driver's 512 KiB) overflows while one block is being handed over, so a live
    // capture never gets a smaller ring than this.
    static constexpr int kMinRingBytes = 4 * 1024 * 1024;
    // A TPACKET_V3 slot holds the frame header (48 bytes), the link address (20) and the
    // captured bytes, aligned to 16.
    static constexpr int kSlotOverheadBytes = 48 + 20;
    // The ring holds about one second of the fastest small-frame stream a veth delivers on a
    // two-core machine (about 300,000 frames a second, bench/load_vs_peers.sh), so that a burst
    // is absorbed while the reading thread waits for the processor. The filter cuts those frames
    // to their headers (112-byte slots), so 32 MiB hold that second; no capture takes more, since
    // the kernel charges the ring to nobody's memory limit.
    static constexpr int kBurstFrames = 300000;
    static constexpr int kMaxRingBytes = 32 * 1024 * 1024;
    // A capture that grows under load holds this much at rest: at the onset of a flood it
    // lasts the moments the large ring takes to be set up, if it is read meanwhile.
    static constexpr int kRestRingBytes = kMinRingBytes;
    static constexpr int ringBytesFor(int snapLength) {
        const int slot = (kSlotOverheadBytes + snapLength + 15) / 16 * 16;
        const int burst = slot * kBurstFrames > kMinRingBytes ? slot * kBurstFrames : kMinRingBytes;
        return burst < kMaxRingBytes ? burst : kMaxRingBytes;
    }

    // How long a reader usually lets frames gather in the ring while they flow.
    static constexpr std::chrono::milliseconds kGather{100};
    // How soon a quarter of a ring of `ringBytes` fills at the rate of `batchBytes` of slots
    // that gathered during `gathered`: the rest is for a rate that rose since and for a reader
    // that the scheduler wakes late. No bound when the batch tells no rate.
    static std::chrono::milliseconds gatherAtMost(std::size_t ringBytes, std::size_t batchBytes,
                                                  std::chrono::nanoseconds gathered);

    std::unique_ptr<ICaptureDevice> openLive(const std::string& name, const CaptureOptions& options,
                                             CaptureOpenStatus& status,
                                             std::string& reason) override;
    std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path& file,
                                             std::string& reason) override;
    std::string libraryVersion() const override;
};

} // namespace tn
