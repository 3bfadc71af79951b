// A fleet's downloads as child processes of this very program: each started with its standard
// error and a report stream piped back to the fleet, all read from one wait that also ends at
// the cancel command, each cancelled on request and none left running unsupervised when the
// fleet ends, even killed. The platform's side is in ProcessPosix.cpp and ProcessWindows.cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

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
    bool cancelled;   // ended by the cancel command before it could report
    std::string how;  // "was ended by signal 9", "ended with status 3"
    bool killed;      // ended from outside rather than by itself
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
    Started Start(std::size_t child, const std::vector<std::string>& args, std::string& reason);
    // Waits until children have written or closed a stream (appended to `outputs`) or a cancel
    // is pending (kCancel, for console::TakeCancel to take); kBroken when the wait itself failed
    // and cannot go on.
    enum class Woken { kOutput, kCancel, kBroken };
    Woken Wait(std::vector<Output>& outputs);
    // After both of its streams have ended: waits for the child's end.
    Exit Reap(std::size_t child);
    // The cancel command for every child still running.
    void CancelAll();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// In a child: from now on the fleet's end is a cancel command, and the report goes to `channel`
// once, with SendReport.
void WatchFleet(int channel);
void SendReport(int channel, const std::string& text);

}  // namespace vexil::process
