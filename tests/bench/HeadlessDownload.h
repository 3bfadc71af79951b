// The engine's block transfer over the real transport library, with no window: a download
// connection to a simulator on loopback, opened and erased, ready for SendImageFile.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/DownloadEngine.h"
#include "engine/TargetRecord.h"
#include "tests/support/Quiet.h"
#include "transport/TavdlTransport.h"

namespace vexil::bench {

class HeadlessDownload {
  public:
    explicit HeadlessDownload(int downloadPort) {
        SetInetAddress(*target_, Ipv4Address(127, 0, 0, 1));
        const Call call{*target_,
                        nullptr,
                        {10, TAVDL_MODE_TCP_CONNECTION, static_cast<std::uint16_t>(downloadPort)}};
        std::uint8_t reply[512];
        unsigned int socket = 0;
        ready_ = transport_.OpenSocket(call, socket) != 0 &&
                 transport_.DownloadConnection(call, reply, socket) == 0 &&
                 transport_.DownloadEraseFlash(call, reply, socket) == 0;
        // The engine takes the connection over and closes it when it goes.
        DownloadRequest request;
        request.octets = {"127", "0", "0", "1"};
        engine.AdoptConnection(request, call.setup, socket);
    }

    bool Ready() const { return ready_; }

    // Sends the whole download file; the transfer's result.
    int Send(const std::string& path) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        const int sent = engine.SendImageFile(
            file, static_cast<std::uint32_t>(std::filesystem::file_size(path)));
        if (sent != -1) {
            std::fclose(file);
        }
        return sent;
    }

  private:
    TavdlTransport transport_;
    test::HeadlessPort port_;
    TargetRecordPtr target_ = CreateTargetRecord();
    bool ready_ = false;

  public:
    DownloadEngine engine{transport_, port_};
};

}  // namespace vexil::bench
