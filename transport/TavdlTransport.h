// The engine's transport over the tavdl library's C functions, with the library's two other
// services the program needs at start-up: the socket check and the wait hook. Each call writes
// its set-up into the record and hands the spans to the library as pointer and length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

    // The version query of many TCP/IP print servers at once, over the library's one call for
    // it (no part of the interface above, which has one target a call): `onReply` gets each
    // ended exchange's record index, result (0 or 1, the reply's status; -1 for no answer) and
    // reply bytes, and returns true to ask that address again. The wait hook runs with `window`;
    // once *stop is non-zero the sweep ends. 0 when every address has ended, 1 when stopped, -1
    // when it could not run.
    using VersionReply =
        std::function<bool(std::size_t index, int result, std::span<const std::uint8_t> reply)>;
    static int QueryVersions(std::span<const TAVDL_ADDR> targets, VersionQuery query,
                             std::size_t inFlight, void* window, const int* stop,
                             const VersionReply& onReply);
};

}  // namespace vexil
