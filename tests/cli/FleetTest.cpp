// vexil-download as administrators run it, end to end inside the private network namespace of
// in_netns.sh: started by schedulers with closed streams, hung up on, its fleet killed, on a
// full disk, short of descriptors, and with the inventory, the JSON results, --skip-current and
// --failed. Every case runs side by side, each against print servers on addresses of its own,
// all played by one simulator.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/cli/Command.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

namespace vexil::test {
namespace {

std::string Address(int host) {
    return "192.0.2." + std::to_string(host);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return objects;
}

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // The parent is the fourth field, after the command in parentheses.
        const std::string stat = Slurp(entry.path().string() + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        char state = 0;
        pid_t ppid = 0;
        if (fields >> state >> ppid && ppid == parent) {
            children.push_back(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return children;
}

CommandSetup Limits(std::vector<int> closed, rlim_t fileSizeLimit, rlim_t descriptorLimit) {
    CommandSetup setup;
    setup.closed = std::move(closed);
    setup.fileSizeLimit = fileSizeLimit;
    setup.descriptorLimit = descriptorLimit;
    return setup;
}

// A command whose standard error is a pseudo-terminal (raw: the bytes as written), a pipe or a
// file, read as it comes on a thread of its own, so that a full terminal or pipe never holds the
// command up. Standard output goes to a file, standard input is /dev/null. Once `cancelAt`
// appears on standard error, the command gets SIGINT, as Ctrl-C sends it.
class OnStderr {
  public:
    enum class Sink { kTerminal, kPipe, kFile };
    OnStderr(Sink sink, std::vector<std::string> args, const std::filesystem::path& dir,
             const std::string& name, std::string cancelAt = {})
        : sink_(sink), err_((dir / (name + ".err")).string()), cancelAt_(std::move(cancelAt)) {
        args.insert(args.begin(), VEXIL_DOWNLOAD);
        std::vector<std::string> environment(kEnglish);
        AppendEnviron(environment);
        std::vector<char*> argv = ExecArray(args);
        std::vector<char*> envp = ExecArray(environment);
        int ours = -1;
        int theirs = -1;
        if (sink == Sink::kTerminal) {
            winsize size{24, 120, 0, 0};
            EXPECT_EQ(::openpty(&ours, &theirs, nullptr, nullptr, &size), 0);
            termios raw{};
            ::tcgetattr(theirs, &raw);
            ::cfmakeraw(&raw);
            ::tcsetattr(theirs, TCSANOW, &raw);
        } else if (sink == Sink::kPipe) {
            int ends[2];
            EXPECT_EQ(::pipe(ends), 0);
            ours = ends[0];
            theirs = ends[1];
        } else {
            theirs = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        const std::string out = (dir / (name + ".out")).string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            if (sink == Sink::kTerminal) {
                ::ioctl(theirs, TIOCSCTTY, 0);
            }
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            ::dup2(theirs, STDERR_FILENO);
            ::close_range(3, ~0U, 0);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(theirs);
        if (ours >= 0) {
            reader_ = std::thread([this, ours] { Read(ours); });
        }
    }
    ~OnStderr() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) {
            reader_.join();
        }
    }
    OnStderr(const OnStderr&) = delete;
    OnStderr& operator=(const OnStderr&) = delete;

    // The exit status (-1 ended by a signal, -2 not ended within `seconds`), and in `err`
    // everything it wrote on standard error.
    int Wait(std::string& err, double seconds = 150) {
        int status = 0;
        const bool ended = Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                                      seconds, "vexil-download to end");
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        // The reader ends at the stream's end, when the command and its children have closed it.
        if (reader_.joinable()) {
            reader_.join();
        }
        err = sink_ == Sink::kFile ? Slurp(err_) : read_;
        return !ended ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    void Read(int fd) {
        bool cancelled = cancelAt_.empty();
        char buffer[4096];
        // Until the stream's end (EIO on a terminal): the command and its children have closed
        // it, which Wait's deadline and kill bring about at the latest.
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            read_.append(buffer, static_cast<std::size_t>(got));
            if (!cancelled && read_.find(cancelAt_) != std::string::npos) {
                cancelled = true;
                ::kill(pid_, SIGINT);
            }
        }
        ::close(fd);
    }

    Sink sink_;
    std::string err_;
    std::string cancelAt_;
    pid_t pid_ = -1;
    std::string read_;
    std::thread reader_;
};

// Whether `text` holds a control byte other than the line feed.
bool HasControlBytes(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; });
}

