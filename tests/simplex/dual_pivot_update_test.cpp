// The dual pivot update: dual iterations on random problems whose updated
// basic values, reduced costs, steepest-edge weights and heap must agree
// with values recomputed from the new factor (both pricing modes, with and
// without the dual's renumbered factor, both update forms); the degenerate
// step; the heap after the last infeasible row; the phase-1 set and its
// incremental values; bound flips of a column held at a value and their
// withdrawal with a rejected row; the factor of the dual loop after every
// pivot in both update forms.
#include "simplex/dual_pivot_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "factor/hypersparse.h"
#include "klsol32.h"
#include "simplex/basic_values.h"
#include "simplex/dual_step_fixture.h"
#include "simplex/kernel.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;

class DualPivotUpdate : public kltest::DualStepTest {
 protected:
  void TearDown() override {
    icv(ic::IFFTUP) = 1;
    DualStepTest::TearDown();
  }

  // A random sparse problem and basis; nonbasic columns at either bound of
  // boxes of several sizes (some unbounded above), reduced costs of the
  // dual-feasible sign from the working costs, basic values from a random
  // right-hand side, and the infeasibility heap.
  void set_up_random(uint32_t seed, int32_t m, int32_t n, int32_t permuted, int32_t mode) {
    std::mt19937 rng(seed);
    const std::vector<kltest::Column> columns = kltest::random_columns(m, n, 3, rng);
    const std::vector<int32_t> basic = kltest::random_basis(m, n, m / 2, rng);
    ASSERT_NO_FATAL_FAILURE(build_dual(m, columns, basic, permuted, mode));
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> cost = real_array(ARR_WORKING_COSTS);
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> kind(0, 4);
    const double uppers[] = {0.05, 0.5, 10.0, kInfinity, 10.0};
    std::vector<double> target(static_cast<size_t>(nseq) + 1, 0.0);
    for (int32_t p = 1; p <= nseq; ++p) {
      cost[p] = 0.0;
      if ((status[p] & PS_BASIC) != 0) {
        // Basic slacks cost nothing, as in a dual run: beyond the reduced
        // factor their duals are taken as zero.
        if (p >= store.first_col) cost[p] = unit(rng) - 0.5;
        continue;
      }
      if (p < store.first_col) {
        target[p] = 0.1 + unit(rng);
        continue;
      }
      const int k = kind(rng);
      set_bounds(p, 0.0, uppers[k]);
      const bool up = k == 4;
      if (up) status[p] |= PS_AT_UPPER;
      target[p] = up ? -(0.1 + unit(rng)) : 0.1 + unit(rng);
    }
    for (int32_t i = 1; i <= m; ++i) real_array(ARR_BASIC_UPPER)[i] = real_array(ARR_UPPER)[int_array(ARR_BASIS_HEADER)[i]];
    recompute_reduced_costs();
    for (int32_t p = 1; p <= nseq; ++p)
      if ((status[p] & PS_BASIC) == 0) cost[p] = target[p] - d[p];
    recompute_reduced_costs();
    for (int32_t i = 1; i <= m; ++i) real_array(ARR_WORK_RHS)[i] = 4.0 * unit(rng) - 2.0;
    recompute_basic_values();
    build_infeasibility_heap();
    if (mode == kDualPricingSteepestEdge) {
      // Exact steepest-edge weights to start from.
      for (int32_t k = 1; k <= factor.factor_dimension; ++k) real_array(ARR_ROW_WEIGHTS)[k] = squared_norm_of_row(k);
      build_infeasibility_heap();
    }
  }

  static double squared_norm_of_row(int32_t k) {
    const std::vector<double> rho = row_of_inverse(k);
    double sum = 0.0;
    for (int32_t i = 1; i <= nrow; ++i) sum += rho[i] * rho[i];
    return sum;
  }

