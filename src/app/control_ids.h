#pragma once
// Control identifiers of the dialogs, one namespace per dialog. The numbers are the dialog
// templates' own: tests and accessibility tools find controls by them.

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
