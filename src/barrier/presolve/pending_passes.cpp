// Stand-ins for the presolve passes that are not built yet: each does
// nothing and reports nothing, so that its PRESOLV bit has no effect. Remove
// a stand-in when its pass is built.
#include "barrier/presolve/presolve_data.h"

namespace kl {

int32_t eliminate_free_columns(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

}  // namespace kl