class Fleet : public ::testing::Test {
  protected:
    // A print server on 192.0.2.HOST with `options` of its own, played by the test's one
    // simulator once StartSims() has started it; the path of its flash file.
    std::string Sim(int host, std::vector<std::string> options = {}) {
        listen_.insert(listen_.end(), {"--listen", Address(host)});
        if (!options.empty()) {
            std::string printer = Address(host);
            for (const std::string& option : options) {
                printer += " " + option;
            }
            listen_.insert(listen_.end(), {"--printer", printer});
        }
        return (dir_.path() / (Address(host) + ".bin")).string();
    }
    void StartSims() {
        listen_.insert(listen_.end(), {"--flash-dir", dir_.path().string()});
        sim_ = std::make_unique<SimProcess>(listen_);
        ASSERT_TRUE(sim_->Running()) << sim_->Log();
    }
    // What the simulator said of the print server on 192.0.2.HOST.
    std::string SimLog(int host) const {
        const std::string mark = "vexil-printserver-sim: " + Address(host) + ": ";
        std::istringstream lines(sim_->Log());
        std::string said;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(mark, 0) == 0) {
                said += line + "\n";
            }
        }
        return said;
    }
    bool Erasing(int host) const { return SimLog(host).find("erase:") != std::string::npos; }
    std::string Targets(const std::string& name, const std::vector<int>& hosts) const {
        const std::string path = (dir_.path() / name).string();
        std::ofstream file(path);
        for (const int host : hosts) {
            file << "tcp " << Address(host) << "\n";
        }
        return path;
    }
    std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }
    std::unique_ptr<Command> Run(const std::string& name, std::vector<std::string> args,
                                 CommandSetup setup = {}) {
        args.insert(args.begin(), {"--model", "6", "--dir", VEXIL_SAMPLE_DIR});
        return std::make_unique<Command>(args, setup, dir_.path(), name);
    }
    std::string Image() {
        const std::string expected = Path("expected.bin");
        EXPECT_EQ(std::system((std::string(VEXIL_FILE) + " extract " + VEXIL_SAMPLE_DIR +
                               "/RS.BIN " + expected)
                                  .c_str()),
                  0);
        return Slurp(expected);
    }

    ScratchDir dir_;
    std::vector<std::string> listen_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(Fleet, UnattendedRunsHangUpsKilledFleetsAndFullDisks) {
    const std::regex logged(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ target=tcp:[0-9.]+ model=6 )");
    // The print servers of every case below, played by one simulator.
    const std::vector<std::string> slowErase = {"--erase-seconds", "30"};
    const std::string flash41 = Sim(41);
    const std::string flash42 = Sim(42);
    Sim(43, slowErase);
    Sim(44, slowErase);
    Sim(45, slowErase);
    Sim(46, slowErase);
    const std::string flash47 = Sim(47);
    std::vector<std::string> flashesShort;
    for (const int host : {58, 59, 60, 61}) {
        flashesShort.push_back(Sim(host));
    }
    Sim(63, slowErase);
    Sim(64, slowErase);
    Sim(65);
    Sim(62, slowErase);
    Sim(66, slowErase);
    Sim(67);
    Sim(68, {"--fail-erase", "9"});
    Sim(69);
    StartSims();

    // Closed standard streams: nothing the program opens may take their place.
    auto closedTwo = Run("closed02", {"--tcp", Address(41), "--yes", "--log", Path("log41")},
                         Limits({0, 2}, RLIM_INFINITY, 0));
    auto closedAll = Run("closed012", {"--tcp", Address(42), "--yes", "--log", Path("log42")},
                         Limits({0, 1, 2}, RLIM_INFINITY, 0));
    // SIGTERM and SIGHUP (a closed SSH session) cancel as Ctrl-C does, and are logged.
    auto terminated = Run("sigterm", {"--tcp", Address(43), "--yes", "--log", Path("log43")});
    auto hungUp = Run("sighup", {"--tcp", Address(44), "--yes", "--log", Path("log44")});
    // A fleet killed outright: its downloads cancel by themselves and still log.
    auto killed =
        Run("killed", {"--targets", Targets("t45", {45, 46}), "--yes", "--log", Path("log45")});
    // A full disk: the download is made, but its log line cannot be written.
    std::ofstream(Path("log47")) << std::string(65536, '#');
    auto full = Run("full", {"--tcp", Address(47), "--yes", "--log", Path("log47"), "--json"},
                    Limits({}, 65536, 0));
    // A fleet whose downloads cannot log: each row says so; the status is 74 only when every
    // download succeeded, else the first failing target's.
    std::ofstream(Path("log67")) << std::string(65536, '#');
    auto fullFleet =
        Run("fullfleet", {"--targets", Targets("t67", {67, 68}), "--yes", "--log", Path("log67")},
            Limits({}, 65536, 0));
    auto fullFleetOk =
        Run("fullfleetok",
            {"--targets", Targets("t69", {69}), "--yes", "--log", Path("log67"), "--json"},
            Limits({}, 65536, 0));
    // Short of descriptors: the fleet waits for room instead of failing targets.
    auto cramped =
        Run("cramped", {"--targets", Targets("t58", {58, 59, 60, 61}), "--jobs", "4", "--yes"},
            Limits({}, RLIM_INFINITY, 14));

    // A fleet's download whose process is killed: the fleet logs it in its place. And a fleet
    // cancelled with a target not yet started: that one says so, unlogged and without times.
    auto lostChild =
        Run("lost", {"--targets", Targets("t63", {63}), "--yes", "--log", Path("log63")});
    // A download whose process is killed when its line is in the log already: not logged twice,
    // and what its line says is what the fleet reports.
    auto lostLogged = Run("lostlogged", {"--targets", Targets("t66", {66}), "--yes", "--json",
                                         "--log", Path("log66")});
    auto cancelled = Run("cancelled", {"--targets", Targets("t64", {64, 65}), "--jobs", "1",
                                       "--yes", "--json", "--log", Path("log64")});

    // A print server busy with another client's download answers that client only: a second
    // client stops at the version query, before anything could harm the first one's download.
    auto first = Run("first", {"--tcp", Address(62), "--yes"});

    Eventually(
        [&] {
            return Erasing(43) && Erasing(44) && Erasing(62) && Erasing(63) && Erasing(64) &&
                   Erasing(66);
        },
        60, "the erases to begin");
    for (const pid_t child : ChildrenOf(lostChild->Pid())) {
        ::kill(child, SIGKILL);
    }
    std::ofstream(Path("log66"), std::ios::app)
        << "2026-12-07T09:22:11Z target=tcp:" << Address(66)
        << " model=6 file=1.10 before=1.00 result=0 message=110 first=0 outcome=succeeded\n";
    for (const pid_t child : ChildrenOf(lostLogged->Pid())) {
        ::kill(child, SIGKILL);
    }
    cancelled->Signal(SIGTERM);
    auto second = Run("second", {"--tcp", Address(62), "--yes"});
    EXPECT_EQ(second->Wait(), 14) << second->Err();
    EXPECT_NE(second->Err().find("error 112 "), std::string::npos) << second->Err();
    for (const char* harmful : {"error 115 ", "57621", "status 57626"}) {
        EXPECT_EQ(second->Err().find(harmful), std::string::npos) << second->Err();
    }
    first->Signal(SIGTERM);
    EXPECT_EQ(first->Wait(), 5) << first->Err();
    terminated->Signal(SIGTERM);
    hungUp->Signal(SIGHUP);
    Eventually([&] { return Erasing(45) && Erasing(46); }, 60, "the fleet's erases to begin");
    killed->Signal(SIGKILL);
    EXPECT_EQ(killed->Wait(10), -1);

    const std::string image = Image();
    EXPECT_EQ(closedTwo->Wait(), 0) << Slurp(Path("log41"));
    EXPECT_EQ(Slurp(flash41), image);
    EXPECT_NE(Slurp(Path("log41")).find("result=0 message=110 first=0 outcome=succeeded"),
              std::string::npos);
    EXPECT_EQ(closedAll->Wait(), 0) << Slurp(Path("log42"));
    EXPECT_EQ(Slurp(flash42), image);
    const std::string log42 = Slurp(Path("log42"));
    EXPECT_TRUE(std::regex_search(log42, logged)) << log42;
    EXPECT_EQ(Count(log42, "\n"), 1u) << "only the log line belongs in the log:\n" << log42;

    for (const auto& [command, log] :
         {std::pair{terminated.get(), "log43"}, std::pair{hungUp.get(), "log44"}}) {
        EXPECT_EQ(command->Wait(), 5) << command->Err();
        EXPECT_NE(command->Err().find("error 111 "), std::string::npos) << command->Err();
        EXPECT_NE(Slurp(Path(log)).find("result=-5 message=111"), std::string::npos);
    }
    Eventually([&] { return Count(Slurp(Path("log45")), "result=-5 message=111") == 2; }, 60,
               "both orphaned downloads to cancel and log:\n" + Slurp(Path("log45")));
    for (const int host : {45, 46}) {
        Eventually([&] { return SimLog(host).find("closed by the program") != std::string::npos; },
                   30, "the connection to " + Address(host) + " to close");
    }

    EXPECT_EQ(full->Wait(), 74) << full->Err();
    ASSERT_EQ(JsonLines(full->Out()).size(), 2u) << full->Out();
    EXPECT_EQ(JsonLines(full->Out())[1]["summary"],
              nlohmann::json::parse(R"({"targets":1,"succeeded":1,"failed":0,"alreadyCurrent":0,)"
                                    R"("stopped":0,"exitStatus":74})"));
    EXPECT_EQ(fullFleet->Wait(), 11) << fullFleet->Err();
    EXPECT_EQ(Count(fullFleet->Out(), "(not logged)\n"), 2u) << fullFleet->Out();
    EXPECT_EQ(fullFleetOk->Wait(), 74) << fullFleetOk->Err();
    const std::vector<nlohmann::json> fullFleetJson = JsonLines(fullFleetOk->Out());
    ASSERT_EQ(fullFleetJson.size(), 2u) << fullFleetOk->Out();
    EXPECT_FALSE(fullFleetJson[0]["logged"].get<bool>());
    EXPECT_EQ(fullFleetJson[1]["summary"]["exitStatus"], 74);
    EXPECT_NE(full->Err().find("writing the log " + Path("log47") + " failed: File too large"),
              std::string::npos)
        << full->Err();
    EXPECT_EQ(Slurp(flash47), image);

    EXPECT_EQ(lostChild->Wait(), 7) << lostChild->Err();
    EXPECT_NE(lostChild->Out().find("its process was ended by signal 9; the print server may "
                                    "wait in download mode"),
              std::string::npos)
        << lostChild->Out();
    EXPECT_NE(Slurp(Path("log63"))
                  .find("target=tcp:192.0.2.63 model=6 file=- before=- "
                        "result=-7 message=0 first=0 outcome=failed"),
              std::string::npos)
        << Slurp(Path("log63"));
    EXPECT_EQ(Count(Slurp(Path("log63")), "\n"), 1u) << Slurp(Path("log63"));
    EXPECT_EQ(lostLogged->Wait(), 0) << lostLogged->Err();
    EXPECT_EQ(Count(Slurp(Path("log66")), "\n"), 1u) << Slurp(Path("log66"));
    const std::vector<nlohmann::json> afterLog = JsonLines(lostLogged->Out());
    ASSERT_EQ(afterLog.size(), 2u) << lostLogged->Out();
    EXPECT_EQ(afterLog[0]["outcome"], "succeeded");
    EXPECT_EQ(afterLog[0]["versionBefore"], "1.00");
    EXPECT_TRUE(afterLog[0]["logged"].get<bool>());
    EXPECT_EQ(afterLog[0]["note"],
              "its process was ended by signal 9 after it had logged its result");
    EXPECT_EQ(cancelled->Wait(), 5) << cancelled->Err();
    const std::vector<nlohmann::json> halted = JsonLines(cancelled->Out());
    ASSERT_EQ(halted.size(), 3u) << cancelled->Out();
    EXPECT_EQ(halted[0]["outcome"], "cancelled");
    EXPECT_TRUE(halted[0]["logged"].get<bool>());
    EXPECT_EQ(halted[1]["target"], "tcp " + Address(65));
    EXPECT_EQ(halted[1]["outcome"], "not-started");
    EXPECT_TRUE(halted[1]["logged"].get<bool>());
    EXPECT_TRUE(halted[1]["start"].is_null());
    const std::string log64 = Slurp(Path("log64"));
    EXPECT_EQ(Count(log64, "\n"), 2u) << log64;
    EXPECT_NE(log64.find("target=tcp:" + Address(65) +
                         " model=6 file=- before=- result=-6 message=0 first=0 "
                         "outcome=not-started sha256=-\n"),
              std::string::npos)
        << log64;

    EXPECT_EQ(cramped->Wait(), 0) << cramped->Err() << cramped->Out();
    EXPECT_EQ(cramped->Err().find("cannot start"), std::string::npos) << cramped->Err();
    for (const std::string& flash : flashesShort) {
        EXPECT_EQ(Slurp(flash), image) << flash;
    }
}

