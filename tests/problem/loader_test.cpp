// Loading problems through KLLOADPROB, KLLOADQPROB, KLLOADGLOBAL and
// KLLOADQGLOBAL, checked on the stored arrays.
#include <gtest/gtest.h>

#include <limits>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "problem/array_problem.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using kl::int_array;
using kl::real_array;

constexpr double kInf = 1e20;

using kltest::ArrayProblem;
using Problem = ArrayProblem;

uint32_t flags_of(int32_t p) { return static_cast<uint32_t>(int_array(kl::ARR_POS_STATUS)[p]) & 0xFFFFFFu; }
int32_t position(int32_t caller_column) { return kl::store.first_col + caller_column; }
std::string name_of(int32_t p) {
  return std::string(static_cast<const char*>(kl::array_cells[kl::ARR_NAME_TABLE]) + (p - 1) * 8 * kl::name_words,
                     static_cast<size_t>(8 * kl::name_words));
}

class Loader : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    // Stored values are checked as given.
    KLSETICV(KLIC_IFSCAL, 0);
  }

  // A getter refuses: no problem is loaded.
  static void expect_no_problem() {
    EXPECT_LT(kl::problem_state, 1);
    EXPECT_EQ(kl::array_cells[kl::ARR_POS_STATUS], nullptr);
    EXPECT_EQ(kl::array_cells[kl::ARR_ELEM_ROW], nullptr);
    double value = 0.0;
    kl::getobj(&value, 0, 0, kl::QUERY_CALLER_FORM);
    EXPECT_EQ(kl::status_code, KL_STATUS_REPORTED);
    EXPECT_EQ(kl::error_number, 91);
  }
};

// Rows E, G, L, N, R; a free column, one bounded at -5e19 and one at -4.9e19.
Problem mixed_lp() {
  Problem lp;
  lp.row('E', 1.0);
  lp.row('G', 2.0);
  lp.row('L', 3.0);
  lp.row('N', 0.0);
  lp.row('R', 4.0, -5.0);
  lp.column(1.5, -kInf, kInf, {{0, 1.0}, {3, 2.0}, {4, 3.0}});
  lp.column(-2.0, -5e19, 5e19, {{1, 4.0}, {2, 5.0}});
  lp.column(0.0, -4.9e19, 7.0, {{2, 6.0}});
  return lp;
}

