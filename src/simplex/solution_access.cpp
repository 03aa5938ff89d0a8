#include "simplex/solution_access.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "files/solution_file.h"
#include "presolve/postsolve.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/basis_access.h"
#include "simplex/kernel.h"
#include "factor/simplex_state.h"
#include "simplex/solution_file_reader.h"

namespace kl {

namespace {

bool presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }
bool solution_current() { return (problem_flags & PF_SOLUTION_CURRENT) != 0; }

// Message 422 with its error number.
void report_not_current() {
  report_plain_error(MSG_SOLUTION_NOT_CURRENT);
  error_number = MSG_SOLUTION_NOT_CURRENT;
}

// Exponent byte and factor of a position (0 reads as 64).
int32_t exponent_of(int32_t p) { return scale_exponent(int_array(ARR_POS_STATUS)[p]); }
double power_of(int32_t e) { return std::ldexp(1.0, e - kScaleBias); }

// Duals and reduced costs in the caller's objective: the objective scale of
// the dual simplex and the magnitude of the sense factor undone.
double objective_unscale() {
  double f = std::ldexp(1.0, kScaleBias - objective_scale_exponent);
  if (sense_factor != 0.0) f /= std::fabs(sense_factor);
  return f;
}

// The stored duals and reduced costs carry the sense: sense_factor x
// (c_j - y'a_j) for a column and -sense_factor x y_i for a row. The caller
// gets y_i and c_j - y'a_j whatever the sense, or with IFOLDS the stored
// values times sense_factor. The file records the sense as a code.
struct DualOrientation {
  double row = 1.0;
  double column = 1.0;
};
DualOrientation orientation_for(int32_t sense_code) {
  DualOrientation o;
  if (icv(ic::IFOLDS) != 0) {
    o.row = o.column = sense_factor;
  } else if (sense_code == SENSE_MINIMISE) {
    o.row = -1.0;
  } else if (sense_code == SENSE_MAXIMISE) {
    o.column = -1.0;
  }
  return o;
}
int32_t memory_sense_code() { return sense_factor < 0.0 ? SENSE_MAXIMISE : SENSE_MINIMISE; }

// ---------------------------------------------------------------------------
// KLSOLUTION

void solution_from_file(double* x, double* slack, double* dual, double* reduced_cost) {
  SolutionFileReader file;
  if (!file.open(expected_file_rows(), expected_file_columns())) return;
  const DualOrientation o = orientation_for(file.sense_code());
  SolutionFileRecord record;
  for (int32_t i = 0; i < file.rows(); ++i) {
    if (!file.next(record)) return;
    if (slack != nullptr) slack[i] = (record.type_word & ROW_G) != 0 ? -record.value : record.value;
    if (dual != nullptr) dual[i] = record.dual * o.row;
  }
  for (int32_t k = 0; k < file.columns(); ++k) {
    if (!file.next(record)) return;
    if (x != nullptr) x[k] = record.value;
    if (reduced_cost != nullptr) reduced_cost[k] = record.dual * o.column;
  }
}

// The memory path gives what the solution file would hold for the same
// solution (see write_solution_file), so that the two sources agree. rows:
// the rows spoken of (the cut rows of the search may be left out).
void solution_values(int32_t rows, double* x, double* slack, double* dual, double* reduced_cost) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> lower = real_array(ARR_LOWER);
  const double f = objective_unscale();
  const DualOrientation o = orientation_for(memory_sense_code());
  for (int32_t i = 1; i <= rows; ++i) {
    const int32_t e = exponent_of(i);
    if (slack != nullptr) {
      if (i == store.objective_row) {
        const double scale = dcv(kObjectiveScaleSlot);
        slack[i - 1] = -objval * (scale != 0.0 ? scale : 1.0);
      } else {
        slack[i - 1] = values[i] * power_of(2 * kScaleBias - e);
      }
    }
    if (dual != nullptr) dual[i - 1] = d[i] * power_of(e) * f * o.row;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t e = exponent_of(j);
    const uint32_t s = static_cast<uint32_t>(status[j]);
    // A fixed column off the between state is reported at its bound.
    const double v = ((s & PS_FIXED) != 0 && (s & PS_NONBASIC_BETWEEN) == 0) ? lower[j] : values[j];
    if (x != nullptr) x[j - store.first_col] = v * power_of(e);
    if (reduced_cost != nullptr) reduced_cost[j - store.first_col] = d[j] * power_of(2 * kScaleBias - e) * f * o.column;
  }
}

