// Entity data of a presolved search problem: the state words compaction
// writes from the presolved bounds of integer-like columns.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "presolve/activity.h"
#include "presolve/entity_presolve.h"
#include "presolve/entity_reductions.h"
#include "presolve/presolve_state.h"
#include "presolve/round_work.h"
#include "presolve/presolve_driver.h"
#include "presolve/record_stack.h"
#include "presolve_state_fixture.h"

namespace kltest {
namespace {

using namespace kl;

class EntityPresolveTest : public PresolveStateTest {};

// Integer bounds round inward within ZTOLIS and stop at INTMAX: -3 stays
// -3 (truncation made it -2), 2.9999999 is 3, an infinite bound is INTMAX.
// A partial integer keeps an upper bound above its integer limit as its
// own: the column is continuous there.
TEST_F(EntityPresolveTest, StateWordsFromPresolvedBounds) {
  struct Case {
    char type;
    double limit, lower, upper;
    int32_t state_lower, state_upper;  // expected; for P the upper word may stay
  };
  const Case cases[] = {
      {'I', 0.0, -5.5, -3.0, -5, -3},
      {'I', 0.0, 0.0000001, 2.9999999, 0, 3},
      {'I', 0.0, -1e20, 1e20, -1000, 1000},
      {'I', 0.0, 1.5, 7.5, 2, 7},
      {'P', 5.0, 1.5, 7.5, 2, 1000},
      {'P', 5.0, 0.0, 4.0000001, 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " [" + std::to_string(c.lower) + ", " + std::to_string(c.upper) + "]");
    ArrayProblem p;
    p.row('L', 100.0);
    p.column(1.0, 0.0, 1000.0, {{0, 1.0}});
    p.entity(c.type, 0, c.limit);
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load_global(), 0);
    ASSERT_EQ(KLSETICV(KLIC_INTMAX, 1000), 0);
    const int32_t j = store.first_col;
    real_array(ARR_LOWER)[j] = c.lower;
    real_array(ARR_UPPER)[j] = c.upper;
    int_array(ARR_ENTITY_ROOT_UPPER)[1] = 1000;
    int_array(ARR_ENTITY_ROOT_LOWER)[1] = -1000;
    std::vector<int32_t> same(static_cast<size_t>(nseq) + 1);
    for (int32_t k = 0; k <= nseq; ++k) same[static_cast<size_t>(k)] = k;
    renumber_search_entities(same);
    EXPECT_EQ(int_array(ARR_ENTITY_ROOT_LOWER)[1], c.state_lower);
    EXPECT_EQ(int_array(ARR_ENTITY_ROOT_UPPER)[1], c.state_upper);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

}  // namespace
}  // namespace kltest

namespace kltest {
namespace {

using namespace kl;

class IndicatorSplitTest : public PresolveStateTest {
 protected:
  // x (column 0) in [x_lower, 20], binary z (column 1) with cost z_cost:
  // x - 10 z <= 0, x - 2 z >= 0.
  void load_indicator(double x_lower, double z_cost) {
    ArrayProblem p;
    p.row('L', 0.0);
    p.row('G', 0.0);
    p.column(1.0, x_lower, 20.0, {{0, 1.0}, {1, 1.0}});
    p.column(z_cost, 0.0, 1.0, {{0, -10.0}, {1, -2.0}});
    p.entity('B', 1);
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load_global(), 0);
    for (int32_t i = 1; i <= nrow; ++i) real_array(ARR_WORK_RHS)[i] = real_array(ARR_RHS)[i];
    build_row_copy_for_test(0);
    compute_activities_for_test();
    clear_presolve_stack();
  }
  static void reload() {
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
};

// z and both rows leave; x becomes semi-continuous in {0} or [2, 10] with
// upper bound 10, and the split leaves its record (z, x, ra, rb, 12; L, U,
// x's coefficient in rb).
TEST_F(IndicatorSplitTest, ZeroCostIndicatorBecomesSemiContinuous) {
  load_indicator(0.0, 0.0);
  const int32_t x = col(0), z = col(1);
  EntityPresolveCounts counts;
  int32_t state = -1;
  presolve_global_entities(counts, state);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(int_array(ARR_ENTITY_TYPE)[1] & ENT_TYPE_MASK, ENT_SEMICONTINUOUS);
  EXPECT_EQ(int_array(ARR_ENTITY_COLUMN)[1], x);
  EXPECT_DOUBLE_EQ(real_array(ARR_SEMICONT_LIMIT)[1], 2.0);
  EXPECT_DOUBLE_EQ(real_array(ARR_SEMICONT_UPPER)[1], 10.0);
  EXPECT_DOUBLE_EQ(upper(x), 10.0);
  EXPECT_NE(status(x) & PS_SEMICONTINUOUS, 0);
  EXPECT_NE(status(z) & PS_FIXED, 0);
  EXPECT_NE(status(1) & PS_FREE, 0);
  EXPECT_NE(status(2) & PS_FREE, 0);
  EXPECT_EQ(counts.rows_removed, 2);
  EXPECT_EQ(counts.columns_removed, 1);
  EXPECT_EQ(int_array(ARR_VUB_REF)[x], 1);
  EXPECT_EQ(int_array(ARR_VLB_REF)[x], 1);
  const PresolveRecord r = pop_record(5, 3);
  EXPECT_EQ(r.ints, (std::vector<int32_t>{z, x, 2, 1, REC_ENTITY_SPLIT}));
  EXPECT_EQ(r.reals, (std::vector<double>{2.0, 10.0, 1.0}));
}

// No split when x's own lower bound is positive (z = 0 is then infeasible,
// and {0} would be wrong), when z has a cost, or with IPSLCT bit 0x800;
// the bound tables are filled all the same (a binary names itself in
// vub_ref, the rows in vlb_ref).
TEST_F(IndicatorSplitTest, NoSplitWithoutItsConditions) {
  struct Case {
    const char* what;
    double x_lower, z_cost;
    int32_t ipslct;
  };
  const Case cases[] = {
      {"lower bound positive", 1.0, 0.0, 511},
      {"cost on z", 0.0, 1.0, 511},
      {"split turned off", 0.0, 0.0, 511 | 0x800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    load_indicator(c.x_lower, c.z_cost);
    ASSERT_EQ(KLSETICV(KLIC_IPSLCT, c.ipslct), 0);
    EntityPresolveCounts counts;
    int32_t state = -1;
    presolve_global_entities(counts, state);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(int_array(ARR_ENTITY_TYPE)[1] & ENT_TYPE_MASK, ENT_BINARY);
    EXPECT_EQ(status(col(1)) & PS_FIXED, 0);
    EXPECT_EQ(status(1) & PS_FREE, 0);
    EXPECT_EQ(counts.rows_removed, 0);
    EXPECT_EQ(presolve_int_top, 0);
    EXPECT_EQ(int_array(ARR_VUB_REF)[col(0)], col(1));
    EXPECT_EQ(int_array(ARR_VLB_REF)[col(0)], 2);
    reload();
  }
}

// Binaries of a set-packing row lose their entity marks and upper bounds
// for the duplicate-column pass and get both back after it, the bound as it
// was; unequal coefficients make no set-packing row.
TEST_F(IndicatorSplitTest, SetPackingBinariesAroundTheDuplicateColumns) {
  for (const double a1 : {1.0, 2.0}) {
    SCOPED_TRACE(a1);
    ArrayProblem p;
    p.row('L', a1);  // a1 x1 + x2 + x3 <= a1
    p.column(1.0, 0.0, 1.0, {{0, a1}});
    p.column(1.0, 0.0, 1.0, {{0, 1.0}});
    p.column(1.0, 0.0, 1.0, {{0, 1.0}});
    for (int32_t k = 0; k < 3; ++k) p.entity('B', k);
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load_global(), 0);
    for (int32_t i = 1; i <= nrow; ++i) real_array(ARR_WORK_RHS)[i] = real_array(ARR_RHS)[i];
    build_row_copy_for_test(0);
    const bool packing = a1 == 1.0;
    mark_entity_flags(0);
    for (int32_t k = 0; k < 3; ++k) {
      EXPECT_EQ((status(col(k)) & PS_ENTITY) == 0, packing) << k;
      EXPECT_EQ(upper(col(k)), packing ? kInfinity : 1.0) << k;
    }
    mark_entity_flags(1);
    for (int32_t k = 0; k < 3; ++k) {
      EXPECT_NE(status(col(k)) & PS_ENTITY, 0) << k;
      EXPECT_NE(status(col(k)) & PS_BINARY, 0) << k;
      EXPECT_EQ(upper(col(k)), 1.0) << k;
    }
    reload();
  }
}

}  // namespace
}  // namespace kltest

namespace kltest {
namespace {

using namespace kl;

// The entity sweep of a round inside the search, on one row over the
// entity columns, with implied bounds set as the round would leave them.
class EntitySweepTest : public PresolveStateTest {
 protected:
  void prepare(const ArrayProblem& p) {
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(p.load_global(), 0);
    ASSERT_EQ(KLSETICV(KLIC_IPSLCT, 511), 0);
    for (int32_t i = 1; i <= nrow; ++i) real_array(ARR_WORK_RHS)[i] = real_array(ARR_RHS)[i];
    reset_presolve_state();
    compute_row_activity_bounds();
    build_presolve_row_copy(0);
    round_work = RoundWork{};
    round_work.entity_sweeps = true;
  }
  static void implied(int32_t j, double l, double u) {
    real_array(ARR_WORK_LOWER)[j] = l;
    real_array(ARR_WORK_UPPER)[j] = u;
    // The implied-bound-finite marks of the round (0x800 lower, 0x8000
    // upper).
    int_array(ARR_POS_STATUS)[j] |= 0x800 | 0x8000;
  }
  static int32_t kind(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
};

// Implied bounds 0.3 and 2.7 of an integer column become its bounds 1 and
// 2; implied bounds 0 and 1 make it a binary.
TEST_F(EntitySweepTest, IntegerColumnsTakeTheirRoundedImpliedBounds) {
  ArrayProblem p;
  p.row('L', 100.0);
  p.column(1.0, 0.0, 5.0, {{0, 1.0}});
  p.column(1.0, 0.0, 5.0, {{0, 1.0}});
  p.entity('I', 0);
  p.entity('I', 1);
  prepare(p);
  implied(col(0), 0.3, 2.7);
  implied(col(1), 0.0, 1.0);
  sweep_global_entities();
  EXPECT_EQ(lower(col(0)), 1.0);
  EXPECT_EQ(upper(col(0)), 2.0);
  EXPECT_EQ(kind(1), ENT_INTEGER);
  EXPECT_EQ(upper(col(1)), 1.0);
  EXPECT_EQ(kind(2), ENT_BINARY);
  EXPECT_NE(status(col(1)) & PS_BINARY, 0);
  EXPECT_FALSE(round_work.stop);
}

// A semi-continuous column forced above zero gets its threshold as lower
// bound and stops being an entity.
TEST_F(EntitySweepTest, SemiContinuousColumnForcedOn) {
  ArrayProblem p;
  p.row('G', 1.0);
  p.column(1.0, 0.0, 10.0, {{0, 1.0}});
  p.entity('S', 0, 2.0);
  prepare(p);
  implied(col(0), 0.5, 10.0);
  sweep_global_entities();
  EXPECT_EQ(lower(col(0)), 2.0);
  EXPECT_EQ(int_array(ARR_ENTITY_TYPE)[1], 0);
  EXPECT_EQ(status(col(0)) & (PS_SEMICONTINUOUS | PS_ENTITY), 0);
  EXPECT_EQ(round_work.entities_removed, 1);
}

// A partial integer with limit 5 (integer below 5, continuous from 5 up):
// an implied lower bound of 4.5 rounds up to 5 and the entity stays; one
// of 5.5 leaves it continuous in its whole range; implied bounds within
// [0, 5] make it a plain integer.
TEST_F(EntitySweepTest, PartialIntegerAgainstItsLimit) {
  struct Case {
    double implied_lower, implied_upper;
    int32_t kind_after;
    double lower_after;
  };
  const Case cases[] = {
      {4.5, 10.0, ENT_PARTIAL_INTEGER, 5.0},
      {5.5, 10.0, 0, 0.0},
      {0.0, 4.0, ENT_INTEGER, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.implied_lower);
    ArrayProblem p;
    p.row('L', 100.0);
    p.column(1.0, 0.0, 10.0, {{0, 1.0}});
    p.entity('P', 0, 5.0);
    prepare(p);
    implied(col(0), c.implied_lower, c.implied_upper);
    sweep_global_entities();
    EXPECT_EQ(kind(1), c.kind_after);
    EXPECT_EQ(lower(col(0)), c.lower_after);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

// A set with a member forced nonzero: in a set of type 1 every other member
// is fixed at 0; in a set of type 2 the forced member's neighbours keep
// their bounds. A set whose members may all be 0 is left alone.
TEST_F(EntitySweepTest, SetsWithAMemberForcedNonzero) {
  struct Case {
    char type;
    int32_t forced;  // member forced to at least 0.5, -1 none
    std::vector<double> upper_after;
  };
  const Case cases[] = {
      {'1', 1, {0.0, 1.0, 0.0, 0.0}},
      {'2', 1, {1.0, 1.0, 1.0, 0.0}},
      {'2', -1, {1.0, 1.0, 1.0, 1.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " forced " + std::to_string(c.forced));
    ArrayProblem p;
    p.row('L', 10.0);
    for (int32_t k = 0; k < 4; ++k) p.column(1.0, 0.0, 1.0, {{0, 1.0}});
    p.set(c.type, {{0, 1.0}, {1, 2.0}, {2, 3.0}, {3, 4.0}});
    prepare(p);
    for (int32_t k = 0; k < 4; ++k) implied(col(k), k == c.forced ? 0.5 : 0.0, 1.0);
    sweep_global_entities();
    for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(upper(col(k)), c.upper_after[static_cast<size_t>(k)]) << k;
    EXPECT_EQ(int_array(ARR_ENTITY_TYPE)[1] == 0, c.forced >= 0);
    KLFREEXO();
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  }
}

}  // namespace
}  // namespace kltest
