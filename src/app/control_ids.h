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

namespace tn::ids::options {
inline constexpr int kOk = 1;
inline constexpr int kWinPCap = 1017;
inline constexpr int kRunAtStartUp = 1018;
inline constexpr int kStartMin = 1019;
inline constexpr int kLogFalls = 1020;
inline constexpr int kFallSecs = 1021;
inline constexpr int kViewLog = 1022;
inline constexpr int kAutohide = 1023;
inline constexpr int kConfirmExit = 1024;
inline constexpr int kPingHost = 1042;
inline constexpr int kHost = 1043;
inline constexpr int kTest = 1044;
inline constexpr int kIncremtotal = 1045;
inline constexpr int kWinPcapGroup = 1049;
inline constexpr int kCustomGroup = 1050;
inline constexpr int kConSpeed = 1051;
inline constexpr int kGeneralGroup = 1052;
inline constexpr int kLanOnly = 1053;
inline constexpr int kSpeedGroup = 1054;
inline constexpr int kCustField = 1082;
inline constexpr int kCustName = 1083;
inline constexpr int kCustPort = 1084;
inline constexpr int kResetCustom = 1085;
} // namespace tn::ids::options

namespace tn::ids::netfalls {
inline constexpr int kOk = 1;
inline constexpr int kList = 1023;
inline constexpr int kCount = 1024;
inline constexpr int kDuration = 1025;
inline constexpr int kExport = 1029;
inline constexpr int kFilter = 1032;
inline constexpr int kStartDate = 1033;
inline constexpr int kStopDate = 1034;
inline constexpr int kSort = 1035;
inline constexpr int kStartLabel = 1036;
inline constexpr int kStopLabel = 1037;
inline constexpr int kMinDuration = 1038;
inline constexpr int kMinDurationLabel = 1039;
inline constexpr int kSecondsLabel = 1040;
inline constexpr int kMoreFrame = 1041;
} // namespace tn::ids::netfalls

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
// Added beside the original controls.
inline constexpr int kShowHours = 1200;
inline constexpr int kDataPlan = 1201;

// The viewer's way to the traffic per program, beside "Done".
inline constexpr int kApplications = 1091;
} // namespace tn::ids::log_viewer

// "Tallynet Applications": the traffic per program.
namespace tn::ids::apps {
inline constexpr int kDone = 1;
inline constexpr int kView = 1201;
inline constexpr int kTable = 1202;
} // namespace tn::ids::apps

namespace tn::ids::help {

inline constexpr int kDialog = 142;
inline constexpr int kOk = 1;
inline constexpr int kText = 1028;

} // namespace tn::ids::help

namespace tn::ids::about {

inline constexpr int kDialog = 129;
inline constexpr int kPicture = 1014;
inline constexpr int kLogoBitmap = 130;

} // namespace tn::ids::about

namespace tn::ids::data_plan {

inline constexpr int kDone = 1;
inline constexpr int kAllowance = 3001;
inline constexpr int kCounted = 3002;
inline constexpr int kStartDay = 3003;
inline constexpr int kWarnPercent = 3004;
inline constexpr int kNotify = 3005;
inline constexpr int kPeriod = 3010;
inline constexpr int kUsed = 3011;
inline constexpr int kAllowanceValue = 3012;
inline constexpr int kDaysLeft = 3013;
inline constexpr int kProjected = 3014;

} // namespace tn::ids::data_plan
