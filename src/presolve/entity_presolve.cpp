// Presolve of global entities inside the search: the variable-bound tables
// of the cut generators, the indicator split (a zero-cost binary that only
// switches a continuous column off or into [L, U] through two bound rows
// becomes a semi-continuous entity on that column), and the entity marks
// taken off set-packing binaries around the duplicate-column pass.
#include "presolve/entity_presolve.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/record_stack.h"
#include "problem/array_ids.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

namespace {

// Row-type bit of a variable-bound row.
constexpr int32_t kVariableBoundRow = 0x10000;
// IPSLCT bit that turns the indicator split off.
constexpr int32_t kSelectNoSplit = 0x800;
// Temporary mark of the set-packing binaries between the two calls of
// mark_entity_flags.
constexpr uint32_t kPackingMark = 0x40;
constexpr uint32_t kEntityBits = PS_ENTITY | PS_FINITE_UPPER | PS_INTEGER | PS_BINARY;

// Upper bounds of the marked binaries, put back after the duplicate-column
// pass (index: position).
std::vector<double> packing_upper;

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
bool live_row(int32_t r) { return r >= 1 && r <= nrow && (status_of(r) & PS_FREE) == 0; }

// The row's other live column than c in a row of two live entries, and its
// coefficient.
struct Other {
  int32_t column = 0;
  double value = 0.0;
};
Other other_column(int32_t r, int32_t c) {
  const OneBased<double> value = real_array(ARR_ELEM_VALUE);
  const PresolveRowCopy& copy = presolve_row_copy;
  for (int32_t k = copy.start[r]; k < copy.start[r + 1]; ++k) {
    const int32_t j = copy.column[k];
    if (j <= 0 || j == c || (status_of(j) & PS_FIXED) != 0) continue;
    return {j, value[copy.element[k]]};
  }
  return {};
}

bool one_each(int32_t r) {
  return presolve_activity.positive[static_cast<size_t>(r)] == 1 &&
         presolve_activity.negative[static_cast<size_t>(r)] == 1;
}

struct SplitRows {
  int32_t lower_row = 0;  // ra: x_k >= L z
  int32_t upper_row = 0;  // rb: x_k <= U z
  int32_t live_rows = 0;
};

// Walks the live rows of entity column c: variable-bound tables, and for a
// binary the two rows of an indicator split.
SplitRows scan_bound_rows(int32_t c, bool binary) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> vub = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb = int_array(ARR_VLB_REF);
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const OneBased<double> rhs = real_array(ARR_WORK_RHS);
  const OneBased<double> activity_min = real_array(ARR_WORK_LOWER);
  const double ztolze = dcv(dc::ZTOLZE);
  SplitRows split;
  for (int32_t e = col_start[c]; e < col_start[c + 1]; ++e) {
    const int32_t r = elem_row[e];
    if (!live_row(r)) continue;
    const double a = elem_value[e];
    const int32_t kind = row_type[r] & ROW_TYPE_MASK;
    const bool vb_row = rhs[r] == 0.0 && one_each(r);
    if (vb_row && (kind == ROW_L || kind == ROW_G)) {
      const int32_t s = (kind == ROW_L ? -1 : 1) * (a > 0.0 ? 1 : -1);
      const Other k = other_column(r, c);
      row_type[r] |= kVariableBoundRow;
      if (k.column != 0 && (status_of(k.column) & PS_ENTITY) == 0) {
        if (s > 0 && vub) vub[k.column] = binary ? c : r;
        if (s < 0 && vlb) vlb[k.column] = r;
      }
    }
    if (!binary) continue;
    ++split.live_rows;
    if (kind == ROW_L && (status_of(r) & PS_FINITE_UPPER) == 0 &&
        presolve_activity.max_infinite[static_cast<size_t>(r)] == 0) {
      if (vb_row) (a > 0.0 ? split.lower_row : split.upper_row) = r;
      // c alone on the negative side forces every positive column to its
      // lower limit when it is 0.
      if (a <= 0.0 && presolve_activity.negative[static_cast<size_t>(r)] == 1 &&
          presolve_activity.positive[static_cast<size_t>(r)] > 1 &&
          std::fabs(activity_min[r] - a - rhs[r]) < ztolze && vub) {
        const PresolveRowCopy& copy = presolve_row_copy;
        for (int32_t k = copy.start[r]; k < copy.start[r + 1]; ++k) {
          const int32_t j = copy.column[k];
          if (j <= 0 || j == c || (status_of(j) & PS_FIXED) != 0) continue;
          if (vub[j] <= 0) vub[j] = -c;
        }
      }
    } else if (kind == ROW_G && presolve_activity.min_infinite[static_cast<size_t>(r)] == 0 && vb_row) {
      (a < 0.0 ? split.lower_row : split.upper_row) = r;
    }
  }
  return split;
}

