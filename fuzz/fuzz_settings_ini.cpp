// The settings file is edited by hand: whatever bytes it holds, parsing, reading every key
// and writing one back must stay within bounds.
#include "app/ini_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto doc = tn::IniDocument::parse(text);
    if (!doc)
        return 0;
    for (const char* key : {"FallSecs", "HostToPing", "WndPos", "CustPort1"}) {
        if (const auto raw = doc->raw("SetariGenerale", key)) {
            (void)tn::IniDocument::decodeInt(*raw);
            (void)tn::IniDocument::decodeString(*raw);
            (void)tn::IniDocument::decodeBinary(*raw);
        }
    }
    doc->setRaw("SetariGenerale", "FallSecs", "20");
    const std::string out = doc->serialize();
    // What we write must read back to the value we wrote.
    const auto again = tn::IniDocument::parse(out);
    if (!again || again->raw("SetariGenerale", "FallSecs") != "20")
        __builtin_trap();
    return 0;
}
