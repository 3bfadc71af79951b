#include "win32/Services.h"

#include <commdlg.h>
#include <shellapi.h>

#include <filesystem>
#include <vector>

#include "resources/ResourceIds.h"
#include "win32/Text.h"

namespace vexil::win32 {

std::wstring ProgramTitle() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return L"Vexil";
        }
        if (length < path.size()) {
            break;
        }
        path.resize(path.size() * 2);
    }
    return std::filesystem::path(path.data()).stem().wstring();
}

void Services::ShowMessage(HWND owner, int stringId, Icon icon) {
    MessageBoxW(owner, LoadWide(stringId).c_str(), ProgramTitle().c_str(),
                MB_OK | static_cast<UINT>(icon));
}

std::wstring Services::OpenFileName(HWND owner, const std::wstring& filter) {
    std::vector<wchar_t> name(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrDefExt = L"bin";
    // The file need not exist: only its folder counts.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (!GetOpenFileNameW(&ofn)) {
        return {};
    }
    return name.data();
}

bool Services::OpenUrl(HWND owner, const char* address) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", Wide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

void Services::Beep() {
    ::Beep(1024, 100);
}

std::int64_t Services::NowMilliseconds() {
    return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace vexil::win32
