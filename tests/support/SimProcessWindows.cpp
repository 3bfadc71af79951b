// The socket headers (through SimProcess.h) go before windows.h.
#include "tests/support/SimProcess.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "platform/CommandLineWindows.h"

namespace vexil::test {

namespace {

std::string Why(DWORD error) {
    return std::system_category().message(static_cast<int>(error)) + " (error " +
           std::to_string(error) + ")";
}

// The Job object of every simulator this program starts: Windows closes its handle when the
// program ends, however it ends, and with it ends every simulator still in it. It is never
// closed otherwise, and no child inherits it.
HANDLE SimulatorJob() {
    static const HANDLE job = [] {
        HANDLE made = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made != nullptr && !::SetInformationJobObject(made, JobObjectExtendedLimitInformation,
                                                          &limits, sizeof limits)) {
            ::CloseHandle(made);
            made = nullptr;
        }
        return made;
    }();
    return job;
}

HANDLE ProcessOf(std::intptr_t process) {
    return reinterpret_cast<HANDLE>(process);
}

}  // namespace

bool SimProcess::LimitsDescriptors() {
    return false;
}

std::string SimProcess::Launch(const std::string& binary, const std::vector<std::string>& args,
                               int descriptorLimit) {
    if (descriptorLimit > 0) {
        return "a descriptor limit was asked for, and Windows has none to set";
    }
    // A program started by Wine gets no descriptor handed down, so --ready-fd cannot reach it:
    // the line it logs once every socket listens says it is ready instead.
    if (std::find(args.begin(), args.end(), "--quiet") != args.end()) {
        return "--quiet leaves out the \"listening on\" line that says it is ready";
    }
    HANDLE job = SimulatorJob();
    if (job == nullptr) {
        return "no Job object to end it with the test: " + Why(::GetLastError());
    }
    // Its standard error goes to the log, its other streams to the null device. These two
    // handles are the only inheritable ones, and only until it has them: simulators are started
    // from one thread at a time.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE log = ::CreateFileW(logPath_.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return "no log file for it: " + Why(::GetLastError());
    }
    HANDLE null =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inheritable, OPEN_EXISTING, 0, nullptr);
    const std::wstring program = windows::Wide(binary);
    std::wstring commandLine = windows::Quoted(program);
    for (const std::string& arg : args) {
        commandLine += L" " + windows::Quoted(windows::Wide(arg));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = null;
    startup.hStdError = log;
    PROCESS_INFORMATION info{};
    // Suspended until it is in the Job object, so that not one of its instructions runs outside.
    const BOOL created =
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                         CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    const DWORD error = ::GetLastError();
    ::CloseHandle(log);
    if (null != INVALID_HANDLE_VALUE) {
        ::CloseHandle(null);
    }
    if (!created) {
        return "no process for it: " + Why(error);
    }
    if (!::AssignProcessToJobObject(job, info.hProcess)) {
        const DWORD assignError = ::GetLastError();
        ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        return "it could not be put in the Job object that ends it with the test: " +
               Why(assignError);
    }
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    process_ = reinterpret_cast<std::intptr_t>(info.hProcess);

    // Its log is read again after each slice of a wait for its end. Under Wine a program takes
    // a second or more to start, on a busy machine much more.
    constexpr int kReadySeconds = 60;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReadySeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Log().find("listening on") != std::string::npos) {
            return {};
        }
        if (::WaitForSingleObject(info.hProcess, 20) == WAIT_OBJECT_0) {
            break;
        }
    }
    if (Log().find("listening on") != std::string::npos) {
        return {};
    }
    const int status = WaitForExit(0);
    if (Running()) {
        ::TerminateProcess(info.hProcess, 1);
        WaitForExit(5000);
        return "it did not say it listens within " + std::to_string(kReadySeconds) +
               " seconds and was stopped";
    }
    return "it ended with exit status " + std::to_string(status);
}

void SimProcess::Stop() {
    // Windows has no SIGTERM: the simulator is terminated at once, and Windows closes its
    // sockets as it would at its own end.
    if (Running()) {
        ::TerminateProcess(ProcessOf(process_), 1);
        WaitForExit(5000);
    }
}

int SimProcess::WaitForExit(int timeoutMs) {
    if (!Running() || ::WaitForSingleObject(ProcessOf(process_), static_cast<DWORD>(timeoutMs)) !=
                          WAIT_OBJECT_0) {
        return -1;
    }
    DWORD status = 0;
    const bool known = ::GetExitCodeProcess(ProcessOf(process_), &status) != 0;
    ::CloseHandle(ProcessOf(process_));
    process_ = 0;
    return known ? static_cast<int>(status) : -1;
}

}  // namespace vexil::test
