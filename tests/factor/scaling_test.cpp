// Scaling of a loaded problem: the stored values differ from the caller's
// only by powers of two, the getters give the caller's values back exactly,
// and KLSCALE replaces or removes the factors.
#include "factor/scaling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "klsol32.h"
#include "problem/matrix_storage.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"

namespace kl {
namespace {

constexpr double kInf = 1e20;

// Four rows (L, G, range, N) over three columns whose entries span eight
// decades, so that every method has something to do.
struct LpData {
  int32_t ncols = 3;
  int32_t nrows = 4;
  const char* types = "LGRN";
  std::vector<double> rhs = {1000, 0.001, 48, 0};
  std::vector<double> ranges = {0, 0, 16, 0};
  std::vector<double> objective = {1, 1e-3, 3e4};
  std::vector<int32_t> starts = {0, 3, 5, 7};
  std::vector<int32_t> rows = {0, 1, 3, 0, 2, 1, 2};
  std::vector<double> values = {1000, 0.003, 7, 250, 3, 0.0005, 6e5};
  std::vector<double> lower = {0, -5, -kInf};
  std::vector<double> upper = {100, kInf, 12.5};
};

// Everything the value getters give, in one form.
struct Values {
  std::vector<double> obj, rhs, rng, bdl, bdu, elements;
  std::vector<int32_t> starts, rows;

  std::vector<double> all() const {
    std::vector<double> out;
    for (const auto* v : {&obj, &rhs, &rng, &bdl, &bdu, &elements}) out.insert(out.end(), v->begin(), v->end());
    return out;
  }
};

// Bit for bit, so that -0.0 and 0.0 or a last-bit change show.
void expect_same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t k = 0; k < a.size(); ++k) EXPECT_EQ(std::memcmp(&a[k], &b[k], sizeof(double)), 0) << k << ": " << a[k] << " " << b[k];
}

bool power_of_two_apart(double stored, double plain) {
  if (plain == 0.0 || std::fabs(plain) >= kInf || !std::isfinite(plain)) return stored == plain;
  const double ratio = stored / plain;
  int exponent = 0;
  return ratio > 0 && std::frexp(ratio, &exponent) == 0.5;
}

class ScalingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0); }
  void TearDown() override { KLFREEXO(); }

  static int32_t load(const LpData& lp) {
    return KLLOADPROB("scaled", lp.ncols, lp.nrows, lp.types, lp.rhs.data(), lp.ranges.data(), lp.objective.data(),
                      lp.starts.data(), nullptr, lp.rows.data(), lp.values.data(), lp.lower.data(), lp.upper.data());
  }

  // Through the exports: the plain getters for mode 0, the I getters for 1.
  static Values read(int32_t mode) {
    const bool stored = mode == QUERY_STORED_FORM;
    Values v;
    const int32_t cols = ncols();
    v.obj.resize(cols);
    v.bdl.resize(cols);
    v.bdu.resize(cols);
    v.rhs.resize(nrow);
    v.rng.resize(nrow);
    EXPECT_EQ((stored ? KLIGETOBJ : KLGETOBJ)(v.obj.data(), 0, cols - 1), 0);
    EXPECT_EQ((stored ? KLIGETBDL : KLGETBDL)(v.bdl.data(), 0, cols - 1), 0);
    EXPECT_EQ((stored ? KLIGETBDU : KLGETBDU)(v.bdu.data(), 0, cols - 1), 0);
    EXPECT_EQ((stored ? KLIGETRHS : KLGETRHS)(v.rhs.data(), 0, nrow - 1), 0);
    EXPECT_EQ((stored ? KLIGETRNG : KLGETRNG)(v.rng.data(), 0, nrow - 1), 0);
    int32_t count = 0;
    v.starts.resize(cols + 1);
    v.rows.resize(nelem);
    v.elements.resize(nelem);
    EXPECT_EQ((stored ? KLIGETCOLS : KLGETCOLS)(v.starts.data(), v.rows.data(), v.elements.data(), nelem, &count, 0,
                                                cols - 1),
              0);
    EXPECT_EQ(count, nelem);
    return v;
  }

  // The exponent byte of every position, rows and columns.
  static std::vector<int32_t> exponents() {
    std::vector<int32_t> out;
    for (int32_t p = 1; p <= nseq; ++p) out.push_back(static_cast<int32_t>(static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]) >> 24));
    return out;
  }
  static int32_t exponent_of_row(int32_t caller_row) { return exponents()[caller_row]; }
  static int32_t exponent_of_column(int32_t caller_col) { return exponents()[store.first_col - 1 + caller_col]; }
};

