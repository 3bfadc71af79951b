// The main window as a native dialog: template 102 in memory, its controls found by their ids,
// as the view of the shared window logic. Window messages become the logic's commands; what
// only Win32 needs stays here: the address fields' notifications, the system menu, the modal
// and the pumped runs of the window and Escape taken in the pump.
#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "engine/Transport.h"
#include "frontend/MainWindowLogic.h"
#include "frontend/WindowView.h"
#include "win32/AddressField.h"
#include "win32/Text.h"

namespace vexil::win32 {

class Services;

class MainWindow : private WindowView {
  public:
    MainWindow(Transport& transport, Services& services);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // The program: the window modal to nothing, until it is closed. Returns the dialog's result.
    INT_PTR Run();
    // The same window without a loop of its own, for a caller that pumps the messages (the
    // tests); Done() tells when it would have ended.
    HWND Open();
    bool Done() const { return done_; }
    HWND Handle() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }
    AddressField& Octet(std::size_t index) { return *fields_[index]; }
    MainWindowLogic& Logic() { return logic_; }

    // The transport library's wait hook: keeps the window alive while a call waits.
    static void WaitHook(void* window);
    // Takes the messages that are waiting, each through its dialog's keyboard handling; a quit
    // message is kept for the loop it belongs to.
    static void PumpWaiting(HWND dialog);

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Initialise();
    void OnCommand(int id, int code, HWND from);
    AddressField* FieldOf(int id);

    // The view.
    std::string Text(int id) const override { return Utf8(WindowText(Control(id))); }
    void SetText(int id, const std::string& text) override {
        SetWindowTextW(Control(id), Wide(text).c_str());
    }
    bool Checked(int id) const override { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) override {
        CheckDlgButton(window_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool Enabled(int id) const override { return IsWindowEnabled(Control(id)) != FALSE; }
    void Enable(int id, bool enabled) override { EnableWindow(Control(id), enabled); }
    void Show(int id, bool visible) override {
        ShowWindow(Control(id), visible ? SW_SHOW : SW_HIDE);
    }
    void AddItem(int id, const std::string& text) override {
        SendMessageW(Control(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
    }
    void Select(int id, int index) override {
        SendMessageW(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    int Selection(int id) const override {
        return static_cast<int>(SendMessageW(Control(id), CB_GETCURSEL, 0, 0));
    }
    std::string SelectedText(int id) const override;
    void SetProgress(int low, int high, int position) override;
    void SetDefaultButton(int id) override {
        SendMessageW(window_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
    }
    int Focused() const override;
    void Focus(int id) override {
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(id)), TRUE);
    }
    // A disabled control cannot keep the keyboard; the dialog holds it instead.
    void ParkFocus(int) override { SetFocus(window_); }
    AddressFieldLogic& Field(int id) override { return FieldOf(id)->Logic(); }
    void ShowMessage(int stringId, Icon icon) override;
    int RunConfirmation(const std::array<std::string, 3>& shown) override;
    void ShowAbout() override;
    std::filesystem::path ChooseFile(const std::vector<FileFilter>& filters) override;
    bool OpenWebPage(const char* address) override;
    void Close() override;
    void TakeEvents() override { PumpWaiting(window_); }
    void WaitForEvents(int maxWaitMs) override {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(maxWaitMs), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
    std::int64_t NowMilliseconds() override;
    void* WindowHandle() override { return window_; }

    Services& services_;
    HWND window_ = nullptr;
    bool modal_ = false;
    bool done_ = false;
    // In the order of kAddressFields: the four octets first.
    std::array<std::unique_ptr<AddressField>, std::size(kAddressFields)> fields_;
    MainWindowLogic logic_;
};

}  // namespace vexil::win32
