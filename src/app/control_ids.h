#pragma once

// Control identifiers, one namespace per dialog. They are the objectName of each control and
// the numbers the program's dialogs have always used.
namespace tn::ids {

namespace help {
inline constexpr int kDialog = 142;
inline constexpr int kOk = 1;
inline constexpr int kText = 1028;
} // namespace help

namespace about {
inline constexpr int kDialog = 129;
inline constexpr int kPicture = 1014;
inline constexpr int kLogoBitmap = 130;
} // namespace about

} // namespace tn::ids
