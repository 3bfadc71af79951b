// The rows that both windows' keyboard tests run: what a person types and does, and what the
// window must then show and say. Each window's test maps the keys and texts onto its toolkit,
// so that the two windows are held to the same rows.
#pragma once

#include <array>
#include <vector>

#include "resources/ControlIds.h"
#include "resources/ResourceIds.h"

namespace vexil::test::rows {

enum class Key { Enter, Tab, Escape };

// An address typed into octet 1 in one go, and the four fields it fills.
struct TypedAddress {
    const char* typed;
    std::array<const char*, 4> octets;
};
inline const std::vector<TypedAddress> kTypedAddresses = {
    {"192.0.2.1", {"192", "0", "2", "1"}},
    {"10.0.0.1", {"10", "0", "0", "1"}},
    {"192.168.100.200", {"192", "168", "100", "200"}},
    {"1.2.3.4", {"1", "2", "3", "4"}},
};

// Enter after a number of Tabs from octet 4: what it presses.
enum class Opens { MessageBox, FileDialog, Nothing };
struct EnterAfterTabs {
    int tabs;
    int runs;  // downloads started
    bool windowOpen;
    Opens opens;
};
inline const std::vector<EnterAfterTabs> kEnterAfterTabs = {
    {0, 1, true, Opens::MessageBox},  // Enter in an octet field: the default button
    {1, 1, true, Opens::MessageBox},  // the download button
    {2, 0, false, Opens::Nothing},    // the cancel button ends the program
    {3, 0, true, Opens::FileDialog},  // the browse button, answered with Escape
};

// The confirmation answered by keys: an IPv4 address typed into octet 1, or a MAC address over
// IPX; the messages that follow.
struct Confirmation {
    const char* address;
    std::vector<Key> keys;
    std::vector<int> messages;
};
inline const std::vector<Confirmation> kConfirmations = {
    {"192.168.100.200", {Key::Enter}, {121, 122, 110}},
    {"192.168.100.200", {Key::Tab, Key::Enter}, {}},
    {"00D1F0123456", {Key::Escape}, {}},
    {"00D1F0123456", {Key::Tab, Key::Tab, Key::Enter}, {121, 122, 110}},
};

// A value typed into an octet field (0 to 3) and refused once, whatever takes the keyboard
// next: one beep and one message, each in its box before any menu opens.
enum class Then { Enter, Tab, ContextMenu };
struct Refusal {
    int field;
    const char* typed;
    Then then;
    const char* after;
    std::vector<int> messages;
};
inline const std::vector<Refusal> kRefusals = {
    {3, "0", Then::Enter, "1", {msg::kBelowMinimum}},
    {0, "224", Then::Tab, "223", {msg::kAboveMaximum}},
    {3, "0", Then::ContextMenu, "1", {msg::kBelowMinimum}},
    {1, "25", Then::ContextMenu, "25", {}},
};

// A refused key keeps the selection: what is typed next replaces it, as the user meant.
struct KeptSelection {
    int id;
    const char* before;  // selected whole
    const char* typed;   // the first key is refused
    const char* after;
};
inline const std::vector<KeptSelection> kKeptSelections = {
    {control::kMacAddress, "00D1F01234", "z00d1f0123456", "00D1F0123456"},
    {control::kOctet1, "19", "a10", "10"},
};

// An octet field left for another control with a value: what it then holds, and the message
// (0: none). What each value is held to is the address fields' rules (tests/frontend); here the
// window writes it and shows the box.
struct Left {
    int field;
    const char* typed;
    const char* after;
    int message;
};
inline const std::vector<Left> kLeftFields = {
    {0, "224", "223", msg::kAboveMaximum},
    {2, "007", "7", 0},
};

// Octet 4 reached selected whole, by a full octet 3 typed in one go, then an arrow toward the
// end: the caret goes behind its text and stays in the field, so that the digit typed next is
// added to the octet. Typed over it instead, it would name another print server.
enum class Arrow { Right, Down };
struct ArrowAtTheEnd {
    const char* octet4;
    Arrow arrow;
    const char* typed;
    const char* after;
};
inline const std::vector<ArrowAtTheEnd> kArrowsAtTheEnd = {
    {"1", Arrow::Right, "0", "10"},
    {"25", Arrow::Down, "5", "255"},
    {"2", Arrow::Right, "", "2"},
};

// Octet 4 typed full from empty: the field keeps the focus with its caret behind the text and
// nothing selected (the control after it, label 1011, is disabled), so that a digit typed next is
// refused for the length, never typed over the octet. No beep and no message until the field is
// left by Tab: then it holds what it shows after leaving, with the message (0: none).
struct FullOctet4 {
    const char* typed;
    const char* kept;
    const char* left;
    int message;
};
inline const std::vector<FullOctet4> kFullOctets4 = {
    {"2547", "254", "254", 0},
    {"256", "256", "255", msg::kAboveMaximum},
    {"0.", "0.", "1", msg::kBelowMinimum},
};

// Characters the hexadecimal fields refuse: letters past F and the punctuation at the edges of
// the allowed ranges.
inline const std::vector<const char*> kRefusedHexCharacters = {"g", "z", "Z", "/", ":",
                                                               "@", "[", "`", "{", "~"};

}  // namespace vexil::test::rows
