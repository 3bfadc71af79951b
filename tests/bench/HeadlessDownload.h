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
        engine.target = target_.get();
        target_->mode = TAVDL_MODE_TCP_CONNECTION;
        target_->waitSeconds = 10;
        SetInetAddress(*target_, Ipv4Address(127, 0, 0, 1));
        SetInetPort(*target_, static_cast<std::uint16_t>(downloadPort));
        std::uint8_t reply[512];
        ready_ = transport_.OpenSocket(target_.get(), &engine.downloadSocket) != 0 &&
                 transport_.DownloadConnection(target_.get(), nullptr, 512, reply,
                                               &engine.downloadSocket) == 0 &&
                 transport_.DownloadEraseFlash(target_.get(), nullptr, 512, reply,
                                               &engine.downloadSocket) == 0;
    }
    ~HeadlessDownload() { transport_.CloseSocket(&engine.downloadSocket); }

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