TEST_F(Loader, LinearProblemWithEveryRowTypeLoads) {
  KLSETICV(KLIC_NRXTRA, 2);
  ASSERT_EQ(mixed_lp().load("C:\\models\\plant7"), 0);
  EXPECT_EQ(kl::problem_state, 1);
  EXPECT_NE(kl::problem_flags & kl::PF_LOADED, 0);
  EXPECT_EQ(kl::global_status, 1);
  EXPECT_EQ(kl::nrow, 5);
  EXPECT_EQ(kl::spare_rows_left, 2);
  EXPECT_EQ(kl::store.first_col, 8);
  EXPECT_EQ(kl::nseq, 10);
  EXPECT_EQ(kl::nelem, 6);

  // Row words and the slacks: activity + slack = rhs.
  const int32_t types[] = {1, 2, 4, 8, 4};
  const uint32_t words[] = {0x612, 0x402, 0x202, 0x3, 0x602};
  const double slack_lower[] = {0, -kInf, 0, -kInf, 0};
  const double slack_upper[] = {0, 0, kInf, kInf, 5};
  for (int32_t i = 1; i <= 5; ++i) {
    EXPECT_EQ(int_array(kl::ARR_ROW_TYPE)[i], types[i - 1]) << i;
    EXPECT_EQ(flags_of(i), words[i - 1]) << i;
    EXPECT_EQ(real_array(kl::ARR_LOWER)[i], slack_lower[i - 1]) << i;
    EXPECT_EQ(real_array(kl::ARR_UPPER)[i], slack_upper[i - 1]) << i;
    EXPECT_EQ(real_array(kl::ARR_RHS)[i], mixed_lp().rhs[i - 1]) << i;
  }
  for (int32_t i = 6; i <= 7; ++i) {
    EXPECT_EQ(flags_of(i), 0x10u) << "spare row " << i;
    EXPECT_EQ(int_array(kl::ARR_ROW_TYPE)[i], 0);
  }

  // Columns: the free one is nonbasic at zero; -5e19 is infinite, -4.9e19 not.
  EXPECT_EQ(flags_of(8), 0x101u);
  EXPECT_EQ(flags_of(9), 0x101u);
  EXPECT_EQ(real_array(kl::ARR_LOWER)[9], -kInf);
  EXPECT_EQ(real_array(kl::ARR_UPPER)[9], kInf);
  EXPECT_EQ(flags_of(10), 0x600u);
  EXPECT_EQ(real_array(kl::ARR_LOWER)[10], -4.9e19);
  EXPECT_EQ(real_array(kl::ARR_OBJECTIVE)[9], -2.0);

  // Column-wise matrix in the caller's order, rows 1-based.
  const int32_t starts[] = {1, 4, 6, 7};
  for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(int_array(kl::ARR_COL_START)[8 + k], starts[k]);
  const int32_t rows[] = {1, 4, 5, 2, 3, 3};
  for (int32_t k = 1; k <= 6; ++k) EXPECT_EQ(int_array(kl::ARR_ELEM_ROW)[k], rows[k - 1]);
  EXPECT_EQ(real_array(kl::ARR_ELEM_VALUE)[6], 6.0);

  EXPECT_EQ(name_of(1), "VVVVVVV1");
  EXPECT_EQ(name_of(10), "VVVVVV10");
  char text[9] = {};
  ASSERT_EQ(KLGETCPV(KLCA_MATRIXNAME, text), 0);
  EXPECT_STREQ(text, "plant7");
  ASSERT_EQ(KLGETCPV(KLCA_RHSNAME, text), 0);
  EXPECT_STREQ(text, "RHS00001");
  EXPECT_TRUE(kltest::any_line_contains("plant7"));
}

TEST_F(Loader, ScaledLoadStampsExponents) {
  KLSETICV(KLIC_IFSCAL, 35);
  Problem lp = mixed_lp();
  lp.values[0] = 1024.0;
  ASSERT_EQ(lp.load("dir/sub/scaled"), 0);
  EXPECT_EQ(kl::problem_state, 1);
  for (int32_t p = 1; p <= kl::nseq; ++p) EXPECT_NE(int_array(kl::ARR_POS_STATUS)[p] >> 24, 0) << p;
  char text[9] = {};
  ASSERT_EQ(KLGETCPV(KLCA_MATRIXNAME, text), 0);
  EXPECT_STREQ(text, "scaled");
}

TEST_F(Loader, ElementsAreFilteredByToleranceLengthsAndNRows) {
  Problem lp;
  lp.row('N', 0.0);
  lp.row('L', 1.0);
  lp.column(1.0, 0, 1, {{0, 3.0}, {1, 1e-9}, {1, 9e-10}});
  lp.column(1.0, 0, 1, {{1, 2.0}, {0, 99.0}});
  // Lengths stop short of the starts: the second element of column 1 is
  // never read.
  const int32_t lengths[] = {3, 1};
  ASSERT_EQ(KLLOADPROB("t", 2, 2, lp.row_types.data(), lp.rhs.data(), nullptr, lp.cost.data(), lp.starts.data(),
                       lengths, lp.rows.data(), lp.values.data(), lp.lower.data(), lp.upper.data()),
            0);
  // |value| = ZTOLDA stays, below it goes; the N-row element stays (IFNRW 1).
  EXPECT_EQ(kl::nelem, 3);
  EXPECT_EQ(real_array(kl::ARR_ELEM_VALUE)[2], 1e-9);
  EXPECT_EQ(real_array(kl::ARR_ELEM_VALUE)[3], 2.0);

  KLSETICV(KLIC_IFNRW, 0);
  ASSERT_EQ(lp.load(), 0);
  EXPECT_EQ(kl::nrow, 2);
  // N rows stay, their elements go.
  EXPECT_EQ(kl::nelem, 2);
  EXPECT_EQ(int_array(kl::ARR_ELEM_ROW)[1], 2);
  EXPECT_EQ(int_array(kl::ARR_ROW_TYPE)[1], 8);
}

