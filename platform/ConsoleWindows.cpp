#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <cstdlib>

#include "platform/Console.h"
#include "platform/StandardStreams.h"

namespace vexil::console {

namespace {

// Set by the console's control handler, which Windows runs on a thread of its own; the event
// wakes whatever waits for a cancel.
HANDLE g_cancelEvent = nullptr;
std::atomic<bool> g_cancelPending{false};

// How long the handler holds a closing console open: Windows ends the process once the handler
// returns, and gives it about five seconds in all. The cancel is then under way and the print
// server told; the program ends sooner by itself when it is done.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            RaiseCancel();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The console window closed, or the user logs off, or Windows shuts down: the
            // counterparts of a hang-up and a SIGTERM.
            RaiseCancel();
            ::Sleep(kCloseGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

std::string Utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();  // the terminating NUL
    return out;
}

HANDLE StreamHandle(std::FILE* stream) {
    const int fd = ::_fileno(stream);
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

}  // namespace

void Prepare() {
    // The code page belongs to the console, which outlives the program: the user's own is given
    // back at the end.
    static const UINT userCodePage = ::GetConsoleOutputCP();
    if (userCodePage != 0 && userCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
        std::atexit([] { ::SetConsoleOutputCP(userCodePage); });
    }
    for (std::FILE* stream : {stdout, stderr}) {
        // Binary: the same bytes as on every other platform, LF alone; a console starts the
        // next line at LF by itself.
        ::_setmode(::_fileno(stream), _O_BINARY);
        DWORD mode = 0;
        if (const HANDLE handle = StreamHandle(stream); ::GetConsoleMode(handle, &mode)) {
            ::SetConsoleMode(handle,
                             mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
    }
}

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(Utf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

bool IsTerminal(std::FILE* stream) {
    // _isatty is true for any character device, the NUL device among them; a console is what
    // has a console mode.
    DWORD mode = 0;
    return ::GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

int TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(StreamHandle(stream), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string EraseLine(std::FILE* stream, std::size_t columns) {
    // Prepare asked for virtual-terminal processing; a console older than Windows 10's keeps
    // its mode without it and would print the sequence as text.
    DWORD mode = 0;
    if (::GetConsoleMode(StreamHandle(stream), &mode) &&
        (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return "\r\033[K";
    }
    std::string blank(columns + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    return blank;
}

void CatchCancel() {
    SurviveClosedPipes();
    if (g_cancelEvent == nullptr) {
        g_cancelEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

bool TakeCancel() {
    // Reset first: a cancel that arrives in between leaves both the flag and the event set.
    if (g_cancelEvent != nullptr) {
        ::ResetEvent(g_cancelEvent);
    }
    return g_cancelPending.exchange(false);
}

bool WaitForCancel(int timeoutMs) {
    if (g_cancelEvent == nullptr) {
        ::Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
        return false;
    }
    return ::WaitForSingleObject(g_cancelEvent, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

std::intptr_t CancelWaitable() {
    return g_cancelEvent == nullptr ? -1 : reinterpret_cast<std::intptr_t>(g_cancelEvent);
}

void RaiseCancel() {
    g_cancelPending = true;
    if (g_cancelEvent != nullptr) {
        ::SetEvent(g_cancelEvent);
    }
}

LineRead ReadLine(std::string& line) {
    line.clear();
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(input, &mode)) {
        // A console reads a whole line; Ctrl-C runs the handler and ends the read early.
        wchar_t buffer[256];
        DWORD got = 0;
        const BOOL read = ::ReadConsoleW(input, buffer, 255, &got, nullptr);
        if (g_cancelPending) {
            TakeCancel();
            return LineRead::kCancelled;
        }
        if (!read || got == 0) {
            return LineRead::kEnd;
        }
        buffer[got] = L'\0';
        line = Utf8(buffer);
    } else {
        char c = 0;
        DWORD got = 0;
        while (::ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            line += c;
        }
        if (line.empty() && got == 0) {
            return LineRead::kEnd;
        }
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return LineRead::kLine;
}

}  // namespace vexil::console
