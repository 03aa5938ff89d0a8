// The knapsack separators on item arrays: the MIR, lifted cover and GUB
// cover cuts of small knapsacks whose answers are known, and every cut of
// many random knapsacks checked against all their integer points.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "global/knapsack_cuts.h"
#include "problem/array_ids.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/library_session.h"

namespace {

using namespace kl;
using namespace kltest;

struct Knapsack {
  double b = 0.0;
  std::vector<double> a, x, u;
  double s = 0.0;
  int32_t n() const { return static_cast<int32_t>(a.size()); }
};

struct Cut {
  int32_t result = -9;
  double rhs = 0.0;
  std::vector<double> coefs;
  double continuous = 0.0;  // coefficient of s on the left (MIR: minus the factor)
  double efficacy = 0.0;
};

Cut run_mir(Knapsack k, int32_t has_continuous = 0) {
  const int32_t n = k.n();
  Cut cut;
  cut.coefs.assign(static_cast<size_t>(n), 0.0);
  std::vector<int32_t> candidates(static_cast<size_t>(n)), marks(static_cast<size_t>(n));
  std::vector<double> keys(static_cast<size_t>(n));
  double factor = 0.0;
  const Knapsack given = k;
  separate_mir_cut(n, has_continuous, k.b, k.a.data(), k.x.data(), k.u.data(), k.s, cut.result, cut.rhs,
                   cut.coefs.data(), factor, cut.efficacy, candidates.data(), marks.data(), keys.data());
  // The separator hands the knapsack back as it found it.
  EXPECT_EQ(k.b, given.b);
  for (int32_t j = 0; j < n; ++j) {
    EXPECT_EQ(k.a[static_cast<size_t>(j)], given.a[static_cast<size_t>(j)]);
    EXPECT_NEAR(k.x[static_cast<size_t>(j)], given.x[static_cast<size_t>(j)], 1e-12);
  }
  cut.continuous = has_continuous != 0 ? -factor : 0.0;
  return cut;
}

// Weights must be nonnegative here; ordering by position (no LP columns).
Cut run_cover(const Knapsack& k) {
  const int32_t n = k.n();
  Cut cut;
  cut.coefs.assign(static_cast<size_t>(n), 0.0);
  std::vector<int32_t> columns(static_cast<size_t>(n)), order(static_cast<size_t>(n)), cls(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) columns[static_cast<size_t>(j)] = j + 1;
  std::vector<double> keys(static_cast<size_t>(n)), table(kKnapsackTableSize + 1);
  double gamma = 0.0;
  separate_general_cover(n, k.b, columns.data(), k.a.data(), k.x.data(), k.u.data(), k.s, cut.result, cut.rhs,
                         cut.coefs.data(), gamma, cut.efficacy, order.data(), table.data(), keys.data(), cls.data(),
                         1);
  cut.continuous = -gamma;
  return cut;
}

class KnapsackCuts : public LibrarySession {};

// ---- MIR ----

TEST_F(KnapsackCuts, MirTwoItemsOfWeightTwo) {
  // 2x1 + 2x2 <= 3 at x = 0.75: complemented, divisor 2, f0 = 0.5.
  const Cut cut = run_mir({3.0, {2.0, 2.0}, {0.75, 0.75}, {1.0, 1.0}});
  ASSERT_EQ(cut.result, 1);
  EXPECT_NEAR(cut.coefs[0], 2.0, 1e-12);
  EXPECT_NEAR(cut.coefs[1], 2.0, 1e-12);
  EXPECT_NEAR(cut.rhs, 2.0, 1e-12);
  EXPECT_NEAR(cut.efficacy, 1.0 / (2.0 * std::sqrt(2.0)), 1e-12);
}

TEST_F(KnapsackCuts, MirRefusals) {
  struct Case {
    const char* what;
    Knapsack k;
  };
  const Case cases[] = {
      {"integral values", {3.0, {2.0, 2.0}, {1.0, 0.0}, {1.0, 1.0}}},
      {"values integral within ZTOLIS", {3.0, {2.0, 2.0}, {1.0 - 1e-6, 1e-6}, {1.0, 1.0}}},
      {"largest activity at b", {4.0, {2.0, 2.0}, {0.5, 0.5}, {1.0, 1.0}}},
      {"largest activity within ZTOLDA of b", {4.0 - 1e-10, {2.0, 2.0}, {0.5, 0.5}, {1.0, 1.0}}},
      {"b / weight above 1e7", {2e7 + 0.3, {1.0}, {0.5}, {1e8}}},
  };
  for (const Case& c : cases) {
    const Cut cut = run_mir(c.k);
    EXPECT_EQ(cut.result, 0) << c.what;
  }
}

TEST_F(KnapsackCuts, MirDivisorFailures) {
  struct Case {
    const char* what;
    double b;
    std::vector<double> a;
    double divisor;
    int32_t status;
  };
  const Case cases[] = {
      {"weight ratio above 1e7", 1.5, {1.0, 2e7 + 1.0}, 1.0, -1},
      {"rhs ratio above 1e6", 2e6 + 0.5, {1.0, 1.0}, 1.0, -1},
      {"divisor below 1e-7", 1.5, {1.0, 1.0}, 1e-8, -1},
      {"rhs a multiple of the divisor", 2.0, {1.0, 1.0}, 1.0, -1},
      {"cut that cannot be violated", 0.5, {-1.0, -1.0}, 1.0, -1},
      {"a cut", 1.5, {1.0, 1.0}, 1.0, 1},
  };
  for (const Case& c : cases) {
    const std::vector<double> x(c.a.size(), 0.75), u(c.a.size(), 1.0);
    std::vector<double> coefs(c.a.size());
    int32_t status = 7;
    double rhs = 0.0, factor = 0.0, efficacy = 0.0;
    mir_cut_for_divisor(static_cast<int32_t>(c.a.size()), 0, c.b, c.a.data(), x.data(), u.data(), 0.0, c.divisor,
                        status, rhs, coefs.data(), factor, efficacy);
    EXPECT_EQ(status, c.status) << c.what;
  }
}

TEST_F(KnapsackCuts, MirEfficacyOfExactly1e4GivesNoCut) {
  // x <= 0.5 with divisor 1: the cut x <= 0 of norm 1, violated by x.
  for (const auto& [value, status] : {std::pair{1e-4, 0}, std::pair{1.0001e-4, 1}}) {
    int32_t found = 7;
    double coef = 0.0, rhs = 0.0, factor = 0.0, efficacy = 0.0;
    const double a = 1.0, u = 1.0;
    mir_cut_for_divisor(1, 0, 0.5, &a, &value, &u, 0.0, 1.0, found, rhs, &coef, factor, efficacy);
    EXPECT_EQ(efficacy, value);
    EXPECT_EQ(found, status) << value;
  }
}

TEST_F(KnapsackCuts, MirWeightJustBelowAMultipleKeepsItsRoundedValue) {
  // 1.5 / 1 gives f0 = 0.5; the weight 1 - 5e-9 has f = 1 - 5e-9 and the
  // rounding function's value (f - f0) / (1 - f0) = 1 - 1e-8. Taking the
  // weight as 1 would give 1, more than the cut may have.
  const std::vector<double> a{1.0, 1.0 - 5e-9}, x{0.75, 0.75}, u{1.0, 1.0};
  std::vector<double> coefs(2);
  int32_t status = 7;
  double rhs = 0.0, factor = 0.0, efficacy = 0.0;
  mir_cut_for_divisor(2, 0, 1.5, a.data(), x.data(), u.data(), 0.0, 1.0, status, rhs, coefs.data(), factor,
                      efficacy);
  ASSERT_EQ(status, 1);
  EXPECT_NEAR(coefs[1], 1.0 - 1e-8, 1e-15);
}

// ---- Lifted cover ----

TEST_F(KnapsackCuts, CoverOfBinariesIsTheCoverInequality) {
  // 4x1 + 4x2 + 4x3 <= 7: any two items overfill it.
  const Cut cut = run_cover({7.0, {4.0, 4.0, 4.0}, {0.9, 0.85, 0.0}, {1.0, 1.0, 1.0}});
  ASSERT_EQ(cut.result, 1);
  EXPECT_EQ(cut.coefs, (std::vector<double>{1.0, 1.0, 1.0}));
  EXPECT_EQ(cut.rhs, 1.0);
}

TEST_F(KnapsackCuts, CoverRefusals) {
  struct Case {
    const char* what;
    Knapsack k;
    int32_t result;
  };
  const Case cases[] = {
      {"a bound of 21", {7.0, {4.0, 4.0, 1.0}, {0.9, 0.85, 0.0}, {1.0, 1.0, 21.0}}, 0},
      {"no fractional value", {7.0, {4.0, 4.0, 4.0}, {1.0, 0.0, 0.0}, {1.0, 1.0, 1.0}}, 0},
      {"values integral within ZTOLIS", {7.0, {4.0, 4.0}, {1.0 - 1e-6, 1e-6}, {1.0, 1.0}}, 0},
      {"cannot be overfilled", {8.0, {4.0, 4.0}, {0.5, 0.5}, {1.0, 1.0}}, 0},
      {"overfilled by less than ZCOVER", {8.0 - 1e-5, {4.0, 4.0}, {0.5, 0.5}, {1.0, 1.0}}, 0},
      {"negative capacity", {-1.0, {4.0, 4.0}, {0.5, 0.5}, {1.0, 1.0}}, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(run_cover(c.k).result, c.result) << c.what;
}

TEST_F(KnapsackCuts, CoverTableLimitGivesMinusOneWithoutMessage) {
  // Thirty items of bound 20 form the cover (sum 600 > 590): the table
  // holds 600 sums; an item too heavy to fit is then lifted with
  // coefficient 591 over 20 copies, past the 10000 entries.
  Knapsack k;
  k.b = 590.0;
  for (int j = 0; j < 30; ++j) {
    k.a.push_back(1.0);
    k.x.push_back(19.9);
    k.u.push_back(20.0);
  }
  k.a.push_back(1000.0);
  k.x.push_back(0.0);
  k.u.push_back(20.0);
  captured_lines().clear();
  EXPECT_EQ(run_cover(k).result, -1);
  EXPECT_TRUE(captured_lines().empty());
}

TEST_F(KnapsackCuts, DpTableRanksWeights) {
  // Items (weight 3, bound 2, coefficient 1) and (weight 5, bound 1,
  // coefficient 2): sums 1..4 need at least 3, 5, 8, 11.
  std::vector<double> table(kKnapsackTableSize + 1);
  int32_t size = 0, overflow = 0;
  build_knapsack_dp_table(size, table.data(), 3.0, 2.0, 1.0, overflow);
  build_knapsack_dp_table(size, table.data(), 5.0, 1.0, 2.0, overflow);
  ASSERT_EQ(size, 4);
  EXPECT_EQ((std::vector<double>(table.begin() + 1, table.begin() + 5)), (std::vector<double>{3.0, 5.0, 8.0, 11.0}));
  EXPECT_EQ(rank_in_dp_table(size, table.data(), 2.9), 0.0);
  EXPECT_EQ(rank_in_dp_table(size, table.data(), 5.0), 2.0);
  EXPECT_EQ(rank_in_dp_table(size, table.data(), 100.0), 4.0);
  build_knapsack_dp_table(size, table.data(), 1.0, 20.0, 500.0, overflow);
  EXPECT_EQ(overflow, 1);
  EXPECT_EQ(size, 4);
}

// ---- Every cut holds at every integer point ----

// Calls visit(point) for every integer point of the box [0, u].
template <class Visit>
void for_each_point(const std::vector<double>& u, Visit visit) {
  std::vector<double> p(u.size(), 0.0);
  for (;;) {
    visit(p);
    size_t j = 0;
    while (j < p.size() && p[j] + 1.0 > u[j] + 1e-9) p[j++] = 0.0;
    if (j == p.size()) return;
    p[j] += 1.0;
  }
}

double dot(const std::vector<double>& c, const std::vector<double>& x) {
  double sum = 0.0;
  for (size_t j = 0; j < c.size(); ++j) sum += c[j] * x[j];
  return sum;
}

// Largest excess of the cut over the knapsack's integer points; with a
// slack, every point of the box counts with the least slack it needs.
double worst_excess(const Knapsack& k, const Cut& cut, bool with_slack) {
  double worst = -1e300;
  for_each_point(k.u, [&](const std::vector<double>& p) {
    const double weight = dot(k.a, p);
    if (!with_slack && weight > k.b + 1e-12) return;
    const double s = std::fmax(0.0, weight - k.b);
    worst = std::fmax(worst, dot(cut.coefs, p) + cut.continuous * s - cut.rhs);
  });
  return worst;
}

double excess_at(const Knapsack& k, const Cut& cut) { return dot(cut.coefs, k.x) + cut.continuous * k.s - cut.rhs; }

// The cover separator needs nonnegative weights: items of weight <= 0 are
// complemented on the way in and the cut mapped back, as the row
// separators do.
Cut run_cover_signed(const Knapsack& k) {
  Knapsack c = k;
  for (size_t j = 0; j < k.a.size(); ++j) {
    if (k.a[j] > 0.0) continue;
    c.a[j] = -k.a[j];
    c.b += c.a[j] * k.u[j];
    c.x[j] = k.u[j] - k.x[j];
  }
  Cut cut = run_cover(c);
  if (cut.result != 1) return cut;
  for (size_t j = 0; j < k.a.size(); ++j) {
    if (k.a[j] > 0.0) continue;
    // c (u - x) = c u - c x.
    cut.rhs -= cut.coefs[j] * k.u[j];
    cut.coefs[j] = -cut.coefs[j];
  }
  return cut;
}

// Shifts of tolerance size, half of them none.
constexpr double kNudges[] = {0.0, 0.0, 0.0, 0.0, 3e-10, -3e-10, 8e-10, -8e-10, 2e-9, -2e-9};
constexpr int32_t kNudgeCount = 10;

class RandomKnapsacks {
 public:
  explicit RandomKnapsacks(uint32_t seed) : rng_(seed) {}

  // n items with weights in halves from -5 to 9, some moved by less than a
  // few ZTOLDA so that ratios fall a hair beside integers, bounds up to
  // max_range, and a point of the LP relaxation filled greedily in a random
  // order.
  Knapsack next(int32_t n, int32_t max_range, bool with_slack) {
    Knapsack k;
    double most = 0.0;
    for (int32_t j = 0; j < n; ++j) {
      const double a = 0.5 * uniform(-10, 18) + kNudges[uniform(0, kNudgeCount - 1)];
      const double u = uniform(1, max_range);
      k.a.push_back(a);
      k.u.push_back(u);
      if (a > 0.0) most += a * u;
    }
    k.b = std::floor(most * uniform(15, 85) / 100.0) +
          (uniform(0, 1) == 0 ? 0.1 * uniform(0, 9) : kNudges[uniform(0, kNudgeCount - 1)]);
    std::vector<int32_t> order(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) order[static_cast<size_t>(j)] = j;
    std::shuffle(order.begin(), order.end(), rng_);
    k.x.assign(static_cast<size_t>(n), 0.0);
    double room = k.b;
    for (int32_t j : order)
      if (k.a[static_cast<size_t>(j)] <= 0.0) {
        k.x[static_cast<size_t>(j)] = k.u[static_cast<size_t>(j)] * uniform(0, 4) / 4.0;
        room -= k.a[static_cast<size_t>(j)] * k.x[static_cast<size_t>(j)];
      }
    for (int32_t j : order) {
      const double a = k.a[static_cast<size_t>(j)];
      if (a <= 0.0) continue;
      const double v = std::fmin(k.u[static_cast<size_t>(j)], std::fmax(0.0, room) / a);
      k.x[static_cast<size_t>(j)] = v;
      room -= a * v;
    }
    if (with_slack) {
      // Some points use the slack: push one item up past the capacity.
      const int32_t j = uniform(0, n - 1);
      k.x[static_cast<size_t>(j)] = std::fmin(k.u[static_cast<size_t>(j)], k.x[static_cast<size_t>(j)] + 0.5);
      k.s = std::fmax(0.0, dot(k.a, k.x) - k.b) * uniform(0, 2) / 2.0;
    }
    return k;
  }

  int32_t uniform(int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(rng_); }

 private:
  std::mt19937 rng_;
};

struct Tally {
  int32_t cuts = 0;
};

void check_cut(const Knapsack& k, const Cut& cut, bool with_slack, const char* who, int32_t trial, Tally& tally) {
  if (cut.result != 1) return;
  ++tally.cuts;
  EXPECT_LE(worst_excess(k, cut, with_slack), 1e-9) << who << " trial " << trial;
  EXPECT_GT(excess_at(k, cut), 0.0) << who << " trial " << trial;
}

TEST_F(KnapsackCuts, EveryMirAndCoverCutHoldsAtEveryIntegerPoint) {
  struct Mode {
    const char* name;
    int32_t max_range;
    bool with_slack;
  };
  const Mode modes[] = {{"binary", 1, false}, {"integer", 3, false}, {"binary, slack", 1, true},
                        {"integer, slack", 3, true}};
  for (const Mode& mode : modes) {
    RandomKnapsacks random(17u + static_cast<uint32_t>(mode.max_range) + (mode.with_slack ? 100u : 0u));
    Tally mir, cover;
    for (int32_t trial = 0; trial < 3000; ++trial) {
      const Knapsack k = random.next(random.uniform(2, mode.max_range == 1 ? 7 : 5), mode.max_range, mode.with_slack);
      check_cut(k, run_mir(k, mode.with_slack ? 1 : 0), mode.with_slack, "MIR", trial, mir);
      check_cut(k, run_cover_signed(k), mode.with_slack, "cover", trial, cover);
    }
    // The tables must exercise both separators, not pass vacuously.
    EXPECT_GT(mir.cuts, 100) << mode.name;
    EXPECT_GT(cover.cuts, 100) << mode.name;
  }
}

}  // namespace
