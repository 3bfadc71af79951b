// Child processes. A fleet's downloads are children of this very program: each started with its
// standard error and a report stream piped back to the fleet, all read from one wait that also
// ends at the cancel command, each cancelled on request and none left running unsupervised when
// the fleet ends, even killed. Another program (the simulator the tests play a print server
// with) runs as a Program: its standard error into a file, ended at once with the program that
// started it. The platform's side is in ProcessPosix.cpp and ProcessWindows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Reason.h"

namespace vexil::process {

// The option by which a child learns where its report goes, and the largest value it can take
// (a descriptor number on POSIX, a handle value on Windows).
inline constexpr const char* kReportOption = "--report-fd";
int MaxReportChannel();

enum class Stream { kErrors, kReport };
struct Output {
    std::size_t child;
    Stream stream;
    std::string data;
    bool ended;  // the stream has closed; data holds what came last
};

struct Exit {
    bool cancelled;  // ended by the cancel command before it could report
    Reason how;      // kEndedBySignal, kEndedWithStatus or kEndedByCtrlC
    bool killed;     // ended from outside rather than by itself
};

enum class Started { kYes, kNoRoom, kFailed };

class Children {
  public:
    Children();
    ~Children();
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;

    // Starts this program again with `args` (without its own name) and the report option, with
    // nothing to read on its standard input. kNoRoom when only room (descriptors,
    // processes, memory) was missing, which a child that ends gives back; `reason` says why it
    // failed otherwise.
    Started Start(std::size_t child, const std::vector<std::string>& args, Reason& reason);
    // Waits until children have written or closed a stream (appended to `outputs`) or a cancel
    // is pending (kCancel, for console::TakeCancel to take), or until `timeoutMs` has passed
    // (kTimeout; below 0: no limit); kBroken when the wait itself failed and cannot go on.
    enum class Woken { kOutput, kCancel, kTimeout, kBroken };
    Woken Wait(std::vector<Output>& outputs, int timeoutMs = -1);
    // After both of its streams have ended: waits for the child's end.
    Exit Reap(std::size_t child);
    // The cancel command for every child still running.
    void CancelAll();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// What starts another program.
struct Launch {
    std::string program;  // its path, UTF-8
    std::vector<std::string> args;
    std::string errorFile;  // made anew, or emptied, for its standard error; UTF-8
    // When set, the option by which it learns a descriptor of its own, numbered 3, on which it
    // says it is ready and closes it (only where Program::HandsDownDescriptors()).
    std::string readyOption;
    // Above 0: the most descriptors it may have open (only where Program::LimitsDescriptors()).
    int descriptorLimit = 0;
};

// Another program as a child process. Its standard input and output are the null device, and
// it inherits nothing else of this process. It ends with this process however that ends (a
// crash included): on POSIX it gets SIGKILL when the thread that started it ends, so it is
// started from a thread that outlives it; on Windows it runs in a Job object that kills it.
class Program {
  public:
    Program() = default;
    ~Program();  // kills it when it still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Whether a descriptor reaches a child by its number (POSIX; a program started by Wine gets
    // none handed down), and whether a child can be given a descriptor limit (POSIX's
    // setrlimit; Windows has no such limit on handles).
    static bool HandsDownDescriptors();
    static bool LimitsDescriptors();

    // Starts it; "" when it runs, else why not (nothing then runs).
    std::string Start(const Launch& launch);
    // What it said on its ready descriptor until it closed it or ended, or until `timeoutMs`
    // passed; the descriptor is closed here then.
    std::string ReadReady(int timeoutMs);
    bool Running() const { return handle_ != 0; }
    // Asks it to end as SIGTERM does; Windows has no such request, and there it is killed.
    void Terminate();
    void Kill();
    // Waits at most `timeoutMs` for its end; its exit status, or -1 when it still runs or was
    // ended by a signal.
    int WaitForExit(int timeoutMs);

  private:
    std::intptr_t handle_ = 0;  // its pid on POSIX, its process handle on Windows; 0: none
    int ready_ = -1;            // this end of the ready descriptor's pipe
};

// In a child: from now on the fleet's end is a cancel command, and the report goes to `channel`
// once, with SendReport.
void WatchFleet(int channel);
void SendReport(int channel, const std::string& text);

}  // namespace vexil::process
