#include "problem/factor_arrays.h"

#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {

namespace {

constexpr int kFactorArrayIds[] = {ARR_ROW_ETA_HEADS, ARR_ROW_ETA_CHAINS, ARR_ETA_VALUE, ARR_U_HIGHEST_SLOT, ARR_ETA_NEXT,
                                   ARR_ETA_ROW,       ARR_U_ROW,          ARR_COLUMN_COUNTS, ARR_INVERT_CHAINS,  ARR_U_CHAINS};

}  // namespace

void free_factor_arrays() {
  for (const int id : kFactorArrayIds) free_array(id, array_cells[id]);
  problem_flags &= ~(PF_LU_ARRAYS | PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
}

}  // namespace kl
