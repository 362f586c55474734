#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tn {

// The eleven counters of one day or month record, in category order.
using CounterArray = std::array<std::uint64_t, 11>;

// The 86 records as they are stored: file order is received before sent.
struct StatRecords {
    std::array<CounterArray, 31> daysReceived{};
    std::array<CounterArray, 31> daysSent{};
    std::array<CounterArray, 12> monthsReceived{};
    std::array<CounterArray, 12> monthsSent{};
    bool operator==(const StatRecords&) const = default;
};

inline constexpr std::size_t kStatFileV2Size = 8268;
inline constexpr std::size_t kStatFileV1Size = 11708;
inline constexpr std::int32_t kStatFileVersion = 2;

// The version-2 file, byte for byte: version, the four arrays (each record tagged C0 EA 45 00,
// four zero bytes, eleven little-endian counters), the save time.
std::vector<std::uint8_t> encodeStatFile(const StatRecords& records, std::int64_t saveTime);
// The version field of a file; false when it is shorter than four bytes.
bool statFileVersion(std::span<const std::uint8_t> bytes, std::int32_t& version);
// Reads a version-2 file of exactly kStatFileV2Size bytes; false for any other length.
bool decodeStatFileV2(std::span<const std::uint8_t> bytes, StatRecords& records,
                      std::int64_t& saveTime);
// Reads a version-1 file of exactly kStatFileV1Size bytes into counters 0 to 5 of every
// record, leaving counters 6 to 10 as they are; false for any other length.
bool decodeStatFileV1(std::span<const std::uint8_t> bytes, StatRecords& records,
                      std::int64_t& saveTime);

// Where the bytes of a new file go. A test substitutes one that fails part-way.
class IByteSink {
public:
    virtual ~IByteSink() = default;
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Flushes and closes; false when anything written may not have reached the file.
    virtual bool finish() = 0;
};
using SinkFactory = std::function<std::unique_ptr<IByteSink>(const std::filesystem::path&)>;
std::unique_ptr<IByteSink> openFileSink(const std::filesystem::path& file);

enum class ReadStatus { Ok, Missing, TooLarge };
// Reads a whole file of at most `maxBytes`; a larger one is reported without being read.
ReadStatus readFileBounded(const std::filesystem::path& file, std::size_t maxBytes,
                           std::vector<std::uint8_t>& out);

// Writes `bytes` completely into a temporary file beside `target` and renames it over
// `target`, so that a crash or a full disk leaves `target` either old or new, never partial.
// With `backup` non-empty the previous `target` becomes `backup` (the old backup is deleted);
// a missing `target` leaves no backup. False when the new content did not take the name.
bool replaceFile(const std::filesystem::path& target, const std::filesystem::path& backup,
                 std::span<const std::uint8_t> bytes, const SinkFactory& sinks);

} // namespace tn
