#pragma once
#include "platform/settings_store.h"

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

// Settings kept as the text of an INI document with one group. Every write reads the text again
// (so hand edits of other keys survive), changes one key and stores the whole text. Where the
// text lives is the subclass's business.
class IniTextStore : public ISettingsStore {
public:
    // Foreign: something other than a settings file stands there (a link, a FIFO, a folder); it
    // is neither read nor written.
    enum class Load { Ok, Missing, Unreadable, Foreign };
    explicit IniTextStore(std::string section) : m_section(std::move(section)) {}
    std::optional<std::int64_t> getInt(const std::string& key) const override;
    std::optional<std::string> getString(const std::string& key) const override;
    std::optional<std::vector<std::uint8_t>> getBinary(const std::string& key) const override;
    bool setInt(const std::string& key, std::int64_t value) override;
    bool setString(const std::string& key, const std::string& value) override;
    bool setBinary(const std::string& key, const std::vector<std::uint8_t>& value) override;

protected:
    virtual Load loadText(std::string& text) const = 0;
    virtual bool storeText(const std::string& text) = 0;
    // Called before the first write over a text that cannot be read as settings; false stops
    // the write (the unreadable text must never be lost).
    virtual bool keepUnreadable() = 0;

private:
    std::optional<std::string> raw(const std::string& key) const;
    bool setRaw(const std::string& key, const std::string& value);
    std::string m_section;
};

} // namespace tn
