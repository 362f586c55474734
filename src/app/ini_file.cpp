#include "app/ini_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tn {

namespace {

std::string_view trim(std::string_view s) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v'; };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::optional<IniDocument> IniDocument::parse(std::string_view text) {
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    IniDocument doc;
    std::string section;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::string_view t = trim(line);
        Line l{std::string(line.substr(0, line.size() - (line.ends_with('\r') ? 1 : 0))),
               section,
               {},
               {},
               false};
        if (t.empty() || t.front() == ';' || t.front() == '#') {
            doc.m_lines.push_back(std::move(l));
            continue;
        }
        if (t.front() == '[') {
            if (t.back() != ']' || t.size() < 3)
                return std::nullopt;
            section = std::string(trim(t.substr(1, t.size() - 2)));
            l.section = section;
            l.header = true;
            doc.m_lines.push_back(std::move(l));
            continue;
        }
        const std::size_t eq = t.find('=');
        if (eq == std::string_view::npos || trim(t.substr(0, eq)).empty())
            return std::nullopt;
        l.key = std::string(trim(t.substr(0, eq)));
        l.value = std::string(trim(t.substr(eq + 1)));
        doc.m_lines.push_back(std::move(l));
    }
    return doc;
}

std::optional<std::string> IniDocument::raw(std::string_view section, std::string_view key) const {
    // The last occurrence wins, as a hand-edited duplicate is most likely the newer one.
    for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it)
        if (!it->key.empty() && equalsNoCase(it->section, section) && equalsNoCase(it->key, key))
            return it->value;
    return std::nullopt;
}

void IniDocument::setRaw(std::string_view section, std::string_view key, std::string_view value) {
    std::string text = std::string(key) + "=" + std::string(value);
    for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it) {
        if (!it->key.empty() && equalsNoCase(it->section, section) && equalsNoCase(it->key, key)) {
            it->value = std::string(value);
            it->text = std::string(it->key) + "=" + std::string(value);
            return;
        }
    }
    // Append to the end of the section, or start the section at the end of the file.
    auto last = m_lines.end();
    for (auto it = m_lines.begin(); it != m_lines.end(); ++it)
        if (equalsNoCase(it->section, section) && (!it->key.empty() || it->header))
            last = it;
    if (last == m_lines.end()) {
        if (!m_lines.empty() && !trim(m_lines.back().text).empty())
            m_lines.push_back(Line{"", m_lines.back().section, {}, {}, false});
        m_lines.push_back(
            Line{"[" + std::string(section) + "]", std::string(section), {}, {}, true});
        last = std::prev(m_lines.end());
    }
    m_lines.insert(std::next(last), Line{std::move(text), std::string(section), std::string(key),
                                         std::string(value), false});
}

std::string IniDocument::serialize() const {
    std::string out;
    for (const Line& l : m_lines) {
        out += l.text;
        out += '\n';
    }
    return out;
}

std::optional<std::int64_t> IniDocument::decodeInt(std::string_view raw) {
    raw = trim(raw);
    if (!raw.empty() && raw.front() == '+')
        raw.remove_prefix(1);
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), v);
    if (raw.empty() || ec != std::errc() || ptr != raw.data() + raw.size())
        return std::nullopt;
    return v;
}

std::string IniDocument::decodeString(std::string_view raw) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        return std::string(raw);
    std::string out;
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 2 < raw.size()) {
            const char n = raw[++i];
            c = n == 'n' ? '\n' : n == 'r' ? '\r' : n == 't' ? '\t' : n;
        }
        out += c;
    }
    return out;
}

std::string IniDocument::encodeString(std::string_view value) {
    const bool plain = !value.empty() && trim(value) == value && value.front() != '"' &&
                       std::none_of(value.begin(), value.end(),
                                    [](char c) { return c == '\n' || c == '\r' || c == '\\'; });
    if (plain)
        return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

std::optional<std::vector<std::uint8_t>> IniDocument::decodeBinary(std::string_view raw) {
    raw = trim(raw);
    if (!raw.starts_with("hex:"))
        return std::nullopt;
    raw.remove_prefix(4);
    if (raw.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < raw.size(); i += 2) {
        unsigned v = 0;
        const auto [ptr, ec] = std::from_chars(raw.data() + i, raw.data() + i + 2, v, 16);
        if (ec != std::errc() || ptr != raw.data() + i + 2)
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

std::string IniDocument::encodeBinary(const std::vector<std::uint8_t>& value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "hex:";
    for (std::uint8_t b : value) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::optional<std::string> IniTextStore::raw(const std::string& key) const {
    std::string text;
    if (loadText(text) != Load::Ok)
        return std::nullopt;
    const auto doc = IniDocument::parse(text);
    if (!doc)
        return std::nullopt; // unreadable text: every key takes its default
    return doc->raw(m_section, key);
}

std::optional<std::int64_t> IniTextStore::getInt(const std::string& key) const {
    const auto r = raw(key);
    return r ? IniDocument::decodeInt(*r) : std::nullopt;
}

std::optional<std::string> IniTextStore::getString(const std::string& key) const {
    const auto r = raw(key);
    return r ? std::optional<std::string>(IniDocument::decodeString(*r)) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> IniTextStore::getBinary(const std::string& key) const {
    const auto r = raw(key);
    return r ? IniDocument::decodeBinary(*r) : std::nullopt;
}

bool IniTextStore::setRaw(const std::string& key, const std::string& value) {
    IniDocument doc = IniDocument::parse("").value();
    std::string text;
    const Load load = loadText(text);
    if (load == Load::Foreign)
        return false;
    if (load != Load::Missing) {
        std::optional<IniDocument> parsed;
        if (load == Load::Ok)
            parsed = IniDocument::parse(text);
        if (parsed)
            doc = std::move(*parsed);
        else if (!keepUnreadable())
            return false;
    }
    doc.setRaw(m_section, key, value);
    return storeText(doc.serialize());
}

bool IniTextStore::setInt(const std::string& key, std::int64_t value) {
    return setRaw(key, std::to_string(value));
}

bool IniTextStore::setString(const std::string& key, const std::string& value) {
    return setRaw(key, IniDocument::encodeString(value));
}

bool IniTextStore::setBinary(const std::string& key, const std::vector<std::uint8_t>& value) {
    return setRaw(key, IniDocument::encodeBinary(value));
}

} // namespace tn