TEST_F(Loader, TrailingNRowsAreDroppedWhenIfnrwIsNegative) {
  KLSETICV(KLIC_IFNRW, -1);
  Problem lp;
  lp.row('N', 0.0);
  lp.row('L', 1.0);
  lp.row('N', 0.0);
  lp.column(1.0, 0, 1, {{0, 1.0}, {1, 2.0}, {2, 3.0}});
  ASSERT_EQ(lp.load(), 0);
  // The middle N row cannot go without renumbering the L row after it.
  EXPECT_EQ(kl::nrow, 2);
  EXPECT_EQ(kl::spare_rows_left, 1);
  EXPECT_EQ(kl::store.first_col, kl::nrow + kl::spare_rows_left + 1);
  EXPECT_EQ(kl::nelem, 1);
  EXPECT_EQ(int_array(kl::ARR_ELEM_ROW)[1], 2);
}

TEST_F(Loader, IndexBaseZeroCountsFromOne) {
  KLSETICV(KLIC_IFDBG, 0);
  Problem lp;
  lp.row('L', 1.0);
  lp.row('G', 2.0);
  lp.column(1.0, 0, 1, {{2, 5.0}});
  for (auto& s : lp.starts) s += 1;
  ASSERT_EQ(lp.load(), 0);
  EXPECT_EQ(kl::nelem, 1);
  EXPECT_EQ(int_array(kl::ARR_ELEM_ROW)[1], 2);
}

