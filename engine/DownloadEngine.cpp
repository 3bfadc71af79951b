#include "engine/DownloadEngine.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "engine/ModelTable.h"
#include "engine/ProgramPayloads.h"
#include "engine/TargetRecord.h"
#include "engine/TransportPolicy.h"
#include "engine/VersionQuery.h"
#include "format/DownloadFileReader.h"
#include "platform/WidePath.h"

namespace vexil {

using payload::kReplySize;

// What one download keeps from step to step.
struct DownloadEngine::RunState {
    const TransportPolicy& policy;
    const ModelTraits* model = nullptr;  // known from the file check on
    std::uint8_t reply[kReplySize] = {};
};

// The sequence as the user meets it, over both transports; the policy tables hold every
// difference between the two.
const DownloadEngine::Step DownloadEngine::kSteps[] = {
    &DownloadEngine::Identify,
    &DownloadEngine::QueryVersion,
    &DownloadEngine::CheckModel,
    &DownloadEngine::SkipIfCurrent,
    &DownloadEngine::Confirm,
    &DownloadEngine::Announce,
    &DownloadEngine::SwitchMode,
    &DownloadEngine::Wait,
    &DownloadEngine::OpenSocket,
    &DownloadEngine::Connect,
    &DownloadEngine::Wait,
    &DownloadEngine::Erase,
    &DownloadEngine::Settle,
    &DownloadEngine::SendMainFile,
    &DownloadEngine::SendCompanionFile,
    &DownloadEngine::Finish,
    &DownloadEngine::HideStatus,
};

namespace {

// A version's two numbers: hexadecimal digits around a dot, each number at most 0xFF.
std::optional<std::array<unsigned, 2>> ReadVersion(std::string_view text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    std::array<unsigned, 2> numbers{};
    const std::string_view parts[] = {text.substr(0, dot), text.substr(dot + 1)};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const char* end = parts[i].data() + parts[i].size();
        const auto [past, error] = std::from_chars(parts[i].data(), end, numbers[i], 16);
        if (error != std::errc() || past != end || numbers[i] > 0xFF) {
            return std::nullopt;
        }
    }
    return numbers;
}

}  // namespace

bool SameVersion(std::string_view device, std::string_view file) {
    const auto deviceNumbers = ReadVersion(device);
    return deviceNumbers && deviceNumbers == ReadVersion(file);
}

std::string ShownVersion(std::string_view version) {
    const auto numbers = ReadVersion(version);
    if (!numbers) {
        return std::string(version);
    }
    return DownloadEngine::FormatVersionBytes(static_cast<std::uint8_t>((*numbers)[0]),
                                              static_cast<std::uint8_t>((*numbers)[1]), true);
}

bool ReadVersionReply(VersionQuery query, const std::uint8_t* reply, std::size_t length,
                      std::string& version, std::string& modelCode) {
    if (!payload::IsValidVersionReply(query, reply, length)) {
        return false;
    }
    const std::uint8_t* firmware = reply + payload::kFirmwareAt;
    const std::uint8_t* code = reply + payload::kModelCodeAt;
    version = DownloadEngine::FormatVersionBytes(firmware[0], firmware[1], true);
    modelCode = DownloadEngine::FormatVersionBytes(code[0], code[1], false);
    if (modelCode.size() < 4) {
        modelCode = "0" + modelCode;
    }
    return true;
}

DownloadEngine::DownloadEngine(Transport& transport, const EnginePorts& ports)
    : transport_(transport), ports_(ports), target_(CreateTargetRecord()), policy_(&kTcpPolicy) {}

DownloadEngine::~DownloadEngine() {
    if (socket_ != 0) {
        transport_.CloseSocket(socket_);
    }
}

void DownloadEngine::Begin(const DownloadRequest& request) {
    cancelRequested_ = false;
    request_ = request;
    outcome_ = DownloadOutcome{};
    policy_ = &PolicyFor(request.ipx);
    window_ = ports_.pump.WindowHandle();
    FillTargetRecord(request, *target_);
}

DownloadOutcome DownloadEngine::End(DownloadResult result) {
    if (socket_ != 0) {
        transport_.CloseSocket(socket_);
    }
    pinnedMain_.Release();
    pinnedCompanion_.Release();
    outcome_.result = result;
    return std::move(outcome_);
}

