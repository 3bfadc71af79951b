// The engine's only way to the window: messages by string number, the status line, controls
// by id, the progress bar, the confirmation dialog, event dispatch and the clock. The main
// dialog implements it; tests implement it with a recorder and a fake clock.
#pragma once

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

// Control ids of the main dialog that the engine addresses.
namespace control {
inline constexpr int kCancel = 2;
inline constexpr int kDownload = 3;
inline constexpr int kOctet1 = 1003;
inline constexpr int kNetworkAddress = 1004;
inline constexpr int kMacAddress = 1005;
inline constexpr int kOctet2 = 1007;
inline constexpr int kOctet3 = 1008;
inline constexpr int kOctet4 = 1009;
inline constexpr int kProgress = 1010;
inline constexpr int kNetworkLabel = 1011;
inline constexpr int kMacLabel = 1012;
inline constexpr int kIpLabel = 1013;
inline constexpr int kIpxGroup = 1014;
inline constexpr int kIpGroup = 1015;
inline constexpr int kTcpCheck = 1016;
inline constexpr int kIpxCheck = 1017;
inline constexpr int kModelList = 1026;
inline constexpr int kWebPage = 1030;
inline constexpr int kModelLabel = 1040;
inline constexpr int kBrowse = 1044;
inline constexpr int kStatusLine = 1054;
}  // namespace control

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
    // Runs the target confirmation modally; 2 means the user declined.
    virtual int RunConfirmation() = 0;
    // Dispatches the window events that are waiting. When none are waiting it blocks for at most
    // `maxWaitMs` for one to arrive, so that a caller looping on it does not spin. Commands other
    // than cancel that arrive while a download runs are dropped.
    virtual void DispatchEvents(int maxWaitMs) = 0;
    // Monotonic clock in milliseconds.
    virtual std::int64_t NowMilliseconds() = 0;
    // The handle handed to the transport library as its window argument.
    virtual void* WindowHandle() = 0;
};

}  // namespace vexil
