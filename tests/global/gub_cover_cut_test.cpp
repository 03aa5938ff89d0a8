// GUB cover cuts: the separator on item arrays with known answers and on
// random grouped knapsacks checked against all their integer points, and
// the row separator on a loaded problem whose knapsack row overlaps set
// rows, with its cuts checked in the original columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "global/knapsack_cuts.h"
#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/array_problem.h"
#include "problem/cut_store.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"

namespace {

using namespace kl;
using namespace kltest;

// Items of group g are starts[g] .. starts[g + 1] - 1; at most one item of a
// group may be 1.
struct GroupedKnapsack {
  double b = 0.0;
  std::vector<int32_t> starts{0};
  std::vector<double> w, x;
  int32_t groups() const { return static_cast<int32_t>(starts.size()) - 1; }
  void group(std::vector<std::pair<double, double>> items) {
    for (const auto& [weight, value] : items) {
      w.push_back(weight);
      x.push_back(value);
    }
    starts.push_back(static_cast<int32_t>(w.size()));
  }
};

struct GubCut {
  int32_t result = -9;
  double rhs = 0.0;
  std::vector<double> coefs;
  double efficacy = 0.0;
};

class GubCover : public LibrarySession {
 protected:
  // The separator reads reduced costs only to order groups; with no LP they
  // are all zero.
  GubCut run(const GroupedKnapsack& k) {
    const int32_t n = static_cast<int32_t>(k.w.size());
    std::vector<double> reduced(static_cast<size_t>(n) + 1, 0.0);
    void* const saved = array_cells[ARR_REDUCED_COSTS];
    array_cells[ARR_REDUCED_COSTS] = reduced.data();
    GubCut cut;
    cut.coefs.assign(static_cast<size_t>(n), 0.0);
    std::vector<int32_t> columns(static_cast<size_t>(n)), order(static_cast<size_t>(k.groups())),
        flags(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) columns[static_cast<size_t>(i)] = i + 1;
    std::vector<double> weights = k.w, keys(static_cast<size_t>(k.groups())), table(kKnapsackTableSize + 1);
    separate_gub_cover(k.groups(), k.starts.data(), n, k.b, columns.data(), weights.data(), k.x.data(), cut.result,
                       cut.rhs, cut.coefs.data(), cut.efficacy, order.data(), keys.data(), table.data(),
                       flags.data());
    array_cells[ARR_REDUCED_COSTS] = saved;
    EXPECT_EQ(weights, k.w);  // handed back unchanged
    return cut;
  }
};

// Largest excess of the cut over the points with at most one item per
// group at 1 that fit the knapsack.
double worst_excess(const GroupedKnapsack& k, const GubCut& cut) {
  std::vector<int32_t> pick(static_cast<size_t>(k.groups()), -1);  // -1: none of the group
  double worst = -1e300;
  for (;;) {
    double weight = 0.0, lhs = 0.0;
    for (int32_t g = 0; g < k.groups(); ++g) {
      if (pick[static_cast<size_t>(g)] < 0) continue;
      const int32_t i = k.starts[static_cast<size_t>(g)] + pick[static_cast<size_t>(g)];
      weight += k.w[static_cast<size_t>(i)];
      lhs += cut.coefs[static_cast<size_t>(i)];
    }
    if (weight <= k.b + 1e-12) worst = std::fmax(worst, lhs - cut.rhs);
    int32_t g = 0;
    while (g < k.groups()) {
      const int32_t size = k.starts[static_cast<size_t>(g) + 1] - k.starts[static_cast<size_t>(g)];
      if (++pick[static_cast<size_t>(g)] < size) break;
      pick[static_cast<size_t>(g)] = -1;
      ++g;
    }
    if (g == k.groups()) return worst;
  }
}

double excess_at(const GroupedKnapsack& k, const GubCut& cut) {
  double lhs = -cut.rhs;
  for (size_t i = 0; i < k.x.size(); ++i) lhs += cut.coefs[i] * k.x[i];
  return lhs;
}

TEST_F(GubCover, MemberAtOneIsLiftedDownAndRaisesTheRhs) {
  // Groups {a, b} and {c} fractional, {d} at 1; a weightless member e of
  // the first group is left out of the cover and of the cut.
  GroupedKnapsack k;
  k.b = 9.0;
  k.group({{4.0, 0.4}, {4.0, 0.4}, {0.0, 0.1}});
  k.group({{4.0, 0.9}});
  k.group({{3.0, 1.0}});
  const GubCut cut = run(k);
  ASSERT_EQ(cut.result, 1);
  // Cover {a, c} gives a + c <= 1; b shares a's group and lifts to 1; d at
  // 1 is lowered with coefficient f(9) - 1 = 1, which the rhs gains.
  EXPECT_EQ(cut.coefs, (std::vector<double>{1.0, 1.0, 0.0, 1.0, 1.0}));
  EXPECT_EQ(cut.rhs, 2.0);
  EXPECT_LE(worst_excess(k, cut), 1e-9);
}

TEST_F(GubCover, WeightlessMembersOfZeroGroupsAreLifted) {
  // The zero group {f, g} holds a weightless member; it is lifted like the
  // others and the cut stays valid.
  GroupedKnapsack k;
  k.b = 7.0;
  k.group({{4.0, 0.9}});
  k.group({{4.0, 0.85}});
  k.group({{0.0, 0.0}, {4.0, 0.0}});
  const GubCut cut = run(k);
  ASSERT_EQ(cut.result, 1);
  EXPECT_EQ(cut.coefs[0], 1.0);
  EXPECT_EQ(cut.coefs[1], 1.0);
  EXPECT_EQ(cut.coefs[3], 1.0);  // 4 more cannot fit beside either cover item
  EXPECT_EQ(cut.rhs, 1.0);
  EXPECT_LE(worst_excess(k, cut), 1e-9);
}

TEST_F(GubCover, WeightlessMemberWithACoefficientCountsInTheLifting) {
  // The cover {c1, c2} just fails to leave room for one of them: b sits
  // within ZTOLDA below 4, so the weightless e (5e-10) of a zero group is
  // lifted to 1. Were e left out of the table, g (weight 0.1) would lift to
  // 1 too, and e = g = 1 (weight 0.1, it fits) would break the cut.
  GroupedKnapsack k;
  k.b = 4.0 - 7e-10;
  k.group({{4.0, 0.9}});
  k.group({{4.0, 0.85}});
  k.group({{5e-10, 0.0}});
  k.group({{0.1, 0.0}});
  const GubCut cut = run(k);
  ASSERT_EQ(cut.result, 1);
  EXPECT_EQ(cut.rhs, 1.0);
  EXPECT_EQ(cut.coefs[2] + cut.coefs[3], 1.0);
  EXPECT_LE(worst_excess(k, cut), 1e-9);
}

TEST_F(GubCover, ReportedCutsCutOffThePoint) {
  // 5 + 5e-10 fits b = 5 - 5e-10 within ZTOLDA, so the weightless member of
  // the other group, at 1, is lifted to -1: the violation must count it.
  GroupedKnapsack k;
  k.b = 5.0 - 5e-10;
  k.group({{5.5, 0.3}, {5.5, 0.18}});
  k.group({{5.0 + 5e-10, 0.0}});
  k.group({{3.0, 0.0}, {0.0, 1.0}});
  const GubCut cut = run(k);
  if (cut.result == 1) {
    EXPECT_GT(excess_at(k, cut), 0.0);
  }
  EXPECT_LE(worst_excess(k, cut), 1e-9);
}

TEST_F(GubCover, Refusals) {
  struct Case {
    const char* what;
    GroupedKnapsack k;
  };
  std::vector<Case> cases;
  {
    GroupedKnapsack k;  // every group at 0 or 1
    k.b = 7.0;
    k.group({{4.0, 1.0}});
    k.group({{4.0, 0.0}});
    cases.push_back({"no fractional group", k});
  }
  {
    GroupedKnapsack k;  // one member per group at most: 4 + 3 fits 8
    k.b = 8.0;
    k.group({{4.0, 0.5}, {3.0, 0.5}});
    k.group({{4.0, 0.5}});
    cases.push_back({"the fractional groups cannot overfill it", k});
  }
  {
    GroupedKnapsack k;
    k.b = 3.0;
    k.group({{4.0, 1.0}});
    k.group({{4.0, 0.5}});
    cases.push_back({"the members at 1 overfill it already", k});
  }
  for (const Case& c : cases) EXPECT_EQ(run(c.k).result, 0) << c.what;
}

// Shifts of tolerance size, half of them none.
constexpr double kNudges[] = {0.0, 0.0, 0.0, 0.0, 3e-10, -3e-10, 8e-10, -8e-10, 2e-9, -2e-9};
constexpr int32_t kNudgeCount = 10;

TEST_F(GubCover, EveryCutHoldsAtEveryIntegerPoint) {
  std::mt19937 rng(41);
  auto uniform = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(rng); };
  int32_t cuts = 0;
  for (int32_t trial = 0; trial < 40000; ++trial) {
    GroupedKnapsack k;
    const int32_t groups = uniform(1, 5);
    double load = 0.0;
    for (int32_t g = 0; g < groups; ++g) {
      const int32_t size = uniform(1, 3);
      const int32_t kind = uniform(0, 5);  // 0 zero, 1 at one, else fractional
      const int32_t one = uniform(0, size - 1);
      std::vector<std::pair<double, double>> items;
      double left = kind == 5 ? 1.0 : uniform(1, 9) / 10.0;
      for (int32_t i = 0; i < size; ++i) {
        // Some weights are of tolerance size, or a hair off a half; none is
        // negative, as the row separator's rewriting guarantees.
        const double nudge = kNudges[uniform(0, kNudgeCount - 1)];
        const double half = 0.5 * uniform(0, 16);
        const double w = uniform(0, 4) == 0 || half == 0.0 ? std::fabs(nudge) : half + nudge;
        double v = 0.0;
        if (kind == 1) {
          v = i == one ? 1.0 : 0.0;
        } else if (kind >= 2) {
          v = i + 1 == size ? left : left * uniform(0, 10) / 10.0;
          left -= v;
        }
        items.emplace_back(w, v);
        load += w * v;
      }
      k.group(items);
    }
    k.b = std::floor(load) + (uniform(0, 1) == 0 ? 0.5 * uniform(0, 2) : kNudges[uniform(0, kNudgeCount - 1)]);
    const GubCut cut = run(k);
    if (cut.result != 1) continue;
    ++cuts;
    EXPECT_LE(worst_excess(k, cut), 1e-9) << "trial " << trial;
    EXPECT_GT(excess_at(k, cut), 0.0) << "trial " << trial;
  }
  EXPECT_GT(cuts, 2000);
}

