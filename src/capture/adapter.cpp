#include "capture/adapter.h"

#include <algorithm>
#include <cctype>

namespace tn {

namespace {

std::string_view trimmed(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const auto b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos)
        return {};
    return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

int findNewStyleRow(const std::vector<InterfaceRow>& rows, std::string_view description) {
    const std::string want = lower(trimmed(description));
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (lower(trimmed(rows[i].description)) == want)
            return static_cast<int>(i);
    return -1;
}

bool findNewStyleReading(const std::vector<InterfaceRow>& rows, std::string_view description,
                         InterfaceReading& out) {
    out = {};
    const int i = findNewStyleRow(rows, description);
    if (i < 0)
        return false;
    const InterfaceRow& row = rows[static_cast<std::size_t>(i)];
    out.inOctets = row.inOctets;
    out.outOctets = row.outOctets;
    out.connectedSeconds = row.connectedSeconds;
    return true;
}

CAdapter::CAdapter(IInterfaceTable* table) : m_table(table) {}

void CAdapter::refreshInterfaceTable() {
    if (m_haveTable && m_table && !m_table->linksChanged()) {
        m_allFresh = false;
        m_fresh.assign(m_rows.size(), false);
        return;
    }
    m_rows.clear();
    m_haveTable = m_table && m_table->refresh(m_rows);
    if (!m_haveTable)
        m_rows.clear();
    m_allFresh = true;
    m_lookedUp = false;
}

int CAdapter::findInterfaceReading(std::string_view description, InterfaceReading& out) {
    out = {};
    if (!m_haveTable)
        return 0;
    if (!m_lookedUp || description != m_lastDescription) {
        m_lastDescription = description;
        m_lastRow = findNewStyleRow(m_rows, description);
        m_lookedUp = true;
    }
    if (m_lastRow < 0)
        return 0;
    const auto i = static_cast<std::size_t>(m_lastRow);
    InterfaceRow& row = m_rows[i];
    if (!m_allFresh && !m_fresh[i]) {
        if (!m_table->readOne(row.index, row)) {
            // Gone between two notifications: the next tick takes the whole table again.
            m_haveTable = false;
            return 0;
        }
        m_fresh[i] = true;
    }
    out.inOctets = row.inOctets;
    out.outOctets = row.outOctets;
    out.connectedSeconds = row.connectedSeconds;
    return 1;
}

int CAdapter::countAdapters() {
    return m_table ? std::max(0, m_table->countAdapters()) : 0;
}

} // namespace tn
