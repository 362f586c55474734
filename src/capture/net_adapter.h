#pragma once
#include "platform/adapter_source.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

// Dotted-quad text to an IPv4 address in network byte order (first octet first in memory);
// text that is not a dotted quad gives all ones, as the classic inet_addr does.
std::uint32_t dottedToAddress(std::string_view text);

struct AdapterRecord {
    std::string name;
    std::string description;
    std::uint32_t address = 0; // network byte order
    std::string addressText;
    std::uint32_t mask = 0; // network byte order
    std::string maskText;
    std::vector<Ipv6Address> ipv6;
};

// The order a user expects: the adapter carrying the default route first, then those that are
// up and have an IPv4 address, then the rest; each group in interface-index order.
void orderAdapters(std::vector<AdapterInfo>& adapters);

// The machine's adapters, as the capture object and the adapter combo box see them. There is
// no limit on their number: hosts with many container interfaces list them all, so that the
// list and the system's count always agree.
class CNetAdapter {
public:
    explicit CNetAdapter(IAdapterSource* source);
    virtual ~CNetAdapter() = default;

    // Rebuilds all records from scratch; 1 on success, 0 with the last error text set.
    int buildAdapterList();
    int adapterCount() const { return static_cast<int>(m_records.size()); }
    int selectedIndex() const { return m_selected; }
    std::string adapterDescription(int index) const;
    std::string selectedAdapterName() const;
    std::string lastErrorText() const { return m_lastError; }
    const AdapterRecord& record(int index) const {
        return m_records.at(static_cast<std::size_t>(index));
    }

protected:
    std::vector<AdapterRecord> m_records;
    int m_selected = -1;
    std::string m_lastError;
    IAdapterSource* m_source;
};

} // namespace tn
