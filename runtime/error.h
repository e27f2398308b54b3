// The runtime error report: a failed run-time check is a programming error that ends the
// program with "Unhandled exception", where it happened, the check's name, and exit code 255.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <source_location>
#include <string_view>
#include <utility>

namespace runtime {

inline constexpr std::int32_t runtimeErrorExitCode = 255;

[[noreturn]] void RuntimeError(std::string_view name,
                               std::source_location where = std::source_location::current());

// "<module>.<line>" module being the source file's name without folder and extension.
[[nodiscard]] std::string_view ModuleName(std::string_view fileName);

inline void CheckIndex(std::size_t index, std::size_t size,
                       std::source_location where = std::source_location::current()) {
    if (index >= size) {
        RuntimeError("INDEX-RANGE", where);
    }
}

inline void CheckRange(bool inRange, std::source_location where = std::source_location::current()) {
    if (!inRange) {
        RuntimeError("ASSIGN-RANGE", where);
    }
}

// Converts to a narrower integer, reporting ASSIGN-RANGE when the value does not fit.
template <std::integral To, std::integral From>
[[nodiscard]] To Narrow(From value, std::source_location where = std::source_location::current()) {
    if (!std::in_range<To>(value)) {
        RuntimeError("ASSIGN-RANGE", where);
    }
    return static_cast<To>(value);
}

template <std::integral T>
[[nodiscard]] T CheckedAdd(T a, T b, std::source_location where = std::source_location::current()) {
    T sum{};
    if (__builtin_add_overflow(a, b, &sum)) {
        RuntimeError("WHOLE-OVERFLOW", where);
    }
    return sum;
}

template <std::integral T>
[[nodiscard]] T CheckedMul(T a, T b, std::source_location where = std::source_location::current()) {
    T product{};
    if (__builtin_mul_overflow(a, b, &product)) {
        RuntimeError("WHOLE-OVERFLOW", where);
    }
    return product;
}

}  // namespace runtime
