// The dialogs' and their controls' ids, named once: the templates, the dialogs, the front ends'
// shared window logic and the control tables take them from here. Header only and without
// dependencies. The engine uses none of them: it knows string numbers only
// (resources/ResourceIds.h).
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
// The three value boxes in the order of the lines they show: the target, the print server's
// version, the file's version.
inline constexpr int kConfirmLines[3] = {kConfirmTarget, kConfirmCurrentVersion,
                                         kConfirmFileVersion};
}  // namespace control

}  // namespace vexil