// ---- The row separator on a loaded problem ----

// Row 1, the knapsack: 3x1 + 4x2 + 5x3 - 2x4 + 6x5 - 3x6 + 2x7 <= 9, with
// the set rows x1 + x2 <= 1, x3 - x4 <= 0 (x4 enters complemented) and
// x5 + x6 <= 1; x7 lies in no set row.
// With greater_side the knapsack is loaded as its G row
// -3x1 - 4x2 - ... >= -9 and separated on its side 1.
class GubRow : public LibrarySession, public ::testing::WithParamInterface<bool> {
 protected:
  static constexpr int32_t kColumns = 7;
  void SetUp() override {
    LibrarySession::SetUp();
    KLSETICV(KLIC_IFPRES, 0);
    greater_side_ = GetParam();
    const double sign = greater_side_ ? -1.0 : 1.0;
    ArrayProblem p;
    p.row(greater_side_ ? 'G' : 'L', sign * 9.0);
    p.row('L', 1.0);
    p.row('L', 0.0);
    p.row('L', 1.0);
    const double knapsack[kColumns] = {3.0, 4.0, 5.0, -2.0, 6.0, -3.0, 2.0};
    const int32_t set_row[kColumns] = {1, 1, 2, 2, 3, 3, -1};
    const double set_coef[kColumns] = {1.0, 1.0, 1.0, -1.0, 1.0, 1.0, 0.0};
    for (int32_t j = 0; j < kColumns; ++j) {
      std::vector<std::pair<int32_t, double>> elements{{0, sign * knapsack[j]}};
      if (set_row[j] > 0) elements.emplace_back(set_row[j], set_coef[j]);
      p.column(1.0, 0.0, 1.0, elements);
      p.entity('B', j);
    }
    ASSERT_EQ(p.load_global(), 0);
    ASSERT_EQ(KLMAXIM("l"), 0);
    build_row_copy();
    OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
    row_type[1] |= 0x20000;
    for (int32_t r = 2; r <= 4; ++r) row_type[r] |= 0x8000;
    base_ = icv(ic::IFDBG);
    icv(ic::IFDBG) = 0;
  }
  void TearDown() override {
    icv(ic::IFDBG) = base_;
    LibrarySession::TearDown();
  }

