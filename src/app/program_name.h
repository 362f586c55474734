#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tn {

// How a program is named in the traffic per program: the executable's file name; for an
// interpreter (python, node, java, sh, bash, dash, perl, ruby) also what it runs: the script's
// file name, the module of "python3 -m", the jar of "java -jar" or the main class. An inline
// program ("sh -c", "python3 -c", "node -e", "perl -e") keeps the interpreter's name alone.
// `exe` is the executable's path, `argv` its command line.
std::string programName(std::string_view exe, const std::vector<std::string>& argv);

// The longest name kept; longer ones are cut.
inline constexpr std::size_t kMaxProgramName = 120;

} // namespace tn
