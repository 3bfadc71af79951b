// One firmware download, TCP/IP or IPX: file check, version query, confirmation, download-mode
// switch, connection, erase, block transfer and finish, with the message pump that keeps the
// window alive and the cancel operation that stops it. The main dialog owns one engine; the
// engine reaches the window only through the dialog port and the print server only through the
// transport.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/DialogPort.h"
#include "engine/Transport.h"
#include "tavdl/tavdl.h"

namespace vexil {

// Results of a download sequence; the download command turns each into its messages.
namespace result {
inline constexpr int kSuccess = 0;
inline constexpr int kBlockRefused = -2;
inline constexpr int kBlockNotAcknowledged = -3;
inline constexpr int kCancelled = -5;
inline constexpr int kNotStarted = -6;
inline constexpr int kNoAnswerToModeSwitch = -9;
inline constexpr int kModeSwitchFailed = -10;
inline constexpr int kEraseFailed = -11;
inline constexpr int kFinishFailed = -12;
inline constexpr int kConnectionFailed = -13;
inline constexpr int kWrongModel = -14;
}  // namespace result

// String numbers the sequences show or put in the status line.
namespace msg {
inline constexpr int kCannotOpenFile = 106;
inline constexpr int kVersionFailed = 112;
inline constexpr int kVersionInvalid = 113;
inline constexpr int kConnectFailed = 115;
inline constexpr int kEraseError = 116;
inline constexpr int kDownloadStarts = 121;
inline constexpr int kDoNotSwitchOff = 122;
inline constexpr int kFileMissing = 57604;
inline constexpr int kFileUnreadable = 57612;
inline constexpr int kSocketNotOpened = 57616;
inline constexpr int kCancelledDuringQuery = 57624;
inline constexpr int kStatusModeSwitch = 57626;
inline constexpr int kStatusErasing = 57627;
inline constexpr int kStatusDownloading = 57628;
}  // namespace msg

inline constexpr int kProgressMax = 0x7FFF;
inline constexpr std::uint16_t kIpxDownloadSocket = 0x4100;
inline constexpr std::uint16_t kVantrelQueryPort = 5031;
inline constexpr std::uint16_t kBrambleQueryPort = 5021;
inline constexpr std::uint16_t kDownloadPort = 5001;
// How long one pass of the pump waits for window events when none are waiting.
inline constexpr int kPumpWaitMs = 5;

class DownloadEngine {
  public:
    DownloadEngine(Transport& transport, DialogPort& port) : transport_(transport), port_(port) {}

    int RunTcpDownload();
    int RunIpxDownload();

    // Identifies the chosen model's download file in the working directory (see DownloadFile.h).
    int IdentifyDownloadFile(int modelIndex);
    // Sends one open image file block by block: 0, -1 (reader failed; it closed the file), -2,
    // -3 or -5. The caller closes the file on every result but -1.
    int SendImageFile(std::FILE* file, std::uint32_t totalSize);
    // Advances the IPX sequence number and writes it, high byte first, into bytes 4 and 5.
    void NextIpxSequence(std::uint8_t* message);
    // Keeps the window alive for `seconds` whole seconds (between seconds and seconds + 1), or
    // until cancel is requested.
    void PumpMessages(int seconds);
    // The engine's part of the cancel command: close the download socket and raise the flag.
    // Ending the dialog is the window's business.
    void OnCancelCommand();

    static std::string FormatVersionBytes(std::uint8_t first, std::uint8_t second, bool withDot);

    // State the main dialog owns through its engine.
    TAVDL_ADDR* target = nullptr;  // not owned
    std::string fileModelCode;
    std::string fileVersion;
    std::string deviceVersion;
    std::string deviceModelCode;
    std::int32_t cancelRequested = 0;
    unsigned int downloadSocket = 0;
    void* mainWindowHandle = nullptr;
    struct {
        std::uint8_t high = 0;
        std::uint8_t low = 0;
    } ipxSequence;

  private:
    enum class Kind { Tcp, Ipx };
    int RunDownload(Kind kind);
    int QueryVersion(Kind kind, int model, std::uint8_t* reply);
    std::FILE* OpenImage(const char* name, std::uint32_t& size);
    int SendAndClose(std::FILE* file, std::uint32_t size);
    int Finish(Kind kind, std::uint8_t* reply);
    void EnableControls(std::initializer_list<int> ids, bool enabled);
    bool Cancelled() const { return cancelRequested != 0; }

    Transport& transport_;
    DialogPort& port_;
};

}  // namespace vexil
