// The crossover's dual step on constructed pivot rows (a row of the matrix
// itself): no candidate, the larger pivot among near ties, the raised pivot
// tolerance for small reduced costs, bounds and free variables; the move of
// the reduced costs with its clipping; and the pivot row through the basis
// inverse, whatever other users leave in the shared scratch array.
#include "simplex/crossover_dual_step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "simplex/dual_step_fixture.h"

namespace {

using namespace kl;

struct Candidate {
  double alpha;  // entry of the leaving row (direction 0: the pivot row)
  double d;
  int32_t bound = 0;  // 0 at lower, PS_AT_UPPER, or PS_FREE
};

class CrossoverDualStep : public kltest::DualStepTest {
 protected:
  // One row whose basic slack must have its reduced cost d_r driven to 0.
  void set_up(const std::vector<Candidate>& candidates, double d_r) {
    std::vector<kltest::Column> columns;
    for (const Candidate& c : candidates) columns.push_back({{1, c.alpha}});
    ASSERT_NO_FATAL_FAILURE(build_dual(1, columns));
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (size_t k = 0; k < candidates.size(); ++k) {
      const int32_t p = kltest::column_position(static_cast<int32_t>(k));
      status[p] |= candidates[k].bound;
      if (candidates[k].bound == PS_FREE) status[p] &= ~PS_BOTH_FINITE;
      real_array(ARR_REDUCED_COSTS)[p] = candidates[k].d;
    }
    real_array(ARR_REDUCED_COSTS)[1] = d_r;
    leaving_row = 1;
    leaving_variable = 1;
    leaving_direction = kLeaveAtLower;
    row_ends();
  }
  // First and last element of each row in the row-wise copy.
  void row_ends() {
    OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
    first_.assign(static_cast<size_t>(nrow), 0);
    last_.assign(static_cast<size_t>(nrow), 0);
    for (int32_t i = 1; i <= nrow; ++i) {
      first_[i - 1] = start[i];
      last_[i - 1] = start[i + 1] - 1;
    }
  }
  void select(int32_t row_mode) {
    select_dual_entering(row_mode, OneBased<int32_t>(first_.data()), OneBased<int32_t>(last_.data()));
  }
  std::vector<int32_t> first_;
  std::vector<int32_t> last_;
};

TEST_F(CrossoverDualStep, ChoosesTheEnteringColumnOfARow) {
  const double z = dcv(dc::ZTCOST);
  struct Case {
    const char* name;
    std::vector<Candidate> candidates;
    double d_r;
    int32_t entering;  // from 0, -1 none
    int32_t sign;
    double step;
  };
  const Case cases[] = {
      {"every entry has the wrong sign: no column, the step is |d_r|", {{1.0, 1.0}, {2.0, 0.5}}, -3.0, -1, 0, 3.0},
      {"d_r reached before any candidate", {{-1.0, 1.0}}, 0.5, -1, 0, 0.5},
      {"two near ties: the larger pivot enters", {{-1.0, 1.0}, {-2.0, 2.0}}, 5.0, 1, 0, 1.0 - z / 2.0},
      {"a small pivot with a small reduced cost is ignored", {{-1e-8, 1e-5}, {-1e-4, 1.0}}, 1e5, 1, 0, (1.0 - z) / 1e-4},
      {"the same pivot with a larger reduced cost competes", {{-1e-8, 3e-5}, {-1e-4, 1.0}}, 1e5, 0, 0,
       (3e-5 - z) / 1e-8},
      {"a column at its upper bound enters decreasing", {{1.0, -1.0, PS_AT_UPPER}}, 5.0, 0, 1, 1.0 - z},
      {"a free column with a positive entry enters decreasing", {{1.0, -1.0, PS_FREE}}, 5.0, 0, 1, 1.0 - z},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(set_up(c.candidates, c.d_r));
    select(CROSSOVER_ROW_OF_MATRIX);
    EXPECT_EQ(entering_column, c.entering < 0 ? 0 : kltest::column_position(c.entering));
    EXPECT_NEAR(dual_step, c.step, 1e-12 * (1.0 + c.step));
    if (c.entering < 0) {
      EXPECT_EQ(entering_reduced_cost, 0.0);
      continue;
    }
    EXPECT_EQ(entering_sign, c.sign);
    EXPECT_EQ(entering_reduced_cost, c.candidates[static_cast<size_t>(c.entering)].d);
  }
}

// d_j += step x alpha_j over the listed pivot row, kept on the dual-
// feasible side within ZTCOST unless fixed; d_r moves by the step.
TEST_F(CrossoverDualStep, MovesTheReducedCostsAlongTheRow) {
  const double z = dcv(dc::ZTCOST);
  const std::vector<Candidate> row = {
      {-1.0, 1.0}, {-2.0, 2.0}, {-1.0, 0.5, PS_FREE}, {3.0, -1.0, PS_AT_UPPER}, {-4.0, 0.0, PS_FIXED}};
  const double after[] = {0.25, 0.5, -z, z, -3.0};
  for (int32_t direction : {kLeaveAtLower, kLeaveAtUpper}) {
    SCOPED_TRACE(direction);
    ASSERT_NO_FATAL_FAILURE(set_up(row, 5.0));
    leaving_direction = direction;
    OneBased<int32_t> plist = pivot_row_list();
    for (size_t k = 0; k < row.size(); ++k) {
      const int32_t p = kltest::column_position(static_cast<int32_t>(k));
      plist[static_cast<int32_t>(k) + 1] = p;
      pivot_row_values()[p] = row[k].alpha;
    }
    dual_pivot_row.count = static_cast<int32_t>(row.size());
    dual_step = 0.75;
    update_duals_after_step();
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    for (size_t k = 0; k < row.size(); ++k)
      EXPECT_NEAR(d[kltest::column_position(static_cast<int32_t>(k))], after[k], 1e-15) << "column " << k;
    EXPECT_NEAR(d[1], direction == kLeaveAtLower ? 5.75 : 4.25, 1e-15);
  }
}

// Row mode 0 on a random basis: every listed entry is rho' a_j with
// rho = +e_r' B^-1, and every other nonbasic entry is zero; other users of
// the shared scratch array (id 38) leave whatever values they like in it.
TEST_F(CrossoverDualStep, PivotRowThroughTheBasisInverse) {
  std::mt19937 rng(31);
  const int32_t m = 25;
  const int32_t n = 50;
  const std::vector<kltest::Column> columns = kltest::random_columns(m, n, 3, rng);
  const std::vector<int32_t> basic = kltest::random_basis(m, n, 12, rng);
  ASSERT_NO_FATAL_FAILURE(build_dual(m, columns, basic, 0));
  row_ends();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  std::uniform_real_distribution<double> cost(0.0, 1.0);
  for (int32_t p = 1; p <= nseq; ++p) d[p] = (status[p] & PS_BASIC) != 0 ? 0.0 : cost(rng);
  int32_t with_entering = 0;
  for (int32_t r = 1; r <= nrow; ++r) {
    SCOPED_TRACE(r);
    OneBased<int32_t> scratch = int_array(ARR_SCALE_WORK);
    for (int32_t p = 1; p <= nseq; ++p) scratch[p] = 1 + (p + r) % 4;
    leaving_row = r;
    leaving_variable = int_array(ARR_BASIS_HEADER)[r];
    d[leaving_variable] = 10.0;
    leaving_direction = r % 2 == 0 ? kLeaveAtLower : kLeaveAtUpper;
    select(CROSSOVER_ROW_BY_BTRAN);
    d[leaving_variable] = 0.0;
    if (entering_column != 0) ++with_entering;
    const std::vector<double> rho = row_of_inverse(r);
    const double sign = leaving_direction == kLeaveAtLower ? 1.0 : -1.0;
    std::vector<char> listed(static_cast<size_t>(nseq) + 1, 0);
    OneBased<int32_t> plist = pivot_row_list();
    for (int32_t k = 1; k <= dual_pivot_row.count; ++k) listed[plist[k]] = 1;
    for (int32_t p = 1; p <= nseq; ++p) {
      if ((status[p] & PS_BASIC) != 0) continue;
      const double got = pivot_row_values()[p];
      if (listed[p] != 0) {
        const double expected = sign * times_column(rho, p);
        EXPECT_NEAR(got, expected, 1e-10 * (1.0 + std::fabs(expected))) << "position " << p;
      } else {
        EXPECT_EQ(got, 0.0) << "position " << p;
      }
    }
  }
  EXPECT_GT(with_entering, 0);
}

}  // namespace
