#include <openssl/evp.h>

#include "runtime/sha256.h"

namespace runtime {

struct Sha256::State {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context{EVP_MD_CTX_new()};
    bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->ok =
        state_->context && EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::uint8_t> bytes) {
    state_->ok =
        state_->ok && EVP_DigestUpdate(state_->context.get(), bytes.data(), bytes.size()) == 1;
}

std::string Sha256::FinalHex() {
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!state_->ok || EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) != 1) {
        return {};
    }
    state_->ok = false;
    return LowerHex(std::span(digest).first(length));
}

}  // namespace runtime
