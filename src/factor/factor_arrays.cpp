#include "factor/factor_arrays.h"

#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {

void free_factor_arrays() {
  for (int id = ARR_FACTOR_FIRST; id <= ARR_FACTOR_LAST; ++id) free_array(id, array_cells[id]);
  free_array(ARR_FACTOR_69, array_cells[ARR_FACTOR_69]);
  problem_flags &= ~(PF_LU_ARRAYS | PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
}

}  // namespace kl
