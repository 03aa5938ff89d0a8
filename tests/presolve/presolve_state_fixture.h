// A small problem loaded through the exports and put into the working state a
// presolve pass reads: unscaled, working rhs = rhs, slacks basic, columns at
// lower, the row copy built, the record stack empty.
#ifndef KLSOL_TESTS_PRESOLVE_PRESOLVE_STATE_FIXTURE_H
#define KLSOL_TESTS_PRESOLVE_PRESOLVE_STATE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "klsol32.h"
#include "presolve/activity.h"
#include "presolve/record_stack.h"
#include "problem/array_problem.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "support/library_session.h"

namespace kltest {

// The row copy with (column, element index) entries in ascending column
// order, each row followed by `spare` slots, the first holding the end
// marker 0. Rows that are free and columns that are fixed are left out.
inline void build_row_copy_for_test(int32_t spare) {
  using namespace kl;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  auto live_row = [&](int32_t i) { return i >= 1 && i <= nrow && (status[i] & PS_FREE) == 0; };
  std::vector<int32_t> count(static_cast<size_t>(nrow) + 2, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & PS_FIXED) != 0) continue;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
      if (live_row(elem_row[k])) ++count[elem_row[k]];
  }
  PresolveRowCopy& copy = presolve_row_copy;
  copy.start.assign(static_cast<size_t>(nrow) + 2, 0);
  copy.start[1] = 1;
  for (int32_t i = 1; i <= nrow; ++i) copy.start[i + 1] = copy.start[i] + count[i] + spare;
  copy.column.assign(static_cast<size_t>(copy.start[nrow + 1]) + 1, 0);
  copy.element.assign(copy.column.size(), 0);
  std::vector<int32_t> next(copy.start.begin(), copy.start.end());
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & PS_FIXED) != 0) continue;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      if (!live_row(i)) continue;
      copy.column[next[i]] = j;
      copy.element[next[i]] = k;
      ++next[i];
    }
  }
}

// Working bounds of the columns (clipped to +-1e8) and the rows' activity
// ranges with their infinite-term counts, as the activity stage leaves them.
inline void compute_activities_for_test() {
  using namespace kl;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> value = real_array(ARR_ELEM_VALUE);
  OneBased<double> wu = real_array(ARR_WORK_UPPER);
  OneBased<double> wl = real_array(ARR_WORK_LOWER);
  PresolveActivityCounts& a = presolve_activity;
  for (auto* v : {&a.max_infinite, &a.min_infinite, &a.positive, &a.negative}) v->assign(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t i = 1; i <= nrow; ++i) wu[i] = wl[i] = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double u = real_array(ARR_UPPER)[j];
    const double l = real_array(ARR_LOWER)[j];
    const bool u_inf = u >= kPresolveInfinity;
    const bool l_inf = l <= -kPresolveInfinity;
    wu[j] = u_inf ? kPresolveInfinity : u;
    wl[j] = l_inf ? -kPresolveInfinity : l;
    if ((status[j] & PS_FIXED) != 0) continue;
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      const double e = value[k];
      const bool max_by_upper = e > 0.0;
      ++(max_by_upper ? a.positive : a.negative)[static_cast<size_t>(i)];
      if (max_by_upper ? u_inf : l_inf) ++a.max_infinite[static_cast<size_t>(i)];
      else wu[i] += e * (max_by_upper ? u : l);
      if (max_by_upper ? l_inf : u_inf) ++a.min_infinite[static_cast<size_t>(i)];
      else wl[i] += e * (max_by_upper ? l : u);
    }
  }
}

class PresolveStateTest : public LibrarySession {
 protected:
  // Loads the problem and prepares the working state; spare as above.
  void load(const ArrayProblem& p, int32_t spare = 0) {
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load(), 0);
    using namespace kl;
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t i = 1; i <= nrow; ++i) {
      real_array(ARR_WORK_RHS)[i] = real_array(ARR_RHS)[i];
      status[i] |= PS_BASIC;
    }
    for (int32_t j = store.first_col; j <= nseq; ++j)
      status[j] &= ~static_cast<int32_t>(PS_BASIC | PS_AT_UPPER);
    build_row_copy_for_test(spare);
    clear_presolve_stack();
  }
  // Position of structural column c (from 0) and of row r (from 0).
  static int32_t col(int32_t c) { return kl::store.first_col + c; }
  static int32_t row(int32_t r) { return r + 1; }
  static int32_t status(int32_t p) { return kl::int_array(kl::ARR_POS_STATUS)[p]; }
  static int32_t row_type(int32_t i) { return kl::int_array(kl::ARR_ROW_TYPE)[i] & kl::ROW_TYPE_MASK; }
  static double lower(int32_t p) { return kl::real_array(kl::ARR_LOWER)[p]; }
  static double upper(int32_t p) { return kl::real_array(kl::ARR_UPPER)[p]; }
  static double work_rhs(int32_t i) { return kl::real_array(kl::ARR_WORK_RHS)[i]; }
  // The record on top of the stack, popped: ints and reals in push order.
  static kl::PresolveRecord pop_record(int32_t n_ints, int32_t n_reals) {
    kl::PresolveRecord r;
    r.ints.resize(static_cast<size_t>(n_ints));
    r.reals.resize(static_cast<size_t>(n_reals));
    for (int32_t k = n_ints - 1; k >= 0; --k) r.ints[static_cast<size_t>(k)] = kl::pop_presolve_int();
    for (int32_t k = n_reals - 1; k >= 0; --k) r.reals[static_cast<size_t>(k)] = kl::pop_presolve_real();
    return r;
  }
};

}  // namespace kltest

#endif
