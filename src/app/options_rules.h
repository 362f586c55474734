#pragma once
// The rules of the options dialog without the window: what each control starts with, what a
// change writes, which controls are enabled, and the custom field's check at OK.
//
//   COptionsModel model(global);
//   const OptionsInitial init = model.initialise();   // fill the controls from this
//   model.setChecked(OptionBox::WinPCap, true);        // a box was clicked: written at once
//   enabled = model.enabling();                         // then enable the controls by it
//   if (model.accept(name, ports) == CustomFieldCheck::Accepted) close();
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

class CGlobal;

inline constexpr const char* kInvalidCustomName = "Invalid Custom Field name!";
inline constexpr const char* kInvalidCustomPort = "Invalid Custom port!";
inline constexpr const char* kCustomTrafficCleared = "Traffic for the custom field cleared!";
inline constexpr int kConSpeedMaxChars = 5;

// Public anycast resolvers that answer echo requests; shown in this order.
inline constexpr std::array<const char*, 4> kPresetHosts = {
    "one.one.one.one", "dns.google", "dns.quad9.net", "resolver1.opendns.com"};

// The C library's atoi: leading white space skipped, an optional sign, digits up to the first
// other character, no digits gives 0. Values beyond 32 bits are held at the nearest limit.
std::int32_t decimalValue(std::string_view text);

// The pieces of a custom-port text: every piece before a comma (empty ones included) and the
// piece after the last comma when it is not empty.
std::vector<std::string_view> customPortPieces(std::string_view text);
// The ports of a custom-port text, in order with duplicates; empty when any piece is 0 or above
// 65535 (negative ones included) or the text has no piece at all.
std::optional<std::vector<std::uint16_t>> validateCustomPorts(std::string_view text);

struct HostChoices {
    std::vector<std::string> entries;
    int selected = 0;
};
// The presets, plus the stored host at the end when no entry equals it ignoring case.
HostChoices hostChoices(const std::string& stored);

enum class OptionBox {
    RunAtStartUp,
    StartMin,
    WinPCap,
    Incremtotal,
    LanOnly,
    Autohide,
    ConfirmExit,
    LogFalls,
    PingHost,
    CustField,
};
inline constexpr int kOptionBoxCount = 10;

struct OptionsEnabling {
    bool incremtotal = false; // 1045 and 1053 follow WinPCap
    bool lanOnly = false;
    bool fallSecs = false; // 1021 follows LogFalls
    bool host = false;     // 1043 and 1044 follow PingHost
    bool test = false;
    bool custName = false; // 1083 and 1084 follow the custom-field box
    bool custPort = false;
};

struct OptionsInitial {
    std::string fallSecsText;
    std::string conSpeedText;
    HostChoices hosts;
    std::string custName; // straight from the settings store
    std::string custPort;
};

enum class CustomFieldCheck { Accepted, InvalidName, InvalidPort };

class COptionsModel {
public:
    explicit COptionsModel(CGlobal& global);

    // Reads the settings in the dialog's order; an outage time of 0 is shown (and held in
    // memory) as 20, and PingHost is written back unchanged.
    OptionsInitial initialise();
    bool checked(OptionBox box) const { return m_checked[static_cast<std::size_t>(box)]; }
    OptionsEnabling enabling() const;

    // Immediate handlers: each stores the field and writes its key.
    void setChecked(OptionBox box, bool on);
    void fallSecsEdited(std::string_view text);
    void conSpeedEdited(std::string_view text);
    void hostEdited(const std::string& text);

    // OK: with the custom-field box unchecked the custom category goes off in memory; else the
    // name and port text are checked and, when both are good, saved. Nothing is saved when a
    // check fails.
    CustomFieldCheck accept(const std::string& name, const std::string& portText);

private:
    CGlobal& m_global;
    std::array<bool, kOptionBoxCount> m_checked{};
};

} // namespace tn
