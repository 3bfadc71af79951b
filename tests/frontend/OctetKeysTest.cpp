// The address fields' behaviour as both windows carry it out: one row per transition, from the
// field as it stands and what reaches it to what happens and the separator flag's next value.
#include "frontend/OctetKeys.h"

#include <gtest/gtest.h>

#include <ostream>

#include "resources/ResourceIds.h"

namespace vexil::octet {
namespace {
std::string Ascii(const std::u32string& text) {
    return std::string(text.begin(), text.end());
}
}  // namespace

void PrintTo(const Answer& answer, std::ostream* out) {
    const char* const moves[] = {"-", "next", "next selected", "next after full", "previous"};
    const char* const edits[] = {"key", "as Right", "swallowed"};
    *out << "{separator " << answer.separatorGiven << ", before "
         << moves[static_cast<int>(answer.before)] << ", edit "
         << edits[static_cast<int>(answer.edit)] << ", after "
         << moves[static_cast<int>(answer.after)] << ", beep " << answer.beep << ", message "
         << answer.message << ", text " << (answer.text ? '"' + Ascii(*answer.text) + '"' : "-")
         << ", selection ";
    if (answer.selection) {
        *out << answer.selection->start << "-" << answer.selection->end;
    } else {
        *out << "-";
    }
    *out << ", accepted " << answer.accepted << "}";
}

namespace {

constexpr bool kGiven = true;  // the separator was just given
constexpr int kHex = 0;        // a hexadecimal field's position

struct Row {
    const char* name;
    Field field;
    Event event;
    Answer answer;
};

// Octet `position` holding `text` with the caret behind it.
Field At(int position, std::u32string text, bool separatorGiven = false) {
    const int end = static_cast<int>(text.size());
    return {position, std::move(text), end, separatorGiven};
}
Field At(int position, std::u32string text, int caret, bool separatorGiven = false) {
    return {position, std::move(text), caret, separatorGiven};
}

const Row kRows[] = {
    // The separator flag: a key that types no character clears it, a modifier does not, and
    // neither does the key-down whose character follows (Win32 sends both for one key).
    {"modifier", At(2, U"", kGiven), KeyDown{Key::Modifier}, {.separatorGiven = true}},
    {"key-down of a character key",
     At(2, U"", kGiven),
     KeyDown{Key::Character},
     {.separatorGiven = true}},
    {"other key", At(2, U"", kGiven), KeyDown{Key::Other}, {}},
    {"click", At(2, U"1", kGiven), Clicked{}, {}},
    {"focus lost to a menu", At(2, U"1", kGiven), FocusLost{false}, {}},
    {"digit after the move", At(2, U"", kGiven), Typed{U"1"}, {}},
    {"\".\" after the move is the separator given",
     At(2, U"", kGiven),
     Typed{U"."},
     {.edit = Edit::None}},
    {"\".\" after the flag was cleared", At(2, U""), Typed{U"."}, {}},
    {"download started", At(2, U"1", kGiven), Leave{true}, {.separatorGiven = true}},

    // Left and Up: back to the previous octet from anywhere in the text, after the key.
    {"Left in octet 3", At(3, U"345", 1), KeyDown{Key::Left}, {.after = Move::PreviousAtEnd}},
    {"Up in octet 2", At(2, U"", 0, kGiven), KeyDown{Key::Up}, {.after = Move::PreviousAtEnd}},
    {"Left in octet 4", At(4, U"1", 0), KeyDown{Key::Left}, {.after = Move::PreviousAtEnd}},
    {"Left in octet 1", At(1, U"12", 2), KeyDown{Key::Left}, {}},
    // Right and Down: on from behind the last character of octets 1 to 3, and as Right always.
    {"Right at the end",
     At(2, U"12"),
     KeyDown{Key::Right},
     {.before = Move::Next, .edit = Edit::Right}},
    {"Down in an empty octet 3",
     At(3, U""),
     KeyDown{Key::Down},
     {.before = Move::Next, .edit = Edit::Right}},
    {"Right in the middle", At(2, U"12", 1), KeyDown{Key::Right}, {.edit = Edit::Right}},
    {"Down in the middle", At(1, U"12", 0), KeyDown{Key::Down}, {.edit = Edit::Right}},
    // Octet 4 reached selected whole: the caret goes behind its text, so that the digit typed
    // next is added to it instead of typed over it.
    {"Right at the end of octet 4", At(4, U"1"), KeyDown{Key::Right}, {.edit = Edit::Right}},
    {"Down at the end of octet 4", At(4, U"25"), KeyDown{Key::Down}, {.edit = Edit::Right}},
    {"Right in an empty octet 4", At(4, U""), KeyDown{Key::Right}, {.edit = Edit::Right}},
    {"arrow in a hexadecimal field", At(kHex, U"00D1"), KeyDown{Key::Down}, {}},
    {"Delete", At(1, U"12", 0), KeyDown{Key::Other}, {}},

    // Space moves on from octets 1 to 3 before the field refuses the character.
    {"Space in octet 1", At(1, U"1"), Typed{U" "}, {.before = Move::NextSelected}},
    {"Space in octet 3", At(3, U""), Typed{U" "}, {.before = Move::NextSelected}},
    {"Space in octet 4", At(4, U"1"), Typed{U" "}, {}},
    {"Space in a hexadecimal field", At(kHex, U"A"), Typed{U" "}, {}},

    // After the toolkit has taken a character: a full field or a "." moves on, selecting.
    {"third digit", At(1, U"192"), Edited{U"2"}, {.after = Move::NextAfterFull}},
    {"second digit", At(1, U"19"), Edited{U"9"}, {}},
    {"\".\" in a field not full", At(1, U"1."), Edited{U"."}, {.after = Move::NextSelected}},
    {"\".\" that fills the field", At(2, U"12."), Edited{U"."}, {.after = Move::NextSelected}},
    {"\".\" refused by a full field", At(2, U"123"), Edited{U"."}, {.after = Move::NextSelected}},
    {"fourth digit refused", At(2, U"123"), Edited{U"4"}, {.after = Move::NextAfterFull}},
    {"letter refused", At(3, U"123"), Edited{U"a"}, {.after = Move::NextAfterFull}},
    {"backspace at the start of a full field",
     At(2, U"123", 0),
     Edited{U"\b"},
     {.after = Move::NextAfterFull}},
    {"backspace", At(2, U"12"), Edited{U"\b"}, {}},
    {"Space in a full field", At(1, U"123"), Edited{U" "}, {.after = Move::NextAfterFull}},
    {"control code in a full field", At(2, U"123"), Edited{U"\x01"}, {}},
    {"full octet 4", At(4, U"255"), Edited{U"5"}, {.after = Move::NextAfterFull}},
    {"\".\" in octet 4", At(4, U"0."), Edited{U"."}, {.after = Move::NextSelected}},
    {"full hexadecimal field", At(kHex, U"12345678"), Edited{U"8"}, {}},

    // A changed text: what the field may hold stays, anything else beeps and puts back the last
    // accepted text with the selection the key found.
    {"octet digits", At(1, U"192"), TextChanged{U"19", Selection{2, 2}}, {}},
    {"octet with a \".\"", At(2, U"1.2"), TextChanged{U"1.", Selection{2, 2}}, {}},
    {"empty octet", At(2, U""), TextChanged{U"1", Selection{1, 1}}, {}},
    {"letter in an octet",
     At(1, U"a", 1),
     TextChanged{U"19", Selection{0, 2}},
     {.beep = true, .text = U"19", .selection = Selection{0, 2}, .accepted = false}},
    {"fourth character",
     At(2, U"1234"),
     TextChanged{U"123", Selection{3, 3}},
     {.beep = true, .text = U"123", .selection = Selection{3, 3}, .accepted = false}},
    {"minus in an octet",
     At(2, U"-1"),
     TextChanged{U"1", Selection{0, 0}},
     {.beep = true, .text = U"1", .selection = Selection{0, 0}, .accepted = false}},
    {"full-width digit in an octet",
     At(1, U"\uFF11"),
     TextChanged{U""},
     {.beep = true, .text = U"", .accepted = false}},
    {"pasted without a key",
     At(3, U"1a"),
     TextChanged{U"7"},
     {.beep = true, .text = U"7", .accepted = false}},
    {"hexadecimal text", At(kHex, U"A 0"), TextChanged{U"A ", Selection{2, 2}}, {}},
    {"non-ASCII in a hexadecimal field", At(kHex, U"\u3042"), TextChanged{U""}, {}},
    {"G in a hexadecimal field",
     At(kHex, U"00G", 2),
     TextChanged{U"00D1", Selection{2, 4}},
     {.beep = true, .text = U"00D1", .selection = Selection{2, 4}, .accepted = false}},
    {"minus pasted into a hexadecimal field",
     At(kHex, U"A 012-34"),
     TextChanged{U"A 0"},
     {.beep = true, .text = U"A 0", .accepted = false}},

    // Leaving an octet within the window holds its value to its range, with the message.
    {"left: 0 in octet 1",
     At(1, U"0"),
     FocusLost{true},
     {.beep = true, .message = msg::kBelowMinimum, .text = U"1", .accepted = false}},
    {"left: 224 in octet 1",
     At(1, U"224"),
     FocusLost{true},
     {.beep = true, .message = msg::kAboveMaximum, .text = U"223", .accepted = false}},
    {"left: 256 in octet 2",
     At(2, U"256"),
     FocusLost{true},
     {.beep = true, .message = msg::kAboveMaximum, .text = U"255", .accepted = false}},
    {"left: 0 in octet 4",
     At(4, U"0"),
     FocusLost{true},
     {.beep = true, .message = msg::kBelowMinimum, .text = U"1", .accepted = false}},
    {"left: 007 in octet 3", At(3, U"007"), FocusLost{true}, {.text = U"7"}},
    {"left: . in octet 2", At(2, U"."), FocusLost{true}, {.text = U"0"}},
    {"left: . in octet 1",
     At(1, U"."),
     FocusLost{true},
     {.beep = true, .message = msg::kBelowMinimum, .text = U"1", .accepted = false}},
    {"left: 255 in octet 4", At(4, U"255"), FocusLost{true}, {}},
    {"left: 10. in octet 1", At(1, U"10.", kGiven), FocusLost{true}, {.text = U"10"}},
    {"left empty", At(3, U""), FocusLost{true}, {.beep = true}},
    {"focus taken by a message box", At(1, U"224"), FocusLost{false}, {}},
    {"hexadecimal field left", At(kHex, U"G"), FocusLost{true}, {}},
    // A context menu on the focused field refuses a value out of range first, rewriting nothing
    // in range.
    {"menu: 0 in octet 4",
     At(4, U"0"),
     ContextMenu{true},
     {.beep = true, .message = msg::kBelowMinimum, .text = U"1", .accepted = false}},
    {"menu: 25 in octet 2", At(2, U"25"), ContextMenu{true}, {}},
    {"menu: 007 in octet 2", At(2, U"007"), ContextMenu{true}, {}},
    {"menu on an empty field", At(2, U""), ContextMenu{true}, {}},
    {"menu on a field without the focus", At(1, U"0"), ContextMenu{false}, {}},
    // The download's check: every octet written as a whole number.
    {"download: 1.2 in octet 1", At(1, U"1.2"), Leave{true}, {.text = U"1"}},
    {"download: 224 in octet 1",
     At(1, U"224"),
     Leave{true},
     {.beep = true, .message = msg::kAboveMaximum, .text = U"223", .accepted = false}},
    {"download: empty octet 2", At(2, U""), Leave{true}, {.beep = true}},
    {"check without rewrite: 1.2", At(1, U"1.2"), Leave{false}, {}},
};

TEST(OctetKeysTest, EachTransition) {
    for (const Row& row : kRows) {
        EXPECT_EQ(Decide(row.field, row.event), row.answer) << row.name;
    }
}

}  // namespace
}  // namespace vexil::octet