TEST_F(ScalingTest, EveryMethodStoresPowerOfTwoMultiplesAndZeroArraysUndoItExactly) {
  const LpData lp;
  const int32_t methods[] = {0,   0x23, 0x21, 0x43, 0x7, 0x3, 0x8, 0x10, 0x18, 0x223};
  for (const int32_t method : methods) {
    SCOPED_TRACE(method);
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, method), 0);
    ASSERT_EQ(load(lp), 0);
    const Values plain = read(QUERY_CALLER_FORM);
    const Values stored = read(QUERY_STORED_FORM);
    expect_same_bits(plain.obj, lp.objective);
    expect_same_bits(plain.elements, lp.values);
    const std::vector<double> p = plain.all(), s = stored.all();
    for (size_t k = 0; k < p.size(); ++k) EXPECT_TRUE(power_of_two_apart(s[k], p[k])) << k << ": " << s[k] << " " << p[k];

    const std::vector<int32_t> bytes = exponents();
    for (const int32_t e : bytes) {
      EXPECT_GE(e, 1);
      EXPECT_LE(e, 127);
    }
    EXPECT_EQ(exponent_of_row(3), 64);  // the N row
    if (method == 0) {
      expect_same_bits(s, p);
    } else {
      EXPECT_NE(std::count(bytes.begin(), bytes.end(), 64), static_cast<long>(bytes.size()));
    }

    // Removing the factors leaves the caller's values as stored.
    dcv(kObjectiveScaleSlot) = 8.0;
    const std::vector<int32_t> zeros(8, 0);
    ASSERT_EQ(KLSCALE(zeros.data(), zeros.data()), 0);
    expect_same_bits(read(QUERY_STORED_FORM).all(), p);
    expect_same_bits(read(QUERY_CALLER_FORM).all(), p);
    EXPECT_EQ(exponents(), std::vector<int32_t>(nseq, 64));
    EXPECT_EQ(dcv(kObjectiveScaleSlot), 1.0);

    // Fresh factors again: the caller's view does not move.
    ASSERT_EQ(KLSCALE(nullptr, nullptr), 0);
    expect_same_bits(read(QUERY_CALLER_FORM).all(), p);
    EXPECT_EQ(exponents(), bytes);
  }
}

TEST_F(ScalingTest, MaximumRuleShiftsTheLargestEntryIntoOneToTwo) {
  LpData lp;
  lp.values[3] = std::ldexp(1.0, 100);  // row 0 now peaks at 2^100
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0x21), 0);  // one row pass
  ASSERT_EQ(load(lp), 0);
  EXPECT_EQ(exponent_of_row(0), 1);        // 2^-63: saturated
  EXPECT_EQ(exponent_of_row(1), 64 + 8);   // 0.003 = 2^-8.4
  EXPECT_EQ(exponent_of_row(2), 64 - 19);  // 6e5 = 2^19.2
  EXPECT_EQ(exponent_of_row(3), 64);
  for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(exponent_of_column(c), 64);

  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0x41), 0);  // one column pass
  ASSERT_EQ(KLSCALE(nullptr, nullptr), 0);
  EXPECT_EQ(exponent_of_column(0), 64 - 9);   // 1000, the N row's 7 left out
  EXPECT_EQ(exponent_of_column(1), 64 - 63);  // 2^100 saturates
  EXPECT_EQ(exponent_of_column(2), 64 - 19);
  EXPECT_EQ(exponent_of_row(0), 64);
}

