// OpenSSL's SHA-256 from Debian's libcrypto, linked statically and through its plain SHA-256
// functions: the digest alone takes a few KiB of the program, where the shared library's
// relocations and the EVP layer's providers would take about 0.6 MiB of private memory in every
// process, each child of a fleet among them, and break the fleet's memory goal
// (docs/performance.md). OpenSSL 3 marks these functions deprecated in favour of EVP but keeps
// them, with the same assembly (the CPU's SHA instructions where it has them).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <new>

#include "platform/Sha256.h"

namespace vexil {

struct Sha256::State {
    SHA256_CTX context;
};

namespace {

// The plain functions fail only on a null context: never here. A failure would leave no digest
// to trust, and ends the program as any such fault does, with its internal error.
void Check(int result) {
    if (result != 1) {
        throw std::bad_alloc();
    }
}

}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
    Check(SHA256_Init(&state_->context));
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* bytes, std::size_t count) {
    if (count > 0) {
        Check(SHA256_Update(&state_->context, bytes, count));
    }
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest{};
    Check(SHA256_Final(digest.data(), &state_->context));
    Check(SHA256_Init(&state_->context));
    return digest;
}

}  // namespace vexil