void solution_from_memory(double* x, double* slack, double* dual, double* reduced_cost) {
  const bool leave_out_cuts = (icv(ic::IFMEM) & kIfmemLeaveOutCuts) != 0;
  // A presolved problem answers in original terms, where there are no cut
  // rows to leave out; a problem presolved for the search does so at every
  // call, so that a caller's callback sees the problem it loaded.
  if (presolved() && (leave_out_cuts || (problem_flags & PF_PRESOLVED_GLOBAL) != 0)) {
    read_original_solution([&]() { solution_values(nrow, x, slack, dual, reduced_cost); });
    return;
  }
  if (leave_out_cuts || (problem_flags & PF_SEARCH_RUNNING) != 0) {
    reinvert_and_recompute();
    if (status_code != STATUS_OK) return;
  }
  const int32_t rows = leave_out_cuts ? std::max(0, nrow - std::max(0, cut_row_count)) : nrow;
  solution_values(rows, x, slack, dual, reduced_cost);
}

// ---------------------------------------------------------------------------
// KLGETINF

// The four counts and lists, filled as positions are tested.
class InfeasibilityLists {
 public:
  InfeasibilityLists(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                     int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list, int32_t* dual_col_list)
      : counts_{primal_rows, primal_cols, dual_rows, dual_cols},
        lists_{primal_row_list, primal_col_list, dual_row_list, dual_col_list} {
    for (int32_t* c : counts_)
      if (c != nullptr) *c = 0;
  }
  enum Kind { kPrimalRow = 0, kPrimalColumn = 1, kDualRow = 2, kDualColumn = 3 };
  // index: 1-based row or column number.
  void add(Kind kind, int32_t index) {
    const int32_t k = tallies_[kind]++;
    if (counts_[kind] != nullptr) *counts_[kind] = tallies_[kind];
    if (lists_[kind] != nullptr) lists_[kind][k] = index - icv(ic::IFDBG);
  }

 private:
  int32_t* counts_[4];
  int32_t* lists_[4];
  int32_t tallies_[4] = {0, 0, 0, 0};
};

bool outside(double value, double low, double up, double tolerance) {
  return value < low - tolerance || value > up + tolerance;
}

// A non-basic, non-fixed variable whose reduced cost d (optimiser's
// orientation: a minimisation of sense_factor x objective) would improve
// the objective by leaving its bound.
bool dual_infeasible(uint32_t status_word, double d, double tolerance) {
  if ((status_word & (PS_BASIC | PS_FIXED)) != 0) return false;
  if ((status_word & PS_NONBASIC_BETWEEN) != 0) return std::fabs(d) > tolerance;
  if ((status_word & PS_AT_UPPER) != 0) return d > tolerance;
  return d < -tolerance;
}

