#pragma once
// Control identifiers, one namespace per dialog. Widgets carry them as their object names.

namespace tn::ids::log_viewer {
inline constexpr int kDialog = 146;
inline constexpr int kDone = 1;
inline constexpr int kChart = 1055;
inline constexpr int kShowMonths = 1081;
inline constexpr int kCustomName = 1086;
// Value cells: upload, download and total of each row.
inline constexpr int kWebUpload = 1057;
inline constexpr int kWebDownload = 1058;
inline constexpr int kWebTotal = 1059;
inline constexpr int kMailUpload = 1060;
inline constexpr int kMailDownload = 1061;
inline constexpr int kMailTotal = 1062;
inline constexpr int kFilesharingUpload = 1063;
inline constexpr int kFilesharingDownload = 1064;
inline constexpr int kFilesharingTotal = 1065;
inline constexpr int kNewsUpload = 1066;
inline constexpr int kNewsDownload = 1067;
inline constexpr int kNewsTotal = 1068;
inline constexpr int kUdpUpload = 1069;
inline constexpr int kUdpDownload = 1070;
inline constexpr int kUdpTotal = 1071;
inline constexpr int kOthersUpload = 1072;
inline constexpr int kOthersDownload = 1073;
inline constexpr int kOthersTotal = 1074;
inline constexpr int kTotalUpload = 1075;
inline constexpr int kTotalDownload = 1076;
inline constexpr int kTotalTotal = 1077;
inline constexpr int kFtpUpload = 1078;
inline constexpr int kFtpDownload = 1079;
inline constexpr int kFtpTotal = 1080;
inline constexpr int kCustomUpload = 1082;
inline constexpr int kCustomDownload = 1083;
inline constexpr int kCustomTotal = 1084;
} // namespace tn::ids::log_viewer
