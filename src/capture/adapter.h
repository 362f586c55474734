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
// The position of the matching row, or -1.
int findNewStyleRow(const std::vector<InterfaceRow>& rows, std::string_view description);
bool findNewStyleReading(const std::vector<InterfaceRow>& rows, std::string_view description,
                         InterfaceReading& out);

// The interface-counter source, looked up by description. The whole table is taken again only
// when interfaces came, went or were renamed; otherwise a tick reads the counters of the one
// interface it looks up, so its cost does not grow with the number of interfaces.
class CAdapter {
public:
    explicit CAdapter(IInterfaceTable* table);
    virtual ~CAdapter() = default;

    void refreshInterfaceTable();
    // 1 with the reading filled when a row belongs to the adapter, else 0 and a zero reading.
    // The counters are no older than the last refreshInterfaceTable().
    int findInterfaceReading(std::string_view description, InterfaceReading& out);
    int countAdapters();

private:
    IInterfaceTable* m_table;
    std::vector<InterfaceRow> m_rows;
    bool m_haveTable = false;
    // Rows whose counters are from this tick: all after a full refresh, else those read.
    bool m_allFresh = false;
    std::vector<bool> m_fresh;
    // The last lookup, valid until the rows are taken again.
    bool m_lookedUp = false;
    std::string m_lastDescription;
    int m_lastRow = -1; // -1: not in the rows
};

} // namespace tn
