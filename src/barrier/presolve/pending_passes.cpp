// Stand-ins for the presolve passes that are not built yet: each does
// nothing and reports nothing, so that its PRESOLV bit has no effect. Remove
// a stand-in when its pass is built.
#include "barrier/presolve/presolve_data.h"

namespace kl {

int32_t presolve_implied_bounds(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

// No merge, so no column was left as a singleton by one.
int32_t presolve_duplicate_rows(PresolveData& d, int32_t pass) {
  (void)pass;
  d.active_col_count = 0;
  return kPresolveDone;
}

int32_t presolve_doubleton_equations(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

int32_t presolve_duplicate_columns(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

int32_t find_dependent_rows(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

int32_t eliminate_free_columns(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

int32_t sparsify_equations(PresolveData& d, int32_t pass) {
  (void)d, (void)pass;
  return kPresolveDone;
}

}  // namespace kl
