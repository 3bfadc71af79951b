// vexil-download end to end: the real command, library and simulators inside the private
// network namespace of in_netns.sh, where all of 192.0.2.0/24 is local, so each case has a
// simulator on an address of its own and the slow downloads (10, 10 and 5 seconds of waiting)
// run side by side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/Download.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestFiles.h"

extern char** environ;

namespace vexil::test {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the command with stdin from /dev/null (no terminal) and its output in two files.
class Command {
  public:
    Command(std::vector<std::string> args, const std::vector<std::string>& env,
            const std::filesystem::path& dir, const std::string& name)
        : out_((dir / (name + ".out")).string()), err_((dir / (name + ".err")).string()) {
        args.insert(args.begin(), VEXIL_DOWNLOAD);
        std::vector<std::string> environment = env;
        for (char** e = environ; *e != nullptr; ++e) {
            environment.emplace_back(*e);
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            ::dup2(::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            ::dup2(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            std::vector<char*> argv;
            std::vector<char*> envp;
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            for (std::string& e : environment) {
                envp.push_back(e.data());
            }
            argv.push_back(nullptr);
            envp.push_back(nullptr);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Out() const { return Slurp(out_); }
    std::string Err() const { return Slurp(err_); }

  private:
    pid_t pid_ = -1;
    std::string out_;
    std::string err_;
};

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
    };
    ScratchDir dir;
    std::ofstream(dir.path() / "twice")
        << "tcp 10.0.0.1\nipx 00000001:00D1F0123456\ntcp 10.0.0.01\n";
    for (auto c : cases) {
        std::string line;
        for (std::string& arg : c.args) {
            if (arg.starts_with("@")) {
                arg = (dir.path() / arg.substr(1)).string();
            }
            line += arg + " ";
        }
        Command command(c.args, {}, dir.path(), "refused");
        EXPECT_EQ(command.Wait(), 64) << line;
        EXPECT_NE(command.Err().find(c.err), std::string::npos) << command.Err();
    }
}

TEST(VexilDownload, DownloadsFailuresCancelAndFleet) {
    ScratchDir dir;
    const std::string log = (dir.path() / "downloads.log").string();
    const std::vector<Case> cases = {
        {"tcp",
         {"--once"},
         {"--tcp", "@", "--yes", "--log", log},
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
         {"--tcp", "@", "--yes", "--log", log},
         10,
         {"status 57613 ", "error 57625 "},
         {"information 110"},
         false},
        {"no terminal",
         {},
         {"--tcp", "@"},
         6,
         {"指定されたターゲット @ の\n現在のバージョンは 1.10 です。\n"
          "ダウンロードするファイルのバージョンは、 1.10 です。\n"},
         {"information 121"},
         false},
    };
    // The fleet: three simulators, one of whose erase always fails; the IPX target reaches the
    // second one through its tunnel.
    const std::string targets = dir.File("targets", {});
    std::ofstream(targets) << "# the fleet\ntcp 192.0.2.21\n\nipx 00000001:00D1F0123456  # .22\n"
                              "tcp 192.0.2.23\n";
    const std::vector<std::string> fleetSims[] = {{}, {}, {"--fail-erase", "9"}};

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
        commands.push_back(std::make_unique<Command>(
            args, std::vector<std::string>{"TAVDL_IPX_TUNNEL=" + Address(host) + ":16640"},
            dir.path(), cases[i].name));
    }
    std::vector<std::string> fleetFlashes;
    for (int k = 0; k < 3; ++k) {
        fleetFlashes.push_back(startSim(21 + k, fleetSims[k]));
    }
    Command fleet(
        {"--model", "6", "--dir", VEXIL_SAMPLE_DIR, "--yes", "--targets", targets, "--jobs", "3"},
        {"TAVDL_IPX_TUNNEL=192.0.2.22:16640"}, dir.path(), "fleet");

    // Meanwhile, in this process: Ctrl-C while the flash is being erased.
    {
        SimProcess sim({"--listen", Address(31), "--erase-seconds", "30"});
        std::thread interrupt([&sim] {
            while (sim.Log().find("erase:") == std::string::npos) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            ::kill(::getpid(), SIGINT);
        });
        cli::CatchCancelSignals();
        WorkingDir cwd(VEXIL_SAMPLE_DIR);
        std::FILE* out = std::tmpfile();
        const int fds = OpenDescriptorCount();
        cli::Target target;
        ASSERT_FALSE(cli::ParseTarget(false, Address(31), target).Refused());
        cli::Outcome outcome;
        {
            cli::ConsolePort port(0, true, out);
            outcome = cli::RunDownload(target, 6, port);
        }
        interrupt.join();
        EXPECT_EQ(OpenDescriptorCount(), fds) << "a descriptor was left open";
        EXPECT_EQ(cli::ExitStatus(outcome.result), 5);
        EXPECT_EQ(outcome.message, 111);
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
        EXPECT_EQ(std::filesystem::exists(flashes[i]), c.flashWritten);
        if (c.flashWritten) {
            EXPECT_EQ(Slurp(flashes[i]), Slurp(expected));
        }
    }
    const std::string logged = Slurp(log);
    EXPECT_TRUE(
        std::regex_search(logged, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ )"
                                             R"(target=tcp:192\.0\.2\.11 model=6 )"
                                             R"(file=01\.10 before=1\.10 result=0 message=110)")))
        << logged;
    EXPECT_NE(logged.find("target=tcp:192.0.2.13 model=6 file=01.10 before=1.10 result=-10 "
                          "message=57625"),
              std::string::npos)
        << logged;

    EXPECT_EQ(fleet.Wait(), 11) << fleet.Err();
    const std::string summary = fleet.Out();
    for (const char* row : {R"(tcp 192\.0\.2\.21 +0 +110 +\d+\.\d  ダウンロードが終了しました。)",
                            R"(ipx 00000001:00D1F0123456 +0 +110 )",
                            R"(tcp 192\.0\.2\.23 +-11 +57623 )", "2 of 3 downloads succeeded"}) {
        EXPECT_TRUE(std::regex_search(summary, std::regex(row))) << row << "\n" << summary;
    }
    EXPECT_NE(fleet.Err().find("[tcp 192.0.2.23] error 116 "), std::string::npos);
    EXPECT_EQ(Slurp(fleetFlashes[0]), Slurp(expected));
    EXPECT_EQ(Slurp(fleetFlashes[1]), Slurp(expected));
    EXPECT_FALSE(std::filesystem::exists(fleetFlashes[2]));
}

}  // namespace
}  // namespace vexil::test
