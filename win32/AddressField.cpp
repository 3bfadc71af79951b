#include "win32/AddressField.h"

#include <commctrl.h>
#include <imm.h>

#include <utility>

#include "win32/Services.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;

// The keys that the address fields' rules tell apart; a modifier changes nothing.
constexpr std::pair<WPARAM, octet::Key> kKeys[] = {
    {VK_SHIFT, octet::Key::Modifier}, {VK_CONTROL, octet::Key::Modifier},
    {VK_MENU, octet::Key::Modifier},  {VK_LEFT, octet::Key::Left},
    {VK_UP, octet::Key::Up},          {VK_RIGHT, octet::Key::Right},
    {VK_DOWN, octet::Key::Down}};

octet::Key KeyOf(WPARAM key) {
    for (const auto& [virtualKey, meaning] : kKeys) {
        if (virtualKey == key) {
            return meaning;
        }
    }
    // A key that types a character (the "." among them) is judged by its WM_CHAR, which follows.
    return MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_CHAR) != 0 ? octet::Key::Character
                                                                         : octet::Key::Other;
}

}  // namespace

AddressField::AddressField(HWND edit, const AddressFieldSpec& field, Services& services,
                           std::function<AddressField*(int id)> fieldOf)
    : edit_(edit),
      dialog_(GetParent(edit)),
      services_(services),
      fieldOf_(std::move(fieldOf)),
      logic_(*this, field) {
    SendMessageW(edit_, EM_LIMITTEXT, field.length, 0);
    // Only single-byte digits and letters belong here: no input method composes into the field.
    ImmAssociateContextEx(edit_, nullptr, 0);
    SetWindowSubclass(edit_, &AddressField::Proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

AddressField::~AddressField() {
    RemoveWindowSubclass(edit_, &AddressField::Proc, kSubclassId);
}

// The rules take each UTF-16 unit of the edit control as a character.
std::u32string AddressField::FieldText() const {
    const std::wstring text = WindowText(edit_);
    return {text.begin(), text.end()};
}

void AddressField::SetFieldText(const std::u32string& text) {
    SetWindowTextW(edit_, std::wstring(text.begin(), text.end()).c_str());
}

octet::Selection AddressField::Selected() const {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    return {static_cast<int>(start), static_cast<int>(end)};
}

void AddressField::Beep() {
    services_.Beep();
}

void AddressField::ShowError(int stringId) {
    services_.ShowMessage(dialog_, stringId, Icon::Error);
}

AddressFieldLogic* AddressField::GiveFocusTo(int id) {
    AddressField* to = fieldOf_(id);
    if (to == nullptr || !IsWindowEnabled(to->edit_)) {
        return nullptr;
    }
    // Through the dialog, as Tab moves it; the selection that the dialog sets there is the
    // logic's to replace.
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(to->edit_), TRUE);
    return &to->logic_;
}

LRESULT AddressField::OnKey(UINT message, WPARAM wParam, LPARAM lParam) {
    const std::u32string typed(message == WM_CHAR ? 1 : 0, static_cast<char32_t>(wParam));
    LRESULT result = 0;
    logic_.OnKey(
        message == WM_CHAR ? octet::Event{octet::Typed{typed}} : octet::KeyDown{KeyOf(wParam)},
        [&](bool asRight) {
            result = DefSubclassProc(edit_, message, asRight ? VK_RIGHT : wParam, lParam);
        });
    return result;
}

LRESULT AddressField::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    switch (message) {
        case WM_CHAR:
        case WM_KEYDOWN:
            return OnKey(message, wParam, lParam);
        case WM_PASTE:
        case WM_CUT:
        case WM_CLEAR:
        case WM_UNDO:
        case EM_UNDO:
            logic_.Edit([&] { result = DefSubclassProc(edit_, message, wParam, lParam); });
            return result;
        case WM_IME_CHAR:
        case WM_IME_COMPOSITION:
            // Should an input method still reach the field, what it composed is refused.
            if (message == WM_IME_CHAR || (lParam & GCS_RESULTSTR) != 0) {
                services_.Beep();
            }
            return 0;
        case WM_IME_STARTCOMPOSITION:
        case WM_IME_ENDCOMPOSITION:
            return 0;
        case WM_LBUTTONDOWN:
            logic_.OnClicked();
            break;
        case WM_KILLFOCUS:
            focusTo_ = reinterpret_cast<HWND>(wParam);
            break;
        case WM_CONTEXTMENU:
            logic_.OnContextMenu(GetFocus() == edit_);
            break;
        default:
            break;
    }
    return DefSubclassProc(edit_, message, wParam, lParam);
}

LRESULT CALLBACK AddressField::Proc(HWND, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR self) {
    return reinterpret_cast<AddressField*>(self)->OnMessage(message, wParam, lParam);
}

void AddressField::OnKillFocus() {
    // A message box or another window taking the keyboard (the box of a refusal among them) is
    // not the user leaving the field. The check runs when the focus moves on within the dialog,
    // and when a download starts.
    logic_.OnFocusLost(focusTo_ != nullptr && GetAncestor(focusTo_, GA_ROOT) == dialog_);
}

}  // namespace vexil::win32
