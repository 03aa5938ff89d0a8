// A caller's cut manager on p0033: at the top node and early nodes its CM
// entry separates cover cuts of the knapsack rows at the node's LP solution
// and hands them to the search, alternately through KLSTORECUTS with
// KLLOADCUTS and through KLADDCUTS. The search must still prove the
// published optimum, every cut must hold at the optimal solution, and the
// listings must show the cuts where the exports put them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

// One row a x <= b over binaries, in the caller's column numbers.
struct Knapsack {
  std::vector<int32_t> columns;
  std::vector<double> weights;
  double b = 0.0;
};

struct Cut {
  std::vector<int32_t> columns;
  std::vector<double> coefficients;
  double rhs = 0.0;
};

std::vector<Knapsack> knapsacks;
std::vector<Cut> cuts_added;
int32_t stored_through_pool = 0;
int32_t added_straight = 0;
int32_t listing_faults = 0;
int32_t cm_calls = 0;

// The node's LP value of caller column j.
double lp_value(int32_t j) {
  const int32_t p = kl::col_from_caller(j);
  return kl::real_array(kl::ARR_X)[p] *
         kl::scale_powers[kl::scale_exponent(kl::int_array(kl::ARR_POS_STATUS)[p])];
}

// A cover of the row, built greedily from the items nearest 1 (after
// complementing those with negative weights), as the cut
// sum x over C+ - sum x over C- <= |C| - 1 - |C-|, when the LP violates it.
bool separate_cover(const Knapsack& row, Cut& cut) {
  const size_t n = row.columns.size();
  std::vector<double> y(n);
  double capacity = row.b;
  for (size_t k = 0; k < n; ++k) {
    const double x = lp_value(row.columns[k]);
    y[k] = row.weights[k] >= 0.0 ? x : 1.0 - x;
    if (row.weights[k] < 0.0) capacity -= row.weights[k];
  }
  std::vector<size_t> order(n);
  for (size_t k = 0; k < n; ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return y[a] > y[b]; });
  double weight = 0.0;
  double lhs = 0.0;
  std::vector<size_t> cover;
  for (const size_t k : order) {
    if (weight > capacity + 1e-9) break;
    cover.push_back(k);
    weight += std::fabs(row.weights[k]);
    lhs += y[k];
  }
  if (weight <= capacity + 1e-9) return false;
  const double size = static_cast<double>(cover.size());
  if (lhs <= size - 1.0 + 1e-4) return false;
  cut = Cut{};
  cut.rhs = size - 1.0;
  for (const size_t k : cover) {
    const bool complemented = row.weights[k] < 0.0;
    cut.columns.push_back(row.columns[k]);
    cut.coefficients.push_back(complemented ? -1.0 : 1.0);
    if (complemented) cut.rhs -= 1.0;
  }
  return true;
}

// The LP's cut rows through KLGETCNLIST: as many as the cuts this entry
// put into the LP at this node, at least (earlier nodes' cuts may remain).
void check_listing(int32_t expected_at_least) {
  int32_t count = -1;
  if (KLGETCNLIST(0, 0, &count, 0, nullptr) != 0 || count < expected_at_least) ++listing_faults;
}

int32_t cover_cut_manager() {
  ++cm_calls;
  int32_t node = 0;
  KLGETIPV(KLIA_NODES, &node);
  if (node > 20 || cuts_added.size() >= 60) return 0;
  int32_t added_here = 0;
  for (const Knapsack& row : knapsacks) {
    Cut cut;
    if (!separate_cover(row, cut)) continue;
    const int32_t type = 3;
    const char sense = 'L';
    const int32_t start[2] = {0, static_cast<int32_t>(cut.columns.size())};
    if (cuts_added.size() % 2 == 0) {
      int32_t index = -1;
      if (KLSTORECUTS(1, 1, &type, &sense, &cut.rhs, start, &index, cut.columns.data(), cut.coefficients.data()) !=
              0 ||
          KLLOADCUTS(type, 1, 1, &index) != 0)
        return 0;
      ++stored_through_pool;
    } else {
      if (KLADDCUTS(1, &type, &sense, &cut.rhs, start, cut.columns.data(), cut.coefficients.data()) != 0) return 0;
      ++added_straight;
    }
    cuts_added.push_back(cut);
    ++added_here;
  }
  if (added_here > 0) check_listing(added_here);
  return added_here > 0 ? 1 : 0;
}

