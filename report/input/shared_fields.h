// Fields that a study file and a submission state the same way: the C2 form Quellor read with,
// the speed it asked for, the drive's INQUIRY texts and the hashes.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "report/input/json_file.h"

namespace report {

inline constexpr std::array<std::string_view, 4> kPassForms{"readcd14", "d8", "density",
                                                            "readcd12"};

// One of kPassForms.
[[nodiscard]] std::string PassForm(const JsonField& field);

// "max" or "Nx" with N from 1 to `mostTimes`.
[[nodiscard]] std::string PassSpeed(const JsonField& field, std::int64_t mostTimes);

// Printable ASCII of at most `length` bytes, as INQUIRY's texts are.
[[nodiscard]] std::string Printable(const JsonField& field, std::size_t length);

// One of `words`.
[[nodiscard]] std::string OneOf(const JsonField& field, std::initializer_list<const char*> words);

// A SHA-256 as 64 lower-case hex digits.
[[nodiscard]] std::string Sha256Hex(const JsonField& field);

// The buses Quellor tells apart.
[[nodiscard]] std::string Transport(const JsonField& field);

}  // namespace report