  void set_values(const double (&v)[kColumns]) {
    OneBased<double> x = real_array(ARR_X);
    for (int32_t j = 0; j < kColumns; ++j) x[store.first_col + j] = v[j];
  }

  // The newest pool record as a cut over x1..x7.
  GubCut newest_cut() {
    GubCut cut;
    cut.coefs.assign(kColumns, 0.0);
    int32_t newest = 0;
    for (int32_t r = 1; r <= icv(ic::MXCPOL); ++r)
      if (cut_record_field(r, CUT_FIELD_FIRST) >= 0 &&
          (newest == 0 || cut_record_field(r, CUT_FIELD_FIRST) > cut_record_field(newest, CUT_FIELD_FIRST)))
        newest = r;
    if (newest == 0) return cut;
    const int32_t first = cut_record_field(newest, CUT_FIELD_FIRST);
    for (int32_t e = first; e < first + cut_record_field(newest, CUT_FIELD_LENGTH); ++e)
      cut.coefs[static_cast<size_t>(int_array(ARR_CUT_ELEM_COLUMN)[e] - store.first_col)] =
          real_array(ARR_CUT_ELEM_VALUE)[e];
    cut.rhs = real_array(ARR_CUT_RHS)[newest];
    cut.result = newest;
    return cut;
  }

