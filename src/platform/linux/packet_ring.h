#pragma once
#include "platform/capture_device.h"
#include "platform/linux/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <linux/filter.h>
#include <memory>
#include <string>
#include <vector>

namespace tn {

// A second packet socket on an Ethernet interface, beside the capture's own (libpcap's), both in
// one fanout group whose program sends every frame to one of them. It holds no ring while
// traffic is light; under load it gets a large one and takes the traffic over, and gives the
// traffic and the memory back when the load is gone. Each frame reaches exactly one of the two
// sockets, so the hand-over neither loses nor repeats a frame.
class PacketRing {
public:
    // Opens the socket (which needs CAP_NET_RAW: call it while the capture may still open
    // sockets), makes `captureFd` the first member of a new group and this socket the second,
    // with the frames still going to `captureFd`. `filter` is the capture's own filter.
    static std::unique_ptr<PacketRing> open(int captureFd, const std::string& interfaceName,
                                            std::vector<sock_filter> filter, int blockTimeoutMs,
                                            std::string& why);
    ~PacketRing();
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    int fd() const { return m_fd.get(); }
    // Allocates and maps a ring of about `bytes`; false (and no ring) when the kernel refuses.
    bool grow(std::size_t bytes);
    // True when every frame the ring got has been read: no finished block, none being filled.
    bool empty() const;
    // Unmaps and frees the ring. Only once no frame is sent here any more.
    void shrink();
    // Sends every frame from now on to this socket (true) or to the capture's (false).
    bool takeTraffic(bool here);
    // Hands out the frames of every block the kernel has finished, in order, as libpcap would
    // (VLAN tag put back into the frame, loopback's outgoing copies left out); returns their
    // number.
    // `slotBytes` grows by the ring space the frames took.
    int read(FrameCallback callback, void* user, int snapLength, std::size_t& slotBytes);
    // The kernel's counters since the socket opened (frames passed by the filter, frames lost).
    CaptureStatistics statistics();

    PacketRing(UniqueFd fd, bool loopback, int blockTimeoutMs); // through open()

private:
    UniqueFd m_fd;
    bool m_loopback;
    std::uint8_t* m_map = nullptr;
    std::size_t m_ringBytes = 0;
    std::size_t m_blockBytes = 0;
    std::size_t m_blocks = 0;
    std::size_t m_next = 0;
    int m_blockTimeoutMs;
    CaptureStatistics m_counted;
    std::vector<std::uint8_t> m_tagged; // a frame with its VLAN tag put back
};

// A packet socket on an Ethernet interface that gets a copy of every TCP segment that opens a
// connection (SYN set), cut by its filter to the headers. It is in no fanout group: the frame
// itself still reaches the capture, which counts it; this copy only tells of the flow early.
class FlowStartSocket {
public:
    // Needs CAP_NET_RAW. `ipv4Bytes` and `snapLength` cut the copies as the capture cuts frames.
    static std::unique_ptr<FlowStartSocket> open(const std::string& interfaceName, int ipv4Bytes,
                                                 int snapLength, std::string& why);
    int fd() const { return m_fd.get(); }
    // Hands out up to `most` of the waiting copies without waiting, as flow starts (wire
    // length 0); returns their number.
    int read(FrameCallback callback, void* user, int most);

    explicit FlowStartSocket(UniqueFd fd) : m_fd(std::move(fd)) {} // through open()

private:
    UniqueFd m_fd;
};

} // namespace tn