TEST_F(Loader, BadInputIsRefusedAndLeavesNoProblem) {
  const Problem good = mixed_lp();
  const int32_t* s = good.starts.data();
  const int32_t* r = good.rows.data();
  const double* v = good.values.data();
  const auto load_with = [&](int32_t ncols, int32_t nrows, const char* types, const int32_t* starts,
                             const int32_t* lengths, const int32_t* rows, const double* lower) {
    return KLLOADPROB("bad", ncols, nrows, types, good.rhs.data(), good.ranges.data(), good.cost.data(), starts,
                      lengths, rows, v, lower, good.upper.data());
  };
  const std::vector<int32_t> bad_rows = {0, 3, 5, 1, 2, 2};
  const std::vector<int32_t> decreasing = {0, 3, 2, 6};
  const std::vector<int32_t> before_first = {-1, 3, 5, 6};
  const std::vector<int32_t> negative_length = {3, -1, 1};
  const std::vector<double> crossed_lower = {0.0, 0.0, 8.0};
  const std::vector<int32_t> quad = {0, 1};
  const std::vector<double> quad_values = {1.0, 2.0};
  const std::vector<int32_t> mirrored1 = {0, 1}, mirrored2 = {1, 0};
  const std::vector<int32_t> out_of_range = {0, 3};
  const std::string long_name(600, 'x');
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // Copies of the good arrays with one entry spoilt.
  const auto spoilt = [](std::vector<double> values, size_t k, double x) {
    values[k] = x;
    return values;
  };
  const std::vector<double> nan_cost = spoilt(good.cost, 2, nan), inf_rhs = spoilt(good.rhs, 1, -inf),
                            nan_value = spoilt(good.values, 4, nan), nan_range = spoilt(good.ranges, 4, nan),
                            plus_inf_lower = spoilt(good.lower, 0, inf), minus_inf_upper = spoilt(good.upper, 2, -inf),
                            nan_upper = spoilt(good.upper, 1, nan);
  const auto load_values = [&](const std::vector<double>& rhs, const std::vector<double>& ranges,
                               const std::vector<double>& cost, const std::vector<double>& values,
                               const std::vector<double>& lower, const std::vector<double>& upper) {
    return KLLOADPROB("bad", 3, 5, good.row_types.data(), rhs.data(), ranges.data(), cost.data(), s, nullptr, r,
                      values.data(), lower.data(), upper.data());
  };
  const std::vector<double> nan_quad = {1.0, nan};
  const std::vector<int32_t> quad2 = {1, 2};
  struct Case {
    const char* what;
    std::function<int32_t()> call;
    int32_t message;
  };
  const Case cases[] = {
      {"row letter", [&] { return load_with(3, 5, "EGLXR", s, nullptr, r, good.lower.data()); }, 401},
      {"row index", [&] { return load_with(3, 5, good.row_types.data(), s, nullptr, bad_rows.data(),
                                           good.lower.data()); }, 402},
      {"negative columns", [&] { return load_with(-1, 5, good.row_types.data(), s, nullptr, r,
                                                  good.lower.data()); }, 7},
      {"negative rows", [&] { return load_with(3, -2, good.row_types.data(), s, nullptr, r,
                                               good.lower.data()); }, 7},
      {"decreasing starts", [&] { return load_with(3, 5, good.row_types.data(), decreasing.data(), nullptr, r,
                                                   good.lower.data()); }, 7},
      {"start before the first element", [&] { return load_with(3, 5, good.row_types.data(), before_first.data(),
                                                                nullptr, r, good.lower.data()); }, 7},
      {"negative length", [&] { return load_with(3, 5, good.row_types.data(), s, negative_length.data(), r,
                                                 good.lower.data()); }, 7},
      {"null bounds", [&] { return load_with(3, 5, good.row_types.data(), s, nullptr, r, nullptr); }, 601},
      {"null ranges with an R row",
       [&] {
         return KLLOADPROB("bad", 3, 5, good.row_types.data(), good.rhs.data(), nullptr, good.cost.data(), s,
                           nullptr, r, v, good.lower.data(), good.upper.data());
       },
       601},
      {"lower above upper", [&] { return load_with(3, 5, good.row_types.data(), s, nullptr, r,
                                                   crossed_lower.data()); }, 29},
      {"name too long",
       [&] {
         return KLLOADPROB(long_name.c_str(), 3, 5, good.row_types.data(), good.rhs.data(), good.ranges.data(),
                           good.cost.data(), s, nullptr, r, v, good.lower.data(), good.upper.data());
       },
       600},
      {"quadratic column outside",
       [&] {
         return KLLOADQPROB("bad", 3, 5, good.row_types.data(), good.rhs.data(), good.ranges.data(),
                            good.cost.data(), s, nullptr, r, v, good.lower.data(), good.upper.data(), 2,
                            out_of_range.data(), quad.data(), quad_values.data());
       },
       405},
      {"quadratic pair in mirror form",
       [&] {
         return KLLOADQPROB("bad", 3, 5, good.row_types.data(), good.rhs.data(), good.ranges.data(),
                            good.cost.data(), s, nullptr, r, v, good.lower.data(), good.upper.data(), 2,
                            mirrored1.data(), mirrored2.data(), quad_values.data());
       },
       362},
      {"NaN cost", [&] { return load_values(good.rhs, good.ranges, nan_cost, good.values, good.lower, good.upper); },
       975},
      {"infinite right-hand side",
       [&] { return load_values(inf_rhs, good.ranges, good.cost, good.values, good.lower, good.upper); }, 975},
      {"NaN matrix value",
       [&] { return load_values(good.rhs, good.ranges, good.cost, nan_value, good.lower, good.upper); }, 975},
      {"NaN range of an R row",
       [&] { return load_values(good.rhs, nan_range, good.cost, good.values, good.lower, good.upper); }, 975},
      {"plus infinity as a lower bound",
       [&] { return load_values(good.rhs, good.ranges, good.cost, good.values, plus_inf_lower, good.upper); }, 975},
      {"minus infinity as an upper bound",
       [&] { return load_values(good.rhs, good.ranges, good.cost, good.values, good.lower, minus_inf_upper); }, 975},
      {"NaN upper bound",
       [&] { return load_values(good.rhs, good.ranges, good.cost, good.values, good.lower, nan_upper); }, 975},
      {"NaN quadratic value",
       [&] {
         return KLLOADQPROB("bad", 3, 5, good.row_types.data(), good.rhs.data(), good.ranges.data(),
                            good.cost.data(), s, nullptr, r, v, good.lower.data(), good.upper.data(), 2,
                            quad.data(), quad2.data(), nan_quad.data());
       },
       975},
      {"negative quadratic count",
       [&] {
         return KLLOADQPROB("bad", 3, 5, good.row_types.data(), good.rhs.data(), good.ranges.data(),
                            good.cost.data(), s, nullptr, r, v, good.lower.data(), good.upper.data(), -1, nullptr,
                            nullptr, nullptr);
       },
       7},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(good.load(), 0) << c.what;
    // Counts, starts and lengths that cannot describe a problem, and values
    // that are no numbers, are invalid data of the load; the other refusals
    // are reported errors.
    const bool invalid_data = c.message == 7 || c.message == 975;
    EXPECT_EQ(c.call(), invalid_data ? KL_STATUS_INVALID_DATA : KL_STATUS_REPORTED) << c.what;
    EXPECT_EQ(kl::error_number, c.message) << c.what;
    expect_no_problem();
  }
}

