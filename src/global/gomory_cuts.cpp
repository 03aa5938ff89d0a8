// Gomory mixed-integer cuts: the tableau row of a fractional basic integer
// column, rounded as a mixed-integer knapsack at divisor 1 and written back
// in the structural columns.
#include "global/gomory_cuts.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/simplex_state.h"
#include "factor/solves.h"
#include "global/cut_rounds.h"
#include "global/cut_rows.h"
#include "global/knapsack_cuts.h"
#include "global/node_cut_lists.h"
#include "global/node_loop.h"
#include "global/row_classes.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/lp_driver.h"

namespace kl {
namespace {

// Results of separate_gomory_cut.
enum GomoryResult : int32_t {
  GOMORY_STORED = 1,
  GOMORY_UNSTABLE = -1,
  GOMORY_NO_ROUNDING = -2,
  GOMORY_TINY_COEFFICIENT = -3,
  GOMORY_EMPTY = -4,
  GOMORY_TOO_DENSE = -5,
  GOMORY_TOO_LONG = -6,
  GOMORY_NOT_STORED = -7,
};

constexpr double kRhoLimit = 1e6;
constexpr double kMinRelativeCoefficient = 1e-6;
// A dense cut from many rows is refused: at least this many terms and more
// than this many combined rows.
constexpr int32_t kDenseTerms = 500;
constexpr int32_t kDenseRows = 10;
constexpr double kInfiniteMagnitude = 5e19;

// Scratch kept between calls so that separation allocates nothing once
// warm. alpha is indexed by position and is all zero between calls.
struct Scratch {
  std::vector<double> alpha;
  std::vector<int32_t> touched;
  std::vector<char> is_touched;
  std::vector<int32_t> rows;
  std::vector<double> rho;
  // Integer terms: column, coefficient, value above the reference bound,
  // range, complemented.
  std::vector<int32_t> int_col;
  std::vector<double> int_a, int_x, int_u, int_c;
  std::vector<char> int_flip;
  std::vector<double> int_ref;
  // Continuous terms used in the rounding (coefficient <= 0).
  std::vector<int32_t> cont_col;
  std::vector<double> cont_a, cont_ref;
  std::vector<char> cont_flip;
  // Slack terms used in the rounding.
  std::vector<int32_t> slack_row;
  std::vector<double> slack_a, slack_ref;
  std::vector<char> slack_flip;
  std::vector<int32_t> cut_col;
  std::vector<double> cut_val;
};
Scratch scratch;

void size_scratch() {
  const size_t n = static_cast<size_t>(nseq) + 2;
  if (scratch.alpha.size() < n) {
    scratch.alpha.assign(n, 0.0);
    scratch.is_touched.assign(n, 0);
    scratch.touched.clear();
  }
}

void touch(int32_t j, double add) {
  if (!scratch.is_touched[static_cast<size_t>(j)]) {
    scratch.is_touched[static_cast<size_t>(j)] = 1;
    scratch.touched.push_back(j);
  }
  scratch.alpha[static_cast<size_t>(j)] += add;
}

void clear_alpha() {
  for (const int32_t j : scratch.touched) {
    scratch.alpha[static_cast<size_t>(j)] = 0.0;
    scratch.is_touched[static_cast<size_t>(j)] = 0;
  }
  scratch.touched.clear();
}

bool infinite(double v) { return std::fabs(v) >= kInfiniteMagnitude; }
bool integral(double v) { return std::fabs(v - std::round(v)) <= 1e-9; }

// The bound a variable's deviation is measured from: its lower bound unless
// it stands at its upper bound or has no finite lower one (then
// complemented). false when neither bound is finite.
bool reference_bound(bool at_upper, double lower, double upper, double& ref, bool& flip) {
  if (!at_upper && !infinite(lower)) {
    ref = lower;
    flip = false;
    return true;
  }
  if (!infinite(upper)) {
    ref = upper;
    flip = true;
    return true;
  }
  if (!infinite(lower)) {
    ref = lower;
    flip = false;
    return true;
  }
  return false;
}

// Row k of the basis inverse into scratch.rows / scratch.rho (by row).
// false when an entry is too large to trust.
bool tableau_multipliers(int32_t k) {
  scratch.rows.clear();
  scratch.rho.clear();
  OneBased<int32_t> rows_of = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(rows_of);
  if (k > factor.factor_dimension) {
    // Beyond the factor the row of the inverse is the unit row itself.
    scratch.rows.push_back(permuted ? rows_of[k] : k);
    scratch.rho.push_back(1.0);
    return true;
  }
  btran_unit_row(k, 1.0);
  OneBased<double> w = work_vector();
  OneBased<int32_t> wl = work_list();
  bool stable = true;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t idx = wl[n];
    const double r = w[idx];
    if (r == 0.0) continue;
    if (std::fabs(r) > kRhoLimit) stable = false;
    scratch.rows.push_back(permuted ? rows_of[idx] : idx);
    scratch.rho.push_back(r);
  }
  clear_work_vector();
  factor.work_vector_state = WV_ZERO;
  return stable;
}

bool already_listed(int32_t record, int32_t list_count, const int32_t* cut_list) {
  for (int32_t i = 0; i < list_count; ++i)
    if (cut_list[i] == record) return true;
  return false;
}

}  // namespace