  static void set_bounds(int32_t p, double lower, double upper) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    real_array(ARR_LOWER)[p] = real_array(ARR_WORK_LOWER)[p] = lower;
    real_array(ARR_UPPER)[p] = real_array(ARR_WORK_UPPER)[p] = upper;
    if (upper >= kInfinity)
      status[p] &= ~PS_FINITE_UPPER;
    else
      status[p] |= PS_FINITE_UPPER;
  }

  static void recompute_basic_values() {
    compute_basic_values();
    clear_work_vector();
    factor.work_vector_count = 0;
    factor.work_vector_state = WV_ZERO;
  }

  // One dual iteration as the loop makes it: the leaving row from the heap,
  // the ratio test, the flips, the transformed column and its fresh reduced
  // cost, the dual step, the update, the factor update and the status bits.
  // Returns false when the row offered no pivot (it is then skipped).
  bool iterate() {
    pop_leaving_row();
    if (leaving_row == 0) return false;
    int32_t trouble = 0;
    bound_flip_ratio_test(&trouble);
    if (trouble != 0 || entering_column == 0) {
      skip_leaving_row();
      clear_pivot_row();
      return false;
    }
    apply_bound_flips();
    const int32_t q = entering_column;
    const bool beyond = leaving_row > factor.factor_dimension;
    const int32_t leaving_factor_row = beyond ? int_array(ARR_FACTOR_ROWS)[leaving_row] : 0;
    const double beyond_entry = beyond ? pivot_row_values()[leaving_row] : 0.0;
    unpack_column(q);
    if (beyond) {
      const int32_t moved = int_array(ARR_FACTOR_INDEX)[leaving_factor_row];
      if (moved != leaving_row && dual_pricing_mode == kDualPricingSteepestEdge) {
        pivot_row_values()[leaving_row] = 0.0;
        pivot_row_values()[moved] = beyond_entry;
      }
      leaving_row = moved;
    }
    OneBased<double> w = work_vector();
    OneBased<int32_t> list = work_list();
    const double drop = dcv(dc::ZTETA);
    if (icv(ic::IFFTUP) != 0) {
      solve_with_factor_forward(w, list, factor.work_vector_count);
      if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
      const int32_t appended = append_eta_column();
      EXPECT_EQ(appended, 0);
      if (entering_sign == 1) negate_work_vector();
      solve_with_factor_backward(w, list, factor.work_vector_count);
    } else {
      // The dense solve leaves the unpacked column's list behind.
      eta_backward_pass();
      sparsify_work_vector(drop);
      if (entering_sign == 1) negate_work_vector();
    }
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
    const double a_r = w[leaving_row];
    pivot_value = entering_sign == 1 ? -a_r : a_r;
    OneBased<double> cost = real_array(ARR_WORKING_COSTS);
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    double rate = entering_sign == 1 ? -cost[q] : cost[q];
    for (int32_t n = 1; n <= factor.work_vector_count; ++n) rate -= w[list[n]] * cost[header[list[n]]];
    entering_objective_rate = rate;
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    if (leaving_direction == kLeaveAtLower) {
      dual_step = -(sense_factor * rate) / a_r;
      d[leaving_variable] = dual_step;
    } else {
      dual_step = sense_factor * rate / a_r;
      d[leaving_variable] = -dual_step;
    }
    const bool product_form = icv(ic::IFFTUP) == 0;
    if (product_form) {
      // The product-form eta is the column of the new basis: B^-1 a_q itself,
      // not the column negated for a decreasing entering variable.
      if (entering_sign == 1) negate_work_vector();
      const int32_t stored = store_pivot_eta();
      EXPECT_EQ(stored, 0);
      if (entering_sign == 1) negate_work_vector();
    }
    update_after_dual_pivot();
    const int32_t updated = product_form ? UPDATE_DONE : update_factor();
    EXPECT_EQ(updated, UPDATE_DONE);
    reset_leaving_flags();
    return true;
  }

  // The heap holds exactly the infeasible unmarked rows, with their keys.
  static void expect_heap_consistent() {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<int32_t> slot = int_array(ARR_INFEAS_HEAP_POS);
    OneBased<double> key = real_array(ARR_INFEAS_HEAP_VALUE);
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    OneBased<double> values = real_array(ARR_BASIC_VALUES);
    int32_t infeasible = 0;
    for (int32_t i = 1; i <= nrow; ++i) {
      const double e = basic_infeasibility(values[i], real_array(ARR_LOWER)[header[i]], real_array(ARR_BASIC_UPPER)[i]);
      if (e == 0.0 || (status[header[i]] & PS_MARK) != 0) {
        EXPECT_EQ(slot[i], 0) << "feasible row " << i << " in the heap";
        continue;
      }
      ++infeasible;
      ASSERT_NE(slot[i], 0) << "infeasible row " << i << " missing";
      EXPECT_NEAR(key[slot[i]], infeasibility_key(i, e), 1e-9 * (1.0 + key[slot[i]])) << "row " << i;
    }
    EXPECT_EQ(ninf, infeasible);
  }
};

