// vexil-download end to end: the real command, library and simulators inside the private
// network namespace of in_netns.sh, where all of 192.0.2.0/24 is local, so each case has a
// simulator on an address of its own and the slow downloads (10, 10 and 5 seconds of waiting)
// run side by side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/Download.h"
#include "platform/Console.h"
#include "tests/cli/Command.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

struct Case {
    std::string name;
    std::vector<std::string> sim;   // simulator options; none: no simulator
    std::vector<std::string> args;  // after --model and --dir; "@" is the case's own address
    int status;
    std::vector<std::string> errHas;
    std::vector<std::string> errLacks;
    bool flashWritten;
};

std::string Address(int host) {
    return "192.0.2." + std::to_string(host);
}

TEST(VexilDownload, RefusedEntriesSendNothing) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--model", "6", "--tcp", "127.0.0.1"}, "error 57620 "},
        {{"--model", "6", "--tcp", "0.1.2.3"}, "error 57611 "},
        {{"--model", "6", "--tcp", "10..2.3"}, "error 57605 "},
        {{"--model", "6", "--tcp", "224.0.0.1"}, "error 118 "},
        {{"--model", "6", "--tcp", "10.0.0.0"}, "error 119 "},
        {{"--model", "6", "--tcp", "10.0.256.1"}, "error 118 "},
        {{"--model", "6", "--ipx", "00000001:00D1F01234"}, "error 57606 "},
        {{"--model", "6", "--ipx", "0001:00D1F0123456"}, "8 hexadecimal digits"},
        {{"--model", "6", "--tcp", "10.0.x.1"}, "not a decimal number"},
        {{"--model", "7", "--tcp", "10.0.0.1"}, "--model"},
        {{"--model", "6"}, "give one target"},
        {{"--model", "6", "10.0.0.1"}, "unexpected argument 10.0.0.1"},
        {{"--model", "6", "--version"}, "unknown option --version"},
        {{"--model", "6", "--targets", "@twice"},
         "twice:3: 10.0.0.01: the same print server as line 1"},
        {{"--model", "6", "--targets", "@twice", "--jobs", "0"}, "--jobs takes a number"},
        {{"--model", "6", "--targets", "/dev/zero"}, "larger than 16 MiB"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir", "a", "--dir", "b"}, "given twice"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", ""}, "not an empty one"},
        {{"--model", "6", "--ipx", "00000001:FFFFFFFFFFFF"}, "the broadcast address"},
        // What records a download is checked before anything is sent, and never waited on.
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", "@fifo"}, "fifo: it is a FIFO"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", "@"}, ": it is a folder"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--failed", "@fifo"}, "it is a FIFO"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", "@none/log"}, "No such file"},
        // The log, the --failed file and the targets file are three files.
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", "@x", "--failed", "@./x"},
         "--log and --failed name the same file"},
        {{"--model", "6", "--targets", "@one", "--log", "@one"},
         "--log and --targets name the same file"},
        // Also through a link to a file not made yet: the --failed list would overwrite the log.
        {{"--model", "6", "--tcp", "10.0.0.1", "--log", "@later.log", "--failed", "@dangling"},
         "--log and --failed name the same file"},
        // Nor may a record be the file standard output goes to: replaced, it takes the table.
        {{"--model", "6", "--scan", "192.0.2.0/30", "--write-targets", "@refused.out"},
         "--write-targets names the file standard output goes to"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--failed", "@refused.out"},
         "--failed names the file standard output goes to"},
        // Nor the model's download files: a record written over one destroys the image.
        {{"--model", "6", "--tcp", "10.0.0.1", "--dir", "@", "--failed", "@RS.BIN"},
         "--failed names the download file RS.BIN"},
        {{"--model", "2", "--tcp", "10.0.0.1", "--log", "PS2B.BIN"},
         "--log names the download file PS2B.BIN"},
        // A refused line's bytes reach the terminal only as text.
        {{"--model", "6", "--targets", "@escape"}, "escape:1: 10.0.\\x1b[2J.1: octet 3"},
        // A fleet checks its folder once, before any download starts.
        {{"--model", "6", "--targets", "@one", "--dir", "@none", "--yes"}, "cannot use the folder"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--failed", "@unmade", "--dir", "@none"},
         "cannot use the folder"},
        // A checksums file that does not read as one, before anything is sent.
        {{"--model", "6", "--tcp", "10.0.0.1", "--checksums", "@"}, ": it is a folder"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--checksums", "@one"}, "one:1: not a checksum"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--checksums", "@unmade"}, "No such file"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--checksums", "@empty"}, "lists no SHA-256"},
        {{"--model", "6", "--tcp", "10.0.0.1", "--query", "--checksums", "@one"},
         "--checksums goes with a download or with --query --dir"},
        // Nor may a record be the approved sums, and a fleet's children read them again.
        {{"--model", "6", "--tcp", "10.0.0.1", "--checksums", "@sums", "--log", "@sums"},
         "--log and --checksums name the same file"},
        {{"--model", "6", "--targets", "@one", "--checksums", "@sums", "--failed", "@./sums"},
         "--failed and --checksums name the same file"},
        {{"--model", "6", "--targets", "@one", "--checksums", "@fifo"},
         "fifo must be a regular file"},
    };
    ScratchDir dir;
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0644), 0);
    std::ofstream(dir.path() / "one") << "tcp 10.0.0.1\n";
    std::ofstream(dir.path() / "twice")
        << "tcp 10.0.0.1\nipx 00000001:00D1F0123456\ntcp 10.0.0.01\n";
    std::ofstream(dir.path() / "escape") << "tcp 10.0.\x1b[2J.1\n";
    std::ofstream(dir.path() / "empty") << "";
    std::ofstream(dir.path() / "sums") << std::string(64, 'a') << "  RS.BIN\n";
    std::filesystem::create_symlink("later.log", dir.path() / "dangling");
    for (auto c : cases) {
        std::string line;
        for (std::string& arg : c.args) {
            if (arg.starts_with("@")) {
                arg = (dir.path() / arg.substr(1)).string();
            }
            if (arg.ends_with("/")) {
                arg.pop_back();
            }
            line += arg + " ";
        }
        Command command(c.args, std::vector<std::string>{}, dir.path(), "refused");
        EXPECT_EQ(command.Wait(10), 64) << line;
        EXPECT_NE(command.Err().find(c.err), std::string::npos) << command.Err();
    }
    // The reason under a refusal in the reader's language: English with no byte beyond ASCII,
    // Japanese with no English reason inside.
    const struct {
        std::string option, english, japanese;
    } reasons[] = {
        {"--log", ": it is a folder\n", ": フォルダです\n"},
        {"--failed", "fifo: it is a FIFO\n", ": FIFO です\n"},
        {"--log", "none: No such file or directory\n", ": ファイルまたはフォルダがありません\n"},
        {"--dir", "one: Not a directory\n", ": フォルダではありません\n"},
    };
    const std::string paths[] = {"", "fifo", "none/log", "one"};
    for (std::size_t i = 0; i < std::size(reasons); ++i) {
        const auto& r = reasons[i];
        const std::vector<std::string> args = {
            "--model", "6", "--tcp", "10.0.0.1", r.option, (dir.path() / paths[i]).string()};
        Command english(args, kEnglish, dir.path(), "reason.en");
        Command japanese(args, kJapaneseByLang, dir.path(), "reason.ja");
        EXPECT_EQ(english.Wait(10), 64);
        EXPECT_EQ(japanese.Wait(10), 64);
        EXPECT_NE(english.Err().find(r.english), std::string::npos) << english.Err();
        const std::string englishErr = english.Err();
        EXPECT_TRUE(std::all_of(englishErr.begin(), englishErr.end(), [](char b) {
            return static_cast<unsigned char>(b) < 0x80;
        })) << englishErr;
        EXPECT_NE(japanese.Err().find(r.japanese), std::string::npos) << japanese.Err();
    }
    // A refused run makes no file.
    for (const char* name : {"later.log", "unmade", "x", "RS.BIN", "PS2B.BIN"}) {
        EXPECT_FALSE(std::filesystem::exists(dir.path() / name)) << name;
    }
}

