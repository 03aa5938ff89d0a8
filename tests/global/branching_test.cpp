// Branching estimates and the choice of the branching entity on small LPs.
#include <gtest/gtest.h>

#include <cmath>

#include "global/branching.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace kltest {
namespace {

class BranchingTest : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    kl::icv(kl::ic::IFPRES) = 0;
    kl::icv(kl::ic::IFSCAL) = 0;
  }
  // The entity on caller column c.
  static int32_t entity_of(int32_t c) {
    for (int32_t e = 1; e <= kl::nglent; ++e)
      if ((kl::int_array(kl::ARR_ENTITY_TYPE)[e] & kl::ENT_TYPE_MASK) < kl::ENT_SET1 &&
          kl::int_array(kl::ARR_ENTITY_COLUMN)[e] == kl::col_from_caller(c))
        return e;
    return 0;
  }
  static int32_t set_entity() {
    for (int32_t e = 1; e <= kl::nglent; ++e)
      if ((kl::int_array(kl::ARR_ENTITY_TYPE)[e] & kl::ENT_TYPE_MASK) >= kl::ENT_SET1) return e;
    return 0;
  }
  // Solves the LP relaxation of p and chooses a branch.
  kl::BranchChoice solve_and_choose(const ArrayProblem& p) {
    EXPECT_EQ(p.load_global(dir_.file("branch").c_str()), 0);
    return choose();
  }
  kl::BranchChoice choose() {
    EXPECT_EQ(KLMINIM("l"), 0);
    EXPECT_EQ(kl::lp_status, 1);
    kl::BranchChoice choice;
    kl::select_branch_entity(choice);
    return choice;
  }
  // The solution files go here.
  TempDir dir_;
};

// minimise -x0 - x1 with 2 x0 <= 3 and 2 x1 <= 5: x0 = 1.5, x1 = 2.5.
ArrayProblem two_fractional_integers() {
  ArrayProblem p;
  p.row('L', 3.0);
  p.row('L', 5.0);
  p.column(-1.0, 0.0, 10.0, {{0, 2.0}});
  p.column(-1.0, 0.0, 10.0, {{1, 2.0}});
  p.entity('I', 0);
  p.entity('I', 1);
  return p;
}

TEST_F(BranchingTest, PriorityDecidesWhateverTheEstimates) {
  const ArrayProblem p = two_fractional_integers();
  ASSERT_EQ(p.load_global(dir_.file("branch").c_str()), 0);
  for (const bool first_preferred : {true, false}) {
    SCOPED_TRACE(first_preferred);
    const int32_t columns[] = {0, 1};
    const int32_t priorities[] = {first_preferred ? 3 : 7, first_preferred ? 7 : 3};
    ASSERT_EQ(KLLOADDIR(2, columns, priorities, nullptr, nullptr, nullptr), 0);
    const kl::BranchChoice c = choose();
    EXPECT_EQ(c.fractional_count, 2);
    EXPECT_EQ(kl::int_attribute(1024), 2);
    EXPECT_EQ(c.branch_entity, entity_of(first_preferred ? 0 : 1));
    EXPECT_DOUBLE_EQ(c.down_limit, first_preferred ? 1.0 : 2.0);
    EXPECT_DOUBLE_EQ(c.up_limit, first_preferred ? 2.0 : 3.0);
    EXPECT_DOUBLE_EQ(c.branch_value, first_preferred ? 1.5 : 2.5);
  }
}

TEST_F(BranchingTest, DirectionsSetTheFirstChild) {
  const ArrayProblem p = two_fractional_integers();
  ASSERT_EQ(p.load_global(dir_.file("branch").c_str()), 0);
  kl::dcv(kl::dc::PSTCST) = 1e6;  // the preference outweighs any estimate
  struct Case {
    const char* directions;
    int32_t kcritm;
    int32_t first_direction;
  };
  const Case cases[] = {{"UU", 4, 1}, {"DD", 4, 0}, {"UU", -4, 0}, {"DD", -4, 1}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.directions) + " " + std::to_string(k.kcritm));
    kl::icv(kl::ic::KCRITM) = k.kcritm;
    ASSERT_EQ(KLLOADDIR(-1, nullptr, nullptr, k.directions, nullptr, nullptr), 0);
    const kl::BranchChoice c = choose();
    ASSERT_NE(c.branch_entity, 0);
    EXPECT_EQ(c.first_direction, k.first_direction);
  }
}

TEST_F(BranchingTest, IntegerSolutionHasNoBranch) {
  ArrayProblem p;
  p.row('L', 4.0);
  p.column(-1.0, 0.0, 10.0, {{0, 2.0}});
  p.entity('I', 0);
  const kl::BranchChoice c = solve_and_choose(p);
  EXPECT_EQ(c.fractional_count, 0);
  EXPECT_EQ(c.branch_entity, 0);
  EXPECT_EQ(c.degradation, 0.0);
}

