#pragma once
#include "platform/interface_table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

struct InterfaceReading {
    std::uint64_t connectedSeconds = 0;
    std::uint64_t inOctets = 0;
    std::uint64_t outOctets = 0;
};

// The rule of the new-style table: trimmed, case-insensitive equality; first match wins.
bool findNewStyleReading(const std::vector<InterfaceRow>& rows, std::string_view description,
                         InterfaceReading& out);
// The interface-counter source: a fresh table every tick, looked up by description.
class CAdapter {
public:
    explicit CAdapter(IInterfaceTable* table);
    virtual ~CAdapter() = default;

    void refreshInterfaceTable();
    // 1 with the reading filled when a row belongs to the adapter, else 0 and a zero reading.
    int findInterfaceReading(std::string_view description, InterfaceReading& out) const;
    int countAdapters();

private:
    IInterfaceTable* m_table;
    std::vector<InterfaceRow> m_rows;
    bool m_haveTable = false;
};

} // namespace tn
