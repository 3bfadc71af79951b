// The nine transport operations and the version query of many addresses at once, as an
// interface, so that the download sequences and the scan run against the real library in the
// program (transport/TavdlTransport.h) and against a scripted fake in tests.
// The engine hands each call its target record and one call set-up; the transport writes the
// set-up into the record before it calls, so the engine never edits the record between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "engine/ModelTable.h"
#include "platform/Reason.h"
#include "tavdl/tavdl.h"

namespace vexil {

// What a call needs in the target record besides the address: its wait, and for some calls the
// mode, the TCP/IP port or the IPX socket number.
struct CallSetup {
    static constexpr int kKeep = -1;
    int waitSeconds;
    int mode = kKeep;             // kKeep: left as it is
    std::uint16_t port = 0;       // port of inetAddr; 0: left as it is
    std::uint16_t ipxSocket = 0;  // socket number of ipxAddr; 0: left as it is
};

// One library call: the engine's target record, the argument the wait hook receives while the
// call waits, and the set-up to write into the record first.
struct Call {
    TAVDL_ADDR& target;
    void* window;
    CallSetup setup;
};

class Transport {
  public:
    using ReplySpan = std::span<std::uint8_t>;
    using DataSpan = std::span<const std::uint8_t>;

    virtual ~Transport() = default;
    virtual int VantrelGetVersion(const Call& call, ReplySpan reply) = 0;
    virtual int BrambleGetVersion(const Call& call, ReplySpan reply) = 0;
    virtual int BrambleJampEprom(const Call& call, ReplySpan reply) = 0;
    virtual int OpenSocket(const Call& call, unsigned int& socket) = 0;
    virtual int DownloadConnection(const Call& call, ReplySpan reply, unsigned int& socket) = 0;
    virtual int DownloadEraseFlash(const Call& call, ReplySpan reply, unsigned int& socket) = 0;
    virtual int DownloadSendData(const Call& call, DataSpan data, ReplySpan reply,
                                 unsigned int& socket) = 0;
    virtual int DownloadFinish(const Call& call, DataSpan data, ReplySpan reply,
                               unsigned int& socket) = 0;
    virtual void CloseSocket(unsigned int& socket) = 0;
    // How many bytes the reply to the last call held (before any cut to the reply buffer), 0
    // when none came: the zero bytes behind a short reply are none of the print server's.
    virtual std::size_t LastReplyLength() = 0;

    // The transport layer's start-up: whether sockets can be used at all (the program shows
    // message 109 when not). WSAStartup's place on Windows.
    virtual bool StartSockets() = 0;
    // The function the library runs with its window argument while a call waits, so that the
    // window stays alive; nullptr removes it.
    virtual void SetWaitHook(void (*hook)(void* window)) = 0;

    // The version query of many TCP/IP print servers at once, each record set up for the query
    // as the single call takes it. `onReply` gets each ended exchange's record index, its
    // result (0 or 1, the reply's status; -1 for no answer) and the reply's bytes, and returns
    // true to ask that address again. The wait hook runs with `window`, and `onSlice` (when
    // set) after it; once *stop is non-zero the query ends. 0 when every address has ended, 1
    // when stopped, -1 when it could not run, with the system's reason in `reason`.
    struct ManyQueries {
        std::span<const TAVDL_ADDR> targets;
        VersionQuery query;
        std::size_t inFlight;
        void* window;
        const int* stop;
        std::function<void()> onSlice = {};
    };
    using VersionReply =
        std::function<bool(std::size_t index, int result, std::span<const std::uint8_t> reply)>;
    virtual int QueryVersions(const ManyQueries& queries, const VersionReply& onReply,
                              Reason& reason) = 0;
};

// Writes a call's set-up into the record, as every transport does before it calls.
void ApplyCallSetup(TAVDL_ADDR& target, const CallSetup& setup);

}  // namespace vexil
