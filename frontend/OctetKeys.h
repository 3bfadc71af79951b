// The six address fields' behaviour without a toolkit: what each key, character, click, change
// of text and loss of focus does to a field, given the field as it stands. The four octet fields
// move the focus between them the way an address entry does and hold their value to its range
// when they are left; every field refuses a text it may not hold, with a beep, putting back the
// last accepted text and the selection it had. The Qt and the Win32 window turn their events into
// an Event and carry out the Answer; the only state is the field's text and the flag that a
// separator was just given.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace vexil::octet {

struct Selection {
    int start = 0;
    int end = 0;  // equal to start: no selection, the caret there
    bool operator==(const Selection&) const = default;
};

// The field when the event reaches it.
struct Field {
    int position = 1;  // 1 to 4 for the octets, 0 for the two hexadecimal fields
    std::u32string text;
    int caret = 0;  // where the toolkit reports the caret (Win32: the end of the selection)
    // The focus has just come by the automatic move from a full field: the "." typed next is the
    // separator already given, not a character for this field.
    bool separatorGiven = false;
};

// A key pressed that does not type a character, or that types the character reported next.
enum class Key {
    Modifier,   // Shift, Ctrl, Alt
    Character,  // a key whose character follows as a Typed event (Win32's key-down)
    Left,
    Up,
    Right,
    Down,
    Other,  // any other key: Delete, Home, End, a key with Ctrl that types a control code...
};
struct KeyDown {
    Key key;
};
// A character typed: a printable one, " " and "\b" (backspace) among them, or a control code.
struct Typed {
    std::u32string text;
};
// The toolkit has edited the field by that character; `Field::text` is the text it now holds.
struct Edited {
    std::u32string text;
};
// The field's text has changed (`Field::text`), by a key, a paste or the program.
struct TextChanged {
    std::u32string lastAccepted;
    std::optional<Selection> beforeKey{};  // when the change comes from a key or an edit command
};
struct Clicked {};
struct FocusLost {
    // False when a menu, a message box or another window has taken the keyboard: the user has
    // not left the field, and checking then would refuse the same value twice.
    bool withinWindow;
};
struct ContextMenu {
    bool hasFocus;
};
// The value held to its range: on leaving the field (`rewrite`: the text written as a whole
// number), and before a download starts.
struct Leave {
    bool rewrite;
};
using Event =
    std::variant<KeyDown, Typed, Edited, TextChanged, Clicked, FocusLost, ContextMenu, Leave>;

// The focus moves that a field asks for; which field each one reaches (none from octet 4 on, none
// from octet 1 back) is kAddressFields' (frontend/AddressFieldLogic.h).
enum class Move {
    None,
    Next,          // the focus to the next field, its caret at the start, nothing selected
    NextSelected,  // the focus to the next field with its whole text selected
    // As NextSelected, after a field that filled up: the next field's separator flag is set.
    NextAfterFull,
    PreviousAtEnd,  // the focus to the previous field, its caret behind its last character
};

enum class Edit {
    Key,    // the toolkit handles the event as it came
    Right,  // the toolkit handles the key as Right (Down must not leave the text selected)
    None,   // swallowed
};

// What happens, in this order: `before`, the toolkit's handling (`edit`), `after`, then the beep,
// the message box (error icon), the text written into the field and the selection set. Once the
// toolkit has handled a Typed character, the window hands on Edited, whose `after` it carries
// out next.
struct Answer {
    bool separatorGiven = false;  // the flag's next value in this field
    Move before = Move::None;
    Edit edit = Edit::Key;
    Move after = Move::None;
    bool beep = false;
    int message = 0;  // the string number, 0 for none
    std::optional<std::u32string> text{};
    std::optional<Selection> selection{};
    // A changed text may stand (it becomes the last accepted text); a held value was in range.
    bool accepted = true;
    bool operator==(const Answer&) const = default;
};

Answer Decide(const Field& field, const Event& event);

}  // namespace vexil::octet