TEST_F(DualPivotUpdate, IncrementalValuesMatchRecomputation) {
  struct Setting {
    int32_t permuted;
    int32_t mode;
    int32_t ifftup;
  };
  const Setting settings[] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}, {1, 0, 0}, {1, 1, 0}};
  int64_t flips_seen = 0;
  for (const Setting& s : settings) {
    for (uint32_t seed : {11u, 12u, 13u}) {
      SCOPED_TRACE("permuted " + std::to_string(s.permuted) + " mode " + std::to_string(s.mode) + " IFFTUP " +
                   std::to_string(s.ifftup) + " seed " + std::to_string(seed));
      icv(ic::IFFTUP) = s.ifftup;
      ASSERT_NO_FATAL_FAILURE(set_up_random(seed, 30, 60, s.permuted, s.mode));
      dual_update_stats = DualUpdateStats{};
      int32_t pivots = 0;
      for (int32_t attempt = 0; attempt < 40 && pivots < 12 && ninf > 0; ++attempt) {
        if (!iterate()) continue;
        ++pivots;
        OneBased<int32_t> status = int_array(ARR_POS_STATUS);
        const std::vector<double> values(real_array(ARR_BASIC_VALUES).data(),
                                         real_array(ARR_BASIC_VALUES).data() + nrow);
        const std::vector<double> reduced(real_array(ARR_REDUCED_COSTS).data(),
                                          real_array(ARR_REDUCED_COSTS).data() + nseq);
        ASSERT_NO_FATAL_FAILURE(expect_heap_consistent());
        for (int32_t k = 1; k <= factor.factor_dimension; ++k) {
          const double w = real_array(ARR_ROW_WEIGHTS)[k];
          if (s.mode == kDualPricingSteepestEdge) {
            const double exact = squared_norm_of_row(k);
            ASSERT_NEAR(w, exact, 1e-8 * exact) << "weight of row " << k << " after pivot " << pivots;
          } else {
            ASSERT_GE(w, 1.0) << "weight of row " << k;
          }
        }
        recompute_basic_values();
        for (int32_t i = 1; i <= nrow; ++i)
          ASSERT_NEAR(values[i - 1], real_array(ARR_BASIC_VALUES)[i], 1e-9 * (1.0 + std::fabs(values[i - 1])))
              << "basic value " << i << " after pivot " << pivots;
        recompute_reduced_costs();
        for (int32_t p = 1; p <= nseq; ++p) {
          if ((status[p] & PS_BASIC) != 0) continue;
          ASSERT_NEAR(reduced[p - 1], real_array(ARR_REDUCED_COSTS)[p], 1e-9 * (1.0 + std::fabs(reduced[p - 1])))
              << "reduced cost " << p << " after pivot " << pivots;
        }
        // Every few pivots the factor is rebuilt, as the driver does; the
        // weights follow their basic variables into the new numbering.
        if (pivots % 4 == 0) {
          factor.factor_permuted = s.permuted;
          invert_basis(InvertReason::kUpdateLimit);
          ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
          recompute_basic_values();
          if (s.mode == kDualPricingSteepestEdge) {
            for (int32_t k = 1; k <= factor.factor_dimension; ++k) {
              const double exact = squared_norm_of_row(k);
              ASSERT_NEAR(real_array(ARR_ROW_WEIGHTS)[k], exact, 1e-8 * exact) << "weight of row " << k << " after invert";
            }
          }
        }
        // The recomputed values carry on; the heap follows them.
        build_infeasibility_heap();
      }
      EXPECT_GE(pivots, 5);
      flips_seen += dual_update_stats.flips_applied;
    }
  }
  EXPECT_GT(flips_seen, 0);
}

