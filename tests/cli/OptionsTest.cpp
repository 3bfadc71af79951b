// The command line's rules without a network: options, targets files, versions and the forms of
// a report.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "cli/ConsolePort.h"
#include "cli/Download.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "engine/DownloadEngine.h"
#include "platform/Process.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

// The program's own texts here are checked in English, as vexil-download shows them under an
// English language; the rows of the Japanese ones set that language themselves.
const bool kEnglishTexts = (SetLanguage(Language::kEnglish), true);

cli::Refusal Parse(std::vector<std::string> args, cli::Options& options) {
    args.insert(args.begin(), "vexil-download");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    return cli::ParseOptions(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(Options, AcceptedAndRefused) {
    using Check = std::function<bool(const cli::Options&)>;
    // A descriptor on POSIX, a handle value on Windows.
    const int maxChannel = process::MaxReportChannel();
    const std::string pastMax = std::to_string(static_cast<long long>(maxChannel) + 1);
    const struct {
        std::vector<std::string> args;
        std::string refusal;  // empty: accepted, and `check` holds
        Check check;
    } cases[] = {
        {{"--model", "6", "--tcp", "10.0.0.1", "-y"}, "", [](auto& o) { return o.yes; }},
        {{"--model", "6", "--tcp", "10.0.0.1", "--yes"}, "", [](auto& o) { return o.yes; }},
        {{"--model", "6", "--tcp", "10.0.0.1"}, "", [](auto& o) { return !o.yes && !o.query; }},
        {{"--model", "6", "--targets", "t"},
         "",
         [](auto& o) { return o.jobs == cli::kDefaultJobs && o.jobs >= 64; }},
        {{"--model", "6", "--targets", "t", "--jobs", "1"},
         "",
         [](auto& o) { return o.jobs == 1; }},
        {{"--model", "6", "--targets", "t", "--jobs=1024"},
         "",
         [](auto& o) { return o.jobs == 1024; }},
        {{"--model", "6", "--targets", "t", "--jobs", "0"}, "--jobs takes a number from 1", {}},
        {{"--model", "6", "--targets", "t", "--jobs", "1025"}, "--jobs takes a number", {}},
        {{"--model", "6", "--targets", "t", "--jobs", "+5"}, "--jobs takes a number", {}},
        {{"--model", "6", "--targets", "t", "--jobs", " 5"}, "--jobs takes a number", {}},
        {{"--model", "6", "--targets", "t", "--jobs", "5 "}, "--jobs takes a number", {}},
        {{"--model", "6", "--targets", "t", "--jobs", "0x5"}, "--jobs takes a number", {}},
        {{"--model", "6", "--targets", "t", "--jobs", "0x"}, "--jobs takes a number", {}},
        {{"--model", "6", "--targets", "t", "--jobs="}, "--jobs needs a value, not an empty", {}},
        {{"--model", "6", "--targets", "t", "--jobs"}, "--jobs needs a value", {}},
        {{"--model", "6", "--targets", "t", "--max-failures", "1"},
         "",
         [](auto& o) { return o.maxFailures == 1; }},
        {{"--model", "6", "--targets", "t"}, "", [](auto& o) { return o.maxFailures == 0; }},
        {{"--model", "6", "--targets", "t", "--max-failures", "0"}, "--max-failures takes", {}},
        {{"--model", "6", "--targets", "t", "--max-failures", "-1"}, "--max-failures takes", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--max-failures", "1"},
         "--max-failures goes with --targets",
         {}},
        {{"--model", "6", "--targets", "t", "--query", "--max-failures", "2"},
         "--max-failures goes with a download",
         {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--report-fd", "3"},
         "",
         [](auto& o) { return o.reportFd == 3; }},
        {{"--model", "6", "--tcp", "10.0.0.1", "--report-fd=" + std::to_string(maxChannel)},
         "",
         [maxChannel](auto& o) { return o.reportFd == maxChannel; }},
        {{"--model", "6", "--tcp", "10.0.0.1", "--report-fd", "2"}, "--report-fd takes", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--report-fd", pastMax}, "--report-fd takes", {}},
        {{"--model", "1", "--tcp", "10.0.0.1"}, "", [](auto& o) { return o.modelIndex == 1; }},
        {{"--model", "6", "--tcp", "10.0.0.1"}, "", [](auto& o) { return o.modelIndex == 6; }},
        {{"--model", "0", "--tcp", "10.0.0.1"}, "--model takes", {}},
        {{"--model", "+6", "--tcp", "10.0.0.1"}, "--model takes", {}},
        {{"--model", "0x6", "--tcp", "10.0.0.1"}, "--model takes", {}},
        // Words read no more freely than they always were: no bundled short flags, no "--".
        {{"--model", "6", "--tcp", "10.0.0.1", "-yh"}, "unknown option -yh", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--", "-y"}, "unknown option --", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--json=true"}, "--json takes no value", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir=", "x"}, "--dir needs a value, not", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir", "[a,b]"},
         "",
         [](auto& o) { return o.dir == "[a,b]"; }},
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir", "-y"},
         "",
         [](auto& o) { return o.dir == "-y" && !o.yes; }},
        // The first refusal on the line is the one given.
        {{"--model", "7", "--version"}, "--model takes", {}},
        {{"--version", "--model", "7"}, "unknown option --version", {}},
        {{"--model", "6", "--ipx", "00000001:00d1f0123456", "--query", "--json"},
         "",
         [](auto& o) { return o.query && o.json && o.target.ipx; }},
        {{"--model", "6", "--tcp", "10.0.0.1", "--skip-current", "--failed", "f"},
         "",
         [](auto& o) { return o.skipCurrent && o.failedFile == "f"; }},
        {{"--list-models"}, "", [](auto& o) { return o.listModels; }},
        // Every option once: the second of any would silently win or be lost.
        {{"--model", "6", "--model", "1", "--tcp", "10.0.0.1"}, "--model is given twice", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir", "a", "--dir", "b"},
         "--dir is given twice",
         {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", "a", "--log=b"},
         "--log is given twice",
         {}},
        {{"--model", "6", "--targets", "a", "--targets", "b"}, "--targets is given twice", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "-y", "--yes"}, "--yes is given twice", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--ipx", "00000001:00D1F0123456"}, "one target", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir", ""},
         "--dir needs a value, not an empty",
         {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--log="}, "--log needs a value, not an empty", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--failed", ""}, "--failed needs a value", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--query", "--skip-current"},
         "--skip-current goes",
         {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--json=1"}, "--json takes no value", {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--yes", "--allow-unverified"},
         "",
         [](auto& o) { return o.allowUnverified && o.yes; }},
        {{"--model", "6", "--tcp", "10.0.0.1"}, "", [](auto& o) { return !o.allowUnverified; }},
        {{"--model", "6", "--tcp", "10.0.0.1", "--allow-unverified"},
         "--allow-unverified goes with --yes",
         {}},
        {{"--model", "6", "--tcp", "10.0.0.1", "--query", "--yes", "--allow-unverified"},
         "--allow-unverified goes with a download, not with --query",
         {}},
        {{"--model", "6", "--ipx", "00000001:FFFFFFFFFFFF"}, "is the broadcast address", {}},
        {{"--model", "6", "--ipx", "00000001:ffffffffffff"}, "is the broadcast address", {}},
        {{"--model", "6", "--ipx", "00000001:000000000000"}, "is zero", {}},
        {{"--model", "6", "--ipx", "00000001:FFFFFFFFFFFE"},
         "",
         [](auto& o) { return o.haveTarget; }},
    };
    for (const auto& c : cases) {
        cli::Options options;
        const cli::Refusal refusal = Parse(c.args, options);
        std::string line;
        for (const std::string& arg : c.args) {
            line += arg + " ";
        }
        if (c.refusal.empty()) {
            EXPECT_FALSE(refusal.Refused()) << line << refusal.text;
            EXPECT_TRUE(c.check(options)) << line;
        } else {
            EXPECT_NE(refusal.text.find(c.refusal), std::string::npos) << line << refusal.text;
        }
    }
}

