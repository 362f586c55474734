#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace tn {

enum class ReadStatus { Ok, Missing, TooLarge };

// What became of an append: written whole, the file could not be opened, or the write failed
// (then the file was cut back to its old size, and the error code says why).
enum class AppendStatus { Written, NotOpened, WriteFailed };

struct AppendResult {
    AppendStatus status = AppendStatus::Written;
    int error = 0; // the system's error code when not written
};

// The program's files: one bounded reader, one durable replace, one record append. Every file
// of the program goes through these, so the guarantees below hold for all of them.
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
    // new file carries its name. False when the new content did not take the name.
    virtual bool replace(const std::filesystem::path& target, const std::filesystem::path& backup,
                         std::span<const std::uint8_t> bytes) = 0;
    // Appends one record with a single write; a write that fails half-way is cut back, so the
    // file holds either the whole record or none of it.
    virtual AppendResult append(const std::filesystem::path& file,
                                std::span<const std::uint8_t> record) = 0;
};

} // namespace tn
