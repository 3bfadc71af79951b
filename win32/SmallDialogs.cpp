#include "win32/SmallDialogs.h"

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "win32/DialogTemplate.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {

constexpr DWORD kModalStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER;

INT_PTR CALLBACK ConfirmationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto& shown = *reinterpret_cast<const std::array<std::string, 3>*>(lParam);
            const int lists[3] = {control::kConfirmTarget, control::kConfirmCurrentVersion,
                                  control::kConfirmFileVersion};
            for (std::size_t i = 0; i < shown.size(); ++i) {
                SendDlgItemMessageW(window, lists[i], LB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(Wide(shown[i]).c_str()));
            }
            SendMessageW(window, DM_SETDEFID, control::kOk, 0);
            return TRUE;  // the focus on the first button, the download
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == control::kOk || LOWORD(wParam) == control::kCancel) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(window, control::kCancel);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == control::kOk || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

int RunConfirmation(HWND owner, const std::array<std::string, 3>& shown) {
    const InMemoryTemplate dialog(ConfirmDialogTemplate(), kModalStyle);
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, &ConfirmationProc,
                                reinterpret_cast<LPARAM>(&shown));
    return result == control::kOk ? control::kOk : control::kCancel;
}

void RunAbout(HWND owner) {
    const InMemoryTemplate dialog(AboutDialogTemplate(), kModalStyle);
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, &AboutProc, 0);
}

}  // namespace vexil::win32
