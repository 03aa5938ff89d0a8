// Columns fixed before presolve leave the problem at once: their share of
// every row moves into the right-hand side and their share of the objective
// into the fixed-column constant.
#include "presolve/presolve_driver.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

void presolve_fixed_columns() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  double constant = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t s = static_cast<uint32_t>(status[j]);
    // A quadratic column stays in the problem (its terms pair it with
    // others), and so does one the caller protected: the count of the
    // reduced problem brings both back as live columns, so their share
    // stays with them rather than being counted twice.
    if ((s & PS_FIXED) == 0 || (s & (PS_QUADRATIC | PS_PROTECTED)) != 0) continue;
    const double l = lower[j];
    if (l == 0.0) continue;
    constant += l * cost[j];
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (r >= 1 && r <= nrow) rhs[r] -= l * elem_value[k];
    }
  }
  dcv(kSecondObjectiveConstantSlot) = constant;
  for (int32_t i = 1; i <= nrow; ++i) work_rhs[i] = rhs[i];
}

}  // namespace kl
