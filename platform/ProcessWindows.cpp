#include <windows.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/CommandLineWindows.h"
#include "platform/Console.h"
#include "platform/ErrorsWindows.h"
#include "platform/Process.h"
#include "platform/WidePath.h"

namespace vexil::process {

namespace {

using windows::Quoted;
using windows::Wide;

// The fleet reads every child's streams from one I/O completion port, on the thread that waits:
// each stream is a named pipe whose end here is overlapped, with one read always under way,
// so that a fleet of any size costs the same threads (an anonymous pipe cannot be read
// overlapped: it would need a thread per pipe). A child's end is a plain handle it inherits.
//
// A child's standard input is a pipe whose writing end only the fleet holds. Closing it is the
// cancel command; and when the fleet ends, even killed, Windows closes it too, so every child
// cancels its download and still writes its log line. A Job object that kills its processes
// with the fleet would end them at once instead, with the print server left in download mode
// and nothing on record.

// What one read takes at most, and what a pipe holds that is not read yet: a child writes its
// lines without waiting for the fleet to come round to it.
constexpr DWORD kChunk = 4096;

// One of a child's streams as read here. Its address is the pipe's completion key; while a
// read is under way its buffer and OVERLAPPED belong to the system, so it stays put until that
// read has completed.
struct Reading {
    std::size_t child = 0;
    Stream stream = Stream::kErrors;
    HANDLE pipe = nullptr;
    OVERLAPPED overlapped{};
    bool pending = false;
    char buffer[kChunk];
};

struct Child {
    HANDLE process = nullptr;
    HANDLE cancel = nullptr;  // the writing end of the child's standard input
    std::unique_ptr<Reading> readings[2];
};

// The completion key of the packet that wakes the wait for a cancel; a stream's key is its
// Reading's address, never zero.
constexpr ULONG_PTR kCancelKey = 0;

void CloseHandleOnce(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    handle = nullptr;
}

std::string Describe(DWORD error) {
    char* text = nullptr;
    const DWORD size = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text),
        0, nullptr);
    std::string out = size > 0 ? std::string(text, size) : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
        out.pop_back();
    }
    return out;
}

bool OutOfRoom(DWORD error) {
    return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
           error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_TOO_MANY_OPEN_FILES;
}

// A pipe whose end here is read overlapped and whose writing end the child inherits. Each has
// a name of its own, with one instance only, and only a local writer may open it.
DWORD MakeReadPipe(HANDLE& ours, HANDLE& theirs) {
    static std::atomic<unsigned long> made{0};
    DWORD error = ERROR_SUCCESS;
    // A name still held by a pipe of an earlier process with this one's number is skipped.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring name = L"\\\\.\\pipe\\vexil-fleet-" +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(made++);
        ours = ::CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
            kChunk, 0, nullptr);
        if (ours == INVALID_HANDLE_VALUE) {
            ours = nullptr;
            error = ::GetLastError();
            if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
                continue;
            }
            return error;
        }
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        theirs =
            ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
        if (theirs != INVALID_HANDLE_VALUE) {
            return ERROR_SUCCESS;
        }
        theirs = nullptr;
        error = ::GetLastError();
        CloseHandleOnce(ours);
        if (error != ERROR_PIPE_BUSY) {
            return error;
        }
    }
    return error;
}

// A command line of `program` (as given) and `args`.
std::wstring CommandLine(const std::wstring& program, const std::vector<std::string>& args) {
    std::wstring line = Quoted(program);
    for (const std::string& arg : args) {
        line += L" " + Quoted(Wide(arg));
    }
    return line;
}

// The Job object of every Program this process starts: Windows closes its handle when the
// process ends, however it ends, and with it ends every program still in it. It is never closed
// otherwise, and no child inherits it.
HANDLE ProgramJob() {
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

}  // namespace

