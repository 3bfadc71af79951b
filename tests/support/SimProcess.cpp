#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "platform/WidePath.h"
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
    process::Launch launch;
    launch.program = configured ? configured : VEXIL_SIM_PATH;
    launch.args = args;
    launch.errorFile = Utf8Text(logPath_);
    launch.descriptorLimit = descriptorLimit;
    std::string how;
    if (process::Program::HandsDownDescriptors()) {
        launch.readyOption = "--ready-fd";
    } else if (std::find(args.begin(), args.end(), "--quiet") != args.end()) {
        how = "--quiet leaves out the \"listening on\" line that says it is ready";
    }
    if (how.empty()) {
        // Its start lines follow the language, and two of them are read here ("listening on",
        // "cannot listen"): it starts in English whatever language this process runs in. The
        // child takes the environment as it is when it starts; this process's own comes back.
        const char* before = std::getenv("LANGUAGE");
        const std::optional<std::string> kept =
            before ? std::optional<std::string>(before) : std::nullopt;
        SetEnvironment("LANGUAGE", "en");
        how = program_.Start(launch);
        SetEnvironment("LANGUAGE", kept);
    }
    if (how.empty()) {
        how = AwaitReady();
    }
    if (how.empty()) {
        return how;
    }
    return "vexil-printserver-sim did not start: " + how + "; its log:\n" + Log();
}

std::string SimProcess::AwaitReady() {
    constexpr int kReadySeconds = 60;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReadySeconds);
    if (process::Program::HandsDownDescriptors()) {
        // It says "ready" on its descriptor once it listens, and closes it; this end sees the
        // end of the pipe instead when it dies first.
        if (program_.ReadReady(kReadySeconds * 1000) == "ready\n") {
            return {};
        }
    } else {
        // Its log is read again after each slice of a wait for its end.
        while (program_.Running() && std::chrono::steady_clock::now() < deadline) {
            if (Log().find("listening on") != std::string::npos) {
                return {};
            }
            program_.WaitForExit(20);
        }
        if (Log().find("listening on") != std::string::npos) {
            return {};
        }
    }
    // Not ready: it died, or it hangs; either way it goes, and the test hears why.
    const int status = program_.WaitForExit(1000);
    if (program_.Running()) {
        program_.Kill();
        return "it did not say it listens within " + std::to_string(kReadySeconds) +
               " seconds and was stopped";
    }
    return status >= 0 ? "it ended with exit status " + std::to_string(status)
                       : std::string("it was ended by a signal");
}

void SimProcess::Stop() {
    // As SIGTERM ends it in use; where there is no such request it is killed at once, and the
    // system closes its sockets as it would at its own end.
    program_.Terminate();
    if (program_.WaitForExit(5000) < 0) {
        program_.Kill();
    }
}

int SimProcess::WaitForExit(int timeoutMs) {
    return program_.WaitForExit(timeoutMs);
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
