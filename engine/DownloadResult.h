// What a download sequence returns. The download command turns each code into its messages.
#pragma once

#include <cstdint>

namespace vexil {

namespace result {
enum DownloadResult : std::int32_t {
    kSuccess = 0,                // the finish step was acknowledged, or the version was current
    kSocketStartFailed = -1,     // reported, never returned by a sequence
    kBlockRefused = -2,          // the library refused one block five times
    kBlockNotAcknowledged = -3,  // one block was sent five times without an acknowledgement
    kDataNotReceived = -4,       // reported, never returned by a sequence
    kCancelled = -5,             // cancel seen from the mode switch on
    kNotStarted = -6,            // file check failed, cancel during the query, or declined
    kDownloadFailed = -7,        // reported, never returned by a sequence
    kCheckTargetAddress = -8,    // reported, never returned by a sequence
    kNoAnswerToModeSwitch = -9,
    kModeSwitchFailed = -10,  // every switch attempt failed, for a model that needs the switch
    kEraseFailed = -11,
    kFinishFailed = -12,      // finish refused; the companion file failed; cancel after the main
    kConnectionFailed = -13,  // every connection attempt failed; the main file was unreadable
    kWrongModel = -14,        // the first list entry, but the print server is another model
};
}  // namespace result

using DownloadResult = result::DownloadResult;

}  // namespace vexil
