#include "stats/outage_file.h"

#include "platform/clock.h"
#include "platform/file_store.h"

#include <algorithm>

namespace tn {

namespace {

std::int64_t littleEndian(const std::uint8_t* b) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | b[i];
    return static_cast<std::int64_t>(v);
}

void putLittleEndian(std::uint8_t* out, std::int64_t value) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
}

} // namespace

bool isValidOutageTime(std::int64_t t, const IClock& clock) {
    return t >= 0 && t <= kMaxOutageTime && clock.toLocal(t).has_value();
}

std::array<std::uint8_t, kOutageRecordBytes> encodeOutageRecord(const OutageRecord& record) {
    std::array<std::uint8_t, kOutageRecordBytes> out{};
    putLittleEndian(out.data(), record.start);
    putLittleEndian(out.data() + 8, record.stop);
    return out;
}

OutageLog decodeOutageRecords(std::span<const std::uint8_t> bytes, const IClock& clock) {
    OutageLog log;
    while (bytes.size() >= 8) {
        std::uint8_t buffer[8];
        std::copy_n(bytes.begin(), 8, buffer);
        bytes = bytes.subspan(8);
        OutageRecord rec;
        rec.start = littleEndian(buffer);
        if (!isValidOutageTime(rec.start, clock)) {
            log.invalid = true;
            break;
        }
        // The stop value lands in the same buffer: a file ending here leaves it equal to the
        // start, one ending part-way replaces only its leading (low) bytes.
        const std::size_t got = std::min<std::size_t>(bytes.size(), 8);
        std::copy_n(bytes.begin(), got, buffer);
        bytes = bytes.subspan(got);
        rec.stop = littleEndian(buffer);
        if (!isValidOutageTime(rec.stop, clock)) {
            log.invalid = true;
            break;
        }
        log.records.push_back(rec);
    }
    return log;
}

std::optional<OutageLog> readOutageFile(IFileStore& files, const std::filesystem::path& file,
                                        const IClock& clock) {
    std::vector<std::uint8_t> bytes;
    switch (files.read(file, kMaxOutageFileBytes, bytes)) {
    case ReadStatus::Missing:
        return std::nullopt;
    case ReadStatus::TooLarge:
    case ReadStatus::NotRegular:
    case ReadStatus::Failed:
        return OutageLog{{}, true};
    case ReadStatus::Ok:
        break;
    }
    return decodeOutageRecords(bytes, clock);
}

AppendResult appendOutageRecord(IFileStore& files, const std::filesystem::path& file,
                                const OutageRecord& record) {
    const auto bytes = encodeOutageRecord(record);
    return files.append(file, bytes);
}

} // namespace tn