struct Children::State {
    std::map<std::size_t, Child> running;
    HANDLE port = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    std::size_t pending = 0;    // reads under way
    std::vector<Output> ready;  // what came before a wait: streams that ended at their first read
    // Turns the console's cancel event into a packet on the port, one at a time: the wait hands
    // each packet back (`rearm`) before the next is posted, so a cancel not yet taken wakes it
    // once, not over and over.
    std::thread cancelWatcher;
    HANDLE rearm = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE quit = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    // Starts a read of the stream; one that fails at once has ended, and no packet follows.
    void Read(Reading& reading, std::vector<Output>& outputs) {
        reading.overlapped = {};
        if (::ReadFile(reading.pipe, reading.buffer, sizeof reading.buffer, nullptr,
                       &reading.overlapped) ||
            ::GetLastError() == ERROR_IO_PENDING) {
            reading.pending = true;
            ++pending;
            return;
        }
        outputs.push_back({reading.child, reading.stream, {}, true});
        CloseHandleOnce(reading.pipe);
    }

    // A read's packet: what came, and the next read; or the stream's end.
    void Completed(Reading& reading, std::vector<Output>& outputs) {
        reading.pending = false;
        --pending;
        DWORD got = 0;
        if (::GetOverlappedResult(reading.pipe, &reading.overlapped, &got, FALSE) && got > 0) {
            outputs.push_back(
                {reading.child, reading.stream, std::string(reading.buffer, got), false});
            Read(reading, outputs);
            return;
        }
        outputs.push_back({reading.child, reading.stream, {}, true});
        CloseHandleOnce(reading.pipe);
    }

