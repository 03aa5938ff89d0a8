// Row classes and variable-bound references for the cut generators (see
// row_classes.h).
#include "global/row_classes.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

int32_t cut_round_counter = 0;
RowClassCounts last_row_class_counts;

namespace {


int32_t model_row_count() { return nrow - cut_row_count; }

bool is_integer_like(int32_t status) { return (status & PS_INTEGER_OR_BINARY) != 0; }

// x_j - u y <= 0 and its kin: not E, not N, two elements, right-hand side
// exactly 0, one integer or binary column and one continuous column that is
// no global entity, coefficients of opposite sign.
bool is_variable_bound_row(int32_t r) {
  const int32_t type = int_array(ARR_ROW_TYPE)[r] & ROW_TYPE_MASK;
  if (type == ROW_E || type == ROW_N) return false;
  if (real_array(ARR_RHS)[r] != 0.0) return false;
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  if (start[r + 1] - start[r] != 2) return false;
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t k = start[r];
  const int32_t s1 = status[col[k]];
  const int32_t s2 = status[col[k + 1]];
  if (is_integer_like(s1) == is_integer_like(s2)) return false;
  const int32_t continuous = is_integer_like(s1) ? s2 : s1;
  if ((continuous & PS_ENTITY) != 0) return false;
  return (val[k] > 0.0) != (val[k + 1] > 0.0) && val[k] != 0.0 && val[k + 1] != 0.0;
}

// The search's bound copies and the variable-bound references.
void build_column_references() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  OneBased<int32_t> vub_ref = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb_ref = int_array(ARR_VLB_REF);
  const int32_t rows = model_row_count();
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (search_upper) search_upper[j] = upper[j];
    if (search_lower) search_lower[j] = lower[j];
    if (!vub_ref || !vlb_ref) continue;
    if ((status[j] & PS_ENTITY) != 0) continue;
    int32_t upper_candidate = 0;
    int32_t lower_candidate = 0;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t r = elem_row[k];
      if (r > rows || (row_type[r] & RC_VARIABLE_BOUND) == 0) continue;
      // The partner's coefficient, on the <= side of the row.
      OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
      OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
      OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
      const int32_t first = start[r];
      const int32_t partner = col[first] == j ? col[first + 1] : col[first];
      double f = col[first] == j ? val[first + 1] : val[first];
      if ((row_type[r] & ROW_TYPE_MASK) == ROW_G) f = -f;
      if (f < 0.0)
        upper_candidate = (status[partner] & PS_BINARY) != 0 ? partner : r;
      else
        lower_candidate = r;
    }
    vub_ref[j] = upper_candidate;
    vlb_ref[j] = lower_candidate;
  }
  if (!vub_ref || !vlb_ref) return;
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  for (int32_t e = 1; e <= nglent; ++e) {
    if ((type[e] & ENT_TYPE_MASK) != ENT_SEMICONTINUOUS) continue;
    vub_ref[column[e]] = e;
    vlb_ref[column[e]] = e;
  }
}

bool partner_is_binary(int32_t reference) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  if (reference >= store.first_col) return (status[reference] & PS_BINARY) != 0;
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  const int32_t first = start[reference];
  const int32_t partner = is_integer_like(status[col[first]]) ? col[first] : col[first + 1];
  return (status[partner] & PS_BINARY) != 0;
}

// The sides of a row: side 1 is a.x <= rhs (slack lower bound finite), side
// 2 is -a.x <= upper - rhs (slack upper bound finite).
struct RowSide {
  double sign;
  double limit;
};

RowSide row_side(int32_t r, int side) {
  const double rhs = real_array(ARR_RHS)[r];
  if (side == 1) return {1.0, rhs};
  return {-1.0, real_array(ARR_UPPER)[r] - rhs};
}

// The VUB test of one side: the single binary at its upper end and the other
// columns at the end that loosens the row make it exactly binding.
bool vub_test(int32_t r, int side) {
  const RowSide s = row_side(r, side);
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  double t = s.limit;
  for (int32_t k = start[r]; k < start[r + 1]; ++k) {
    const double a = s.sign * val[k];
    if ((status[col[k]] & PS_BINARY) != 0) {
      if (a > 0.0) t -= a;
    } else if (a < 0.0) {
      t -= a * search_upper[col[k]];
    }
  }
  return std::fabs(t) <= dcv(dc::ZTOLIS);
}

struct RowScan {
  int32_t binaries = 0;
  int32_t integers = 0;
  int32_t negatives = 0;
  int32_t plain_continuous = 0;
  int32_t bounded_continuous = 0;  // with a variable bound (or semi-continuous)
  bool all_equal = true;
  bool non_binary_partner = false;
  bool nonnegative_lower = true;
  double magnitude = 0.0;
};

