// The hypersparse solves give the dense passes' results (up to the dropped
// tiny values), with an exact nonzero list, on random sparse bases with
// update etas of either form; past their heap limits they fall back to a
// dense sweep and say so. On a real basis after updates, listed and dense
// solves taken in turn both solve the basis.
#include "factor/hypersparse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "factor/factor_check.h"
#include "factor/invert.h"
#include "factor/solves.h"
#include "factor_fixture.h"
#include "problem/store.h"
#include "simplex/kernel.h"
#include "support/data_dir.h"
#include "support/temp_dir.h"

namespace {

using namespace kl;
using kltest::build_problem;
using kltest::choose_basis;

class Hypersparse : public kltest::FactorTest {};

// Appends a row eta (pivot row r, multiplier m, entries) below the invert
// part and links it into the chains of arrays 47 and 51, as the basis
// update does.
void append_row_eta(int32_t r, double m, const std::vector<std::pair<int32_t, double>>& entries) {
  const int32_t c = static_cast<int32_t>(entries.size());
  const int32_t t = eta_file.eta_capacity - eta_file.invert_part_size;
  OneBased<int32_t> rows = eta_row();
  OneBased<int32_t> links = u_row();
  OneBased<int32_t> owner = eta_next();
  OneBased<double> values = eta_value();
  OneBased<int32_t> heads47 = int_array(ARR_ROW_ETA_HEADS);
  OneBased<int32_t> heads51 = int_array(ARR_ROW_ETA_CHAINS);
  set_slot_low_word(t, c);
  rows[t] = r;
  auto link_at_end = [&](int32_t row, int32_t slot) {
    links[slot] = 0;
    if (heads51[row] == 0) {
      heads51[row] = slot;
      return;
    }
    int32_t s = heads51[row];
    while (links[s] != 0) s = links[s];
    links[s] = slot;
  };
  for (int32_t k = 0; k < c; ++k) {
    const int32_t slot = t - 1 - k;
    rows[slot] = entries[k].first;
    values[slot] = entries[k].second;
    owner[slot] = r;
    link_at_end(entries[k].first, slot);
  }
  const int32_t pivot = t - 1 - c;
  rows[pivot] = r;
  values[pivot] = m;
  owner[pivot] = 0;
  link_at_end(r, pivot);
  const int32_t bottom = t - 2 - c;
  set_slot_high_word(bottom, c);
  links[bottom] = heads47[r];
  heads47[r] = bottom;
  eta_file.invert_part_size += c + 2;
  ++eta_file.row_eta_count;
}

// Appends a product-form eta (pivot row r with 1 / alpha_r, entries alpha_i)
// below the invert part, as the product-form update writes it.
void append_product_form_eta(int32_t r, double alpha_r, const std::vector<std::pair<int32_t, double>>& entries) {
  const int32_t c = static_cast<int32_t>(entries.size());
  const int32_t t = eta_file.eta_capacity - eta_file.invert_part_size;
  set_slot_low_word(t, c);
  eta_row()[t - 1] = r;
  eta_value()[t - 1] = 1.0 / alpha_r;
  for (int32_t k = 0; k < c; ++k) {
    eta_row()[t - 2 - k] = entries[k].first;
    eta_value()[t - 2 - k] = entries[k].second;
  }
  set_slot_high_word(t - 2 - c, c);
  eta_file.invert_part_size += c + 2;
  ++eta_file.row_eta_count;
  ++eta_file.product_form_count;
}

// Random etas of either form: pivot row r, up to three other entries.
void add_random_etas(int count, bool product_form, std::mt19937& rng) {
  std::uniform_int_distribution<int32_t> row(1, nrow);
  std::uniform_real_distribution<double> value(-0.5, 0.5);
  std::uniform_int_distribution<int> size(0, 3);
  for (int e = 0; e < count; ++e) {
    const int32_t r = row(rng);
    std::vector<std::pair<int32_t, double>> entries;
    const int n = size(rng);
    for (int k = 0; k < n; ++k) {
      const int32_t i = row(rng);
      bool used = i == r;
      for (const auto& p : entries) used |= p.first == i;
      if (!used) entries.push_back({i, value(rng)});
    }
    if (product_form)
      append_product_form_eta(r, 1.0 + value(rng), entries);
    else
      append_row_eta(r, 1.0 + value(rng), entries);
  }
}

std::vector<double> sparse_vector(int32_t n, int nonzeros, std::mt19937& rng) {
  std::vector<double> v(static_cast<size_t>(n), 0.0);
  std::uniform_int_distribution<int32_t> row(0, n - 1);
  std::uniform_real_distribution<double> value(0.5, 2.0);
  for (int k = 0; k < nonzeros; ++k) v[row(rng)] = value(rng);
  return v;
}

// Every listed row is nonzero and every value of at least ZTETA is listed.
void expect_exact_list(const char* label) {
  const double drop = dcv(dc::ZTETA);
  std::vector<char> listed(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) {
    const int32_t i = work_list()[k];
    EXPECT_FALSE(listed[i]) << label << " row " << i << " listed twice";
    listed[i] = 1;
  }
  for (int32_t i = 1; i <= nrow; ++i)
    EXPECT_EQ(listed[i] != 0, std::fabs(work_vector()[i]) >= drop) << label << " row " << i;
}

void finish_state(const char* label, int64_t& fallbacks_seen) {
  if (factor.work_vector_state == WV_CLEAR_ALL) {
    ++fallbacks_seen;
    sparsify_work_vector(dcv(dc::ZTETA));
  }
  expect_exact_list(label);
}

// Both orders of summation agree to rounding relative to the result's size.
double tolerance(const std::vector<double>& v) {
  double m = 0.0;
  for (double e : v) m = std::max(m, std::fabs(e));
  return 1e-13 * (1.0 + m);
}

struct Totals {
  int64_t fallbacks = 0;
  int64_t solves = 0;
};

void compare_on_random_vectors(std::mt19937& rng, Totals& totals) {
  const int densities[] = {1, 2, 3, 6, 12, 40};
  for (int nonzeros : densities) {
    const std::vector<double> b = sparse_vector(nrow, nonzeros, rng);
    factor.factor_dimension = nrow;

    kltest::load_work_vector(b);
    ftran_invert_part();
    ftran_update_part(work_vector());
    sparsify_work_vector(dcv(dc::ZTETA));
    const std::vector<double> dense_ftran = kltest::read_work_vector();

    kltest::load_work_vector(b);
    solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
    finish_state("forward", totals.fallbacks);
    solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
    finish_state("backward", totals.fallbacks);
    EXPECT_LT(kltest::max_difference(kltest::read_work_vector(), dense_ftran), tolerance(dense_ftran)) << nonzeros;

    kltest::load_work_vector(b);
    btran_update_part();
    btran_invert_part();
    sparsify_work_vector(dcv(dc::ZTETA));
    const std::vector<double> dense_btran = kltest::read_work_vector();

    kltest::load_work_vector(b);
    sparse_solve_heap_ordered();
    finish_state("U btran", totals.fallbacks);
    sparse_triangular_solve_heap();
    finish_state("invert btran", totals.fallbacks);
    EXPECT_LT(kltest::max_difference(kltest::read_work_vector(), dense_btran), tolerance(dense_btran)) << nonzeros;
    totals.solves += 4;
  }
}

TEST_F(Hypersparse, ResultsEqualTheDensePassesOnRandomBases) {
  std::mt19937 rng(424242);
  Totals totals;
  const int64_t before = hypersparse_stats.fallbacks;
  for (int32_t rows : {8, 50, 300, 1200}) {
    build_problem(rows, kltest::random_columns(rows, rows, 3, rng));
    choose_basis(kltest::random_basis(rows, rows, rows * 3 / 4, rng));
    invert_basis();
    ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
    for (int round = 0; round < 3; ++round) compare_on_random_vectors(rng, totals);
  }
  // Both the heap path and the dense fall-back were exercised.
  EXPECT_GT(totals.fallbacks, 0);
  EXPECT_LT(totals.fallbacks, totals.solves);
  EXPECT_EQ(hypersparse_stats.fallbacks - before, totals.fallbacks);
}

// Row etas belong to the invert part, product-form etas follow U: the
// hypersparse solves find either where the dense passes put them.
TEST_F(Hypersparse, UpdateEtasOfEitherFormAreFollowed) {
  for (const bool product_form : {false, true}) {
    SCOPED_TRACE(product_form ? "product form" : "row etas");
    std::mt19937 rng(99);
    Totals totals;
    for (int32_t rows : {20, 400}) {
      build_problem(rows, kltest::random_columns(rows, rows, 3, rng));
      choose_basis(kltest::random_basis(rows, rows, rows / 2, rng));
      invert_basis();
      ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
      add_random_etas(rows / 4, product_form, rng);
      for (int round = 0; round < 3; ++round) compare_on_random_vectors(rng, totals);
    }
    EXPECT_GT(totals.fallbacks, 0);
  }
}

// The column of position j, dense by row.
std::vector<double> column_of(int32_t j) {
  std::vector<double> a(static_cast<size_t>(nrow), 0.0);
  if (j < store.first_col) {
    a[j - 1] = 1.0;
    return a;
  }
  OneBased<int32_t> start = int_array(ARR_COL_START);
  for (int32_t e = start[j]; e < start[j + 1]; ++e)
    a[int_array(ARR_ELEM_ROW)[e] - 1] += real_array(ARR_ELEM_VALUE)[e];
  return a;
}

// The work vector := e_r as the engines start a row of the inverse: the
// vector cleared as its state allows, then one listed entry.
void start_unit_row(int32_t r) {
  clear_work_vector();
  work_vector()[r] = 1.0;
  work_list()[1] = r;
  factor.work_vector_count = 1;
  factor.work_vector_state = WV_LISTED;
}

void finish_listed_solve() {
  if (factor.work_vector_state == WV_CLEAR_ALL || factor.work_vector_count < 0) sparsify_work_vector(dcv(dc::ZTETA));
}

// A real basis after a few updates of either form: every column and every
// row of the inverse, solved densely and through the lists in turn, solves
// the basis. A dense pass leaves the vector dense, so the unpack or unit
// vector that follows it starts clean rather than on the pass's leftovers.
TEST_F(Hypersparse, ListedAndDenseSolvesOfARealBasisAfterUpdates) {
  KLTEST_REQUIRE_DATA(file, "netlib/afiro.mps");
  kltest::TempDir dir;
  for (const int32_t ifftup : {1, 0}) {
    SCOPED_TRACE("IFFTUP " + std::to_string(ifftup));
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    ASSERT_EQ(KLSETPROB(dir.file("afiro").c_str()), 0);
    KLSETICV(KLIC_IFPRES, 0);
    KLSETICV(KLIC_IFFTUP, ifftup);
    KLSETICV(KLIC_ITRLIM, 8);
    ASSERT_EQ(KLMINIM("p"), 0);
    // Stopped by the iteration limit with the updates still in the file.
    ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
    ASSERT_EQ(factor.factor_permuted, 0);
    ASSERT_GE(eta_file.row_eta_count, 3);
    EXPECT_EQ(eta_file.product_form_count, ifftup == 0 ? eta_file.row_eta_count : 0);
    const double tolerance = 1e-10;
    for (int32_t j = 1; j <= nseq; ++j) {
      SCOPED_TRACE("column " + std::to_string(j));
      const std::vector<double> a = column_of(j);
      unpack_column(j);
      ftran_invert_part();
      ftran_update_part(work_vector());
      EXPECT_EQ(factor.work_vector_state, WV_CLEAR_ALL);
      const std::vector<double> dense = kltest::read_work_vector();
      EXPECT_LT(ftran_residual(a, dense), tolerance);
      unpack_column(j);
      solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
      finish_listed_solve();
      solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
      finish_listed_solve();
      expect_exact_list("column");
      const std::vector<double> listed = kltest::read_work_vector();
      EXPECT_LT(ftran_residual(a, listed), tolerance);
      EXPECT_LT(kltest::max_difference(listed, dense), tolerance);
    }
    for (int32_t r = 1; r <= nrow; ++r) {
      SCOPED_TRACE("row " + std::to_string(r));
      std::vector<double> e(static_cast<size_t>(nrow), 0.0);
      e[r - 1] = 1.0;
      start_unit_row(r);
      btran_update_part();
      btran_invert_part();
      EXPECT_EQ(factor.work_vector_state, WV_CLEAR_ALL);
      const std::vector<double> dense = kltest::read_work_vector();
      EXPECT_LT(btran_residual(e, dense), tolerance);
      start_unit_row(r);
      sparse_solve_heap_ordered();
      finish_listed_solve();
      sparse_triangular_solve_heap();
      finish_listed_solve();
      expect_exact_list("row");
      EXPECT_LT(btran_residual(e, kltest::read_work_vector()), tolerance);
    }
  }
}

TEST_F(Hypersparse, SlackBasisReturnsItsInputWithACleanList) {
  build_problem(6, {{{1, 1.0}}});
  invert_basis();
  std::vector<double> b(6, 0.0);
  b[2] = 3.0;
  b[4] = 1e-15;  // below ZTETA: dropped from the list and zeroed
  kltest::load_work_vector(b);
  sparse_solve_heap_ordered();
  sparse_triangular_solve_heap();
  EXPECT_EQ(factor.work_vector_state, WV_LISTED);
  ASSERT_EQ(factor.work_vector_count, 1);
  EXPECT_EQ(work_list()[1], 3);
  EXPECT_EQ(work_vector()[3], 3.0);
  EXPECT_EQ(work_vector()[5], 0.0);
  kltest::load_work_vector(b);
  solve_with_factor_forward(work_vector(), work_list(), factor.work_vector_count);
  solve_with_factor_backward(work_vector(), work_list(), factor.work_vector_count);
  ASSERT_EQ(factor.work_vector_count, 1);
  EXPECT_EQ(work_list()[1], 3);
}

TEST_F(Hypersparse, TooManyStartRowsFallBackAtOnce) {
  std::mt19937 rng(5);
  build_problem(100, kltest::random_columns(100, 100, 2, rng));
  std::vector<int32_t> basic;
  for (int32_t j = 0; j < 100; ++j) basic.push_back(kltest::column_position(j));
  choose_basis(basic);
  invert_basis();
  ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
  ASSERT_GT(eta_file.u_column_count, 0);
  std::vector<double> b(100, 1.0);
  kltest::load_work_vector(b);
  sparse_solve_heap_ordered();
  EXPECT_EQ(factor.work_vector_state, WV_CLEAR_ALL);
  EXPECT_EQ(factor.work_vector_count, -1);
  sparsify_work_vector(dcv(dc::ZTETA));
  sparse_triangular_solve_heap();
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  EXPECT_LT(btran_residual(b, kltest::read_work_vector()), 1e-10);
}

TEST(HeapLimits, GrowWithTheRowsAndStopAtOneThousand) {
  const int32_t saved = nrow;
  nrow = 10000;
  EXPECT_EQ(u_btran_heap_limit(), 15);
  EXPECT_EQ(invert_ftran_heap_limit(), 15);
  EXPECT_EQ(invert_btran_heap_limit(), 25);
  nrow = 2000000;
  EXPECT_EQ(u_btran_heap_limit(), 1000);
  EXPECT_EQ(invert_btran_heap_limit(), 1000);
  nrow = saved;
}

}  // namespace