  // Largest excess over the binary points of all four rows.
  static double worst_excess(const GubCut& cut) {
    const double knapsack[kColumns] = {3.0, 4.0, 5.0, -2.0, 6.0, -3.0, 2.0};
    double worst = -1e300;
    for (int32_t bits = 0; bits < (1 << kColumns); ++bits) {
      auto v = [&](int32_t j) { return static_cast<double>((bits >> j) & 1); };
      double weight = 0.0, lhs = 0.0;
      for (int32_t j = 0; j < kColumns; ++j) {
        weight += knapsack[j] * v(j);
        lhs += cut.coefs[static_cast<size_t>(j)] * v(j);
      }
      if (weight > 9.0 || v(0) + v(1) > 1.0 || v(2) - v(3) > 0.0 || v(4) + v(5) > 1.0) continue;
      worst = std::fmax(worst, lhs - cut.rhs);
    }
    return worst;
  }

  int32_t side() const { return greater_side_ ? 1 : 0; }

  int32_t base_ = 1;
  bool greater_side_ = false;
};

TEST_P(GubRow, GroupsFollowTheSetRows) {
  set_values({0.5, 0.5, 0.6, 0.8, 0.5, 0.2, 0.3});
  const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const int32_t n = start[2] - start[1];
  ASSERT_EQ(n, kColumns);
  std::vector<int32_t> members(kColumns), group_starts(kColumns + 1);
  int32_t marked = 0, groups = 0, inconsistent = 0;
  prepare_cut_row(n, &int_array(ARR_ROW_COPY_COL)[start[1]], marked, groups, members.data(), group_starts.data(),
                  inconsistent);
  EXPECT_EQ(marked, kColumns);
  EXPECT_EQ(inconsistent, 0);
  ASSERT_EQ(groups, 4);
  // Each set row gives a group of two (x4 complemented in its own), x7 a
  // group of one, placed last.
  std::vector<std::vector<int32_t>> found;
  for (int32_t g = 0; g < groups; ++g)
    found.emplace_back(members.begin() + group_starts[static_cast<size_t>(g)],
                       members.begin() + group_starts[static_cast<size_t>(g) + 1]);
  std::sort(found.begin(), found.end() - 1);
  EXPECT_EQ(found, (std::vector<std::vector<int32_t>>{{1, 2}, {3, -4}, {5, 6}, {7}}));
}

