#include "app/formats.h"

#include <cmath>
#include <cstdio>

namespace tn {

namespace {

std::string printf1(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

} // namespace

std::string formatBytes(float v) {
    // Every step stays in single precision on purpose: the texts must match a program that
    // scaled a float by 1/1024, including its rounding just below a unit boundary.
    constexpr float kScale = 1.0f / 1024.0f;
    if (v < 1024.0f)
        return printf1("%.f B", static_cast<double>(v));
    for (const char* fmt : {"%.2f KB", "%.2f MB", "%.2f GB", "%.2f TB", "%.2f PB"}) {
        v = v * kScale;
        if (v < 1024.0f)
            return printf1(fmt, static_cast<double>(v));
    }
    v = v * kScale;
    return printf1("%.2f EB", static_cast<double>(v));
}

std::string formatBytes32(std::uint32_t bytes) {
    return formatBytes(static_cast<float>(bytes));
}

std::string formatBytes64(std::uint64_t bytes) {
    // A 64-bit count fits extended precision exactly, so this is a single rounding to float.
    return formatBytes(static_cast<float>(static_cast<long double>(bytes)));
}

std::string formatSpeed(std::uint32_t bytesPerSecond) {
    return formatBytes32(bytesPerSecond) + "/s";
}

std::string formatDuration(std::int64_t s) {
    const std::int64_t days = s / 86400;
    const std::int64_t totalHours = s / 3600;
    const std::int64_t totalMinutes = s / 60;
    const long hours = static_cast<long>(totalHours - days * 24);
    const long minutes = static_cast<long>(totalMinutes - totalHours * 60);
    const long seconds = static_cast<long>(s - totalMinutes * 60);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lli:%02li:%02li:%02li", static_cast<long long>(days), hours,
                  minutes, seconds);
    return buf;
}

namespace {

double roundedDays(double d) {
    constexpr double kHalfSecond = 0.5 / 86400.0;
    return d >= 0 ? d + kHalfSecond : d - kHalfSecond;
}

} // namespace

std::string formatPeriodLength(double days) {
    const double d = roundedDays(days);
    const auto seconds = static_cast<int>(static_cast<std::int64_t>(std::trunc(d * 86400.0)) % 60);
    const auto minutes = static_cast<int>(static_cast<std::int64_t>(std::trunc(d * 1440.0)) % 60);
    const auto hours = static_cast<int>(static_cast<std::int64_t>(std::trunc(d * 24.0)) % 24);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%i:%02i:%02i", hours, minutes, seconds);
    return buf;
}

std::int64_t periodSeconds(double days) {
    return static_cast<std::int64_t>(std::trunc(roundedDays(days) * 86400.0));
}

std::string formatTimeSpan(std::string_view pattern, std::int64_t s) {
    const std::int64_t days = s / 86400;
    const std::int64_t hours = s / 3600 - days * 24;
    const std::int64_t minutes = s / 60 - (s / 3600) * 60;
    const std::int64_t seconds = s - (s / 60) * 60;
    std::string out;
    char buf[32];
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c != '%' || i + 1 == pattern.size()) {
            out += c;
            continue;
        }
        const char f = pattern[++i];
        switch (f) {
        case 'D':
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(days));
            out += buf;
            break;
        case 'H':
        case 'M':
        case 'S': {
            const std::int64_t v = f == 'H' ? hours : f == 'M' ? minutes : seconds;
            std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(v));
            out += buf;
            break;
        }
        case '%':
            out += '%';
            break;
        default:
            out += '%';
            out += f;
            break;
        }
    }
    return out;
}

} // namespace tn
