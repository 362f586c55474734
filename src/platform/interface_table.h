#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tn {

// One row of the operating system's per-interface statistics.
struct InterfaceRow {
    std::string description;            // the same text the adapter list shows
    std::uint64_t inOctets = 0;         // cumulative bytes received
    std::uint64_t outOctets = 0;        // cumulative bytes sent
    std::uint64_t connectedSeconds = 0; // 0 when the system cannot tell
    int index = 0;                      // the system's interface index
};

// The interface-counter table, taken anew on every refresh.
class IInterfaceTable {
public:
    virtual ~IInterfaceTable() = default;
    // Replaces rows with a fresh copy of the table; false (and no rows) when it cannot be taken.
    virtual bool refresh(std::vector<InterfaceRow>& rows) = 0;
    // Number of adapters the system lists (loopback excluded); 0 on failure.
    virtual int countAdapters() = 0;
    // False when no interface came, went or was renamed since the last refresh, so that the
    // rows of that refresh still name every interface and readOne() can bring one row's
    // counters up to date. A table that cannot tell says true, and is refreshed every time.
    virtual bool linksChanged() { return true; }
    // Fresh counters (and connection duration) of the interface with this index, into `row`;
    // false when it is gone or cannot be read.
    virtual bool readOne(int index, InterfaceRow& row) {
        (void)index;
        (void)row;
        return false;
    }
};

} // namespace tn
