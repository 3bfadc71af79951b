// The nine transport operations as an interface, so that the download sequences run against the
// real library in the program (transport/TavdlTransport.h) and against a scripted fake in tests.
#pragma once

#include "tavdl/tavdl.h"

namespace vexil {

class Transport {
  public:
    virtual ~Transport() = default;
    virtual int VantrelGetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                  void* reply) = 0;
    virtual int BrambleGetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                  void* reply) = 0;
    virtual int BrambleJampEprom(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                 void* reply) = 0;
    virtual int OpenSocket(TAVDL_ADDR* addr, unsigned int* socket) = 0;
    virtual int DownloadConnection(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                   void* reply, unsigned int* socket) = 0;
    virtual int DownloadEraseFlash(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                   void* reply, unsigned int* socket) = 0;
    virtual int DownloadSendData(TAVDL_ADDR* addr, void* window, unsigned long dataLength,
                                 void* data, unsigned long replySize, void* reply,
                                 unsigned int* socket) = 0;
    virtual int DownloadFinish(TAVDL_ADDR* addr, void* window, unsigned long dataLength, void* data,
                               unsigned long replySize, void* reply, unsigned int* socket) = 0;
    virtual void CloseSocket(unsigned int* socket) = 0;

    // The transport layer's start-up: whether sockets can be used at all (the program shows
    // message 109 when not). WSAStartup's place on Windows.
    virtual bool StartSockets() = 0;
    // The function the library runs with its window argument while a call waits, so that the
    // window stays alive; nullptr removes it.
    virtual void SetWaitHook(void (*hook)(void* window)) = 0;
};

}  // namespace vexil
