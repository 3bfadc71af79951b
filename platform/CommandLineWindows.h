// A Windows command line made from UTF-8 arguments, for CreateProcessW: the Windows side of the
// child-process unit and the tests' simulator process start programs with it.
#pragma once

#include <windows.h>

#include <string>

namespace vexil::windows {

// UTF-8 as the wide-character calls take it.
inline std::wstring Wide(const std::string& text) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

// One argument as CommandLineToArgvW and the C runtime split a command line again: quoted when
// it holds a space, a tab or a quote, with backslashes doubled only before a quote.
inline std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace vexil::windows
