// The hypersparse solves give the dense passes' results (up to the dropped
// tiny values), with an exact nonzero list, on random sparse bases; past
// their heap limits they fall back to a dense sweep and say so.
#include "factor/hypersparse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "factor/factor_check.h"
#include "factor/invert.h"
#include "factor/solves.h"
#include "factor_fixture.h"

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

void add_random_row_etas(int count, std::mt19937& rng) {
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

TEST_F(Hypersparse, RowEtasOfUpdatesAreFollowed) {
  std::mt19937 rng(99);
  Totals totals;
  for (int32_t rows : {20, 400}) {
    build_problem(rows, kltest::random_columns(rows, rows, 3, rng));
    choose_basis(kltest::random_basis(rows, rows, rows / 2, rng));
    invert_basis();
    ASSERT_NE(problem_flags & PF_FACTOR_VALID, 0);
    add_random_row_etas(rows / 4, rng);
    for (int round = 0; round < 3; ++round) compare_on_random_vectors(rng, totals);
  }
  EXPECT_GT(totals.fallbacks, 0);
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
