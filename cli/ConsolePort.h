// The command line's side of the engine: messages and status texts as lines on standard error,
// the progress bar as a bar on a terminal or one line per tenth otherwise, the confirmation as
// its three lines and a y/N question, and the console's cancel (Ctrl-C and its kin), taken
// while the engine waits, as the cancel command.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/Ports.h"
#include "frontend/Confirmation.h"

namespace vexil::cli {

// Reads a line from standard input, which is a terminal, as the answer to a y/N question; the
// cancel command ends the question.
enum class Answer { Yes, No, Cancelled };
Answer AskYesNo();

// One message as the command line prints it: KIND NUMBER TEXT, the text's further lines
// indented below its first.
std::string FormatMessage(const char* kind, int stringId);
const char* KindName(Icon icon);

class ConsolePort final : public MessageSink,
                          public ProgressDisplay,
                          public Confirmer,
                          public EventPump {
  public:
    explicit ConsolePort(bool assumeYes, std::FILE* out = stderr);
    ~ConsolePort() override;

    // The cancel command, as the cancel button runs it.
    std::function<void()> onCancel;

    // With assumeYes: confirm also a print server whose version reply was not valid. Without
    // it such a confirmation is declined and Unverified() says why.
    bool allowUnverified = false;

    bool Unverified() const { return declinedAsUnverified_; }

    // The report of a download that ended as the print server had the file's version already:
    // the values the confirmation would have shown, and that it is left as it is.
    void ReportAlreadyCurrent(const ConfirmationValues& values);

    void ShowMessage(int stringId, Icon icon) override;
    void SetStatusText(int stringId) override;
    void ShowStatus(bool visible) override;
    void DownloadStarted() override {}
    void SetProgressRange(int low, int high) override;
    void AdvanceProgress(int delta) override;
    void SetProgressPosition(int position) override;
    bool ConfirmTarget(const ConfirmationValues& values) override;
    void DispatchEvents(int maxWaitMs) override;
    std::int64_t NowMilliseconds() override;
    void* WindowHandle() override { return this; }

    // The transport library's wait hook: a signal that has arrived runs the cancel command,
    // which closes the socket the library waits on.
    static void WaitHook(void* window);
    // How often the library need run it. A cancel signal interrupts the library's wait and runs
    // the hook at once, so the slices only bound a cancel that comes without a signal (the
    // console's cancel thread on Windows). A window's few milliseconds would make each of a
    // fleet's thousand downloads wake a hundred times a second while its replies are slow.
    static constexpr int kWaitSliceMs = 100;

  private:
    void TakeSignals();
    void Print(const std::string& lines);
    void PrintValues(const ConfirmationValues& values);
    void DrawProgress();
    void EndProgressLine();

    bool assumeYes_;
    std::FILE* out_;
    bool terminal_;
    bool declinedAsUnverified_ = false;
    int statusText_ = 0;
    bool statusVisible_ = false;
    int low_ = 0;
    int high_ = 100;
    int position_ = 0;
    int shownPercent_ = -1;
    bool barOnScreen_ = false;
    std::int64_t transferStart_ = -1;
    std::int64_t lastDraw_ = 0;
};

}  // namespace vexil::cli
