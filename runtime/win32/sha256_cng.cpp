#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <vector>

#include "runtime/sha256.h"

namespace runtime {

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> object;
    bool ok = false;
    ~State() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
    State& s = *state_;
    DWORD objectBytes = 0, written = 0;
    s.ok =
        Succeeded(BCryptOpenAlgorithmProvider(&s.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        Succeeded(BCryptGetProperty(s.algorithm, BCRYPT_OBJECT_LENGTH,
                                    reinterpret_cast<PUCHAR>(&objectBytes), sizeof objectBytes,
                                    &written, 0));
    if (s.ok) {
        s.object.resize(objectBytes);
        s.ok = Succeeded(
            BCryptCreateHash(s.algorithm, &s.hash, s.object.data(), objectBytes, nullptr, 0, 0));
    }
}

Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::uint8_t> bytes) {
    // CNG takes at most 4 GiB - 1 per call; the comparison's reads are far smaller.
    state_->ok =
        state_->ok && Succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes.data()),
                                               static_cast<ULONG>(bytes.size()), 0));
}

std::string Sha256::FinalHex() {
    std::array<std::uint8_t, 32> digest{};
    if (!state_->ok ||
        !Succeeded(BCryptFinishHash(state_->hash, digest.data(), digest.size(), 0))) {
        return {};
    }
    state_->ok = false;
    return LowerHex(digest);
}

}  // namespace runtime
