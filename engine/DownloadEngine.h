// One firmware download, TCP/IP or IPX: file check, version query, confirmation, download-mode
// switch, connection, erase, block transfer and finish, with the message pump that keeps the
// window alive and the cancel operation that stops it. The main dialog owns one engine; the
// engine reaches the window only through the dialog port and the print server only through the
// transport.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/DialogPort.h"
#include "engine/DownloadResult.h"
#include "engine/Transport.h"
#include "tavdl/tavdl.h"

namespace vexil {

inline constexpr int kProgressMax = 0x7FFF;
// SendImageFile's result when the record reader failed (it has shown its message and closed the
// file); its other results are those of DownloadResult.
inline constexpr int kTransferReadFailed = -1;
// How long one pass of the pump waits for window events when none are waiting.
inline constexpr int kPumpWaitMs = 5;

struct CallSetup;
struct RetriedCall;
struct TransportPolicy;

class DownloadEngine {
  public:
    DownloadEngine(Transport& transport, DialogPort& port) : transport_(transport), port_(port) {}

    DownloadResult RunTcpDownload();
    DownloadResult RunIpxDownload();
    // The version query alone, over TCP/IP or IPX, for an inventory: no download file is read
    // and nothing else is sent. kSuccess when the print server answered with a valid version
    // (deviceVersion and deviceModelCode hold it), kNotStarted when cancelled, and
    // kConnectionFailed when it gave no valid answer (the query has shown its message).
    DownloadResult RunVersionQuery(bool ipx);
    // The check of the download file alone, as a download over TCP/IP or IPX starts it:
    // kSuccess, or kNotStarted when the file is missing, not for the model or damaged (the
    // check has shown its messages). Nothing is sent.
    DownloadResult RunFileCheck(bool ipx);

    // Identifies the chosen model's download file in the working directory (see DownloadFile.h).
    int IdentifyDownloadFile(int modelIndex);
    // Sends one open image file block by block: 0, kTransferReadFailed (the reader closed the
    // file), kBlockRefused, kBlockNotAcknowledged or kCancelled. The caller closes the file on
    // every result but kTransferReadFailed.
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
    // A step of the sequence lets it go on (no value) or ends it with its result.
    using StepResult = std::optional<DownloadResult>;
    struct Run;
    using Step = StepResult (DownloadEngine::*)(Run&);
    static const Step kSteps[];

    DownloadResult RunDownload(const TransportPolicy& policy);
    // The steps, in the order the sequence takes them.
    StepResult Identify(Run& run);
    StepResult QueryVersion(Run& run);
    StepResult CheckModel(Run& run);
    StepResult Confirm(Run& run);
    StepResult Announce(Run& run);
    StepResult SwitchMode(Run& run);
    StepResult Wait(Run& run);
    StepResult OpenSocket(Run& run);
    StepResult Connect(Run& run);
    StepResult Erase(Run& run);
    StepResult Settle(Run& run);
    StepResult SendMainFile(Run& run);
    StepResult SendCompanionFile(Run& run);
    StepResult Finish(Run& run);
    StepResult RestoreControls(Run& run);

    enum class Attempts { kSucceeded, kExhausted, kCancelled };
    template <typename Call>
    Attempts Retry(const RetriedCall& step, std::uint8_t* reply, Call call);
    StepResult EndOfAttempts(Attempts attempts, int message, DownloadResult failed);
    void Prepare(const CallSetup& setup);
    // Opens, sends and closes one image file; no value when it does not open (message 106).
    std::optional<int> SendFile(const char* name);
    static const char* MainFileToSend(const Run& run);
    bool Cancelled() const { return cancelRequested != 0; }

    Transport& transport_;
    DialogPort& port_;
};

}  // namespace vexil
