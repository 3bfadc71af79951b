#include "win32/SmallDialogs.h"

#include "frontend/Confirmation.h"
#include "resources/DialogTemplates.h"
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

// The dialog's font, narrowed as the line needs (FittingStretch); null when it fits as it is. The
// caller deletes the font.
HFONT FittedFont(HWND list, const std::wstring& line) {
    auto* base = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
    LOGFONTW font{};
    if (base == nullptr || GetObjectW(base, sizeof font, &font) == 0) {
        return nullptr;
    }
    RECT client;
    GetClientRect(list, &client);
    HDC dc = GetDC(list);
    const HGDIOBJ before = SelectObject(dc, base);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const auto narrowed = [&](int stretch) -> HFONT {
        font.lfWidth = metrics.tmAveCharWidth * stretch / 100;
        return stretch == 100 ? nullptr : CreateFontIndirectW(&font);
    };
    const int stretch = FittingStretch(client.right - kItemMargin, [&](int at) {
        HFONT measured = narrowed(at);
        SelectObject(dc, measured != nullptr ? measured : base);
        SIZE extent{};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &extent);
        SelectObject(dc, base);
        if (measured != nullptr) {
            DeleteObject(measured);
        }
        return static_cast<int>(extent.cx);
    });
    SelectObject(dc, before);
    ReleaseDC(list, dc);
    return narrowed(stretch);
}

// Both dialogs: button 1 is the default and ends the dialog with 1; button 2, Escape and the close
// box end it with 2. The confirmation, when there is one, fills its three boxes first.
INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            if (auto* confirmation = reinterpret_cast<Confirmation*>(lParam)) {
                for (std::size_t i = 0; i < confirmation->shown.size(); ++i) {
                    HWND list = GetDlgItem(window, control::kConfirmLines[i]);
                    const std::wstring line = Wide(confirmation->shown[i]);
                    confirmation->fonts[i] = FittedFont(list, line);
                    if (confirmation->fonts[i] != nullptr) {
                        SendMessageW(list, WM_SETFONT,
                                     reinterpret_cast<WPARAM>(confirmation->fonts[i]), FALSE);
                    }
                    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
                }
            }
            SendMessageW(window, DM_SETDEFID, control::kOk, 0);
            return TRUE;  // the focus on the first button: the download, the about box's OK
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

INT_PTR Run(const DialogTemplate& dialogTemplate, HWND owner, Confirmation* confirmation) {
    const InMemoryTemplate dialog(dialogTemplate, kModalStyle);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, &DialogProc,
                                   reinterpret_cast<LPARAM>(confirmation));
}

}  // namespace

int RunConfirmation(HWND owner, const std::array<std::string, 3>& shown) {
    Confirmation confirmation{shown};
    const INT_PTR result = Run(ConfirmDialogTemplate(), owner, &confirmation);
    for (HFONT font : confirmation.fonts) {
        if (font != nullptr) {
            DeleteObject(font);
        }
    }
    return result == control::kOk ? control::kOk : control::kCancel;
}

void RunAbout(HWND owner) {
    Run(AboutDialogTemplate(), owner, nullptr);
}

}  // namespace vexil::win32
