#include "app/help_about.h"

#include "platform/file_store.h"

#include <algorithm>
#include <cstdint>

namespace tn {

std::string helpTextFromBytes(std::string_view bytes) {
    const std::size_t nul = bytes.find('\0');
    return std::string(nul == std::string_view::npos ? bytes : bytes.substr(0, nul));
}

std::vector<std::filesystem::path>
helpFileCandidates(const std::filesystem::path& executable,
                   const std::filesystem::path& installedDataDir) {
    std::vector<std::filesystem::path> folders;
    auto add = [&folders](const std::filesystem::path& dir) {
        if (dir.empty())
            return;
        std::filesystem::path clean = dir.lexically_normal();
        if (!clean.has_filename()) // "/usr/share/tallynet/" is the same folder as without '/'
            clean = clean.parent_path();
        if (std::find(folders.begin(), folders.end(), clean) == folders.end())
            folders.push_back(clean);
    };
    if (executable.is_absolute()) {
        const std::filesystem::path exeDir = executable.parent_path();
        add(exeDir);
        if (exeDir.filename() == "bin")
            add(exeDir.parent_path() / "share" / "tallynet");
    }
    add(installedDataDir);

    std::vector<std::filesystem::path> files;
    files.reserve(folders.size());
    for (const auto& dir : folders)
        files.push_back(dir / kHelpFileName);
    return files;
}

std::string loadHelpText(const std::vector<std::filesystem::path>& candidates, IFileStore* files) {
    if (!files)
        return kHelpNotFound;
    std::vector<std::uint8_t> bytes;
    // The store refuses links, FIFOs and devices, so a planted file never blocks the window.
    for (const auto& file : candidates) {
        if (files->read(file, kHelpMaxBytes, bytes) == ReadStatus::Ok)
            return helpTextFromBytes(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    return kHelpNotFound;
}

std::string aboutText(std::string_view programVersion, std::string_view libraryVersion) {
    // "libpcap version 1.10.3 (with TPACKET_V3)": the word after "version" is the number.
    std::string_view version = libraryVersion;
    constexpr std::string_view kWord = "version ";
    if (const std::size_t at = version.find(kWord); at != std::string_view::npos) {
        version.remove_prefix(at + kWord.size());
        while (!version.empty() && version.front() == ' ')
            version.remove_prefix(1);
        // The number ends where a parenthesised remark or another word begins; blanks that
        // follow a comma still belong to it ("1, 10, 3").
        std::size_t end = 0;
        while (end < version.size() && version[end] != '(') {
            if (version[end] == ' ' && (end == 0 || version[end - 1] != ',')) {
                const std::size_t next = version.find_first_not_of(' ', end);
                if (next == std::string_view::npos || version[next] < '0' || version[next] > '9')
                    break;
            }
            ++end;
        }
        version = version.substr(0, end);
    }
    std::string p = "[libpcap-v.";
    for (char c : version) {
        if (c == ',')
            p += '.';
        else if (c != ' ')
            p += c;
    }
    p += ']';
    return "ver " + std::string(programVersion) + "  " + p;
}

} // namespace tn
