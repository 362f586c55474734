#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tn {

// NotRegular: a link, FIFO, device or folder stands where the file should be; it is left alone.
enum class ReadStatus { Ok, Missing, TooLarge, NotRegular, Failed };

// What became of an append: written whole, the file could not be opened, something other than
// a regular file stands in its place, or the write failed (then the file was cut back to its
// old size). The error code says why.
enum class AppendStatus { Written, NotOpened, NotRegular, WriteFailed };

struct AppendResult {
    AppendStatus status = AppendStatus::Written;
    int error = 0; // the system's error code when not written
};

enum class ReplaceStatus { Written, NotRegular, Failed };

// What became of a set-aside: moved (to `aside`), nothing there, something other than a regular
// file there (left alone), or the rename failed (the error code says why).
enum class SetAsideStatus { Moved, Missing, NotRegular, Failed };

struct SetAsideResult {
    SetAsideStatus status = SetAsideStatus::Moved;
    std::filesystem::path aside; // the new name when moved
    int error = 0;
};

// The suffix of a file kept aside: "<name>.bad-<stamp>" (a clash within the same second adds
// "-2", "-3", ...).
inline constexpr const char* kBadFileInfix = ".bad-";

// True for "<base>.bad-<digits and dashes>", the names setAside gives.
inline bool isSetAsideName(std::string_view name, std::string_view base) {
    const std::string_view infix = kBadFileInfix;
    if (name.size() <= base.size() + infix.size() || name.substr(0, base.size()) != base ||
        name.substr(base.size(), infix.size()) != infix)
        return false;
    for (const char c : name.substr(base.size() + infix.size()))
        if ((c < '0' || c > '9') && c != '-')
            return false;
    return true;
}

struct ReplaceResult {
    ReplaceStatus status = ReplaceStatus::Written;
    int error = 0; // the system's error code when not written
    explicit operator bool() const { return status == ReplaceStatus::Written; }
};

// The program's files: one bounded reader, one durable replace, one record append. Every file
// of the program goes through these, so the guarantees below hold for all of them: no link is
// followed, nothing blocks on a FIFO or a device, reads are bounded, new files are private to
// the user.
class IFileStore {
public:
    virtual ~IFileStore() = default;
    // Reads a whole file of at most `maxBytes`; a larger one is reported without being read.
    virtual ReadStatus read(const std::filesystem::path& file, std::size_t maxBytes,
                            std::vector<std::uint8_t>& out) = 0;
    // Writes `bytes` completely into a temporary file beside `target` and renames it over
    // `target` (folders created when missing), so that a crash, a power cut or a full disk
    // leaves `target` either old or new, never partial. With `backup` non-empty the previous
    // `target` becomes `backup`; a missing `target` leaves the old backup in place until the
    // new file carries its name. A `target` that is not a regular file is left alone.
    virtual ReplaceResult replace(const std::filesystem::path& target,
                                  const std::filesystem::path& backup,
                                  std::span<const std::uint8_t> bytes) = 0;
    // Appends one record with a single write; a write that fails half-way is cut back, so the
    // file holds either the whole record or none of it.
    virtual AppendResult append(const std::filesystem::path& file,
                                std::span<const std::uint8_t> record) = 0;
    // Renames the regular file `file` to "<file>.bad-<stamp>" without following a link and
    // without replacing anything, then deletes all but the newest `keep` regular files of
    // that pattern (links and anything else of that name are left alone). A link, FIFO,
    // device or folder at `file` is never moved.
    virtual SetAsideResult setAside(const std::filesystem::path& file, const std::string& stamp,
                                    std::size_t keep) = 0;
    // Size of a regular file; empty when it is missing or not a regular file.
    virtual std::optional<std::uintmax_t> size(const std::filesystem::path& file) = 0;
};

} // namespace tn
