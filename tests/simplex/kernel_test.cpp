// The simplex kernel: the Forrest-Tomlin update keeps every solve (dense and
// hypersparse) exact for the new basis over long runs of updates, and
// refuses an unstable or singular one, or one that does not fit, without
// leaving a factor that claims to be valid; the basic costs, column
// unpacking, status bits and the product-form update.
#include "simplex/kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "factor/factor_check.h"
#include "factor/hypersparse.h"
#include "factor/invert.h"
#include "factor/solves.h"
#include "factor/factor_fixture.h"
#include "simplex/pivot_updates.h"
#include "factor/simplex_state.h"

namespace {

using namespace kl;
using kltest::build_problem;
using kltest::choose_basis;

class Kernel : public kltest::FactorTest {};

// The transformed column of position q, the way the engines form it: the
// invert part, the spike appended, then U. Returns false when the eta file
// has no room for the spike.
bool transform_entering_column(int32_t q) {
  unpack_column(q);
  solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  if (append_eta_column() != 0) return false;
  solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
  if (factor.work_vector_state == WV_CLEAR_ALL || factor.work_vector_count < 0)
    sparsify_work_vector(dcv(dc::ZTETA));
  return true;
}

// Position with the largest |alpha| among the listed rows.
int32_t largest_entry_row() {
  int32_t best = 0;
  double size = 0.0;
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) {
    const int32_t i = work_list()[k];
    if (std::fabs(work_vector()[i]) > size) {
      size = std::fabs(work_vector()[i]);
      best = i;
    }
  }
  return best;
}

// Records the basis change q in at position r in the header and status bits.
void exchange(int32_t q, int32_t r) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t p = header[r];
  status[p] &= ~PS_BASIC;
  status[q] |= PS_BASIC;
  header[r] = q;
}

std::vector<double> random_vector(std::mt19937& rng, int nonzeros) {
  std::vector<double> v(static_cast<size_t>(nrow), 0.0);
  std::uniform_int_distribution<int32_t> row(0, nrow - 1);
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  for (int k = 0; k < nonzeros; ++k) v[row(rng)] = value(rng);
  return v;
}

// The row-eta chains (arrays 47 and 51) list exactly what the row etas hold.
std::string check_row_eta_chains() {
  std::vector<std::vector<int32_t>> by_row(static_cast<size_t>(nrow) + 1), bottoms(static_cast<size_t>(nrow) + 1);
  int32_t t = invert_records_bottom();
  const int32_t end = eta_file.eta_capacity - eta_file.invert_part_size;
  while (t > end) {
    const int32_t c = slot_low_word(t);
    const int32_t r = eta_row()[t];
    for (int32_t s = t - 1; s >= t - c; --s) by_row[eta_row()[s]].push_back(s);
    by_row[r].push_back(t - 1 - c);
    bottoms[r].insert(bottoms[r].begin(), t - 2 - c);
    t = t - 2 - c;
  }
  for (int32_t i = 1; i <= nrow; ++i) {
    std::vector<int32_t> chain;
    for (int32_t s = int_array(ARR_ROW_ETA_CHAINS)[i]; s > 0; s = u_row()[s]) chain.push_back(s);
    if (chain != by_row[i]) return "row-eta chain of row " + std::to_string(i);
    std::vector<int32_t> list;
    for (int32_t b = int_array(ARR_ROW_ETA_HEADS)[i]; b > 0; b = u_row()[b]) list.push_back(b);
    if (list != bottoms[i]) return "row-eta list of row " + std::to_string(i);
  }
  return "";
}