TEST_F(ScalingTest, EntriesWithoutMagnitudeDoNotSteerTheFactors) {
  // Loads refuse such values, so they are put into the stored matrix.
  const LpData lp;
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
  ASSERT_EQ(load(lp), 0);
  real_array(ARR_ELEM_VALUE)[1] = INFINITY;  // row 0 also holds 250
  real_array(ARR_ELEM_VALUE)[6] = NAN;       // row 1 also holds 0.003
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0x21), 0);
  ASSERT_EQ(KLSCALE(nullptr, nullptr), 0);
  EXPECT_EQ(exponent_of_row(0), 64 - 7);
  EXPECT_EQ(exponent_of_row(1), 64 + 8);

  // A row left with a zero entry only keeps factor 1 under every method.
  real_array(ARR_ELEM_VALUE)[5] = 0.0;  // row 2's 3
  real_array(ARR_ELEM_VALUE)[7] = 0.0;  // row 2's 6e5
  for (const int32_t method : {0x23, 0x3, 0x8, 0x10}) {
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, method), 0);
    ASSERT_EQ(KLSCALE(nullptr, nullptr), 0);
    EXPECT_EQ(exponent_of_row(2), 64) << method;
    for (const int32_t e : exponents()) EXPECT_TRUE(e >= 1 && e <= 127) << method;
  }
}

TEST_F(ScalingTest, GivenExponentsAreAppliedStampedAndRepeatable) {
  const LpData lp;
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0x23), 0);
  ASSERT_EQ(load(lp), 0);
  const std::vector<double> caller = read(QUERY_CALLER_FORM).all();
  const int32_t row_powers[] = {1, -2, 3, 0};
  const int32_t col_powers[] = {5, 0, -6};
  ASSERT_EQ(KLSCALE(row_powers, col_powers), 0);
  EXPECT_EQ(exponent_of_row(0), 65);
  EXPECT_EQ(exponent_of_row(1), 62);
  EXPECT_EQ(exponent_of_column(2), 58);
  const Values stored = read(QUERY_STORED_FORM);
  EXPECT_EQ(stored.obj[0], 32.0);
  EXPECT_EQ(stored.elements[0], 1000.0 * 2 * 32);
  EXPECT_EQ(stored.bdu[0], 100.0 / 32);
  EXPECT_EQ(stored.rhs[1], 0.001 / 4);
  EXPECT_EQ(stored.rng[2], 16.0 * 8);
  expect_same_bits(read(QUERY_CALLER_FORM).all(), caller);

  ASSERT_EQ(KLSCALE(row_powers, col_powers), 0);
  expect_same_bits(read(QUERY_STORED_FORM).all(), stored.all());
}

TEST_F(ScalingTest, BadScaleRequestsAreRefusedBeforeAnythingChanges) {
  const LpData lp;
  const int32_t good_rows[] = {0, 0, 0, 0};
  const int32_t good_cols[] = {0, 0, 0};
  const int32_t bad_rows[] = {0, 0, 64, 0};
  const int32_t bad_cols[] = {0, -64, 0};
  struct Case {
    const int32_t* rows;
    const int32_t* cols;
    int32_t message;
    int32_t value;
  };
  const Case cases[] = {
      {bad_rows, good_cols, 173, 2},
      {good_rows, bad_cols, 174, 1},
      {good_rows, nullptr, 175, 2},
      {nullptr, good_cols, 175, 1},
  };
  ASSERT_EQ(load(lp), 0);
  const std::vector<double> before = read(QUERY_STORED_FORM).all();
  const std::vector<int32_t> bytes = exponents();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(KLSCALE(c.rows, c.cols), KL_STATUS_REPORTED);
    EXPECT_EQ(error_number, c.message);
    EXPECT_EQ(error_value, c.value);
    expect_same_bits(read(QUERY_STORED_FORM).all(), before);
    EXPECT_EQ(exponents(), bytes);
  }

  problem_flags |= PF_PRESOLVED_LP;
  EXPECT_EQ(KLSCALE(nullptr, nullptr), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 268);
  problem_flags &= ~PF_PRESOLVED_LP;
  EXPECT_EQ(exponents(), bytes);
}