void separate_gomory_cut(int32_t position, int32_t& result, double& efficacy, int32_t& term_count,
                         int32_t single_call, int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count,
                         int32_t* cut_list) {
  result = GOMORY_NO_ROUNDING;
  efficacy = 0.0;
  term_count = 0;
  size_scratch();
  clear_alpha();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> s_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> s_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  const double zteta = dcv(dc::ZTETA);
  const int32_t model_rows = nrow - cut_row_count;

  // 1. The multipliers of the tableau row.
  if (!tableau_multipliers(position)) {
    result = GOMORY_UNSTABLE;
    return;
  }

  // 2. alpha_j = rho . A_j. A basic slack has a zero multiplier in exact
  // arithmetic; its row is left out rather than let rounding noise in.
  int32_t rows_used = 0, cut_rows_used = 0, longest_row = 0;
  for (size_t n = 0; n < scratch.rows.size(); ++n) {
    const int32_t i = scratch.rows[n];
    if ((status[i] & PS_BASIC) != 0) {
      scratch.rho[n] = 0.0;
      continue;
    }
    ++rows_used;
    if (i > model_rows) ++cut_rows_used;
    longest_row = std::max(longest_row, copy_start[i + 1] - copy_start[i]);
    for (int32_t e = copy_start[i]; e < copy_start[i + 1]; ++e) touch(copy_col[e], scratch.rho[n] * copy_val[e]);
  }

  // 3. Direction: the substituted rows (slack factor <= 0) are the shorter
  // side.
  int64_t length_plus = 0, length_minus = 0;
  for (size_t n = 0; n < scratch.rows.size(); ++n) {
    const int32_t i = scratch.rows[n];
    if (scratch.rho[n] == 0.0 || (status[i] & PS_FIXED) != 0) continue;
    int32_t s = (status[i] & PS_AT_UPPER) != 0 ? -1 : 1;
    if (scratch.rho[n] < 0.0) s = -s;
    (s >= 0 ? length_plus : length_minus) += copy_start[i + 1] - copy_start[i];
  }
  const double m = length_plus < length_minus ? -1.0 : 1.0;

  // 4-5. Terms, each measured from its reference bound. b is the row's
  // value at the current point in these terms, which is exact also for a
  // variable that is non-basic between its bounds.
  scratch.int_col.clear();
  scratch.int_a.clear();
  scratch.int_x.clear();
  scratch.int_u.clear();
  scratch.int_flip.clear();
  scratch.int_ref.clear();
  scratch.cont_col.clear();
  scratch.cont_a.clear();
  scratch.cont_ref.clear();
  scratch.cont_flip.clear();
  scratch.slack_row.clear();
  scratch.slack_a.clear();
  scratch.slack_ref.clear();
  scratch.slack_flip.clear();
  std::sort(scratch.touched.begin(), scratch.touched.end());
  double b = 0.0;
  bool unbounded = false;
  for (const int32_t j : scratch.touched) {
    const double aj = scratch.alpha[static_cast<size_t>(j)];
    scratch.alpha[static_cast<size_t>(j)] = 0.0;
    if (std::fabs(aj) <= zteta) continue;
    const int32_t st = status[j];
    if ((st & (PS_FIXED | PS_SEARCH_FIXED)) != 0 && s_upper[j] - s_lower[j] <= 0.0) continue;
    double ref = 0.0;
    bool flip = false;
    if (!reference_bound((st & PS_AT_UPPER) != 0, s_lower[j], s_upper[j], ref, flip)) {
      unbounded = true;
      break;
    }
    const double a = flip ? -m * aj : m * aj;
    const double v = flip ? ref - x[j] : x[j] - ref;
    b += a * v;
    // An integer column counts as such only from an integral bound: its
    // deviation is then integral too.
    if ((st & PS_INTEGER_OR_BINARY) != 0 && integral(ref)) {
      if (static_cast<int32_t>(scratch.int_col.size()) >= kGomoryMaxTerms) {
        result = GOMORY_TOO_LONG;
        clear_alpha();
        return;
      }
      const double range = infinite(s_upper[j]) || infinite(s_lower[j]) ? kInfinity : s_upper[j] - s_lower[j];
      scratch.int_col.push_back(j);
      scratch.int_a.push_back(a);
      scratch.int_x.push_back(std::max(0.0, v));
      scratch.int_u.push_back(range);
      scratch.int_flip.push_back(flip);
      scratch.int_ref.push_back(ref);
    } else if (a <= 0.0) {
      if (static_cast<int32_t>(scratch.cont_col.size()) >= kGomoryMaxTerms) {
        result = GOMORY_TOO_LONG;
        clear_alpha();
        return;
      }
      scratch.cont_col.push_back(j);
      scratch.cont_a.push_back(a);
      scratch.cont_ref.push_back(ref);
      scratch.cont_flip.push_back(flip);
    }
  }
  clear_alpha();
  if (unbounded) return;
  for (size_t n = 0; n < scratch.rows.size(); ++n) {
    const int32_t i = scratch.rows[n];
    if (scratch.rho[n] == 0.0 || (status[i] & PS_FIXED) != 0) continue;
    double ref = 0.0;
    bool flip = false;
    if (!reference_bound((status[i] & PS_AT_UPPER) != 0, lower[i], upper[i], ref, flip)) return;
    const double a = flip ? -m * scratch.rho[n] : m * scratch.rho[n];
    b += a * (flip ? ref - x[i] : x[i] - ref);
    if (a > 0.0) continue;
    scratch.slack_row.push_back(i);
    scratch.slack_a.push_back(a);
    scratch.slack_ref.push_back(ref);
    scratch.slack_flip.push_back(flip);
  }

  // 6. Rounding at divisor 1.
  const int32_t n_int = static_cast<int32_t>(scratch.int_col.size());
  if (n_int == 0) return;
  scratch.int_c.assign(static_cast<size_t>(n_int), 0.0);
  const int32_t n_cont = static_cast<int32_t>(scratch.cont_col.size() + scratch.slack_row.size());
  int32_t mir_status = 0;
  double beta = 0.0, factor_cont = 0.0, eff = 0.0;
  mir_cut_for_divisor(n_int, n_cont, b, scratch.int_a.data(), scratch.int_x.data(), scratch.int_u.data(), 0.0, 1.0,
                      mir_status, beta, scratch.int_c.data(), factor_cont, eff);
  efficacy = eff;
  if (mir_status != MIR_CUT_EFFICACIOUS) return;

  // 7. Back to the structural columns.
  for (int32_t t = 0; t < n_int; ++t) {
    const int32_t j = scratch.int_col[static_cast<size_t>(t)];
    const double c = scratch.int_c[static_cast<size_t>(t)];
    if (scratch.int_flip[static_cast<size_t>(t)]) {
      touch(j, -c);
      beta -= c * scratch.int_ref[static_cast<size_t>(t)];
    } else {
      touch(j, c);
      beta += c * scratch.int_ref[static_cast<size_t>(t)];
    }
  }
  for (size_t t = 0; t < scratch.cont_col.size(); ++t) {
    const double g = factor_cont * scratch.cont_a[t];
    if (scratch.cont_flip[t]) {
      touch(scratch.cont_col[t], -g);
      beta -= g * scratch.cont_ref[t];
    } else {
      touch(scratch.cont_col[t], g);
      beta += g * scratch.cont_ref[t];
    }
  }
  for (size_t t = 0; t < scratch.slack_row.size(); ++t) {
    const int32_t i = scratch.slack_row[t];
    const double c = factor_cont * scratch.slack_a[t];
    // slack = rhs - row activity; its deviation is slack - ref, or ref -
    // slack when complemented.
    const double sign = scratch.slack_flip[t] ? 1.0 : -1.0;
    beta -= scratch.slack_flip[t] ? c * (scratch.slack_ref[t] - rhs[i]) : c * (rhs[i] - scratch.slack_ref[t]);
    for (int32_t e = copy_start[i]; e < copy_start[i + 1]; ++e) touch(copy_col[e], sign * c * copy_val[e]);
  }

  // 8. Cleaning: scale to a largest coefficient of 1. A coefficient too
  // small to keep is dropped at the bound that keeps the cut valid.
  std::sort(scratch.touched.begin(), scratch.touched.end());
  double largest = 0.0;
  for (const int32_t j : scratch.touched) largest = std::max(largest, std::fabs(scratch.alpha[static_cast<size_t>(j)]));
  scratch.cut_col.clear();
  scratch.cut_val.clear();
  bool droppable = true;
  if (largest > 0.0) {
    for (const int32_t j : scratch.touched) {
      const double c = scratch.alpha[static_cast<size_t>(j)];
      if (std::fabs(c) > zteta * largest) {
        scratch.cut_col.push_back(j);
        scratch.cut_val.push_back(c / largest);
        continue;
      }
      if (c == 0.0) continue;
      const double bound = c > 0.0 ? s_lower[j] : s_upper[j];
      if (infinite(bound)) droppable = false;
      else beta -= c * bound;
    }
  }
  clear_alpha();
  if (!droppable) {
    result = GOMORY_TINY_COEFFICIENT;
    return;
  }
  term_count = static_cast<int32_t>(scratch.cut_col.size());
  if (term_count > kGomoryMaxTerms) {
    result = GOMORY_TOO_LONG;
    return;
  }
  if (term_count == 0) {
    result = GOMORY_EMPTY;
    return;
  }
  beta /= largest;

  // 9. Density.
  if (term_count >= std::max(kDenseTerms, 2 * longest_row) && (rows_used > kDenseRows || cut_rows_used > kDenseRows)) {
    result = GOMORY_TOO_DENSE;
    return;
  }
  // 10. A badly scaled cut.
  for (const double c : scratch.cut_val)
    if (std::fabs(c) <= kMinRelativeCoefficient) {
      result = GOMORY_TINY_COEFFICIENT;
      return;
    }

  // 11-12. Store (the terms are in column order already).
  const int32_t type = single_call == 1 ? caller_cut_type : 0;
  const int32_t mode = single_call == 1 ? 2 : 1;
  const char sense = 'L';
  const int32_t start[2] = {1, term_count + 1};
  int32_t record = 0;
  const int32_t stored_before = search_record.stored_cut_count;
  status_code = STATUS_OK;
  // Positions and record numbers are internal (from 1) whatever the
  // caller's index base.
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  storecut(1, 0, &type, &sense, &beta, start, &record, scratch.cut_col.data(), scratch.cut_val.data(), mode);
  icv(ic::IFDBG) = base;
  result = GOMORY_NOT_STORED;
  if (status_code == STATUS_OK && record > 0) {
    int32_t flags = CUT_NEW_IN_ROUND;
    if (search_node_count <= 1) flags |= CUT_TOP_NODE;
    cut_record_field(record, CUT_FIELD_FLAGS) |= flags;
    if (single_call == 1 && list_count < list_capacity) {
      if (already_listed(record, list_count, cut_list)) {
        result = GOMORY_UNSTABLE;
        return;
      }
      cut_list[list_count++] = record;
    }
  }
  if (search_record.stored_cut_count > stored_before) result = GOMORY_STORED;
}

