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
// for the hexadecimal fields; `length` is the most characters the field takes.
struct AddressFieldSpec {
    int id;
    int position;
    std::size_t length;
};
inline constexpr AddressFieldSpec kAddressFields[] = {
    {control::kOctet1, 1, address::kOctetLength},
    {control::kOctet2, 2, address::kOctetLength},
    {control::kOctet3, 3, address::kOctetLength},
    {control::kOctet4, 4, address::kOctetLength},
    {control::kNetworkAddress, 0, address::kNetworkLength},
    {control::kMacAddress, 0, address::kMacLength},
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
    // Moves the focus as `move` says (never None); returns the field that took it, if any.
    virtual AddressFieldLogic* MoveFocus(octet::Move move) = 0;
};

class AddressFieldLogic {
  public:
    AddressFieldLogic(AddressFieldView& view, int position) : view_(view), position_(position) {}
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

    int Position() const { return position_; }
    const std::u32string& LastAccepted() const { return lastAccepted_; }
    // The text the window starts the field with, accepted as it stands.
    void Accept() { lastAccepted_ = view_.FieldText(); }

  private:
    octet::Answer Ask(const octet::Event& event);
    // The beep, the message box, the text and the selection that an answer asks for.
    void Show(const octet::Answer& answer);
    void Move(octet::Move move);

    AddressFieldView& view_;
    int position_;
    std::u32string lastAccepted_;
    bool separatorGiven_ = false;
    bool updating_ = false;
    std::optional<octet::Selection> beforeKey_;
};

}  // namespace vexil
