#include "tests/support/EngineFakes.h"

#include <algorithm>
#include <cstring>

#include "engine/DownloadEngine.h"
#include "engine/TargetRecord.h"
#include "tools/sim/PrintServerPayloads.h"

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

int ScriptedTransport::Answer(Op op, const vexil::Call& made, Transport::ReplySpan reply,
                              DataSpan data) {
    TAVDL_ADDR* addr = &made.target;
    ApplyCallSetup(*addr, made.setup);
    Call call{op, addr->mode, addr->waitSeconds, InetPort(*addr), IpxSocket(*addr), {}};
    if (!reply.empty()) {
        call.replyByte0 = reply[0];
    }
    call.data.assign(data.begin(), data.end());
    call.window = made.window;
    call.modelCode = ModelCode(*addr);
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
    lastReplyLength = answer.bytes.size();
    if (!reply.empty() && !answer.bytes.empty()) {
        std::memcpy(reply.data(), answer.bytes.data(),
                    std::min<std::size_t>(answer.bytes.size(), reply.size()));
    }
    if (answer.during) {
        answer.during();
    }
    return answer.result;
}

int ScriptedTransport::VantrelGetVersion(const vexil::Call& call, Transport::ReplySpan reply) {
    return Answer(Op::VantrelVersion, call, reply);
}
int ScriptedTransport::BrambleGetVersion(const vexil::Call& call, Transport::ReplySpan reply) {
    return Answer(Op::BrambleVersion, call, reply);
}
int ScriptedTransport::BrambleJampEprom(const vexil::Call& call, Transport::ReplySpan reply) {
    return Answer(Op::JampEprom, call, reply);
}
int ScriptedTransport::OpenSocket(const vexil::Call& call, unsigned int& socket) {
    // Opened unless told otherwise: a result of 0 means no socket.
    if (script[Op::OpenSocket].empty()) {
        Queue(Op::OpenSocket, {1, {}, {}});
    }
    const int opened = Answer(Op::OpenSocket, call, {});
    if (opened != 0) {
        socket = 42;
    }
    return opened;
}
int ScriptedTransport::DownloadConnection(const vexil::Call& call, Transport::ReplySpan reply,
                                          unsigned int&) {
    return Answer(Op::Connection, call, reply);
}
int ScriptedTransport::DownloadEraseFlash(const vexil::Call& call, Transport::ReplySpan reply,
                                          unsigned int&) {
    return Answer(Op::Erase, call, reply);
}
int ScriptedTransport::DownloadSendData(const vexil::Call& call, DataSpan data,
                                        Transport::ReplySpan reply, unsigned int&) {
    return Answer(Op::SendData, call, reply, data);
}
int ScriptedTransport::DownloadFinish(const vexil::Call& call, DataSpan data,
                                      Transport::ReplySpan reply, unsigned int&) {
    return Answer(Op::Finish, call, reply, data);
}
int ScriptedTransport::QueryVersions(const ManyQueries& queries, const VersionReply& onReply,
                                     Reason& reason) {
    manyInFlight.push_back(queries.inFlight);
    if (!manyFailure.empty()) {
        reason = manyFailure;
        return -1;
    }
    for (std::size_t index = 0; index < queries.targets.size(); ++index) {
        const TAVDL_ADDR& record = queries.targets[index];
        bool again = true;
        while (again) {
            const std::uint8_t* at = record.inetAddr + 4;
            exchanges.push_back({index, record.mode, record.waitSeconds, InetPort(record),
                                 std::to_string(at[0]) + "." + std::to_string(at[1]) + "." +
                                     std::to_string(at[2]) + "." + std::to_string(at[3]),
                                 queries.window});
            Reply answer;
            if (auto& queue = manyReplies[index]; !queue.empty()) {
                answer = queue.front();
                queue.pop_front();
            } else {
                const std::uint8_t code[2] = {0xAA, 0x01};
                const std::uint8_t firmware[2] = {0x01, 0x10};
                const auto version = payload::VersionReply(queries.query, code, firmware);
                answer.bytes.assign(version.begin(), version.end());
            }
            // One slice of the wait before each reply.
            if (queries.onSlice) {
                queries.onSlice();
            }
            if (answer.during) {
                answer.during();
            }
            if (queries.stop != nullptr && *queries.stop != 0) {
                return 1;
            }
            again = onReply(index, answer.result, answer.bytes);
        }
    }
    return 0;
}

void ScriptedTransport::CloseSocket(unsigned int& socket) {
    ++closeCount;
    calls.push_back({Op::CloseSocket, 0, 0, 0, 0, {}, -1});
    socket = 0;
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
bool RecordingPort::ConfirmTarget(const ConfirmationValues& values) {
    confirmations.push_back(values);
    return confirm;
}
void RecordingPort::DispatchEvents(int maxWaitMs) {
    askedWaits.push_back(maxWaitMs);
    // As a window's pump: a short pass, never longer than asked.
    now += std::min(maxWaitMs, kPumpWaitMs);
    ++dispatches;
    if (onDispatch) {
        onDispatch();
    }
}

}  // namespace vexil::test
