#include <windows.h>

#include <bcrypt.h>

#include <climits>
#include <cstdlib>

#include "platform/Sha256.h"

namespace vexil {

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// CNG fails a SHA-256 hash only when it has no memory left for it, where the program cannot go
// on either.
BCRYPT_HASH_HANDLE Start(BCRYPT_ALG_HANDLE algorithm) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        std::abort();
    }
    return hash;
}

}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!Succeeded(
            BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        std::abort();
    }
    state_->hash = Start(state_->algorithm);
}

Sha256::~Sha256() {
    BCryptDestroyHash(state_->hash);
    BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::Update(const void* bytes, std::size_t count) {
    auto* at = static_cast<UCHAR*>(const_cast<void*>(bytes));
    while (count > 0) {
        const ULONG piece = count > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(count);
        if (!Succeeded(BCryptHashData(state_->hash, at, piece, 0))) {
            std::abort();
        }
        at += piece;
        count -= piece;
    }
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest{};
    if (!Succeeded(
            BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        std::abort();
    }
    BCryptDestroyHash(state_->hash);
    state_->hash = Start(state_->algorithm);
    return digest;
}

}  // namespace vexil