DownloadOutcome DownloadEngine::Run(const DownloadRequest& request) {
    Begin(request);
    if (Refuses(request)) {
        outcome_.refused = true;
        return End(result::kNotStarted);
    }
    return RunSteps();
}

bool DownloadEngine::Refuses(const DownloadRequest& request) {
    const int refusal = EntryRefusal(request);
    if (refusal != 0 && refusal != kSilentRefusal) {
        ShowMessage(refusal, Icon::Error);
    }
    return refusal != 0;
}

DownloadOutcome DownloadEngine::RunChecked(const DownloadRequest& request) {
    Begin(request);
    return RunSteps();
}

DownloadOutcome DownloadEngine::RunSteps() {
    RunState run{*policy_};
    DownloadResult result = result::kSuccess;
    for (const Step step : kSteps) {
        if (const StepResult end = (this->*step)(run)) {
            result = *end;
            break;
        }
    }
    return End(result);
}

DownloadOutcome DownloadEngine::QueryVersion(const DownloadRequest& request, bool asDownload) {
    Begin(request);
    RunState run{*policy_};
    run.model = FindModel(request.modelIndex);
    if (run.model == nullptr) {
        return End(result::kNotStarted);
    }
    if (const StepResult end = QueryVersion(run)) {
        return End(*end);
    }
    // A print server that gave no valid reply fails the query already; one that did is
    // checked for its model as a download checks it.
    if (const StepResult end =
            asDownload && !outcome_.deviceVersion.empty() ? CheckModel(run) : std::nullopt) {
        return End(*end);
    }
    return End(outcome_.deviceVersion.empty() ? result::kConnectionFailed : result::kSuccess);
}

DownloadOutcome DownloadEngine::CheckFile(const DownloadRequest& request) {
    Begin(request);
    RunState run{*policy_};
    const StepResult end = Identify(run);
    return End(end.value_or(result::kSuccess));
}

void DownloadEngine::AdoptConnection(const DownloadRequest& request, const CallSetup& connection,
                                     unsigned int socket) {
    Begin(request);
    ApplyCallSetup(*target_, connection);
    socket_ = socket;
}

void DownloadEngine::ShowMessage(int stringId, Icon icon) {
    outcome_.messages.push_back({stringId, icon});
    ports_.messages.ShowMessage(stringId, icon);
}

std::string DownloadEngine::FormatVersionBytes(std::uint8_t first, std::uint8_t second,
                                               bool withDot) {
    char text[16];
    std::snprintf(text, sizeof text, withDot ? "%x.%02x" : "%x%02x", first, second);
    return text;
}

template <typename Attempt>
DownloadEngine::Attempts DownloadEngine::Retry(const RetriedCall& step, std::uint8_t* reply,
                                               Attempt attempt) {
    for (int i = 0; i < step.attempts; ++i) {
        if (Cancelled()) {
            return Attempts::kCancelled;
        }
        if (attempt(CallWith(step.setup)) == 0) {
            return Attempts::kSucceeded;
        }
        if (step.clearReplyAfterFailure) {
            std::memset(reply, 0, kReplySize);
        }
    }
    return Attempts::kExhausted;
}

