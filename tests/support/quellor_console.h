// What the built Quellor prints before it looks at its argument.
#pragma once

#include <string>

namespace testing_support {

inline const std::string quellorBanner =
    "Quellor for Marrowby V1.1\n"
    "Copyright (c) the Marrowby developers. Free to use for testing CD drives.\n"
    "\n";

}  // namespace testing_support
