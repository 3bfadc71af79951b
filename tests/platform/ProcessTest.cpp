// The platform's child processes and cancel command, as a fleet uses them: this test program
// starts copies of itself as children (Children::Start runs this very program again), and a
// copy given the report option plays the child named by its first argument.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Console.h"
#include "platform/Process.h"
#include "resources/Reasons.h"
#include "tests/support/Deadline.h"
#include "tests/support/TestPlatform.h"

namespace vexil::test {
namespace {

struct Heard {
    std::string errors;
    std::string report;
    bool ended = false;
    process::Exit exit{};
};

// Reads every child's streams until all have ended, and reaps each.
void Collect(process::Children& children, std::map<std::size_t, Heard>& heard,
             const std::function<void(std::size_t, const Heard&)>& onOutput = {}) {
    std::map<std::size_t, int> open;
    for (const auto& [id, child] : heard) {
        open[id] = 2;
    }
    std::size_t running = heard.size();
    while (running > 0) {
        std::vector<process::Output> outputs;
        ASSERT_NE(children.Wait(outputs), process::Children::Woken::kBroken);
        for (const process::Output& output : outputs) {
            Heard& child = heard[output.child];
            (output.stream == process::Stream::kErrors ? child.errors : child.report) +=
                output.data;
            if (onOutput) {
                onOutput(output.child, child);
            }
            if (output.ended && --open[output.child] == 0) {
                child.exit = children.Reap(output.child);
                child.ended = true;
                --running;
            }
        }
    }
}

process::Started Start(process::Children& children, std::size_t id,
                       const std::vector<std::string>& args) {
    Reason reason;
    const process::Started started = children.Start(id, args, reason);
    EXPECT_EQ(started, process::Started::kYes) << Words(reason, Language::kEnglish);
    return started;
}

TEST(Process, StreamsStatusesAndArgumentsOfSeveralChildren) {
    const Watchdog deadline(120, "the children's streams to end");
    process::Children children;
    // Arguments as a user may give them: spaces, quotes, backslashes before a quote and at the
    // end (a Windows folder), and text outside any code page.
    const std::vector<std::string> arguments = {"plain",
                                                "two words",
                                                "say \"yes\"",
                                                "C:\\Program Files\\Vexil\\",
                                                "a\\\\\"b",
                                                "\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab",
                                                ""};
    std::map<std::size_t, Heard> heard;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        Start(children, i, {"echo", arguments[i]});
        heard[i];
    }
    Start(children, 100, {"status", "7"});
    heard[100];
    Collect(children, heard);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(heard[i].report, "[" + arguments[i] + "]\n") << "argument " << i;
        EXPECT_EQ(heard[i].errors, "first line\nsecond line without its end") << "child " << i;
        EXPECT_FALSE(heard[i].exit.cancelled);
        EXPECT_EQ(Words(heard[i].exit.how, Language::kEnglish), "ended with status 0");
    }
    // A child that ends without a report: its status, and not taken for a cancel.
    EXPECT_EQ(heard[100].report, "");
    EXPECT_EQ(Words(heard[100].exit.how, Language::kEnglish), "ended with status 7");
    EXPECT_FALSE(heard[100].exit.cancelled);
    EXPECT_FALSE(heard[100].exit.killed);
}

TEST(Process, CancelReachesEveryRunningChild) {
    const Watchdog deadline(120, "the cancelled children to end");
    console::CatchCancel();
    process::Children children;
    std::map<std::size_t, Heard> heard;
    for (std::size_t i = 0; i < 3; ++i) {
        Start(children, i, {"wait-for-cancel"});
        heard[i];
    }
    // Cancelled once every child waits for it, so that each shows it has seen the command.
    int waiting = 0;
    bool cancelled = false;
    Collect(children, heard, [&](std::size_t, const Heard& child) {
        if (child.errors == "waiting\n" && ++waiting == 3 && !cancelled) {
            cancelled = true;
            children.CancelAll();
        }
    });
    EXPECT_TRUE(cancelled) << "not every child said it was waiting";
    for (auto& [id, child] : heard) {
        EXPECT_EQ(child.report, "cancelled\n") << "child " << id << ": " << child.errors;
    }
}

