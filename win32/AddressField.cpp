#include "win32/AddressField.h"

#include <commctrl.h>
#include <imm.h>

#include <utility>

#include "engine/AddressEntry.h"
#include "resources/ResourceIds.h"
#include "win32/Services.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {
constexpr UINT_PTR kSubclassId = 1;
}  // namespace

AddressField::AddressField(HWND edit, int position, Services& services)
    : edit_(edit), dialog_(GetParent(edit)), position_(position), services_(services) {
    SendMessageW(edit_, EM_LIMITTEXT,
                 IsOctet()                                     ? address::kOctetLength
                 : GetDlgCtrlID(edit_) == control::kMacAddress ? address::kMacLength
                                                               : address::kNetworkLength,
                 0);
    // Only single-byte digits and letters belong here: no input method composes into the field.
    ImmAssociateContextEx(edit_, nullptr, 0);
    lastValid_ = Text();
    SetWindowSubclass(edit_, &AddressField::Proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

AddressField::~AddressField() {
    RemoveWindowSubclass(edit_, &AddressField::Proc, kSubclassId);
}

std::wstring AddressField::Text() const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void AddressField::SetText(const std::wstring& text) {
    SetWindowTextW(edit_, text.c_str());
}

bool AddressField::Accepts(const std::wstring& text) const {
    if (IsOctet()) {
        return address::IsOctetText(Utf8(text));
    }
    std::u32string characters;
    for (const wchar_t c : text) {
        characters += static_cast<char32_t>(c);
    }
    return address::IsHexFieldText(characters);
}

void AddressField::OnUpdate() {
    if (updating_) {
        return;
    }
    const std::wstring text = Text();
    if (Accepts(text)) {
        lastValid_ = text;
        return;
    }
    services_.Beep();
    updating_ = true;
    SetText(lastValid_);
    if (haveSelection_) {
        SendMessageW(edit_, EM_SETSEL, selectionStart_, selectionEnd_);
    }
    updating_ = false;
}

LRESULT AddressField::Edit(UINT message, WPARAM wParam, LPARAM lParam) {
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart_),
                 reinterpret_cast<LPARAM>(&selectionEnd_));
    haveSelection_ = true;
    const LRESULT result = DefSubclassProc(edit_, message, wParam, lParam);
    haveSelection_ = false;
    return result;
}

void AddressField::MoveToNext(bool selectAll, bool afterFullField) {
    if (next_ == nullptr || !IsWindowEnabled(next_->edit_)) {
        return;
    }
    // Through the dialog, which selects the whole text of the field it moves to.
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next_->edit_), TRUE);
    if (!selectAll) {
        SendMessageW(next_->edit_, EM_SETSEL, 0, 0);
    }
    next_->separatorGiven_ = afterFullField;
}

LRESULT AddressField::OnChar(wchar_t c, WPARAM wParam, LPARAM lParam) {
    if (std::exchange(separatorGiven_, false) && c == L'.') {
        // Typing "192.0.2.1" in one go: the "." after "192" follows the move that the full
        // field made already. Taken as that separator, it must not move on once more and
        // shift every later octet into the wrong field.
        return 0;
    }
    if (IsOctet() && c == L' ' && position_ <= 3) {
        MoveToNext(true, false);
    }
    const LRESULT result = Edit(WM_CHAR, wParam, lParam);
    const bool character = c == L'\b' || c >= L' ';
    if (IsOctet() && character) {
        if (static_cast<std::size_t>(GetWindowTextLengthW(edit_)) == address::kOctetLength) {
            MoveToNext(true, c != L'.');
        }
        if (c == L'.') {
            MoveToNext(true, false);
        }
    }
    return result;
}

LRESULT AddressField::OnKeyDown(WPARAM key, LPARAM lParam) {
    // A key's own key-down comes before its character: the "." key's must not forget the move.
    if (key != VK_OEM_PERIOD && key != VK_DECIMAL && key != VK_SHIFT) {
        separatorGiven_ = false;
    }
    switch (key) {
        case VK_LEFT:
        case VK_UP: {
            const LRESULT result = DefSubclassProc(edit_, WM_KEYDOWN, key, lParam);
            if (position_ >= 2 && previous_ != nullptr && IsWindowEnabled(previous_->edit_)) {
                // Back to the previous field, with its caret behind its last character.
                SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(previous_->edit_),
                             TRUE);
                const int end = GetWindowTextLengthW(previous_->edit_);
                SendMessageW(previous_->edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
            }
            return result;
        }
        case VK_RIGHT:
        case VK_DOWN: {
            DWORD start = 0;
            DWORD end = 0;
            SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                         reinterpret_cast<LPARAM>(&end));
            if (end >= static_cast<DWORD>(GetWindowTextLengthW(edit_)) && position_ <= 3) {
                MoveToNext(false, false);
                return 0;
            }
            return DefSubclassProc(edit_, WM_KEYDOWN, key, lParam);
        }
        case VK_DELETE:
            return Edit(WM_KEYDOWN, key, lParam);
        default:
            return DefSubclassProc(edit_, WM_KEYDOWN, key, lParam);
    }
}

LRESULT AddressField::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CHAR:
            if (IsOctet()) {
                return OnChar(static_cast<wchar_t>(wParam), wParam, lParam);
            }
            return Edit(message, wParam, lParam);
        case WM_KEYDOWN:
            if (IsOctet()) {
                return OnKeyDown(wParam, lParam);
            }
            return wParam == VK_DELETE ? Edit(message, wParam, lParam)
                                       : DefSubclassProc(edit_, message, wParam, lParam);
        case WM_PASTE:
        case WM_CUT:
        case WM_CLEAR:
        case WM_UNDO:
        case EM_UNDO:
            return Edit(message, wParam, lParam);
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
            separatorGiven_ = false;
            break;
        case WM_KILLFOCUS:
            separatorGiven_ = false;
            focusTo_ = reinterpret_cast<HWND>(wParam);
            break;
        case WM_CONTEXTMENU:
            // The menu takes the keyboard for a moment: a value out of range is refused first,
            // once, and the menu opens when that message has been answered.
            if (IsOctet() && GetFocus() == edit_ && GetWindowTextLengthW(edit_) > 0) {
                HoldToRange(false);
            }
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
    if (!IsOctet()) {
        return;
    }
    // A message box or another window taking the keyboard (the box of a refusal among them) is
    // not the user leaving the field: checking then would refuse the same value twice. The
    // check runs when the focus moves on within the dialog, and when a download starts.
    if (focusTo_ == nullptr || GetAncestor(focusTo_, GA_ROOT) != dialog_) {
        return;
    }
    HoldToRange(true);
}

bool AddressField::HoldToRange(bool rewrite) {
    const std::wstring text = Text();
    if (text.empty()) {
        services_.Beep();
        return true;
    }
    const address::HeldOctet held =
        address::HoldOctet(static_cast<std::size_t>(position_ - 1), Utf8(text));
    if (held.message != 0) {
        services_.Beep();
        services_.ShowMessage(dialog_, held.message, Icon::Error);
    } else if (!rewrite) {
        return true;
    }
    if (const std::wstring replacement = Wide(held.text); replacement != Text()) {
        updating_ = true;
        SetText(replacement);
        lastValid_ = replacement;
        updating_ = false;
    }
    return held.message == 0;
}

}  // namespace vexil::win32