// A scan that finds no print server of the model leaves the last targets file as it was; one
// that cannot use its sockets says the system's reason.
TEST(VexilDownload, ScanKeepsTheLastTargetsAndSaysWhyItCannotRun) {
    ScratchDir dir;
    const std::string targets = (dir.path() / "found.txt").string();
    std::ofstream(targets) << "tcp 192.0.2.9\n";
    Command empty({"--model", "6", "--scan", "192.0.2.200-192.0.2.201", "--write-targets", targets},
                  std::vector<std::string>{}, dir.path(), "empty");
    EXPECT_EQ(empty.Wait(20), 13) << empty.Err();
    EXPECT_EQ(Slurp(targets), "tcp 192.0.2.9\n");
    EXPECT_NE(empty.Err().find("no print server of the model answered: " + targets +
                               " is left as it was"),
              std::string::npos)
        << empty.Err();

    CommandSetup few;
    few.descriptorLimit = 8;
    Command starved({"--model", "6", "--scan", "10.1.0.0/22"}, few, dir.path(), "starved");
    EXPECT_EQ(starved.Wait(20), 1) << starved.Err();
    EXPECT_NE(starved.Err().find(
                  "the scan cannot use a UDP socket: " + std::string(std::strerror(EMFILE)) + "\n"),
              std::string::npos)
        << starved.Err();
}

