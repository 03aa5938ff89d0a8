// A small classified barrier problem for the iterate routines: four columns
// (removed, free, lower-bounded, boxed) and four rows (boxed slack,
// lower-bounded slack, equality slack, removed slack), already in class
// order, with entries of the removed row behind each column's active part.
#ifndef KLSOL_TESTS_BARRIER_ITERATE_ITERATE_FIXTURE_H
#define KLSOL_TESTS_BARRIER_ITERATE_ITERATE_FIXTURE_H

#include <array>
#include <cstdint>
#include <vector>

#include "barrier/barrier_params.h"

namespace kltest {

struct ClassedProblem {
  kl::barrier_params params;
  // Positions 1 removed column, 2 free, 3 lower, 4 boxed, 5 boxed slack,
  // 6 lower slack, 7 equality slack, 8 removed slack.
  std::array<int32_t, 17> ranges = {0, 2, 3, 4, 5, 6, 7, 1, 8, 2, 3, 4, 5, 6, 7, 8, 1};
  std::vector<int32_t> matrix_start, matrix_end, quad_start, factor_index;
  std::vector<double> factor_value;
  std::vector<double> quad_diag = {0, 1.0, 2.0, 3.0, 4.0};
  std::vector<double> cost = {0, 3.0, -1.0, 2.0, 0.5};
  std::vector<double> rhs = {0, 4.0, -2.0, 1.5, 7.0};
  std::vector<double> upper = {0, 5.0, 0.0, 0.0, 3.0, 6.0, 0.0, 0.0, 0.0};
  std::vector<double> x = {0, 1.5, -0.7, 0.9, 1.2, 2.5, 0.8, 0.0, 0.0};
  std::vector<double> s = {0, 0.0, 0.0, 0.0, 1.7, 3.1, 0.0, 0.0, 0.0};
  std::vector<double> z = {0, 0.0, 0.0, 0.6, 0.4, 0.3, 0.2, 0.0, 0.0};
  std::vector<double> w = {0, 0.0, 0.0, 0.0, 0.9, 0.5, 0.0, 0.0, 0.0};
  std::vector<double> y = {0, 0.75, -0.5, 1.25, 9.0};

  // Matrix columns as (position, value); entries of position 8 (the removed
  // row) and all of column 1 lie outside the active parts.
  const std::vector<std::vector<std::pair<int32_t, double>>> columns = {
      {{5, 1.0}, {6, 2.0}}, {{5, 1.5}, {6, -1.0}, {7, 2.0}, {8, 4.0}}, {{6, 3.0}, {7, -0.5}},
      {{5, -2.0}, {7, 1.0}, {8, 5.0}}};
  // Quadratic pairs stored once: column, row, value.
  const std::vector<std::array<double, 3>> quad = {{1, 3, 0.7}, {2, 3, 0.5}, {2, 4, -0.3}, {3, 4, 0.25}};

  ClassedProblem() {
    kl::set_barrier_defaults(params);
    params.col_count = 4;
    params.row_count = 4;
    params.var_count = 8;
    params.quad_col_count = 4;
    matrix_start.assign(6, 0);
    matrix_end.assign(5, 0);
    quad_start.assign(6, 0);
    factor_index.assign(1, 0);
    factor_value.assign(1, 0.0);
    for (size_t j = 0; j < columns.size(); ++j) {
      matrix_start[j + 1] = static_cast<int32_t>(factor_index.size());
      for (const auto& [r, v] : columns[j]) {
        factor_index.push_back(r);
        factor_value.push_back(v);
        if (j > 0 && r != 8) matrix_end[j + 1] = static_cast<int32_t>(factor_index.size()) - 1;
      }
      if (j == 0) matrix_end[1] = matrix_start[1] - 1;
    }
    matrix_start[5] = static_cast<int32_t>(factor_index.size());
    params.matrix_nz = matrix_start[5] - 1;
    size_t next = 0;
    for (int32_t j = 1; j <= 4; ++j) {
      quad_start[j] = static_cast<int32_t>(factor_index.size());
      while (next < quad.size() && quad[next][0] == j) {
        factor_index.push_back(static_cast<int32_t>(quad[next][1]));
        factor_value.push_back(quad[next][2]);
        ++next;
      }
    }
    quad_start[5] = static_cast<int32_t>(factor_index.size());
    params.quad_nz = quad_start[5] - quad_start[1];
    params.factor_space = static_cast<int32_t>(factor_index.size()) - 1;
  }

  // The active part of the matrix as a dense 4 x 4 (row i, column j).
  double a(int32_t i, int32_t j) const {
    if (j == 1) return 0.0;
    for (const auto& [r, v] : columns[static_cast<size_t>(j) - 1]) {
      if (r == 4 + i && r != 8) return v;
    }
    return 0.0;
  }
  // Q as a dense symmetric matrix over the stored pattern.
  double q(int32_t i, int32_t j) const {
    if (i == j) return quad_diag[static_cast<size_t>(i)];
    for (const auto& e : quad) {
      if ((e[0] == i && e[1] == j) || (e[0] == j && e[1] == i)) return e[2];
    }
    return 0.0;
  }
};

}  // namespace kltest

#endif
