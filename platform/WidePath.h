// Paths as the programs take them (UTF-8, from the command line or a file) for the platform's
// file functions: on Windows these take UTF-16, through std::filesystem::path.
#pragma once

#include <filesystem>
#include <string>

namespace vexil {

inline std::filesystem::path WidePath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The other way: a path as the programs write it, in UTF-8.
inline std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace vexil
