#include <windows.h>

#include <string>

#include "platform/Environment.h"
#include "platform/WidePath.h"

namespace vexil {

std::string EnvironmentValue(const char* name) {
    // The UTF-16 environment, so that a value outside the ANSI code page arrives whole.
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    return Utf8Text(std::filesystem::path(value));
}

std::string SystemLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? "ja" : "en";
}

}  // namespace vexil