TEST_P(GubRow, StoredCutsHoldInTheOriginalColumns) {
  // Points that put the knapsack over its capacity, with every group rule
  // kept: negative weights (x4 complemented, x6 through its group's slack),
  // members at 1 and weightless members all take part.
  std::mt19937 rng(5);
  auto tenth = [&]() { return std::uniform_int_distribution<int32_t>(0, 10)(rng) / 10.0; };
  int32_t stored = 0;
  for (int32_t trial = 0; trial < 400; ++trial) {
    const double x1 = tenth(), x2 = (1.0 - x1) * tenth();
    const double x4 = tenth(), x3 = x4 * tenth();
    const double x5 = tenth(), x6 = (1.0 - x5) * tenth();
    set_values({x1, x2, x3, x4, x5, x6, tenth()});
    int32_t result = -9, list_count = 0;
    const int32_t before = search_record.stored_cut_count;
    separate_row_gub_cover_cut(1, side(), result, 0, 0, 0, list_count, nullptr);
    EXPECT_EQ(result == 1, search_record.stored_cut_count == before + 1);
    if (result != 1) continue;
    ++stored;
    const GubCut cut = newest_cut();
    EXPECT_EQ(cut_record_field(cut.result, CUT_FIELD_TYPE), 0x81);
    EXPECT_EQ(cut_record_field(cut.result, CUT_FIELD_FLAGS) & 0x300, 0x300);
    EXPECT_LE(worst_excess(cut), 1e-9) << "trial " << trial;
    double lhs = -cut.rhs;
    OneBased<double> x = real_array(ARR_X);
    for (int32_t j = 0; j < kColumns; ++j) lhs += cut.coefs[static_cast<size_t>(j)] * x[store.first_col + j];
    EXPECT_GT(lhs, 0.0) << "trial " << trial;
  }
  EXPECT_GT(stored, 20);
}

TEST_P(GubRow, SingleModeListsEachCutOnce) {
  set_values({0.5, 0.5, 1.0, 1.0, 0.5, 0.0, 0.5});
  int32_t list[1] = {-1};
  int32_t list_count = 0, result = 0;
  separate_row_gub_cover_cut(1, side(), result, 1, 9, 1, list_count, list);
  ASSERT_EQ(result, 1);
  ASSERT_EQ(list_count, 1);
  EXPECT_EQ(cut_record_field(list[0], CUT_FIELD_TYPE), 9);  // the caller's type
  const GubCut cut = newest_cut();
  EXPECT_EQ(cut.result, list[0]);
  // A second cut finds the list full.
  separate_row_gub_cover_cut(1, side(), result, 1, 9, 1, list_count, list);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(list_count, 1);
  EXPECT_EQ(search_record.stored_cut_count, 2);
}

INSTANTIATE_TEST_SUITE_P(BothSides, GubRow, ::testing::Bool());

}  // namespace