TEST_F(BranchingTest, NegativeFractionalValueBranches) {
  // minimise x0 with 2 x0 >= -5: x0 = -2.5; children x0 <= -3 and x0 >= -2.
  ArrayProblem p;
  p.row('G', -5.0);
  p.column(1.0, -10.0, 10.0, {{0, 2.0}});
  p.entity('I', 0);
  const kl::BranchChoice c = solve_and_choose(p);
  EXPECT_EQ(c.fractional_count, 1);
  EXPECT_DOUBLE_EQ(c.down_limit, -3.0);
  EXPECT_DOUBLE_EQ(c.up_limit, -2.0);
}

TEST_F(BranchingTest, ColumnEstimateFromPseudoCosts) {
  // A column without cost whose rows carry no price: only the pseudo costs.
  ArrayProblem p;
  p.row('L', 9.0);
  p.column(0.0, 0.0, 10.0, {{0, 1.0}});
  p.entity('I', 0);
  ASSERT_EQ(p.load_global(dir_.file("branch").c_str()), 0);
  ASSERT_EQ(KLMINIM("l"), 0);
  const int32_t e = entity_of(0);
  kl::float_array(kl::ARR_ROW_PRICES)[1] = 0.0f;
  kl::float_array(kl::ARR_ROW_PRICES)[2] = 0.0f;
  kl::float_array(kl::ARR_PSEUDO_COST_UP)[e] = 1.0f;
  kl::float_array(kl::ARR_PSEUDO_COST_DOWN)[e] = 1.0f;
  kl::estimate_cost_degradation(e, 2.25);
  EXPECT_DOUBLE_EQ(kl::branch_estimates.up_degradation, 0.75);
  EXPECT_DOUBLE_EQ(kl::branch_estimates.down_degradation, 0.25);
  EXPECT_DOUBLE_EQ(kl::branch_estimates.min_degradation, 0.25);
}

TEST_F(BranchingTest, SemiContinuousBetweenZeroAndItsLimit) {
  // x0 semi-continuous with limit 2: x0 >= rhs puts it at rhs.
  struct Case {
    double rhs;
    int32_t fractional;
  };
  for (const Case& k : {Case{1.0, 1}, Case{0.0, 0}, Case{2.0, 0}, Case{3.5, 0}}) {
    SCOPED_TRACE(k.rhs);
    ArrayProblem p;
    p.row('G', k.rhs);
    p.column(1.0, 0.0, 10.0, {{0, 1.0}});
    p.entity('S', 0, 2.0);
    const kl::BranchChoice c = solve_and_choose(p);
    EXPECT_EQ(c.fractional_count, k.fractional);
    EXPECT_EQ(c.branch_entity, k.fractional == 1 ? entity_of(0) : 0);
  }
}

// A set over x0, x1, x2 (references 1, 2, 3) with x0 = x2 = 0.5 at the LP
// optimum: minimise -x0 - x2, x0 + x1 + x2 <= 1, x0 and x2 at most 0.5.
ArrayProblem two_member_set(char type, bool adjacent) {
  ArrayProblem p;
  p.row('L', 1.0);
  p.column(-1.0, 0.0, 0.5, {{0, 1.0}});
  p.column(adjacent ? -1.0 : 0.0, 0.0, 0.5, {{0, 1.0}});
  p.column(adjacent ? 0.0 : -1.0, 0.0, 0.5, {{0, 1.0}});
  p.set(type, {{0, 1.0}, {1, 2.0}, {2, 3.0}});
  return p;
}

TEST_F(BranchingTest, SetsSatisfiedOrBranchedByReferenceValue) {
  struct Case {
    char type;
    bool adjacent;
    bool satisfied;
  };
  const Case cases[] = {{'1', true, false}, {'1', false, false}, {'2', true, true}, {'2', false, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(1, k.type) + (k.adjacent ? " adjacent" : " apart"));
    const ArrayProblem p = two_member_set(k.type, k.adjacent);
    const kl::BranchChoice c = solve_and_choose(p);
    EXPECT_EQ(c.fractional_count, k.satisfied ? 0 : 1);
    if (k.satisfied) continue;
    EXPECT_EQ(c.branch_entity, set_entity());
    const double centre = k.adjacent ? 1.5 : 2.0;
    EXPECT_DOUBLE_EQ(c.set_split_value, centre);
    // Each child loses at least one of the two non-zero members.
    EXPECT_LT(c.down_limit, k.adjacent ? 2.0 : 3.0);
    EXPECT_GT(c.up_limit, 1.0);
  }
}

TEST_F(BranchingTest, SetSplitAtTheCentreWithKsetbr1) {
  kl::icv(kl::ic::KSETBR) = 1;
  const ArrayProblem p = two_member_set('1', false);
  const kl::BranchChoice c = solve_and_choose(p);
  // Type 1 with the split at the centre 2: the down child keeps x0, the up
  // child x1 and x2.
  EXPECT_DOUBLE_EQ(c.set_split_value, 2.0);
  EXPECT_LT(c.down_limit, 2.0);
  EXPECT_GT(c.down_limit, 1.0);
  EXPECT_DOUBLE_EQ(c.down_limit, c.up_limit);
}

}  // namespace
}  // namespace kltest