// Dense and hypersparse FTRAN and BTRAN all solve with the current basis.
void expect_solves_match_basis(std::mt19937& rng, const std::string& label) {
  for (int nonzeros : {1, 3, nrow}) {
    const std::vector<double> b = random_vector(rng, nonzeros);
    kltest::load_work_vector(b);
    ftran_invert_part();
    ftran_update_part(work_vector());
    EXPECT_LT(ftran_residual(b, kltest::read_work_vector()), 1e-9) << label << " dense FTRAN";

    kltest::load_work_vector(b);
    solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
    solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
    EXPECT_LT(ftran_residual(b, kltest::read_work_vector()), 1e-9) << label << " hypersparse FTRAN";

    kltest::load_work_vector(b);
    btran_update_part();
    btran_invert_part();
    EXPECT_LT(btran_residual(b, kltest::read_work_vector()), 1e-9) << label << " dense BTRAN";

    kltest::load_work_vector(b);
    sparse_solve_heap_ordered();
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
    sparse_triangular_solve_heap();
    EXPECT_LT(btran_residual(b, kltest::read_work_vector()), 1e-9) << label << " hypersparse BTRAN";
  }
  kltest::load_work_vector(std::vector<double>(static_cast<size_t>(nrow), 0.0));
}

TEST_F(Kernel, UpdatesKeepEverySolveExactOverManyPivots) {
  std::mt19937 rng(7);
  const int32_t m = 40;
  const int32_t n = 80;
  build_problem(m, kltest::random_columns(m, n, 3, rng));
  choose_basis(kltest::random_basis(m, n, 15, rng));
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  icv(ic::INVMIN) = 1000;
  int32_t updates = 0;
  std::uniform_int_distribution<int32_t> pick(1, nseq);
  for (int iteration = 0; iteration < 60; ++iteration) {
    int32_t q = pick(rng);
    while ((int_array(ARR_POS_STATUS)[q] & PS_BASIC) != 0) q = pick(rng);
    ASSERT_TRUE(transform_entering_column(q));
    const int32_t r = largest_entry_row();
    ASSERT_GT(r, 0);
    entering_column = q;
    leaving_row = r;
    leaving_variable = int_array(ARR_BASIS_HEADER)[r];
    pivot_value = work_vector()[r];
    const int32_t result = update_factor();
    ASSERT_TRUE(result == UPDATE_DONE || result == UPDATE_REFACTOR) << update_result_text(result);
    exchange(q, r);
    ++update_count;
    ++updates;
    const std::string label = "after update " + std::to_string(updates);
    ASSERT_EQ(check_solve_chains(), "") << label;
    ASSERT_EQ(check_row_eta_chains(), "") << label;
    ASSERT_EQ(check_basis_consistency(), "") << label;
    expect_solves_match_basis(rng, label);
    if (HasFailure()) return;
  }
  EXPECT_GT(eta_file.row_eta_count, 0);
}

TEST_F(Kernel, RefusedUpdatesInvalidateTheFactor) {
  struct Case {
    const char* name;
    double pivot_error;     // added to the true pivot
    int32_t updates_before; // update_count at the call
    int32_t expected;
  };
  const Case cases[] = {
      {"accurate", 0.0, 0, UPDATE_DONE},
      {"tiny disagreement is accepted", 1e-12, 5, UPDATE_DONE},
      {"disagreement after INVMIN updates", 0.5, 3, UPDATE_REFACTOR},
      {"disagreement before INVMIN updates", 0.5, 0, UPDATE_REFACTOR},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(11);
    build_problem(6, kltest::random_columns(6, 6, 2, rng));
    invert_basis();
    icv(ic::INVMIN) = 3;
    const int32_t q = kltest::column_position(0);
    ASSERT_TRUE(transform_entering_column(q));
    const int32_t r = largest_entry_row();
    entering_column = q;
    leaving_row = r;
    pivot_value = work_vector()[r] + c.pivot_error;
    update_count = c.updates_before;
    EXPECT_EQ(update_factor(), c.expected) << c.name;
    const bool update_made = c.expected == UPDATE_DONE || c.updates_before < icv(ic::INVMIN);
    EXPECT_EQ((problem_flags & PF_FACTOR_VALID) != 0, update_made) << c.name;
    if (update_made) {
      exchange(q, r);
      expect_solves_match_basis(rng, c.name);
    }
  }
}

