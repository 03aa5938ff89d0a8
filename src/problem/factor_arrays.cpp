#include "problem/factor_arrays.h"

#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {

namespace {

constexpr int kFactorArrayIds[] = {47, 51, 48, 53, 54, 46, 50, 52, 49, ARR_U_CHAINS};

}  // namespace

void free_factor_arrays() {
  for (const int id : kFactorArrayIds) free_array(id, array_cells[id]);
  problem_flags &= ~(PF_LU_ARRAYS | PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
}

}  // namespace kl
