#include "win32/SmallDialogs.h"

#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "win32/DialogTemplate.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {

constexpr DWORD kModalStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER;

// The list box draws its line a pixel in from its left edge.
constexpr int kItemMargin = 2;

struct Confirmation {
    const std::array<std::string, 3>& shown;
    std::array<HFONT, 3> fonts{};  // narrowed fonts made for the lines that need one
};

// This is where the user checks which printer is about to be erased, so a 15-character IPv4
// address or a 12-digit MAC address must show whole in the template's 55 units: the dialog's
// font, narrowed in steps down to half its width until the line fits. Null when it fits as it
// is; the caller deletes the font.
HFONT FittedFont(HWND list, const std::wstring& line) {
    auto* base = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
    LOGFONTW font{};
    if (base == nullptr || GetObjectW(base, sizeof font, &font) == 0) {
        return nullptr;
    }
    RECT client;
    GetClientRect(list, &client);
    const int room = client.right - kItemMargin;
    HDC dc = GetDC(list);
    const HGDIOBJ before = SelectObject(dc, base);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    HFONT fitted = nullptr;
    for (int stretch = 95; stretch >= 50; stretch -= 5) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &extent);
        if (extent.cx <= room) {
            break;
        }
        font.lfWidth = metrics.tmAveCharWidth * stretch / 100;
        HFONT narrower = CreateFontIndirectW(&font);
        SelectObject(dc, narrower);
        if (fitted != nullptr) {
            DeleteObject(fitted);
        }
        fitted = narrower;
    }
    SelectObject(dc, before);
    ReleaseDC(list, dc);
    return fitted;
}

INT_PTR CALLBACK ConfirmationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto& confirmation = *reinterpret_cast<Confirmation*>(lParam);
            const int lists[3] = {control::kConfirmTarget, control::kConfirmCurrentVersion,
                                  control::kConfirmFileVersion};
            for (std::size_t i = 0; i < confirmation.shown.size(); ++i) {
                HWND list = GetDlgItem(window, lists[i]);
                const std::wstring line = Wide(confirmation.shown[i]);
                confirmation.fonts[i] = FittedFont(list, line);
                if (confirmation.fonts[i] != nullptr) {
                    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(confirmation.fonts[i]),
                                 FALSE);
                }
                SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
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
    Confirmation confirmation{shown};
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, &ConfirmationProc,
                                reinterpret_cast<LPARAM>(&confirmation));
    for (HFONT font : confirmation.fonts) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
    return result == control::kOk ? control::kOk : control::kCancel;
}

void RunAbout(HWND owner) {
    const InMemoryTemplate dialog(AboutDialogTemplate(), kModalStyle);
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, &AboutProc, 0);
}

}  // namespace vexil::win32
