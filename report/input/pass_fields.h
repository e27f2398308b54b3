// Fields that name a pass the same way in a study file and in a submission: the C2 form Quellor
// read with and the speed it asked for.
#pragma once

#include <array>
#include <cstdint>
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

}  // namespace report