TEST_F(Fleet, InventoryJsonSkipCurrentFailedOrderAndStatus) {
    // The print servers of every case below, played by one simulator.
    Sim(48);
    Sim(50, {"--firmware-version", "2.00", "--model-code", "1601"});
    const std::string flash51 = Sim(51);
    const std::string flash52 = Sim(52, {"--firmware-version", "1.00"});
    Sim(53, {"--fail-erase", "9", "--firmware-version", "1.00"});
    Sim(54);
    Sim(55);
    Sim(56, {"--fail-erase", "9"});
    Sim(57, {"--refuse-mode-switch", "9"});
    Sim(70);
    Sim(71, {"--bad-version-reply"});
    Sim(72);
    const std::string flash73 = Sim(73, {"--bad-version-reply"});
    StartSims();

    // The inventory: two print servers answer (one of them another model with other firmware,
    // which fails the query with the file as it would fail a download), one is not there;
    // nothing but the query is sent.
    auto inventory =
        Run("inventory", {"--targets", Targets("t48", {48, 49, 50}), "--query", "--json"});
    // With --dir the query checks the model's download file first: one that is not there ends
    // it before anything is sent.
    Command noFile(
        {"--model", "6", "--tcp", Address(48), "--query", "--json", "--dir", dir_.path().string()},
        CommandSetup{}, dir_.path(), "nofile");
    // --skip-current and --failed: one print server is current, one is not, one fails.
    auto skipping =
        Run("skipping", {"--targets", Targets("t51", {51, 52, 53}), "--skip-current", "--failed",
                         Path("failed51"), "--json", "--yes", "--log", Path("log51")});
    // One at a time with --jobs 1: the second download starts when the first has ended.
    auto serial = Run("serial", {"--targets", Targets("t54", {54, 55}), "--jobs", "1", "--yes"});
    // The fleet's status is the first failing target's in the file, not the first to end.
    auto twoFailures = Run("two", {"--targets", Targets("t56", {56, 57}), "--yes"});
    // A fleet with --yes downloads to no print server whose model was never read, unless
    // --allow-unverified is given (and reaches the downloads).
    auto unverified = Run("unverified", {"--targets", Targets("t71", {71, 72}), "--yes", "--json",
                                         "--log", Path("log71")});
    auto allowed =
        Run("allowed", {"--targets", Targets("t73", {73}), "--yes", "--allow-unverified"});
    // One target, current: the JSON summary counts it so.
    auto current = Run("current", {"--tcp", Address(70), "--skip-current", "--yes", "--json",
                                   "--failed", Path("failed70")});

    EXPECT_EQ(inventory->Wait(), 13) << inventory->Err();
    const std::vector<nlohmann::json> found = JsonLines(inventory->Out());
    ASSERT_EQ(found.size(), 4u) << inventory->Out();
    std::map<std::string, nlohmann::json> byTarget;
    for (std::size_t i = 0; i < 3; ++i) {
        byTarget[found[i].value("target", "")] = found[i];
    }
    const nlohmann::json& answered = byTarget["tcp " + Address(48)];
    EXPECT_EQ(answered["modelCode"], "aa01");
    EXPECT_EQ(answered["versionBefore"], "1.10");
    EXPECT_EQ(answered["outcome"], "query-succeeded");
    EXPECT_TRUE(answered["query"].get<bool>());
    EXPECT_EQ(byTarget["tcp " + Address(50)]["modelCode"], "1601");
    EXPECT_EQ(byTarget["tcp " + Address(50)]["versionBefore"], "2.00");
    EXPECT_EQ(byTarget["tcp " + Address(50)]["outcome"], "query-failed");
    EXPECT_EQ(byTarget["tcp " + Address(50)]["result"], -14);
    EXPECT_EQ(byTarget["tcp " + Address(50)]["lastMessage"]["number"], 57631);
    // The file's version beside each, and whether the print server has it, as --skip-current
    // compares them (01.10 is 1.10); unknown for the one that did not answer.
    for (const auto& [host, hasIt] :
         {std::pair{48, nlohmann::json(true)}, std::pair{49, nlohmann::json(nullptr)},
          std::pair{50, nlohmann::json(false)}}) {
        EXPECT_EQ(byTarget["tcp " + Address(host)]["fileVersion"], "1.10") << host;
        EXPECT_EQ(byTarget["tcp " + Address(host)]["current"], hasIt) << host;
    }
    EXPECT_EQ(noFile.Wait(), 6) << noFile.Err();
    EXPECT_NE(noFile.Err().find("warning 57604 "), std::string::npos) << noFile.Err();
    EXPECT_EQ(JsonLines(noFile.Out()).at(0)["outcome"], "query-not-started") << noFile.Out();
    EXPECT_EQ(Count(SimLog(48), "version query"), 1u) << "only the inventory's:\n" << SimLog(48);
    const nlohmann::json& silent = byTarget["tcp " + Address(49)];
    EXPECT_EQ(silent["firstMessage"]["number"], 112);
    EXPECT_EQ(silent["result"], -13);
    EXPECT_EQ(found[3]["summary"]["succeeded"], 1);
    EXPECT_EQ(found[3]["summary"]["exitStatus"], 13);
    for (const int host : {48, 50}) {
        EXPECT_EQ(SimLog(host).find("download-mode switch"), std::string::npos) << SimLog(host);
        EXPECT_EQ(SimLog(host).find("download connection"), std::string::npos) << SimLog(host);
    }

    EXPECT_EQ(skipping->Wait(), 11) << skipping->Err();
    EXPECT_EQ(Slurp(Path("failed51")), "tcp " + Address(53) + "\n");
    byTarget.clear();
    for (const nlohmann::json& object : JsonLines(skipping->Out())) {
        byTarget[object.value("target", "summary")] = object;
    }
    EXPECT_EQ(byTarget["tcp " + Address(51)]["outcome"], "already-current");
    EXPECT_EQ(byTarget["tcp " + Address(51)]["versionAfter"], "1.10");
    EXPECT_EQ(byTarget["tcp " + Address(52)]["outcome"], "succeeded");
    EXPECT_EQ(byTarget["tcp " + Address(52)]["versionBefore"], "1.00");
    EXPECT_EQ(byTarget["tcp " + Address(52)]["versionAfter"], "1.10");
    EXPECT_EQ(byTarget["tcp " + Address(53)]["lastMessage"]["number"], 57623);
    EXPECT_EQ(byTarget["summary"]["summary"],
              nlohmann::json::parse(R"({"targets":3,"succeeded":2,"failed":1,"alreadyCurrent":1,)"
                                    R"("stopped":0,"exitStatus":11})"));
    EXPECT_FALSE(std::filesystem::exists(flash51));
    EXPECT_EQ(Slurp(flash52), Image());
    EXPECT_NE(Slurp(Path("log51"))
                  .find("before=1.10 result=0 message=0 first=0 "
                        "outcome=already-current"),
              std::string::npos);

    EXPECT_EQ(serial->Wait(), 0) << serial->Err();
    const std::string lines = serial->Err();
    const std::size_t lastOfFirst = lines.rfind("[tcp " + Address(54) + "]");
    const std::size_t firstOfSecond = lines.find("[tcp " + Address(55) + "]");
    ASSERT_NE(firstOfSecond, std::string::npos) << lines;
    EXPECT_LT(lastOfFirst, firstOfSecond) << "two downloads overlapped with --jobs 1:\n" << lines;

    EXPECT_EQ(twoFailures->Wait(), 11) << twoFailures->Err() << twoFailures->Out();

    EXPECT_EQ(unverified->Wait(), 6) << unverified->Err();
    byTarget.clear();
    for (const nlohmann::json& object : JsonLines(unverified->Out())) {
        byTarget[object.value("target", "summary")] = object;
    }
    EXPECT_EQ(byTarget["tcp " + Address(71)]["outcome"], "unverified");
    EXPECT_EQ(byTarget["tcp " + Address(71)]["result"], -6);
    EXPECT_EQ(byTarget["tcp " + Address(72)]["outcome"], "succeeded");
    EXPECT_EQ(byTarget["summary"]["summary"]["failed"], 1);
    EXPECT_NE(unverified->Err().find("[tcp " + Address(71) +
                                     "] vexil-download: the print server gave no valid version"),
              std::string::npos)
        << unverified->Err();
    EXPECT_EQ(SimLog(71).find("download-mode switch"), std::string::npos) << SimLog(71);
    EXPECT_NE(Slurp(Path("log71"))
                  .find("target=tcp:" + Address(71) +
                        " model=6 file=1.10 before=- result=-6 message=113 "
                        "first=113 outcome=unverified sha256=797b9d8097ff7bbedcf7b292b37eaf96df"
                        "24943c58c428102bc4a0b5228f4f41\n"),
              std::string::npos)
        << Slurp(Path("log71"));
    EXPECT_EQ(allowed->Wait(), 0) << allowed->Err();
    EXPECT_TRUE(Slurp(flash73) == Image()) << "the flash of " << Address(73) << " is not the image";

    EXPECT_EQ(current->Wait(), 0) << current->Err();
    ASSERT_EQ(JsonLines(current->Out()).size(), 2u) << current->Out();
    EXPECT_EQ(JsonLines(current->Out())[1]["summary"],
              nlohmann::json::parse(R"({"targets":1,"succeeded":1,"failed":0,"alreadyCurrent":1,)"
                                    R"("stopped":0,"exitStatus":0})"));
    EXPECT_EQ(Slurp(Path("failed70")), "");
}

