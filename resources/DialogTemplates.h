// The three dialog templates as data: every control with its id, kind, text, position and size
// in dialog units and its styles, in template order (which is also the tab and focus order). A
// text is a key of the catalogs (resources/Text.h: Tr gives it in the user's language); an empty
// text is none, and the progress bar's is its window text, which nobody reads.
#pragma once

#include <span>

#include "resources/ControlIds.h"

namespace vexil {

enum class ControlKind {
    GroupBox,
    CheckBox,
    Static,
    ComboBox,
    Edit,
    ProgressBar,
    PushButton,
    ListBox,
    Icon
};

namespace style {
inline constexpr unsigned kTabStop = 1u << 0;
inline constexpr unsigned kGroup = 1u << 1;
inline constexpr unsigned kDisabled = 1u << 2;
inline constexpr unsigned kHidden = 1u << 3;
inline constexpr unsigned kDefaultButton = 1u << 4;
inline constexpr unsigned kUpperCase = 1u << 5;
inline constexpr unsigned kAlignRight = 1u << 6;
inline constexpr unsigned kAlignCenter = 1u << 7;
inline constexpr unsigned kVCenter = 1u << 8;
inline constexpr unsigned kAutoHScroll = 1u << 9;
inline constexpr unsigned kBorder = 1u << 10;
inline constexpr unsigned kSorted = 1u << 11;
inline constexpr unsigned kVScroll = 1u << 12;
inline constexpr unsigned kNoSelection = 1u << 13;
}  // namespace style

inline constexpr int kNoId = -1;

struct ControlSpec {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, width, height;
    unsigned styles;
    // The width under English where its text needs more room than the Japanese one (0: the
    // same width); the control keeps its place, and grows only into space left free beside it.
    int englishWidth = 0;
};

// A control's width in dialog units in the current language.
int ControlWidth(const ControlSpec& control);

struct DialogTemplate {
    int id;
    const char* caption;
    int width, height;
    const char* fontFamily;
    int pointSize;
    std::span<const ControlSpec> controls;
};

const DialogTemplate& MainDialogTemplate();     // 102
const DialogTemplate& ConfirmDialogTemplate();  // 131
const DialogTemplate& AboutDialogTemplate();    // 100

// The model list's entries, ended by an empty entry.
extern const char* const kModelNames[];

// The page that button 1030 opens in the browser: where the download files are published.
extern const char kWebPageAddress[];

// The system menu's command of the about box (string 101).
inline constexpr int kAboutCommand = 0x10;

}  // namespace vexil
