#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

// A small INI document: "[section]" lines, "key=value" lines, ";" or "#" comments.
// Keys are matched without regard to letter case, like registry value names.
class IniDocument {
public:
    // Empty when the text is not an INI file at all (a line that is none of the above, or a
    // NUL byte): the caller then keeps the file as it is and uses defaults.
    static std::optional<IniDocument> parse(std::string_view text);

    std::optional<std::string> raw(std::string_view section, std::string_view key) const;
    void setRaw(std::string_view section, std::string_view key, std::string_view value);
    std::string serialize() const;

    // Value encodings.
    static std::optional<std::int64_t> decodeInt(std::string_view raw);
    static std::string decodeString(std::string_view raw);
    static std::optional<std::vector<std::uint8_t>> decodeBinary(std::string_view raw);
    static std::string encodeString(std::string_view value);
    static std::string encodeBinary(const std::vector<std::uint8_t>& value);

private:
    struct Line {
        std::string text;    // the line as it was read or written
        std::string section; // the section this line belongs to
        std::string key;     // empty for comments, blanks and section headers
        std::string value;
        bool header = false; // a "[section]" line
    };
    std::vector<Line> m_lines;
};

} // namespace tn