// --max-failures 2 over six print servers, one at a time and three at a time: once the second
// target has failed no further download starts, the running ones end as they would have, and
// each target not started is on record as stopped. Mode-switch refusals fail at once, and
// downloads take their waits, so which target starts when is fixed by the file's order.
TEST_F(Fleet, MaxFailuresStopsTheRollout) {
    const std::vector<std::string> refuse = {"--refuse-mode-switch", "9", "--firmware-version",
                                             "1.00"};
    const std::vector<std::string> older = {"--firmware-version", "1.00"};
    // One at a time, --skip-current: current, refused, current, refused, then two left alone.
    Sim(80);
    Sim(81, refuse);
    Sim(82);
    Sim(83, refuse);
    Sim(84, older);
    Sim(85, older);
    // Three at a time: a download beside the first refusal, whose place the second refusal
    // takes; another download still running; two left alone.
    const std::string flash86 = Sim(86, older);
    Sim(87, refuse);
    const std::string flash88 = Sim(88, older);
    Sim(89, refuse);
    Sim(90, older);
    Sim(91, older);
    StartSims();

    auto serial = Run("serial", {"--targets", Targets("t80", {80, 81, 82, 83, 84, 85}), "--jobs",
                                 "1", "--max-failures", "2", "--skip-current", "--yes", "--log",
                                 Path("log80"), "--failed", Path("failed80")});
    auto wide = Run("wide", {"--targets", Targets("t86", {86, 87, 88, 89, 90, 91}), "--jobs", "3",
                             "--max-failures", "2", "--yes", "--json", "--log", Path("log86"),
                             "--failed", Path("failed86")});

    const struct {
        Command* command;
        const char* log;
        const char* failed;
        std::vector<int> failing;  // in the file's order, the stopped ones last
        int stopped;
    } runs[] = {{serial.get(), "log80", "failed80", {81, 83, 84, 85}, 2},
                {wide.get(), "log86", "failed86", {87, 89, 90, 91}, 2}};
    for (const auto& run : runs) {
        // The status is the first failure's in the file's order: a refused mode switch.
        EXPECT_EQ(run.command->Wait(), 10) << run.command->Err() << run.command->Out();
        EXPECT_NE(run.command->Err().find("vexil-download: --max-failures 2 reached: no further "
                                          "download is started\n"),
                  std::string::npos)
            << run.command->Err();
        std::string failed;
        for (const int host : run.failing) {
            failed += "tcp " + Address(host) + "\n";
        }
        EXPECT_EQ(Slurp(Path(run.failed)), failed);
        const std::string log = Slurp(Path(run.log));
        EXPECT_EQ(Count(log, "\n"), 6u) << log;
        EXPECT_EQ(Count(log, "result=-10 message=57625 "), 2u) << log;
        for (std::size_t i = run.failing.size() - run.stopped; i < run.failing.size(); ++i) {
            const int host = run.failing[i];
            EXPECT_NE(log.find("target=tcp:" + Address(host) +
                               " model=6 file=- before=- result=-6 message=0 first=0 "
                               "outcome=stopped sha256=-\n"),
                      std::string::npos)
                << log;
            EXPECT_EQ(SimLog(host).find("version query"), std::string::npos) << SimLog(host);
        }
    }
    const std::string table = serial->Out();
    EXPECT_EQ(Count(table, "not started  the fleet stopped at --max-failures 2\n"), 2u) << table;
    EXPECT_EQ(Count(table, "  already current\n"), 2u) << table;
    EXPECT_NE(table.find("\n2 of 6 downloads succeeded (2 already current); 2 not started: the "
                         "fleet stopped after its failures\n"),
              std::string::npos)
        << table;

    // The downloads running when the limit came went on to their end.
    EXPECT_EQ(Slurp(flash86), Image());
    EXPECT_EQ(Slurp(flash88), Image());
    std::map<std::string, nlohmann::json> byTarget;
    for (const nlohmann::json& object : JsonLines(wide->Out())) {
        byTarget[object.value("target", "summary")] = object;
    }
    ASSERT_EQ(byTarget.size(), 7u) << wide->Out();
    for (const int host : {90, 91}) {
        const nlohmann::json& stopped = byTarget["tcp " + Address(host)];
        EXPECT_EQ(stopped["outcome"], "stopped");
        EXPECT_EQ(stopped["result"], -6);
        EXPECT_EQ(stopped["note"], "the fleet stopped at --max-failures 2");
        EXPECT_TRUE(stopped["start"].is_null());
        EXPECT_TRUE(stopped["logged"].get<bool>());
    }
    // The versions of a download in the one form.
    const nlohmann::json& done = byTarget["tcp " + Address(86)];
    EXPECT_EQ(done["outcome"], "succeeded");
    EXPECT_EQ(std::tuple(done["versionBefore"], done["fileVersion"], done["versionAfter"]),
              std::tuple(nlohmann::json("1.00"), nlohmann::json("1.10"), nlohmann::json("1.10")));
    EXPECT_EQ(byTarget["summary"]["summary"],
              nlohmann::json::parse(R"({"targets":6,"succeeded":2,"failed":4,"alreadyCurrent":0,)"
                                    R"("stopped":2,"exitStatus":10})"));
}