TEST(VexilDownload, ClosedStandardErrorReopenedBeforeAnyFile) {
    // Started with standard error closed and held reading a targets FIFO: had it not opened
    // /dev/null there first, the FIFO would have taken descriptor 2, and its messages after it.
    ScratchDir dir;
    const std::string fifo = (dir.path() / "targets").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    CommandSetup setup;
    setup.closed = {2};
    // Its writer, held open (read and write: no wait for a reader), lets the program's open go
    // through, and the program waits for its line.
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string log = (dir.path() / "run.log").string();
    Command command({"--model", "6", "--targets", fifo, "--log", log}, setup, dir.path(), "closed");
    const std::string proc = "/proc/" + std::to_string(command.Pid());
    const std::string fds = proc + "/fd/";
    auto opened = [&fds](int fd) {
        std::error_code error;
        return std::filesystem::read_symlink(fds + std::to_string(fd), error).string();
    };
    const bool held = Eventually(
        [&] {
            // Once it runs the program: until then the child holds the test's descriptors.
            if (Slurp(proc + "/comm") != "vexil-download\n") {
                return false;
            }
            for (int fd = 0; fd < 8; ++fd) {
                if (opened(fd) == fifo) {
                    return true;
                }
            }
            return false;
        },
        10, "vexil-download to open the targets FIFO");
    EXPECT_EQ(opened(2), "/dev/null");
    EXPECT_TRUE(held);
    const std::string line = "tcp 10.0.0.1 extra\n";
    EXPECT_EQ(::write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::close(writer);
    EXPECT_EQ(command.Wait(10), 64);
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(VexilDownload, FleetChecksItsFileOnceAndOutputMustArrive) {
    ScratchDir dir;
    std::ofstream(dir.path() / "two") << "tcp 10.0.0.1\ntcp 10.0.0.2\n";
    // A folder without the model's download file: one check, nothing sent, every target to be
    // run again.
    const std::string failed = (dir.path() / "again").string();
    Command fleet({"--model", "6", "--targets", (dir.path() / "two").string(), "--dir",
                   dir.path().string(), "--yes", "--failed", failed},
                  std::vector<std::string>{}, dir.path(), "nofile");
    EXPECT_EQ(fleet.Wait(20), 6) << fleet.Err();
    EXPECT_EQ(Count(fleet.Err(), "warning 57604 "), 1u) << fleet.Err();
    EXPECT_NE(fleet.Err().find("nothing was sent to any print server"), std::string::npos);
    EXPECT_EQ(Slurp(failed), "tcp 10.0.0.1\ntcp 10.0.0.2\n");
    // So does an inventory given the folder, to report the file's version.
    Command query({"--model", "6", "--targets", (dir.path() / "two").string(), "--dir",
                   dir.path().string(), "--query"},
                  std::vector<std::string>{}, dir.path(), "nofilequery");
    EXPECT_EQ(query.Wait(20), 6) << query.Err();
    EXPECT_EQ(Count(query.Err(), "warning 57604 "), 1u) << query.Err();
    // Approved sums that refuse the sample: said once, and no download or query starts.
    std::ofstream(dir.path() / "SUMS") << std::string(64, '0') << "  RS.BIN\n";
    for (const char* what : {"--yes", "--query"}) {
        Command sums({"--model", "6", "--targets", (dir.path() / "two").string(), "--dir",
                      VEXIL_SAMPLE_DIR, "--checksums", (dir.path() / "SUMS").string(), what},
                     std::vector<std::string>{}, dir.path(), "sums");
        EXPECT_EQ(sums.Wait(20), 6) << sums.Err();
        EXPECT_EQ(Count(sums.Err(),
                        "the download file RS.BIN has the SHA-256 797b9d8097ff7bbedcf7"
                        "b292b37eaf96df24943c58c428102bc4a0b5228f4f41, not the one"),
                  1u)
            << sums.Err();
        EXPECT_EQ(Count(sums.Err(), "[tcp "), 0u) << "no target's process ran\n" << sums.Err();
    }
    // Standard output that cannot be written is an error, not a success.
    std::filesystem::create_symlink("/dev/full", dir.path() / "full.out");
    Command full({"--list-models"}, std::vector<std::string>{}, dir.path(), "full");
    EXPECT_EQ(full.Wait(10), 74);
    EXPECT_NE(full.Err().find("writing standard output failed: No space left on device"),
              std::string::npos)
        << full.Err();
}

TEST(VexilDownload, TerminalQuestionTakesOnlyYes) {
    // The confirmation's question on a real terminal: y, Y and yes download; Enter alone, the
    // end of input and every other answer do not.
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const int savedInput = ::dup(STDIN_FILENO);
    ASSERT_EQ(::dup2(slave, STDIN_FILENO), STDIN_FILENO);
    // No cancel left over from another test may end a question early.
    console::CatchCancel();
    while (console::TakeCancel()) {
    }
    const struct {
        std::string typed;
        bool yes;
    } rows[] = {{"y\n", true},   {"Y\n", true},           {"yes\n", true}, {"\n", false},
                {"n\n", false},  {"yes please\n", false}, {"ye\n", false}, {" y\n", false},
                {"y \n", false}, {"YES\n", false},        {"no\n", false}, {"\x04", false}};
    for (const auto& row : rows) {
        ASSERT_EQ(::write(master, row.typed.data(), row.typed.size()),
                  static_cast<ssize_t>(row.typed.size()));
        std::FILE* out = std::tmpfile();
        bool confirmed = false;
        {
            const Watchdog watchdog(10, "the question to read the answer " + row.typed);
            cli::ConsolePort port(false, out);
            confirmed = port.ConfirmTarget({"192.0.2.1", "1.10", "01.10"});
        }
        std::fclose(out);
        EXPECT_EQ(confirmed, row.yes) << "typed: \"" << row.typed << "\"";
    }
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    ::close(slave);
    ::close(master);
}

TEST(VexilDownload, FleetThatCannotStartItsDownloadsEnds) {
    // Seven descriptors: the standard three, the cancel pipe's two, and one pipe of the two a
    // download needs. Nothing can start, nothing runs: the fleet ends, and each target is on
    // record with the reason. Nothing is sent, so the addresses are never reached.
    ScratchDir dir;
    const std::string targets = dir.File("targets", {});
    std::ofstream(targets) << "tcp 192.0.2.71\ntcp 192.0.2.72\n";
    const std::string log = (dir.path() / "log").string();
    CommandSetup setup;
    setup.descriptorLimit = 7;
    const std::vector<std::string> args = {"--model",        "6",    "--targets", targets, "--dir",
                                           VEXIL_SAMPLE_DIR, "--yes"};
    std::vector<std::string> withJson = args;
    withJson.insert(withJson.end(), {"--json", "--log", log});
    Command json(withJson, setup, dir.path(), "json");
    Command table(args, setup, dir.path(), "table");
    ASSERT_EQ(json.Wait(20), 7) << json.Err();
    ASSERT_EQ(table.Wait(20), 7) << table.Err();
    std::istringstream lines(json.Out());
    std::vector<nlohmann::json> objects;
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    ASSERT_EQ(objects.size(), 3u) << json.Out();
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(objects[i]["target"], "tcp 192.0.2.7" + std::to_string(i + 1));
        EXPECT_EQ(objects[i]["outcome"], "start-failed");
        EXPECT_EQ(objects[i]["result"], -7);
        EXPECT_TRUE(objects[i]["logged"].get<bool>());
        EXPECT_NE(objects[i]["note"].dump().find("Too many open files"), std::string::npos)
            << objects[i].dump();
    }
    EXPECT_EQ(objects[2]["summary"]["failed"], 2);
    EXPECT_EQ(Count(Slurp(log), " result=-7 message=0 first=0 outcome=start-failed sha256=-\n"), 2u)
        << Slurp(log);
    EXPECT_EQ(Count(table.Out(), "could not be started: Too many open files\n"), 2u) << table.Out();
    EXPECT_NE(table.Out().find("0 of 2 downloads succeeded"), std::string::npos) << table.Out();
}

TEST(VexilDownload, DownloadsFailuresCancelAndFleet) {
    ScratchDir dir;
    const std::string log = (dir.path() / "downloads.log").string();
    // --failed of one target: the target when it failed, nothing when it succeeded.
    auto failed = [&dir](const char* name) { return (dir.path() / name).string(); };
    // The sample's SHA-256 as sha256sum wrote it, in upper case and CR LF as some tools write
    // it, and one other sum.
    const std::string sums = (dir.path() / "SHA256SUMS").string();
    std::ofstream(sums) << "# release 1.10\r\n797B9D8097FF7BBEDCF7B292B37EAF96DF24943C58C428102"
                           "BC4A0B5228F4F41 *RS.BIN\r\n";
    const std::string otherSums = (dir.path() / "OTHER").string();
    std::ofstream(otherSums) << "797b9d8097ff7bbedcf7b292b37eaf96df24943c58c428102bc4a0b5228f4f40"
                                "  RS.BIN\n";
    const std::vector<Case> cases = {
        {"tcp",
         {"--once"},
         {"--tcp", "@", "--yes", "--log", log, "--failed", failed("failed-tcp")},
         0,
         {"information 110 "},
         {},
         true},
        {"ipx",
         {"--once"},
         {"--ipx", "00000001:00d1f0123456", "--yes"},
         0,
         {"progress 100%"},
         {},
         true},
        {"failure",
         {"--refuse-mode-switch", "9"},
         {"--tcp", "@", "--yes", "--log", log, "--failed", failed("failed-failure")},
         10,
         {"status 57613 ", "error 57625 "},
         {"information 110"},
         false},
        // --yes confirms no print server whose model was never read, --skip-current neither;
        // --allow-unverified does.
        {"unverified",
         {"--bad-version-reply"},
         {"--tcp", "@", "--yes", "--log", log},
         6,
         {"error 113 ", "no valid version reply, so its model and version are unknown"},
         {"information 121", "error 112 "},
         false},
        {"unverified, --skip-current",
         {"--bad-version-reply"},
         {"--tcp", "@", "--yes", "--skip-current"},
         6,
         {"no valid version reply"},
         {"information 121", "already"},
         false},
        {"--allow-unverified",
         {"--bad-version-reply", "--once"},
         {"--tcp", "@", "--yes", "--allow-unverified"},
         0,
         {"error 113 ", "information 110 "},
         {"no valid version reply"},
         true},
        {"no terminal",
         {},
         {"--tcp", "@"},
         6,
         {"指定されたターゲット @ の\n現在のバージョンは 1.10 です。\n"
          "ダウンロードするファイルのバージョンは、 1.10 です。\n"},
         {"information 121"},
         false},
        // Only the approved image is sent; another one is refused before anything is sent.
        {"--checksums",
         {"--once"},
         {"--tcp", "@", "--yes", "--checksums", sums, "--json"},
         0,
         {"information 110 "},
         {"SHA-256"},
         true},
        {"--checksums, another image",
         {"--once"},
         {"--tcp", "@", "--yes", "--checksums", otherSums},
         6,
         {"the download file RS.BIN has the SHA-256 797b9d8097ff7bbedcf7b292b37eaf96df24943c58c4281"
          "02bc4a0b5228f4f41, not the one the checksums file " +
          otherSums + " lists for it: nothing was sent\n"},
         {"information 121", "version"},
         false},
        // --query with --dir fails where the download would, on a print server of another model.
        {"another model, --query",
         {"--model-code", "0b00"},
         {"--tcp", "@", "--query"},
         14,
         {"error 57631 "},
         {"information 121"},
         false},
    };
    // The fleet: three print servers played by one simulator, one of whose erase always fails;
    // the IPX target reaches the second one (the first address given, so the IPX card) through
    // its tunnel.
    const std::string targets = dir.File("targets", {});
    std::ofstream(targets) << "# the fleet\ntcp 192.0.2.21\n\nipx 00000001:00D1F0123456  # .22\n"
                              "tcp 192.0.2.23\n";

    std::vector<std::unique_ptr<SimProcess>> sims;
    auto startSim = [&](int host, std::vector<std::string> options) {
        const std::string flash = (dir.path() / ("flash" + std::to_string(host))).string();
        options.insert(options.begin(), {"--listen", Address(host), "--flash", flash});
        sims.push_back(std::make_unique<SimProcess>(options));
        EXPECT_TRUE(sims.back()->Running()) << sims.back()->Log();
        return flash;
    };
    auto replace = [](std::string text, const std::string& address) {
        for (std::size_t at; (at = text.find('@')) != std::string::npos;) {
            text.replace(at, 1, address);
        }
        return text;
    };

    std::vector<std::unique_ptr<Command>> commands;
    std::vector<std::string> flashes;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int host = 11 + static_cast<int>(i);
        flashes.push_back(startSim(host, cases[i].sim));
        std::vector<std::string> args = {"--model", "LANｶｰﾄﾞｵﾌﾟｼｮﾝ", "--dir", VEXIL_SAMPLE_DIR};
        for (const std::string& arg : cases[i].args) {
            args.push_back(replace(arg, Address(host)));
        }
        std::vector<std::string> env = {"TAVDL_IPX_TUNNEL=" + Address(host) + ":16640"};
        if (cases[i].name == "no terminal") {
            // Its confirmation's lines as the system has always shown them, in Japanese.
            env.insert(env.end(), kJapaneseByC.begin(), kJapaneseByC.end());
        }
        commands.push_back(std::make_unique<Command>(args, env, dir.path(), cases[i].name));
    }
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{
        "--listen", Address(22), "--listen", Address(21), "--listen", Address(23), "--flash-dir",
        dir.path().string(), "--printer", Address(23) + " --fail-erase 9"}));
    EXPECT_TRUE(sims.back()->Running()) << sims.back()->Log();
    std::vector<std::string> fleetFlashes;
    for (int k = 0; k < 3; ++k) {
        fleetFlashes.push_back((dir.path() / (Address(21 + k) + ".bin")).string());
    }
    Command fleet({"--model", "6", "--dir", VEXIL_SAMPLE_DIR, "--yes", "--targets", targets,
                   "--jobs", "3", "--checksums", sums},
                  {"TAVDL_IPX_TUNNEL=192.0.2.22:16640"}, dir.path(), "fleet");

    // Meanwhile, in this process: Ctrl-C while the flash is being erased.
    {
        SimProcess sim({"--listen", Address(31), "--erase-seconds", "30"});
        std::thread interrupt([&sim] {
            // Interrupted also when the erase is not seen in time, so that the download ends.
            Eventually([&sim] { return sim.Log().find("erase:") != std::string::npos; }, 60,
                       "the simulator to start erasing");
            ::kill(::getpid(), SIGINT);
        });
        console::CatchCancel();
        WorkingDir cwd(VEXIL_SAMPLE_DIR);
        std::FILE* out = std::tmpfile();
        const int fds = OpenDescriptorCount();
        cli::Target target;
        ASSERT_FALSE(cli::ParseTarget(false, Address(31), target).Refused());
        cli::Report report;
        {
            TavdlTransport transport;
            cli::WaitOnConsole(transport);
            cli::ConsolePort port(true, out);
            report = cli::RunDownload(transport, target, 6, port);
            transport.SetWaitHook(nullptr);
        }
        interrupt.join();
        EXPECT_EQ(OpenDescriptorCount(), fds) << "a descriptor was left open";
        EXPECT_EQ(cli::ExitStatus(report.run.result), 5);
        EXPECT_EQ(report.lastMessage, 111);
        std::rewind(out);
        std::string printed(1 << 16, '\0');
        printed.resize(std::fread(printed.data(), 1, printed.size(), out));
        std::fclose(out);
        EXPECT_NE(printed.find("status 57627 "), std::string::npos) << printed;
        EXPECT_NE(printed.find("error 111 "), std::string::npos) << printed;
        // The simulator sees the connection end, without waiting for its erase to finish.
        for (int i = 0; i < 100 && sim.Log().find("closed by the program") == std::string::npos;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_NE(sim.Log().find("closed by the program"), std::string::npos) << sim.Log();
    }

    const std::string expected = (dir.path() / "expected.bin").string();
    ASSERT_EQ(std::system(
                  (std::string(VEXIL_FILE) + " extract " + VEXIL_SAMPLE_DIR + "/RS.BIN " + expected)
                      .c_str()),
              0);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const Case& c = cases[i];
        EXPECT_EQ(commands[i]->Wait(), c.status) << commands[i]->Err();
        const std::string err = commands[i]->Err();
        for (const std::string& text : c.errHas) {
            EXPECT_NE(err.find(replace(text, Address(11 + static_cast<int>(i)))), std::string::npos)
                << text << "\n"
                << err;
        }
        for (const std::string& text : c.errLacks) {
            EXPECT_EQ(err.find(text), std::string::npos) << text;
        }
        if (c.name == "--checksums") {
            EXPECT_NE(commands[i]->Out().find("\"companionSha256\":null,"), std::string::npos);
            EXPECT_NE(commands[i]->Out().find("\"fileSha256\":\"797b9d8097ff7bbedcf7b292b37eaf96df2"
                                              "4943c58c428102bc4a0b5228f4f41\""),
                      std::string::npos)
                << commands[i]->Out();
        }
        if (c.name == "ipx") {
            // Without a terminal: one line per tenth, each once and in order.
            std::string progress;
            std::istringstream lines(err);
            for (std::string line; std::getline(lines, line);) {
                progress += line.starts_with("progress ") ? line.substr(9) + " " : "";
            }
            EXPECT_EQ(progress, "10% 20% 30% 40% 50% 60% 70% 80% 90% 100% ");
        }
        if (const auto given = std::find(c.args.begin(), c.args.end(), "--failed");
            given != c.args.end()) {
            EXPECT_EQ(Slurp(given[1]),
                      c.status == 0 ? "" : "tcp " + Address(11 + static_cast<int>(i)) + "\n");
        }
        EXPECT_EQ(std::filesystem::exists(flashes[i]), c.flashWritten);
        if (c.flashWritten) {
            EXPECT_EQ(Slurp(flashes[i]), Slurp(expected));
        }
    }
    const std::string logged = Slurp(log);
    EXPECT_TRUE(
        std::regex_search(logged, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ )"
                                             R"(target=tcp:192\.0\.2\.11 model=6 )"
                                             R"(file=1\.10 before=1\.10 result=0 message=110)")))
        << logged;
    EXPECT_NE(logged.find("target=tcp:192.0.2.13 model=6 file=1.10 before=1.10 result=-10 "
                          "message=57625"),
              std::string::npos)
        << logged;
    EXPECT_NE(logged.find("target=tcp:192.0.2.14 model=6 file=1.10 before=- result=-6 "
                          "message=113 first=113 outcome=unverified sha256=797b9d8097ff7bbedcf7b29"
                          "2b37eaf96df24943c58c428102bc4a0b5228f4f41\n"),
              std::string::npos)
        << logged;

    EXPECT_EQ(fleet.Wait(), 11) << fleet.Err();
    const std::string summary = fleet.Out();
    for (const char* row : {R"(tcp 192\.0\.2\.21 +0 +110 +\d+\.\d  The download has finished\.)",
                            R"(ipx 00000001:00D1F0123456 +0 +110 )",
                            R"(tcp 192\.0\.2\.23 +-11 +57623 )", "2 of 3 downloads succeeded"}) {
        EXPECT_TRUE(std::regex_search(summary, std::regex(row))) << row << "\n" << summary;
    }
    EXPECT_NE(fleet.Err().find("[tcp 192.0.2.23] error 116 "), std::string::npos);
    EXPECT_EQ(Slurp(fleetFlashes[0]), Slurp(expected));
    EXPECT_EQ(Slurp(fleetFlashes[1]), Slurp(expected));
    EXPECT_FALSE(std::filesystem::exists(fleetFlashes[2]));
}

