// The x87 floating-point unit, reached directly: the reference image is defined by its extended
// arithmetic and by its own sine instruction, so neither may be left to the library or compiler.
// x86 and x86-64 only.
#pragma once

#include <cstdint>

#if !defined(__i386__) && !defined(__x86_64__)
#error "The reference image needs the x87 unit of an x86 or x86-64 processor"
#endif

namespace reference::x87 {

// `long double` must be the x87 80-bit format (64-bit significand).
static_assert(sizeof(long double) >= 10 && __LDBL_MANT_DIG__ == 64,
              "long double is not the x87 extended format");

// The processor's own sine of an extended argument. glibc's sinl reduces large arguments in
// software and answers differently from the instruction for some of the image's phases.
// Valid for |x| < 2^63; the image's phases stay below 2^18.
[[nodiscard]] inline long double Sine(long double x) {
    long double result;
    asm("fsin" : "=t"(result) : "0"(x));
    return result;
}

// Control word fields: precision control in bits 8-9, rounding control in bits 10-11.
inline constexpr std::uint16_t precisionMask = 0x0300;
inline constexpr std::uint16_t precisionExtended = 0x0300;  // 64-bit significand
inline constexpr std::uint16_t precisionDouble = 0x0200;    // 53-bit significand
inline constexpr std::uint16_t roundingMask = 0x0C00;
inline constexpr std::uint16_t roundingNearest = 0x0000;

[[nodiscard]] inline std::uint16_t ControlWord() {
    std::uint16_t word = 0;
    asm volatile("fnstcw %0" : "=m"(word) : : "memory");
    return word;
}

inline void SetControlWord(std::uint16_t word) {
    asm volatile("fldcw %0" : : "m"(word) : "memory");
}

[[nodiscard]] inline bool IsExtendedNearest(std::uint16_t word) {
    return (word & precisionMask) == precisionExtended && (word & roundingMask) == roundingNearest;
}

// Linux starts every thread at 64-bit precision; Windows starts new threads at 53 bits. Every
// thread that computes samples calls this first; the exception masks are left as they are.
inline void UseExtendedNearest() {
    const std::uint16_t word = ControlWord();
    if (!IsExtendedNearest(word)) {
        SetControlWord(static_cast<std::uint16_t>((word & ~(precisionMask | roundingMask)) |
                                                  precisionExtended | roundingNearest));
    }
}

}  // namespace reference::x87
