// Runs vexil-printserver-sim as a child process for a test, and stops it again. The simulator
// ends with the thread that started it whatever happens (it gets SIGKILL when that thread
// ends), so a test that crashes leaves no simulator behind on its ports.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/Loopback.h"

namespace vexil::test {

class SimProcess {
  public:
    // Starts the simulator with `args` and waits until it says on a pipe of its own that it
    // listens (so --quiet changes nothing here), at most 10 seconds. When it does not, the test
    // fails with its exit status and its log, and Running() is false. The path of the binary
    // comes from the VEXIL_SIM environment variable or the build's default.
    explicit SimProcess(const std::vector<std::string>& args);
    // The same on four free ports of its own (Ports() says which), chosen again when another
    // process takes one first; with `descriptorLimit` above 0 the simulator runs with at most
    // that many open descriptors.
    struct OnFreePorts {
        int descriptorLimit = 0;
    };
    SimProcess(const std::vector<std::string>& args, OnFreePorts how);
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
    const SimPorts& Ports() const { return ports_; }

  private:
    // Starts it and waits until it is ready; when it is not, ends it and returns why.
    std::string Start(const std::vector<std::string>& args, int descriptorLimit);

    pid_t pid_ = -1;
    std::string logPath_;
    SimPorts ports_;
};

}  // namespace vexil::test
