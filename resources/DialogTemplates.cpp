#include "resources/DialogTemplates.h"

#include "resources/ConfirmLabels.h"
#include "resources/ResourceIds.h"
#include "resources/Text.h"

namespace vexil {

namespace {

using enum ControlKind;
using namespace style;
using namespace control;

constexpr const char* kDialogFont = "ＭＳ Ｐゴシック";
constexpr unsigned kLabel = kVCenter;  // static text, left-aligned, vertically centred
constexpr unsigned kOctet = kAlignRight | kAutoHScroll | kBorder | kTabStop;
constexpr unsigned kHex = kUpperCase | kBorder | kTabStop;

constexpr ControlSpec kMainControls[] = {
    {kIpxGroup, GroupBox, "", 7, 75, 165, 42, kDisabled},
    {kIpGroup, GroupBox, "", 7, 42, 165, 31, kDisabled},
    {kIpxCheck, CheckBox, "dlg.main.ipx-check", 14, 75, 64, 10, kTabStop},
    {kTcpCheck, CheckBox, "dlg.main.tcp-check", 13, 41, 64, 10, kTabStop},
    {kModelLabel, Static, "dlg.main.model-label", 30, 7, 25, 12, kLabel | kGroup},
    {kModelList, ComboBox, "", 58, 7, 80, 55, kSorted | kVScroll | kTabStop},
    {kIpLabel, Static, "dlg.main.ip-label", 21, 55, 30, 12, kLabel, 50},
    {kOctet1, Edit, "", 74, 55, 20, 12, kOctet},
    {kOctet2, Edit, "", 98, 55, 20, 12, kOctet},
    {kOctet3, Edit, "", 123, 55, 20, 12, kOctet},
    {kOctet4, Edit, "", 148, 55, 20, 12, kOctet},
    {kNetworkLabel, Static, "dlg.main.network-label", 13, 87, 59, 12, kLabel},
    {kNetworkAddress, Edit, "", 73, 87, 95, 12, kHex},
    {kMacLabel, Static, "dlg.main.mac-label", 13, 100, 40, 12, kLabel, 58},
    {kMacAddress, Edit, "", 73, 101, 95, 12, kHex},
    {kProgress, ProgressBar, "Progress1", 6, 133, 165, 12, kBorder},
    {kDownload, PushButton, "dlg.main.download", 27, 151, 50, 14, kDefaultButton | kTabStop},
    {kCancel, PushButton, "dlg.main.cancel", 95, 151, 50, 14, kDefaultButton | kTabStop},
    {kWebPage, PushButton, "dlg.main.web-page", 147, 4, 11, 15, kTabStop | kDisabled | kHidden},
    {kBrowse, PushButton, "dlg.main.browse", 14, 24, 150, 15, kTabStop},
    {kStatusLine, Static, "", 7, 119, 161, 12, kAlignCenter | kVCenter | kGroup},
};

constexpr ControlSpec kConfirmControls[] = {
    {kOk, PushButton, confirm::kDownload, 20, 120, 60, 14, kDefaultButton | kTabStop},
    {kCancel, PushButton, confirm::kDoNotDownload, 95, 120, 60, 14, kTabStop, 64},
    {kNoId, Static, confirm::kTarget.before, 10, 10, 65, 15, 0},
    {kNoId, Static, confirm::kCurrentVersion.before, 10, 30, 65, 15, 0},
    {kConfirmTarget, ListBox, "", 75, 10, 55, 15, kBorder | kNoSelection | kTabStop},
    {kConfirmCurrentVersion, ListBox, "", 75, 30, 55, 15, kBorder | kNoSelection | kTabStop},
    {kNoId, Static, confirm::kCurrentVersion.after, 130, 30, 20, 15, kAlignCenter},
    {kNoId, Static, confirm::kTarget.after, 130, 10, 10, 15, kAlignCenter, 20},
    {kNoId, Static, confirm::kFileVersion.before, 10, 65, 125, 15, 0},
    {kConfirmFileVersion, ListBox, "", 75, 80, 55, 15, kBorder | kNoSelection | kTabStop},
    {kNoId, Static, confirm::kFileVersion.after, 130, 80, 20, 15, kAlignCenter},
    {kConfirmHiddenEdit, Edit, "", 77, 51, 52, 12, kBorder | kHidden},
};

constexpr ControlSpec kAboutControls[] = {
    {kNoId, Icon, "", 7, 7, 20, 20, 0},
    {kOk, PushButton, "dlg.about.ok", 179, 40, 32, 14, kDefaultButton | kTabStop},
    {kNoId, Static, "dlg.about.version", 81, 38, 78, 8, 0},
};

constexpr DialogTemplate kMain{dialog::kMain, "dlg.main.title", 175, 169, kDialogFont, 9,
                               kMainControls};
constexpr DialogTemplate kConfirm{dialog::kConfirm, "dlg.confirm.title", 174, 139, kDialogFont, 9,
                                  kConfirmControls};
constexpr DialogTemplate kAbout{dialog::kAbout, "dlg.about.title", 218, 61, kDialogFont, 9,
                                kAboutControls};

}  // namespace

int ControlWidth(const ControlSpec& control) {
    return CurrentLanguage() == Language::kEnglish && control.englishWidth != 0
               ? control.englishWidth
               : control.width;
}

const DialogTemplate& MainDialogTemplate() {
    return kMain;
}
const DialogTemplate& ConfirmDialogTemplate() {
    return kConfirm;
}
const DialogTemplate& AboutDialogTemplate() {
    return kAbout;
}

// "LANｶｰﾄﾞｵﾌﾟｼｮﾝ": three ASCII letters and ten half-width katakana.
const char* const kModelNames[] = {"LANｶｰﾄﾞｵﾌﾟｼｮﾝ", ""};

const char kWebPageAddress[] = "https://vexilware.example/lan-products/";

}  // namespace vexil
