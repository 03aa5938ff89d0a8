// Gomory cuts on small integer programs: every cut holds at every
// integer-feasible point (by enumeration) and cuts off the LP optimum it
// was read from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "global/cut_test_support.h"
#include "global/gomory_cuts.h"
#include "global/node_loop.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;
using namespace kltest;

class GomoryCuts : public LibrarySession {
 protected:
  // Each test writes its solution files in a directory of its own, so
  // tests running side by side never share one.
  TempDir dir;
  std::string problem_name() const { return dir.file("p"); }
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
  }

  // Loads ip, solves its LP relaxation (maximising when max) and gives the
  // search's bound copies the column bounds, as the search start does.
  bool solve_relaxation(const DenseIp& ip, bool max, std::vector<double>& x) {
    if (ip.array().load_global(problem_name().c_str()) != 0) return false;
    if ((max ? KLMAXIM("l") : KLMINIM("l")) != 0 || lp_status != 1) return false;
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
    OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
    for (int32_t p = store.first_col; p <= nseq; ++p) {
      work_lower[p] = lower[p];
      work_upper[p] = upper[p];
    }
    set_nonbasic_values();
    x.assign(static_cast<size_t>(ip.columns()), 0.0);
    return KLSOLUTION(x.data(), nullptr, nullptr, nullptr) == 0;
  }

  // One separation pass in single mode; the cuts it listed.
  std::vector<PoolCut> separate(const DenseIp& ip, int32_t capacity = 100, int32_t* stored = nullptr) {
    std::vector<int32_t> list(static_cast<size_t>(std::max(capacity, 1)), 0);
    int32_t count = 0, round = 0, found = 0, added = 0, removed = 0, outcome = 0;
    const int32_t before = search_record.stored_cut_count;
    generate_gomory_cuts(1, 5, capacity, count, list.data(), 0, 0, round, found, added, removed, outcome);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(added, 0);
    EXPECT_LE(count, capacity);
    if (stored) *stored = search_record.stored_cut_count - before;
    std::vector<PoolCut> cuts;
    for (int32_t n = 0; n < count; ++n) cuts.push_back(read_pool_cut(list[static_cast<size_t>(n)], ip.columns()));
    return cuts;
  }

  // Basis position of structural column j (0-based), 0 when non-basic.
  int32_t position_of(int32_t j) {
    OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
    for (int32_t k = 1; k <= nrow; ++k)
      if (header[k] == store.first_col + j) return k;
    return 0;
  }
};

DenseIp random_ip(std::mt19937& rng) {
  std::uniform_int_distribution<int> columns_of(2, 4), rows_of(2, 3), small(-3, 6), bound(1, 4), coin(0, 3);
  std::uniform_real_distribution<double> real(0.3, 4.0);
  DenseIp ip;
  const int n = columns_of(rng);
  const int m = rows_of(rng);
  const bool mixed = coin(rng) == 0;
  for (int j = 0; j < n; ++j) {
    const bool integer = !(mixed && j == n - 1);
    ip.integer.push_back(integer);
    const int shift = coin(rng) == 0 ? -2 : (coin(rng) == 1 ? 1 : 0);
    ip.lower.push_back(integer ? shift : 0.0);
    ip.upper.push_back(integer ? shift + bound(rng) : 7.5);
    ip.cost.push_back(small(rng) + 0.5 * coin(rng));
  }
  for (int i = 0; i < m; ++i) {
    std::vector<double> row;
    double top = 0.0;
    for (int j = 0; j < n; ++j) {
      double v = coin(rng) == 0 ? 0.0 : (coin(rng) < 2 ? static_cast<double>(small(rng)) : std::round(real(rng) * 4) / 4);
      if (coin(rng) == 0) v = -v;
      row.push_back(v);
      top += std::fabs(v) * std::max(std::fabs(ip.lower[static_cast<size_t>(j)]), std::fabs(ip.upper[static_cast<size_t>(j)]));
    }
    const char type = coin(rng) == 0 ? 'G' : 'L';
    ip.a.push_back(row);
    ip.types.push_back(type);
    const double b = std::round((type == 'L' ? 0.45 : -0.15) * top * 4 + 1) / 4 + 0.5 * coin(rng);
    ip.rhs.push_back(type == 'L' ? b : -b / 4);
  }
  return ip;
}

// Random small programs, maximised and minimised: no cut ever cuts off an
// integer-feasible point, and each cuts off the LP optimum it came from.
TEST_F(GomoryCuts, CutsHoldAtEveryIntegerPointAndCutOffTheLpOptimum) {
  std::mt19937 rng(20261211);
  int32_t instances = 0, with_cuts = 0, cuts_checked = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    const DenseIp ip = random_ip(rng);
    std::vector<double> x;
    if (!solve_relaxation(ip, trial % 2 == 0, x)) continue;
    ++instances;
    const std::vector<PoolCut> cuts = separate(ip);
    if (cuts.empty()) continue;
    ++with_cuts;
    cuts_checked += static_cast<int32_t>(cuts.size());
    double worst = 0.0;
    std::string failure;
    check_cuts_valid(ip, cuts, 1e-6, worst, failure);
    EXPECT_TRUE(failure.empty()) << "trial " << trial << ": " << failure;
    for (const PoolCut& cut : cuts) {
      EXPECT_GT(cut.excess(x), 1e-7) << "trial " << trial << " record " << cut.record;
      EXPECT_EQ(cut.type, 5);
      EXPECT_NE(cut.flags & CUT_NEW_IN_ROUND, 0);
    }
  }
  std::printf("%d instances, %d with cuts, %d cuts checked\n", instances, with_cuts, cuts_checked);
  EXPECT_GT(instances, 100);
  EXPECT_GT(with_cuts, 30);
  RecordProperty("cuts_checked", cuts_checked);
}

