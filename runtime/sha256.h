// SHA-256 of a stream, from the platform's own well-kept implementation (OpenSSL's libcrypto on
// Linux, CNG on Windows): one backend file each. A library of its own, so that only the programs
// that hash link the backend.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace runtime {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(std::span<const std::uint8_t> bytes);
    // The digest as 64 lower-case hex digits; empty when the backend failed at any step.
    [[nodiscard]] std::string FinalHex();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of a whole byte string, as FinalHex gives it.
[[nodiscard]] std::string Sha256Hex(std::span<const std::uint8_t> bytes);

// {0x05, 0x8e} -> "058e".
[[nodiscard]] std::string LowerHex(std::span<const std::uint8_t> bytes);

}  // namespace runtime