// A zero dual step changes no reduced cost but still clears the pivot row.
TEST_F(DualPivotUpdate, DegenerateStepLeavesReducedCostsAndClearsThePivotRow) {
  for (int32_t mode : {kDualPricingDevex, kDualPricingSteepestEdge}) {
    SCOPED_TRACE(mode);
    ASSERT_NO_FATAL_FAILURE(set_up_random(21, 20, 40, 1, mode));
    pop_leaving_row();
    ASSERT_NE(leaving_row, 0);
    int32_t trouble = 0;
    bound_flip_ratio_test(&trouble);
    ASSERT_EQ(trouble, 0);
    ASSERT_NE(entering_column, 0);
    bound_flips.count = 0;
    unpack_column(entering_column);
    basis_solve_work_vector();
    factor.work_vector_state = WV_CLEAR_ALL;
    if (entering_sign == 1) {
      sparsify_work_vector(dcv(dc::ZTETA));
      negate_work_vector();
    }
    sparsify_work_vector(dcv(dc::ZTETA));
    pivot_value = work_vector()[leaving_row] * (entering_sign == 1 ? -1.0 : 1.0);
    entering_objective_rate = 0.0;
    dual_step = 0.0;
    const std::vector<double> before(real_array(ARR_REDUCED_COSTS).data(), real_array(ARR_REDUCED_COSTS).data() + nseq);
    update_after_dual_pivot();
    for (int32_t p = 1; p <= nseq; ++p) {
      EXPECT_EQ(real_array(ARR_REDUCED_COSTS)[p], before[p - 1]) << "position " << p;
      EXPECT_EQ(pivot_row_values()[p], 0.0) << "position " << p;
    }
    EXPECT_EQ(dual_pivot_row.count, 0);
  }
}

// Row 1 below its bound is the only infeasible row; the entering column
// brings it to its bound and itself stays inside its box.
TEST_F(DualPivotUpdate, LastInfeasibleRowLeavesAnEmptyHeap) {
  ASSERT_NO_FATAL_FAILURE(build_dual(2, {{{1, -1.0}, {2, -1.0}}}));
  const int32_t q = kltest::column_position(0);
  real_array(ARR_REDUCED_COSTS)[q] = 2.0;
  real_array(ARR_WORKING_COSTS)[q] = 2.0;
  real_array(ARR_BASIC_VALUES)[1] = -5.0;
  real_array(ARR_BASIC_VALUES)[2] = 1.0;
  build_infeasibility_heap();
  ASSERT_EQ(ninf, 1);
  ASSERT_TRUE(iterate());
  EXPECT_EQ(ninf, 0);
  EXPECT_EQ(heap_top(), 0);
  EXPECT_EQ(int_array(ARR_BASIS_HEADER)[1], q);
  EXPECT_NEAR(real_array(ARR_BASIC_VALUES)[1], 5.0, 1e-12);
  EXPECT_NEAR(real_array(ARR_BASIC_VALUES)[2], 6.0, 1e-12);
  // The dual objective rose by the infeasibility times the dual step.
  EXPECT_NEAR(objval, 10.0, 1e-12);
}

