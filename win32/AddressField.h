// The six address fields as subclassed edit controls: every new text checked (EN_UPDATE) with
// the last accepted text and its selection put back after a beep when refused, no input method,
// and for the four octets the moves between them and the range check when one is left.
#pragma once

#include <windows.h>

#include <string>

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
    bool IsOctet() const { return position_ != 0; }
    void SetNeighbours(AddressField* previous, AddressField* next) {
        previous_ = previous;
        next_ = next;
    }
    std::wstring Text() const;
    void SetText(const std::wstring& text);

    // The dialog hands on its notifications of this field.
    void OnUpdate();
    void OnKillFocus();
    // The check that leaving an octet field makes: beep on an empty field; beep, message 119 or
    // 118 and the bound written back when the value is out of range; the value rewritten as a
    // whole number otherwise (when `rewrite`). Returns false when the value was out of range.
    bool HoldToRange(bool rewrite);

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR self);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnChar(wchar_t c, WPARAM wParam, LPARAM lParam);
    LRESULT OnKeyDown(WPARAM key, LPARAM lParam);
    // With the selection kept, so that a refused change puts it back.
    LRESULT Edit(UINT message, WPARAM wParam, LPARAM lParam);
    void MoveToNext(bool selectAll, bool afterFullField);
    bool Accepts(const std::wstring& text) const;

    HWND edit_;
    HWND dialog_;
    int position_;
    Services& services_;
    AddressField* previous_ = nullptr;
    AddressField* next_ = nullptr;
    std::wstring lastValid_;
    bool updating_ = false;
    // Set when the focus has just arrived by the automatic move from a full field: the "." the
    // user types next is the separator already given, not a character for this field.
    bool separatorGiven_ = false;
    // The selection before the change being made, while it is made.
    bool haveSelection_ = false;
    DWORD selectionStart_ = 0;
    DWORD selectionEnd_ = 0;
    // Where the focus went when the field lost it.
    HWND focusTo_ = nullptr;
};

}  // namespace vexil::win32
