#include "simplex/crossover_dual_step.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/solves.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/dual_ratio_test.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

// Slacks that cannot enter: basic, fixed, marked, fixed by the search, or
// quadratic.
constexpr uint32_t kSlackNotCandidate = PS_QUADRATIC | PS_SEARCH_FIXED | PS_MARK | PS_FIXED | PS_BASIC;
// The pivot tolerance is raised by this factor for a candidate whose
// reduced cost is below kSmallCostMultiple ZTCOST.
constexpr double kRaisedPivotFactor = 50.0;
constexpr double kSmallCostMultiple = 25.0;

// Stamps by position: a position is listed in the current call when its
// stamp equals the counter. The array is this module's own, so no other
// user of scratch storage can leave the counter's value behind.
std::vector<int32_t> stamps;
int32_t stamp_counter = 0;

void next_stamp() {
  const size_t size = static_cast<size_t>(std::max(nseq, 0)) + 1;
  if (stamps.size() < size) stamps.resize(size, 0);
  if (stamp_counter == INT32_MAX) {
    std::fill(stamps.begin(), stamps.end(), 0);
    stamp_counter = 0;
  }
  ++stamp_counter;
}

// Reduced cost of the basic variable of the leaving row.
int32_t leaving_position() {
  if (leaving_variable > 0) return leaving_variable;
  return int_array(ARR_BASIS_HEADER)[leaving_row];
}

double pivot_tolerance(double dj) {
  const double zt_pivot = dcv(dc::ZTOLPV);
  return std::fabs(dj) < kSmallCostMultiple * dcv(dc::ZTCOST) ? kRaisedPivotFactor * zt_pivot : zt_pivot;
}

// alpha' and d' of candidate j: both negated at upper, and for a free
// variable whose alpha' would be positive. Returns true when turned.
bool orient(uint32_t st, double dj, double aj, double& d_side, double& a_side) {
  const bool turn = (st & PS_AT_UPPER) != 0 || ((st & PS_FREE) != 0 && aj > 0.0);
  d_side = turn ? -dj : dj;
  a_side = turn ? -aj : aj;
  return turn;
}

// Pivot row of mode 0: rho = +-e_r' B^-1, its nonbasic slacks, then rho
// times the rows of the row-wise copy.
void pivot_row_by_btran(OneBased<int32_t> row_first, OneBased<int32_t> row_last) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> wl = work_list();
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> cols = int_array(ARR_ROW_COPY_COL);
  OneBased<int32_t> rows_of = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(rows_of);
  const int32_t r = leaving_row;

  btran_unit_row(r, leaving_direction == kLeaveAtUpper ? -1.0 : 1.0);

  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = wl[n];
    const int32_t i = permuted ? rows_of[k] : k;
    if ((static_cast<uint32_t>(status[i]) & kSlackNotCandidate) != 0) continue;
    alpha[i] = w[k];
    plist[++dual_pivot_row.count] = i;
    stamps[i] = stamp_counter;
  }
  dual_pivot_row.slack_count = dual_pivot_row.count;
  const double zteta = dcv(dc::ZTETA);
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = wl[n];
    const double rho = w[k];
    if (std::fabs(rho) <= zteta) continue;
    const int32_t i = permuted ? rows_of[k] : k;
    for (int32_t e = row_first[i]; e <= row_last[i]; ++e) {
      const int32_t j = cols[e];
      if (stamps[j] == stamp_counter) {
        alpha[j] += rho * values[e];
        continue;
      }
      // A basic column's entry is zero in exact arithmetic; it never enters.
      if ((status[j] & PS_BASIC) != 0) continue;
      stamps[j] = stamp_counter;
      plist[++dual_pivot_row.count] = j;
      alpha[j] = rho * values[e];
    }
  }
}

// Pivot row of mode 1: row r of the matrix itself.
void pivot_row_of_matrix(OneBased<int32_t> row_first, OneBased<int32_t> row_last) {
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_ROW_COPY_VAL);
  OneBased<int32_t> cols = int_array(ARR_ROW_COPY_COL);
  const int32_t r = leaving_row;
  const double sign = leaving_direction == kLeaveAtUpper ? -1.0 : 1.0;
  for (int32_t e = row_first[r]; e <= row_last[r]; ++e) {
    const int32_t j = cols[e];
    if ((status[j] & PS_BASIC) != 0) continue;
    alpha[j] = sign * values[e];
    stamps[j] = stamp_counter;
    plist[++dual_pivot_row.count] = j;
  }
}

}  // namespace

