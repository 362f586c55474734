#include "capture/packet.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tn {

Ipv6Set::Ipv6Set(const std::vector<Ipv6Address>& addresses) {
    for (const Ipv6Address& a : addresses) {
        self.push_back(load(a.address.data()));
        std::array<std::uint8_t, 16> mask{};
        const int bits = std::min(std::max(a.prefixLength, 0), 128);
        for (int i = 0; i < bits; ++i)
            mask[static_cast<std::size_t>(i / 8)] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
        Net n;
        n.mask = load(mask.data());
        n.net = load(a.address.data());
        n.net.hi &= n.mask.hi;
        n.net.lo &= n.mask.lo;
        // A /128 (a host route such as a DHCPv6 address) adds no neighbours; addresses that
        // share a prefix (a temporary beside the stable one) need it once.
        const bool known = std::any_of(nets.begin(), nets.end(), [&n](const Net& m) {
            return m.net.hi == n.net.hi && m.net.lo == n.net.lo && m.mask.hi == n.mask.hi &&
                   m.mask.lo == n.mask.lo;
        });
        if (bits > 0 && bits < 128 && !known)
            nets.push_back(n);
    }
}

void CPacket::setIpv6Addresses(const std::vector<Ipv6Address>& addresses) {
    std::lock_guard lock(m_ipv6Mutex);
    if (m_ipv6Published && addresses == m_ipv6Addresses)
        return;
    m_ipv6Addresses = addresses;
    m_ipv6Published = std::make_shared<const Ipv6Set>(addresses);
    m_ipv6Version.fetch_add(1, std::memory_order_release);
}

void CPacket::refreshIpv6Addresses() {
    const std::string name = selectedAdapterName();
    std::vector<Ipv6Address> addresses;
    if (m_source && !name.empty() && m_source->ipv6Addresses(name, addresses))
        setIpv6Addresses(addresses);
}

void CPacket::takeIpv6() {
    std::lock_guard lock(m_ipv6Mutex);
    m_ipv6Seen = m_ipv6Version.load(std::memory_order_relaxed);
    if (m_ipv6Published)
        m_ipv6Worker = m_ipv6Published;
}

CPacket::CPacket(IAdapterSource* adapters, ICaptureFactory* capture)
    : CNetAdapter(adapters), m_factory(capture) {}

CPacket::~CPacket() {
    closeAll();
}

int CPacket::open(int index, int userBufferBytes, int kernelBufferBytes, int promiscuous) {
    if (index < 0 || index >= adapterCount()) {
        m_lastError = "No valid adapter found!";
        return 0;
    }
    if (hasThread())
        stop(1000); // a second device must not be opened under a running worker
    m_selected = index;
    const AdapterRecord& rec = m_records[static_cast<std::size_t>(index)];
    CaptureOptions options;
    options.kernelBufferBytes = kernelBufferBytes;
    options.promiscuous = promiscuous != 0;
    options.readTimeoutMs = kReadTimeoutMs;
    options.flowStarts = m_flowStarts;
    options.snapLength = kSnapLength;
    options.ipv4Bytes = kIpv4ReadBytes;
    CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
    std::string reason;
    std::unique_ptr<ICaptureDevice> device;
    if (m_factory)
        device = m_factory->openLive(rec.name, options, status, reason);
    if (!device && status == CaptureOpenStatus::KernelBufferFailed) {
        m_lastError = "Not enough memory for kernel buffer!";
        return 0;
    }
    if (!device) {
        m_lastError = "Could not open Adapter: " + rec.description +
                      " [index =" + std::to_string(index) + "] in CPacket::Open()";
        if (!reason.empty())
            m_lastError += "\n" + reason;
        return 0;
    }
    if (userBufferBytes <= 0) {
        m_lastError = "Not enough memory for packet buffer";
        return 0;
    }
    return startOn(index, std::move(device));
}

