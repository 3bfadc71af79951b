#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/CommandLineWindows.h"
#include "platform/Console.h"
#include "platform/Process.h"

namespace vexil::process {

namespace {

using windows::Quoted;
using windows::Wide;

// A child's pipes from the fleet's side, and the threads that read them: an anonymous pipe
// cannot be waited on together with an event, so each has a reader that queues what comes.
//
// A child's standard input is a pipe whose writing end only the fleet holds. Closing it is the
// cancel command; and when the fleet ends, even killed, Windows closes it too, so every child
// cancels its download and still writes its log line. A Job object that kills its processes
// with the fleet would end them at once instead, with the print server left in download mode
// and nothing on record.
struct Child {
    HANDLE process = nullptr;
    HANDLE cancel = nullptr;  // the writing end of the child's standard input
    std::thread readers[2];
};

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

// A pipe whose reading end stays here and whose writing end the child inherits.
bool MakePipe(HANDLE& ours, HANDLE& theirs, bool theyRead) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, nullptr, 0)) {
        return false;
    }
    ours = theyRead ? write : read;
    theirs = theyRead ? read : write;
    return true;
}

}  // namespace

struct Children::State {
    std::map<std::size_t, Child> running;
    std::mutex mutex;
    std::deque<Output> queue;
    HANDLE queued = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

int MaxReportChannel() {
    return 0x7FFFFFFF;  // a handle value
}

Children::Children() : state_(std::make_unique<State>()) {}

Children::~Children() {
    for (auto& [id, child] : state_->running) {
        CloseHandleOnce(child.cancel);
        for (std::thread& reader : child.readers) {
            if (reader.joinable()) {
                reader.join();
            }
        }
        CloseHandleOnce(child.process);
    }
    CloseHandleOnce(state_->queued);
}

Started Children::Start(std::size_t id, const std::vector<std::string>& args, std::string& reason) {
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
    for (int i = 0; i < 3; ++i) {
        if (!MakePipe(mine[i], theirs[i], i == 2)) {
            const DWORD error = ::GetLastError();
            closeAll();
            reason = Describe(error);
            return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
        }
    }
    // Only this child's ends are inheritable, and only until it has them: the fleet starts its
    // children from this one thread, so no child inherits another's pipe (which would keep that
    // pipe open after its own child ended).
    for (HANDLE handle : theirs) {
        ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    wchar_t program[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
    std::wstring commandLine = Quoted(std::wstring(program, length));
    for (const std::string& arg : args) {
        commandLine += L" " + Quoted(Wide(arg));
    }
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
        closeAll();
        reason = Describe(error);
        return OutOfRoom(error) ? Started::kNoRoom : Started::kFailed;
    }
    ::CloseHandle(info.hThread);
    Child& child = state_->running[id];
    child.process = info.hProcess;
    child.cancel = mine[2];
    State* state = state_.get();
    for (int i = 0; i < 2; ++i) {
        const Stream stream = i == 0 ? Stream::kErrors : Stream::kReport;
        child.readers[i] = std::thread([state, id, stream, pipe = mine[i]] {
            char buffer[4096];
            for (;;) {
                DWORD got = 0;
                const bool ended =
                    !::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || got == 0;
                {
                    const std::lock_guard lock(state->mutex);
                    state->queue.push_back(
                        {id, stream, std::string(buffer, ended ? 0 : got), ended});
                }
                ::SetEvent(state->queued);
                if (ended) {
                    ::CloseHandle(pipe);
                    return;
                }
            }
        });
    }
    return Started::kYes;
}

Children::Woken Children::Wait(std::vector<Output>& outputs) {
    for (;;) {
        {
            const std::lock_guard lock(state_->mutex);
            if (!state_->queue.empty()) {
                for (Output& output : state_->queue) {
                    outputs.push_back(std::move(output));
                }
                state_->queue.clear();
                return Woken::kOutput;
            }
        }
        const auto cancel = console::CancelWaitable();
        HANDLE waits[2] = {state_->queued, reinterpret_cast<HANDLE>(cancel)};
        const DWORD count = cancel == -1 ? 1 : 2;
        const DWORD woken = ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 + 1) {
            return Woken::kCancel;
        }
        if (woken != WAIT_OBJECT_0) {
            return Woken::kBroken;
        }
    }
}

Exit Children::Reap(std::size_t id) {
    Child& child = state_->running[id];
    for (std::thread& reader : child.readers) {
        if (reader.joinable()) {
            reader.join();
        }
    }
    ::WaitForSingleObject(child.process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(child.process, &code);
    CloseHandleOnce(child.process);
    CloseHandleOnce(child.cancel);
    state_->running.erase(id);
    if (code == static_cast<DWORD>(STATUS_CONTROL_C_EXIT)) {
        return {true, "was ended by Ctrl-C", true};
    }
    return {false, "ended with status " + std::to_string(code), false};
}

void Children::CancelAll() {
    for (auto& [id, child] : state_->running) {
        CloseHandleOnce(child.cancel);
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
