// One address field's logic, the same in both windows: the field's rules (frontend/OctetKeys)
// asked with the field as it stands, and their answers carried out in the order they give, with
// what the rules need kept between events: the last accepted text, the selection before the key
// being handled and the flag that a separator was just given. The field it runs in is an
// AddressFieldView, toolkit glue that hands on its control's events.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "frontend/AddressEntry.h"
#include "frontend/OctetKeys.h"
#include "resources/ControlIds.h"

namespace vexil {

// The six address fields of the main window: `position` 1 to 4 for the octets in field order, 0
// for the hexadecimal fields; `length` is the most characters the field takes; `previous` and
// `next` the fields that the focus moves to back (Left, Up) and on (a full field, a ".", Space,
// Right, Down), 0 where it stays in the field.
//
// Octet 4 moves on to nothing. The control after it in the template is label 1011, a static text
// that is disabled whenever the octets are enabled: it can take no key, and whether a window
// gives the focus to it at all is not something to build on (docs/window.md). So a full octet 4
// keeps the focus with its caret behind its text, nothing selected: a digit typed next is refused
// for the length, never typed over the octet, and the value is held to its range when the user
// leaves the field, as in the other octets.
struct AddressFieldSpec {
    int id;
    int position;
    std::size_t length;
    int previous;
    int next;
};
inline constexpr AddressFieldSpec kAddressFields[] = {
    {control::kOctet1, 1, address::kOctetLength, 0, control::kOctet2},
    {control::kOctet2, 2, address::kOctetLength, control::kOctet1, control::kOctet3},
    {control::kOctet3, 3, address::kOctetLength, control::kOctet2, control::kOctet4},
    {control::kOctet4, 4, address::kOctetLength, control::kOctet3, 0},
    {control::kNetworkAddress, 0, address::kNetworkLength, 0, 0},
    {control::kMacAddress, 0, address::kMacLength, 0, 0},
};

class AddressFieldLogic;

// The edit control as the logic sees it.
class AddressFieldView {
  public:
    virtual ~AddressFieldView() = default;
    virtual std::u32string FieldText() const = 0;
    virtual void SetFieldText(const std::u32string& text) = 0;
    // Where the toolkit reports the caret (Win32: the end of the selection).
    virtual int Caret() const = 0;
    virtual octet::Selection Selected() const = 0;
    virtual void Select(const octet::Selection& selection) = 0;
    virtual void Beep() = 0;
    // The box of a refused value, with the error icon.
    virtual void ShowError(int stringId) = 0;
    // Gives the keyboard focus to the address field `id` of the same window, which this field
    // loses as to any other control; returns that field's logic, or null when it cannot take the
    // focus (disabled). What the field then selects is the logic's to set.
    virtual AddressFieldLogic* GiveFocusTo(int id) = 0;
};

class AddressFieldLogic {
  public:
    AddressFieldLogic(AddressFieldView& view, const AddressFieldSpec& field)
        : view_(view), field_(field) {}
    AddressFieldLogic(const AddressFieldLogic&) = delete;
    AddressFieldLogic& operator=(const AddressFieldLogic&) = delete;

    // A key pressed (KeyDown) or a character typed (Typed). `edit` is the toolkit's own handling
    // of it, as the Right key when `asRight`. Returns false when the event is swallowed.
    bool OnKey(const octet::Event& event, const std::function<void(bool asRight)>& edit);
    // An edit of the toolkit's own (a key, a paste, an undo), the selection before it kept, so
    // that a refused change puts it back.
    void Edit(const std::function<void()>& edit);
    // The field's text has changed, by a key, a paste or the program.
    void OnTextChanged();
    void OnClicked() { Ask(octet::Clicked{}); }
    void OnFocusLost(bool withinWindow) { Show(Ask(octet::FocusLost{withinWindow})); }
    void OnContextMenu(bool hasFocus) { Show(Ask(octet::ContextMenu{hasFocus})); }
    // The check that leaving an octet field makes (`rewrite`: the value written as a whole
    // number). Returns false when the value was out of range.
    bool HoldToRange(bool rewrite);

    int Position() const { return field_.position; }
    const std::u32string& LastAccepted() const { return lastAccepted_; }
    // The text the window starts the field with, accepted as it stands.
    void Accept() { lastAccepted_ = view_.FieldText(); }

  private:
    octet::Answer Ask(const octet::Event& event);
    // The beep, the message box, the text and the selection that an answer asks for.
    void Show(const octet::Answer& answer);
    void Move(octet::Move move);

    AddressFieldView& view_;
    AddressFieldSpec field_;
    std::u32string lastAccepted_;
    bool separatorGiven_ = false;
    bool updating_ = false;
    std::optional<octet::Selection> beforeKey_;
};

}  // namespace vexil
