// SHA-256 of the bytes the programs read, from the platform's own library: OpenSSL's libcrypto
// on Linux (Sha256Posix.cpp), CNG's BCrypt hash on Windows (Sha256Windows.cpp). Streaming: the
// bytes go in piece by piece as they are read, so that no file is held in memory whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vexil {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* bytes, std::size_t count);
    // The digest of everything given since the start (or the last Final), and a fresh start.
    Sha256Digest Final();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest as sha256sum writes it: 64 lowercase hexadecimal digits.
inline std::string HexDigest(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace vexil
