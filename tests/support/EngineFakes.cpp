#include "tests/support/EngineFakes.h"

#include <algorithm>
#include <cstring>

#include "engine/DevicePayloads.h"
#include "engine/TargetRecord.h"

namespace vexil::test {

std::vector<Call> ScriptedTransport::CallsOf(Op op) const {
    std::vector<Call> found;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                 [op](const Call& call) { return call.op == op; });
    return found;
}

std::vector<Op> ScriptedTransport::Ops() const {
    std::vector<Op> ops;
    for (const Call& call : calls) {
        ops.push_back(call.op);
    }
    return ops;
}

int ScriptedTransport::Answer(Op op, TAVDL_ADDR* addr, unsigned long replySize, void* reply,
                              const void* data, unsigned long dataLength) {
    Call call{op, addr->mode, addr->waitSeconds, InetPort(*addr), IpxSocket(*addr), {}};
    if (reply != nullptr && replySize > 0) {
        call.replyByte0 = static_cast<const std::uint8_t*>(reply)[0];
    }
    if (data != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        call.data.assign(bytes, bytes + dataLength);
    }
    calls.push_back(call);

    Reply answer;
    auto& queue = script[op];
    if (!queue.empty()) {
        answer = queue.front();
        queue.pop_front();
    } else {
        const bool ipx = addr->mode == TAVDL_MODE_IPX;
        switch (op) {
            case Op::VantrelVersion:
            case Op::BrambleVersion: {
                // Model 6 with firmware 1.10, valid for both queries.
                const std::uint8_t code[2] = {0xAA, 0x01};
                const std::uint8_t firmware[2] = {0x01, 0x10};
                const auto version = payload::VersionReply(VersionQuery::kVantrel, code, firmware);
                answer.bytes.assign(version.begin(), version.end());
                break;
            }
            case Op::SendData:
                answer.bytes = ipx ? Bytes{payload::kIpxMark, 0x00}
                                   : Bytes(payload::kAck.begin(), payload::kAck.end());
                break;
            case Op::Finish:
                answer.bytes =
                    ipx ? Bytes(payload::kIpxFinishAck.begin(), payload::kIpxFinishAck.end())
                        : Bytes(payload::kTcpFinishAck.begin(), payload::kTcpFinishAck.end());
                break;
            default:
                break;
        }
    }
    if (reply != nullptr && !answer.bytes.empty()) {
        std::memcpy(reply, answer.bytes.data(),
                    std::min<std::size_t>(answer.bytes.size(), replySize));
    }
    if (answer.during) {
        answer.during();
    }
    return answer.result;
}

int ScriptedTransport::VantrelGetVersion(TAVDL_ADDR* addr, void*, unsigned long replySize,
                                         void* reply) {
    return Answer(Op::VantrelVersion, addr, replySize, reply, nullptr, 0);
}
int ScriptedTransport::BrambleGetVersion(TAVDL_ADDR* addr, void*, unsigned long replySize,
                                         void* reply) {
    return Answer(Op::BrambleVersion, addr, replySize, reply, nullptr, 0);
}
int ScriptedTransport::BrambleJampEprom(TAVDL_ADDR* addr, void*, unsigned long replySize,
                                        void* reply) {
    return Answer(Op::JampEprom, addr, replySize, reply, nullptr, 0);
}
int ScriptedTransport::OpenSocket(TAVDL_ADDR* addr, unsigned int* socket) {
    // Opened unless told otherwise: a result of 0 means no socket.
    if (script[Op::OpenSocket].empty()) {
        Queue(Op::OpenSocket, {1, {}, {}});
    }
    const int opened = Answer(Op::OpenSocket, addr, 0, nullptr, nullptr, 0);
    if (opened != 0) {
        *socket = 42;
    }
    return opened;
}
int ScriptedTransport::DownloadConnection(TAVDL_ADDR* addr, void*, unsigned long replySize,
                                          void* reply, unsigned int*) {
    return Answer(Op::Connection, addr, replySize, reply, nullptr, 0);
}
int ScriptedTransport::DownloadEraseFlash(TAVDL_ADDR* addr, void*, unsigned long replySize,
                                          void* reply, unsigned int*) {
    return Answer(Op::Erase, addr, replySize, reply, nullptr, 0);
}
int ScriptedTransport::DownloadSendData(TAVDL_ADDR* addr, void*, unsigned long dataLength,
                                        void* data, unsigned long replySize, void* reply,
                                        unsigned int*) {
    return Answer(Op::SendData, addr, replySize, reply, data, dataLength);
}
int ScriptedTransport::DownloadFinish(TAVDL_ADDR* addr, void*, unsigned long dataLength, void* data,
                                      unsigned long replySize, void* reply, unsigned int*) {
    return Answer(Op::Finish, addr, replySize, reply, data, dataLength);
}
void ScriptedTransport::CloseSocket(unsigned int* socket) {
    ++closeCount;
    calls.push_back({Op::CloseSocket, 0, 0, 0, 0, {}, -1});
    *socket = 0;
}

void RecordingPort::ShowMessage(int stringId, Icon icon) {
    messages.push_back({stringId, icon});
    if (onMessage) {
        onMessage(stringId);
    }
}
void RecordingPort::SetStatusText(int stringId) {
    statusLog.push_back("text " + std::to_string(stringId));
}
void RecordingPort::ShowStatus(bool visible) {
    statusLog.push_back(visible ? "show" : "hide");
}
void RecordingPort::EnableControl(int id, bool on) {
    enabled[id] = on;
}
void RecordingPort::SetProgressRange(int, int high) {
    progressHigh = high;
}
void RecordingPort::AdvanceProgress(int delta) {
    progressDeltas.push_back(delta);
    progress = std::min(progress + delta, progressHigh);
}
void RecordingPort::SetProgressPosition(int position) {
    progressPositions.push_back(position);
    progress = position;
}
int RecordingPort::RunConfirmation() {
    ++confirmations;
    return confirmation;
}
void RecordingPort::DispatchEvents(int maxWaitMs) {
    now += maxWaitMs;
    ++dispatches;
    if (onDispatch) {
        onDispatch();
    }
}

}  // namespace vexil::test