TEST_F(Kernel, SingularUpdateIsRefused) {
  // Column 2 repeats column 1, which is basic: bringing it in for any row
  // but column 1's own leaves a singular basis.
  build_problem(2, {{{1, 1.0}, {2, 1.0}}, {{1, 1.0}, {2, 1.0}}});
  choose_basis({kltest::column_position(0), 2});
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  icv(ic::INVMIN) = 3;
  const int32_t q = kltest::column_position(1);
  ASSERT_TRUE(transform_entering_column(q));
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  const int32_t slack_row = header[1] == 2 ? 1 : 2;
  entering_column = q;
  leaving_row = slack_row;
  pivot_value = 1.0;  // what a careless ratio test might claim
  update_count = 0;
  EXPECT_EQ(update_factor(), UPDATE_SINGULAR);
  EXPECT_EQ(problem_flags & PF_FACTOR_VALID, 0);
}

TEST_F(Kernel, FullEtaFileRefusesWithoutOverrun) {
  std::mt19937 rng(5);
  const int32_t m = 30;
  build_problem(m, kltest::random_columns(m, 60, 4, rng));
  choose_basis(kltest::random_basis(m, 60, 20, rng));
  icv(ic::M_E_) = 2000;
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  icv(ic::INVMIN) = 100000;
  std::uniform_int_distribution<int32_t> pick(1, nseq);
  bool refused = false;
  for (int iteration = 0; iteration < 2000 && !refused; ++iteration) {
    int32_t q = pick(rng);
    while ((int_array(ARR_POS_STATUS)[q] & PS_BASIC) != 0) q = pick(rng);
    if (!transform_entering_column(q)) {
      refused = true;
      break;
    }
    const int32_t r = largest_entry_row();
    entering_column = q;
    leaving_row = r;
    pivot_value = work_vector()[r];
    const int32_t result = update_factor();
    if (result == UPDATE_ETA_FILE_FULL) {
      EXPECT_EQ(problem_flags & PF_FACTOR_VALID, 0);
      refused = true;
      break;
    }
    exchange(q, r);
    ++update_count;
  }
  EXPECT_TRUE(refused);
  EXPECT_LT(eta_file.u_file_end, eta_file.eta_capacity - eta_file.invert_part_size);
}

TEST_F(Kernel, BasicCostsInPhaseOneCarryOnlyThePenalties) {
  build_problem(3, {{{1, 1.0}}, {{2, 1.0}}, {{3, 1.0}}});
  choose_basis({kltest::column_position(0), kltest::column_position(1), 3});
  invert_basis();
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  cost[kltest::column_position(0)] = 4.0;
  cost[kltest::column_position(1)] = -2.0;
  cost[3] = 1.0;
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  for (int32_t i = 1; i <= 3; ++i) marks[i] &= ~(RF_INFEAS_ABOVE | RF_INFEAS_BELOW);
  int32_t below = 0;
  int32_t above = 0;
  for (int32_t i = 1; i <= 3; ++i) {
    if (header[i] == kltest::column_position(0)) below = i;
    if (header[i] == kltest::column_position(1)) above = i;
  }
  marks[below] |= RF_INFEAS_BELOW;
  marks[above] |= RF_INFEAS_ABOVE;
  const double bigm = dcv(dc::BIGM);
  sense_factor = 1.0;

  struct Case {
    int32_t ninf;
    int32_t bigm_mode;
    bool costs_used;
  };
  for (const Case& c : {Case{2, 0, false}, Case{2, 1, true}, Case{0, 0, true}}) {
    ninf = c.ninf;
    bigm_mode = c.bigm_mode;
    set_basic_costs();
    for (int32_t i = 1; i <= 3; ++i) {
      double expected = c.costs_used ? -cost[header[i]] : 0.0;
      if (i == below) expected += bigm;
      if (i == above) expected -= bigm;
      EXPECT_DOUBLE_EQ(work_vector()[i], expected) << "ninf " << c.ninf << " bigm_mode " << c.bigm_mode;
    }
    EXPECT_EQ(factor.work_vector_state, WV_CLEAR_ALL);
  }
}

