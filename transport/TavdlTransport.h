// The engine's transport over the tavdl library's C functions, with the library's two other
// services the program needs at start-up: the socket check and the wait hook. Each call writes
// its set-up into the record and hands the spans to the library as pointer and length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/ModelTable.h"
#include "engine/Transport.h"

namespace vexil {

class TavdlTransport final : public Transport {
  public:
    int VantrelGetVersion(const Call& call, ReplySpan reply) override;
    int BrambleGetVersion(const Call& call, ReplySpan reply) override;
    int BrambleJampEprom(const Call& call, ReplySpan reply) override;
    int OpenSocket(const Call& call, unsigned int& socket) override;
    int DownloadConnection(const Call& call, ReplySpan reply, unsigned int& socket) override;
    int DownloadEraseFlash(const Call& call, ReplySpan reply, unsigned int& socket) override;
    int DownloadSendData(const Call& call, DataSpan data, ReplySpan reply,
                         unsigned int& socket) override;
    int DownloadFinish(const Call& call, DataSpan data, ReplySpan reply,
                       unsigned int& socket) override;
    void CloseSocket(unsigned int& socket) override;
    std::size_t LastReplyLength() override;
    bool StartSockets() override;
    void SetWaitHook(void (*hook)(void* window)) override;
    // How often, at most, the hook runs while a call waits; 0 is the library's own slice.
    void SetWaitSlice(int milliseconds);

    int QueryVersions(const ManyQueries& queries, const VersionReply& onReply,
                      Reason& reason) override;

  private:
    void (*hook_)(void* window) = nullptr;  // the hook last set, given back after a scan's
};

}  // namespace vexil
