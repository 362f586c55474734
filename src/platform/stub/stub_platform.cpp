#include "platform/clock.h"
#include "platform/file_store.h"
#include "platform/paths.h"
#include "platform/platform_services.h"
#include "platform/socket_owners.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tn {

namespace {

// A clock without a local calendar: UTC stands for local time.
class StubClock final : public IClock {
public:
    std::int64_t now() const override {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    std::uint32_t tickMs() const override {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    std::int64_t steadyNs() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::optional<LocalTime> toLocal(std::int64_t t) const override {
        using namespace std::chrono;
        const sys_seconds tp{seconds{t}};
        const auto day = floor<days>(tp);
        const year_month_day ymd{day};
        const hh_mm_ss hms{tp - day};
        return LocalTime{static_cast<int>(ymd.year()),
                         static_cast<int>(static_cast<unsigned>(ymd.month())),
                         static_cast<int>(static_cast<unsigned>(ymd.day())),
                         static_cast<int>(hms.hours().count()),
                         static_cast<int>(hms.minutes().count()),
                         static_cast<int>(hms.seconds().count()),
                         0};
    }
    std::optional<std::int64_t> fromLocal(const LocalTime& lt) const override {
        using namespace std::chrono;
        const year_month ym = year{lt.year} / month{1} + months{lt.month - 1};
        const sys_days d = sys_days{ym / day{1}} + days{lt.day - 1};
        return duration_cast<seconds>(d.time_since_epoch() + hours{lt.hour} + minutes{lt.minute} +
                                      seconds{lt.second})
            .count();
    }
};

class StubPaths final : public IPaths {
public:
    std::filesystem::path dataDirectory() const override { return "."; }
    std::filesystem::path configDirectory() const override { return "."; }
    std::filesystem::path runtimeDirectory() const override { return "."; }
    std::filesystem::path executablePath() const override { return {}; }
};

// Plain standard-library files: whole and in order, but with no way to sync them to the disk.
class StubFileStore final : public IFileStore {
public:
    ReadStatus read(const std::filesystem::path& file, std::size_t maxBytes,
                    std::vector<std::uint8_t>& out) override {
        out.clear();
        if (kind(file) == Kind::Other)
            return ReadStatus::NotRegular;
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return ReadStatus::Missing;
        char buf[16384];
        while (in.read(buf, sizeof buf) || in.gcount() > 0) {
            const auto n = static_cast<std::size_t>(in.gcount());
            if (out.size() + n > maxBytes)
                return ReadStatus::TooLarge;
            out.insert(out.end(), buf, buf + n);
        }
        return in.bad() ? ReadStatus::Failed : ReadStatus::Ok;
    }
    ReplaceResult replace(const std::filesystem::path& target, const std::filesystem::path& backup,
                          std::span<const std::uint8_t> bytes) override {
        const Kind was = kind(target);
        if (was == Kind::Other)
            return {ReplaceStatus::NotRegular, 0};
        std::error_code ec;
        std::filesystem::create_directories(target.parent_path(), ec);
        std::filesystem::path temp = target;
        temp += ".new";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out) {
                std::filesystem::remove(temp, ec);
                return {ReplaceStatus::Failed, errno};
            }
        }
        const bool hadTarget = was == Kind::Regular;
        if (!backup.empty() && hadTarget)
            std::filesystem::rename(target, backup, ec);
        std::error_code renamed;
        std::filesystem::rename(temp, target, renamed);
        if (renamed) {
            std::filesystem::remove(temp, ec);
            return {ReplaceStatus::Failed, renamed.value()};
        }
        if (!backup.empty() && !hadTarget)
            std::filesystem::remove(backup, ec);
        return {};
    }
    AppendResult append(const std::filesystem::path& file,
                        std::span<const std::uint8_t> record) override {
        if (kind(file) == Kind::Other)
            return {AppendStatus::NotRegular, 0};
        std::error_code ec;
        const auto before = std::filesystem::file_size(file, ec);
        const std::uintmax_t oldSize = ec ? 0 : before;
        errno = 0;
        std::ofstream out(file, std::ios::binary | std::ios::app);
        if (!out)
            return {AppendStatus::NotOpened, errno};
        out.write(reinterpret_cast<const char*>(record.data()),
                  static_cast<std::streamsize>(record.size()));
        out.close();
        if (!out) {
            const int error = errno; // the C library's reason, where the stream kept it
            std::filesystem::resize_file(file, oldSize, ec);
            return {AppendStatus::WriteFailed, error};
        }
        return {};
    }
    SetAsideResult setAside(const std::filesystem::path& file, const std::string& stamp,
                            std::size_t keep) override {
        switch (kind(file)) {
        case Kind::Missing:
            return {SetAsideStatus::Missing, {}, ENOENT};
        case Kind::Other:
            return {SetAsideStatus::NotRegular, {}, 0};
        case Kind::Regular:
            break;
        }
        const std::string base = file.filename().string();
        std::filesystem::path aside = file;
        aside += kBadFileInfix + stamp;
        // Not atomic here: the check and the rename are two steps.
        for (int n = 2; kind(aside) != Kind::Missing; ++n) {
            if (n > 100)
                return {SetAsideStatus::Failed, {}, EEXIST};
            aside = file;
            aside += kBadFileInfix + stamp + "-" + std::to_string(n);
        }
        std::error_code ec;
        std::filesystem::rename(file, aside, ec);
        if (ec)
            return {SetAsideStatus::Failed, {}, ec.value()};
        std::vector<std::filesystem::path> kept;
        for (const auto& e : std::filesystem::directory_iterator(file.parent_path(), ec))
            if (isSetAsideName(e.path().filename().string(), base) &&
                kind(e.path()) == Kind::Regular)
                kept.push_back(e.path());
        std::sort(kept.begin(), kept.end(), std::greater<>());
        for (std::size_t i = keep; i < kept.size(); ++i)
            std::filesystem::remove(kept[i], ec);
        return {SetAsideStatus::Moved, aside, 0};
    }
    std::optional<std::uintmax_t> size(const std::filesystem::path& file) override {
        std::error_code ec;
        if (kind(file) != Kind::Regular)
            return std::nullopt;
        const auto n = std::filesystem::file_size(file, ec);
        return ec ? std::nullopt : std::optional<std::uintmax_t>(n);
    }

private:
    enum class Kind { Missing, Regular, Other };
    static Kind kind(const std::filesystem::path& file) {
        std::error_code ec;
        const auto st = std::filesystem::symlink_status(file, ec);
        if (!std::filesystem::exists(st))
            return Kind::Missing;
        return std::filesystem::is_regular_file(st) ? Kind::Regular : Kind::Other;
    }
};

// Finds nothing: no adapters, no counters, no capture, no settings store, no session events
// (a null service is one the system does not offer).
// No socket is known here: every flow ends up as nobody's on this computer.
class StubSocketOwners final : public ISocketOwners {
public:
    std::optional<std::string> ownerOf(const FlowKey&) override { return std::nullopt; }
    std::uint64_t knowledge() const override { return 0; }
};

class StubPlatform final : public Platform {
public:
    PlatformServices services() override {
        PlatformServices s;
        s.clock = &m_clock;
        s.paths = &m_paths;
        s.files = &m_files;
        s.socketOwners = &m_owners;
        return s;
    }

private:
    StubSocketOwners m_owners;
    StubClock m_clock;
    StubPaths m_paths;
    StubFileStore m_files;
};

} // namespace

std::unique_ptr<Platform> createPlatform() {
    return std::make_unique<StubPlatform>();
}

std::unique_ptr<Platform> createReadOnlyPlatform() {
    return std::make_unique<StubPlatform>(); // holds nothing that acts on its own
}

} // namespace tn
