#include "stats/apps_file.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace tn {

namespace {

constexpr std::uint8_t kMagic[4] = {'T', 'N', 'A', 'P'};

void put(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> b) : m_b(b) {}
    bool take(int bytes, std::uint64_t& v) {
        if (m_b.size() - m_at < static_cast<std::size_t>(bytes))
            return false;
        v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<std::uint64_t>(m_b[m_at++]) << (8 * i);
        return true;
    }
    bool text(std::size_t n, std::string& s) {
        if (m_b.size() - m_at < n)
            return false;
        s.assign(reinterpret_cast<const char*>(m_b.data() + m_at), n);
        m_at += n;
        return true;
    }
    bool atEnd() const { return m_at == m_b.size(); }

private:
    std::span<const std::uint8_t> m_b;
    std::size_t m_at = 0;
};

bool validName(std::string_view n) {
    return !n.empty() && n.size() <= kMaxAppName && std::none_of(n.begin(), n.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}

} // namespace

std::vector<AppUsage> boundedRecord(std::vector<AppUsage> record) {
    AppUsage other{kOtherPrograms, 0, 0};
    std::vector<AppUsage> named;
    for (AppUsage& u : record) {
        if (u.sent == 0 && u.received == 0)
            continue;
        if (u.name == kOtherPrograms || !validName(u.name)) {
            other.sent += u.sent;
            other.received += u.received;
        } else {
            named.push_back(std::move(u));
        }
    }
    std::sort(named.begin(), named.end(), [](const AppUsage& a, const AppUsage& b) {
        return a.total() != b.total() ? a.total() > b.total() : a.name < b.name;
    });
    for (std::size_t i = kAppsPerRecord; i < named.size(); ++i) {
        other.sent += named[i].sent;
        other.received += named[i].received;
    }
    if (named.size() > kAppsPerRecord)
        named.resize(kAppsPerRecord);
    if (other.sent != 0 || other.received != 0)
        named.push_back(std::move(other));
    return named;
}

std::vector<std::uint8_t> encodeAppsFile(const AppRecords& records, std::int64_t saveTime) {
    std::vector<std::uint8_t> out(kMagic, kMagic + 4);
    put(out, static_cast<std::uint32_t>(kAppsFileVersion), 4);
    put(out, static_cast<std::uint64_t>(saveTime), 8);
    const auto record = [&out](const std::vector<AppUsage>& r) {
        const std::vector<AppUsage> b = boundedRecord(r);
        put(out, b.size(), 2);
        for (const AppUsage& u : b) {
            put(out, u.name.size(), 1);
            out.insert(out.end(), u.name.begin(), u.name.end());
            put(out, u.sent, 8);
            put(out, u.received, 8);
        }
    };
    for (const auto& r : records.days)
        record(r);
    for (const auto& r : records.months)
        record(r);
    return out;
}

std::string decodeAppsFile(std::span<const std::uint8_t> bytes, AppRecords& records,
                           std::int64_t& saveTime) {
    if (bytes.size() > kAppsFileMaxSize)
        return "larger than any file of traffic per program";
    if (bytes.size() < 4 || !std::equal(kMagic, kMagic + 4, bytes.begin()))
        return "not a file of traffic per program";
    Reader in(bytes.subspan(4));
    std::uint64_t version = 0;
    std::uint64_t stamp = 0;
    if (!in.take(4, version) || !in.take(8, stamp))
        return "cut short";
    if (version != static_cast<std::uint32_t>(kAppsFileVersion))
        return "an unknown version (" + std::to_string(version) + ")";
    AppRecords read;
    const auto record = [&in](std::vector<AppUsage>& r) -> std::string {
        std::uint64_t count = 0;
        if (!in.take(2, count))
            return "cut short";
        if (count > kAppsPerRecord + 1)
            return "a record of too many programs";
        std::set<std::string> seen;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t len = 0;
            AppUsage u;
            if (!in.take(1, len) || !in.text(len, u.name) || !in.take(8, u.sent) ||
                !in.take(8, u.received))
                return "cut short";
            if (!validName(u.name))
                return "a program name that is not one";
            if (!seen.insert(u.name).second)
                return "a program listed twice in one record";
            r.push_back(std::move(u));
        }
        return {};
    };
    for (auto& r : read.days)
        if (std::string why = record(r); !why.empty())
            return why;
    for (auto& r : read.months)
        if (std::string why = record(r); !why.empty())
            return why;
    if (!in.atEnd())
        return "bytes after its end";
    records = std::move(read);
    saveTime = static_cast<std::int64_t>(stamp);
    return {};
}

} // namespace tn
