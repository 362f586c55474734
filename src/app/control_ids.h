#pragma once
// Control identifiers, one namespace per dialog. The numbers are the program's own: they name
// the controls (object names, texts written by the tick), so they never change.

namespace tn::ids::main_dlg {

inline constexpr int kExit = 1;    // the dialog's OK button
inline constexpr int kViewLog = 2; // the dialog's cancel button (Escape)

inline constexpr int kReceivedSpeed = 1000;
inline constexpr int kPeriodReceived = 1001;
inline constexpr int kSentSpeed = 1002;
inline constexpr int kPeriodSent = 1003;
inline constexpr int kTotalSpeed = 1004;
inline constexpr int kPeriodTotal = 1005;
inline constexpr int kAverageReceived = 1006;
inline constexpr int kAverageSent = 1007;
inline constexpr int kAverageTotal = 1008;
inline constexpr int kTotalDownload = 1009;
inline constexpr int kTotalUpload = 1010;
inline constexpr int kGraph = 1011;
inline constexpr int kAverageGroup = 1012;
inline constexpr int kAbout = 1013;
inline constexpr int kGeneralGroup = 1014;
inline constexpr int kAdapterCombo = 1015;
inline constexpr int kDuration = 1017;
inline constexpr int kTotalGeneral = 1018;
inline constexpr int kOptions = 1019;
inline constexpr int kPeriodGroup = 1020;
inline constexpr int kHide = 1021;
inline constexpr int kHelp = 1022;
inline constexpr int kStatusPicture = 1027;
inline constexpr int kStatusText = 1030;
inline constexpr int kDownloadGroup = 1046;
inline constexpr int kUploadGroup = 1047;
inline constexpr int kTotalSpeedGroup = 1048;
inline constexpr int kReceivedBar = 1052;
inline constexpr int kSentBar = 1053;
inline constexpr int kRemember = 1087;

} // namespace tn::ids::main_dlg

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
