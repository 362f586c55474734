#include "capture/net_adapter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>

namespace tn {

std::uint32_t dottedToAddress(std::string_view text) {
    std::array<std::uint8_t, 4> octets{};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        unsigned v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc() || next == p || v > 255)
            return 0xFFFFFFFFu;
        octets[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
        p = next;
        if (i < 3) {
            if (p == end || *p != '.')
                return 0xFFFFFFFFu;
            ++p;
        }
    }
    if (p != end)
        return 0xFFFFFFFFu;
    return std::bit_cast<std::uint32_t>(octets);
}

void orderAdapters(std::vector<AdapterInfo>& adapters) {
    const auto group = [](const AdapterInfo& a) {
        if (a.defaultRoute)
            return 0;
        const std::uint32_t address = dottedToAddress(a.addressText);
        return a.up && address != 0 && address != 0xFFFFFFFFu ? 1 : 2;
    };
    std::stable_sort(adapters.begin(), adapters.end(),
                     [&](const AdapterInfo& x, const AdapterInfo& y) {
                         const int gx = group(x);
                         const int gy = group(y);
                         return gx != gy ? gx < gy : x.index < y.index;
                     });
}

CNetAdapter::CNetAdapter(IAdapterSource* source) : m_source(source) {}

int CNetAdapter::buildAdapterList() {
    if (!m_source) {
        m_lastError = "Iphlpapi.dll not found on this Operation System. It is required to handle "
                      "network adapters.";
        return 0;
    }
    m_records.clear();
    std::vector<AdapterInfo> infos;
    switch (m_source->list(infos)) {
    case AdapterListStatus::Ok:
        break;
    case AdapterListStatus::LibraryMissing:
        m_lastError = "Iphlpapi.dll not found on this Operation System. It is required to handle "
                      "network adapters.";
        return 0;
    case AdapterListStatus::NoFunction:
        m_lastError = "Could not locate GetAdaptersInfo function  inside Iphlpapi.dll.";
        return 0;
    case AdapterListStatus::NoAdapters:
        m_lastError = "No network adapter information found on the local computer";
        return 0;
    case AdapterListStatus::NoMemory:
        m_lastError = "Could not allocate memory for the adapter list!";
        return 0;
    case AdapterListStatus::ListFailed:
        m_lastError = "Could not obtain info about adapters!";
        return 0;
    case AdapterListStatus::OtherFailure:
        return 0;
    }
    if (infos.empty()) {
        m_lastError = "No network adapter information found on the local computer";
        return 0;
    }
    orderAdapters(infos);
    m_records.reserve(infos.size());
    for (const AdapterInfo& info : infos) {
        AdapterRecord r;
        r.name = info.name;
        r.description = info.description;
        r.addressText = info.addressText;
        r.address = dottedToAddress(info.addressText);
        r.maskText = info.maskText;
        r.mask = dottedToAddress(info.maskText);
        r.ipv6 = info.ipv6;
        m_records.push_back(std::move(r));
    }
    return 1;
}

std::string CNetAdapter::adapterDescription(int index) const {
    if (index < 0 || index >= adapterCount())
        return {};
    return m_records[static_cast<std::size_t>(index)].description;
}

std::string CNetAdapter::selectedAdapterName() const {
    if (m_selected < 0 || m_selected >= adapterCount())
        return {};
    return m_records[static_cast<std::size_t>(m_selected)].name;
}

} // namespace tn
