#include "win32/AddressField.h"

#include <commctrl.h>
#include <imm.h>

#include <utility>

#include "frontend/AddressEntry.h"
#include "resources/ControlIds.h"
#include "resources/ResourceIds.h"
#include "win32/Services.h"

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

// The rules take each UTF-16 unit of the edit control as a character.
std::u32string Characters(const std::wstring& text) {
    return {text.begin(), text.end()};
}

}  // namespace

AddressField::AddressField(HWND edit, int position, Services& services)
    : edit_(edit), dialog_(GetParent(edit)), position_(position), services_(services) {
    SendMessageW(edit_, EM_LIMITTEXT,
                 position_ != 0                                ? address::kOctetLength
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

octet::Answer AddressField::Ask(const octet::Event& event) {
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
    const octet::Answer answer = octet::Decide(
        {position_, Characters(Text()), static_cast<int>(end), separatorGiven_}, event);
    separatorGiven_ = answer.separatorGiven;
    return answer;
}

void AddressField::Show(const octet::Answer& answer) {
    if (answer.beep) {
        services_.Beep();
    }
    if (answer.message != 0) {
        services_.ShowMessage(dialog_, answer.message, Icon::Error);
    }
    if (answer.text) {
        updating_ = true;
        lastValid_.assign(answer.text->begin(), answer.text->end());
        SetText(lastValid_);
        updating_ = false;
    }
    if (answer.selection) {
        SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(answer.selection->start),
                     answer.selection->end);
    }
}

void AddressField::OnUpdate() {
    if (updating_) {
        return;
    }
    std::optional<octet::Selection> before;
    if (haveSelection_) {
        before =
            octet::Selection{static_cast<int>(selectionStart_), static_cast<int>(selectionEnd_)};
    }
    const octet::Answer answer = Ask(octet::TextChanged{Characters(lastValid_), before});
    if (answer.accepted) {
        lastValid_ = Text();
    }
    Show(answer);
}

LRESULT AddressField::Edit(UINT message, WPARAM wParam, LPARAM lParam) {
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart_),
                 reinterpret_cast<LPARAM>(&selectionEnd_));
    haveSelection_ = true;
    const LRESULT result = DefSubclassProc(edit_, message, wParam, lParam);
    haveSelection_ = false;
    return result;
}

void AddressField::Move(octet::Move move) {
    AddressField* to = move == octet::Move::PreviousAtEnd ? previous_ : next_;
    if (move == octet::Move::None || to == nullptr || !IsWindowEnabled(to->edit_)) {
        return;
    }
    // Through the dialog, which selects the whole text of the field it moves to.
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(to->edit_), TRUE);
    if (move == octet::Move::PreviousAtEnd) {
        const int end = GetWindowTextLengthW(to->edit_);
        SendMessageW(to->edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
        return;
    }
    if (move == octet::Move::Next) {
        SendMessageW(to->edit_, EM_SETSEL, 0, 0);
    }
    to->separatorGiven_ = move == octet::Move::NextAfterFull;
}

LRESULT AddressField::OnKey(UINT message, WPARAM wParam, LPARAM lParam) {
    const std::u32string typed(message == WM_CHAR ? 1 : 0, static_cast<char32_t>(wParam));
    const octet::Answer answer =
        Ask(message == WM_CHAR ? octet::Event{octet::Typed{typed}} : octet::KeyDown{KeyOf(wParam)});
    if (answer.edit == octet::Edit::None) {
        return 0;
    }
    Move(answer.before);
    const LRESULT result =
        Edit(message, answer.edit == octet::Edit::Right ? VK_RIGHT : wParam, lParam);
    if (message == WM_CHAR) {
        Move(Ask(octet::Edited{typed}).after);
    }
    Move(answer.after);
    return result;
}

LRESULT AddressField::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CHAR:
        case WM_KEYDOWN:
            return OnKey(message, wParam, lParam);
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
            Ask(octet::Clicked{});
            break;
        case WM_KILLFOCUS:
            focusTo_ = reinterpret_cast<HWND>(wParam);
            break;
        case WM_CONTEXTMENU:
            Show(Ask(octet::ContextMenu{GetFocus() == edit_}));
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
    Show(Ask(octet::FocusLost{focusTo_ != nullptr && GetAncestor(focusTo_, GA_ROOT) == dialog_}));
}

bool AddressField::HoldToRange(bool rewrite) {
    const octet::Answer answer = Ask(octet::Leave{rewrite});
    Show(answer);
    return answer.accepted;
}

}  // namespace vexil::win32
