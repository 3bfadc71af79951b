// The program's texts are UTF-8; the window functions take UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vexil::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A window's or a control's text.
std::wstring WindowText(HWND window);

// String `stringId` of the string table as a window shows it: each line break as "\r\n".
std::wstring LoadWide(int stringId);

}  // namespace vexil::win32