int CPacket::openFile(int index, const std::filesystem::path& file) {
    if (index < 0 || index >= adapterCount()) {
        m_lastError = "No valid adapter found!";
        return 0;
    }
    if (hasThread())
        stop(1000);
    m_selected = index;
    std::string reason;
    std::unique_ptr<ICaptureDevice> device =
        m_factory ? m_factory->openFile(file, reason) : nullptr;
    if (!device) {
        m_lastError = "Could not open capture file " + file.string();
        if (!reason.empty())
            m_lastError += "\n" + reason;
        return 0;
    }
    return startOn(index, std::move(device));
}

int CPacket::startOn(int index, std::unique_ptr<ICaptureDevice> device) {
    const AdapterRecord& rec = m_records[static_cast<std::size_t>(index)];
    m_selAddress = rec.address;
    m_selMask = rec.mask;
    setIpv6Addresses(rec.ipv6);
    m_link = device->linkKind();
    if (m_devices.size() < m_records.size())
        m_devices.resize(m_records.size());
    m_devices[static_cast<std::size_t>(index)] = std::move(device);
    m_active = m_devices[static_cast<std::size_t>(index)].get();
    forgetStatistics();
    m_nextStatistics = std::chrono::steady_clock::now();
    start();
    return 1;
}

int CPacket::closeAll() {
    if (hasThread())
        stop(1000);
    m_active = nullptr;
    m_devices.clear();
    forgetStatistics();
    return 1;
}

void CPacket::forgetStatistics() {
    // The next device counts from zero again; what this one dropped stays in the total.
    m_droppedBefore.fetch_add(m_dropped.exchange(0));
    m_received.store(0);
    m_haveStatistics.store(false);
}

bool CPacket::captureStatistics(CaptureStatistics& out) const {
    if (!m_haveStatistics.load())
        return false;
    out.received = m_received.load();
    out.dropped = m_dropped.load();
    return true;
}

void CPacket::takeStatistics() {
    CaptureStatistics st;
    if (!m_active || !m_active->statistics(st))
        return;
    m_received.store(st.received);
    m_dropped.store(st.dropped);
    m_haveStatistics.store(true);
}

bool CPacket::refreshKeepingCapture() {
    if (!m_active || m_selected < 0 || m_selected >= adapterCount())
        return false;
    const AdapterRecord watched = m_records[static_cast<std::size_t>(m_selected)];
    if (!buildAdapterList())
        return false;
    for (int i = 0; i < adapterCount(); ++i) {
        const AdapterRecord& r = m_records[static_cast<std::size_t>(i)];
        if (r.index == watched.index && r.name == watched.name && r.address == watched.address &&
            r.mask == watched.mask) {
            // The open device keeps its slot: only closeAll() releases it.
            m_selected = i;
            return true;
        }
    }
    return false;
}

std::string CPacket::captureLibraryVersion() const {
    return m_factory ? m_factory->libraryVersion() : std::string();
}

void CPacket::onFrame(void* user, const CaptureHeader& header, const std::uint8_t* frame) {
    auto* self = static_cast<CPacket*>(user);
    if (self->m_newBatch) {
        // The time is taken once the read has returned: on an idle link the read may have
        // waited for hours before this frame came.
        self->m_newBatch = false;
        self->batchStarting();
    }
    self->packetHandler(header, frame);
}

void CPacket::run() {
    while (runFlag()) {
        if (!m_active)
            break;
        m_newBatch = true;
        const int n = m_active->dispatch(&CPacket::onFrame, this);
        batchEnded();
        if (const auto now = std::chrono::steady_clock::now(); now >= m_nextStatistics) {
            m_nextStatistics = now + std::chrono::milliseconds(kStatisticsPeriodMs);
            takeStatistics();
        }
        if (n == ICaptureDevice::kEndOfFile)
            break;
        // A device that fails at once (interface gone down) would otherwise spin the core.
        if (n == ICaptureDevice::kReadError && !waitWhileRunning(kReadTimeoutMs))
            break;
    }
    takeStatistics(); // what the last second dropped
}

bool CPacket::waitWhileRunning(int ms) {
    std::unique_lock lock(m_idleMutex);
    return !m_idle.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !runFlag(); });
}

void CPacket::wakeUp() {
    if (m_active)
        m_active->breakLoop();
    std::lock_guard lock(m_idleMutex);
    m_idle.notify_all();
}

} // namespace tn
