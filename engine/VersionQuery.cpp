#include "engine/VersionQuery.h"

#include "engine/DownloadEngine.h"
#include "engine/TargetRecord.h"
#include "engine/TimeLeft.h"
#include "engine/TransportPolicy.h"

namespace vexil {

int QueryAttempts::Ended(bool noAnswer, int result, const std::uint8_t* reply, std::size_t length) {
    ++made_;
    if (noAnswer) {
        noAnswer_ = true;
        return 0;
    }
    replied_ = true;
    lastResult_ = result;
    if (result != 0) {
        return 0;
    }
    if (ReadVersionReply(query_, reply, length, version_, modelCode_)) {
        valid_ = true;
        return 0;
    }
    return msg::kVersionInvalid;
}

namespace {

// An address's answer once its query has ended.
void Conclude(const QueryAttempts& asked, ScanAnswer& answer) {
    if (asked.Valid()) {
        answer.state = ScanAnswer::State::kAnswered;
        answer.run.result = result::kSuccess;
        answer.run.deviceVersion = asked.Version();
        answer.run.deviceModelCode = asked.ModelCode();
        return;
    }
    answer.state = asked.Replied() ? ScanAnswer::State::kInvalid : ScanAnswer::State::kSilent;
    answer.run.result = result::kConnectionFailed;
    if (const int message = asked.FinalMessage(); message != 0) {
        answer.run.messages.push_back({message, Icon::Error});
    }
}

}  // namespace

ScanOutcome DownloadEngine::Scan(const ScanRequest& request) {
    cancelRequested_ = false;
    scanStop_ = 0;
    ScanOutcome outcome;
    const ModelTraits* model = FindModel(request.modelIndex);
    if (model == nullptr) {
        outcome.result = result::kNotStarted;
        return outcome;
    }
    // Each address is asked as the version query alone asks it over TCP/IP.
    const VersionQuery query = QueryOf(kTcpPolicy, *model);
    const RetriedCall step = QueryStep(kTcpPolicy, query);
    std::vector<TAVDL_ADDR> records;
    records.reserve(request.addresses.size());
    const TargetRecordPtr blank = CreateTargetRecord();
    for (const std::string& address : request.addresses) {
        DownloadRequest one;
        one.modelIndex = request.modelIndex;
        SetAddressText(one, address);
        records.push_back(*blank);
        FillTargetRecord(one, records.back());
        ApplyCallSetup(records.back(), step.setup);
    }
    std::vector<QueryAttempts> asked(records.size(), QueryAttempts(query, step.attempts));
    outcome.answers.resize(records.size());
    const std::int64_t start = ports_.pump.NowMilliseconds();
    ScanProgress progress;
    progress.total = records.size();
    auto report = [&] {
        if (request.onProgress) {
            progress.elapsedMs = ports_.pump.NowMilliseconds() - start;
            progress.leftMs = TimeLeftMs(progress.elapsedMs, progress.asked, progress.total);
            request.onProgress(progress);
        }
    };
    auto onReply = [&](std::size_t index, int result, std::span<const std::uint8_t> reply) {
        QueryAttempts& attempts = asked[index];
        ScanAnswer& answer = outcome.answers[index];
        if (const int message = attempts.Ended(result < 0, result, reply.data(), reply.size());
            message != 0) {
            answer.run.messages.push_back({message, Icon::Error});
        }
        if (attempts.AskAgain()) {
            return true;
        }
        Conclude(attempts, answer);
        answer.seconds = static_cast<double>(ports_.pump.NowMilliseconds() - start) / 1000.0;
        answer.ended = std::chrono::system_clock::now();
        ++progress.asked;
        progress.found += answer.state == ScanAnswer::State::kAnswered ? 1 : 0;
        report();
        return false;
    };
    report();
    std::function<void()> onSlice;
    if (request.onProgress) {
        onSlice = report;
    }
    const int swept = transport_.QueryVersions(
        {records, query, request.inFlight, ports_.pump.WindowHandle(), &scanStop_, onSlice},
        onReply, outcome.reason);
    if (swept < 0) {
        outcome.result = result::kSocketStartFailed;
        outcome.answers.clear();
        return outcome;
    }
    if (swept == 1) {
        outcome.result = result::kNotStarted;
        // A print server that has replied stays among those without a valid reply.
        for (std::size_t i = 0; i < asked.size(); ++i) {
            ScanAnswer& answer = outcome.answers[i];
            if (answer.state == ScanAnswer::State::kNotEnded && asked[i].Replied()) {
                answer.state = ScanAnswer::State::kInvalid;
                answer.run.result = result::kConnectionFailed;
                answer.seconds =
                    static_cast<double>(ports_.pump.NowMilliseconds() - start) / 1000.0;
                answer.ended = std::chrono::system_clock::now();
            }
        }
    }
    return outcome;
}

}  // namespace vexil