// The L and G rows whose columns are all binaries, as a x <= b.
void read_knapsacks() {
  knapsacks.clear();
  int32_t rows = 0, columns = 0, elements = 0;
  KLGETIPV(KLIA_NROW, &rows);
  KLGETIPV(KLIA_NCOLS, &columns);
  KLGETIPV(KLIA_NELEM, &elements);
  std::vector<char> type(static_cast<size_t>(rows));
  std::vector<double> rhs(static_cast<size_t>(rows));
  KLGETROWTYPE(type.data(), 0, rows - 1);
  KLGETRHS(rhs.data(), 0, rows - 1);
  std::vector<int32_t> starts(static_cast<size_t>(rows) + 1), cols(static_cast<size_t>(elements) + 1);
  std::vector<double> values(static_cast<size_t>(elements) + 1);
  int32_t count = 0;
  KLGETROWS(starts.data(), cols.data(), values.data(), elements + 1, &count, 0, rows - 1);
  std::vector<double> lower(static_cast<size_t>(columns)), upper(static_cast<size_t>(columns));
  KLGETBDL(lower.data(), 0, columns - 1);
  KLGETBDU(upper.data(), 0, columns - 1);
  for (int32_t i = 0; i < rows; ++i) {
    const char t = type[static_cast<size_t>(i)];
    if (t != 'L' && t != 'G') continue;
    const double sign = t == 'L' ? 1.0 : -1.0;
    Knapsack row;
    row.b = sign * rhs[static_cast<size_t>(i)];
    bool binary = true;
    for (int32_t k = starts[static_cast<size_t>(i)]; k < starts[static_cast<size_t>(i) + 1]; ++k) {
      const int32_t j = cols[static_cast<size_t>(k)];
      binary = binary && lower[static_cast<size_t>(j)] == 0.0 && upper[static_cast<size_t>(j)] == 1.0;
      row.columns.push_back(j);
      row.weights.push_back(sign * values[static_cast<size_t>(k)]);
    }
    if (binary && !row.columns.empty()) knapsacks.push_back(row);
  }
}

class CutManagerSearch : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir_;
};

TEST_F(CutManagerSearch, CoverCutsOfTheCallerKeepTheOptimumOfP0033) {
  KLTEST_REQUIRE_DATA(file, "miplib3/p0033.mps");
  const double expected = kltest::known_objectives().at("p0033");
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_CUTSTRAT, 0);
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  ASSERT_EQ(KLSETPROB(dir_.file("p0033").c_str()), 0);
  read_knapsacks();
  ASSERT_FALSE(knapsacks.empty());
  cuts_added.clear();
  stored_through_pool = added_straight = listing_faults = cm_calls = 0;
  KLDEFINECMENTRY(cover_cut_manager);
  const int32_t result = KLMINIM("g");
  KLDEFINECMENTRY(nullptr);
  ASSERT_EQ(result, 0);
  int32_t nodes = 0;
  KLGETIPV(KLIA_NODES, &nodes);
  std::printf("p0033: %d cover cuts through the pool, %d straight into the LP, %d CM calls, %d nodes\n",
              stored_through_pool, added_straight, cm_calls, nodes);

  EXPECT_GT(stored_through_pool, 0);
  EXPECT_GT(added_straight, 0);
  EXPECT_EQ(listing_faults, 0);
  int32_t mip_status = 0;
  double dintsl = 0.0;
  KLGETIPV(KLIA_GLSTATUS, &mip_status);
  KLGETDPV(KLDA_DINTSL, &dintsl);
  EXPECT_EQ(mip_status, 6);
  EXPECT_NEAR(dintsl, expected, 1e-6 * std::fabs(expected));

  // Every cut holds at the optimal solution.
  int32_t columns = 0;
  KLGETIPV(KLIA_NCOLS, &columns);
  std::vector<double> x(static_cast<size_t>(columns));
  ASSERT_EQ(KLSOLUTION(x.data(), nullptr, nullptr, nullptr), 0);
  for (const Cut& cut : cuts_added) {
    double activity = 0.0;
    for (size_t k = 0; k < cut.columns.size(); ++k)
      activity += cut.coefficients[k] * x[static_cast<size_t>(cut.columns[k])];
    EXPECT_LE(activity, cut.rhs + 1e-6);
  }
}

}  // namespace