// Phase 1 by hand: a pivot row over nonbasic columns that are members of
// the phase-1 set (reduced cost -0.5 at their lower bound, alpha -1), a
// dual step of 0.6 that makes them dual feasible, and row 2 infeasible.
class DualPhase1Update : public DualPivotUpdate {
 protected:
  // members columns 2..members+1 are in the set; column 1 enters.
  void set_up(int32_t members, bool entering_is_member) {
    std::vector<kltest::Column> columns(static_cast<size_t>(members) + 1, kltest::Column{{2, 1.0}});
    columns[0] = {{1, 1.0}};
    ASSERT_NO_FATAL_FAILURE(build_dual(2, columns));
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    OneBased<int32_t> plist = pivot_row_list();
    q_ = kltest::column_position(0);
    nnegdj = members;
    for (int32_t k = 1; k <= members; ++k) {
      const int32_t j = kltest::column_position(k);
      status[j] |= PS_DUAL_MARK;
      d[j] = -0.5;
      pivot_row_values()[j] = -1.0;
      plist[k] = j;
    }
    dual_pivot_row.count = members;
    if (entering_is_member) {
      status[q_] |= PS_DUAL_MARK;
      ++nnegdj;
    }
    suminf = 0.5 * nnegdj;
    entering_column = q_;
    entering_sign = 0;
    entering_reduced_cost = 0.0;
    entering_weight = 1.0;
    leaving_row = 1;
    leaving_variable = 1;
    leaving_direction = kLeaveAtLower;
    dual_step = 0.6;
    pivot_value = -1.0;
    entering_objective_rate = 0.0;
    real_array(ARR_BASIC_VALUES)[1] = -1.0;
    real_array(ARR_BASIC_VALUES)[2] = -3.0;
    real_array(ARR_PHASE1_VALUES)[1] = 2.0;
    kltest::load_work_vector({-1.0, 0.0});
  }
  int32_t q_ = 0;
};

TEST_F(DualPhase1Update, LeavingTheSetEndsPhase1WithAHeap) {
  struct Case {
    const char* name;
    int32_t members;
    bool entering_is_member;
  };
  for (const Case& c : {Case{"the other members become feasible", 2, false},
                        Case{"the entering column was the last member", 0, true}}) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(set_up(c.members, c.entering_is_member));
    update_after_dual_pivot();
    EXPECT_EQ(nnegdj, 0);
    EXPECT_EQ(ninf, 1);
    EXPECT_EQ(heap_top(), 2);
    EXPECT_EQ(phase1_flip_pairs.count, c.members);
    for (int32_t n = 0; n < phase1_flip_pairs.count; ++n) EXPECT_EQ(phase1_flip_pairs.sign[n], -1);
    for (int32_t k = 1; k <= c.members; ++k) {
      const int32_t j = kltest::column_position(k);
      EXPECT_EQ(int_array(ARR_POS_STATUS)[j] & PS_DUAL_MARK, 0);
      EXPECT_NEAR(real_array(ARR_REDUCED_COSTS)[j], 0.1, 1e-15);
    }
  }
}

// The phase-1 values stay current through a step whose flip pairs are few;
// more than 20 variables leaving the set force a recomputation.
TEST_F(DualPhase1Update, FlipPairsDecideTheIncrementalUpdate) {
  struct Case {
    int32_t members;
    int32_t current_after;
  };
  for (const Case& c : {Case{0, 1}, Case{kFlipPairLimit + 1, 0}}) {
    SCOPED_TRACE(c.members);
    ASSERT_NO_FATAL_FAILURE(set_up(c.members, false));
    // A member outside the pivot row stays, so phase 1 goes on.
    ++nnegdj;
    phase1_values_current = 1;
    update_after_dual_pivot();
    EXPECT_EQ(phase1_values_current, c.current_after);
    EXPECT_EQ(phase1_flip_pairs.count, std::min(c.members, kFlipPairLimit));
    if (c.current_after == 1) {
      // The entering column's auxiliary value: phase1[r] / a_r.
      EXPECT_EQ(real_array(ARR_PHASE1_VALUES)[1], -2.0);
    }
  }
}