TEST_F(Loader, InfiniteBoundsInTheirOwnDirectionLoadAsTheLibrarysInfinity) {
  Problem lp = mixed_lp();
  lp.lower[0] = -std::numeric_limits<double>::infinity();
  lp.upper[0] = std::numeric_limits<double>::infinity();
  ASSERT_EQ(lp.load(), 0);
  const int32_t p = position(0);
  EXPECT_EQ(real_array(kl::ARR_LOWER)[p], -kInf);
  EXPECT_EQ(real_array(kl::ARR_UPPER)[p], kInf);
}

TEST_F(Loader, MemoryFailureIsStatusOneAndLeavesNoProblem) {
  ASSERT_EQ(mixed_lp().load(), 0);
  kl::fail_next_allocations(1);
  EXPECT_EQ(mixed_lp().load(), KL_STATUS_INVALID_DATA);
  kl::fail_next_allocations(0);
  EXPECT_TRUE(kltest::any_line_contains("array number"));
  expect_no_problem();
  EXPECT_EQ(mixed_lp().load(), 0);
}

TEST_F(Loader, BadGlobalInputIsRefused) {
  Problem base = mixed_lp();
  base.entity('I', 0);
  base.set('1', {{1, 1.0}, {2, 2.0}});
  struct Case {
    const char* what;
    std::function<void(Problem&)> spoil;
    int32_t message;
  };
  const Case cases[] = {
      {"entity letter", [](Problem& p) { p.entity_types[0] = 'Q'; }, 403},
      {"set type", [](Problem& p) { p.set_types[0] = '3'; }, 404},
      {"entity column", [](Problem& p) { p.entity_columns[0] = 3; }, 405},
      {"member column", [](Problem& p) { p.set_columns[1] = -1; }, 405},
      {"decreasing set starts",
       [](Problem& p) {
         p.set_starts = {0, 2, 1};
         p.set_types = "12";
       },
       7},
  };
  for (const Case& c : cases) {
    Problem p = base;
    c.spoil(p);
    ASSERT_EQ(base.load_global(), 0) << c.what;
    EXPECT_EQ(p.load_global(), c.message == 7 ? KL_STATUS_INVALID_DATA : KL_STATUS_REPORTED) << c.what;
    EXPECT_EQ(kl::error_number, c.message) << c.what;
    expect_no_problem();
  }

  // A partial integer needs the limits array.
  Problem p = base;
  p.entity_types[0] = 'P';
  EXPECT_EQ(KLLOADGLOBAL("t", p.ncols(), p.nrows(), p.row_types.data(), p.rhs.data(), p.ranges.data(),
                         p.cost.data(), p.starts.data(), nullptr, p.rows.data(), p.values.data(), p.lower.data(),
                         p.upper.data(), 1, 1, p.entity_types.data(), p.entity_columns.data(), nullptr,
                         p.set_types.data(), p.set_starts.data(), p.set_columns.data(), p.set_refs.data()),
            KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 403);
  expect_no_problem();
}