// The language of the environment decides every text a person reads; what scripts read (the
// message numbers, the log, the JSON, the exit statuses) is the same in every language. One
// print server and two more for the fleet and the scan, played by one simulator, asked by each
// run in turn.
TEST(VexilDownload, TextsFollowTheLanguageWhatScriptsReadDoesNot) {
    ScratchDir dir;
    // Each language has four addresses of its own from `base`: the download's print server, the
    // fleet's two, and a silent one that the scan of the four finds no print server at.
    const std::vector<std::string> englishByLang = {
        "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=en_US.UTF-8"};
    const struct {
        std::string name;
        std::vector<std::string> env;
        int base;
    } languages[] = {{"en_US.UTF-8", englishByLang, 90},
                     {"ja_JP.UTF-8", kJapaneseByLang, 94},
                     {"C", kJapaneseByC, 98}};
    std::vector<std::string> simArgs = {"--listen", Address(90) + "-" + Address(101), "--flash-dir",
                                        dir.path().string(), "--quiet"};
    for (const auto& language : languages) {
        simArgs.insert(simArgs.end(),
                       {"--printer", Address(language.base + 3) + " --no-version-reply"});
    }
    SimProcess sim(simArgs);
    ASSERT_TRUE(sim.Running()) << sim.Log();
    // A language's addresses as the first's, so that its log and JSON compare with the first's.
    const auto asFirst = [](std::string text, int base) {
        for (int k = 0; k < 4; ++k) {
            const std::string from = Address(base + k);
            const std::string to = Address(90 + k);
            for (std::size_t at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size())) {
                text.replace(at, from.size(), to);
            }
        }
        return text;
    };
    const struct {
        const char* name;
        std::vector<std::string> args;  // "@" is the language's base address, "@@" its targets
        int status;
    } runs[] = {
        {"download", {"--tcp", "@", "--dir", VEXIL_SAMPLE_DIR, "--yes", "--json"}, 0},
        {"refused", {"--tcp", "127.0.0.1"}, 64},
        {"fleet",
         {"--targets", "@@", "--dir", VEXIL_SAMPLE_DIR, "--yes", "--skip-current", "--jobs", "1"},
         0},
        {"scan", {"--scan", "@-@3"}, 0},
        {"help", {"--help"}, 0},
        {"usage", {"--bogus"}, 64},
    };
    // Each run's standard error and output, and the log of the download and the fleet, by
    // language, its addresses as the first language's.
    struct Texts {
        std::map<std::string, std::string> err, out;
        std::string log;
    };
    std::map<std::string, Texts> by;
    // Each run in the three languages at once.
    for (const auto& run : runs) {
        std::vector<std::unique_ptr<Command>> commands;
        for (const auto& language : languages) {
            const std::string log = (dir.path() / (language.name + ".log")).string();
            const std::string targets = dir.File(language.name + ".targets", {});
            std::ofstream(targets) << "tcp " << Address(language.base + 1) << "\ntcp "
                                   << Address(language.base + 2) << "\n";
            std::vector<std::string> args = {"--model", "6"};
            for (const std::string& arg : run.args) {
                args.push_back(arg == "@"    ? Address(language.base)
                               : arg == "@@" ? targets
                               : arg == "@-@3"
                                   ? Address(language.base) + "-" + Address(language.base + 3)
                                   : arg);
            }
            if (run.name == std::string("download") || run.name == std::string("fleet")) {
                args.insert(args.end(), {"--log", log});
            }
            commands.push_back(std::make_unique<Command>(args, language.env, dir.path(),
                                                         language.name + "." + run.name));
        }
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const auto& language = languages[i];
            EXPECT_EQ(commands[i]->Wait(), run.status) << language.name << " " << run.name << "\n"
                                                       << commands[i]->Err();
            // (The help's own example addresses are no language's.)
            const int base = run.name == std::string("help") ? 90 : language.base;
            by[language.name].err[run.name] = asFirst(commands[i]->Err(), base);
            by[language.name].out[run.name] = asFirst(commands[i]->Out(), base);
        }
    }
    for (const auto& language : languages) {
        by[language.name].log =
            asFirst(Slurp((dir.path() / (language.name + ".log")).string()), language.base);
    }
    const Texts& en = by["en_US.UTF-8"];
    const Texts& ja = by["ja_JP.UTF-8"];
    const Texts& c = by["C"];

    // English: not a byte of Japanese where a person reads, but the JSON's message texts.
    for (const auto& run : runs) {
        for (const std::string* text : {&en.err.at(run.name), &en.out.at(run.name)}) {
            if (text == &en.out.at("download")) {
                continue;
            }
            EXPECT_TRUE(std::all_of(text->begin(), text->end(),
                                    [](char b) { return static_cast<unsigned char>(b) < 0x80; }))
                << run.name << ":\n"
                << *text;
        }
    }
    // Japanese under ja_JP.UTF-8 and C alike (the outputs without times: the help and the
    // refusals).
    for (const auto& run : runs) {
        EXPECT_EQ(ja.err.at(run.name), c.err.at(run.name)) << run.name;
    }
    for (const char* run : {"refused", "help", "usage"}) {
        EXPECT_EQ(ja.out.at(run), c.out.at(run)) << run;
    }
    // Its columns as wide as the English one's: two for each Japanese character.
    const std::string kJapaneseHeading =
        "対象" + std::string(14, ' ') + "結果  メッセージ       秒\n";
    const struct {
        const char* run;
        bool out;
        std::string english;
        std::string japanese;
    } texts[] = {
        {"download", false, "\ninformation 110 The download has finished.\n",
         "\ninformation 110 ダウンロードが終了しました。\n"},
        {"download", false, "\nprogress 100%\n", "\n進行状況 100%\n"},
        {"refused", false, "error 57620 The first number of the IP address cannot be 127.\n",
         "error 57620 127はIPアドレスの一桁目には設定できません。\n"},
        {"fleet", true, "target          result  message  seconds\n", kJapaneseHeading},
        {"fleet", true, "\n2 of 2 downloads succeeded (2 already current)\n",
         "\nダウンロード 2 件中 2 件が成功しました (うち 2 件は最新のバージョン)\n"},
        {"scan", true, "4 addresses scanned: 3 print servers answered, 1 silent\n",
         "4 個のアドレスをスキャンしました: プリントサーバ 3 台が応答しました、1 個は応答なし\n"},
        {"help", true, "usage: vexil-download --model MODEL",
         "使い方: vexil-download --model MODEL"},
        {"usage", false, "vexil-download: unknown option --bogus\nvexil-download: see --help\n",
         "vexil-download: 不明なオプションです: --bogus\nvexil-download: --help "
         "を参照してください\n"},
    };
    for (const auto& t : texts) {
        const std::string& english = (t.out ? en.out : en.err).at(t.run);
        const std::string& japanese = (t.out ? ja.out : ja.err).at(t.run);
        EXPECT_NE(english.find(t.english), std::string::npos) << t.run << ":\n" << english;
        EXPECT_NE(japanese.find(t.japanese), std::string::npos) << t.run << ":\n" << japanese;
    }

    // The message lines' kinds and numbers, the log (times aside) and the JSON (times aside)
    // are the same bytes in every language.
    const auto numbers = [](const std::string& err) {
        static const std::regex kLine(R"((^|\n)((error|warning|information|message|status) \d+) )");
        std::string found;
        for (auto m = std::sregex_iterator(err.begin(), err.end(), kLine);
             m != std::sregex_iterator(); ++m) {
            found += (*m)[2].str() + "\n";
        }
        return found;
    };
    const auto untimed = [](const std::string& text) {
        static const std::regex kTimes(
            R"re((^|\n)\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ |"(seconds|start|end)":("[^"]*"|[0-9.e-]+))re");
        return std::regex_replace(text, kTimes, "$1TIME");
    };
    EXPECT_NE(en.out.at("download").find("ダウンロードが終了しました。"), std::string::npos)
        << en.out.at("download");
    EXPECT_EQ(Count(en.log, "\n"), 3u) << en.log;
    for (const Texts* other : {&ja, &c}) {
        for (const auto& run : runs) {
            EXPECT_EQ(numbers(other->err.at(run.name)), numbers(en.err.at(run.name))) << run.name;
        }
        EXPECT_EQ(untimed(other->log), untimed(en.log));
        EXPECT_EQ(untimed(other->out.at("download")), untimed(en.out.at("download")));
    }
    EXPECT_NE(numbers(en.err.at("download")).find("information 110\n"), std::string::npos);
}

}  // namespace
}  // namespace vexil::test
