#include "resources/DialogTemplates.h"

namespace vexil {

namespace {

using enum ControlKind;
using namespace style;

constexpr const char* kDialogFont = "ＭＳ Ｐゴシック";
constexpr unsigned kLabel = kVCenter;  // static text, left-aligned, vertically centred
constexpr unsigned kOctet = kAlignRight | kAutoHScroll | kBorder | kTabStop;
constexpr unsigned kHex = kUpperCase | kBorder | kTabStop;

constexpr ControlSpec kMainControls[] = {
    {1014, GroupBox, "", 7, 75, 165, 42, kDisabled},
    {1015, GroupBox, "", 7, 42, 165, 31, kDisabled},
    {1017, CheckBox, "IPXダウンロード", 14, 75, 64, 10, kTabStop},
    {1016, CheckBox, "TCPダウンロード", 13, 41, 64, 10, kTabStop},
    {1040, Static, "機種名", 30, 7, 25, 12, kLabel | kGroup},
    {1026, ComboBox, "", 58, 7, 80, 55, kSorted | kVScroll | kTabStop},
    {1013, Static, "IPアドレス", 21, 55, 30, 12, kLabel},
    {1003, Edit, "", 74, 55, 20, 12, kOctet},
    {1007, Edit, "", 98, 55, 20, 12, kOctet},
    {1008, Edit, "", 123, 55, 20, 12, kOctet},
    {1009, Edit, "", 148, 55, 20, 12, kOctet},
    {1011, Static, "ネットワークアドレス", 13, 87, 59, 12, kLabel},
    {1004, Edit, "", 73, 87, 95, 12, kHex},
    {1012, Static, "MACアドレス", 13, 100, 38, 12, kLabel},
    {1005, Edit, "", 73, 101, 95, 12, kHex},
    {1010, ProgressBar, "Progress1", 6, 133, 165, 12, kBorder},
    {3, PushButton, "ダウンロード", 27, 151, 50, 14, kDefaultButton | kTabStop},
    {2, PushButton, "キャンセル", 95, 151, 50, 14, kDefaultButton | kTabStop},
    {1030, PushButton, "ダウンロードファイルの取得", 147, 4, 11, 15,
     kTabStop | kDisabled | kHidden},
    {1044, PushButton, "ファイル参照", 14, 24, 150, 15, kTabStop},
    {1054, Static, "", 7, 119, 161, 12, kAlignCenter | kVCenter | kGroup},
};

constexpr ControlSpec kConfirmControls[] = {
    {1, PushButton, "ダウンロードする", 20, 120, 60, 14, kDefaultButton | kTabStop},
    {2, PushButton, "ダウンロードしない", 95, 120, 60, 14, kTabStop},
    {kNoId, Static, "指定されたターゲット", 10, 10, 65, 15, 0},
    {kNoId, Static, "現在のバージョンは", 10, 30, 65, 15, 0},
    {1019, ListBox, "", 75, 10, 55, 15, kBorder | kNoSelection | kTabStop},
    {1020, ListBox, "", 75, 30, 55, 15, kBorder | kNoSelection | kTabStop},
    {kNoId, Static, "です。", 130, 30, 20, 15, kAlignCenter},
    {kNoId, Static, "の", 130, 10, 10, 15, kAlignCenter},
    {kNoId, Static, "ダウンロードするファイルのバージョンは、", 10, 65, 125, 15, 0},
    {1021, ListBox, "", 75, 80, 55, 15, kBorder | kNoSelection | kTabStop},
    {kNoId, Static, "です。", 130, 80, 20, 15, kAlignCenter},
    {1055, Edit, "", 77, 51, 52, 12, kBorder | kHidden},
};

constexpr ControlSpec kAboutControls[] = {
    {kNoId, Icon, "", 7, 7, 20, 20, 0},
    {1, PushButton, "OK", 179, 40, 32, 14, kDefaultButton | kTabStop},
    {kNoId, Static, "Vexilware 1.0", 81, 38, 78, 8, 0},
};

constexpr DialogTemplate kMain{102, "Vexilware", 175, 169, kDialogFont, 9, kMainControls};
constexpr DialogTemplate kConfirm{131, "ターゲット確認", 174, 139, kDialogFont,
                                  9,   kConfirmControls};
constexpr DialogTemplate kAbout{100, "ﾊﾞｰｼﾞｮﾝ情報 ", 218, 61, kDialogFont, 9, kAboutControls};

}  // namespace

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

}  // namespace vexil
