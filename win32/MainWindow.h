// The main window as a native dialog: template 102 with its controls, the download command and
// its result messages, the transport and model selection, the file selection and the cancel
// command. It builds the engine's request from its fields and is the engine's dialog port.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "engine/ControlStates.h"
#include "engine/DialogPort.h"
#include "engine/DownloadCommand.h"
#include "engine/DownloadEngine.h"
#include "engine/Transport.h"
#include "win32/AddressField.h"

namespace vexil::win32 {

class Services;

class MainWindow : public DialogPort, private CommandWindow {
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
    AddressField& Octet(std::size_t index) { return *octets_[index]; }

    DownloadEngine& Engine() { return engine_; }
    int ModelIndex() const { return modelIndex_; }
    bool DownloadRunning() const { return command_.Running(); }

    // The dialog port.
    void ShowMessage(int stringId, Icon icon) override;
    void SetStatusText(int stringId) override;
    void ShowStatus(bool visible) override;
    void DownloadStarted() override;
    void DownloadEnded(const DownloadEnd& end) override;
    void SetProgressRange(int low, int high) override;
    void AdvanceProgress(int delta) override;
    void SetProgressPosition(int position) override;
    bool ConfirmTarget(const ConfirmationValues& values) override;
    void DispatchEvents(int maxWaitMs) override;
    std::int64_t NowMilliseconds() override;
    void* WindowHandle() override { return window_; }

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
    void OnBrowseFile();
    void OnModelSelected();
    void OnTransportClicked(bool ipxBox);
    void OnWebPage();
    void OnAbout();

    // The download command's window.
    DownloadRequest FieldsRequest() const override;
    bool HoldOctetsToRange() override;
    void EnableControl(int id, bool enabled) override;
    void NoteFocus() override;
    void RestoreFocus(bool downloadRan) override;
    void Close() override;

    void ApplyTransport(controls::Transport transport);
    bool Checked(int id) const;
    bool LanCardChosen() const;
    AddressField* Field(int id);
    void FocusControl(HWND control);

    Transport& transport_;
    Services& services_;
    DownloadEngine engine_;
    DownloadCommand command_;

  public:
    // The download itself; the engine runs it, tests may put their own in its place.
    std::function<DownloadOutcome(const DownloadRequest&)>& runDownload = command_.runDownload;

  private:
    HWND window_ = nullptr;
    HWND focusBefore_ = nullptr;
    bool modal_ = false;
    bool done_ = false;
    int modelIndex_ = 0;
    std::array<std::unique_ptr<AddressField>, 4> octets_;
    std::unique_ptr<AddressField> network_;
    std::unique_ptr<AddressField> mac_;
};

}  // namespace vexil::win32
