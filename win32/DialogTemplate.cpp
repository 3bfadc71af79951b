#include "win32/DialogTemplate.h"

#include <commctrl.h>

#include "resources/Text.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {

// A control's predefined window class in a dialog template, by its atom; 0 for the progress bar,
// whose class the common controls register by name.
WORD ClassAtom(ControlKind kind) {
    switch (kind) {
        case ControlKind::GroupBox:
        case ControlKind::CheckBox:
        case ControlKind::PushButton:
            return 0x0080;
        case ControlKind::Edit:
            return 0x0081;
        case ControlKind::Static:
        case ControlKind::Icon:
            return 0x0082;
        case ControlKind::ListBox:
            return 0x0083;
        case ControlKind::ComboBox:
            return 0x0085;
        case ControlKind::ProgressBar:
            break;
    }
    return 0;
}

// Shift JIS: the character set the template's font is made for.
constexpr BYTE kTemplateCharset = SHIFTJIS_CHARSET;

DWORD KindStyle(const ControlSpec& control) {
    using namespace style;
    const unsigned s = control.styles;
    switch (control.kind) {
        case ControlKind::GroupBox:
            return BS_GROUPBOX;
        case ControlKind::CheckBox:
            return BS_AUTOCHECKBOX;
        case ControlKind::Static:
            return ((s & kAlignCenter) != 0  ? SS_CENTER
                    : (s & kAlignRight) != 0 ? SS_RIGHT
                                             : SS_LEFT) |
                   ((s & kVCenter) != 0 ? SS_CENTERIMAGE : 0) | SS_NOPREFIX;
        case ControlKind::ComboBox:
            return CBS_DROPDOWNLIST | ((s & kSorted) != 0 ? CBS_SORT : 0) |
                   ((s & kVScroll) != 0 ? WS_VSCROLL : 0);
        case ControlKind::Edit:
            return ((s & kAlignRight) != 0 ? ES_RIGHT : ES_LEFT) |
                   ((s & kAutoHScroll) != 0 ? ES_AUTOHSCROLL : 0) |
                   ((s & kUpperCase) != 0 ? ES_UPPERCASE : 0);
        case ControlKind::ProgressBar:
            return 0;
        case ControlKind::PushButton:
            return (s & kDefaultButton) != 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        case ControlKind::ListBox:
            // The box keeps the template's height: one line, shown whole.
            return ((s & kNoSelection) != 0 ? LBS_NOSEL : 0) | LBS_NOINTEGRALHEIGHT |
                   ((s & kVScroll) != 0 ? WS_VSCROLL : 0);
        case ControlKind::Icon:
            return SS_ICON;
    }
    return 0;
}

}  // namespace

DWORD ControlStyle(const ControlSpec& control) {
    using namespace style;
    const unsigned s = control.styles;
    return WS_CHILD | KindStyle(control) | ((s & kHidden) == 0 ? WS_VISIBLE : 0) |
           ((s & kDisabled) != 0 ? WS_DISABLED : 0) | ((s & kTabStop) != 0 ? WS_TABSTOP : 0) |
           ((s & kGroup) != 0 ? WS_GROUP : 0) | ((s & kBorder) != 0 ? WS_BORDER : 0);
}

void InMemoryTemplate::DoubleWord(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
}

void InMemoryTemplate::Text(std::string_view utf8) {
    for (const wchar_t c : Wide(utf8)) {
        Word(static_cast<WORD>(c));
    }
    Word(0);
}

void InMemoryTemplate::AlignToDoubleWord() {
    if (words_.size() % 2 != 0) {
        Word(0);
    }
}

InMemoryTemplate::InMemoryTemplate(const DialogTemplate& dialogTemplate, DWORD dialogStyle) {
    Word(1);        // version
    Word(0xFFFF);   // an extended template
    DoubleWord(0);  // help id
    DoubleWord(0);  // extended style
    DoubleWord(dialogStyle | DS_SETFONT);
    Word(static_cast<WORD>(dialogTemplate.controls.size()));
    Word(0);
    Word(0);
    Word(static_cast<WORD>(dialogTemplate.width));
    Word(static_cast<WORD>(dialogTemplate.height));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(Tr(dialogTemplate.caption));
    Word(static_cast<WORD>(dialogTemplate.pointSize));
    Word(FW_NORMAL);
    Word(static_cast<WORD>(kTemplateCharset << 8));  // not italic; the character set
    Text(dialogTemplate.fontFamily);

    for (const ControlSpec& control : dialogTemplate.controls) {
        AlignToDoubleWord();
        DoubleWord(0);  // help id
        DoubleWord(0);  // extended style
        DoubleWord(ControlStyle(control));
        Word(static_cast<WORD>(control.x));
        Word(static_cast<WORD>(control.y));
        Word(static_cast<WORD>(ControlWidth(control)));
        Word(static_cast<WORD>(control.height));
        DoubleWord(control.id == kNoId ? 0xFFFFu : static_cast<DWORD>(control.id));
        if (const WORD atom = ClassAtom(control.kind); atom != 0) {
            Word(0xFFFF);
            Word(atom);
        } else {
            Text(PROGRESS_CLASSA);
        }
        if (control.kind == ControlKind::Icon) {
            Word(0xFFFF);
            Word(kIconResource);
        } else {
            Text(Tr(control.text));
        }
        Word(0);  // no creation data
    }
}

}  // namespace vexil::win32
