// Hand-built problems for the factorisation tests: the arrays a load would
// leave, allocated through the registry and filled directly, with a slack
// basis; and helpers to choose a basis, load the work vector and compare.
#ifndef KLSOL_TESTS_FACTOR_FACTOR_FIXTURE_H
#define KLSOL_TESTS_FACTOR_FACTOR_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "factor/crossover_state.h"
#include "factor/basis.h"
#include "factor/starting_basis.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace kltest {

// A column as (row from 1, value) pairs.
using Column = std::vector<std::pair<int32_t, double>>;

inline void allocate(int id, int64_t words) {
  kl::free_array(id, kl::array_cells[id]);
  ASSERT_EQ(kl::allocate_array(id, kl::array_cells[id], words), 0) << "array " << id;
}

// Rows 1..m with slacks bounded below by 0; columns bounded by [0, 10]; the
// working right-hand side 1, 2, ..., m; a slack basis.
inline void build_problem(int32_t m, const std::vector<Column>& columns) {
  using namespace kl;
  free_problem_registry(current_slot);
  reset_factor_state();
  reset_crossover_state();
  lp_algorithm = 0;
  const int32_t n = static_cast<int32_t>(columns.size());
  nrow = m;
  spare_rows_left = 0;
  spare_cols_left = 0;
  store.first_col = m + 1;
  nseq = m + n;
  int32_t elements = 0;
  for (const Column& c : columns) elements += static_cast<int32_t>(c.size());
  nelem = elements;
  const int64_t positions = nseq + 1;
  allocate(ARR_ROW_TYPE, words_for_ints(m + 1));
  allocate(ARR_POS_STATUS, words_for_ints(positions));
  allocate(ARR_COL_START, words_for_ints(positions + 1));
  allocate(ARR_ELEM_ROW, words_for_ints(elements + 1));
  allocate(ARR_ELEM_VALUE, words_for_reals(elements + 1));
  for (int id : {ARR_OBJECTIVE, ARR_LOWER, ARR_UPPER, ARR_X, ARR_REDUCED_COSTS, ARR_WORKING_COSTS, ARR_WORK_LOWER,
                 ARR_WORK_UPPER})
    allocate(id, words_for_reals(positions));
  for (int id : {ARR_WORK_RHS, ARR_BASIC_VALUES, ARR_BASIC_UPPER, ARR_WORK_VECTOR, ARR_ROW_WEIGHTS, ARR_ROW_PRICES,
                 ARR_PHASE1_VALUES})
    allocate(id, words_for_reals(m + 1));
  for (int id : {ARR_BASIS_HEADER, ARR_FACTOR_ROWS, ARR_FACTOR_INDEX}) allocate(id, words_for_ints(m + 1));
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t i = 1; i <= m; ++i) {
    int_array(ARR_ROW_TYPE)[i] = ROW_G;
    status[i] = static_cast<int32_t>(kDefaultScaleWord | PS_FINITE_LOWER);
    lower[i] = 0.0;
    upper[i] = kInfinity;
    real_array(ARR_WORK_RHS)[i] = i;
    real_array(ARR_ROW_WEIGHTS)[i] = 1.0;
  }
  int32_t k = 1;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t p = store.first_col + j;
    status[p] = static_cast<int32_t>(kDefaultScaleWord | PS_BOTH_FINITE);
    lower[p] = 0.0;
    upper[p] = 10.0;
    start[p] = k;
    for (const auto& [row, value] : columns[j]) {
      elem_row[k] = row;
      elem_value[k] = value;
      ++k;
    }
  }
  start[nseq + 1] = k;
  problem_state = 1;
  problem_flags = PF_LOADED | PF_COLUMN_COPY;
  set_slack_basis();
  dcv(dslot::kInvertPivotThreshold) = 0.0;
}

// Position of structural column j (from 0).
inline int32_t column_position(int32_t j) { return kl::store.first_col + j; }

// Makes exactly the given positions basic (the rest non-basic at their
// lower bound) and rebuilds the header from the status bits.
inline void choose_basis(const std::vector<int32_t>& basic) {
  using namespace kl;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p) status[p] &= ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
  for (int32_t p : basic) status[p] |= PS_BASIC;
  set_basis_header();
}

// Random sparse columns: column j has a strong entry in row perm(j) and up to
// `extra` weaker ones, so that most bases drawn from them are regular.
inline std::vector<Column> random_columns(int32_t m, int32_t n, int extra, std::mt19937& rng) {
  std::uniform_int_distribution<int32_t> row(1, m);
  std::uniform_real_distribution<double> weak(-1.0, 1.0);
  std::uniform_int_distribution<int> count(0, extra);
  std::vector<int32_t> perm(static_cast<size_t>(m));
  for (int32_t i = 0; i < m; ++i) perm[i] = i + 1;
  std::shuffle(perm.begin(), perm.end(), rng);
  std::vector<Column> columns(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) {
    const int32_t strong = perm[j % m];
    columns[j].push_back({strong, 2.0 + weak(rng)});
    const int c = count(rng);
    for (int q = 0; q < c; ++q) {
      const int32_t r = row(rng);
      bool present = false;
      for (const auto& e : columns[j]) present |= e.first == r;
      if (!present) columns[j].push_back({r, weak(rng)});
    }
  }
  return columns;
}

// A basis of `structurals` random columns and slacks elsewhere.
inline std::vector<int32_t> random_basis(int32_t m, int32_t n, int32_t structurals, std::mt19937& rng) {
  std::vector<int32_t> cols(static_cast<size_t>(n));
  for (int32_t j = 0; j < n; ++j) cols[j] = j;
  std::shuffle(cols.begin(), cols.end(), rng);
  std::vector<int32_t> basic;
  for (int32_t k = 0; k < structurals && k < n; ++k) basic.push_back(column_position(cols[k]));
  std::vector<int32_t> rows(static_cast<size_t>(m));
  for (int32_t i = 0; i < m; ++i) rows[i] = i + 1;
  std::shuffle(rows.begin(), rows.end(), rng);
  for (int32_t k = 0; static_cast<int32_t>(basic.size()) < m; ++k) basic.push_back(rows[k]);
  return basic;
}

// The work vector := v (0-based by row), all of it listed, state 2.
inline void load_work_vector(const std::vector<double>& v) {
  using namespace kl;
  OneBased<double> x = work_vector();
  OneBased<int32_t> list = work_list();
  int32_t count = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    x[i] = v[i - 1];
    if (v[i - 1] != 0.0) list[++count] = i;
  }
  factor.work_vector_count = count;
  factor.work_vector_state = WV_LISTED;
}

inline std::vector<double> read_work_vector() {
  std::vector<double> out(static_cast<size_t>(kl::nrow));
  for (int32_t i = 1; i <= kl::nrow; ++i) out[i - 1] = kl::work_vector()[i];
  return out;
}

inline double max_difference(const std::vector<double>& a, const std::vector<double>& b) {
  double worst = 0.0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(a[i] - b[i]));
  return worst;
}

inline int count_lines_containing(const std::string& needle) {
  int n = 0;
  for (const auto& line : text_lines()) n += line.text.find(needle) != std::string::npos ? 1 : 0;
  return n;
}

// Started library with output captured; the factor tests build their own
// problems.
class FactorTest : public LibrarySession {};

}  // namespace kltest

#endif
