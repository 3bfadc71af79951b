// Runs vexil-printserver-sim as a child process for a test (a process::Program), and stops it
// again. The simulator ends with the test whatever happens, so a test that crashes leaves no
// simulator behind on its ports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "tests/support/Loopback.h"

namespace vexil::test {

class SimProcess {
  public:
    // Starts the simulator with `args` and waits until it is ready, at most 60 seconds (under
    // Wine a program takes seconds to start, on a busy machine much more). Where a descriptor
    // reaches it, it says so on a pipe of its own, so --quiet changes nothing there; a program
    // started by Wine gets no descriptor handed down, so there its log's "listening on" line says
    // it, and --quiet is refused. When it is not ready, the test fails with its exit status and
    // its log, and Running() is false. It runs in English (LANGUAGE=en) whatever language the
    // test runs in, as its start lines are read here. The path of the binary comes from the
    // VEXIL_SIM environment variable or the build's default.
    explicit SimProcess(const std::vector<std::string>& args);
    // The same on four free ports of its own (Ports() says which), chosen again when another
    // process takes one first; with `descriptorLimit` above 0 the simulator runs with at most
    // that many open descriptors (only where LimitsDescriptors() says so).
    struct OnFreePorts {
        int descriptorLimit = 0;
    };
    SimProcess(const std::vector<std::string>& args, OnFreePorts how);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Whether the platform can start it with a descriptor limit.
    static bool LimitsDescriptors() { return process::Program::LimitsDescriptors(); }

    bool Running() const { return program_.Running(); }
    // Ends it as SIGTERM would in use. Windows has no SIGTERM: there it is terminated at once.
    void Stop();
    // Waits for the process to end by itself (for --once); returns its exit status or -1.
    int WaitForExit(int timeoutMs);
    // What it wrote on stderr so far.
    std::string Log() const;
    const SimPorts& Ports() const { return ports_; }

  private:
    // Starts it with its stderr in a new log file and waits until it is ready; when it is not,
    // ends it and returns why.
    std::string Start(const std::vector<std::string>& args, int descriptorLimit);
    // Waits until it is ready: "" once it is, or how it failed, having ended it.
    std::string AwaitReady();

    process::Program program_;
    std::filesystem::path logPath_;
    SimPorts ports_;
};

}  // namespace vexil::test
