#include "cli/Report.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/Download.h"
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
    if (notStarted) {
        return Verdict::kNotStarted;
    }
    if (startFailed) {
        return Verdict::kStartFailed;
    }
    if (unverified) {
        return Verdict::kUnverified;
    }
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
    return query || alreadyCurrent ? deviceVersion : AsReported(fileVersion);
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
        case Verdict::kStartFailed:
            return "start-failed";
        case Verdict::kUnverified:
            return "unverified";
        case Verdict::kNotStarted:
            break;
    }
    return "not-started";
}

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32] = "";
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(time.hours().count()),
                  static_cast<long long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return text;
}

// The outcome's name in the log and the JSON alike.
std::string OutcomeName(const Report& report) {
    return (report.query ? "query-" : "") + std::string(VerdictName(report.GetVerdict()));
}

std::string LogTarget(const Target& target) {
    return "target=" + std::string(target.ipx ? "ipx:" : "tcp:") + target.text;
}

std::string LogLine(const Report& report) {
    auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    return UtcNow() + " " + LogTarget(report.target) + " model=" + std::to_string(report.model) +
           " file=" + orDash(report.fileVersion) + " before=" + orDash(report.deviceVersion) +
           " result=" + std::to_string(report.result) +
           " message=" + std::to_string(report.lastMessage) +
           " first=" + std::to_string(report.firstMessage) + " outcome=" + OutcomeName(report);
}

bool FromLogLine(const std::string& line, Report& report) {
    std::map<std::string, std::string, std::less<>> fields;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        const std::string word = line.substr(at, end - at);
        if (const std::size_t equals = word.find('='); equals != std::string::npos) {
            fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
        at = end + 1;
    }
    auto number = [&fields](const char* key, int& value) {
        const std::string& text = fields[key];
        const char* end = text.data() + text.size();
        const auto [past, error] = std::from_chars(text.data(), end, value);
        return error == std::errc() && past == end && !text.empty();
    };
    auto text = [&fields](const char* key) {
        const std::string& value = fields[key];
        return value == "-" ? std::string() : value;
    };
    Report read = report;
    std::string outcome = fields["outcome"];
    if (outcome.starts_with("query-")) {
        outcome.erase(0, 6);
    }
    if (!number("result", read.result) || !number("message", read.lastMessage) ||
        !number("first", read.firstMessage) || outcome.empty()) {
        return false;
    }
    read.fileVersion = text("file");
    read.deviceVersion = text("before");
    read.alreadyCurrent = outcome == VerdictName(Verdict::kAlreadyCurrent);
    read.unverified = outcome == VerdictName(Verdict::kUnverified);
    read.logged = true;
    report = read;
    return true;
}

std::string ToJson(const Report& report) {
    const json object = {
        {"target", report.target.Label()},
        {"model", report.model},
        {"query", report.query},
        {"outcome", OutcomeName(report)},
        {"result", report.result},
        {"modelCode", TextOrNull(report.modelCode)},
        {"versionBefore", TextOrNull(report.deviceVersion)},
        {"versionAfter", TextOrNull(report.VersionAfter())},
        {"fileVersion", TextOrNull(report.fileVersion)},
        {"current", report.deviceVersion.empty() || report.fileVersion.empty()
                        ? json(nullptr)
                        : json(SameVersion(report.deviceVersion, report.fileVersion))},
        {"firstMessage", Message(report.firstMessage)},
        {"lastMessage", Message(report.lastMessage)},
        {"seconds", report.seconds},
        {"start", TextOrNull(report.start)},
        {"end", TextOrNull(report.end)},
        {"logged", report.logged},
        {"note", TextOrNull(report.note)},
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
    report.unverified = TextOf(object, "outcome") == VerdictName(Verdict::kUnverified);
    report.logged = object.value("logged", false);
    report.firstMessage = NumberOf(object.value("firstMessage", json()));
    report.lastMessage = NumberOf(object.value("lastMessage", json()));
    report.modelCode = TextOf(object, "modelCode");
    report.deviceVersion = TextOf(object, "versionBefore");
    report.fileVersion = TextOf(object, "fileVersion");
    report.start = TextOf(object, "start");
    report.end = TextOf(object, "end");
    report.note = TextOf(object, "note");
    return true;
}

namespace {

std::string FirstLine(int stringId) {
    const std::string_view text = LoadString(stringId);
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

// The summary table's text for a target: its last message and, when the cause came earlier,
// its first error message too.
std::string Explanation(const Report& report) {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "  ") + part; };
    if (report.notStarted) {
        add("not started");
    } else if (report.alreadyCurrent) {
        add("already current");
    } else if (!report.startFailed) {
        if (report.lastMessage != 0) {
            add(FirstLine(report.lastMessage));
        }
        if (report.firstMessage != 0 && report.firstMessage != report.lastMessage) {
            add("first: " + std::to_string(report.firstMessage) + " " +
                FirstLine(report.firstMessage));
        }
        if (report.unverified) {
            add("unverified: its model and version were not read");
        }
    }
    if (!report.note.empty()) {
        add(report.note);
    }
    if (report.logFailed) {
        add("(not logged)");
    }
    return text;
}

std::string Row(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Row(const char* format, ...) {
    char row[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(row, sizeof row, format, args);
    va_end(args);
    return row;
}

}  // namespace

std::string SummaryTable(const std::vector<Report>& reports) {
    const bool query = !reports.empty() && reports.front().query;
    std::size_t width = 6;
    int succeeded = 0;
    int current = 0;
    for (const Report& report : reports) {
        width = std::max(width, report.target.Label().size());
        succeeded += report.Succeeded() && !report.notStarted ? 1 : 0;
        current += report.alreadyCurrent ? 1 : 0;
    }
    const int w = static_cast<int>(width);
    std::string table =
        query ? Row("%-*s  %4s  %7s  %7s\n", w, "target", "code", "version", "seconds")
              : Row("%-*s  %6s  %7s  %7s\n", w, "target", "result", "message", "seconds");
    for (const Report& r : reports) {
        const std::string label = r.target.Label();
        const std::string text = Explanation(r);
        std::string row;
        if (r.notStarted || r.startFailed) {
            row = query ? Row("%-*s  %4s  %7s  %7s", w, label.c_str(), "-", "-", "-")
                        : Row("%-*s  %6s  %7s  %7s", w, label.c_str(), "-", "-", "-");
        } else if (query) {
            row = Row("%-*s  %4s  %7s  %7.1f", w, label.c_str(),
                      r.modelCode.empty() ? "-" : r.modelCode.c_str(),
                      r.deviceVersion.empty() ? "-" : r.deviceVersion.c_str(), r.seconds);
        } else {
            row =
                Row("%-*s  %6d  %7d  %7.1f", w, label.c_str(), r.result, r.lastMessage, r.seconds);
        }
        table += row + (text.empty() ? "" : "  " + text) + "\n";
    }
    const int count = static_cast<int>(reports.size());
    if (query) {
        table += Row("%d of %d print servers answered\n", succeeded, count);
    } else if (current > 0) {
        table +=
            Row("%d of %d downloads succeeded (%d already current)\n", succeeded, count, current);
    } else {
        table += Row("%d of %d downloads succeeded\n", succeeded, count);
    }
    return table;
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
