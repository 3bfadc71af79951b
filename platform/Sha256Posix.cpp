#include <openssl/evp.h>

#include <cstdlib>

#include "platform/Sha256.h"

namespace vexil {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
};

namespace {

// libcrypto fails a SHA-256 context only when it has no memory left for it, where the program
// cannot go on either.
void Start(EVP_MD_CTX* context) {
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        std::abort();
    }
}

}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    Start(state_->context);
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(state_->context);
}

void Sha256::Update(const void* bytes, std::size_t count) {
    if (count > 0 && EVP_DigestUpdate(state_->context, bytes, count) != 1) {
        std::abort();
    }
}

Sha256Digest Sha256::Final() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 ||
        length != digest.size()) {
        std::abort();
    }
    Start(state_->context);
    return digest;
}

}  // namespace vexil