    void WatchCancel() {
        const auto cancel = console::CancelWaitable();
        if (cancelWatcher.joinable() || cancel == -1 || port == nullptr) {
            return;
        }
        cancelWatcher = std::thread([this, event = reinterpret_cast<HANDLE>(cancel)] {
            for (;;) {
                const HANDLE raised[2] = {quit, event};
                if (::WaitForMultipleObjects(2, raised, FALSE, INFINITE) != WAIT_OBJECT_0 + 1 ||
                    !::PostQueuedCompletionStatus(port, 0, kCancelKey, nullptr)) {
                    return;
                }
                const HANDLE taken[2] = {quit, rearm};
                if (::WaitForMultipleObjects(2, taken, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                    return;
                }
            }
        });
    }
};

int MaxReportChannel() {
    return 0x7FFFFFFF;  // a handle value
}

Children::Children() : state_(std::make_unique<State>()) {}

Children::~Children() {
    State& state = *state_;
    if (state.cancelWatcher.joinable()) {
        ::SetEvent(state.quit);
        state.cancelWatcher.join();
    }
    // The children are told to cancel, and the reads still under way are called off; each
    // still completes with a packet, after which its buffer is free. They are not waited for,
    // as on every platform.
    for (auto& [id, child] : state.running) {
        CloseHandleOnce(child.cancel);
        for (const auto& reading : child.readings) {
            if (reading->pending) {
                ::CancelIoEx(reading->pipe, &reading->overlapped);
            }
        }
    }
    while (state.pending > 0) {
        OVERLAPPED_ENTRY entries[64];
        ULONG got = 0;
        if (!::GetQueuedCompletionStatusEx(state.port, entries, 64, &got, 10'000, FALSE)) {
            break;
        }
        for (ULONG i = 0; i < got; ++i) {
            if (entries[i].lpCompletionKey != kCancelKey) {
                auto* reading = reinterpret_cast<Reading*>(entries[i].lpCompletionKey);
                reading->pending = false;
                --state.pending;
            }
        }
    }
    for (auto& [id, child] : state.running) {
        for (auto& reading : child.readings) {
            CloseHandleOnce(reading->pipe);
            if (reading->pending) {
                // Never completed: its memory may still be written, so it is left to the system.
                static_cast<void>(reading.release());
            }
        }
        CloseHandleOnce(child.process);
    }
    CloseHandleOnce(state.port);
    CloseHandleOnce(state.rearm);
    CloseHandleOnce(state.quit);
}

Started Children::Start(std::size_t id, const std::vector<std::string>& args, Reason& reason) {
    HANDLE mine[3] = {};    // errors, report, cancel
    HANDLE theirs[3] = {};  // their standard error, report, standard input
    auto closeAll = [&] {
        for (HANDLE& handle : mine) {
            CloseHandleOnce(handle);
        }
        for (HANDLE& handle : theirs) {
            CloseHandleOnce(handle);
        }
    };
    auto fail = [&](DWORD error) {
        closeAll();
        reason = windows::SystemReason(error);
        return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
    };
    if (state_->port == nullptr || state_->rearm == nullptr || state_->quit == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    for (int i = 0; i < 2; ++i) {
        if (const DWORD error = MakeReadPipe(mine[i], theirs[i]); error != ERROR_SUCCESS) {
            return fail(error);
        }
    }
    if (!::CreatePipe(&theirs[2], &mine[2], nullptr, 0)) {
        return fail(::GetLastError());
    }
    // Only this child's ends are inheritable, and only until it has them: the fleet starts its
    // children from this one thread, so no child inherits another's pipe (which would keep that
    // pipe open after its own child ended).
    ::SetHandleInformation(theirs[2], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    std::unique_ptr<Reading> readings[2];
    for (int i = 0; i < 2; ++i) {
        readings[i] = std::make_unique<Reading>();
        readings[i]->child = id;
        readings[i]->stream = i == 0 ? Stream::kErrors : Stream::kReport;
        if (::CreateIoCompletionPort(mine[i], state_->port,
                                     reinterpret_cast<ULONG_PTR>(readings[i].get()),
                                     0) == nullptr) {
            return fail(::GetLastError());
        }
    }
    wchar_t program[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
    std::wstring commandLine = CommandLine(std::wstring(program, length), args);
    commandLine += L" " + Wide(kReportOption) + L" " +
                   std::to_wstring(reinterpret_cast<std::intptr_t>(theirs[1]));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = theirs[2];
    startup.hStdOutput = theirs[0];  // a child of a fleet writes no output; anything goes to errors
    startup.hStdError = theirs[0];
    PROCESS_INFORMATION info{};
    const BOOL created = ::CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &info);
    const DWORD error = ::GetLastError();
    for (HANDLE& handle : theirs) {
        CloseHandleOnce(handle);
    }
    if (!created) {
        return fail(error);
    }
    ::CloseHandle(info.hThread);
    Child& child = state_->running[id];
    child.process = info.hProcess;
    child.cancel = mine[2];
    for (int i = 0; i < 2; ++i) {
        readings[i]->pipe = mine[i];
        child.readings[i] = std::move(readings[i]);
        state_->Read(*child.readings[i], state_->ready);
    }
    return Started::kYes;
}

Children::Woken Children::Wait(std::vector<Output>& outputs, int timeoutMs) {
    State& state = *state_;
    if (!state.ready.empty()) {
        outputs.insert(outputs.end(), std::make_move_iterator(state.ready.begin()),
                       std::make_move_iterator(state.ready.end()));
        state.ready.clear();
        return Woken::kOutput;
    }
    if (state.port == nullptr) {
        return Woken::kBroken;
    }
    state.WatchCancel();
    const auto cancelEvent = console::CancelWaitable();
    const std::size_t before = outputs.size();
    const ULONGLONG until =
        ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        // What the children wrote comes first; a pending cancel only keeps the wait from
        // sleeping.
        const bool cancelled =
            cancelEvent != -1 &&
            ::WaitForSingleObject(reinterpret_cast<HANDLE>(cancelEvent), 0) == WAIT_OBJECT_0;
        const ULONGLONG now = ::GetTickCount64();
        const DWORD wait = cancelled       ? 0
                           : timeoutMs < 0 ? INFINITE
                           : now >= until  ? 0
                                           : static_cast<DWORD>(until - now);
        OVERLAPPED_ENTRY entries[64];
        ULONG got = 0;
        if (!::GetQueuedCompletionStatusEx(state.port, entries, 64, &got, wait, FALSE)) {
            if (::GetLastError() == WAIT_TIMEOUT) {
                return cancelled ? Woken::kCancel : Woken::kTimeout;
            }
            return Woken::kBroken;
        }
        bool woken = false;
        for (ULONG i = 0; i < got; ++i) {
            if (entries[i].lpCompletionKey == kCancelKey) {
                woken = true;
                continue;
            }
            state.Completed(*reinterpret_cast<Reading*>(entries[i].lpCompletionKey), outputs);
        }
        if (woken) {
            ::SetEvent(state.rearm);
        }
        if (outputs.size() > before) {
            return Woken::kOutput;
        }
        if (cancelled) {
            return Woken::kCancel;
        }
    }
}

Exit Children::Reap(std::size_t id) {
    Child& child = state_->running[id];
    // Both streams have ended, so neither has a read under way.
    ::WaitForSingleObject(child.process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(child.process, &code);
    CloseHandleOnce(child.process);
    CloseHandleOnce(child.cancel);
    state_->running.erase(id);
    if (code == static_cast<DWORD>(STATUS_CONTROL_C_EXIT)) {
        return {true, ReasonKind::kEndedByCtrlC, true};
    }
    return {false, Reason::Numbered(ReasonKind::kEndedWithStatus, code), false};
}

void Children::CancelAll() {
    for (auto& [id, child] : state_->running) {
        CloseHandleOnce(child.cancel);
    }
}

bool Program::HandsDownDescriptors() {
    return false;
}

bool Program::LimitsDescriptors() {
    return false;
}

std::string Program::Start(const Launch& launch) {
    if (launch.descriptorLimit > 0) {
        return "a descriptor limit was asked for, and Windows has none to set";
    }
    if (!launch.readyOption.empty()) {
        return "a ready descriptor was asked for, and none reaches a program started here";
    }
    HANDLE job = ProgramJob();
    if (job == nullptr) {
        return "no Job object to end it with this process: " + Describe(::GetLastError());
    }
    // Its standard error goes to the file, its other streams to the null device. These two
    // handles are the only inheritable ones, and only until it has them: programs are started
    // from one thread at a time.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE log = ::CreateFileW(WidePath(launch.errorFile).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return "no file for its errors: " + Describe(::GetLastError());
    }
    HANDLE null =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inheritable, OPEN_EXISTING, 0, nullptr);
    const std::wstring program = Wide(launch.program);
    std::wstring commandLine = CommandLine(program, launch.args);
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
    CloseHandleOnce(log);
    CloseHandleOnce(null);
    if (!created) {
        return "no process for it: " + Describe(error);
    }
    if (!::AssignProcessToJobObject(job, info.hProcess)) {
        const DWORD assignError = ::GetLastError();
        ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        return "it could not be put in the Job object that ends it with this process: " +
               Describe(assignError);
    }
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
    handle_ = reinterpret_cast<std::intptr_t>(info.hProcess);
    return {};
}

std::string Program::ReadReady(int) {
    return {};  // it has no ready descriptor here
}

void Program::Terminate() {
    Kill();
}

void Program::Kill() {
    if (Running()) {
        ::TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
        WaitForExit(5000);
    }
}

int Program::WaitForExit(int timeoutMs) {
    const HANDLE process = reinterpret_cast<HANDLE>(handle_);
    if (!Running() ||
        ::WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD status = 0;
    const bool known = ::GetExitCodeProcess(process, &status) != 0;
    ::CloseHandle(process);
    handle_ = 0;
    return known ? static_cast<int>(status) : -1;
}

Program::~Program() {
    Kill();
    if (Running()) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

void WatchFleet(int) {
    // The end of standard input is the fleet's cancel command, or its end.
    std::thread([] {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        char byte = 0;
        DWORD got = 0;
        while (::ReadFile(input, &byte, 1, &got, nullptr) && got == 1) {
        }
        console::RaiseCancel();
    }).detach();
}

void SendReport(int channel, const std::string& text) {
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(channel));
    DWORD written = 0;
    ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(handle);
}

}  // namespace vexil::process
