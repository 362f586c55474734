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

bool findNewStyleReading(const std::vector<InterfaceRow>& rows, std::string_view description,
                         InterfaceReading& out) {
    out = {};
    const std::string want = lower(trimmed(description));
    for (const InterfaceRow& row : rows) {
        if (lower(trimmed(row.description)) != want)
            continue;
        out.inOctets = row.inOctets;
        out.outOctets = row.outOctets;
        out.connectedSeconds = row.connectedSeconds;
        return true;
    }
    return false;
}

CAdapter::CAdapter(IInterfaceTable* table) : m_table(table) {}

void CAdapter::refreshInterfaceTable() {
    m_rows.clear();
    m_haveTable = m_table && m_table->refresh(m_rows);
    if (!m_haveTable)
        m_rows.clear();
}

int CAdapter::findInterfaceReading(std::string_view description, InterfaceReading& out) const {
    out = {};
    if (!m_haveTable)
        return 0;
    return findNewStyleReading(m_rows, description, out) ? 1 : 0;
}

int CAdapter::countAdapters() {
    return m_table ? std::max(0, m_table->countAdapters()) : 0;
}

} // namespace tn