TEST_F(Loader, GlobalEntitiesTakeTheirTypesBoundsAndLimits) {
  Problem lp;
  lp.row('L', 10.0);
  lp.column(1, 0.5, 2.9999999, {{0, 1.0}});   // I: rounded inward to [1, 3]
  lp.column(1, -2.5, -0.5, {{0, 1.0}});       // I: [-2, -1]
  lp.column(1, 0, 3, {{0, 1.0}});             // B: upper 3 becomes 1
  lp.column(1, 0, 0.5, {{0, 1.0}});           // B: upper 0.5 stays
  lp.column(1, 0, 10, {{0, 1.0}});            // R with limit 2.5
  lp.column(1, 0, 10, {{0, 1.0}});            // S without a lower bound
  lp.column(1, 0, 10, {{0, 1.0}});            // P with limit 2.9999999
  lp.entity('I', 0);
  lp.entity('I', 1);
  lp.entity('B', 2);
  lp.entity('B', 3);
  lp.entity('I', 0);  // given twice: message 261, the first entry stays
  lp.entity('R', 4, 2.5);
  lp.entity('S', 5, 4.0);
  lp.entity('P', 6, 2.9999999);
  ASSERT_EQ(lp.load_global(), 0);
  EXPECT_EQ(kl::nglent, 7);
  EXPECT_TRUE(kltest::any_line_contains(name_of(position(0)))) << "message 261 names the column";

  const int32_t c0 = position(0);
  EXPECT_EQ(real_array(kl::ARR_LOWER)[c0], 1.0);
  EXPECT_EQ(real_array(kl::ARR_UPPER)[c0], 3.0);
  EXPECT_EQ(real_array(kl::ARR_LOWER)[position(1)], -2.0);
  EXPECT_EQ(real_array(kl::ARR_UPPER)[position(1)], -1.0);
  EXPECT_EQ(real_array(kl::ARR_UPPER)[position(2)], 1.0);
  EXPECT_EQ(real_array(kl::ARR_UPPER)[position(3)], 0.5);
  EXPECT_EQ(flags_of(position(2)) & 0x20480u, 0x20480u);

  // Entity words: types follow the caller's entries past the skipped one.
  const int32_t words[] = {1, 1, 3, 3, 1, 2, 3 * 16 + 4};
  const int32_t columns[] = {0, 1, 2, 3, 4, 5, 6};
  for (int32_t e = 1; e <= 7; ++e) {
    EXPECT_EQ(int_array(kl::ARR_ENTITY_TYPE)[e], words[e - 1]) << e;
    EXPECT_EQ(int_array(kl::ARR_ENTITY_COLUMN)[e], position(columns[e - 1])) << e;
    EXPECT_EQ(int_array(kl::ARR_DIRECTIVE_WORD)[e], 8000);
  }
  EXPECT_EQ(flags_of(position(4)) & 0x41080u, 0x41080u);  // integer, semi-continuous, entity
  EXPECT_EQ(real_array(kl::ARR_SEMICONT_LIMIT)[5], 3.0);
  EXPECT_EQ(real_array(kl::ARR_SEMICONT_LIMIT)[6], 4.0);
  EXPECT_EQ(flags_of(position(6)) & 0x80080u, 0x80080u);
  EXPECT_FLOAT_EQ(kl::float_array(kl::ARR_PSEUDO_COST_UP)[1], 0.01f);
}

