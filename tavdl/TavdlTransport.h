// The engine's transport over the tavdl library's C functions, and the library's two other
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
};

// The socket start-up of the transport layer: whether sockets can be used at all (the program
// shows message 109 when not). WSAStartup's place on Windows.
bool StartSockets();

// Registers the function that the library runs with its window argument while a call waits,
// so that the window stays alive; nullptr removes it.
void RegisterWaitHook(void (*hook)(void* window));

}  // namespace vexil
