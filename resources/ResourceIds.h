// The program's resource ids, named once: the dialog templates, their controls and every string
// number the program shows. The templates, the string table, the dialogs and the download engine
// all take them from here. Header only and without dependencies, so that the engine can use the
// numbers as plain constants.
#pragma once

namespace vexil {

// The three dialog templates.
namespace dialog {
inline constexpr int kAbout = 100;
inline constexpr int kMain = 102;
inline constexpr int kConfirm = 131;
}  // namespace dialog

// Control ids. The push buttons 1 and 2 play the same parts in every dialog: go on (the about
// box's OK, "ダウンロードする") and cancel (the main dialog's cancel, "ダウンロードしない").
namespace control {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;

// Main dialog (102).
inline constexpr int kDownload = 3;
inline constexpr int kOctet1 = 1003;
inline constexpr int kNetworkAddress = 1004;
inline constexpr int kMacAddress = 1005;
inline constexpr int kOctet2 = 1007;
inline constexpr int kOctet3 = 1008;
inline constexpr int kOctet4 = 1009;
inline constexpr int kProgress = 1010;
inline constexpr int kNetworkLabel = 1011;
inline constexpr int kMacLabel = 1012;
inline constexpr int kIpLabel = 1013;
inline constexpr int kIpxGroup = 1014;
inline constexpr int kIpGroup = 1015;
inline constexpr int kTcpCheck = 1016;
inline constexpr int kIpxCheck = 1017;
inline constexpr int kModelList = 1026;
inline constexpr int kWebPage = 1030;
inline constexpr int kModelLabel = 1040;
inline constexpr int kBrowse = 1044;
inline constexpr int kStatusLine = 1054;

// Confirmation dialog (131).
inline constexpr int kConfirmTarget = 1019;
inline constexpr int kConfirmCurrentVersion = 1020;
inline constexpr int kConfirmFileVersion = 1021;
inline constexpr int kConfirmHiddenEdit = 1055;
}  // namespace control

// String numbers: every text of the string table.
namespace msg {
inline constexpr int kAboutMenuItem = 101;
inline constexpr int kReadFailed = 102;
inline constexpr int kChecksumError = 103;
inline constexpr int kDataLengthError = 104;
inline constexpr int kFormatError = 105;
inline constexpr int kCannotOpenFile = 106;
inline constexpr int kWinsockFailed = 109;
inline constexpr int kDownloadFinished = 110;
inline constexpr int kDownloadCancelled = 111;
inline constexpr int kVersionFailed = 112;
inline constexpr int kVersionInvalid = 113;
inline constexpr int kConnectFailed = 115;
inline constexpr int kEraseError = 116;
inline constexpr int kNoIdentRecord = 117;
inline constexpr int kAboveMaximum = 118;
inline constexpr int kBelowMinimum = 119;
inline constexpr int kNoBrowser = 120;
inline constexpr int kDownloadStarts = 121;
inline constexpr int kDoNotSwitchOff = 122;
inline constexpr int kFileChosen = 57601;
inline constexpr int kFileFilter = 57603;
inline constexpr int kFileMissing = 57604;
inline constexpr int kIpAddressEmpty = 57605;
inline constexpr int kMacAddressLength = 57606;
inline constexpr int kCheckTargetAddress = 57610;
inline constexpr int kFirstOctetZero = 57611;
inline constexpr int kFileUnreadable = 57612;
inline constexpr int kSendFailed = 57613;
inline constexpr int kReceiveFailed = 57614;
inline constexpr int kNotFinished = 57615;
inline constexpr int kSocketNotOpened = 57616;
inline constexpr int kFirstOctet127 = 57620;
inline constexpr int kPowerCycleAndRetry = 57621;
inline constexpr int kWrongPrintServer = 57622;
inline constexpr int kDownloadFailed = 57623;
inline constexpr int kCancelledDuringQuery = 57624;
inline constexpr int kCannotDownload = 57625;
inline constexpr int kStatusModeSwitch = 57626;
inline constexpr int kStatusErasing = 57627;
inline constexpr int kStatusDownloading = 57628;
inline constexpr int kNoVersion = 57630;
inline constexpr int kModelMismatch = 57631;
}  // namespace msg

}  // namespace vexil