TEST_F(Fleet, StatusLineOnATerminalAndNowhereElse) {
    using Sink = OnStderr::Sink;
    for (const int host : {81, 82, 83, 84, 85, 86, 87, 88}) {
        Sim(host);
    }
    Sim(89, {"--erase-seconds", "30"});
    StartSims();
    auto fleet = [&](Sink sink, const std::string& name, const std::vector<int>& hosts,
                     std::vector<std::string> more = {}, std::string cancelAt = {}) {
        std::vector<std::string> args = {"--model",
                                         "6",
                                         "--dir",
                                         VEXIL_SAMPLE_DIR,
                                         "--yes",
                                         "--targets",
                                         Targets(name + ".txt", hosts)};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<OnStderr>(sink, args, dir_.path(), name, std::move(cancelAt));
    };
    // All side by side: each a fleet of two but the scan and the cancelled one.
    auto terminal = fleet(Sink::kTerminal, "terminal", {81, 82});
    auto file = fleet(Sink::kFile, "file", {83, 84});
    auto pipe = fleet(Sink::kPipe, "pipe", {85, 86});
    auto off = fleet(Sink::kTerminal, "off", {87}, {"--no-progress"});
    auto cancelled = fleet(Sink::kTerminal, "cancelled", {89}, {}, "status 57626");
    auto scan = std::make_unique<OnStderr>(
        Sink::kTerminal,
        std::vector<std::string>{"--model", "6", "--scan", Address(88) + "-" + Address(90)},
        dir_.path(), "scan");
    // Every status line drawn was taken off before anything else was written, the last one
    // too: without them the text is a file's, the cursor at the start of a line.
    auto cleanWithout = [](const std::string& text) {
        const std::string rest =
            std::regex_replace(text, std::regex("\\[ [0-9]+/[0-9]+ \\][^\r\n]*\r\033\\[K"), "");
        return !HasControlBytes(rest) && rest.find(" · ") == std::string::npos &&
               (rest.empty() || rest.ends_with("\n"));
    };
    std::string err;
    // On the terminal: the status line from the start, the targets' lines above it.
    EXPECT_EQ(terminal->Wait(err), 0);
    EXPECT_NE(err.find("[ 0/2 ] 0 ok · 0 failed · 2 running · 0 waiting · 0:0"), std::string::npos)
        << err;
    EXPECT_TRUE(cleanWithout(err)) << err;
    EXPECT_GT(Count(err, "[tcp 192.0.2.81] information 110"), 0u) << err;
    // Without a terminal, or with --no-progress: not one control byte, the lines as they were.
    for (const auto& [command, name] :
         {std::pair{file.get(), "file"}, std::pair{pipe.get(), "pipe"},
          std::pair{off.get(), "off"}}) {
        EXPECT_EQ(command->Wait(err), 0) << name;
        EXPECT_FALSE(HasControlBytes(err)) << name << ": " << err;
        EXPECT_EQ(Count(err, "] information 110"), std::string(name) == "off" ? 1u : 2u) << name;
    }
    // Ctrl-C on the way to the erase: the download cancelled, the terminal left clean.
    const int status = cancelled->Wait(err);
    EXPECT_TRUE(status == 5 || status == 6) << status << ": " << err;
    EXPECT_NE(err.find("1 running"), std::string::npos) << err;
    EXPECT_TRUE(cleanWithout(err)) << err;
    // A scan: the addresses asked and the print servers found.
    EXPECT_EQ(scan->Wait(err), 0) << err;
    EXPECT_NE(err.find("[ 0/3 ] print servers found: 0 · 0:00"), std::string::npos) << err;
    EXPECT_TRUE(cleanWithout(err)) << err;
}

}  // namespace
}  // namespace vexil::test