double coefficient(int32_t r, int32_t j) {
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e)
    if (elem_row[e] == r) return elem_value[e];
  return 0.0;
}

void free_row(int32_t r) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  status[r] = static_cast<int32_t>((status_of(r) | PS_FREE) & ~static_cast<uint32_t>(PS_BOTH_FINITE));
  real_array(ARR_LOWER)[r] = -kInfinity;
  real_array(ARR_UPPER)[r] = kInfinity;
  presolve_activity.negative[static_cast<size_t>(r)] = 0;
}

// The split of binary entity e on column c over rows ra and rb. False when
// the record stack could not grow.
bool split_indicator(int32_t e, int32_t c, const SplitRows& rows, EntityPresolveCounts& counts, bool& done) {
  done = false;
  const int32_t ra = rows.lower_row;
  const int32_t rb = rows.upper_row;
  const Other ka = other_column(ra, c);
  const Other kb = other_column(rb, c);
  const int32_t k = kb.column;
  if (k == 0 || ka.column != k || (status_of(k) & (PS_ENTITY | kKeepOrQuadratic)) != 0) return true;
  const double upper_ratio = -(coefficient(rb, c) / kb.value);
  const double lower_ratio = -(coefficient(ra, c) / ka.value);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  // With z = 0 the rows hold x_k at 0, which its own bounds must allow; a
  // range [L, U] below 0 or crossing is no semi-continuous range.
  if (lower[k] != 0.0 || !(0.0 <= lower_ratio && lower_ratio <= upper_ratio) || upper[k] < lower_ratio) return true;
  if (!reserve_presolve_record(5, 3)) return false;

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  const double range_upper = std::min(upper_ratio, upper[k]);
  type[e] = (type[e] & ~ENT_TYPE_MASK) | ENT_SEMICONTINUOUS;
  column[e] = k;
  status[k] = static_cast<int32_t>(status_of(k) | PS_ENTITY | PS_SEMICONTINUOUS);
  if (upper_ratio < upper[k]) {
    upper[k] = upper_ratio;
    status[k] = static_cast<int32_t>(status_of(k) | PS_FINITE_UPPER);
  }
  if (OneBased<int32_t> vub = int_array(ARR_VUB_REF)) vub[k] = e;
  if (OneBased<int32_t> vlb = int_array(ARR_VLB_REF)) vlb[k] = e;
  if (OneBased<double> limit = real_array(ARR_SEMICONT_LIMIT)) limit[e] = lower_ratio;
  if (OneBased<double> stored = real_array(ARR_SEMICONT_UPPER)) stored[e] = range_upper;
  if (icv(ic::SSV008) == 0)
    if (OneBased<int32_t> directive = int_array(ARR_DIRECTIVE_WORD)) directive[e] += 1;
  if ((status_of(c) & PS_AT_UPPER) != 0 && (status_of(rb) & PS_BASIC) == 0)
    status[k] = static_cast<int32_t>((status_of(k) & ~static_cast<uint32_t>(PS_BASIC)) | PS_AT_UPPER);
  int_array(ARR_ENTITY_ROOT_UPPER)[e] = 1;
  int_array(ARR_ENTITY_ROOT_LOWER)[e] = 0;
  const double factor = scale_powers[scale_exponent(status[k])];
  for (OneBased<float> cost : {float_array(ARR_PSEUDO_COST_DOWN), float_array(ARR_PSEUDO_COST_UP)})
    if (cost) cost[e] = static_cast<float>(cost[e] * factor);

  status[c] = static_cast<int32_t>((status_of(c) | PS_FIXED) & ~static_cast<uint32_t>(PS_FREE));
  upper[c] = lower[c];
  real_array(ARR_WORK_UPPER)[c] = 0.0;
  real_array(ARR_WORK_LOWER)[c] = 0.0;
  ++counts.columns_removed;

  const auto entries = [](int32_t r) {
    return presolve_activity.positive[static_cast<size_t>(r)] + presolve_activity.negative[static_cast<size_t>(r)];
  };
  counts.elements_removed += entries(ra) + entries(rb);
  free_row(ra);
  free_row(rb);
  counts.rows_removed += 2;

  for (const int32_t v : {c, k, ra, rb, static_cast<int32_t>(REC_ENTITY_SPLIT)}) push_presolve_int(v);
  for (const double v : {lower_ratio, upper_ratio, kb.value}) push_presolve_real(v);
  done = true;
  return true;
}

