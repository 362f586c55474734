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
