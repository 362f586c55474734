#include "platform/linux/packet_ring.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>

namespace tn {

namespace {

// A block is handed out when it is full or its time-out passed. Blocks of eight pages come from
// the kernel's per-processor lists: libpcap's 256 KiB blocks made the kernel compact memory for
// each of them under a flood (30 to 75 ms of processor time for one 32 MiB ring, against 4 to
// 30 ms now).
constexpr std::size_t kBlockBytes = 32 * 1024;
constexpr std::size_t kVlanTagBytes = 4;
constexpr std::size_t kMacAddressesBytes = 12;

bool attachFilter(int fd, std::vector<sock_filter>& code) {
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

bool joinGroup(int fd, std::uint16_t id, std::uint16_t typeFlags) {
    fanout_args args{};
    args.id = id;
    args.type_flags = typeFlags;
    args.max_num_members = 2; // nobody else joins: a third member would take frames from us
    return ::setsockopt(fd, SOL_PACKET, PACKET_FANOUT, &args, sizeof args) == 0;
}

std::string failed(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// The filter first: a socket bound to every protocol of the interface receives from then on.
bool filterAndBind(int fd, std::vector<sock_filter>& filter, unsigned index, std::string& why) {
    if (!attachFilter(fd, filter)) {
        why = failed("SO_ATTACH_FILTER");
        return false;
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(index);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        why = failed("bind");
        return false;
    }
    return true;
}

} // namespace

PacketRing::PacketRing(UniqueFd fd, bool loopback, int blockTimeoutMs)
    : m_fd(std::move(fd)), m_loopback(loopback), m_blockTimeoutMs(blockTimeoutMs) {}

PacketRing::~PacketRing() {
    if (m_map)
        ::munmap(m_map, m_ringBytes);
}

std::unique_ptr<PacketRing> PacketRing::open(int captureFd, const std::string& interfaceName,
                                             std::vector<sock_filter> filter, int blockTimeoutMs,
                                             std::string& why) {
    const unsigned index = ::if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        why = failed("if_nametoindex");
        return nullptr;
    }
    // Protocol 0: the socket receives nothing until it is bound below.
    UniqueFd fd(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        why = failed("socket");
        return nullptr;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &request) != 0) {
        why = failed("SIOCGIFFLAGS");
        return nullptr;
    }
    const int version = TPACKET_V3;
    if (::setsockopt(fd.get(), SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) {
        why = failed("PACKET_VERSION");
        return nullptr;
    }
    // Bound but not yet in the group, the socket would get a copy of every frame: a filter
    // that keeps none covers that moment.
    std::vector<sock_filter> none = {BPF_STMT(BPF_RET | BPF_K, 0)};
    if (!filterAndBind(fd.get(), none, index, why))
        return nullptr;
    // The capture's socket founds the group; with no program yet, every frame goes to member 0.
    if (!joinGroup(captureFd, 0, PACKET_FANOUT_CBPF | PACKET_FANOUT_FLAG_UNIQUEID)) {
        why = failed("PACKET_FANOUT");
        return nullptr;
    }
    int group = 0;
    socklen_t length = sizeof group;
    if (::getsockopt(captureFd, SOL_PACKET, PACKET_FANOUT, &group, &length) != 0) {
        why = failed("PACKET_FANOUT");
        return nullptr;
    }
    if (!joinGroup(fd.get(), static_cast<std::uint16_t>(group & 0xFFFF), PACKET_FANOUT_CBPF)) {
        why = failed("PACKET_FANOUT (second member)");
        return nullptr;
    }
    auto ring = std::make_unique<PacketRing>(std::move(fd), (request.ifr_flags & IFF_LOOPBACK) != 0,
                                             blockTimeoutMs);
    if (!ring->takeTraffic(false) || !attachFilter(ring->fd(), filter)) {
        why = failed("PACKET_FANOUT_DATA");
        return nullptr;
    }
    return ring;
}

bool PacketRing::grow(std::size_t bytes) {
    if (m_map)
        return true;
    tpacket_req3 request{};
    request.tp_block_size = static_cast<unsigned>(kBlockBytes);
    request.tp_block_nr = static_cast<unsigned>(std::max<std::size_t>(bytes / kBlockBytes, 2));
    request.tp_frame_size = request.tp_block_size;
    request.tp_frame_nr = request.tp_block_nr;
    request.tp_retire_blk_tov = static_cast<unsigned>(m_blockTimeoutMs);
    if (::setsockopt(m_fd.get(), SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return false;
    const std::size_t total = std::size_t{request.tp_block_size} * request.tp_block_nr;
    void* map = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd.get(), 0);
    if (map == MAP_FAILED) {
        const tpacket_req3 none{};
        ::setsockopt(m_fd.get(), SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
        return false;
    }
    m_map = static_cast<std::uint8_t*>(map);
    m_ringBytes = total;
    m_blockBytes = request.tp_block_size;
    m_blocks = request.tp_block_nr;
    m_next = 0;
    return true;
}

void PacketRing::shrink() {
    if (!m_map)
        return;
    ::munmap(m_map, m_ringBytes);
    m_map = nullptr;
    m_ringBytes = 0;
    const tpacket_req3 none{};
    ::setsockopt(m_fd.get(), SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
}

bool PacketRing::empty() const {
    if (!m_map)
        return true;
    // The kernel fills the blocks in turn: the next one to read is finished or being filled.
    auto* block = reinterpret_cast<tpacket_block_desc*>(m_map + m_next * m_blockBytes);
    return (__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) ==
               0 &&
           __atomic_load_n(&block->hdr.bh1.num_pkts, __ATOMIC_ACQUIRE) == 0;
}

bool PacketRing::takeTraffic(bool here) {
    // The group's program names the member: the capture's socket joined first (0), this one
    // second (1). A ring change takes this socket out of the group and back in at the end,
    // where it stays the second.
    sock_filter member = BPF_STMT(BPF_RET | BPF_K, here ? 1u : 0u);
    const sock_fprog program{1, &member};
    return ::setsockopt(m_fd.get(), SOL_PACKET, PACKET_FANOUT_DATA, &program, sizeof program) == 0;
}

int PacketRing::read(FrameCallback callback, void* user, int snapLength, std::size_t& slotBytes) {
    int frames = 0;
    const std::size_t headerBytes = TPACKET_ALIGN(sizeof(tpacket3_hdr));
    while (m_map) {
        auto* block = reinterpret_cast<tpacket_block_desc*>(m_map + m_next * m_blockBytes);
        if ((__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0)
            break;
        const auto* base = reinterpret_cast<const std::uint8_t*>(block);
        std::size_t offset = block->hdr.bh1.offset_to_first_pkt;
        for (std::uint32_t i = 0; i < block->hdr.bh1.num_pkts; ++i) {
            if (offset + headerBytes + sizeof(sockaddr_ll) > m_blockBytes)
                break;
            const auto* h = reinterpret_cast<const tpacket3_hdr*>(base + offset);
            if (h->tp_mac > m_blockBytes - offset ||
                h->tp_snaplen > m_blockBytes - offset - h->tp_mac)
                break;
            const auto* link = reinterpret_cast<const sockaddr_ll*>(base + offset + headerBytes);
            // On loopback every frame passes twice, going out and coming in: libpcap keeps one.
            if (!(m_loopback && link->sll_pkttype == PACKET_OUTGOING)) {
                const std::uint8_t* frame = base + offset + h->tp_mac;
                CaptureHeader header;
                header.capturedLength = h->tp_snaplen;
                header.wireLength = h->tp_len;
                // The kernel took the VLAN tag out of the frame; libpcap puts it back.
                if (((h->tp_status & TP_STATUS_VLAN_VALID) != 0 || h->hv1.tp_vlan_tci != 0) &&
                    h->tp_snaplen >= kMacAddressesBytes) {
                    const std::uint16_t tpid = (h->hv1.tp_vlan_tpid != 0 ||
                                                (h->tp_status & TP_STATUS_VLAN_TPID_VALID) != 0)
                                                   ? h->hv1.tp_vlan_tpid
                                                   : ETH_P_8021Q;
                    const std::uint16_t tag[2] = {
                        htons(tpid), htons(static_cast<std::uint16_t>(h->hv1.tp_vlan_tci))};
                    m_tagged.resize(h->tp_snaplen + kVlanTagBytes);
                    std::memcpy(m_tagged.data(), frame, kMacAddressesBytes);
                    std::memcpy(m_tagged.data() + kMacAddressesBytes, tag, kVlanTagBytes);
                    std::memcpy(m_tagged.data() + kMacAddressesBytes + kVlanTagBytes,
                                frame + kMacAddressesBytes, h->tp_snaplen - kMacAddressesBytes);
                    frame = m_tagged.data();
                    header.capturedLength += kVlanTagBytes;
                    header.wireLength += kVlanTagBytes;
                }
                if (header.capturedLength > static_cast<std::uint32_t>(snapLength))
                    header.capturedLength = static_cast<std::uint32_t>(snapLength);
                callback(user, header, frame);
                ++frames;
            }
            slotBytes += h->tp_next_offset != 0 ? h->tp_next_offset : h->tp_mac + h->tp_snaplen;
            if (h->tp_next_offset == 0)
                break;
            offset += h->tp_next_offset;
        }
        __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        m_next = (m_next + 1) % m_blocks;
    }
    return frames;
}

CaptureStatistics PacketRing::statistics() {
    tpacket_stats_v3 st{};
    socklen_t length = sizeof st;
    // The kernel's counters start again from zero at each look.
    if (::getsockopt(m_fd.get(), SOL_PACKET, PACKET_STATISTICS, &st, &length) == 0) {
        m_counted.received += st.tp_packets;
        m_counted.dropped += st.tp_drops;
    }
    return m_counted;
}

} // namespace tn

namespace tn {

std::unique_ptr<FlowStartSocket> FlowStartSocket::open(const std::string& interfaceName,
                                                       int ipv4Bytes, int snapLength,
                                                       std::string& why) {
    const unsigned index = ::if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        why = failed("if_nametoindex");
        return nullptr;
    }
    // Protocol 0: nothing arrives before the filter is in place and the socket is bound.
    UniqueFd fd(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) {
        why = failed("socket");
        return nullptr;
    }
    const auto cut = [snapLength](int bytes) {
        return static_cast<std::uint32_t>(std::min(bytes, snapLength));
    };
    constexpr std::uint32_t kSyn = 0x02;
    constexpr std::uint32_t kEthernet = 14;
    // IPv4 TCP, first fragment, SYN set; IPv6 TCP right after the fixed header, SYN set.
    std::vector<sock_filter> code = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 7),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kEthernet + 9),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_TCP, 0, 11),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kEthernet + 6),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, 0x1FFF, 9, 0),
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, kEthernet),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, kEthernet + 13),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kSyn, 5, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IPV6, 0, 5),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kEthernet + 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_TCP, 0, 3),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kEthernet + 40 + 13),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kSyn, 2, 1),
        BPF_STMT(BPF_RET | BPF_K, cut(static_cast<int>(kEthernet) + ipv4Bytes)),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, cut(static_cast<int>(kEthernet) + 40 + 4)),
    };
    // Only the headers are wanted, and a burst of connections may lose copies: a small buffer.
    const int bytes = 64 * 1024;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    if (!filterAndBind(fd.get(), code, index, why))
        return nullptr;
    return std::make_unique<FlowStartSocket>(std::move(fd));
}

int FlowStartSocket::read(FrameCallback callback, void* user, int most) {
    std::uint8_t buffer[256];
    int n = 0;
    while (n < most) {
        const ssize_t got = ::recv(m_fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0)
            break;
        CaptureHeader header;
        header.capturedLength = static_cast<std::uint32_t>(got);
        header.wireLength = 0;
        callback(user, header, buffer);
        ++n;
    }
    return n;
}

} // namespace tn