// Column 1 held at 3 inside [0, 10] with reduced cost 0.5 flips to its
// upper bound: the basic values move by its column times (3 - 10) and
// objval by 7 x 0.5. A rejected row takes the flip back.
TEST_F(DualPivotUpdate, FlipOfAColumnHeldAtAValueAndItsWithdrawal) {
  for (int32_t permuted : {0, 1}) {
    SCOPED_TRACE(permuted);
    ASSERT_NO_FATAL_FAILURE(build_dual(3, {{{1, 2.0}, {3, -1.0}}}, {}, permuted));
    const int32_t j = kltest::column_position(0);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    status[j] |= PS_NONBASIC_BETWEEN;
    real_array(ARR_X)[j] = 3.0;
    real_array(ARR_REDUCED_COSTS)[j] = 0.5;
    recompute_basic_values();
    build_infeasibility_heap();
    OneBased<double> values = real_array(ARR_BASIC_VALUES);
    OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
    auto at = [&](int32_t row) { return permuted != 0 ? index[row] : row; };
    const std::vector<double> before = {values[at(1)], values[at(2)], values[at(3)]};
    bound_flips.count = 1;
    bound_flips.applied = 0;
    bound_flips.columns[1] = j;
    bound_flips.to_upper[1] = 1;
    objval = 0.0;
    apply_bound_flips();
    EXPECT_EQ(status[j] & (PS_AT_UPPER | PS_NONBASIC_BETWEEN), PS_AT_UPPER);
    EXPECT_NEAR(values[at(1)], before[0] - 14.0, 1e-12);
    EXPECT_NEAR(values[at(2)], before[1], 1e-12);
    EXPECT_NEAR(values[at(3)], before[2] + 7.0, 1e-12);
    EXPECT_NEAR(objval, 3.5, 1e-12);
    ASSERT_NO_FATAL_FAILURE(expect_heap_consistent());
    // Applying again does nothing: the flips are carried out once.
    apply_bound_flips();
    EXPECT_NEAR(values[at(1)], before[0] - 14.0, 1e-12);

    pop_leaving_row();
    ASSERT_NE(leaving_row, 0);
    const int32_t r = leaving_row;
    reject_leaving_row();
    EXPECT_EQ(status[j] & (PS_AT_UPPER | PS_NONBASIC_BETWEEN), PS_NONBASIC_BETWEEN);
    EXPECT_NEAR(values[at(1)], before[0], 1e-12);
    EXPECT_NEAR(values[at(3)], before[2], 1e-12);
    EXPECT_NEAR(objval, 0.0, 1e-12);
    EXPECT_EQ(bound_flips.count, 0);
    EXPECT_NE(status[int_array(ARR_BASIS_HEADER)[r]] & PS_MARK, 0);
    EXPECT_EQ(marks_exist, 1);
    EXPECT_EQ(int_array(ARR_INFEAS_HEAP_POS)[r], 0);
  }
}

// What the iteration callback saw of the dual's factor.
struct FactorWatch {
  int32_t checks = 0;
  int32_t decreasing_entries = 0;  // pivots whose entering variable decreased
  double worst = 0.0;              // largest |B x - b| over the checks
  std::mt19937 rng{7};
};
FactorWatch watch;

