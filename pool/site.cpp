#include "pool/site.h"

namespace pool {

bool WriteSite(PoolReader&, const std::string&, std::ostream&, std::ostream& err) {
    err << "c2pool: the site is not built yet.\n";
    return false;
}

}  // namespace pool
