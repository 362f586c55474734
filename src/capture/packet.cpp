#include "capture/packet.h"

#include <chrono>

namespace tn {

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
    options.snapLength = kSnapLength;
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
