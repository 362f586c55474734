#include "stats/outage_file.h"

#include "platform/clock.h"

#include <array>
#include <fstream>
#include <istream>

namespace tn {

namespace {

using Value = std::array<unsigned char, 8>;

std::int64_t littleEndian(const Value& b) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | b[static_cast<std::size_t>(i)];
    return static_cast<std::int64_t>(v);
}

// Reads up to 8 bytes into the front of b; returns how many arrived.
std::streamsize readValue(std::istream& in, Value& b) {
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return in.gcount();
}

} // namespace

bool isValidOutageTime(std::int64_t t, const IClock& clock) {
    return t >= 0 && t <= kMaxOutageTime && clock.toLocal(t).has_value();
}

OutageLog readOutageRecords(std::istream& in, const IClock& clock) {
    OutageLog log;
    for (;;) {
        Value buffer{};
        const std::streamsize got = readValue(in, buffer);
        if (in.bad()) {
            log.invalid = true;
            break;
        }
        if (got < 8)
            break; // fewer than 8 bytes left: no further record
        OutageRecord rec;
        rec.start = littleEndian(buffer);
        if (!isValidOutageTime(rec.start, clock)) {
            log.invalid = true;
            break;
        }
        // The stop value lands in the same buffer: a file ending here leaves it equal to the
        // start, one ending part-way replaces only its leading (low) bytes.
        readValue(in, buffer);
        if (in.bad()) {
            log.invalid = true;
            break;
        }
        rec.stop = littleEndian(buffer);
        if (!isValidOutageTime(rec.stop, clock)) {
            log.invalid = true;
            break;
        }
        log.records.push_back(rec);
    }
    return log;
}

std::optional<OutageLog> readOutageFile(const std::filesystem::path& file, const IClock& clock) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return std::nullopt;
    return readOutageRecords(in, clock);
}

} // namespace tn