// maximise x: 2x <= 1, x binary. The tableau row x + s/2 = 1/2 gives x <= 0
// with efficacy 1/2: the fractional part over the coefficient norm.
TEST_F(GomoryCuts, BinaryAtOneHalfGivesTheRoundedBound) {
  DenseIp ip;
  ip.types = "L";
  ip.rhs = {1.0};
  ip.a = {{2.0}};
  ip.cost = {1.0};
  ip.lower = {0.0};
  ip.upper = {1.0};
  ip.integer = {true};
  std::vector<double> x;
  ASSERT_TRUE(solve_relaxation(ip, true, x));
  ASSERT_NEAR(x[0], 0.5, 1e-12);
  const int32_t k = position_of(0);
  ASSERT_GT(k, 0);
  // The separator works on internal indices, as the driver sets them.
  icv(ic::IFDBG) = 0;
  int32_t result = 0, terms = 0, count = 0;
  double efficacy = 0.0;
  int32_t list[4] = {};
  separate_gomory_cut(k, result, efficacy, terms, 1, 3, 4, count, list);
  EXPECT_EQ(result, 1);
  EXPECT_NEAR(efficacy, 0.5, 1e-9);
  EXPECT_EQ(terms, 1);
  ASSERT_EQ(count, 1);
  const PoolCut cut = read_pool_cut(list[0], 1);
  EXPECT_NEAR(cut.coef[0], 1.0, 1e-12);
  EXPECT_NEAR(cut.rhs, 0.0, 1e-12);
  // The same record is never listed twice.
  separate_gomory_cut(k, result, efficacy, terms, 1, 3, 4, count, list);
  EXPECT_EQ(count, 2);
  EXPECT_NE(list[0], list[1]);
}

// A basic integer column at an integral value inside its bounds is a
// candidate, but rounding finds nothing to cut.
TEST_F(GomoryCuts, IntegralBasicColumnGivesNoRounding) {
  DenseIp ip;
  ip.types = "LL";
  ip.rhs = {3.0, 4.5};
  ip.a = {{1.0, 0.0}, {1.0, 1.0}};
  ip.cost = {2.0, 1.0};
  ip.lower = {0.0, 0.0};
  ip.upper = {10.0, 10.0};
  ip.integer = {true, false};
  std::vector<double> x;
  ASSERT_TRUE(solve_relaxation(ip, true, x));
  ASSERT_NEAR(x[0], 3.0, 1e-12);
  const int32_t k = position_of(0);
  ASSERT_GT(k, 0);
  icv(ic::IFDBG) = 0;
  int32_t result = 0, terms = 0, count = 0;
  double efficacy = 0.0;
  separate_gomory_cut(k, result, efficacy, terms, 1, 3, 0, count, nullptr);
  EXPECT_EQ(result, -2);
  EXPECT_EQ(count, 0);
}

// Single mode with no room in the list stores the cuts and lists none.
TEST_F(GomoryCuts, SingleModeWithoutRoomStoresButListsNothing) {
  DenseIp ip;
  ip.types = "LL";
  ip.rhs = {6.0, 8.5};
  ip.a = {{2.0, 3.0}, {3.0, 1.0}};
  ip.cost = {1.0, 1.0};
  ip.lower = {0.0, 0.0};
  ip.upper = {5.0, 5.0};
  ip.integer = {true, true};
  std::vector<double> x;
  ASSERT_TRUE(solve_relaxation(ip, true, x));
  int32_t stored = 0;
  EXPECT_TRUE(separate(ip, 0, &stored).empty());
  EXPECT_GT(stored, 0);
}

// An LP optimum that is already integral ends the pass at once.
TEST_F(GomoryCuts, IntegralOptimumEndsWithOutcomeTwo) {
  DenseIp ip;
  ip.types = "L";
  ip.rhs = {4.0};
  ip.a = {{1.0, 1.0}};
  ip.cost = {1.0, 2.0};
  ip.lower = {0.0, 0.0};
  ip.upper = {3.0, 3.0};
  ip.integer = {true, true};
  std::vector<double> x;
  ASSERT_TRUE(solve_relaxation(ip, true, x));
  int32_t count = 0, round = 0, found = 0, added = 0, removed = 0, outcome = 0;
  int32_t list[2] = {};
  generate_gomory_cuts(1, 5, 2, count, list, 0, 0, round, found, added, removed, outcome);
  EXPECT_EQ(outcome, 2);
  EXPECT_EQ(round, 0);
  EXPECT_EQ(count, 0);
}

}  // namespace
