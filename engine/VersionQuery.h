// The version query of a print server, as a download, an inventory (--query) and a scan of many
// addresses (--scan) all ask it: how its attempts end, what each shows and what the query comes
// to. And the scan, the query of many TCP/IP addresses at once through the transport's one call
// for it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/DownloadRequest.h"
#include "engine/ModelTable.h"
#include "platform/Reason.h"
#include "resources/ResourceIds.h"

namespace vexil {

// One print server's query, attempt by attempt. An attempt that nobody answered by the end of
// its wait ends the query: a print server that is not there would only cost each wait again. A
// reply that is no valid version reply shows message 113 and is asked again, as is a reply whose
// status refuses the query, until the attempts are used up. The query fails (message 112) when
// its last attempt went unanswered or was refused.
class QueryAttempts {
  public:
    QueryAttempts(VersionQuery query, int attempts) : query_(query), attempts_(attempts) {}

    // The end of one attempt: `noAnswer` when nobody answered, else the call's `result` (0 for a
    // reply) and the reply's `length` bytes as the print server sent them. Returns the message
    // the attempt shows, or 0.
    int Ended(bool noAnswer, int result, const std::uint8_t* reply, std::size_t length);
    // Whether another attempt follows.
    bool AskAgain() const { return !noAnswer_ && !valid_ && made_ < attempts_; }
    // After the last attempt: message 112 when the query failed, else 0.
    int FinalMessage() const { return noAnswer_ || lastResult_ != 0 ? msg::kVersionFailed : 0; }

    bool Valid() const { return valid_; }
    // Whether any attempt got a reply, valid or not.
    bool Replied() const { return replied_; }
    const std::string& Version() const { return version_; }
    const std::string& ModelCode() const { return modelCode_; }

  private:
    VersionQuery query_;
    int attempts_;
    int made_ = 0;
    int lastResult_ = 0;
    bool noAnswer_ = false;
    bool replied_ = false;
    bool valid_ = false;
    std::string version_;
    std::string modelCode_;
};

// How far a scan is: the addresses whose query has ended of all of them, the print servers
// among them that answered with a valid version reply, the time since the scan started, and an
// estimate of the time left (TimeLeftMs; none before the first address has ended).
struct ScanProgress {
    std::size_t asked = 0;
    std::size_t total = 0;
    std::size_t found = 0;
    std::int64_t elapsedMs = 0;
    std::optional<std::int64_t> leftMs;
};

// A scan: the model's TCP/IP version query sent to every address, at most `inFlight` exchanges
// at a time.
struct ScanRequest {
    std::vector<std::string> addresses;  // dotted IPv4 addresses, each one a TCP/IP target
    int modelIndex = 0;
    std::size_t inFlight = 1;
    // When set: told how far the scan is as each address's query ends and at each slice of the
    // scan's wait (as often as the transport runs its wait hook), on the scan's own thread.
    std::function<void(const ScanProgress&)> onProgress = {};
};

// What one address came to.
struct ScanAnswer {
    enum class State {
        kNotEnded,  // the scan was cancelled before its query ended
        kSilent,    // nobody ever answered
        kAnswered,  // a valid version reply
        kInvalid,   // replies came, none of them a valid version reply
    };
    State state = State::kNotEnded;
    // As the version query alone would report it (DownloadEngine::QueryVersion): kSuccess with
    // the version and model code, or kConnectionFailed with the messages the query showed.
    DownloadOutcome run;
    double seconds = 0;  // from the scan's start to the end of this address's query
    std::chrono::system_clock::time_point ended;
};

struct ScanOutcome {
    // kSuccess when every address's query ended, kNotStarted when cancelled or the model is
    // unknown, kSocketStartFailed when the scan could not run (`reason` says why).
    DownloadResult result = result::kSuccess;
    Reason reason;
    std::vector<ScanAnswer> answers;  // one for each address, in the request's order
};

}  // namespace vexil
