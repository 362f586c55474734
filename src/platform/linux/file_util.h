#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tn {

// Reads a whole file; empty when it does not exist or cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& file);
// Replaces a file so that a crash leaves either the old or the new content: the new content is
// written to a temporary file in the same folder, synced, then renamed over the old one.
bool replaceFileDurably(const std::filesystem::path& file, std::string_view content);

} // namespace tn
