// A scripted transport that records every call with the target record's fields at that moment,
// and a recorder of what the engine shows, in every role the engine reaches a front end through,
// that runs on a fake clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/DownloadRequest.h"
#include "engine/Ports.h"
#include "engine/Transport.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/Records.h"

namespace vexil::test {

enum class Op {
    VantrelVersion,
    BrambleVersion,
    JampEprom,
    OpenSocket,
    Connection,
    Erase,
    SendData,
    Finish,
    CloseSocket
};

struct Call {
    Op op;
    int mode;
    int waitSeconds;
    std::uint16_t port;
    std::uint16_t ipxSocket;
    Bytes data;                    // what SendData and Finish carried
    int replyByte0 = -1;           // the reply buffer's first byte when the call was made
    const void* window = nullptr;  // the wait hook's argument
    std::string modelCode = {};    // the model code the record expects
};

struct Reply {
    Reply(int r = 0, Bytes b = {}, std::function<void()> d = {})
        : result(r), bytes(std::move(b)), during(std::move(d)) {}
    int result = 0;
    Bytes bytes;                   // copied to the start of the reply buffer
    std::function<void()> during;  // runs inside the call, as the wait hook would
};

class ScriptedTransport : public Transport {
  public:
    // Replies queued per operation; when a queue is empty the call succeeds as a print server
    // that takes the download would answer.
    std::map<Op, std::deque<Reply>> script;
    std::vector<Call> calls;
    int closeCount = 0;

    void Queue(Op op, Reply reply, int times = 1) {
        for (int i = 0; i < times; ++i) {
            script[op].push_back(reply);
        }
    }
    std::vector<Call> CallsOf(Op op) const;
    std::vector<Op> Ops() const;

    int VantrelGetVersion(const vexil::Call& call, Transport::ReplySpan reply) override;
    int BrambleGetVersion(const vexil::Call& call, Transport::ReplySpan reply) override;
    int BrambleJampEprom(const vexil::Call& call, Transport::ReplySpan reply) override;
    int OpenSocket(const vexil::Call& call, unsigned int& socket) override;
    int DownloadConnection(const vexil::Call& call, Transport::ReplySpan reply,
                           unsigned int& socket) override;
    int DownloadEraseFlash(const vexil::Call& call, Transport::ReplySpan reply,
                           unsigned int& socket) override;
    int DownloadSendData(const vexil::Call& call, DataSpan data, Transport::ReplySpan reply,
                         unsigned int& socket) override;
    int DownloadFinish(const vexil::Call& call, DataSpan data, Transport::ReplySpan reply,
                       unsigned int& socket) override;
    void CloseSocket(unsigned int& socket) override;
    // The length of the last call's scripted reply bytes.
    std::size_t LastReplyLength() override { return lastReplyLength; }
    bool StartSockets() override { return socketsWork; }
    void SetWaitHook(void (*hook)(void*)) override { waitHook = hook; }
    // Plays each address's exchanges in turn, from `manyReplies` (result -1: no answer), a valid
    // reply as in a single query once its queue is empty. A slice of the wait (`onSlice`) runs
    // before each reply, the reply's `during` as it arrives, and *stop is tested after it.
    int QueryVersions(const ManyQueries& queries, const VersionReply& onReply,
                      Reason& reason) override;

    // Each address's scripted replies, by index.
    std::map<std::size_t, std::deque<Reply>> manyReplies;
    // Every exchange of the many-address query, with the record as it was sent.
    struct Exchange {
        std::size_t index;
        int mode;
        int waitSeconds;
        std::uint16_t port;
        std::string address;  // dotted
        const void* window;
    };
    std::vector<Exchange> exchanges;
    std::vector<std::size_t> manyInFlight;  // each call's in-flight limit
    Reason manyFailure;                     // not empty: the call cannot run, for this reason

    bool socketsWork = true;
    void (*waitHook)(void*) = nullptr;
    std::size_t lastReplyLength = 0;

  private:
    // Records the call with the record's fields once its set-up is written, then answers it.
    int Answer(Op op, const vexil::Call& call, Transport::ReplySpan reply, DataSpan data = {});
};

class RecordingPort : public MessageSink,
                      public ProgressDisplay,
                      public Confirmer,
                      public EventPump {
  public:
    void ShowMessage(int stringId, Icon icon) override;
    void SetStatusText(int stringId) override;
    void ShowStatus(bool visible) override;
    void DownloadStarted() override { events.push_back("started"); }
    void SetProgressRange(int low, int high) override;
    void AdvanceProgress(int delta) override;
    void SetProgressPosition(int position) override;
    bool ConfirmTarget(const ConfirmationValues& values) override;
    void DispatchEvents(int maxWaitMs) override;
    std::int64_t NowMilliseconds() override { return now; }
    void* WindowHandle() override { return this; }

    std::vector<RecordedMessage> messages;
    std::vector<std::string> statusLog;  // "text 57626", "show", "hide"
    // "started" when the engine announces the switch to download mode.
    std::vector<std::string> events;
    std::vector<int> progressDeltas;
    std::vector<int> progressPositions;
    int progress = 0;
    int progressHigh = 0;
    bool confirm = true;
    std::vector<ConfirmationValues> confirmations;
    std::int64_t now = 5'000'000;
    int dispatches = 0;
    std::vector<int> askedWaits;  // the bound of each DispatchEvents
    std::function<void()> onDispatch;
    std::function<void(int)> onMessage;
};

}  // namespace vexil::test