TEST_F(ScalingTest, ScaleWithoutAProblemIsRefused) {
  EXPECT_EQ(KLSCALE(nullptr, nullptr), KL_STATUS_REPORTED);
}

TEST_F(ScalingTest, ObjectiveRowsKeepFactorOneAndStayConsistent) {
  const LpData lp;
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0x223), 0);
  ASSERT_EQ(load(lp), 0);
  const std::vector<double> caller = read(QUERY_CALLER_FORM).all();
  store.objective_row = 1;
  objective_name_row = 2;
  ASSERT_EQ(KLSCALE(nullptr, nullptr), 0);
  EXPECT_EQ(exponent_of_row(0), 64);
  EXPECT_EQ(exponent_of_row(1), 64);
  const int32_t row_powers[] = {4, 4, 4, 4};
  const int32_t col_powers[] = {1, 1, 1};
  ASSERT_EQ(KLSCALE(row_powers, col_powers), 0);
  EXPECT_EQ(exponent_of_row(0), 64);
  EXPECT_EQ(exponent_of_row(1), 64);
  EXPECT_EQ(exponent_of_row(2), 68);
  expect_same_bits(read(QUERY_CALLER_FORM).all(), caller);
  objective_name_row = 0;
}

TEST_F(ScalingTest, QuadraticColumnsKeepFactorOneEvenWhenAskedOtherwise) {
  const LpData lp;
  const int32_t q_col[] = {0};
  const double q_value[] = {2.0};
  ASSERT_EQ(KLLOADQPROB("quad", lp.ncols, lp.nrows, lp.types, lp.rhs.data(), lp.ranges.data(), lp.objective.data(),
                        lp.starts.data(), nullptr, lp.rows.data(), lp.values.data(), lp.lower.data(),
                        lp.upper.data(), 1, q_col, q_col, q_value),
            0);
  EXPECT_EQ(exponent_of_column(0), 64);
  const int32_t row_powers[] = {0, 0, 0, 0};
  const int32_t col_powers[] = {5, 5, 5};
  ASSERT_EQ(KLSCALE(row_powers, col_powers), 0);
  EXPECT_EQ(exponent_of_column(0), 64);
  EXPECT_EQ(exponent_of_column(1), 69);
  EXPECT_EQ(read(QUERY_STORED_FORM).obj[0], 1.0);
}

TEST_F(ScalingTest, SetReferencesAndSemicontinuousLimitsFollowTheirColumns) {
  LpData lp;
  lp.lower[2] = 0;
  const char entity_types[] = {'S'};
  const int32_t entity_columns[] = {2};
  const double limits[] = {3.0};
  const char set_types[] = {'1'};
  const int32_t set_starts[] = {0, 2};
  const int32_t set_columns[] = {0, 1};
  const double set_refs[] = {1.0, 2.0};
  ASSERT_EQ(KLLOADGLOBAL("sets", lp.ncols, lp.nrows, lp.types, lp.rhs.data(), lp.ranges.data(), lp.objective.data(),
                         lp.starts.data(), nullptr, lp.rows.data(), lp.values.data(), lp.lower.data(),
                         lp.upper.data(), 1, 1, entity_types, entity_columns, limits, set_types, set_starts,
                         set_columns, set_refs),
            0);
  const double limit = real_array(ARR_SEMICONT_LIMIT)[2];
  const double upper = real_array(ARR_SEMICONT_UPPER)[2];
  const int32_t no_rows[] = {0, 0, 0, 0};
  const int32_t col_powers[] = {3, -2, 5};
  ASSERT_EQ(KLSCALE(no_rows, col_powers), 0);
  EXPECT_EQ(real_array(ARR_SET_MEMBER_REF)[1], 1.0 * 8);
  EXPECT_EQ(real_array(ARR_SET_MEMBER_REF)[2], 2.0 / 4);
  EXPECT_EQ(real_array(ARR_SEMICONT_LIMIT)[2], limit / 32);
  EXPECT_EQ(real_array(ARR_SEMICONT_UPPER)[2], upper / 32);
  const int32_t no_cols[] = {0, 0, 0};
  ASSERT_EQ(KLSCALE(no_rows, no_cols), 0);
  EXPECT_EQ(real_array(ARR_SET_MEMBER_REF)[1], 1.0);
  EXPECT_EQ(real_array(ARR_SET_MEMBER_REF)[2], 2.0);
  EXPECT_EQ(real_array(ARR_SEMICONT_LIMIT)[2], limit);
}

