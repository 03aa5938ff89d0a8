#include "factor/factor_arrays.h"

#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {

void free_factor_arrays() {
  // Id 53 doubles as the name hash while a file is read and as a slot's save
  // buffer; neither belongs to the factor, so it is left alone here.
  for (int id = ARR_FACTOR_FIRST; id <= ARR_FACTOR_LAST; ++id)
    if (id != ARR_SAVE_BUFFER) free_array(id, array_cells[id]);
  free_array(ARR_FACTOR_69, array_cells[ARR_FACTOR_69]);
  problem_flags &= ~(PF_LU_ARRAYS | PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
}

}  // namespace kl