// The download file of the model, before any traffic with the print server.
DownloadEngine::StepResult DownloadEngine::Identify(RunState& run) {
    const int model = request_.modelIndex;
    const ModelTraits* traits = FindModel(model);
    if (traits != nullptr) {
        PinFiles(*traits);
        if (const StepResult end = CheckSums(*traits, run.policy)) {
            return end;
        }
    }
    const Identification found =
        traits == nullptr
            ? IdentifyDownloadFile(model)
            : IdentifyDownloadStream(model, pinnedMain_.Open(), pinnedCompanion_.Pinned(),
                                     traits->TwoFiles() ? traits->companionFile : "");
    if (found.message != 0) {
        ShowMessage(found.message, Icon::Error);
    }
    outcome_.fileVersion = found.identity.version;
    // The target record carries the model code that the file must have, once a file was found
    // to carry one.
    if (!found.identity.modelCode.empty()) {
        SetModelCode(*target_, traits->modelCode);
    }
    if (found.result != 0 || found.identity.modelCode != traits->modelCode) {
        ShowMessage(msg::kFileMissing, Icon::Warning);
        return result::kNotStarted;
    }
    run.model = traits;
    // Every block of the files to be sent is read once before anything is sent: a file that
    // would fail halfway through its transfer must not cost the print server the firmware it
    // has, for its flash is erased before the transfer. The reader's fault is shown first.
    for (const char* file : {MainFileToSend(run), run.model->companionFile}) {
        if (file == nullptr || *file == '\0') {
            continue;
        }
        const PinnedFile& pinned =
            file == run.model->companionFile ? pinnedCompanion_ : pinnedMain_;
        if (const int checked = VerifyImageStream(pinned.Open(), run.policy.blockLimit);
            checked != 0) {
            if (const int message = ReaderMessage(checked); message != 0) {
                ShowMessage(message, Icon::Error);
            }
            ShowMessage(msg::kFileMissing, Icon::Warning);
            return result::kNotStarted;
        }
    }
    return std::nullopt;
}

void DownloadEngine::PinFiles(const ModelTraits& model) {
    FileRefusal refusal;
    // A file that cannot be pinned stays unpinned: the check then finds it missing.
    pinnedMain_.Pin(model.mainFile, refusal);
    outcome_.fileSha256 = pinnedMain_.Sha256Hex();
    if (model.TwoFiles()) {
        pinnedCompanion_.Pin(model.companionFile, refusal);
        outcome_.companionSha256 = pinnedCompanion_.Sha256Hex();
    }
}

// Each file the download sends must be listed with the sum of the bytes that will be sent; a
// file that was not pinned fails the file check that follows.
DownloadEngine::StepResult DownloadEngine::CheckSums(const ModelTraits& model,
                                                     const TransportPolicy& policy) {
    if (!request_.sums) {
        return std::nullopt;
    }
    const std::pair<const char*, const PinnedFile*> sent[] = {
        {MainFileToSend(model, policy), &pinnedMain_},
        {model.TwoFiles() ? model.companionFile : "", &pinnedCompanion_}};
    for (const auto& [name, pinned] : sent) {
        if (*name == '\0' || !pinned->Pinned()) {
            continue;
        }
        const SumVerdict verdict = CheckSum(*request_.sums, name, pinned->Sha256Hex());
        if (verdict != SumVerdict::kMatches) {
            outcome_.sumRefusal = DownloadOutcome::SumRefusal{name, pinned->Sha256Hex(), verdict};
            return result::kNotStarted;
        }
    }
    return std::nullopt;
}

// A failed query only warns: the confirmation then shows no current version.
DownloadEngine::StepResult DownloadEngine::QueryVersion(RunState& run) {
    const TransportPolicy& policy = run.policy;
    const VersionQuery query = QueryOf(policy, *run.model);
    const RetriedCall step = QueryStep(policy, query);
    outcome_.deviceVersion.clear();
    QueryAttempts attempts(query, step.attempts);
    while (attempts.AskAgain()) {
        if (Cancelled()) {
            ShowMessage(msg::kCancelledDuringQuery, Icon::None);
            return result::kNotStarted;
        }
        const Call call = CallWith(step.setup);
        const int result = query == VersionQuery::kBramble
                               ? transport_.BrambleGetVersion(call, run.reply)
                               : transport_.VantrelGetVersion(call, run.reply);
        const bool noAnswer = run.reply[0] == payload::kNoAnswer;
        if (const int message =
                attempts.Ended(noAnswer, result, run.reply, transport_.LastReplyLength());
            message != 0) {
            ShowMessage(message, Icon::Error);
        }
        if (!noAnswer && !attempts.Valid() && step.clearReplyAfterFailure) {
            std::memset(run.reply, 0, kReplySize);
        }
    }
    outcome_.deviceVersion = attempts.Version();
    outcome_.deviceModelCode = attempts.ModelCode();
    if (Cancelled()) {
        // Cancel pressed while the last attempt waited: the download has not started, and a
        // print server that did not answer must not then be reported as another model.
        ShowMessage(msg::kCancelledDuringQuery, Icon::None);
        return result::kNotStarted;
    }
    if (const int message = attempts.FinalMessage(); message != 0) {
        ShowMessage(message, Icon::Error);
    }
    return std::nullopt;
}

