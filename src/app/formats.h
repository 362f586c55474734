#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tn {

// Byte quantity in binary units: "1023 B", "1.50 KB", "1024.00 KB" (no carry into the next
// unit). The value is single precision, as every caller's count is rounded to 24 bits first.
std::string formatBytes(float bytes);
std::string formatBytes32(std::uint32_t bytes);
std::string formatBytes64(std::uint64_t bytes);
// The byte text followed by "/s".
std::string formatSpeed(std::uint32_t bytesPerSecond);
// "%02lli:%02li:%02li:%02li": days, hours, minutes, seconds.
std::string formatDuration(std::int64_t seconds);
// "%i:%02i:%02i" of a span in days, rounded to whole seconds; hours wrap at 24.
std::string formatPeriodLength(double days);
// Whole seconds of a span in days, rounded half a second away from zero.
std::int64_t periodSeconds(double days);
// Time-span pattern: %D days, %H hours of the day, %M minutes, %S seconds, %% a percent sign;
// each unit by truncating division, so negative spans give negative parts ("00:-1:-5").
std::string formatTimeSpan(std::string_view pattern, std::int64_t seconds);

} // namespace tn
