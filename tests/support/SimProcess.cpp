#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "tests/support/TestPlatform.h"

#ifndef VEXIL_SIM_PATH
#define VEXIL_SIM_PATH "vexil-printserver-sim"
#endif

namespace vexil::test {

SimProcess::SimProcess(const std::vector<std::string>& args) {
    if (const std::string why = Start(args, 0); !why.empty()) {
        ADD_FAILURE() << why;
    }
}

SimProcess::SimProcess(const std::vector<std::string>& args, OnFreePorts how) {
    constexpr int kAttempts = 5;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        ports_ = FreeSimPorts();
        std::vector<std::string> all = {"--vantrel-port",    std::to_string(ports_.vantrel),
                                        "--bramble-port",    std::to_string(ports_.bramble),
                                        "--download-port",   std::to_string(ports_.download),
                                        "--ipx-tunnel-port", std::to_string(ports_.tunnel)};
        all.insert(all.end(), args.begin(), args.end());
        const std::string why = Start(all, how.descriptorLimit);
        if (why.empty()) {
            return;
        }
        // A port taken by another process in between: choose again.
        if (attempt == kAttempts || Log().find("cannot listen") == std::string::npos) {
            ADD_FAILURE() << why;
            return;
        }
        std::error_code ignored;
        std::filesystem::remove(logPath_, ignored);
    }
}

std::string SimProcess::Start(const std::vector<std::string>& args, int descriptorLimit) {
    static std::atomic<int> counter{0};
    logPath_ =
        std::filesystem::temp_directory_path() /
        ("vexil-sim-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++) + ".log");
    const char* configured = std::getenv("VEXIL_SIM");
    const std::string how = Launch(configured ? configured : VEXIL_SIM_PATH, args, descriptorLimit);
    if (how.empty()) {
        return how;
    }
    return "vexil-printserver-sim did not start: " + how + "; its log:\n" + Log();
}

SimProcess::~SimProcess() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
}

std::string SimProcess::Log() const {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace vexil::test