void infeasibilities_from_file(InfeasibilityLists& lists, int32_t form) {
  SolutionFileReader file;
  if (!file.open(expected_file_rows(), expected_file_columns())) return;
  const double ztolze = dcv(dc::ZTOLZE);
  const double ztoldj = dcv(dc::ZTOLDJ);
  SolutionFileRecord record;
  for (int32_t i = 1; i <= file.rows(); ++i) {
    if (!file.next(record)) return;
    uint32_t word = static_cast<uint32_t>(record.status_word);
    const bool g_row = (record.type_word & ROW_G) != 0;
    if ((word & PS_FREE) == 0) {
      const double activity = g_row ? record.lower + record.value : record.upper - record.value;
      const bool infeasible = form == FORM_INTERNAL ? (word & RS_OUTSIDE_BOUNDS) != 0
                                                    : outside(activity, record.lower, record.upper, ztolze);
      if (infeasible) lists.add(InfeasibilityLists::kPrimalRow, i);
    }
    // The writer records a G row's slack without its at-upper bit.
    if (g_row) word ^= PS_AT_UPPER;
    if (dual_infeasible(word, record.dual, ztoldj)) lists.add(InfeasibilityLists::kDualRow, i);
  }
  for (int32_t k = 1; k <= file.columns(); ++k) {
    if (!file.next(record)) return;
    const uint32_t word = static_cast<uint32_t>(record.status_word);
    const bool infeasible = form == FORM_INTERNAL ? (word & RS_OUTSIDE_BOUNDS) != 0
                                                  : outside(record.value, record.lower, record.upper, ztolze);
    if (infeasible) lists.add(InfeasibilityLists::kPrimalColumn, k);
    if (dual_infeasible(word, record.dual, ztoldj)) lists.add(InfeasibilityLists::kDualColumn, k);
  }
}

// Values and reduced costs of every position for the memory path, without
// disturbing the optimiser's own arrays: basic values from the factor, duals
// from the basic costs, reduced costs by column products.
bool current_values(std::vector<double>& value, std::vector<double>& d) {
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> stored_d = real_array(ARR_REDUCED_COSTS);
  value.assign(static_cast<size_t>(nseq) + 1, 0.0);
  d.assign(static_cast<size_t>(nseq) + 1, 0.0);
  for (int32_t p = 1; p <= nseq; ++p) {
    value[p] = x[p];
    d[p] = stored_d[p];
  }
  if ((problem_flags & PF_NO_BASIS) != 0) return true;
  if ((problem_flags & PF_FACTOR_VALID) == 0) {
    const int32_t quiet = icv(ic::IQUIET);
    icv(ic::IQUIET) = 1;
    invert_basis(InvertReason::kRecompute);
    icv(ic::IQUIET) = quiet;
    if ((problem_flags & PF_FACTOR_VALID) == 0) return false;
  }
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> basic_values = real_array(ARR_BASIC_VALUES);
  for (int32_t k = 1; k <= nrow; ++k) value[header[k]] = basic_values[k];

  set_basic_costs();
  basis_btran_work_vector();
  OneBased<double> y = work_vector();
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const bool permuted = factor.factor_permuted != 0 && index;
  for (int32_t i = 1; i <= nrow; ++i) d[i] = y[permuted ? index[i] : i];
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    double dj = sense_factor * cost[j];
    for (int32_t k = start[j]; k < start[j + 1]; ++k) dj += d[elem_row[k]] * elem_value[k];
    d[j] = dj;
  }
  clear_work_vector();
  factor.work_vector_state = WV_ZERO;
  return true;
}