TEST_F(Loader, SetsAreNamedAndSortedByReference) {
  Problem lp;
  lp.row('L', 1.0);
  for (int k = 0; k < 4; ++k) lp.column(1, 0, 1, {{0, 1.0}});
  lp.set('2', {{3, 3.0}, {1, 1.0}, {2, 2.0}});
  lp.set('1', {{0, 5.0}});
  ASSERT_EQ(lp.load_global(), 0);
  EXPECT_EQ(kl::nsets, 2);
  EXPECT_EQ(kl::nsosm, 4);
  EXPECT_EQ(int_array(kl::ARR_ENTITY_TYPE)[1], 6);
  EXPECT_EQ(int_array(kl::ARR_ENTITY_TYPE)[2], 5);
  const int32_t starts[] = {0, 3, 4};
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(int_array(kl::ARR_SET_START)[k], starts[k - 1]);
  const int32_t members[] = {1, 2, 3, 0};
  for (int m = 1; m <= 4; ++m) {
    EXPECT_EQ(int_array(kl::ARR_SET_MEMBER_COLUMN)[m], position(members[m - 1])) << m;
    EXPECT_TRUE(flags_of(position(members[m - 1])) & 0x80u);
  }
  EXPECT_EQ(real_array(kl::ARR_SET_MEMBER_REF)[1], 1.0);
  EXPECT_EQ(std::string(static_cast<const char*>(kl::array_cells[kl::ARR_SET_NAME]), 16), "SSVVVVV1SSVVVVV2");
}

TEST_F(Loader, QuadraticObjectiveIsStoredInBothTriangles) {
  Problem lp = mixed_lp();
  const int32_t first[] = {0, 0, 2, 1};
  const int32_t second[] = {0, 2, 1, 1};
  const double q[] = {2.0, 1.5, -1.0, 1e-9};  // the last is at ZTOLDA: dropped
  ASSERT_EQ(KLLOADQPROB("q", lp.ncols(), lp.nrows(), lp.row_types.data(), lp.rhs.data(), lp.ranges.data(),
                        lp.cost.data(), lp.starts.data(), nullptr, lp.rows.data(), lp.values.data(), lp.lower.data(),
                        lp.upper.data(), 4, first, second, q),
            0);
  const int32_t c0 = position(0), c1 = position(1), c2 = position(2);
  EXPECT_EQ(kl::nqelem, 5);
  EXPECT_EQ(kl::icv(kl::ic::M_Q), 4);
  // Upper lists (i >= j): c0 -> (c0, 2), (c2, 1.5); c1 -> (c2, -1); c2 empty.
  const int32_t upper_start[] = {1, 3, 4, 4};
  const int32_t lower_start[] = {4, 4, 4, 6};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(int_array(kl::ARR_QUAD_UPPER_START)[c0 + k], upper_start[k]) << k;
    EXPECT_EQ(int_array(kl::ARR_QUAD_LOWER_START)[c0 + k], lower_start[k]) << k;
  }
  const int32_t index[] = {c0, c2, c2, c0, c1};
  const double value[] = {2.0, 1.5, -1.0, 1.5, -1.0};
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(int_array(kl::ARR_QUAD_INDEX)[k], index[k - 1]) << k;
    EXPECT_EQ(real_array(kl::ARR_QUAD_VALUES)[k], value[k - 1]) << k;
  }
  for (int32_t p : {c0, c1, c2}) EXPECT_TRUE(flags_of(p) & 0x200000u) << p;
}

TEST_F(Loader, GlobalLoadSizesCutSpace) {
  Problem lp;
  for (int i = 0; i < 10; ++i) lp.row('L', 1.0);
  for (int c = 0; c < 15; ++c) {
    lp.column(1, 0, 1, {{c % 10, 1.0}, {(c + 1) % 10, 1.0}});
    lp.entity('B', c);
  }
  ASSERT_EQ(lp.load_global(), 0);
  // Every column an entity, 15 <= 2 x 10: 103 + 15, capped at 15 + 100.
  int32_t value = 0;
  KLGETICV(KLIC_NRXTRA, &value);
  EXPECT_EQ(value, 115);
  EXPECT_EQ(kl::spare_rows_left, 115);
  EXPECT_EQ(kl::icv(kl::ic::MXCPOL), 230);
  // 10 elements per row (30 / 10 < 10) x 115, capped at the 30 elements.
  EXPECT_EQ(kl::icv(kl::ic::NMXTRA), 30);
  EXPECT_EQ(kl::spare_elems_left, 30);
  EXPECT_EQ(kl::ncols(), 15);
}

}  // namespace
