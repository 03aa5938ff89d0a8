// Temporary stand-in for the branching choice, so that the driver builds
// and runs before that block is merged. Weak: the block's own definition
// replaces it. Column entities of types 1, 3 and 4 only.
#include <cmath>

#include "global/branching.h"
#include "problem/store.h"
#include "runtime/controls.h"

#define KL_WEAK __attribute__((weak))

namespace kl {

KL_WEAK BranchEstimates branch_estimates;

namespace {
int32_t entity_kind_of(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
}  // namespace

KL_WEAK void select_branch_entity(BranchChoice& choice) {
  choice = BranchChoice{};
  OneBased<double> x = real_array(ARR_X);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double ztolis = dcv(dc::ZTOLIS);
  double best = -1.0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = entity_kind_of(e);
    if (kind == ENT_SET1 || kind == ENT_SET2 || kind == ENT_SEMICONTINUOUS) continue;
    const int32_t p = int_array(ARR_ENTITY_COLUMN)[e];
    const double v = x[p];
    if (kind == ENT_PARTIAL_INTEGER && v >= static_cast<double>(int_array(ARR_ENTITY_TYPE)[e] >> 4)) continue;
    const double f = v - std::floor(v);
    if (!(ztolis < f && f < 1.0 - ztolis) || (status[p] & PS_SEARCH_FIXED) != 0) continue;
    ++choice.fractional_count;
    const double score = std::min(f, 1.0 - f);
    choice.degradation += score * dcv(dc::PSEUDO);
    if (score > best) {
      best = score;
      choice.branch_entity = e;
      choice.branch_value = v;
      choice.down_limit = std::floor(v);
      choice.up_limit = std::floor(v) + 1.0;
      choice.first_direction = f > 0.5 ? 1 : 0;
      choice.up_estimate = 1.0 - f;
      choice.down_estimate = f;
    }
  }
}

}  // namespace kl
