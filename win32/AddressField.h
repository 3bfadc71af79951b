// The six address fields as subclassed edit controls: their keys, characters, clicks, changes of
// text (EN_UPDATE) and losses of focus handed to the field's logic (frontend/AddressFieldLogic),
// which carries out the field's rules through this view, and no input method.
#pragma once

#include <windows.h>

#include <functional>

#include "frontend/AddressFieldLogic.h"

namespace vexil::win32 {

class Services;

class AddressField : private AddressFieldView {
  public:
    // `fieldOf`: the window's address field by control id, null for none.
    AddressField(HWND edit, const AddressFieldSpec& field, Services& services,
                 std::function<AddressField*(int id)> fieldOf);
    ~AddressField() override;
    AddressField(const AddressField&) = delete;
    AddressField& operator=(const AddressField&) = delete;

    HWND Handle() const { return edit_; }
    AddressFieldLogic& Logic() { return logic_; }

    // The dialog hands on its notifications of this field.
    void OnUpdate() { logic_.OnTextChanged(); }
    void OnKillFocus();

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR self);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // A key-down or a character.
    LRESULT OnKey(UINT message, WPARAM wParam, LPARAM lParam);

    // The view.
    std::u32string FieldText() const override;
    void SetFieldText(const std::u32string& text) override;
    int Caret() const override { return Selected().end; }
    octet::Selection Selected() const override;
    void Select(const octet::Selection& selection) override {
        SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(selection.start), selection.end);
    }
    void Beep() override;
    void ShowError(int stringId) override;
    AddressFieldLogic* GiveFocusTo(int id) override;

    HWND edit_;
    HWND dialog_;
    Services& services_;
    std::function<AddressField*(int id)> fieldOf_;
    // Where the focus went when the field lost it.
    HWND focusTo_ = nullptr;
    AddressFieldLogic logic_;
};

}  // namespace vexil::win32