RowScan scan_row(int32_t r) {
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> vub_ref = int_array(ARR_VUB_REF);
  OneBased<int32_t> vlb_ref = int_array(ARR_VLB_REF);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  const double ztolda = dcv(dc::ZTOLDA);
  RowScan scan;
  if (start[r + 1] > start[r]) scan.magnitude = std::fabs(val[start[r]]);
  const double m = scan.magnitude;
  for (int32_t k = start[r]; k < start[r + 1]; ++k) {
    const int32_t j = col[k];
    const int32_t s = status[j];
    const double a = val[k];
    if (search_lower && search_lower[j] < 0.0) scan.nonnegative_lower = false;
    if ((s & PS_BINARY) != 0) {
      ++scan.binaries;
      if (std::fabs(std::fabs(a) - m) > ztolda) scan.all_equal = false;
      if (std::fabs(a + m) <= ztolda) ++scan.negatives;
    } else if ((s & PS_INTEGER) != 0) {
      ++scan.integers;
      if (std::fabs(std::fabs(a) - m) > ztolda) scan.all_equal = false;
    } else if ((s & PS_SEMICONTINUOUS) != 0) {
      ++scan.bounded_continuous;
      scan.all_equal = false;
    } else {
      const int32_t up = vub_ref ? vub_ref[j] : 0;
      const int32_t low = vlb_ref ? vlb_ref[j] : 0;
      if (up == 0 && low == 0) {
        ++scan.plain_continuous;
      } else {
        ++scan.bounded_continuous;
        if ((up != 0 && !partner_is_binary(up)) || (low != 0 && !partner_is_binary(low)))
          scan.non_binary_partner = true;
      }
      scan.all_equal = false;
    }
  }
  return scan;
}

// x1 + x2 + ... <= 1 over binaries, some of them complemented: on the side
// given, rhs = (1 - complemented members) x the common magnitude.
bool set_row_side(int32_t r, int side, const RowScan& scan) {
  const RowSide s = row_side(r, side);
  const int32_t complemented = side == 1 ? scan.negatives : scan.binaries - scan.negatives;
  return std::fabs(s.limit - (1 - complemented) * scan.magnitude) <= dcv(dc::ZTOLDA);
}

// One row's class bit (0 for none), counting as it goes.
int32_t classify_row(int32_t r, RowClassCounts& counts) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const int32_t length = start[r + 1] - start[r];
  const int32_t row_status = status[r];
  if (length == 0) {
    ++counts.empty_rows;
    return 0;
  }
  const RowScan scan = scan_row(r);
  if (scan.all_equal) {
    if (scan.integers == 0) {
      if ((row_status & PS_FINITE_LOWER) != 0 && set_row_side(r, 1, scan)) return RC_SET_LE;
      if ((row_status & PS_FINITE_UPPER) != 0 && set_row_side(r, 2, scan)) return RC_SET_GE;
    }
    const double ztolis = dcv(dc::ZTOLIS);
    const double ratio = std::fabs(real_array(ARR_RHS)[r] / scan.magnitude);
    if (ratio - std::trunc(ratio + ztolis) > ztolis) counts.rhs_fraction = 1;
    return 0;
  }
  if (length > kLongRowElements) {
    ++counts.long_rows;
    return 0;
  }
  const int32_t continuous = scan.plain_continuous + scan.bounded_continuous;
  if (scan.integers > 0) return continuous == 0 ? RC_INTEGER_KNAPSACK : RC_MIXED_INTEGER;
  if (scan.binaries > 0) {
    if (continuous == 0) return RC_BINARY_KNAPSACK;
    if (scan.binaries == 1 && scan.nonnegative_lower) {
      if ((row_status & PS_FINITE_LOWER) != 0 && vub_test(r, 1)) return RC_VUB;
      if ((row_status & PS_FINITE_UPPER) != 0 && vub_test(r, 2)) return RC_VUB;
    }
    return RC_MIXED_BINARY;
  }
  if (scan.bounded_continuous > 0) return scan.non_binary_partner ? RC_MIXED_INTEGER : RC_MIXED_BINARY;
  if (scan.plain_continuous > 0) return RC_CONTINUOUS;
  ++counts.empty_rows;
  return 0;
}