// A wait with a deadline ends at it while a child writes nothing: a fleet's status line is
// redrawn from that wait.
TEST(Process, WaitEndsAtItsDeadline) {
    const Watchdog deadline(120, "the child to end");
    console::CatchCancel();
    process::Children children;
    std::map<std::size_t, Heard> heard;
    Start(children, 0, {"wait-for-cancel"});
    heard[0];
    bool timedOut = false;
    Collect(children, heard, [&](std::size_t, const Heard& child) {
        if (child.errors == "waiting\n" && !timedOut) {
            std::vector<process::Output> none;
            EXPECT_EQ(children.Wait(none, 50), process::Children::Woken::kTimeout);
            EXPECT_TRUE(none.empty());
            timedOut = true;
            children.CancelAll();
        }
    });
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(heard[0].report, "cancelled\n") << heard[0].errors;
}

// A fleet's size costs the fleet no threads and, once its children have ended, no handles: many
// children at once, each waiting for the cancel, against the fleet's cost with one.
TEST(Process, ManyChildrenCostTheFleetNoThreads) {
    const Watchdog deadline(300, "the many children to end");
    console::CatchCancel();
    process::Children children;
    std::map<std::size_t, Heard> heard;
    Start(children, 0, {"echo", "one"});
    heard[0];
    Collect(children, heard);
    const int threads = ThreadCount();
    const int handles = OpenDescriptorCount();
    constexpr std::size_t kMany = 64;
    heard.clear();
    for (std::size_t i = 1; i <= kMany; ++i) {
        Start(children, i, {"wait-for-cancel"});
        heard[i];
    }
    std::set<std::size_t> waiting;
    int peak = -1;
    Collect(children, heard, [&](std::size_t id, const Heard& child) {
        if (child.errors == "waiting\n" && waiting.insert(id).second && waiting.size() == kMany) {
            peak = ThreadCount();
            children.CancelAll();
        }
    });
    EXPECT_EQ(waiting.size(), kMany) << "not every child said it was waiting";
    EXPECT_LE(peak, threads) << "threads with " << kMany << " children running";
    EXPECT_EQ(OpenDescriptorCount(), handles) << "handles after the children ended";
    for (auto& [id, child] : heard) {
        EXPECT_EQ(child.report, "cancelled\n") << "child " << id << ": " << child.errors;
    }
}

TEST(Console, CancelIsHeldUntilTaken) {
    console::CatchCancel();
    while (console::TakeCancel()) {
    }
    EXPECT_FALSE(console::WaitForCancel(0));
    console::RaiseCancel();
    EXPECT_TRUE(console::WaitForCancel(10'000)) << "a raised cancel did not end the wait";
    EXPECT_TRUE(console::TakeCancel());
    EXPECT_FALSE(console::TakeCancel()) << "one cancel was taken twice";
    EXPECT_FALSE(console::WaitForCancel(0));
}

// The children's parts.
int Child(const std::vector<std::string>& args, int channel) {
    console::Prepare();
    const std::string role = args.size() > 1 ? args[1] : "";
    if (role == "echo" && args.size() > 2) {
        std::fputs("first line\nsecond line without its end", stderr);
        std::fflush(stderr);
        process::SendReport(channel, "[" + args[2] + "]\n");
        return 0;
    }
    if (role == "status") {
        return std::atoi(args[2].c_str());
    }
    if (role == "wait-for-cancel") {
        console::CatchCancel();
        process::WatchFleet(channel);
        std::fputs("waiting\n", stderr);
        std::fflush(stderr);
        for (int i = 0; i < 600; ++i) {
            if (console::WaitForCancel(100) && console::TakeCancel()) {
                process::SendReport(channel, "cancelled\n");
                return 0;
            }
        }
        return 3;
    }
    return 2;
}

}  // namespace
}  // namespace vexil::test

int main(int argc, char** argv) {
    const std::vector<std::string> args = vexil::console::Arguments(argc, argv);
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == vexil::process::kReportOption) {
            std::vector<std::string> own(args.begin(), args.begin() + static_cast<long>(i));
            return vexil::test::Child(own, std::atoi(args[i + 1].c_str()));
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
