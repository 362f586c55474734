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

    std::unique_ptr<ICaptureDevice> openLive(const std::string& name, const CaptureOptions& options,
                                             CaptureOpenStatus& status,
                                             std::string& reason) override;
    std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path& file,
                                             std::string& reason) override;
    std::string libraryVersion() const override;
};

} // namespace tn
