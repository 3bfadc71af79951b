// The engine's transport over the tavdl library's C functions, with the library's two other
// services the program needs at start-up: the socket check and the wait hook.
#pragma once

#include "engine/Transport.h"

namespace vexil {

class TavdlTransport final : public Transport {
  public:
    int VantrelGetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                          void* reply) override;
    int BrambleGetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                          void* reply) override;
    int BrambleJampEprom(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                         void* reply) override;
    int OpenSocket(TAVDL_ADDR* addr, unsigned int* socket) override;
    int DownloadConnection(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply,
                           unsigned int* socket) override;
    int DownloadEraseFlash(TAVDL_ADDR* addr, void* window, unsigned long replySize, void* reply,
                           unsigned int* socket) override;
    int DownloadSendData(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                         unsigned long replySize, void* reply, unsigned int* socket) override;
    int DownloadFinish(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                       unsigned long replySize, void* reply, unsigned int* socket) override;
    void CloseSocket(unsigned int* socket) override;
    bool StartSockets() override;
    void SetWaitHook(void (*hook)(void* window)) override;
};

}  // namespace vexil
