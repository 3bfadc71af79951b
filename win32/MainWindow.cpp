#include "win32/MainWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <filesystem>

#include "engine/AddressEntry.h"
#include "engine/Confirmation.h"
#include "engine/ModelTable.h"
#include "resources/DialogTemplates.h"
#include "resources/ResourceIds.h"
#include "win32/DialogTemplate.h"
#include "win32/Services.h"
#include "win32/SmallDialogs.h"
#include "win32/Text.h"

namespace vexil::win32 {

namespace {

using namespace control;

// An application window of its own, shown in the task bar: a system menu and a minimise box, no
// maximise box, its size fixed by the template.
constexpr DWORD kMainStyle =
    DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER;

const wchar_t kWindowProperty[] = L"Vexil.MainWindow";

// The progress bar's class, which the template names, is registered by the common controls.
void RegisterControlClasses() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
}

}  // namespace

MainWindow::MainWindow(Transport& transport, Services& services)
    : transport_(transport),
      services_(services),
      engine_(transport, *this),
      command_(*this, *this, engine_) {}

MainWindow::~MainWindow() {
    if (window_ != nullptr && !modal_) {
        DestroyWindow(window_);
    }
}

INT_PTR MainWindow::Run() {
    modal_ = true;
    RegisterControlClasses();
    const InMemoryTemplate dialog(MainDialogTemplate(), kMainStyle);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), nullptr,
                                   &MainWindow::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND MainWindow::Open() {
    modal_ = false;
    RegisterControlClasses();
    const InMemoryTemplate dialog(MainDialogTemplate(), kMainStyle);
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
        self->octets_ = {};
        self->network_.reset();
        self->mac_.reset();
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
            if ((wParam & 0xFFF0) == kAboutCommand) {
                OnAbout();
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            command_.Cancel();
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

    const int octetIds[address::kOctets] = {kOctet1, kOctet2, kOctet3, kOctet4};
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        octets_[i] = std::make_unique<AddressField>(Control(octetIds[i]), static_cast<int>(i) + 1,
                                                    services_);
    }
    for (std::size_t i = 0; i < address::kOctets; ++i) {
        octets_[i]->SetNeighbours(i > 0 ? octets_[i - 1].get() : nullptr,
                                  i + 1 < address::kOctets ? octets_[i + 1].get() : nullptr);
    }
    network_ = std::make_unique<AddressField>(Control(kNetworkAddress), 0, services_);
    mac_ = std::make_unique<AddressField>(Control(kMacAddress), 0, services_);

    SendMessageW(Control(kProgress), PBM_SETRANGE32, 0, 100);
    SendMessageW(Control(kProgress), PBM_SETPOS, 0, 0);

    if (!transport_.StartSockets()) {
        ShowMessage(msg::kWinsockFailed, Icon::Error);
    }

    HWND models = Control(kModelList);
    SendMessageW(models, CB_RESETCONTENT, 0, 0);
    for (const char* const* name = kModelNames; **name != '\0'; ++name) {
        SendMessageW(models, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(*name).c_str()));
    }
    SendMessageW(models, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);

    ApplyTransport(controls::Transport::kTcp);
    mac_->SetText(L"00D1F0");
    ApplyTransport(Checked(kIpxCheck) ? controls::Transport::kIpx : controls::Transport::kTcp);

    // Enter presses the focused push button, otherwise the download button, the first of the
    // template's two default buttons.
    SendMessageW(window_, DM_SETDEFID, kDownload, 0);
    transport_.SetWaitHook(&MainWindow::WaitHook);
    FocusControl(models);
}

