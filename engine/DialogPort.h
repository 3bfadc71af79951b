// The engine's only way to the window: messages by string number, the status line, the start
// and end of a download, the progress bar, the confirmation, event dispatch and the clock. The main
// dialog implements it; tests implement it with a recorder and a fake clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace vexil {

// Message-box icons, with the values of the platform's flags.
enum class Icon : int { None = 0, Error = 16, Warning = 48, Information = 64 };

// Where a message by number goes. The download-file reader needs nothing more than this.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Shows string `stringId` in a modal box with an OK button; returns when it is closed.
    virtual void ShowMessage(int stringId, Icon icon) = 0;
};

struct ConfirmationValues;

// How a download ended, for the front end to give its controls back: the result, and whether
// the model is known and loads over TCP/IP only (such a model offers no IPX download).
struct DownloadEnd {
    int result;
    bool modelKnown;
    bool tcpOnlyModel;
};

class DialogPort : public MessageSink {
  public:
    // The status line: its text by string number, and whether it shows.
    virtual void SetStatusText(int stringId) = 0;
    virtual void ShowStatus(bool visible) = 0;
    // The user confirmed the download and the print server is about to be switched: the
    // target and the model must not change until DownloadEnded.
    virtual void DownloadStarted() = 0;
    // The sequence has ended, with whatever result, before the result is reported.
    virtual void DownloadEnded(const DownloadEnd& end) = 0;
    // The progress bar 1010: PBM_SETRANGE, PBM_DELTAPOS and PBM_SETPOS.
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void AdvanceProgress(int delta) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Asks the user, modally, whether to download to this target; false when declined.
    virtual bool ConfirmTarget(const ConfirmationValues& values) = 0;
    // Dispatches the window events that are waiting. When none are waiting it blocks for at most
    // `maxWaitMs` for one to arrive, so that a caller looping on it does not spin. Commands other
    // than cancel that arrive while a download runs are dropped.
    virtual void DispatchEvents(int maxWaitMs) = 0;
    // Monotonic clock in milliseconds.
    virtual std::int64_t NowMilliseconds() = 0;

    // The monotonic clock that a real port gives as NowMilliseconds.
    static std::int64_t SteadyMilliseconds() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    // The handle handed to the transport library as its window argument.
    virtual void* WindowHandle() = 0;
};

}  // namespace vexil
