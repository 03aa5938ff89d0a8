#include "console/vub_command.h"

#include <cstdint>

#include "factor/simplex_state.h"
#include "global/row_classes.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

inline constexpr int32_t kVubCutType = 16;

// The value of column j that the cut test reads: its upper bound when it is
// nonbasic there, its value when basic; false otherwise.
bool vub_test_value(int32_t j, double& value) {
  const int32_t s = int_array(ARR_POS_STATUS)[j];
  if ((s & PS_BASIC) != 0) {
    value = real_array(ARR_X)[j];
    return true;
  }
  if ((s & PS_AT_UPPER) != 0) {
    value = real_array(ARR_UPPER)[j];
    return true;
  }
  return false;
}

void store_vub_cuts(int32_t& counter) {
  counter = 0;
  OneBased<int32_t> vub_ref = int_array(ARR_VUB_REF);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  if (!vub_ref || !real_array(ARR_X)) return;
  const double ztolze = dcv(dc::ZTOLZE);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (vub_ref[j] == 0) continue;
    int32_t k = 0;
    double u = 0.0;
    lookup_variable_upper_bound(j, k, u);
    if (k == 0 || !(u > 0.0)) continue;
    if ((status[k] & PS_BASIC) == 0) continue;
    double v = 0.0;
    if (!vub_test_value(j, v)) continue;
    if (!(v / u - real_array(ARR_X)[k] > ztolze)) continue;
    if (counter >= spare_rows_left || 2 * counter + 2 > spare_elems_left) return;
    ++counter;
    // The link is read from the stored (scaled) matrix and bounds, so the
    // cut goes in as given.
    const int32_t type = kVubCutType;
    const char sense = 'L';
    const double rhs = 0.0;
    const int32_t base = icv(ic::IFDBG);
    const int32_t start[2] = {1 - base, 3 - base};
    const int32_t columns[2] = {j, k};
    const double values[2] = {1.0, -u};
    int32_t record = 0;
    storecut(1, 0, &type, &sense, &rhs, start, &record, columns, values, -1);
    if (status_code != STATUS_OK) return;
    cut_record_field(record + base, CUT_FIELD_FLAGS) |= CUT_TOP_NODE | CUT_NEW_IN_ROUND;
  }
}

}  // namespace

void vub_command(int32_t& counter) {
  const int32_t icrash = icv(ic::ICRASH);
  const int32_t iquiet = icv(ic::IQUIET);
  icv(ic::ICRASH) = 0;
  icv(ic::IQUIET) = 1;
  if (status_letter != 'O') {
    begin_message(MSG_LAST_LP_NOT_FINISHED);
    emit_message();
  } else {
    store_vub_cuts(counter);
  }
  icv(ic::ICRASH) = icrash;
  icv(ic::IQUIET) = iquiet;
}

}  // namespace kl
