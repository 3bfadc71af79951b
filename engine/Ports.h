// The engine's ways to the front end, one narrow role each: messages by string number, the
// status line and the progress bar, the confirmation of the target, and the clock with the
// event pump. A front end implements the roles it uses (one object may play them all); tests
// implement them with recorders and a fake clock.
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

// The status line and the progress bar of a download.
class ProgressDisplay {
  public:
    virtual ~ProgressDisplay() = default;
    // The status line: its text by string number, and whether it shows.
    virtual void SetStatusText(int stringId) = 0;
    virtual void ShowStatus(bool visible) = 0;
    // The progress bar 1010: PBM_SETRANGE, PBM_DELTAPOS and PBM_SETPOS.
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void AdvanceProgress(int delta) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // The user confirmed the download, its announcements have been read and the print server
    // is about to be switched: the target and the model must not change until the download
    // ends. The front end learns the end from the outcome.
    virtual void DownloadStarted() = 0;
};

struct ConfirmationValues;

// The question put before a print server is switched to download mode.
class Confirmer {
  public:
    virtual ~Confirmer() = default;
    // Asks the user, modally, whether to download to this target; false when declined.
    virtual bool ConfirmTarget(const ConfirmationValues& values) = 0;
};

// The clock of the engine's waits and the pump that keeps the front end alive during them.
class EventPump {
  public:
    virtual ~EventPump() = default;
    // Dispatches the events that are waiting. When none are waiting it blocks for at most
    // `maxWaitMs` for one to arrive, so that a caller looping on it does not spin. Commands
    // other than cancel that arrive while a download runs are dropped.
    virtual void DispatchEvents(int maxWaitMs) = 0;
    // Monotonic clock in milliseconds.
    virtual std::int64_t NowMilliseconds() = 0;
    // The handle handed to the transport library as its window argument: what its wait hook
    // is called with.
    virtual void* WindowHandle() = 0;

    // The monotonic clock that a real pump gives as NowMilliseconds.
    static std::int64_t SteadyMilliseconds() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// The roles a download engine reaches its front end through.
struct EnginePorts {
    MessageSink& messages;
    ProgressDisplay& progress;
    Confirmer& confirmer;
    EventPump& pump;
};

}  // namespace vexil
