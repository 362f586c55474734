#include "app/options_rules.h"

#include "app/global.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace tn {

std::int32_t decimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(kLimit, value * 10 + (text[i] - '0'));
    if (negative)
        return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min(value, kLimit - 1));
}

std::vector<std::string_view> customPortPieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string_view::npos;
         start = comma + 1)
        pieces.push_back(text.substr(start, comma - start));
    if (start < text.size())
        pieces.push_back(text.substr(start));
    return pieces;
}

std::optional<std::vector<std::uint16_t>> validateCustomPorts(std::string_view text) {
    const std::vector<std::string_view> pieces = customPortPieces(text);
    if (pieces.empty())
        return std::nullopt; // "," alone: nothing to watch
    std::vector<std::uint16_t> ports;
    for (std::string_view piece : pieces) {
        // Taken as unsigned, a negative value lies above 65535.
        const auto value = static_cast<std::uint32_t>(decimalValue(piece));
        if (value == 0 || value > 65535)
            return std::nullopt;
        ports.push_back(static_cast<std::uint16_t>(value));
    }
    return ports;
}

namespace {
bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}
} // namespace

HostChoices hostChoices(const std::string& stored) {
    HostChoices c;
    c.entries.assign(kPresetHosts.begin(), kPresetHosts.end());
    if (stored.empty())
        return c;
    const auto it = std::find_if(c.entries.begin(), c.entries.end(), [&](const std::string& e) {
        return equalIgnoringCase(e, stored);
    });
    if (it != c.entries.end()) {
        c.selected = static_cast<int>(it - c.entries.begin());
        return c;
    }
    c.entries.push_back(stored);
    c.selected = static_cast<int>(c.entries.size()) - 1;
    return c;
}

COptionsModel::COptionsModel(CGlobal& global) : m_global(global) {}

OptionsInitial COptionsModel::initialise() {
    CGlobal& g = m_global;
    auto set = [this](OptionBox b, std::int32_t v) {
        m_checked[static_cast<std::size_t>(b)] = v != 0;
    };
    set(OptionBox::RunAtStartUp, g.RunAtStartUp);
    set(OptionBox::StartMin, g.StartMin);
    set(OptionBox::WinPCap, g.WinPCap);
    set(OptionBox::LanOnly, g.LanOnly);
    set(OptionBox::Incremtotal, g.Incremtotal);
    set(OptionBox::Autohide, g.Autohide);
    set(OptionBox::ConfirmExit, g.ConfirmExit);
    set(OptionBox::CustField, g.CustField);
    set(OptionBox::LogFalls, g.LogFalls);

    OptionsInitial init;
    init.fallSecsText = std::to_string(g.FallSecs);
    if (init.fallSecsText == "0") {
        init.fallSecsText = "20";
        g.FallSecs = 20; // in memory only: the stored 0 stays until the user edits the box
    }
    set(OptionBox::PingHost, g.PingHost);
    init.hosts = hostChoices(g.HostToPing);
    init.conSpeedText = std::to_string(g.ConSpeed);
    setChecked(OptionBox::PingHost, checked(OptionBox::PingHost));
    if (const ISettingsStore* s = g.os().settings) {
        init.custPort = s->getString("CustPort1").value_or(std::string{});
        init.custName = s->getString("CustName1").value_or(std::string{});
    }
    return init;
}

OptionsEnabling COptionsModel::enabling() const {
    OptionsEnabling e;
    e.incremtotal = e.lanOnly = checked(OptionBox::WinPCap);
    e.fallSecs = checked(OptionBox::LogFalls);
    e.host = e.test = checked(OptionBox::PingHost);
    e.custName = e.custPort = checked(OptionBox::CustField);
    return e;
}

void COptionsModel::setChecked(OptionBox box, bool on) {
    m_checked[static_cast<std::size_t>(box)] = on;
    CGlobal& g = m_global;
    const std::int32_t v = on ? 1 : 0;
    auto store = [&](std::int32_t& field, const char* key) {
        field = v;
        g.writeInt(key, v);
    };
    switch (box) {
    case OptionBox::RunAtStartUp:
        g.RunAtStartUp = v;
        g.setRunAtStartUp(v);
        g.writeInt("RunAtStartUp", v);
        break;
    case OptionBox::StartMin:
        store(g.StartMin, "StartMin");
        break;
    case OptionBox::WinPCap:
        g.RestartFlag.store(1);
        store(g.WinPCap, "WinPCap");
        break;
    case OptionBox::Incremtotal:
        g.RestartFlag.store(1);
        store(g.Incremtotal, "Incremtotal");
        break;
    case OptionBox::LanOnly:
        store(g.LanOnly, "LanOnly");
        break;
    case OptionBox::Autohide:
        store(g.Autohide, "Autohide");
        break;
    case OptionBox::ConfirmExit:
        store(g.ConfirmExit, "ConfirmExit");
        break;
    case OptionBox::LogFalls:
        store(g.LogFalls, "LogFalls");
        break;
    case OptionBox::PingHost:
        store(g.PingHost, "PingHost");
        break;
    case OptionBox::CustField:
        // The field itself changes at OK; the capture keeps its list until then.
        g.writeInt("CustField", v);
        break;
    }
}

void COptionsModel::fallSecsEdited(std::string_view text) {
    m_global.FallSecs = decimalValue(text);
    m_global.writeInt("FallSecs", m_global.FallSecs);
}

void COptionsModel::conSpeedEdited(std::string_view text) {
    m_global.ConSpeed = static_cast<std::uint32_t>(decimalValue(text));
    m_global.writeInt("ConSpeed", m_global.ConSpeed);
}

void COptionsModel::hostEdited(const std::string& text) {
    m_global.HostToPing = text;
    m_global.writeString("HostToPing", text);
}

CustomFieldCheck COptionsModel::accept(const std::string& name, const std::string& portText) {
    CGlobal& g = m_global;
    if (!checked(OptionBox::CustField)) {
        g.CustField = 0;
        return CustomFieldCheck::Accepted;
    }
    if (name.empty())
        return CustomFieldCheck::InvalidName;
    if (portText.empty())
        return CustomFieldCheck::InvalidPort;
    std::optional<std::vector<std::uint16_t>> ports = validateCustomPorts(portText);
    if (!ports)
        return CustomFieldCheck::InvalidPort;
    g.replaceCustomPorts(std::move(*ports));
    g.writeString("CustPort1", portText);
    g.writeString("CustName1", name);
    g.CustName1 = name;
    g.CustField = 1;
    return CustomFieldCheck::Accepted;
}

} // namespace tn
