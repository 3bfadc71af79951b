// The main window: template 102 with its controls, the download command and its result
// messages, the transport and model selection, the file selection and the cancel command. It
// builds the engine's request from its fields and is the engine's dialog port.
#pragma once

#include <QDialog>
#include <QList>
#include <QMap>
#include <QPointer>
#include <array>
#include <functional>
#include <optional>

#include "engine/DialogPort.h"
#include "engine/DownloadCommand.h"
#include "engine/DownloadEngine.h"
#include "engine/Transport.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vexil {

class DialogServices;
class FilterEdit;
class NumericEdit;

class MainDialog : public QDialog, public DialogPort, private CommandWindow {
    Q_OBJECT
  public:
    MainDialog(Transport& transport, DialogServices& services, QWidget* parent = nullptr);
    ~MainDialog() override;

    // Handlers, as the command table connects them.
    void OnDownload();
    void OnBrowseFile();
    void OnModelSelected();
    void OnIpxClicked();
    void OnTcpClicked();
    void OnWebPage();
    void OnCancelCommand();
    void OnSysCommand(int id);

    void ApplyTransport(int choice);
    static int HexTextToBytes(const QString& text, std::array<std::uint8_t, 6>& bytes);
    // The request as the fields hold it now, without any check.
    DownloadRequest FieldsRequest() const override;
    // The download command's request: no value when the address is refused, with its message
    // shown; the octets are held to their ranges first, as leaving each field would.
    std::optional<DownloadRequest> EnteredRequest();

    DownloadEngine& Engine() { return engine_; }
    // The model the download command uses: set only by picking the model list's first entry.
    int ModelIndex() const { return modelIndex_; }
    QWidget* Control(int id) const { return controls_.value(id); }
    NumericEdit* Octet(int index) const { return octets_[static_cast<std::size_t>(index)]; }
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
    void* WindowHandle() override { return this; }

    // The transport library's wait hook: keeps the window alive while a call waits.
    static void WaitHook(void* window);

  public slots:
    void reject() override;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    void Initialise();
    // The download command's window.
    void EnableControl(int id, bool enabled) override;
    bool HoldOctetsToRange() override;
    void NoteFocus() override;
    // Gives the focus back after the download command: to the download button after a
    // download ran, else to where it was when the command started.
    void RestoreFocus(bool downloadRan) override;
    void Close() override;
    // Keeps the keyboard focus at `control`'s place in the template order when that control
    // cannot hold it (disabled): the dialog itself takes the focus, so Enter reaches only the
    // default button, and the next Tab goes on from that place.
    void ParkFocus(QWidget* control);

    Transport& transport_;
    DialogServices& services_;
    DownloadEngine engine_;
    DownloadCommand command_;

  public:
    // The download itself; the engine runs it, tests may put their own in its place.
    std::function<DownloadOutcome(const DownloadRequest&)>& runDownload = command_.runDownload;

  private:
    int modelIndex_ = 0;
    QPointer<QWidget> focusBefore_;
    QMap<int, QWidget*> controls_;
    QList<QWidget*> inOrder_;  // template order, labels included
    QPointer<QWidget> focusPlace_;
    std::array<NumericEdit*, 4> octets_{};
    FilterEdit* networkEdit_ = nullptr;
    FilterEdit* macEdit_ = nullptr;
    QComboBox* modelList_ = nullptr;
    QCheckBox* tcpCheck_ = nullptr;
    QCheckBox* ipxCheck_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace vexil
