// The infeasible-set search on the infeasible Netlib LPs: it reaches the
// verdict KLMINIM reaches on the same problem with the same controls, and
// every set it names is infeasible alone and, when small enough to check
// member by member, irreducible. The checks use the library's own solver on
// the loaded problem with every other row made an N row and every other
// column freed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/iis.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"
#include "support/output_capture.h"

namespace {

constexpr int32_t kOptimal = 1;
constexpr int32_t kInfeasible = 2;
constexpr int32_t kUnbounded = 5;
// Sets up to this size are checked member by member: a re-load and a solve
// per member.
constexpr size_t kIrreducibilityCheckLimit = 60;

bool printed(const std::string& words) {
  for (const kltest::CapturedLine& line : kltest::captured_lines())
    if (line.text.find(words) != std::string::npos) return true;
  return false;
}

class IisData : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir_;

  void load(const std::string& file) {
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    // The solution file goes beside the problem name: never into the data.
    ASSERT_EQ(KLSETPROB(dir_.file(GetParam()).c_str()), 0);
  }

  int32_t minimise() {
    EXPECT_EQ(KLMINIM(""), 0);
    int32_t status = 0;
    KLGETIPV(KLIA_LPSTATUS, &status);
    return status;
  }

  // The LP status of the problem with only the members of set kept, on a
  // zero objective (a feasibility question: optimal or unbounded both mean
  // feasible). Positions as the search gives them.
  int32_t status_of_subset(const std::string& file, const std::vector<int32_t>& set) {
    load(file);
    const int32_t base = kl::icv(kl::ic::IFDBG);
    const int32_t first_col = kl::store.first_col;
    int32_t nrow = 0, ncol = 0;
    KLGETIPV(KLIA_NROW, &nrow);
    KLGETIPV(KLIA_NCOLS, &ncol);
    std::vector<bool> member(static_cast<size_t>(first_col + ncol), false);
    for (int32_t p : set) member[static_cast<size_t>(p)] = true;
    std::vector<char> types(static_cast<size_t>(nrow) + 1, '\0');
    KLGETROWTYPE(types.data(), 1 - base, nrow - base);
    std::vector<int32_t> rows;
    for (int32_t i = 1; i <= nrow; ++i)
      if (!member[static_cast<size_t>(i)] && types[static_cast<size_t>(i - 1)] != 'N') rows.push_back(i - base);
    std::string n_types(rows.size(), 'N');
    if (!rows.empty()) {
      EXPECT_EQ(KLCHGROWTYPE(static_cast<int32_t>(rows.size()), rows.data(), n_types.c_str()), 0);
    }
    std::vector<int32_t> cols, all_cols;
    std::string letters;
    std::vector<double> values;
    for (int32_t k = 0; k < ncol; ++k) {
      all_cols.push_back(k + 1 - base);
      if (member[static_cast<size_t>(first_col + k)]) continue;
      cols.insert(cols.end(), {k + 1 - base, k + 1 - base});
      letters += "LU";
      values.insert(values.end(), {-1e20, 1e20});
    }
    if (!cols.empty()) {
      EXPECT_EQ(KLCHGBDS(static_cast<int32_t>(cols.size()), cols.data(), letters.c_str(), values.data()), 0);
    }
    const std::vector<double> zeros(all_cols.size(), 0.0);
    EXPECT_EQ(KLCHGOBJ(static_cast<int32_t>(all_cols.size()), all_cols.data(), zeros.data()), 0);
    return minimise();
  }
};

TEST_P(IisData, SearchAgreesWithTheDriverAndItsSetsAreIrreducible) {
  KLTEST_REQUIRE_DATA(file, "infeas/" + GetParam() + ".mps");
  load(file);
  const int32_t verdict = minimise();
  kltest::captured_lines().clear();
  ASSERT_EQ(KLIIS(""), 0);
  const std::vector<std::vector<int32_t>> sets = kl::iis_sets_found;
  EXPECT_EQ(verdict != kInfeasible, printed("not infeasible")) << "KLMINIM lp status " << verdict;
  const bool objective_only = printed("no infeasible set can be isolated");
  EXPECT_EQ(verdict == kInfeasible && !objective_only, !sets.empty());

  for (const std::vector<int32_t>& set : sets) {
    EXPECT_EQ(status_of_subset(file, set), kInfeasible) << "a set of " << set.size() << " is feasible alone";
    if (set.size() > kIrreducibilityCheckLimit) continue;
    for (size_t k = 0; k < set.size(); ++k) {
      std::vector<int32_t> smaller = set;
      smaller.erase(smaller.begin() + static_cast<std::ptrdiff_t>(k));
      const int32_t status = status_of_subset(file, smaller);
      EXPECT_TRUE(status == kOptimal || status == kUnbounded) << "member " << set[k] << " is not needed";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Infeas, IisData, ::testing::ValuesIn(kltest::mps_problems("infeas")));
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(IisData);

}  // namespace
