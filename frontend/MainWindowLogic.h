// The main window's logic, the same in both windows: its start-up, the transport and model
// choice, the request made of the fields, the file choice, the web page, the focus around the
// download command, and the command table that runs each handler. It is the engine's front end
// in every role; the window it runs in is a WindowView, toolkit glue that translates its
// toolkit's events into OnCommand and OnSysCommand.
#pragma once

#include <functional>
#include <optional>

#include "engine/DownloadEngine.h"
#include "engine/Ports.h"
#include "engine/Transport.h"
#include "frontend/ControlStates.h"
#include "frontend/DownloadCommand.h"
#include "frontend/WindowView.h"

namespace vexil {

class MainWindowLogic final : public MessageSink,
                              public ProgressDisplay,
                              public Confirmer,
                              public EventPump,
                              private CommandWindow {
  public:
    // What a control reports, as the command table knows it.
    enum class Notification { kClicked, kSelected };

    MainWindowLogic(WindowView& view, Transport& transport);
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Fills the built controls and sets the window up, in the order the user may see it: the
    // progress bar, the sockets (message 109 when they do not start), the model list, the
    // transport, the MAC address's prefix, the default button, the transport's wait hook and
    // the focus on the model list.
    void Initialise(void (*waitHook)(void* window));

    // The command table: runs the handler of control `id`'s notification. While a download
    // runs every command but cancel is ignored.
    void OnCommand(int id, Notification notification);
    // A system-menu command (the about box, 16 to 31); false when it is not the window's.
    bool OnSysCommand(int id);

    void ApplyTransport(controls::Transport transport);
    // The request as the fields hold it now, without any check.
    DownloadRequest FieldsRequest() const override;
    // The download command's request: no value when the address is refused, with its message
    // shown; the octets are held to their ranges first, as leaving each field would.
    std::optional<DownloadRequest> EnteredRequest() { return command_.EnteredRequest(); }

    DownloadEngine& Engine() { return engine_; }
    DownloadCommand& Command() { return command_; }
    // The model the download command uses: set only by picking the model list's first entry.
    int ModelIndex() const { return modelIndex_; }
    bool DownloadRunning() const { return command_.Running(); }

    // The engine's roles.
    void ShowMessage(int stringId, Icon icon) override;
    void SetStatusText(int stringId) override;
    void ShowStatus(bool visible) override;
    void SetProgressRange(int low, int high) override;
    void AdvanceProgress(int delta) override;
    void SetProgressPosition(int position) override;
    void DownloadStarted() override { command_.Started(); }
    bool ConfirmTarget(const ConfirmationValues& values) override;
    void DispatchEvents(int maxWaitMs) override;
    std::int64_t NowMilliseconds() override { return view_.NowMilliseconds(); }
    void* WindowHandle() override { return view_.WindowHandle(); }

  private:
    void OnDownload() { command_.Run(); }
    void OnBrowseFile();
    void OnModelSelected();
    void OnIpxClicked() { OnTransportClicked(true); }
    void OnTcpClicked() { OnTransportClicked(false); }
    void OnTransportClicked(bool ipxBox);
    void OnWebPage();
    void OnCancelCommand() { command_.Cancel(); }
    bool LanCardChosen() const;
    controls::Transport CheckedTransport() const;

    // The download command's window.
    // The check that leaving an octet field makes, made on the four as if each were left, up to
    // the first that is out of range (its message shown).
    bool HoldOctetsToRange() override;
    // A control that is disabled while it holds the keyboard leaves it at its place: handed on
    // to the next control, it would be the cancel button during a download, where an Enter
    // would cancel it.
    void EnableControl(int id, bool enabled) override;
    void NoteFocus() override;
    // Gives the focus back after the download command: to the download button after a
    // download ran, else to where it was when the command started if the window itself holds
    // it now.
    void RestoreFocus(bool downloadRan) override;
    void Close() override { view_.Close(); }

    struct CommandRow {
        int id;
        Notification notification;
        void (MainWindowLogic::*handler)();
    };
    static const CommandRow kCommands[];

    WindowView& view_;
    Transport& transport_;
    DownloadEngine engine_;
    DownloadCommand command_;
    int modelIndex_ = 0;
    int focusBefore_ = WindowView::kWindowFocus;
    int progressLow_ = 0;
    int progressHigh_ = 100;
    int progress_ = 0;

  public:
    // The download itself; the engine runs it, tests may put their own in its place.
    std::function<DownloadOutcome(const DownloadRequest&)>& runDownload = command_.runDownload;
};

}  // namespace vexil