// The model list's first entry is the LAN card option: a print server that answered with
// another model code is not one.
DownloadEngine::StepResult DownloadEngine::CheckModel(RunState& run) {
    // The outcome starts empty with each download: a model code from an earlier print server
    // would let one that does not answer pass this check.
    if (request_.firstListEntry &&
        outcome_.deviceModelCode != FindModel(kLanCardModel)->modelCode && run.reply[0] != 0) {
        return result::kWrongModel;
    }
    return std::nullopt;
}

// A print server that reports the download file's version is left alone when the request asks
// so: nothing but the query has been sent to it, and the confirmation is not asked.
DownloadEngine::StepResult DownloadEngine::SkipIfCurrent(RunState&) {
    if (request_.skipCurrent && SameVersion(outcome_.deviceVersion, outcome_.fileVersion)) {
        outcome_.alreadyCurrent = true;
        return result::kSuccess;
    }
    return std::nullopt;
}

DownloadEngine::StepResult DownloadEngine::Confirm(RunState&) {
    const ConfirmationValues values =
        MakeConfirmation(request_, outcome_.deviceVersion, outcome_.fileVersion);
    if (!ports_.confirmer.ConfirmTarget(values)) {
        return result::kNotStarted;
    }
    return std::nullopt;
}

DownloadEngine::StepResult DownloadEngine::Announce(RunState& run) {
    ShowMessage(msg::kDownloadStarts, Icon::Information);
    ShowMessage(msg::kDoNotSwitchOff, Icon::Warning);
    ports_.progress.SetStatusText(run.policy.statusModeSwitch);
    ports_.progress.ShowStatus(true);
    ports_.progress.DownloadStarted();
    return std::nullopt;
}

DownloadEngine::StepResult DownloadEngine::SwitchMode(RunState& run) {
    bool noAnswer = false;
    const Attempts attempts = Retry(run.policy.modeSwitch, run.reply, [&](const Call& call) {
        outcome_.modeSwitchSent = true;
        const int switched = transport_.BrambleJampEprom(call, run.reply);
        noAnswer = run.reply[0] == payload::kNoAnswer;
        return noAnswer ? 0 : switched;  // no answer ends the attempts at once
    });
    if (attempts == Attempts::kCancelled) {
        return result::kCancelled;
    }
    if (noAnswer) {
        return result::kNoAnswerToModeSwitch;
    }
    // Most models go on without a confirmed switch; the table says which cannot.
    if (attempts == Attempts::kExhausted && run.model->*run.policy.switchRequired) {
        return result::kModeSwitchFailed;
    }
    return std::nullopt;
}

// The print server needs time after the switch and after the connection.
DownloadEngine::StepResult DownloadEngine::Wait(RunState&) {
    if (!Cancelled()) {
        PumpMessages(10);
    }
    return std::nullopt;
}

// A socket that does not open only warns; the connection attempts follow as usual.
DownloadEngine::StepResult DownloadEngine::OpenSocket(RunState& run) {
    if (!Cancelled()) {
        if (transport_.OpenSocket(CallWith(run.policy.open), socket_) == 0) {
            ShowMessage(msg::kSocketNotOpened, run.policy.socketNotOpenedIcon);
        }
    }
    return std::nullopt;
}

// How a retried step ends: it goes on, or the cancel ends it, or after its last failed attempt
// it shows its message and ends with its result.
DownloadEngine::StepResult DownloadEngine::EndOfAttempts(Attempts attempts, int message,
                                                         DownloadResult failed) {
    if (attempts == Attempts::kSucceeded) {
        return std::nullopt;
    }
    if (attempts == Attempts::kCancelled) {
        return result::kCancelled;
    }
    ShowMessage(message, Icon::Error);
    return failed;
}

DownloadEngine::StepResult DownloadEngine::Connect(RunState& run) {
    const Attempts attempts = Retry(run.policy.connection, run.reply, [&](const Call& call) {
        return transport_.DownloadConnection(call, run.reply, socket_);
    });
    return EndOfAttempts(attempts, msg::kConnectFailed, result::kConnectionFailed);
}

