// The outage list reads NetFalls.dat, filters it and formats what it shows. Input: the filter
// (1 byte), the query's "now" (4 bytes, seconds after 2001), the first and last day of the
// More filters range (4 bytes each: year offset, month, day, unused), the minimum duration
// (4 bytes), then the file's bytes, which an in-memory file store hands to the reader.
#include "platform/file_store.h"
#include "platform/platform_services.h"
#include "stats/outage_list.h"
#include "support/fake_clock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <unistd.h>

namespace {

// Reads hand out the current input; nothing is written.
class InputFileStore final : public tn::IFileStore {
public:
    std::span<const std::uint8_t> content;
    tn::ReadStatus read(const std::filesystem::path&, std::size_t maxBytes,
                        std::vector<std::uint8_t>& out) override {
        if (content.size() > maxBytes)
            return tn::ReadStatus::TooLarge;
        out.assign(content.begin(), content.end());
        return tn::ReadStatus::Ok;
    }
    tn::ReplaceResult replace(const std::filesystem::path&, const std::filesystem::path&,
                              std::span<const std::uint8_t>) override {
        return {tn::ReplaceStatus::Failed, 0};
    }
    tn::AppendResult append(const std::filesystem::path&, std::span<const std::uint8_t>) override {
        return {tn::AppendStatus::NotOpened, 0};
    }
    tn::SetAsideResult setAside(const std::filesystem::path&, const std::string&,
                                std::size_t) override {
        return {tn::SetAsideStatus::Failed, {}, 0};
    }
    std::optional<std::uintmax_t> size(const std::filesystem::path&) override {
        return content.size();
    }
};

// The reader looks at the real file before it reads: an empty regular file stands in for it.
std::filesystem::path outageFile() {
    static const std::filesystem::path file = [] {
        std::string dir =
            (std::filesystem::temp_directory_path() / "tallynet-fuzz-XXXXXX").string();
        if (!mkdtemp(dir.data()))
            std::abort();
        std::filesystem::path f = std::filesystem::path(dir) / tn::kOutageFileName;
        std::ofstream(f).close();
        return f;
    }();
    return file;
}

std::int32_t int32At(const std::uint8_t* p) {
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHead = 17;
    if (size < kHead)
        return 0;
    tn::test::FakeClock clock;
    tn::OutageQuery query;
    query.filter = static_cast<tn::OutageFilter>(data[0] % 5);
    query.now =
        978307200 + static_cast<std::int64_t>(static_cast<std::uint32_t>(int32At(data + 1)));
    query.firstDay = {2000 + data[5], data[6], data[7]};
    query.lastDay = {2000 + data[9], data[10], data[11]};
    query.minDuration = int32At(data + 13);

    InputFileStore files;
    files.content = {data + kHead, size - kHead};
    const tn::OutageListLoad load = tn::loadOutageList(files, outageFile(), query, clock);
    if (!load.opened)
        __builtin_trap();
    // The list shows only records of the file, each whole, and totals exactly what it shows.
    const std::size_t records =
        (files.content.size() + tn::kOutageRecordBytes - 1) / tn::kOutageRecordBytes;
    if (load.rows.size() > records)
        __builtin_trap();
    std::int64_t total = 0;
    for (std::size_t i = 0; i < load.rows.size(); ++i) {
        total += load.rows[i].duration();
        if (i < 16)
            for (int column = 0; column < 4; ++column)
                (void)tn::outageCell(load.rows[i], i, column, clock);
    }
    if (total != load.totalSeconds)
        __builtin_trap();
    const std::string text =
        tn::outageExportText(load.rows, clock, tn::outageTotalText(load.totalSeconds));
    if (text.rfind(tn::kExportBanner, 0) != 0)
        __builtin_trap();
    return 0;
}
