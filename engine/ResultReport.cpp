#include "engine/ResultReport.h"

namespace vexil {

namespace {

constexpr int kSendingFailed = 57613;
constexpr int kPowerCycle = 57621;
constexpr int kFailed = 57623;

}  // namespace

std::vector<ResultMessage> ResultMessages(int result) {
    constexpr Icon kError = Icon::Error;
    switch (result) {
        case 0:
            return {{110, Icon::Information}};
        case -1:
            return {{109, kError}, {kPowerCycle, kError}};
        case -2:
            return {{kSendingFailed, kError}, {kPowerCycle, kError}};
        case -3:
        case -4:
            return {{57614, kError}, {kPowerCycle, kError}};
        case -5:
            return {{111, kError}};
        case -6:
            return {};
        case -8:
            return {{57610, kError}};
        case -9:
            return {{57622, kError}};
        case -10:
            return {{57625, kError}};
        case -11:
            return {{kFailed, kError}};
        case -12:
            return {{57615, kError}};
        case -13:
            return {{kPowerCycle, kError}};
        case -14:
            return {{57631, kError}};
        default:  // -7 and every code outside the table
            return {{kFailed, kError}};
    }
}

void ReportResult(int result, DialogPort& port) {
    const bool statusDuringMessage = result <= -9 && result >= -14;
    const bool hideBefore = result == -7 || result > 0 || result < -14;
    if (statusDuringMessage) {
        port.SetStatusText(kSendingFailed);
    }
    if (hideBefore) {
        port.ShowStatus(false);
    }
    for (const ResultMessage& message : ResultMessages(result)) {
        port.ShowMessage(message.stringId, message.icon);
    }
    if (statusDuringMessage || result == -8) {
        port.ShowStatus(false);
    }
}

}  // namespace vexil