DownloadEngine::StepResult DownloadEngine::Erase(RunState& run) {
    ports_.progress.SetStatusText(run.policy.statusErasing);
    const Attempts attempts = Retry(run.policy.erase, run.reply, [&](const Call& call) {
        return transport_.DownloadEraseFlash(call, run.reply, socket_);
    });
    return EndOfAttempts(attempts, msg::kEraseError, result::kEraseFailed);
}

DownloadEngine::StepResult DownloadEngine::Settle(RunState& run) {
    PumpMessages(5);
    std::memset(run.reply, 0, kReplySize);
    if (Cancelled()) {
        return result::kCancelled;
    }
    ports_.progress.SetStatusText(run.policy.statusDownloading);
    ipxSequence_ = 3;
    return std::nullopt;
}

// A main file that does not open ends the download here, as an unreadable one does: the flash
// has just been erased, and going on to the finish step would report an empty flash as a
// successful download.
DownloadEngine::StepResult DownloadEngine::SendMainFile(RunState& run) {
    if (Cancelled()) {
        return result::kCancelled;
    }
    const std::optional<int> sent = SendFile(*MainFileToSend(run) != '\0' ? &pinnedMain_ : nullptr);
    if (sent == 0) {
        return std::nullopt;
    }
    ports_.progress.ShowStatus(false);
    if (!sent || *sent == kTransferReadFailed) {
        return result::kConnectionFailed;
    }
    return static_cast<DownloadResult>(*sent);
}

// A companion file that does not open, or whose transfer fails or is cancelled, leaves the
// image incomplete: the download ends before the finish step.
DownloadEngine::StepResult DownloadEngine::SendCompanionFile(RunState& run) {
    if (!run.model->TwoFiles() || Cancelled()) {
        return std::nullopt;
    }
    if (SendFile(&pinnedCompanion_) != 0) {
        return result::kFinishFailed;
    }
    return std::nullopt;
}

DownloadEngine::StepResult DownloadEngine::Finish(RunState& run) {
    if (Cancelled()) {
        // The attempts are skipped; the reply buffer, cleared before the transfer, then holds
        // no acknowledgement and the download ends as not finished.
        return result::kFinishFailed;
    }
    const TransportPolicy& policy = run.policy;
    std::array<std::uint8_t, payload::kIpxFinishRequest.size()> request{};
    std::memcpy(request.data(), policy.finishRequest.data(), policy.finishRequest.size());
    auto begins = [&run](std::span<const std::uint8_t> expected) {
        return std::memcmp(run.reply, expected.data(), expected.size()) == 0;
    };
    int lastResult = 0;
    for (int attempt = 0; attempt < policy.finishAttempts; ++attempt) {
        if (policy.finishSequenced) {
            NextIpxSequence(request.data());
        }
        lastResult = transport_.DownloadFinish(
            CallWith(policy.finish), std::span(request.data(), policy.finishRequest.size()),
            run.reply, socket_);
        if (lastResult == 0 && begins(policy.finishAttemptAck)) {
            break;
        }
    }
    if (lastResult != 0 || !begins(policy.finishAck)) {
        return result::kFinishFailed;
    }
    return std::nullopt;
}

DownloadEngine::StepResult DownloadEngine::HideStatus(RunState&) {
    ports_.progress.ShowStatus(false);
    return result::kSuccess;
}

const char* DownloadEngine::MainFileToSend(const RunState& run) {
    return MainFileToSend(*run.model, run.policy);
}

const char* DownloadEngine::MainFileToSend(const ModelTraits& model,
                                           const TransportPolicy& policy) {
    // Models that load over TCP/IP only have no main file over IPX.
    const bool hasFile = policy.sendsTcpOnlyModels || !model.tcpOnly;
    return hasFile ? model.mainFile : "";
}

