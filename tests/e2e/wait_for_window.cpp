// wait_for_window PROGRAM SECONDS: waits until a process whose program file is named PROGRAM
// (say Vexil.exe) shows a visible top-level window, at most SECONDS. Prints the window's title
// and exits 0; exits 1 when none came. How the Wine tests see that a window program started
// rather than only that its process exists (it ends at once when a DLL is missing).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Search {
    const char* program;
    std::string title;
    bool found = false;
};

std::string ProgramName(DWORD process_id) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) {
        return {};
    }
    char path[MAX_PATH];
    DWORD size = MAX_PATH;
    const bool named = ::QueryFullProcessImageNameA(process, 0, path, &size) != 0;
    ::CloseHandle(process);
    if (!named) {
        return {};
    }
    const char* slash = std::strrchr(path, '\\');
    return slash != nullptr ? slash + 1 : path;
}

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(window, &process_id);
    if (!::IsWindowVisible(window) || _stricmp(ProgramName(process_id).c_str(), search->program)) {
        return TRUE;
    }
    char title[256] = "";
    ::GetWindowTextA(window, title, sizeof title);
    search->title = title;
    search->found = true;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wait_for_window PROGRAM SECONDS\n");
        return 2;
    }
    const ULONGLONG deadline = ::GetTickCount64() + std::strtoull(argv[2], nullptr, 10) * 1000;
    Search search{argv[1], {}, false};
    while (true) {
        ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            std::printf("%s\n", search.title.c_str());
            return 0;
        }
        if (::GetTickCount64() >= deadline) {
            std::fprintf(stderr, "wait_for_window: no window of %s within %s seconds\n", argv[1],
                         argv[2]);
            return 1;
        }
        ::Sleep(100);
    }
}
