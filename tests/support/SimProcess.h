// Runs vexil-printserver-sim as a child process for a test, and stops it again.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexil::test {

class SimProcess {
  public:
    // Starts the simulator with `args` and waits until it listens. The path of the binary
    // comes from the VEXIL_SIM environment variable or the build's default.
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Running() const { return pid_ > 0; }
    // Ends it as SIGTERM would in use.
    void Stop();
    // Waits for the process to end by itself (for --once); returns its exit status or -1.
    int WaitForExit(int timeoutMs);
    // What it wrote on stderr so far.
    std::string Log() const;

  private:
    pid_t pid_ = -1;
    std::string logPath_;
};

}  // namespace vexil::test