std::optional<int> DownloadEngine::SendFile(const PinnedFile* pinned) {
    // The bytes the check read and the sums were taken of, never the file by its name again.
    std::FILE* file = pinned != nullptr ? pinned->Open() : nullptr;
    if (file == nullptr) {
        ShowMessage(msg::kCannotOpenFile, Icon::Error);
        return std::nullopt;
    }
    const int sent = SendImageFile(file, static_cast<std::uint32_t>(pinned->Size()));
    if (sent != kTransferReadFailed) {
        std::fclose(file);  // after a read failure the reader has closed it already
    }
    return sent;
}

int DownloadEngine::SendImageFile(std::FILE* file, std::uint32_t totalSize) {
    std::uint8_t block[kBlockBufferSize] = {};
    std::uint8_t send[kBlockBufferSize] = {};
    std::uint8_t reply[kReplySize] = {};
    const TransportPolicy& policy = *policy_;
    const CallSetup sendSetup{30};
    ports_.progress.SetProgressRange(0, kProgressMax);

    int retries = 0;
    int readResult = 0;
    std::uint32_t length = 0;
    std::uint32_t sendLength = 0;
    bool lastBlock = false;
    for (;;) {
        if (Cancelled()) {
            return result::kCancelled;
        }
        std::memset(reply, 0, sizeof reply);
        if (retries == 0) {
            // A block is read once, however often it has to be sent.
            readResult = ReadRecordBlock(file, block, length, policy.blockLimit);
            lastBlock = readResult == 1;
            const std::uint32_t step =
                totalSize == 0 ? 0 : length * static_cast<std::uint32_t>(kProgressMax) / totalSize;
            if (step > 0) {
                ports_.progress.AdvanceProgress(static_cast<int>(step));
            }
        }
        if (readResult < 0 || readResult > 1) {
            if (const int message = ReaderMessage(readResult); message != 0) {
                ShowMessage(message, Icon::Error);
            }
            ShowMessage(msg::kFileUnreadable, Icon::Error);
            return kTransferReadFailed;
        }
        if (retries == 0) {
            sendLength = 0;
            if (policy.prefixedBlocks) {
                std::memcpy(send, payload::kIpxPrefix.data(), payload::kIpxPrefixSize);
                NextIpxSequence(send);
                sendLength = payload::kIpxPrefixSize;
            }
            std::memcpy(send + sendLength, block, length);
            sendLength += length;
        }
        const int sent = transport_.DownloadSendData(CallWith(sendSetup),
                                                     std::span(send, sendLength), reply, socket_);
        if (sent != 0) {
            if (Cancelled()) {
                return result::kCancelled;
            }
            if (++retries == 5) {
                return result::kBlockRefused;
            }
            continue;
        }
        if (!payload::IsBlockAck(reply, policy.prefixedBlocks)) {
            if (++retries == 5) {
                return result::kBlockNotAcknowledged;
            }
            continue;
        }
        retries = 0;
        std::memset(send, 0, sizeof send);
        if (lastBlock) {
            ports_.progress.SetProgressPosition(kProgressMax);
            return 0;
        }
    }
}

void DownloadEngine::NextIpxSequence(std::uint8_t* message) {
    ipxSequence_ = static_cast<std::uint16_t>(ipxSequence_ + 1);
    payload::PutIpxSequence(message, ipxSequence_);
}

void DownloadEngine::PumpMessages(int seconds) {
    if (Cancelled()) {
        return;
    }
    const std::int64_t start = ports_.pump.NowMilliseconds() / 1000;
    // The wait ends as the whole seconds move on by more than `seconds`, at the start of second
    // start + seconds + 1. Each pass is asked for no more than the time left: a window's pump
    // returns after its short pass (kPumpWaitMs) to look at its events and the cancel flag, the
    // console's sleeps until the cancel wakes it or the wait is over.
    const std::int64_t end = (start + seconds + 1) * 1000;
    while (!Cancelled()) {
        const std::int64_t left = end - ports_.pump.NowMilliseconds();
        ports_.pump.DispatchEvents(static_cast<int>(std::max<std::int64_t>(left, 1)));
        const std::int64_t now = ports_.pump.NowMilliseconds() / 1000;
        if (now - start > seconds) {
            break;
        }
    }
}

void DownloadEngine::Cancel() {
    transport_.CloseSocket(socket_);
    cancelRequested_ = true;
    scanStop_ = 1;
}

}  // namespace vexil
