#pragma once
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

class IFileStore;

inline constexpr const char* kHelpFileName = "readme.doc";
inline constexpr const char* kHelpNotFound = "{Help File not found}";
// A help text is a few kilobytes; anything past this is not a help file of ours.
inline constexpr std::size_t kHelpMaxBytes = 4u << 20;

// The help text as the help window shows it: the file's bytes up to the first zero byte.
std::string helpTextFromBytes(std::string_view bytes);

// Where readme.doc is looked for, in order: beside the executable (a build tree), then the
// installed data folder. `installedDataDir` is the folder the build was configured to install
// into; a program that was moved as a whole also finds its data at ../share/tallynet. Folders
// already in the list are not repeated.
std::vector<std::filesystem::path>
helpFileCandidates(const std::filesystem::path& executable,
                   const std::filesystem::path& installedDataDir);

// The text of the first candidate that is a regular file of at most kHelpMaxBytes that `files`
// can read, cut at its first zero byte; kHelpNotFound when none is (or `files` is null).
std::string loadHelpText(const std::vector<std::filesystem::path>& candidates, IFileStore* files);

// "ver 1.0.0.0  [libpcap-v.1.10.3]" from the program version and the capture library's own
// version text. Of a text such as "libpcap version 1.10.3 (with TPACKET_V3)" only the version
// number is kept; blanks are removed and commas become dots, so "1, 10, 3" reads "1.10.3".
std::string aboutText(std::string_view programVersion, std::string_view libraryVersion);

} // namespace tn
