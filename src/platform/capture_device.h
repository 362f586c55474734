#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace tn {

// Where the IPv4 header sits in the frames of a device.
enum class LinkKind {
    Ethernet,  // 14-byte Ethernet header, type at bytes 12-13
    LinuxSll,  // Linux cooked v1: 16-byte header, protocol at bytes 14-15
    LinuxSll2, // Linux cooked v2: 20-byte header, protocol at bytes 0-1
    RawIp,     // no link header: the frame starts with the IP header (tun, WireGuard)
    Unsupported,
};

// The part of a capture record header that the accounting uses.
struct CaptureHeader {
    std::uint32_t capturedLength = 0; // bytes of frame data present
    std::uint32_t wireLength = 0;     // length of the frame on the wire
};
// A header with no wire length announces a flow, not a frame: the headers of a segment that
// opens a TCP connection, seen ahead of its frame, which is still handed out and counted.
inline bool isFlowStart(const CaptureHeader& h) {
    return h.wireLength == 0;
}

// Called once per frame from inside ICaptureDevice::dispatch, on the reading thread.
using FrameCallback = void (*)(void* user, const CaptureHeader& header, const std::uint8_t* frame);

struct CaptureStatistics {
    std::uint64_t received = 0;  // frames the kernel passed to the capture
    std::uint64_t dropped = 0;   // frames dropped because the ring was full
    std::uint64_t ringBytes = 0; // kernel memory the capture's rings hold now
};

struct CaptureOptions {
    int kernelBufferBytes = 524288;
    bool promiscuous = true;
    int readTimeoutMs = 500;
    int snapLength = 128;
    // Bytes from the start of an IPv4 header that the reader needs; a live capture cuts IPv4
    // frames to them where it knows the link header. 0 keeps snapLength for every frame.
    int ipv4Bytes = 0;
    // A live capture may hold a small ring at rest and take `kernelBufferBytes` only while
    // frames come fast, giving it back after `quietMsBeforeShrink` of light traffic.
    bool growUnderLoad = false;
    int quietMsBeforeShrink = 10000;
    // A live Ethernet capture also hands out, at once and ahead of the frames, flow starts (see
    // isFlowStart) for the segments that open TCP connections. Where it cannot (another link,
    // no socket for them), it hands its frames over at least every `quickReadTimeoutMs` instead.
    bool flowStarts = false;
    int quickReadTimeoutMs = 100;
};

// One opened capture source: a live interface or a capture file.
class ICaptureDevice {
public:
    static constexpr int kReadError = -1;
    static constexpr int kBroken = -2;    // woken by breakLoop before any frame
    static constexpr int kEndOfFile = -3; // a capture file has no more frames

    virtual ~ICaptureDevice() = default;
    virtual LinkKind linkKind() const = 0;
    // Reads one batch and calls `callback` for each of its frames; returns the number of
    // frames handled (0 when the read timed out) or one of the negative codes above.
    virtual int dispatch(FrameCallback callback, void* user) = 0;
    // Makes a dispatch that is waiting for frames, or the next one, return at once (kBroken);
    // a dispatch that is handing out a batch hands it out to its end first. Any thread.
    virtual void breakLoop() = 0;
    // Kernel counters of a live capture; false for files or when unknown.
    virtual bool statistics(CaptureStatistics& out) = 0;
    // How long a reader may let frames gather in the kernel's ring at the last batch's rate
    // before it reads again. No bound where nothing is known.
    virtual std::chrono::milliseconds gatherAtMost() const {
        return std::chrono::milliseconds::max();
    }
};

enum class CaptureOpenStatus {
    Ok,
    DeviceFailed,       // the device cannot be opened (no such interface, no permission)
    KernelBufferFailed, // the requested kernel buffer was refused
};

class ICaptureFactory {
public:
    virtual ~ICaptureFactory() = default;
    // Opens a live capture on interface `name`; on failure `reason` may hold the library's text.
    virtual std::unique_ptr<ICaptureDevice> openLive(const std::string& name,
                                                     const CaptureOptions& options,
                                                     CaptureOpenStatus& status,
                                                     std::string& reason) = 0;
    // Opens a capture file written by tcpdump or any pcap writer.
    virtual std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path& file,
                                                     std::string& reason) = 0;
    // The capture library's version text, e.g. "libpcap version 1.10.3 (with TPACKET_V3)".
    virtual std::string libraryVersion() const = 0;
};

} // namespace tn
