// The static site of a pool: index.html (the models ranked), one page per model, pool.csv,
// pool.json and pool.sqlite (a copy of the pool). Every file is self-contained and readable
// offline; a file is rewritten only when its content changed, whole, under a temporary name.
#pragma once

#include <ostream>
#include <string>

#include "pool/pooled.h"

namespace pool {

// Writes the site of `pool` into `folder` (created when missing). Progress and the files
// written go to `out`; false, with a message naming the file on `err`, when a file could not be
// written (the file as it was before).
[[nodiscard]] bool WriteSite(PoolReader& pool, const std::string& folder, std::ostream& out,
                             std::ostream& err);

}  // namespace pool
