#include "app/program_name.h"

#include <algorithm>
#include <array>

namespace tn {

namespace {

std::string_view baseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool startsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

// python, python3, python3.11 ... and perl5.36, ruby3.1: a name and a version.
bool versioned(std::string_view name, std::string_view family) {
    if (!startsWith(name, family))
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(family.size()), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

enum class Kind { None, Python, Node, Java, Shell, Perl, Ruby };

Kind kindOf(std::string_view name) {
    if (versioned(name, "python"))
        return Kind::Python;
    if (name == "node" || name == "nodejs")
        return Kind::Node;
    if (name == "java")
        return Kind::Java;
    if (name == "sh" || name == "bash" || name == "dash")
        return Kind::Shell;
    if (versioned(name, "perl"))
        return Kind::Perl;
    if (versioned(name, "ruby"))
        return Kind::Ruby;
    return Kind::None;
}

struct Options {
    std::vector<std::string_view> withValue;  // options whose value is the next word
    std::vector<std::string_view> inlineCode; // options after which the program is inline
    std::vector<std::string_view> target;     // options whose value names what runs
};

Options optionsOf(Kind kind) {
    switch (kind) {
    case Kind::Python:
        return {{"-W", "-X", "-Q"}, {"-c"}, {"-m"}};
    case Kind::Node:
        return {{"-r", "--require", "--loader", "--import"}, {"-e", "--eval", "-p", "--print"}, {}};
    case Kind::Java:
        return {{"-cp", "-classpath", "--class-path", "-p", "--module-path", "--add-modules"},
                {},
                {"-jar", "-m", "--module"}};
    case Kind::Shell:
        return {{"-o", "-O", "+O"}, {"-c"}, {}};
    case Kind::Perl:
    case Kind::Ruby:
        return {{"-I"}, {"-e", "-E"}, {}};
    case Kind::None:
        break;
    }
    return {};
}

bool listed(const std::vector<std::string_view>& list, std::string_view w) {
    return std::find(list.begin(), list.end(), w) != list.end();
}

// What the interpreter runs, or empty.
std::string_view targetOf(Kind kind, const std::vector<std::string>& argv) {
    const Options opt = optionsOf(kind);
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string_view w = argv[i];
        if (w.empty())
            continue;
        if (listed(opt.inlineCode, w))
            return {};
        if (listed(opt.target, w))
            return i + 1 < argv.size() ? std::string_view(argv[i + 1]) : std::string_view{};
        if (listed(opt.withValue, w)) {
            ++i;
            continue;
        }
        if (w == "--")
            return i + 1 < argv.size() ? std::string_view(argv[i + 1]) : std::string_view{};
        if (w[0] == '-' || w[0] == '+')
            continue;
        return w;
    }
    return {};
}

std::string cleaned(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    if (name.size() > kMaxProgramName)
        name.resize(kMaxProgramName);
    return name;
}

} // namespace

std::string programName(std::string_view exe, const std::vector<std::string>& argv) {
    std::string_view path = exe;
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.substr(path.size() - kDeleted.size()) == kDeleted)
        path.remove_suffix(kDeleted.size());
    std::string_view name = baseName(path);
    if (name.empty() && !argv.empty())
        name = baseName(argv[0]);
    if (name.empty())
        return "?";
    const Kind kind = kindOf(name);
    if (kind == Kind::None)
        return cleaned(std::string(name));
    std::string_view target = targetOf(kind, argv);
    // A script or a jar by its file name; a module or a main class as it was given.
    if (target.find('/') != std::string_view::npos)
        target = baseName(target);
    if (target.empty())
        return cleaned(std::string(name));
    return cleaned(std::string(name) + " " + std::string(target));
}

} // namespace tn