class TypedEntries : public ScalingTest {
 protected:
  // A DV entry on element (row 0, column 0) with arguments columns 1 and 2,
  // and a CV entry on column 2 with tolerance 0.25.
  void SetUp() override {
    ScalingTest::SetUp();
    ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
    ASSERT_EQ(load(LpData{}), 0);
    first = store.first_col;
    recurse_entry_count = 2;
    ASSERT_EQ(allocate_array(ARR_RECURSE_ENTRY, array_cells[ARR_RECURSE_ENTRY], 2 * sizeof(RecurseEntry) / 4), 0);
    RecurseEntry* entry = recurse_entries();
    entry[0] = RecurseEntry{first, 1, first + 1, first + 2, 64, RK_DV, {}, 1, 1.0, 0.0};
    entry[1] = RecurseEntry{first + 2, 0, 0, 0, 0, RK_CV, {}, 0, 1.0, 0.0};
    std::memcpy(&entry[1].a, &kTolerance, sizeof kTolerance);
  }
  static float tolerance() {
    float t;
    std::memcpy(&t, &recurse_entries()[1].a, sizeof t);
    return t;
  }
  static constexpr float kTolerance = 0.25f;
  int32_t first = 0;
};

TEST_F(TypedEntries, FollowTheFactorsOfTheirPositionsAndComeBackUnscaled) {
  const int32_t row_powers[] = {2, 0, 0, 0};
  const int32_t col_powers[] = {1, 3, 4};
  ASSERT_EQ(KLSCALE(row_powers, col_powers), 0);
  // 2^(1 + 2 + 3 - 4): the coefficient's own factors times x_a / x_b.
  EXPECT_EQ(recurse_entries()[0].scale, 64 + 2);
  EXPECT_EQ(tolerance(), kTolerance / 16);
  const int32_t zeros[] = {0, 0, 0, 0};
  ASSERT_EQ(KLSCALE(zeros, zeros), 0);
  EXPECT_EQ(recurse_entries()[0].scale, 64);
  EXPECT_EQ(tolerance(), kTolerance);
}

TEST_F(TypedEntries, AnExponentOutOfRangeStopsAtThatEntry) {
  const int32_t row_powers[] = {0, 0, 0, 0};
  const int32_t col_powers[] = {63, 0, 0};
  EXPECT_EQ(KLSCALE(row_powers, col_powers), KL_STATUS_REPORTED);
  EXPECT_EQ(error_number, 172);

  // During a load's set-up the failure goes into the result code.
  recurse_entries()[0].scale = 64;
  const OneBased<int32_t> work = int_array(ARR_SCALE_WORK);
  for (int32_t p = 1; p <= nseq; ++p) work[p] = 64;
  work[first + 2] = 1;  // x_b tiny: the DV exponent would be 127
  int32_t failed = 0;
  scale_typed_entries(failed);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(recurse_entries()[0].scale, 64);
  EXPECT_EQ(tolerance(), kTolerance) << "entries after the failing one are left alone";
}

TEST(ZeroWords, ClearsExactlyTheCountGiven) {
  uint32_t words[4] = {1, 2, 3, 4};
  zero_words32(words + 1, 2);
  EXPECT_EQ(std::vector<uint32_t>(words, words + 4), (std::vector<uint32_t>{1, 0, 0, 4}));
  uint16_t halves[3] = {7, 8, 9};
  zero_words16(halves, 0);
  zero_words16(halves + 2, 1);
  EXPECT_EQ(std::vector<uint16_t>(halves, halves + 3), (std::vector<uint16_t>{7, 8, 0}));
}

}  // namespace
}  // namespace kl
