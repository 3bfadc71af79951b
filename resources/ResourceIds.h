// Every string number the program shows, named once: the string table, the dialogs, the front
// ends and the download engine take them from here. Header only and without dependencies, so
// that the engine can use the numbers as plain constants. The dialogs' control ids are apart
// (resources/ControlIds.h): the engine uses none.
#pragma once

namespace vexil {

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
