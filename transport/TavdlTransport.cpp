#include "transport/TavdlTransport.h"

#include <sys/socket.h>

#include "protocol/UniqueFd.h"
#include "tavdl/tavdl.h"

namespace vexil {

int TavdlTransport::VantrelGetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                      void* reply) {
    return TavDL_Vantrel_GetVersion(addr, window, replySize, reply);
}
int TavdlTransport::BrambleGetVersion(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                      void* reply) {
    return TavDL_Bramble_GetVersion(addr, window, replySize, reply);
}
int TavdlTransport::BrambleJampEprom(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                     void* reply) {
    return TavDL_Bramble_JampEprom(addr, window, replySize, reply);
}
int TavdlTransport::OpenSocket(TAVDL_ADDR* addr, unsigned int* socket) {
    return TavDL_OpenSocket(addr, socket);
}
int TavdlTransport::DownloadConnection(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                       void* reply, unsigned int* socket) {
    return TavDL_Download_Connection(addr, window, replySize, reply, socket);
}
int TavdlTransport::DownloadEraseFlash(TAVDL_ADDR* addr, void* window, unsigned long replySize,
                                       void* reply, unsigned int* socket) {
    return TavDL_Download_EraseFlash(addr, window, replySize, reply, socket);
}
int TavdlTransport::DownloadSendData(TAVDL_ADDR* addr, void* window, unsigned long dataLength,
                                     void* data, unsigned long replySize, void* reply,
                                     unsigned int* socket) {
    return TavDL_Download_SendData(addr, window, dataLength, data, replySize, reply, socket);
}
int TavdlTransport::DownloadFinish(TAVDL_ADDR* addr, void* window, unsigned long dataLength,
                                   void* data, unsigned long replySize, void* reply,
                                   unsigned int* socket) {
    return TavDL_Download_Finish(addr, window, dataLength, data, replySize, reply, socket);
}
void TavdlTransport::CloseSocket(unsigned int* socket) {
    TavDL_CloseSocket(socket);
}

bool TavdlTransport::StartSockets() {
    return tavdl::UniqueFd(::socket(AF_INET, SOCK_DGRAM, 0)).Valid();
}

void TavdlTransport::SetWaitHook(void (*hook)(void* window)) {
    TavDL_SetWaitHook(hook);
}

}  // namespace vexil