bool is_binary_column(int32_t j) { return (status_of(j) & PS_BINARY) != 0; }

}  // namespace

void presolve_global_entities(EntityPresolveCounts& counts, int32_t& state) {
  state = 0;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> vub = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb = int_array(ARR_VLB_REF);
  if (nglent <= 0 || !type || !column) return;
  // The tables describe this problem only.
  for (int32_t p = 1; p <= nseq; ++p) {
    if (vub) vub[p] = 0;
    if (vlb) vlb[p] = 0;
  }
  const OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const OneBased<double> upper = real_array(ARR_UPPER);
  const bool split_allowed = (icv(ic::IPSLCT) & kSelectNoSplit) == 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = type[e] & ENT_TYPE_MASK;
    const int32_t c = column[e];
    if (kind == ENT_SEMICONTINUOUS) {
      if (vub) vub[c] = e;
      if (vlb) vlb[c] = e;
      continue;
    }
    if ((kind != ENT_BINARY && kind != ENT_INTEGER) || (status_of(c) & PS_FIXED) != 0) continue;
    const bool binary = kind == ENT_BINARY;
    const SplitRows rows = scan_bound_rows(c, binary);
    if (!binary || !split_allowed || rows.live_rows != 2 || rows.lower_row == 0 || rows.upper_row == 0) continue;
    if (cost[c] != 0.0) continue;
    if (!is_binary_column(c) && !((status_of(c) & PS_INTEGER) != 0 && upper[c] == 1.0)) continue;
    bool done = false;
    if (!split_indicator(e, c, rows, counts, done)) {
      state = 5;
      return;
    }
  }
}

void mark_entity_flags(int32_t mode) {
  if ((icv(ic::IPSLCT) & kSelectNoEntitySweeps) != 0) return;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> upper = real_array(ARR_UPPER);
  if (nglent <= 0 || !type || !column) return;
  const auto binary_entity = [&](int32_t e) { return (type[e] & ENT_TYPE_MASK) == ENT_BINARY; };
  if (mode != 0) {
    // Back to binaries; one that was not merged gets its own bound again
    // (the row that allowed the merge holds it at 1 all the same, but the
    // search reads the bound).
    for (int32_t e = 1; e <= nglent; ++e) {
      const int32_t c = column[e];
      if (!binary_entity(e) || (status_of(c) & kPackingMark) == 0) continue;
      status[c] = static_cast<int32_t>((status_of(c) & ~kPackingMark) | kEntityBits);
      if (static_cast<size_t>(c) < packing_upper.size()) upper[c] = packing_upper[static_cast<size_t>(c)];
    }
    packing_upper.clear();
    return;
  }
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<double> rhs = real_array(ARR_WORK_RHS);
  const double ztolda = dcv(dc::ZTOLDA);
  const PresolveRowCopy& copy = presolve_row_copy;
  packing_upper.assign(upper.data(), upper.data() + nseq);
  packing_upper.insert(packing_upper.begin(), 0.0);
  for (int32_t e = 1; e <= nglent; ++e)
    if (binary_entity(e)) status[column[e]] = static_cast<int32_t>(status_of(column[e]) & ~kPackingMark);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t c = column[e];
    if (!binary_entity(e) || (status_of(c) & (kPackingMark | PS_FIXED)) != 0) continue;
    for (int32_t k = col_start[c]; k < col_start[c + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (!live_row(r)) continue;
      const int32_t kind = row_type[r] & ROW_TYPE_MASK;
      if (rhs[r] >= 0.0 ? kind == ROW_G : kind == ROW_L) continue;
      if (kind == ROW_N) continue;
      int32_t entries = 0;
      bool packing = true;
      for (int32_t m = copy.start[r]; m < copy.start[r + 1] && packing; ++m) {
        const int32_t j = copy.column[m];
        if (j <= 0) break;
        if ((status_of(j) & PS_FIXED) != 0) continue;
        ++entries;
        packing = is_binary_column(j) && std::fabs(rhs[r] - elem_value[copy.element[m]]) <= ztolda;
      }
      if (!packing || entries < 2) continue;
      for (int32_t m = copy.start[r]; m < copy.start[r + 1]; ++m) {
        const int32_t j = copy.column[m];
        if (j <= 0) break;
        if ((status_of(j) & PS_FIXED) != 0) continue;
        status[j] = static_cast<int32_t>(status_of(j) | kPackingMark);
        upper[j] = kInfinity;
      }
      break;
    }
  }
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t c = column[e];
    if (binary_entity(e) && (status_of(c) & kPackingMark) != 0)
      status[c] = static_cast<int32_t>(status_of(c) & ~kEntityBits);
  }
}

}  // namespace kl
