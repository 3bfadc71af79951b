#include "cli/Report.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/DownloadEngine.h"
#include "engine/DownloadResult.h"
#include "format/ModelFiles.h"
#include "resources/Reasons.h"
#include "resources/StringTable.h"
#include "resources/Text.h"

namespace vexil::cli {

namespace {

using nlohmann::json;

json Message(int stringId) {
    if (stringId == 0) {
        return nullptr;
    }
    // The Japanese text whatever the language: the JSON is the same for every user.
    return {{"number", stringId}, {"text", LoadLines(stringId, Language::kJapanese)}};
}

// Whether model `model` sends a companion file, whose sum the log and the JSON then carry too.
bool TwoFileModel(int model) {
    const ModelFiles* files = FindModelFiles(model);
    return files != nullptr && files->TwoFiles();
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

void Report::SetNote(std::string_view key, std::initializer_list<std::string_view> args) {
    note = Format(Tr(key, Language::kEnglish), args);
    shownNote = Tr(key, args);
}

void Report::SetNote(std::string_view key, const Reason& reason) {
    note = Format(Tr(key, Language::kEnglish), {Words(reason, Language::kEnglish)});
    shownNote = Tr(key, {Words(reason)});
}

void Report::AddNote(std::string_view key) {
    note += Tr(key, Language::kEnglish);
    shownNote += Tr(key);
}

Verdict Report::GetVerdict() const {
    if (verdict) {
        return *verdict;
    }
    switch (run.result) {
        case result::kSuccess:
            return run.alreadyCurrent ? Verdict::kAlreadyCurrent : Verdict::kSucceeded;
        case result::kCancelled:
            return Verdict::kCancelled;
        case result::kNotStarted:
            return Verdict::kNotStarted;
        default:
            return Verdict::kFailed;
    }
}

std::string Report::VersionAfter() const {
    if (run.result != result::kSuccess) {
        return {};
    }
    return ShownVersion(query || run.alreadyCurrent ? run.deviceVersion : run.fileVersion);
}

void NoteIfUnverified(Report& report) {
    // A valid version reply verified the print server, whatever its model's own code says.
    if (report.run.deviceVersion.empty()) {
        report.note = UnverifiableNote(report.model, report.target.ipx, Language::kEnglish);
        report.shownNote = UnverifiableNote(report.model, report.target.ipx, CurrentLanguage());
    }
}

std::string UtcNow() {
    return UtcAt(std::chrono::system_clock::now());
}

std::string UtcAt(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto now = floor<seconds>(when);
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

namespace {

std::string OutcomeName(const Report& report) {
    return OutcomeName(report.GetVerdict(), report.query);
}

// The verdict a report or a log line names, where the run's result alone would not give it back.
std::optional<Verdict> Decided(std::optional<Verdict> named) {
    return named == Verdict::kUnverified || named == Verdict::kStopped ? named : std::nullopt;
}

// What a report or a log line tells of the messages a run showed: its first error message.
std::vector<ShownMessage> FirstMessageShown(int stringId) {
    if (stringId == 0) {
        return {};
    }
    return {{stringId, Icon::Error}};
}

}  // namespace

std::string LogTarget(const Target& target) {
    return "target=" + std::string(target.ipx ? "ipx:" : "tcp:") + target.text;
}

std::string LogLine(const Report& report) {
    auto orDash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    return UtcNow() + " " + LogTarget(report.target) + " model=" + std::to_string(report.model) +
           " file=" + orDash(ShownVersion(report.run.fileVersion)) +
           " before=" + orDash(ShownVersion(report.run.deviceVersion)) +
           " result=" + std::to_string(report.run.result) +
           " message=" + std::to_string(report.lastMessage) +
           " first=" + std::to_string(report.FirstMessage()) + " outcome=" + OutcomeName(report) +
           " sha256=" + orDash(report.run.fileSha256) +
           (TwoFileModel(report.model) ? " companion-sha256=" + orDash(report.run.companionSha256)
                                       : "");
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
    const std::optional<Verdict> verdict = VerdictNamed(fields["outcome"]);
    int result = 0;
    int first = 0;
    if (!number("result", result) || !number("message", read.lastMessage) ||
        !number("first", first) || !verdict) {
        return false;
    }
    read.run.result = static_cast<DownloadResult>(result);
    read.run.messages = FirstMessageShown(first);
    read.run.fileVersion = text("file");
    read.run.deviceVersion = text("before");
    // A line written before the sums were logged has neither key: no sum is known.
    read.run.fileSha256 = text("sha256");
    read.run.companionSha256 = text("companion-sha256");
    read.run.alreadyCurrent = verdict == Verdict::kAlreadyCurrent;
    read.verdict = Decided(verdict);
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
        {"result", report.run.result},
        {"modelCode", TextOrNull(report.run.deviceModelCode)},
        {"versionBefore", TextOrNull(ShownVersion(report.run.deviceVersion))},
        {"versionAfter", TextOrNull(report.VersionAfter())},
        {"fileVersion", TextOrNull(ShownVersion(report.run.fileVersion))},
        {"current", report.run.deviceVersion.empty() || report.run.fileVersion.empty()
                        ? json(nullptr)
                        : json(SameVersion(report.run.deviceVersion, report.run.fileVersion))},
        {"firstMessage", Message(report.FirstMessage())},
        {"lastMessage", Message(report.lastMessage)},
        {"seconds", report.seconds},
        {"start", TextOrNull(report.start)},
        {"end", TextOrNull(report.end)},
        {"logged", report.logged},
        {"note", TextOrNull(report.note)},
        {"modeSwitchSent", report.run.modeSwitchSent},
        {"fileSha256", TextOrNull(report.run.fileSha256)},
        {"companionSha256",
         TwoFileModel(report.model) ? TextOrNull(report.run.companionSha256) : json(nullptr)},
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
    const std::optional<Verdict> verdict = VerdictNamed(TextOf(object, "outcome"));
    report.run.result = static_cast<DownloadResult>(result->get<int>());
    report.seconds = seconds->get<double>();
    report.query = object.value("query", false);
    report.run.alreadyCurrent = verdict == Verdict::kAlreadyCurrent;
    report.verdict = Decided(verdict);
    report.logged = object.value("logged", false);
    report.run.modeSwitchSent = object.value("modeSwitchSent", false);
    report.run.messages = FirstMessageShown(NumberOf(object.value("firstMessage", json())));
    report.lastMessage = NumberOf(object.value("lastMessage", json()));
    report.run.deviceModelCode = TextOf(object, "modelCode");
    report.run.deviceVersion = TextOf(object, "versionBefore");
    report.run.fileVersion = TextOf(object, "fileVersion");
    report.run.fileSha256 = TextOf(object, "fileSha256");
    report.run.companionSha256 = TextOf(object, "companionSha256");
    report.start = TextOf(object, "start");
    report.end = TextOf(object, "end");
    report.note = TextOf(object, "note");
    // The one note a report read back carries (a fleet's child's), in the user's language.
    if (report.note == UnverifiableNote(report.model, report.target.ipx, Language::kEnglish)) {
        report.shownNote = UnverifiableNote(report.model, report.target.ipx, CurrentLanguage());
    }
    return true;
}

namespace {

std::string FirstLine(int stringId) {
    const std::string_view text = LoadString(stringId);
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

// The summary table's text for a target: its last message and, when the cause came earlier,
// its first error message too, then the verdict's own words.
std::string Explanation(const Report& report) {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "  ") + part; };
    const int first = report.FirstMessage();
    if (!report.NotRun() && !report.run.alreadyCurrent) {
        if (report.lastMessage != 0) {
            add(FirstLine(report.lastMessage));
        }
        if (first != 0 && first != report.lastMessage) {
            add(Tr("cli.table.first", {std::to_string(first), FirstLine(first)}));
        }
    }
    if (const std::string_view words = RowOf(report.GetVerdict()).words; !words.empty()) {
        add(std::string(Tr(words)));
    }
    if (!report.note.empty()) {
        add(report.shownNote.empty() ? report.note : report.shownNote);
    }
    if (report.logFailed) {
        add(std::string(Tr("cli.table.not-logged")));
    }
    return text;
}

struct Counts {
    int succeeded = 0;
    int current = 0;  // of those that succeeded, the ones current already
    int stopped = 0;  // of those that did not, the ones a fleet's --max-failures kept from starting
};

Counts Count(const std::vector<Report>& reports) {
    Counts counts;
    for (const Report& report : reports) {
        counts.succeeded += report.Succeeded() ? 1 : 0;
        counts.current += report.Succeeded() && report.run.alreadyCurrent ? 1 : 0;
        counts.stopped += report.GetVerdict() == Verdict::kStopped ? 1 : 0;
    }
    return counts;
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

std::string SummaryTable(const std::vector<Report>& reports, bool closingLine) {
    const bool query = !reports.empty() ? reports.front().query : !closingLine;
    const auto [succeeded, current, stopped] = Count(reports);
    const auto heading = [](const char* key) { return std::string(Tr(key)); };
    std::vector<std::vector<std::string>> rows = {
        {heading("cli.table.target"), heading(query ? "cli.table.code" : "cli.table.result"),
         heading(query ? "cli.table.version" : "cli.table.message"), heading("cli.table.seconds")}};
    for (const Report& r : reports) {
        std::vector<std::string>& row = rows.emplace_back();
        row.push_back(r.target.Label());
        // The numbers keep the widths the English headings have always given them, so that
        // a column grows only for a heading wider than that (as Japanese ones are).
        if (r.NotRun()) {
            row.insert(row.end(),
                       {Row("%*s", query ? 4 : 6, "-"), Row("%7s", "-"), Row("%7s", "-")});
        } else if (query) {
            const std::string& code = r.run.deviceModelCode;
            const std::string version = ShownVersion(r.run.deviceVersion);
            row.push_back(Row("%4s", code.empty() ? "-" : code.c_str()));
            row.push_back(Row("%7s", version.empty() ? "-" : version.c_str()));
            row.push_back(Row("%7.1f", r.seconds));
        } else {
            row.push_back(Row("%6d", static_cast<int>(r.run.result)));
            row.push_back(Row("%7d", r.lastMessage));
            row.push_back(Row("%7.1f", r.seconds));
        }
        if (const std::string text = Explanation(r); !text.empty()) {
            row.push_back(text);
        }
    }
    // Each column as wide as its widest cell, heading or value: a heading wider than its
    // numbers widens its column rather than push the next headings right.
    std::string table = Tabulate(rows, {false, true, true, true, false});
    const int count = static_cast<int>(reports.size());
    if (!closingLine) {
        return table;
    }
    if (query) {
        table +=
            Tr("cli.summary.answered", {std::to_string(succeeded), std::to_string(count)}) + "\n";
        return table;
    }
    table += Tr("cli.summary.succeeded", {std::to_string(succeeded), std::to_string(count)});
    table += current > 0 ? Tr("cli.summary.already-current", {std::to_string(current)}) : "";
    table += stopped > 0 ? Tr("cli.summary.stopped", {std::to_string(stopped)}) : "";
    return table + "\n";
}

std::string SummaryJson(const std::vector<Report>& reports, int exitStatus) {
    const int targets = static_cast<int>(reports.size());
    const auto [succeeded, current, stopped] = Count(reports);
    return json{{"summary",
                 {{"targets", targets},
                  {"succeeded", succeeded},
                  {"alreadyCurrent", current},
                  {"failed", targets - succeeded},
                  {"stopped", stopped},
                  {"exitStatus", exitStatus}}}}
        .dump();
}

}  // namespace vexil::cli
