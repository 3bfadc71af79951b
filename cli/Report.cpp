#include "cli/Report.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "engine/DownloadResult.h"
#include "resources/StringTable.h"

namespace vexil::cli {

namespace {

using nlohmann::json;

json Message(int stringId) {
    if (stringId == 0) {
        return nullptr;
    }
    return {{"number", stringId}, {"text", LoadLines(stringId)}};
}

json TextOrNull(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

std::string TextOf(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

int NumberOf(const json& message) {
    if (!message.is_object()) {
        return 0;
    }
    const auto number = message.find("number");
    return number != message.end() && number->is_number_integer() ? number->get<int>() : 0;
}

}  // namespace

static bool ReadJson(const std::string& text, Report& report);

Verdict Report::GetVerdict() const {
    switch (result) {
        case result::kSuccess:
            return alreadyCurrent ? Verdict::kAlreadyCurrent : Verdict::kSucceeded;
        case result::kCancelled:
            return Verdict::kCancelled;
        case result::kNotStarted:
            return Verdict::kNotStarted;
        default:
            return Verdict::kFailed;
    }
}

std::string Report::VersionAfter() const {
    if (result != 0) {
        return {};
    }
    return query || alreadyCurrent ? deviceVersion : fileVersion;
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::kSucceeded:
            return "succeeded";
        case Verdict::kAlreadyCurrent:
            return "already-current";
        case Verdict::kFailed:
            return "failed";
        case Verdict::kCancelled:
            return "cancelled";
        case Verdict::kNotStarted:
            break;
    }
    return "not-started";
}

std::string UtcNow() {
    char time[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return time;
}

std::string LogLine(const Report& report) {
    auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    return UtcNow() + " target=" + (report.target.ipx ? "ipx:" : "tcp:") + report.target.text +
           " model=" + std::to_string(report.model) + " file=" + orDash(report.fileVersion) +
           " before=" + orDash(report.deviceVersion) + " result=" + std::to_string(report.result) +
           " message=" + std::to_string(report.lastMessage) +
           " first=" + std::to_string(report.firstMessage) +
           " outcome=" + (report.query ? "query-" : "") + VerdictName(report.GetVerdict());
}

std::string ToJson(const Report& report) {
    const json object = {
        {"target", report.target.Label()},
        {"model", report.model},
        {"query", report.query},
        {"outcome", VerdictName(report.GetVerdict())},
        {"result", report.result},
        {"modelCode", TextOrNull(report.modelCode)},
        {"versionBefore", TextOrNull(report.deviceVersion)},
        {"versionAfter", TextOrNull(report.VersionAfter())},
        {"fileVersion", TextOrNull(report.fileVersion)},
        {"firstMessage", Message(report.firstMessage)},
        {"lastMessage", Message(report.lastMessage)},
        {"seconds", report.seconds},
        {"start", report.start},
        {"end", report.end},
        {"logged", !report.logFailed},
    };
    return object.dump();
}

bool FromJson(const std::string& text, Report& report) {
    try {
        return ReadJson(text, report);
    } catch (const json::exception&) {
        return false;  // a field of another type than ToJson writes
    }
}

static bool ReadJson(const std::string& text, Report& report) {
    const json object = json::parse(text, nullptr, false);
    if (!object.is_object()) {
        return false;
    }
    const auto result = object.find("result");
    const auto seconds = object.find("seconds");
    if (result == object.end() || !result->is_number_integer() || seconds == object.end() ||
        !seconds->is_number()) {
        return false;
    }
    report.result = result->get<int>();
    report.seconds = seconds->get<double>();
    report.query = object.value("query", false);
    report.alreadyCurrent = TextOf(object, "outcome") == VerdictName(Verdict::kAlreadyCurrent);
    report.logFailed = !object.value("logged", true);
    report.firstMessage = NumberOf(object.value("firstMessage", json()));
    report.lastMessage = NumberOf(object.value("lastMessage", json()));
    report.modelCode = TextOf(object, "modelCode");
    report.deviceVersion = TextOf(object, "versionBefore");
    report.fileVersion = TextOf(object, "fileVersion");
    report.start = TextOf(object, "start");
    report.end = TextOf(object, "end");
    return true;
}

std::string SummaryJson(int targets, int succeeded, int alreadyCurrent, int exitStatus) {
    return json{{"summary",
                 {{"targets", targets},
                  {"succeeded", succeeded},
                  {"alreadyCurrent", alreadyCurrent},
                  {"failed", targets - succeeded},
                  {"exitStatus", exitStatus}}}}
        .dump();
}

}  // namespace vexil::cli