TEST_F(Kernel, UnpackListsTheColumnAndASlackIsItsUnitVector) {
  build_problem(4, {{{1, 3.0}, {4, -1.0}}});
  unpack_column(2);
  EXPECT_EQ(factor.work_vector_count, 1);
  EXPECT_EQ(work_list()[1], 2);
  EXPECT_EQ(kltest::read_work_vector(), (std::vector<double>{0.0, 1.0, 0.0, 0.0}));
  unpack_column(kltest::column_position(0));
  EXPECT_EQ(factor.work_vector_count, 2);
  EXPECT_EQ(kltest::read_work_vector(), (std::vector<double>{3.0, 0.0, 0.0, -1.0}));
  EXPECT_EQ(factor.work_vector_state, WV_LISTED);
}

TEST_F(Kernel, BasisFlagsForBasisChangesFlipsAndRejections) {
  build_problem(2, {{{1, 1.0}}, {{2, 1.0}}});
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t q = kltest::column_position(0);
  const int32_t flip = kltest::column_position(1);
  itcnt = 0;
  update_count = 0;

  candidate_rejected = -1;
  entering_column = q;
  update_basis_flags();
  EXPECT_NE(status[q] & PS_MARK, 0);
  EXPECT_EQ(marks_exist, 1);
  EXPECT_EQ(itcnt, 0);
  candidate_rejected = 0;

  entering_column = q;
  leaving_row = 1;
  leaving_variable = 1;
  leaving_direction = kLeaveAtUpper;
  update_basis_flags();
  EXPECT_NE(status[q] & PS_BASIC, 0);
  EXPECT_EQ(status[1] & (PS_BASIC | PS_AT_UPPER), PS_AT_UPPER);
  EXPECT_EQ(update_count, 1);
  EXPECT_EQ(itcnt, 1);

  // A bound flip counts as an update only while the basis is infeasible.
  struct Flip {
    int32_t ninf;
    int32_t expected_updates;
  };
  for (const Flip& f : {Flip{0, 1}, Flip{2, 2}}) {
    ninf = f.ninf;
    entering_column = flip;
    entering_sign = 0;
    leaving_row = kLeavingBoundFlip;
    leaving_direction = kLeaveAtUpper;
    status[flip] &= ~PS_AT_UPPER;
    update_basis_flags();
    EXPECT_NE(status[flip] & PS_AT_UPPER, 0);
    EXPECT_EQ(leaving_variable, flip);
    EXPECT_EQ(update_count, f.expected_updates);
  }
  EXPECT_EQ(itcnt, 3);
}

TEST_F(Kernel, ProductFormUpdateSolvesForTheNewBasis) {
  std::mt19937 rng(3);
  const int32_t m = 12;
  build_problem(m, kltest::random_columns(m, 12, 2, rng));
  icv(ic::IFFTUP) = 0;
  invert_basis();
  for (int step = 0; step < 5; ++step) {
    const int32_t q = kltest::column_position(step);
    unpack_column(q);
    factor.work_vector_state = WV_LISTED;
    eta_backward_pass();
    sparsify_work_vector(dcv(dc::ZTETA));
    const int32_t r = largest_entry_row();
    leaving_row = r;
    ASSERT_EQ(store_pivot_eta(), 0);
    exchange(q, r);
    for (int trial = 0; trial < 3; ++trial) {
      const std::vector<double> b = random_vector(rng, 4);
      kltest::load_work_vector(b);
      basis_solve_work_vector();
      EXPECT_LT(ftran_residual(b, kltest::read_work_vector()), 1e-10) << "step " << step;
      kltest::load_work_vector(b);
      basis_btran_work_vector();
      EXPECT_LT(btran_residual(b, kltest::read_work_vector()), 1e-10) << "step " << step;
    }
  }
}

}  // namespace
