// The six address fields as subclassed edit controls: their keys, characters, clicks, changes of
// text (EN_UPDATE) and losses of focus handed to the address fields' rules (frontend/OctetKeys)
// and the answers carried out, and no input method.
#pragma once

#include <windows.h>

#include <string>

#include "frontend/OctetKeys.h"

namespace vexil::win32 {

class Services;

class AddressField {
  public:
    // `position`: 1 to 4 for the octets, 0 for the two hexadecimal fields.
    AddressField(HWND edit, int position, Services& services);
    ~AddressField();
    AddressField(const AddressField&) = delete;
    AddressField& operator=(const AddressField&) = delete;

    HWND Handle() const { return edit_; }
    void SetNeighbours(AddressField* previous, AddressField* next) {
        previous_ = previous;
        next_ = next;
    }
    std::wstring Text() const;
    void SetText(const std::wstring& text);

    // The dialog hands on its notifications of this field.
    void OnUpdate();
    void OnKillFocus();
    // The check that leaving an octet field makes (`rewrite`: the value written as a whole
    // number). Returns false when the value was out of range.
    bool HoldToRange(bool rewrite);

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR self);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // A key-down or a character.
    LRESULT OnKey(UINT message, WPARAM wParam, LPARAM lParam);
    // With the selection kept, so that a refused change puts it back.
    LRESULT Edit(UINT message, WPARAM wParam, LPARAM lParam);
    octet::Answer Ask(const octet::Event& event);
    // The beep, the message box, the text and the selection that an answer asks for.
    void Show(const octet::Answer& answer);
    void Move(octet::Move move);

    HWND edit_;
    HWND dialog_;
    int position_;
    Services& services_;
    AddressField* previous_ = nullptr;
    AddressField* next_ = nullptr;
    std::wstring lastValid_;
    bool updating_ = false;
    bool separatorGiven_ = false;
    // The selection before the change being made, while it is made.
    bool haveSelection_ = false;
    DWORD selectionStart_ = 0;
    DWORD selectionEnd_ = 0;
    // Where the focus went when the field lost it.
    HWND focusTo_ = nullptr;
};

}  // namespace vexil::win32