void MainWindow::FocusControl(HWND control) {
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

AddressField* MainWindow::Field(int id) {
    for (auto& octet : octets_) {
        if (octet && GetDlgCtrlID(octet->Handle()) == id) {
            return octet.get();
        }
    }
    if (network_ && id == kNetworkAddress) {
        return network_.get();
    }
    if (mac_ && id == kMacAddress) {
        return mac_.get();
    }
    return nullptr;
}

void MainWindow::OnCommand(int id, int code, HWND from) {
    if (AddressField* field = Field(id); field != nullptr && from != nullptr) {
        if (code == EN_UPDATE) {
            field->OnUpdate();
        } else if (code == EN_KILLFOCUS) {
            field->OnKillFocus();
        }
        return;
    }
    switch (id) {
        case kDownload:
            command_.Run();
            break;
        case kBrowse:
            OnBrowseFile();
            break;
        case kWebPage:
            OnWebPage();
            break;
        case kTcpCheck:
        case kIpxCheck:
            if (code == BN_CLICKED) {
                OnTransportClicked(id == kIpxCheck);
            }
            break;
        case kModelList:
            if (code == CBN_SELCHANGE) {
                OnModelSelected();
            }
            break;
        case kCancel:  // the cancel button, Escape and the close box alike
            command_.Cancel();
            break;
        default:
            break;
    }
}

bool MainWindow::Checked(int id) const {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::EnableControl(int id, bool enabled) {
    HWND control = Control(id);
    if (control == nullptr) {
        return;
    }
    if (!enabled && GetFocus() == control) {
        // A disabled control cannot keep the keyboard; the dialog holds it instead, so that an
        // Enter pressed now reaches only the default button, never the cancel button that the
        // next control in the order would be during a download.
        SetFocus(window_);
    }
    EnableWindow(control, enabled ? TRUE : FALSE);
}

void MainWindow::ApplyTransport(controls::Transport transport) {
    if (SendMessageW(Control(kModelList), CB_GETCURSEL, 0, 0) == CB_ERR) {
        for (int id : controls::ModelCommands()) {
            EnableControl(id, false);
        }
        transport = controls::Transport::kNone;
    }
    CheckDlgButton(window_, kIpxCheck,
                   transport == controls::Transport::kIpx ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, kTcpCheck,
                   transport == controls::Transport::kTcp ? BST_CHECKED : BST_UNCHECKED);
    for (const controls::Change& change : controls::TransportChanges(transport)) {
        EnableControl(change.id, change.enabled);
    }
}

bool MainWindow::LanCardChosen() const {
    HWND models = Control(kModelList);
    const auto selection = static_cast<int>(SendMessageW(models, CB_GETCURSEL, 0, 0));
    std::wstring shown;
    if (selection >= 0) {
        shown.resize(static_cast<std::size_t>(
                         SendMessageW(models, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection), 0)) +
                     1);
        SendMessageW(models, CB_GETLBTEXT, static_cast<WPARAM>(selection),
                     reinterpret_cast<LPARAM>(shown.data()));
        shown.resize(shown.size() - 1);
    }
    return controls::PicksLanCard(selection, Utf8(shown));
}

void MainWindow::OnModelSelected() {
    if (command_.Running()) {
        return;
    }
    ApplyTransport(Checked(kIpxCheck) ? controls::Transport::kIpx : controls::Transport::kTcp);
    if (LanCardChosen()) {
        modelIndex_ = kLanCardModel;
    }
    for (int id : controls::ModelCommands()) {
        EnableControl(id, true);
    }
}

void MainWindow::OnTransportClicked(bool ipxBox) {
    if (command_.Running() || !LanCardChosen()) {
        return;
    }
    modelIndex_ = kLanCardModel;
    // The other box still shows the transport in force before the click: switch it over.
    const bool tcpBefore = ipxBox ? Checked(kTcpCheck) : !Checked(kTcpCheck);
    ApplyTransport(tcpBefore ? controls::Transport::kIpx : controls::Transport::kTcp);
}

DownloadRequest MainWindow::FieldsRequest() const {
    DownloadRequest request;
    request.ipx = !Checked(kTcpCheck);
    for (std::size_t i = 0; i < octets_.size(); ++i) {
        request.octets[i] = Utf8(octets_[i]->Text());
    }
    request.network = Utf8(network_->Text());
    request.mac = Utf8(mac_->Text());
    request.modelIndex = modelIndex_;
    request.firstListEntry = SendMessageW(Control(kModelList), CB_GETCURSEL, 0, 0) == 0;
    return request;
}

bool MainWindow::HoldOctetsToRange() {
    return std::all_of(octets_.begin(), octets_.end(),
                       [](const auto& octet) { return octet->HoldToRange(true); });
}

void MainWindow::NoteFocus() {
    focusBefore_ = GetFocus();
}

void MainWindow::RestoreFocus(bool downloadRan) {
    HWND focus = GetFocus();
    const bool parked = focus == window_ || focus == nullptr;
    if (!downloadRan && parked && focusBefore_ != nullptr && IsWindow(focusBefore_) &&
        IsWindowEnabled(focusBefore_)) {
        FocusControl(focusBefore_);
    } else if (downloadRan || parked) {
        FocusControl(Control(kDownload));
    }
}

void MainWindow::DownloadStarted() {
    command_.Started();
}

void MainWindow::DownloadEnded(const DownloadEnd& end) {
    command_.Ended(end);
}

void MainWindow::OnBrowseFile() {
    if (command_.Running()) {
        return;
    }
    const std::wstring chosen = services_.OpenFileName(window_);
    if (chosen.empty()) {
        return;
    }
    // Only the folder counts: the download files are opened by their fixed names from there.
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(chosen).parent_path(), error);
    ShowMessage(msg::kFileChosen, Icon::Information);
}

void MainWindow::OnWebPage() {
    if (command_.Running()) {
        return;
    }
    if (!services_.OpenUrl(window_, kWebPageAddress)) {
        ShowMessage(msg::kNoBrowser, Icon::Error);
    }
}

void MainWindow::OnAbout() {
    RunAbout(window_);
}

void MainWindow::Close() {
    done_ = true;
    if (modal_) {
        EndDialog(window_, kCancel);
    } else {
        ShowWindow(window_, SW_HIDE);
    }
}

void MainWindow::ShowMessage(int stringId, Icon icon) {
    services_.ShowMessage(window_, stringId, icon);
}

void MainWindow::SetStatusText(int stringId) {
    SetWindowTextW(Control(kStatusLine), LoadWide(stringId).c_str());
}

void MainWindow::ShowStatus(bool visible) {
    ShowWindow(Control(kStatusLine), visible ? SW_SHOW : SW_HIDE);
}

void MainWindow::SetProgressRange(int low, int high) {
    SendMessageW(Control(kProgress), PBM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void MainWindow::AdvanceProgress(int delta) {
    SendMessageW(Control(kProgress), PBM_DELTAPOS, static_cast<WPARAM>(delta), 0);
}

void MainWindow::SetProgressPosition(int position) {
    SendMessageW(Control(kProgress), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

bool MainWindow::ConfirmTarget(const ConfirmationValues& values) {
    return RunConfirmation(window_, ShownConfirmation(values)) != kCancel;
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

void MainWindow::DispatchEvents(int maxWaitMs) {
    PumpWaiting(window_);
    if (maxWaitMs > 0 && !engine_.CancelRequested()) {
        // Sleep until the next message or the end of the slice.
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(maxWaitMs), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

std::int64_t MainWindow::NowMilliseconds() {
    return services_.NowMilliseconds();
}

void MainWindow::WaitHook(void* window) {
    PumpWaiting(static_cast<HWND>(window));
}

}  // namespace vexil::win32