// After a dual pivot: the factor solves the basis of the header. Rows count
// by factor position (the dual renumbers them); beyond the reduced factor
// the basis is the identity of the basic slacks.
int32_t check_factor_of_basis() {
  if ((problem_flags & PF_FACTOR_VALID) == 0 || update_count == 0) return 0;
  ++watch.checks;
  if (entering_sign == 1) ++watch.decreasing_entries;
  const int32_t m = nrow;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  const auto at = [&](int32_t i) { return permuted ? index[i] : i; };
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<double> b(static_cast<size_t>(m) + 1, 0.0);
  OneBased<double> w = work_vector();
  for (int32_t k = 1; k <= m; ++k) w[k] = b[k] = value(watch.rng);
  factor.work_vector_state = WV_CLEAR_ALL;
  basis_solve_work_vector();
  std::vector<double> product(static_cast<size_t>(m) + 1, 0.0);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  for (int32_t p = 1; p <= m; ++p) {
    const int32_t j = header[p];
    if (j < store.first_col) {
      product[at(j)] += w[p];
      continue;
    }
    for (int32_t e = start[j]; e < start[j + 1]; ++e)
      product[at(int_array(ARR_ELEM_ROW)[e])] += real_array(ARR_ELEM_VALUE)[e] * w[p];
  }
  for (int32_t k = 1; k <= m; ++k) {
    watch.worst = std::max(watch.worst, std::fabs(product[k] - b[k]));
    w[k] = 0.0;
  }
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_ZERO;
  return 0;
}

// A maximisation over boxed columns: the columns start at their upper
// bounds, which overfill every row, so the dual brings them into the basis
// decreasing and holds their transformed columns negated. After every pivot
// the factor solves the new basis in both update forms: the product-form
// eta stores B^-1 a_q itself, not the negated column.
TEST(DualLoopFactor, SolvesTheBasisAfterEveryPivotInBothUpdateForms) {
  std::mt19937 rng(5);
  const int32_t m = 20;
  const int32_t n = 40;
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int32_t> row(0, m - 1);
  std::vector<int32_t> starts{0}, rows;
  std::vector<double> values, lower(n, 0.0), upper, cost;
  std::vector<double> full(static_cast<size_t>(m), 0.0);
  for (int32_t j = 0; j < n; ++j) {
    upper.push_back(1.0 + 3.0 * unit(rng));
    cost.push_back(1.0 + 2.0 * unit(rng));
    std::vector<char> used(static_cast<size_t>(m), 0);
    for (int k = 0; k < 4; ++k) {
      const int32_t i = row(rng);
      if (used[i] != 0) continue;
      used[i] = 1;
      const double a = 0.5 + 1.5 * unit(rng);
      rows.push_back(i);
      values.push_back(a);
      full[i] += a * upper.back();
    }
    starts.push_back(static_cast<int32_t>(rows.size()));
  }
  std::vector<double> rhs, ranges(static_cast<size_t>(m), 0.0);
  for (int32_t i = 0; i < m; ++i) rhs.push_back(0.3 * full[i]);
  const std::string types(static_cast<size_t>(m), 'L');

  kltest::TempDir dir;
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  double objectives[2] = {0.0, 0.0};
  for (const int32_t ifftup : {1, 0}) {
    SCOPED_TRACE("IFFTUP " + std::to_string(ifftup));
    ASSERT_EQ(KLLOADPROB(dir.file("boxed").c_str(), n, m, types.data(), rhs.data(), ranges.data(), cost.data(),
                         starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data()),
              0);
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFFTUP, ifftup);
    KLSETICV(KLIC_ITRLOG, 1);
    watch = FactorWatch{};
    KLDEFINEILENTRY(check_factor_of_basis);
    ASSERT_EQ(KLMAXIM("d"), 0);
    KLDEFINEILENTRY(nullptr);
    int32_t status = 0;
    KLGETIPV(KLIA_LPSTATUS, &status);
    EXPECT_EQ(status, 1);
    KLGETDPV(KLDA_OBJVAL, &objectives[ifftup]);
    EXPECT_GE(watch.checks, 10);
    EXPECT_GT(watch.decreasing_entries, 0);
    EXPECT_LT(watch.worst, 1e-9);
  }
  EXPECT_NEAR(objectives[0], objectives[1], 1e-9 * std::fabs(objectives[1]));
  KLFREEXO();
  KLDEFINEUOPENTRY(nullptr);
}

}  // namespace
