// One firmware download, TCP/IP or IPX: the address check, file check, version query (and, when
// asked, the end of the run for a print server that has the file's version already),
// confirmation, download-mode switch, connection, erase, block transfer and finish, with the
// message pump that keeps the window alive and the cancel operation that stops it. A front end
// hands the engine a request and gets an outcome; the engine makes and owns the target record
// and the download socket, reaches the front end only through its narrow roles (engine/Ports.h)
// and the print server only through the transport.
#pragma once

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine/DownloadRequest.h"
#include "engine/DownloadResult.h"
#include "engine/Ports.h"
#include "engine/TargetRecord.h"
#include "engine/Transport.h"
#include "engine/VersionQuery.h"
#include "format/DevicePayloads.h"
#include "platform/PinnedFile.h"

namespace vexil {

inline constexpr int kProgressMax = 0x7FFF;
// SendImageFile's result when the record reader failed (its message is shown and the file
// closed); its other results are those of DownloadResult.
inline constexpr int kTransferReadFailed = -1;
// How long one pass of a window's pump waits for events when none are waiting, while the engine
// waits: the window looks at the cancel flag that often. The engine's waits ask each pass for
// the time they have left; a pump returns by then, a window's after this pass at most.
inline constexpr int kPumpWaitMs = 5;

struct RetriedCall;
struct TransportPolicy;

// Whether the version a print server reports (1.10) is the version of a download file (01.10):
// each is two hexadecimal numbers around a dot, compared as numbers, so that leading zeros and
// case do not matter. Text that is no such version is the version of nothing.
bool SameVersion(std::string_view device, std::string_view file);
// The one form in which every version is written for people and scripts alike, whether a print
// server reported it (1.10) or a download file carries it (01.10): as the confirmation shows a
// print server's, the first number in lowercase hexadecimal without leading zeros, a dot, the
// second as two lowercase hexadecimal digits (01.10 and 1.10 give 1.10, 0A.0F gives a.0f).
// Empty stays empty, and other text that is no version is returned as it is.
std::string ShownVersion(std::string_view version);

// What the reply to a version query says, `length` bytes as the print server sent them: false
// for one that is not a valid version reply (payload::IsValidVersionReply), else its firmware
// version (1.10) and model code (aa01), as the download reports them.
bool ReadVersionReply(VersionQuery query, const std::uint8_t* reply, std::size_t length,
                      std::string& version, std::string& modelCode);

class DownloadEngine {
  public:
    DownloadEngine(Transport& transport, const EnginePorts& ports);
    // A front end that plays every role with one object.
    template <typename AllRoles>
    requires std::derived_from<AllRoles, MessageSink> &&
        std::derived_from<AllRoles, ProgressDisplay> && std::derived_from<AllRoles, Confirmer> &&
        std::derived_from<AllRoles, EventPump>
        DownloadEngine(Transport& transport, AllRoles& all)
        : DownloadEngine(transport, EnginePorts{all, all, all, all}) {}
    ~DownloadEngine();
    DownloadEngine(const DownloadEngine&) = delete;
    DownloadEngine& operator=(const DownloadEngine&) = delete;

    // The whole download. A refused address ends it at once with `refused` set and its message
    // shown; otherwise the outcome holds the sequence's result, which the front end reports. The
    // socket is closed on every path.
    DownloadOutcome Run(const DownloadRequest& request);
    // The address checks a download starts with, in the order the user meets them (the one
    // place they are made): true when the request is refused, its message (if it has one)
    // shown. A window asks before it takes its download button and holds the octets to their
    // fields' ranges, and then runs the request with RunChecked.
    bool Refuses(const DownloadRequest& request);
    // The whole download of a request that Refuses let through (a window's, its octets since
    // held to their ranges, which refuses nothing that was let through): Run without the checks.
    DownloadOutcome RunChecked(const DownloadRequest& request);
    // The version query alone, for an inventory: no download file is read and nothing else is
    // sent. kSuccess when the print server answered with a valid version, kNotStarted when
    // cancelled or the model is unknown, and kConnectionFailed when it gave no valid answer
    // (the query has shown its message). `asDownload`: a print server that answered is checked
    // for its model as a download checks it (kWrongModel), so that a rehearsal of a download
    // fails where the download would, before anything else is sent.
    DownloadOutcome QueryVersion(const DownloadRequest& request, bool asDownload = false);
    // The check of the download file alone, as a download of the request starts it: kSuccess
    // with the file's version and sums, or kNotStarted when the file is missing, not for the
    // model, damaged or refused by the request's sums (the check has shown its messages, but
    // for the sums', which the outcome names). Nothing is sent.
    DownloadOutcome CheckFile(const DownloadRequest& request);
    // The version query of many TCP/IP addresses at once, each asked as QueryVersion asks one
    // (engine/VersionQuery.cpp): nothing else is sent, and no message is shown; each address's
    // answer holds what its query alone would have shown. The cancel command ends it.
    ScanOutcome Scan(const ScanRequest& request);