void release_crossover_stamps() {
  std::vector<int32_t>().swap(stamps);
  stamp_counter = 0;
}

void select_dual_entering(int32_t row_mode, OneBased<int32_t> row_first, OneBased<int32_t> row_last) {
  clear_pivot_row();
  next_stamp();
  if (row_mode == CROSSOVER_ROW_OF_MATRIX)
    pivot_row_of_matrix(row_first, row_last);
  else
    pivot_row_by_btran(row_first, row_last);

  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const double zteta = dcv(dc::ZTETA);
  const double zt_cost = dcv(dc::ZTCOST);

  // First pass: the bound of the relaxed ratios; candidates whose tight
  // ratio lies beyond it can never be chosen and leave the list.
  double bound = kCrossoverFirstBound;
  int32_t n = 1;
  while (n <= dual_pivot_row.count) {
    const int32_t j = plist[n];
    const double aj = alpha[j];
    bool remove = false;
    if (std::fabs(aj) <= zteta) {
      remove = true;
    } else if (std::fabs(aj) > pivot_tolerance(d[j])) {
      double d_side;
      double a_side;
      orient(static_cast<uint32_t>(status[j]), d[j], aj, d_side, a_side);
      if (a_side >= 0.0) {
        remove = true;
      } else {
        const double a = -a_side;
        double relaxed = 0.0;
        double tight = -1.0;
        if (d_side > -zt_cost) {
          relaxed = std::max(0.0, (d_side + zt_cost) / a);
          tight = (d_side - zt_cost) / a;
        }
        bound = std::min(bound, relaxed);
        remove = tight > bound;
      }
    }
    if (remove) {
      alpha[j] = 0.0;
      plist[n] = plist[dual_pivot_row.count];
      --dual_pivot_row.count;
      continue;
    }
    ++n;
  }
  dual_pivot_row.slack_count = std::min(dual_pivot_row.slack_count, dual_pivot_row.count);

  const double d_r = d[leaving_position()];
  entering_column = 0;
  entering_sign = 0;
  if (std::fabs(d_r) <= bound) {
    entering_reduced_cost = 0.0;
    dual_step = std::fabs(d_r);
    return;
  }

  // Second pass: among the candidates within the widened bound, the
  // largest pivot.
  bound *= 1.0 + zt_cost;
  double best = 0.0;
  for (n = 1; n <= dual_pivot_row.count; ++n) {
    const int32_t j = plist[n];
    const double aj = alpha[j];
    if (!(std::fabs(aj) > pivot_tolerance(d[j]))) continue;
    const uint32_t st = static_cast<uint32_t>(status[j]);
    double d_side;
    double a_side;
    const bool turned = orient(st, d[j], aj, d_side, a_side);
    if (!(a_side < 0.0)) continue;
    const double a = -a_side;
    const double ratio = d_side >= 0.0 ? (d_side - zt_cost) / a : (d_side + zt_cost) / a;
    if (ratio > bound || !(a > best)) continue;
    best = a;
    entering_column = j;
    entering_sign = (st & PS_AT_UPPER) != 0 || turned ? 1 : 0;
  }

  if (entering_column == 0) {
    entering_reduced_cost = 0.0;
    dual_step = std::fabs(d_r);
    return;
  }
  const int32_t q = entering_column;
  const double dq = d[q];
  const double aq = alpha[q];
  entering_reduced_cost = dq;
  double step = dq >= -zt_cost ? -(dq - zt_cost) / aq : -(dq + zt_cost) / aq;
  if (step < zteta) step = 0.0;
  dual_step = step;
  entering_upper = real_array(ARR_UPPER)[q];
}

void update_duals_after_step() {
  OneBased<double> alpha = pivot_row_values();
  OneBased<int32_t> plist = pivot_row_list();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const double s = dual_step;
  const double zt_cost = dcv(dc::ZTCOST);
  for (int32_t n = 1; n <= dual_pivot_row.count; ++n) {
    const int32_t j = plist[n];
    double dj = d[j] + s * alpha[j];
    const int32_t st = status[j];
    if ((st & PS_FIXED) == 0) {
      if ((st & (PS_FREE | PS_AT_UPPER)) != 0) dj = std::min(dj, zt_cost);
      if ((st & PS_AT_UPPER) == 0) dj = std::max(dj, -zt_cost);
    }
    d[j] = dj;
  }
  double& d_r = d[leaving_position()];
  d_r += leaving_direction == kLeaveAtUpper ? -s : s;
}

}  // namespace kl
