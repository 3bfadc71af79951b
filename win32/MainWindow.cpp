#include "win32/MainWindow.h"

#include <commctrl.h>

#include "frontend/AddressEntry.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "win32/DialogTemplate.h"
#include "win32/Services.h"
#include "win32/SmallDialogs.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {

using namespace control;
using Notification = MainWindowLogic::Notification;

// An application window of its own, shown in the task bar: a system menu and a minimise box, no
// maximise box, its size fixed by the template.
constexpr DWORD kMainStyle =
    DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER;

const wchar_t kWindowProperty[] = L"Vexil.MainWindow";

// Template 102, once the common controls have registered the progress bar's class it names.
InMemoryTemplate MainTemplate() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    return {MainDialogTemplate(), kMainStyle};
}

}  // namespace

MainWindow::MainWindow(Transport& transport, Services& services)
    : services_(services), logic_(*this, transport) {}

MainWindow::~MainWindow() {
    if (window_ != nullptr && !modal_) {
        DestroyWindow(window_);
    }
}

INT_PTR MainWindow::Run() {
    modal_ = true;
    const InMemoryTemplate dialog = MainTemplate();
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), nullptr,
                                   &MainWindow::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND MainWindow::Open() {
    modal_ = false;
    const InMemoryTemplate dialog = MainTemplate();
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), nullptr,
                               &MainWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    if (window_ != nullptr) {
        ShowWindow(window_, SW_SHOW);
    }
    return window_;
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainWindow*>(lParam);
        SetPropW(window, kWindowProperty, self);
        self->window_ = window;
    }
    auto* self = static_cast<MainWindow*>(GetPropW(window, kWindowProperty));
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        RemovePropW(window, kWindowProperty);
        self->fields_ = {};
        self->window_ = nullptr;
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Initialise();
            return FALSE;  // the focus is set: on the model list
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_SYSCOMMAND:
            return logic_.OnSysCommand(static_cast<int>(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            logic_.OnCommand(kCancel, Notification::kClicked);
            return TRUE;
        default:
            return FALSE;
    }
}

void MainWindow::Initialise() {
    // The program's icon, shared: the system keeps it for the life of the program.
    const auto icon =
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResource),
                                      IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    if (icon != nullptr) {
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    // The about box from the system menu.
    if (HMENU menu = GetSystemMenu(window_, FALSE); menu != nullptr) {
        const std::wstring about = LoadWide(msg::kAboutMenuItem);
        if (!about.empty()) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, kAboutCommand, about.c_str());
        }
    }

    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i] =
            std::make_unique<AddressField>(Control(kAddressFields[i].id), kAddressFields[i],
                                           services_, [this](int id) { return FieldOf(id); });
    }
    logic_.Initialise(&MainWindow::WaitHook);
}

AddressField* MainWindow::FieldOf(int id) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (kAddressFields[i].id == id) {
            return fields_[i].get();
        }
    }
    return nullptr;
}

void MainWindow::OnCommand(int id, int code, HWND from) {
    if (AddressField* field = FieldOf(id); field != nullptr && from != nullptr) {
        if (code == EN_UPDATE) {
            field->OnUpdate();
        } else if (code == EN_KILLFOCUS) {
            field->OnKillFocus();
        }
    } else if (id == kModelList) {
        if (code == CBN_SELCHANGE) {
            logic_.OnCommand(id, Notification::kSelected);
        }
    } else if (code == BN_CLICKED) {  // a button, Enter on the default button, Escape
        logic_.OnCommand(id, Notification::kClicked);
    }
}

std::string MainWindow::SelectedText(int id) const {
    const int selection = Selection(id);
    if (selection < 0) {
        return {};
    }
    const auto at = static_cast<WPARAM>(selection);
    std::wstring shown(static_cast<std::size_t>(SendMessageW(Control(id), CB_GETLBTEXTLEN, at, 0)),
                       L'\0');
    SendMessageW(Control(id), CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(shown.data()));
    return Utf8(shown);
}

void MainWindow::SetProgress(int low, int high, int position) {
    SendMessageW(Control(kProgress), PBM_SETRANGE32, static_cast<WPARAM>(low), high);
    SendMessageW(Control(kProgress), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int MainWindow::Focused() const {
    HWND focus = GetFocus();
    if (focus == nullptr || focus == window_) {
        return kWindowFocus;
    }
    return GetParent(focus) == window_ ? GetDlgCtrlID(focus) : kOtherFocus;
}

void MainWindow::ShowMessage(int stringId, Icon icon) {
    services_.ShowMessage(window_, stringId, icon);
}

int MainWindow::RunConfirmation(const std::array<std::string, 3>& shown) {
    return win32::RunConfirmation(window_, shown);
}

void MainWindow::ShowAbout() {
    RunAbout(window_);
}

std::filesystem::path MainWindow::ChooseFile(const std::vector<FileFilter>& filters) {
    // Each part ended by a NUL, the whole by a second NUL.
    std::wstring filter;
    for (const FileFilter& entry : filters) {
        filter += Wide(entry.description) + L'\0' + Wide(entry.patterns) + L'\0';
    }
    return services_.OpenFileName(window_, filter + L'\0');
}

bool MainWindow::OpenWebPage(const char* address) {
    return services_.OpenUrl(window_, address);
}

void MainWindow::Close() {
    done_ = true;
    if (modal_) {
        EndDialog(window_, kCancel);
    } else {
        ShowWindow(window_, SW_HIDE);
    }
}

void MainWindow::PumpWaiting(HWND dialog) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not this loop's to take: the loop that owns it sees it once the download ends.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        // While a download runs no control holds the keyboard (the one left would be the cancel
        // button, where an Enter would cancel), so Escape reaches the window as a key of its
        // own or, with no focus at all, as a system key. It is the cancel command all the same.
        const bool escape = (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) &&
                            message.wParam == VK_ESCAPE;
        if (escape && dialog != nullptr &&
            (message.hwnd == dialog || IsChild(dialog, message.hwnd))) {
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            continue;
        }
        if (dialog == nullptr || !IsDialogMessageW(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

std::int64_t MainWindow::NowMilliseconds() {
    return services_.NowMilliseconds();
}

void MainWindow::WaitHook(void* window) {
    PumpWaiting(static_cast<HWND>(window));
}

}  // namespace vexil::win32
