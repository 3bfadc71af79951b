// Hexadecimal digits in text: the model codes and versions the program forms, and the hex
// arguments and S-record text the tools read; and the numbers that the command lines take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexil {

// The value of one hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads `count` bytes from exactly 2 * `count` hexadecimal digits; false on anything else.
inline bool ParseHexBytes(std::string_view text, std::uint8_t* out, std::size_t count) {
    if (text.size() != 2 * count) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

// Two lowercase digits, with a leading zero.
inline std::string TwoHexDigits(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

}  // namespace vexil