    // The cancel command: closes the download socket, so that a call waiting on it returns, and
    // raises the flag that every step tests. Safe from the transport's wait hook and from an
    // event that a signal raised, while a download runs or not.
    void Cancel();
    bool CancelRequested() const { return cancelRequested_; }

    // The block transfer alone, over a connection made outside the engine, for the benchmarks
    // and the transfer's own tests: the engine takes `socket`, and the request's target with
    // the set-up of the call that made the connection.
    void AdoptConnection(const DownloadRequest& request, const CallSetup& connection,
                         unsigned int socket);
    // Sends one open image file block by block: 0, kTransferReadFailed (the reader closed the
    // file), kBlockRefused, kBlockNotAcknowledged or kCancelled. The caller closes the file on
    // every result but kTransferReadFailed.
    int SendImageFile(std::FILE* file, std::uint32_t totalSize);
    // The IPX sequence number last used; the next message carries the one after it.
    void SetIpxSequence(std::uint16_t last) { ipxSequence_ = last; }
    // Advances the IPX sequence number and writes it, high byte first, into bytes 4 and 5.
    void NextIpxSequence(std::uint8_t* message);
    // Keeps the window alive for `seconds` whole seconds (between seconds and seconds + 1), or
    // until cancel is requested.
    void PumpMessages(int seconds);

    static std::string FormatVersionBytes(std::uint8_t first, std::uint8_t second, bool withDot);

  private:
    // A step of the sequence lets it go on (no value) or ends it with its result.
    using StepResult = std::optional<DownloadResult>;

    // The sequence's steps, from Identify on, for the request Begin took.
    DownloadOutcome RunSteps();
    struct RunState;
    using Step = StepResult (DownloadEngine::*)(RunState&);
    static const Step kSteps[];

    // Starts a run of `request`: the cancel flag lowered, the record filled, the outcome empty.
    void Begin(const DownloadRequest& request);
    DownloadOutcome End(DownloadResult result);
    // The steps, in the order the sequence takes them.
    StepResult Identify(RunState& run);
    StepResult QueryVersion(RunState& run);
    StepResult CheckModel(RunState& run);
    StepResult SkipIfCurrent(RunState& run);
    StepResult Confirm(RunState& run);
    StepResult Announce(RunState& run);
    StepResult SwitchMode(RunState& run);
    StepResult Wait(RunState& run);
    StepResult OpenSocket(RunState& run);
    StepResult Connect(RunState& run);
    StepResult Erase(RunState& run);
    StepResult Settle(RunState& run);
    StepResult SendMainFile(RunState& run);
    StepResult SendCompanionFile(RunState& run);
    StepResult Finish(RunState& run);
    StepResult HideStatus(RunState& run);

    enum class Attempts { kSucceeded, kExhausted, kCancelled };
    template <typename Attempt>
    Attempts Retry(const RetriedCall& step, std::uint8_t* reply, Attempt attempt);
    StepResult EndOfAttempts(Attempts attempts, int message, DownloadResult failed);
    Call CallWith(const CallSetup& setup) { return {*target_, window_, setup}; }
    // Every message of a run goes through here into the outcome, then to the front end.
    void ShowMessage(int stringId, Icon icon);
    // Reads the model's files once into private copies (platform/PinnedFile.h), which the
    // check, the sums and the transfer all read: what was checked is what is sent.
    void PinFiles(const ModelTraits& model);
    StepResult CheckSums(const ModelTraits& model, const TransportPolicy& policy);
    // Sends one pinned image file; no value when there is none (message 106).
    std::optional<int> SendFile(const PinnedFile* pinned);
    static const char* MainFileToSend(const RunState& run);
    static const char* MainFileToSend(const ModelTraits& model, const TransportPolicy& policy);
    bool Cancelled() const { return cancelRequested_; }

    Transport& transport_;
    EnginePorts ports_;
    TargetRecordPtr target_;
    unsigned int socket_ = 0;
    void* window_ = nullptr;
    std::atomic<bool> cancelRequested_{false};
    // The scan's stop flag, as the transport's query of many addresses reads it between its
    // waits: raised with cancelRequested_, on the thread that runs the scan (its wait hook).
    int scanStop_ = 0;
    const TransportPolicy* policy_;
    DownloadRequest request_;
    DownloadOutcome outcome_;
    // The model's main file and companion file as a run read them, held until it ends.
    PinnedFile pinnedMain_;
    PinnedFile pinnedCompanion_;
    std::uint16_t ipxSequence_ = 0;
};

}  // namespace vexil
