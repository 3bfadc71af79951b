// The engine's only way to the window: messages by string number, the status line, controls
// by id, the progress bar, the confirmation dialog, event dispatch and the clock. The main
// dialog implements it; tests implement it with a recorder and a fake clock.
#pragma once

#include <chrono>
#include <cstdint>

#include "resources/ResourceIds.h"

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

// RunConfirmation's result when the user declined: the dialog's cancel button.
inline constexpr int kConfirmationDeclined = control::kCancel;

class DialogPort : public MessageSink {
  public:
    // The status line (static text 1054): its text by string number, and whether it shows.
    virtual void SetStatusText(int stringId) = 0;
    virtual void ShowStatus(bool visible) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    // Current selection of the model list, -1 when nothing is selected.
    virtual int ModelListSelection() = 0;
    // The progress bar 1010: PBM_SETRANGE, PBM_DELTAPOS and PBM_SETPOS.
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void AdvanceProgress(int delta) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Runs the target confirmation modally; kConfirmationDeclined when the user declined.
    virtual int RunConfirmation() = 0;
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