// The bound and dual tests of every position on its value and reduced cost.
void test_positions(InfeasibilityLists& lists, int32_t form, const std::vector<double>& value,
                    const std::vector<double>& d) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const double ztolze = dcv(dc::ZTOLZE);
  const double ztoldj = dcv(dc::ZTOLDJ);
  const double f = objective_unscale();
  const bool plain = form == FORM_PLAIN;
  // In the caller's terms a stored row value is divided by its factor and a
  // column value multiplied by it; infinite bounds stay infinite.
  const auto caller_bound = [](double bound, double factor) {
    return std::fabs(bound) >= kInfiniteBound ? bound : bound * factor;
  };
  for (int32_t i = 1; i <= nrow; ++i) {
    const uint32_t s = static_cast<uint32_t>(status[i]);
    const int32_t e = exponent_of(i);
    const double to_caller = plain ? power_of(2 * kScaleBias - e) : 1.0;
    if ((s & PS_FREE) == 0 &&
        outside(value[i] * to_caller, caller_bound(lower[i], to_caller), caller_bound(upper[i], to_caller), ztolze))
      lists.add(InfeasibilityLists::kPrimalRow, i);
    const double di = plain ? d[i] * power_of(e) * f : d[i];
    if (dual_infeasible(s, di, ztoldj)) lists.add(InfeasibilityLists::kDualRow, i);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t s = static_cast<uint32_t>(status[j]);
    const int32_t e = exponent_of(j);
    const double to_caller = plain ? power_of(e) : 1.0;
    const int32_t k = j - store.first_col + 1;
    if (outside(value[j] * to_caller, caller_bound(lower[j], to_caller), caller_bound(upper[j], to_caller), ztolze))
      lists.add(InfeasibilityLists::kPrimalColumn, k);
    const double dj = plain ? d[j] * power_of(2 * kScaleBias - e) * f : d[j];
    if (dual_infeasible(s, dj, ztoldj)) lists.add(InfeasibilityLists::kDualColumn, k);
  }
}

void infeasibilities_from_memory(InfeasibilityLists& lists, int32_t form) {
  std::vector<double> value;
  std::vector<double> d;
  if (presolved()) {
    // Postsolve leaves the original values and reduced costs in place.
    read_original_solution([&]() {
      OneBased<double> x = real_array(ARR_X);
      OneBased<double> reduced = real_array(ARR_REDUCED_COSTS);
      value.assign(static_cast<size_t>(nseq) + 1, 0.0);
      d.assign(static_cast<size_t>(nseq) + 1, 0.0);
      for (int32_t k = 1; k <= nseq; ++k) {
        value[k] = x[k];
        d[k] = reduced[k];
      }
      test_positions(lists, form, value, d);
    });
    return;
  }
  if (!current_values(value, d)) return;
  test_positions(lists, form, value, d);
}

}  // namespace

void get_solution(double* x, double* slack, double* dual, double* reduced_cost) {
  begin_body();
  if (!require_problem()) return;
  const int32_t ifmem = icv(ic::IFMEM);
  const bool memory = (ifmem & (kIfmemInOptimiserCall | kIfmemLeaveOutCuts)) != 0;
  if (!memory) {
    solution_from_file(x, slack, dual, reduced_cost);
    return;
  }
  if (!solution_current()) {
    report_not_current();
    return;
  }
  solution_from_memory(x, slack, dual, reduced_cost);
}

void get_infeasibilities(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                         int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list,
                         int32_t* dual_col_list, int32_t form) {
  begin_body();
  if (!require_problem()) return;
  const bool memory = (icv(ic::IFMEM) & kIfmemInOptimiserCall) != 0;
  if (memory && !solution_current()) {
    report_not_current();
    return;
  }
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  InfeasibilityLists lists(primal_rows, primal_cols, dual_rows, dual_cols, primal_row_list, primal_col_list,
                           dual_row_list, dual_col_list);
  if (memory) {
    infeasibilities_from_memory(lists, form);
  } else {
    infeasibilities_from_file(lists, form);
  }
}

void get_iis(int32_t* column_count, int32_t* row_count, int32_t* column_list, int32_t* row_list) {
  begin_body();
  if (!require_problem()) return;
  if (column_count == nullptr || row_count == nullptr) {
    report_error(MSG_NULL_ARGUMENT, column_count == nullptr ? 1 : 2, routine::kGetiis);
    return;
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const auto marked = [&](int32_t p) { return (static_cast<uint32_t>(status[p]) & PS_PRESOLVE_TRACE) != 0; };
  int32_t rows = 0;
  int32_t columns = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (!marked(i)) continue;
    if (row_list != nullptr) row_list[rows] = row_to_caller(i);
    ++rows;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (!marked(j)) continue;
    if (column_list != nullptr) column_list[columns] = col_to_caller(j);
    ++columns;
  }
  *row_count = rows;
  *column_count = columns;
}

}  // namespace kl
