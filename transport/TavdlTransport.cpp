#include "transport/TavdlTransport.h"

#include "protocol/Socket.h"
#include "tavdl/tavdl.h"

namespace vexil {

namespace {

TAVDL_ADDR* Prepared(const Call& call) {
    ApplyCallSetup(call.target, call.setup);
    return &call.target;
}

// The library takes buffers as a length and an untyped pointer; it only reads the data. The
// engine's buffers are a few hundred bytes, well within the ABI's `unsigned long`.
unsigned long Size(std::size_t size) {
    return static_cast<unsigned long>(size);
}
void* Bytes(Transport::DataSpan data) {
    return const_cast<std::uint8_t*>(data.data());
}

}  // namespace

int TavdlTransport::VantrelGetVersion(const Call& call, ReplySpan reply) {
    return TavDL_Vantrel_GetVersion(Prepared(call), call.window, Size(reply.size()), reply.data());
}
int TavdlTransport::BrambleGetVersion(const Call& call, ReplySpan reply) {
    return TavDL_Bramble_GetVersion(Prepared(call), call.window, Size(reply.size()), reply.data());
}
int TavdlTransport::BrambleJampEprom(const Call& call, ReplySpan reply) {
    return TavDL_Bramble_JampEprom(Prepared(call), call.window, Size(reply.size()), reply.data());
}
int TavdlTransport::OpenSocket(const Call& call, unsigned int& socket) {
    return TavDL_OpenSocket(Prepared(call), &socket);
}
int TavdlTransport::DownloadConnection(const Call& call, ReplySpan reply, unsigned int& socket) {
    return TavDL_Download_Connection(Prepared(call), call.window, Size(reply.size()), reply.data(),
                                     &socket);
}
int TavdlTransport::DownloadEraseFlash(const Call& call, ReplySpan reply, unsigned int& socket) {
    return TavDL_Download_EraseFlash(Prepared(call), call.window, Size(reply.size()), reply.data(),
                                     &socket);
}
int TavdlTransport::DownloadSendData(const Call& call, DataSpan data, ReplySpan reply,
                                     unsigned int& socket) {
    return TavDL_Download_SendData(Prepared(call), call.window, Size(data.size()), Bytes(data),
                                   Size(reply.size()), reply.data(), &socket);
}
int TavdlTransport::DownloadFinish(const Call& call, DataSpan data, ReplySpan reply,
                                   unsigned int& socket) {
    return TavDL_Download_Finish(Prepared(call), call.window, Size(data.size()), Bytes(data),
                                 Size(reply.size()), reply.data(), &socket);
}
void TavdlTransport::CloseSocket(unsigned int& socket) {
    TavDL_CloseSocket(&socket);
}

std::size_t TavdlTransport::LastReplyLength() {
    return TavDL_LastReplyLength();
}

bool TavdlTransport::StartSockets() {
    return net::UniqueSocket(net::Open(net::Kind::kDatagram)).Valid();
}

void TavdlTransport::SetWaitHook(void (*hook)(void* window)) {
    hook_ = hook;
    TavDL_SetWaitHook(hook);
}

void TavdlTransport::SetWaitSlice(int milliseconds) {
    TavDL_SetWaitSlice(static_cast<unsigned long>(milliseconds < 0 ? 0 : milliseconds));
}

namespace {

int OnVersionReply(void* context, unsigned long index, int result, const void* reply,
                   unsigned long length) {
    const auto& onReply = *static_cast<const TavdlTransport::VersionReply*>(context);
    return onReply(index, result, {static_cast<const std::uint8_t*>(reply), length}) ? 1 : 0;
}

// The library runs one hook with one window argument: for a query that wants its slices too, the
// hook set is run through this one, with the query's window, and the slice's function after it.
struct SliceHook {
    void (*hook)(void* window);
    void* window;
    const std::function<void()>* onSlice;
};

void RunSlice(void* context) {
    const auto& slice = *static_cast<const SliceHook*>(context);
    if (slice.hook != nullptr) {
        slice.hook(slice.window);
    }
    (*slice.onSlice)();
}

}  // namespace

int TavdlTransport::QueryVersions(const ManyQueries& queries, const VersionReply& onReply,
                                  Reason& reason) {
    SliceHook slice{hook_, queries.window, &queries.onSlice};
    void* window = queries.window;
    if (queries.onSlice) {
        TavDL_SetWaitHook(&RunSlice);
        window = &slice;
    }
    const int swept = TavDL_QueryVersions(
        queries.targets.data(), static_cast<unsigned long>(queries.targets.size()),
        queries.query == VersionQuery::kBramble ? TAVDL_QUERY_BRAMBLE : TAVDL_QUERY_VANTREL,
        static_cast<unsigned long>(queries.inFlight), window, queries.stop, &OnVersionReply,
        const_cast<VersionReply*>(&onReply));
    if (queries.onSlice) {
        TavDL_SetWaitHook(hook_);
    }
    if (swept < 0) {
        // The library fails the call when it cannot open or wait on its sockets (the records
        // the engine hands it are always TCP/IP ones): the system's last error says why.
        reason = net::LastErrorReason();
    }
    return swept;
}

}  // namespace vexil