// --scan's ranges: how many addresses each gives, its first and last, or why it is refused.
TEST(Options, ScanRanges) {
    const struct {
        std::vector<std::string> args;  // after --model 6
        std::string refusal;            // empty: accepted
        std::size_t count = 0;
        std::string first = {};
        std::string last = {};
    } cases[] = {
        {{"--scan", "192.0.2.0/24"}, "", 254, "192.0.2.1", "192.0.2.254"},
        {{"--scan=192.0.2.0/30", "--json", "--jobs", "3"}, "", 2, "192.0.2.1", "192.0.2.2"},
        {{"--scan", "192.0.2.4/31"}, "", 2, "192.0.2.4", "192.0.2.5"},
        {{"--scan", "192.0.2.7/32"}, "", 1, "192.0.2.7", "192.0.2.7"},
        {{"--scan", "192.0.2.10-192.0.2.99"}, "", 90, "192.0.2.10", "192.0.2.99"},
        {{"--scan", "192.0.2.9-192.0.2.9"}, "", 1, "192.0.2.9", "192.0.2.9"},
        // A .0 inside a range is no target; the ranges' common addresses count once.
        {{"--scan", "192.0.2.250-192.0.3.5"}, "", 11, "192.0.2.250", "192.0.3.5"},
        {{"--scan", "10.1.0.0/22"}, "", 1019, "10.1.0.1", "10.1.3.254"},
        {{"--scan", "192.0.2.0/24", "--scan", "192.0.2.10-192.0.2.99", "--scan", "192.0.2.0/24"},
         "",
         254,
         "192.0.2.1",
         "192.0.2.254"},
        {{"--scan", "10.0.0.0/16", "--scan", "10.1.0.1-10.1.1.1", "--scan", "10.1.1.2/32"},
         "",
         65536,
         "10.0.0.1",
         "10.1.1.2"},
        {{"--scan", "10.0.0.0/16", "--scan", "10.1.0.1-10.1.1.1", "--scan", "10.1.1.2-10.1.1.3"},
         "more than 65,536 addresses in all"},
        {{"--scan", "10.0.0.0/15"}, "10.0.0.0/15: more than 65,536"},
        {{"--scan", "127.0.0.1/8"}, "127.0.0.1/8: more than 65,536"},
        {{"--scan", "10.0.0.1-10.1.0.1"}, "more than 65,536"},
        {{"--scan", "127.0.0.0/24"}, "127.0.0.1 cannot be a TCP/IP target"},
        {{"--scan", "126.255.255.250-127.0.0.2"}, "127.0.0.1 cannot be a TCP/IP target"},
        {{"--scan", "224.0.0.0/30"}, "224.0.0.1 cannot be a TCP/IP target"},
        {{"--scan", "0.0.0.0/30"}, "0.0.0.1 cannot be a TCP/IP target"},
        {{"--scan", "192.0.2.0/31"}, "192.0.2.0 cannot be a TCP/IP target"},
        {{"--scan", "192.0.2.0-192.0.2.9"}, "192.0.2.0 cannot be a TCP/IP target"},
        {{"--scan", "192.0.1.9-192.0.2.0"}, "192.0.2.0 cannot be a TCP/IP target"},
        {{"--scan", "192.0.2.5/24"}, "not the first address of a /24 block: 192.0.2.0/24"},
        {{"--scan", "192.0.2.9-192.0.2.5"}, "its first address is above its last"},
        {{"--scan", "192.0.2.0/33"}, "the prefix 0 to 32"},
        {{"--scan", "192.0.2/24"}, "a block is A.B.C.D/PREFIX"},
        {{"--scan", "192.0.2.0/"}, "a block is A.B.C.D/PREFIX"},
        {{"--scan", "192.0.2.256-192.0.2.1"}, "a range is FIRST-LAST"},
        {{"--scan", "192.0.2.1-"}, "a range is FIRST-LAST"},
        {{"--scan", "192.0.2.9"}, "a block A.B.C.D/PREFIX or a pair FIRST-LAST"},
        {{"--scan", "192.0.2.\x1b[2J/24"}, "192.0.2.\\x1b[2J/24"},
        {{"--scan", ""}, "--scan needs a value"},
        {{"--scan", "192.0.2.0/30", "--ipx", "00000001:00D1F0123456"}, "IPX is not scanned"},
        {{"--scan", "192.0.2.0/30", "--tcp", "192.0.2.1"}, "--tcp does not go with --scan"},
        {{"--scan", "192.0.2.0/30", "--targets", "t"}, "--targets does not go with --scan"},
        {{"--scan", "192.0.2.0/30", "--query"}, "--query does not go with --scan"},
        {{"--scan", "192.0.2.0/30", "--yes"}, "--yes does not go with --scan"},
        {{"--scan", "192.0.2.0/30", "--skip-current"}, "--skip-current does not go"},
        {{"--scan", "192.0.2.0/30", "--max-failures", "1"}, "--max-failures does not go"},
        {{"--scan", "192.0.2.0/30", "--failed", "f"}, "--failed does not go with --scan"},
        {{"--scan", "192.0.2.0/30", "--log", "l"}, "--log does not go with --scan"},
        {{"--scan", "192.0.2.0/30", "--dir", "d"}, "--dir does not go with --scan"},
        {{"--tcp", "192.0.2.1", "--write-targets", "f"}, "--write-targets goes with --scan"},
        {{"--scan", "192.0.2.0/30", "--write-targets", "f", "--write-targets", "g"},
         "--write-targets is given twice"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--model", "6"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        cli::Options options;
        const cli::Refusal refusal = Parse(args, options);
        SCOPED_TRACE(c.args.at(1) + (c.args.size() > 2 ? " " + c.args.at(2) : ""));
        if (c.refusal.empty()) {
            ASSERT_FALSE(refusal.Refused()) << refusal.text;
            ASSERT_EQ(options.scanAddresses.size(), c.count);
            EXPECT_EQ(options.scanAddresses.front().text, c.first);
            EXPECT_EQ(options.scanAddresses.back().text, c.last);
            EXPECT_TRUE(std::is_sorted(
                options.scanAddresses.begin(), options.scanAddresses.end(),
                [](const cli::Target& a, const cli::Target& b) { return a.octets < b.octets; }));
        } else {
            EXPECT_NE(refusal.text.find(c.refusal), std::string::npos) << refusal.text;
        }
    }
}

TEST(Options, TargetsFiles) {
    ScratchDir dir;
    std::string manyLines;
    for (int i = 0; i < 100000; ++i) {
        manyLines += "tcp 10." + std::to_string(1 + i / 62500) + "." +
                     std::to_string(i / 250 % 250) + "." + std::to_string(1 + i % 250) + "\n";
    }
    const struct {
        std::string text;
        std::size_t targets;  // read; 0: refused
        std::string refusal;
    } cases[] = {
        {"tcp 10.0.0.1\r\nipx 00000001:00D1F0123456\r\n# note\r\n\r\n", 2, ""},
        {"tcp 10.0.0.1  # first\n\ttcp 10.0.0.2\n", 2, ""},
        {"tcp 10.0.0.1\ntcp 10.0.0.2\ntcp 10.0.0.3\ntcp 10.0.0.02\ntcp 10.0.0.1\n", 0,
         ":4: 10.0.0.02: the same print server as line 2"},
        {"ipx 00000001:00d1f0123456\ntcp 10.0.0.1\nipx 00000001:00D1F0123456\n", 0,
         ":3: 00000001:00D1F0123456: the same print server as line 1"},
        {"tcp 10.0.0.1\nipx 00000002:00D1F0123456\nipx 00000001:00D1F0123456\n", 3, ""},
        {"ipx 00000001:00D1F0123456\nipx 00000001:00D1F0123457\n", 2, ""},
        // n log n: a campus's file with its one repeat at the end.
        {manyLines + "tcp 10.1.0.7\n", 0, ":100001: 10.1.0.7: the same print server as line 7"},
        {manyLines, 100000, ""},
        {"tcp 10.0.0.1\n" + std::string(cli::kMaxTargetLineBytes + 1, ' ') + "\n", 0,
         ":2: a line longer than 1024 bytes"},
        {"tcp 10.0.0.1 extra\n", 0, ":1: a target is"},
        {"# nothing\n", 0, "names no target"},
        {"\xEF\xBB\xBFtcp 10.0.0.1\n", 1, ""},
        {std::string("tcp 10.0.0.1\ntcp 10.0.0.2\0\n", 27), 0, ":2: a NUL byte"},
        {std::string("tcp 10.0.0.1 # ") + '\0' + "\xff\n", 1, ""},
        {"tcp 10.0.0.1 #" + std::string(cli::kMaxTargetLineBytes - 14, '-') + "\r\n", 1, ""},
        // What a refused line holds reaches the terminal only as text.
        {"tcp 10.0.\x1b[2J\x07.1\n", 0, ":1: 10.0.\\x1b[2J\\x07.1: octet 3 of 10.0.\\x1b[2J"},
        {"ipx 1:\xc2\x9b\xe3\x81\x82\xff\n", 0, ":1: 1:\\xc2\\x9b\xe3\x81\x82\\xff"},
        {"ipx 00000001:FFFFFFFFFFFF\n", 0, ":1: 00000001:FFFFFFFFFFFF: the MAC address"},
    };
    for (const auto& c : cases) {
        const std::string path = (dir.path() / "targets").string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        std::vector<cli::Target> targets;
        const cli::Refusal refusal = cli::ReadTargets(path, targets);
        const std::string head = c.text.substr(0, 60);
        if (c.targets != 0) {
            EXPECT_FALSE(refusal.Refused()) << head << refusal.text;
            EXPECT_EQ(targets.size(), c.targets) << head;
        } else {
            EXPECT_NE(refusal.text.find(c.refusal), std::string::npos) << head << refusal.text;
        }
    }
    // Endless or too large input is refused after the bound, not read into memory for ever.
    // Windows reads no device at all (Wine finds its /dev/zero all the same): a serial port's
    // reading would wait.
    std::vector<cli::Target> targets;
    EXPECT_NE(cli::ReadTargets("/dev/zero", targets)
                  .text.find(test::HasDeviceNames() ? "it is a device, not a regular file"
                                                    : "larger than 16 MiB"),
              std::string::npos);
    EXPECT_NE(cli::ReadTargets(dir.path().string(), targets).text.find("is a folder"),
              std::string::npos);
}

// Models 2 and 4 cannot have their version verified over TCP/IP: --list-models marks them, and
// the note of a report over TCP/IP (the query's row and JSON) says why; over IPX, and for the
// other models, there is nothing to say.
TEST(Options, ModelsWhoseVersionCannotBeVerifiedOverTcp) {
    const std::string list = cli::ModelList();
    for (const char* row : {"    2* 5101  no", "    4* 0601  no", "    3  5100  no"}) {
        EXPECT_NE(list.find(row), std::string::npos) << row << "\n" << list;
    }
    EXPECT_NE(list.find("* version reply cannot be verified over TCP/IP"), std::string::npos);
    EXPECT_EQ(cli::UnverifiableNote(2, false, Language::kEnglish),
              "model 2's version reply cannot be verified over TCP/IP (byte 7 of its model code "
              "5101 is 1, which marks a reply not valid); --allow-unverified downloads to it");
    EXPECT_NE(cli::UnverifiableNote(4, false, Language::kEnglish).find("0601"), std::string::npos);
    for (const auto& [model, ipx] :
         {std::pair{2, true}, std::pair{4, true}, std::pair{1, false}, std::pair{3, false},
          std::pair{5, false}, std::pair{6, false}}) {
        EXPECT_EQ(cli::UnverifiableNote(model, ipx, Language::kJapanese), "")
            << model << (ipx ? " over IPX" : "");
    }
    // The note belongs to a run that no valid reply verified: a print server of model 3 that
    // answered a model-2 query validly has nothing to explain.
    cli::Report report;
    report.model = 2;
    ASSERT_FALSE(cli::ParseTarget(false, "192.0.2.10", report.target).Refused());
    cli::NoteIfUnverified(report);
    EXPECT_NE(report.note.find("cannot be verified"), std::string::npos);
    report.note.clear();
    report.run.deviceVersion = "1.10";
    cli::NoteIfUnverified(report);
    EXPECT_EQ(report.note, "");
}

TEST(Report, SummaryTable) {
    std::vector<cli::Report> reports(3);
    const char* addresses[] = {"192.0.2.10", "192.0.2.11", "192.0.2.12"};
    for (std::size_t i = 0; i < reports.size(); ++i) {
        ASSERT_FALSE(cli::ParseTarget(false, addresses[i], reports[i].target).Refused());
    }
    reports[0].lastMessage = 110;
    reports[0].seconds = 27.6;
    reports[1].run.alreadyCurrent = true;
    reports[2].run.result = result::kWrongModel;
    reports[2].run.messages = {{112, Icon::Error}};
    reports[2].lastMessage = 57631;
    reports[2].note = "its process was ended by signal 9";
    const std::string table = cli::SummaryTable(reports);
    EXPECT_NE(table.find("tcp 192.0.2.10       0      110     27.6  The download has finished.\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("tcp 192.0.2.11       0        0      0.0  already current\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("  first: 112 "), std::string::npos) << table;
    EXPECT_NE(table.find("  its process was ended by signal 9\n"), std::string::npos) << table;
    EXPECT_NE(table.find("2 of 3 downloads succeeded (1 already current)\n"), std::string::npos);

    for (cli::Report& report : reports) {
        const cli::Target target = report.target;
        report = cli::Report();
        report.target = target;
        report.query = true;
    }
    reports[0].run.deviceModelCode = "aa01";
    reports[0].run.deviceVersion = "1.10";
    reports[1].run.result = result::kConnectionFailed;
    reports[1].lastMessage = 112;
    reports[2].verdict = cli::Verdict::kNotStarted;
    const std::string inventory = cli::SummaryTable(reports);
    EXPECT_NE(inventory.find("tcp 192.0.2.10  aa01     1.10      0.0\n"), std::string::npos)
        << "no trailing spaces after an answer:\n"
        << inventory;
    EXPECT_NE(inventory.find("tcp 192.0.2.12     -        -        -  not started\n"),
              std::string::npos)
        << inventory;
    EXPECT_NE(inventory.find("1 of 3 print servers answered\n"), std::string::npos) << inventory;
}

// In Japanese the table's words and columns follow (two columns for each Japanese character),
// while the JSON stays the same bytes: its message texts Japanese, its notes English.
TEST(Report, TableFollowsTheLanguageJsonDoesNot) {
    std::vector<cli::Report> reports(2);
    ASSERT_FALSE(cli::ParseTarget(false, "192.0.2.10", reports[0].target).Refused());
    ASSERT_FALSE(cli::ParseTarget(false, "192.0.2.11", reports[1].target).Refused());
    reports[0].lastMessage = 110;
    reports[0].seconds = 27.6;
    reports[1].run.alreadyCurrent = true;
    SetLanguage(Language::kJapanese);
    reports[1].SetNote("cli.note.stopped", {"2"});
    const std::string table = cli::SummaryTable(reports);
    const std::string japaneseJson = cli::ToJson(reports[0]) + cli::ToJson(reports[1]);
    SetLanguage(Language::kEnglish);
    for (const std::string& row :
         {"対象" + std::string(14, ' ') + "結果  メッセージ       秒\n",
          std::string("tcp 192.0.2.10       0      110     27.6  ダウンロードが終了しました。\n"),
          std::string("  最新のバージョンです  --max-failures 2 で停止しました\n"),
          std::string("ダウンロード 2 件中 2 件が成功しました (うち 1 件は最新のバージョン)\n")}) {
        EXPECT_NE(table.find(row), std::string::npos) << row << "\n" << table;
    }
    EXPECT_EQ(cli::ToJson(reports[0]) + cli::ToJson(reports[1]), japaneseJson);
    EXPECT_NE(
        japaneseJson.find(
            R"("text":"ダウンロードが終了しました。\nプリンタの電源をリセットしてください。")"),
        std::string::npos)
        << japaneseJson;
    EXPECT_NE(japaneseJson.find(R"("note":"the fleet stopped at --max-failures 2")"),
              std::string::npos)
        << japaneseJson;
}

TEST(Confirmation, YesNeverConfirmsAnUnverifiedPrintServer) {
    // The engine over a scripted print server, confirmed by the command line's port as --yes
    // does. A confirmed download ends at once at an unanswered mode switch.
    ScratchDir dir;
    dir.File("RS.BIN", test::Join({test::HeaderRecord(),
                                   test::DataRecord(0x008800, {0xAA, 0x01, 0x01, 0x10, 0, 0, 0, 0}),
                                   test::DataRecord(0x20000, 32), test::EndRecord()}));
    WorkingDir cwd(dir.path());
    const test::Reply invalid(0, {5, 1, 1, 1, 1, 1, 0xAA, 0x01, 1, 0x10});
    const test::Reply failed(-1);
    const struct {
        const char* name;
        std::vector<test::Reply> replies;  // none: a valid reply of version 1.10
        bool allowUnverified;
        bool skipCurrent;
        bool confirmed;
        bool unverified;
        bool current;
    } rows[] = {
        {"valid", {}, false, false, true, false, false},
        {"invalid", {invalid, invalid, invalid}, false, false, false, true, false},
        {"invalid, allowed", {invalid, invalid, invalid}, true, false, true, false, false},
        {"unanswered", {failed, failed, failed}, false, false, false, true, false},
        {"invalid, --skip-current", {invalid, invalid, invalid}, false, true, false, true, false},
        {"valid, --skip-current", {}, false, true, false, false, true},
    };
    for (const auto& row : rows) {
        test::ScriptedTransport transport;
        for (const test::Reply& reply : row.replies) {
            transport.Queue(test::Op::VantrelVersion, reply);
        }
        transport.Queue(test::Op::JampEprom, test::Reply(0, {0xFF}));
        std::FILE* out = std::tmpfile();
        cli::ConsolePort port(true, out);
        port.allowUnverified = row.allowUnverified;
        cli::Target target;
        ASSERT_FALSE(cli::ParseTarget(false, "192.0.2.1", target).Refused());
        DownloadRequest request = cli::RequestFor(target, 6);
        request.skipCurrent = row.skipCurrent;
        DownloadEngine engine(transport, port);
        const DownloadOutcome outcome = engine.Run(request);
        std::fclose(out);
        EXPECT_EQ(outcome.result, row.confirmed ? result::kNoAnswerToModeSwitch
                                  : row.current ? result::kSuccess
                                                : result::kNotStarted)
            << row.name;
        EXPECT_EQ(outcome.alreadyCurrent, row.current) << row.name;
        EXPECT_EQ(transport.CallsOf(test::Op::JampEprom).size(), row.confirmed ? 1u : 0u)
            << row.name;
        EXPECT_EQ(port.Unverified(), row.unverified) << row.name;
    }
}

// The console's pump keeps the bound every event pump promises: a call with nothing to dispatch
// returns by its bound (the margin is for a loaded machine), never at the clock's next second.
TEST(ConsolePort, DispatchKeepsItsWaitBound) {
    std::FILE* out = std::tmpfile();
    cli::ConsolePort port(true, out);
    for (const int bound : {1, 5, 50}) {
        // Several calls in a row: a pump that waited for the next whole second would take a
        // whole second from the second call on.
        for (int call = 0; call < 3; ++call) {
            const std::int64_t start = EventPump::SteadyMilliseconds();
            port.DispatchEvents(bound);
            EXPECT_LT(EventPump::SteadyMilliseconds() - start, bound + 300)
                << "bound " << bound << ", call " << call;
        }
    }
    std::fclose(out);
}

TEST(Report, JsonAndLogForms) {
    cli::Report report;
    ASSERT_FALSE(cli::ParseTarget(false, "192.0.2.10", report.target).Refused());
    report.model = 6;
    report.run.result = result::kWrongModel;
    report.run.messages = {{117, Icon::Warning}, {112, Icon::Error}, {57631, Icon::Error}};
    report.lastMessage = 57631;
    report.run.fileVersion = "01.10";
    report.seconds = 2.5;
    report.start = "2026-12-07T10:00:00Z";
    report.end = "2026-12-07T10:00:02Z";
    const std::string json = cli::ToJson(report);
    const auto parsed = nlohmann::json::parse(json);
    EXPECT_EQ(parsed["target"], "tcp 192.0.2.10");
    EXPECT_EQ(parsed["outcome"], "failed");
    EXPECT_EQ(parsed["firstMessage"]["number"], 112);
    EXPECT_EQ(parsed["lastMessage"]["number"], 57631);
    EXPECT_TRUE(parsed["versionBefore"].is_null());
    EXPECT_TRUE(parsed["versionAfter"].is_null());

    cli::Report back;
    ASSERT_TRUE(cli::FromJson(json, back));
    back.target = report.target;  // the parent knows its targets and their model
    back.model = report.model;
    EXPECT_EQ(cli::ToJson(back), json);
    EXPECT_EQ(cli::LogLine(report).substr(20),
              " target=tcp:192.0.2.10 model=6 file=1.10 before=- result=-14 message=57631 "
              "first=112 outcome=failed sha256=-");
    // The sums of the files sent: the companion's for a two-file model alone, in both forms,
    // and a line written before the sums were logged still reads, without them.
    {
        cli::Report sums = report;
        sums.model = 2;
        sums.run.fileSha256 = std::string(64, 'a');
        sums.run.companionSha256 = std::string(64, 'b');
        const std::string sumsLine = cli::LogLine(sums);
        EXPECT_TRUE(sumsLine.ends_with(" outcome=failed sha256=" + std::string(64, 'a') +
                                       " companion-sha256=" + std::string(64, 'b')))
            << sumsLine;
        const auto sumsJson = nlohmann::json::parse(cli::ToJson(sums));
        EXPECT_EQ(sumsJson["fileSha256"], std::string(64, 'a'));
        EXPECT_EQ(sumsJson["companionSha256"], std::string(64, 'b'));
        EXPECT_TRUE(parsed["fileSha256"].is_null());
        EXPECT_TRUE(parsed["companionSha256"].is_null());
        cli::Report readBack;
        ASSERT_TRUE(cli::FromLogLine(sumsLine, readBack));
        EXPECT_EQ(readBack.run.companionSha256, std::string(64, 'b'));
        ASSERT_TRUE(cli::FromJson(cli::ToJson(sums), readBack));
        EXPECT_EQ(readBack.run.fileSha256, std::string(64, 'a'));
        ASSERT_TRUE(
            cli::FromLogLine("2026-12-07T10:00:02Z target=tcp:192.0.2.10 model=2 file=- "
                             "before=- result=-6 message=0 first=0 outcome=not-started",
                             readBack));
        EXPECT_EQ(readBack.run.fileSha256, "");
    }
    EXPECT_FALSE(parsed["modeSwitchSent"].get<bool>());
    // A failure once the switch to download mode was sent says so, also from a child's report.
    report.run.modeSwitchSent = true;
    ASSERT_TRUE(cli::FromJson(cli::ToJson(report), back));
    EXPECT_TRUE(nlohmann::json::parse(cli::ToJson(back))["modeSwitchSent"].get<bool>());
    report.run.modeSwitchSent = false;

    report.run.result = result::kSuccess;
    report.run.alreadyCurrent = true;
    report.run.deviceVersion = "1.10";
    EXPECT_EQ(nlohmann::json::parse(cli::ToJson(report))["versionAfter"], "1.10");
    report.run.alreadyCurrent = false;
    // After a download: the file's version as the print server will report it.
    EXPECT_EQ(nlohmann::json::parse(cli::ToJson(report))["versionAfter"], "1.10");
    report.run.fileVersion = "0A.0F";
    // Every version in the one form, whichever end gave it.
    EXPECT_EQ(nlohmann::json::parse(cli::ToJson(report))["versionAfter"], "a.0f");
    EXPECT_EQ(nlohmann::json::parse(cli::ToJson(report))["fileVersion"], "a.0f");
    EXPECT_NE(cli::LogLine(report).find(" file=a.0f before=1.10 "), std::string::npos);
    // Not started: no times, not logged, and said so, whatever result code it counts as.
    cli::Report idle;
    idle.verdict = cli::Verdict::kNotStarted;
    idle.run.result = result::kCancelled;
    const auto notStarted = nlohmann::json::parse(cli::ToJson(idle));
    EXPECT_EQ(notStarted["outcome"], "not-started");
    EXPECT_TRUE(notStarted["start"].is_null());
    EXPECT_FALSE(notStarted["logged"].get<bool>());
    idle.query = true;
    idle.verdict.reset();
    idle.run.result = result::kSuccess;
    EXPECT_EQ(nlohmann::json::parse(cli::ToJson(idle))["outcome"], "query-succeeded");
    EXPECT_NE(cli::LogLine(idle).find(" outcome=query-succeeded"), std::string::npos);

    // Each outcome that says why nothing was sent reads back from a child's report, and from
    // its log line, as it was.
    cli::Report unverified = report;
    unverified.run.result = result::kNotStarted;
    unverified.verdict = cli::Verdict::kUnverified;
    EXPECT_EQ(nlohmann::json::parse(cli::ToJson(unverified))["outcome"], "unverified");
    cli::Report fromChild;
    ASSERT_TRUE(cli::FromJson(cli::ToJson(unverified), fromChild));
    EXPECT_EQ(fromChild.verdict, cli::Verdict::kUnverified);
    const std::string line = cli::LogLine(unverified);
    EXPECT_NE(line.find(" result=-6 message=57631 first=112 outcome=unverified"), std::string::npos)
        << line;
    cli::Report fromLog;
    ASSERT_TRUE(cli::FromLogLine(line, fromLog));
    EXPECT_EQ(std::tuple(static_cast<int>(fromLog.run.result), fromLog.lastMessage,
                         fromLog.FirstMessage(), fromLog.run.fileVersion, fromLog.run.deviceVersion,
                         fromLog.verdict == cli::Verdict::kUnverified),
              std::tuple(-6, 57631, 112, std::string("a.0f"), std::string("1.10"), true));
    cli::Report failedStart;
    failedStart.verdict = cli::Verdict::kStartFailed;
    failedStart.run.result = result::kDownloadFailed;
    EXPECT_NE(cli::LogLine(failedStart).find(" result=-7 message=0 first=0 outcome=start-failed"),
              std::string::npos);
    // Stopped by --max-failures: its own outcome, which reads back from both forms.
    cli::Report stopped;
    stopped.verdict = cli::Verdict::kStopped;
    stopped.run.result = result::kNotStarted;
    cli::Report stoppedBack;
    ASSERT_TRUE(cli::FromJson(cli::ToJson(stopped), stoppedBack));
    ASSERT_TRUE(cli::FromLogLine(cli::LogLine(stopped), fromLog));
    for (const cli::Report& r : {stopped, stoppedBack, fromLog}) {
        EXPECT_EQ(r.GetVerdict(), cli::Verdict::kStopped);
        EXPECT_FALSE(r.Succeeded());
    }
    EXPECT_NE(cli::LogLine(stopped).find(" result=-6 message=0 first=0 outcome=stopped"),
              std::string::npos);
    for (const char* notALine : {"", "target=tcp:192.0.2.1 result=x message=0 first=0 outcome=a",
                                 "result=0 message=0 first=0", "result=0 message=1 outcome=a"}) {
        EXPECT_FALSE(cli::FromLogLine(notALine, fromLog)) << notALine;
    }

    // What a child hands its parent is read without trust.
    for (const char* hostile : {"", "[]", "{", "null", R"({"result":"0","seconds":1})",
                                R"({"result":0})", R"({"result":0,"seconds":1,"query":"yes"})",
                                R"({"result":0,"seconds":1,"firstMessage":{"number":"112"}})",
                                R"({"result":0,"seconds":1,"logged":3,"start":7})"}) {
        cli::Report read;
        EXPECT_NO_THROW(cli::FromJson(hostile, read)) << hostile;
    }
    cli::Report read;
    EXPECT_FALSE(cli::FromJson(R"({"result":"0","seconds":1})", read));
    EXPECT_FALSE(cli::FromJson("[]", read));
}

}  // namespace
}  // namespace vexil::test