// A binary knapsack two of whose columns lie in one set row becomes
// a GUB knapsack.
void mark_gub_knapsacks() {
  const int32_t rows = model_row_count();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  std::vector<int32_t> shared(static_cast<std::size_t>(rows) + 1, 0);
  std::vector<int32_t> touched;
  for (int32_t r = 1; r <= rows; ++r) {
    if ((row_type[r] & RC_BINARY_KNAPSACK) == 0) continue;
    bool gub = false;
    for (int32_t k = start[r]; k < start[r + 1] && !gub; ++k) {
      const int32_t j = col[k];
      for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
        const int32_t s = elem_row[e];
        if (s > rows || (row_type[s] & RC_SET_ROW) == 0) continue;
        if (shared[s] == 0) touched.push_back(s);
        if (++shared[s] == 2) {
          gub = true;
          break;
        }
      }
    }
    for (const int32_t s : touched) shared[s] = 0;
    touched.clear();
    if (gub) row_type[r] = (row_type[r] & ~RC_BINARY_KNAPSACK) | RC_GUB_KNAPSACK;
  }
}

// Binary-active test of one side: can the free binaries make the row
// binding?
bool binary_active_side(int32_t r, int side) {
  const RowSide s = row_side(r, side);
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  double t = s.limit;
  double swing = 0.0;
  for (int32_t k = start[r]; k < start[r + 1]; ++k) {
    const int32_t j = col[k];
    const double v = s.sign * val[k];
    if (v >= 0.0) {
      if ((status[j] & PS_FINITE_LOWER) == 0) return false;
      t -= v * search_lower[j];
    } else {
      if ((status[j] & PS_FINITE_UPPER) == 0) return false;
      t -= v * search_upper[j];
    }
    if ((status[j] & PS_BINARY) != 0 && (status[j] & (PS_FIXED | PS_SEARCH_FIXED)) == 0) swing += std::fabs(v);
  }
  return t + dcv(dc::ZTOLIS) < swing;
}

void mark_binary_active_rows() {
  const int32_t rows = model_row_count();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t r = 1; r <= rows; ++r) {
    const int32_t word = row_type[r];
    if ((word & ROW_TYPE_MASK) == ROW_N) continue;
    if ((word & RC_SET_ROW) != 0) {
      row_type[r] = word | RC_BINARY_ACTIVE;
      continue;
    }
    if ((word & (RC_VUB | RC_CONTINUOUS)) != 0) continue;
    const bool finite_lower = (status[r] & PS_FINITE_LOWER) != 0;
    const bool finite_upper = (status[r] & PS_FINITE_UPPER) != 0;
    const bool active = ((finite_lower || !finite_upper) && binary_active_side(r, 1)) ||
                        (finite_upper && binary_active_side(r, 2));
    if (active) row_type[r] = word | RC_BINARY_ACTIVE;
  }
}

void count_for_report(RowClassCounts& counts) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t r = 1; r <= nrow; ++r) {
    const int32_t w = row_type[r];
    if (w & RC_BINARY_ACTIVE) ++counts.binary_active;
    if (w & RC_CONTINUOUS) ++counts.continuous;
    else if (w & RC_VARIABLE_BOUND) ++counts.variable_bound;
    else if (w & RC_SET_ROW) ++counts.set;
    else if (w & RC_INTEGER_KNAPSACK) ++counts.integer_knapsack;
    else if (w & RC_BINARY_KNAPSACK) ++counts.binary_knapsack;
    else if (w & RC_VUB) ++counts.vub;
    else if (w & RC_MIXED_BINARY) ++counts.mixed_binary;
    else if (w & RC_MIXED_INTEGER) ++counts.mixed_integer;
    else if (w & RC_GUB_KNAPSACK) ++counts.gub_knapsack;
  }
  counts.other = nrow - counts.continuous - counts.variable_bound - counts.set - counts.integer_knapsack -
                 counts.binary_knapsack - counts.vub - counts.mixed_binary - counts.mixed_integer -
                 counts.gub_knapsack - counts.long_rows - counts.empty_rows - counts.n_rows;
}

void report_count(int32_t message, int32_t count) {
  if (count <= 0) return;
  begin_message(message);
  insert_message_int(count);
  emit_message();
}