void generate_gomory_cuts(int32_t single_call, int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count,
                          int32_t* cut_list, int32_t selection, int32_t max_rounds, int32_t& round_number,
                          int32_t& cuts_found, int32_t& rows_added, int32_t& rows_removed, int32_t& outcome) {
  const int32_t saved_base = icv(ic::IFDBG);
  const int32_t saved_noinv = icv(ic::INOINV);
  icv(ic::IFDBG) = 0;
  icv(ic::INOINV) = 0;
  struct Restore {
    int32_t base, noinv;
    ~Restore() {
      icv(ic::IFDBG) = base;
      icv(ic::INOINV) = noinv;
    }
  } restore{saved_base, saved_noinv};
  cuts_found = 0;
  rows_added = 0;
  rows_removed = 0;
  outcome = COVER_ROUND_NORMAL;
  if (single_call == 1) max_rounds = 1;
  const int32_t prtcut = icv(ic::PRTCUT);
  const bool top = search_node_count <= 1;


  for (int32_t pass = 1; pass <= max_rounds; ++pass) {
    measure_integer_infeasibilities();
    if (search.fractional_count == 0) {
      outcome = COVER_ROUND_INTEGER;
      return;
    }
    const double objective_before = objval;
    ++cut_round_counter;
    ++round_number;
    if (prtcut >= 3 || (prtcut >= 2 && top)) {
      begin_message(MSG_COVER_ROUND_START);
      insert_message_int(round_number);
      emit_message();
    }
    if ((problem_flags & PF_FACTOR_VALID) == 0) invert_basis();
    if ((problem_flags & PF_FACTOR_VALID) == 0 || ((problem_flags & PF_ROW_COPY) == 0 && !make_row_copy_current()))
      return;

    int32_t stored = 0;
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> x = real_array(ARR_X);
    OneBased<double> s_lower = real_array(ARR_WORK_LOWER);
    OneBased<double> s_upper = real_array(ARR_WORK_UPPER);
    const double ztolis = dcv(dc::ZTOLIS);
    const int32_t rows_now = nrow;
    for (int32_t k = 1; k <= rows_now; ++k) {
      const int32_t j = header[k];
      if (j < store.first_col || (status[j] & PS_INTEGER_OR_BINARY) == 0) continue;
      if (!(s_lower[j] + ztolis < x[j] && x[j] < s_upper[j] - ztolis)) continue;
      int32_t result = 0, terms = 0;
      double efficacy = 0.0;
      separate_gomory_cut(k, result, efficacy, terms, single_call, caller_cut_type, list_capacity, list_count,
                          cut_list);
      if (result == GOMORY_STORED) ++stored;
    }
    status_code = STATUS_OK;
    if (single_call == 1) return;

    const int32_t elements_before = nelem;
    const int32_t cut_rows_before = cut_row_count;
    int32_t removed = 0;
    if ((selection & SEL_DROP_NONBINDING) != 0) removed = drop_nonbinding_cut_rows();
    int32_t violated = 0, selected = 0;
    select_active_cuts(1, 0, nullptr, 1e-4, violated, selected);
    cuts_found += stored;
    int32_t added = 0;
    if (violated > 0) {
      const int32_t before = cut_row_count;
      status_code = STATUS_OK;
      loadcut(0, CUT_RULE_COMMON_BIT, -1, nullptr, LOAD_SELECTED);
      added = cut_row_count - before;
    }
    status_code = STATUS_OK;
    rows_added += added;
    rows_removed += removed;
    if (!resolve_after_cut_rows(outcome)) return;
    if ((selection & SEL_DROP_NONBINDING) != 0 && pass == max_rounds) {
      const int32_t more = drop_nonbinding_cut_rows();
      removed += more;
      rows_removed += more;
      if (more > 0 && !resolve_after_cut_rows(outcome)) return;
    }

    if (top || prtcut >= 3) {
      if (prtcut >= 2) {
        if (stored > 0) {
          begin_message(MSG_GOMORY_CUTS_STORED);
          insert_message_int(stored);
          emit_message();
        }
        // The rows added and removed share one line with the row-based round.
        begin_message(MSG_COVER_ROUND_ROWS);
        insert_message_int(added);
        insert_message_int(removed);
        emit_message();
      } else {
        begin_message(MSG_MODEL_CUT_ROUND);
        insert_message_int(cut_round_counter);
        insert_message_real(objval);
        insert_message_chars("G", 1);
        insert_message_int(added);
        insert_message_int(removed);
        insert_message_int(search_elapsed_seconds());
        emit_message();
      }
      if (prtcut >= 2 && (added > 0 || removed > 0)) report_round_changes(objective_before, elements_before, cut_rows_before);
    }
    if (spare_elems_left <= 50 || spare_rows_left == 0) {
      outcome = COVER_ROUND_NO_SPACE;
      return;
    }
    if (added == 0) return;
  }
}

}  // namespace kl