void report_row_classes(const RowClassCounts& c) {
  begin_message(MSG_ROW_CLASS_HEADER);
  emit_message();
  report_count(MSG_ROW_CLASS_GUB, c.gub_knapsack);
  report_count(MSG_ROW_CLASS_BINARY_KNAPSACK, c.binary_knapsack);
  report_count(MSG_ROW_CLASS_INTEGER_KNAPSACK, c.integer_knapsack);
  report_count(MSG_ROW_CLASS_MIXED_BINARY, c.mixed_binary);
  report_count(MSG_ROW_CLASS_MIXED_INTEGER, c.mixed_integer);
  report_count(MSG_ROW_CLASS_CONTINUOUS, c.continuous);
  report_count(MSG_ROW_CLASS_SET, c.set);
  if (c.other != 0) {
    begin_message(MSG_ROW_CLASS_OTHER);
    insert_message_int(c.other);
    emit_message();
  }
  report_count(MSG_ROW_CLASS_VARIABLE_BOUND, c.variable_bound);
  report_count(MSG_ROW_CLASS_VUB, c.vub);
  if (c.long_rows > 0) {
    begin_message(MSG_ROW_CLASS_LONG);
    insert_message_int(c.long_rows);
    insert_message_int(kLongRowElements);
    emit_message();
  }
  if (c.rhs_fraction != 0 || c.empty_rows > 0 || c.n_rows > 0) emit_message();
  if (c.rhs_fraction != 0) {
    begin_message(MSG_ROW_CLASS_RHS_FRACTION);
    emit_message();
  }
  if (c.empty_rows > 0) {
    begin_message(MSG_ROW_CLASS_EMPTY);
    emit_message();
  }
  report_count(MSG_ROW_CLASS_N_ROWS, c.n_rows);
}

}  // namespace

void preprocess_mip_rows(int32_t& error) {
  error = 0;
  cut_round_counter = 0;
  if (!int_array(ARR_ROW_COPY_START) || !int_array(ARR_ROW_COPY_COL) || !real_array(ARR_ROW_COPY_VAL)) {
    error = ARR_ROW_COPY_START;
    return;
  }
  if ((problem_flags & PF_ROW_COPY) == 0) build_row_copy();
  const int32_t rows = model_row_count();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  // Classes of an earlier search describe rows that may have changed since:
  // each search classifies afresh. Propagation marks left by an interrupted
  // propagation would keep rows from being queued.
  for (int32_t r = 1; r <= nrow; ++r)
    row_type[r] &= ~(RC_ALL | static_cast<int32_t>(RF_PROPAGATION_1 | RF_PROPAGATION_2));
  for (int32_t r = 1; r <= rows; ++r)
    if (is_variable_bound_row(r)) row_type[r] |= RC_VARIABLE_BOUND;
  // The presolve of a searched problem leaves its own working bounds
  // (clipped, implied) in the bound copies: the search needs the bounds.
  build_column_references();

  RowClassCounts counts;
  bool set_rows = false;
  for (int32_t r = 1; r <= rows; ++r) {
    const int32_t word = row_type[r];
    if ((word & ROW_TYPE_MASK) == ROW_N) {
      ++counts.n_rows;
      continue;
    }
    if ((word & RC_VARIABLE_BOUND) != 0) continue;
    const int32_t cls = classify_row(r, counts);
    if ((cls & RC_SET_ROW) != 0) set_rows = true;
    row_type[r] = word | cls;
  }
  if (set_rows) mark_gub_knapsacks();
  mark_binary_active_rows();
  count_for_report(counts);
  last_row_class_counts = counts;
  row_classes_available = 1;
  if (icv(ic::PRTCUT) > 0) report_row_classes(counts);
}

namespace {

// A reference r of vub_ref or vlb_ref: a binary partner column, or the
// variable-bound row whose integer column is the partner.
void lookup_variable_bound(int32_t j, int32_t r, int32_t& partner, double& factor) {
  if (r == 0 || (int_array(ARR_POS_STATUS)[j] & PS_SEMICONTINUOUS) != 0) return;
  if (r >= store.first_col) {
    partner = r;
    return;
  }
  OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  const int32_t k = start[r];
  if (!is_integer_like(int_array(ARR_POS_STATUS)[col[k]])) {
    partner = col[k + 1];
    factor = std::fabs(val[k + 1] / val[k]);
  } else {
    partner = col[k];
    factor = std::fabs(val[k] / val[k + 1]);
  }
}

}  // namespace

void lookup_variable_upper_bound(int32_t j, int32_t& partner, double& factor) {
  partner = 0;
  OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  factor = search_upper ? search_upper[j] : real_array(ARR_UPPER)[j];
  if (OneBased<int32_t> vub_ref = int_array(ARR_VUB_REF)) lookup_variable_bound(j, vub_ref[j], partner, factor);
}

void lookup_variable_lower_bound(int32_t j, int32_t& partner, double& factor) {
  partner = 0;
  OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  factor = search_lower ? search_lower[j] : real_array(ARR_LOWER)[j];
  if (OneBased<int32_t> vlb_ref = int_array(ARR_VLB_REF)) lookup_variable_bound(j, vlb_ref[j], partner, factor);
}

}  // namespace kl
