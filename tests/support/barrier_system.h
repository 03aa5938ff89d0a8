// Fixtures of the barrier's linear algebra: a constraint matrix (and a
// quadratic pattern) laid out in the barrier's factor spaces, built from a
// small matrix or from an MPS file read through the library.
#ifndef KLSOL_TESTS_SUPPORT_BARRIER_SYSTEM_H
#define KLSOL_TESTS_SUPPORT_BARRIER_SYSTEM_H

#include <cstdint>
#include <string>
#include <vector>

#include "barrier/barrier_params.h"
#include "klsol32.h"

namespace kltest {

// A sparse matrix by columns, 0-based: column j holds rows[k], values[k] for
// k = starts[j]..starts[j+1]-1.
struct SparseColumns {
  int32_t rows_count = 0;
  int32_t cols_count = 0;
  std::vector<int32_t> starts{0};
  std::vector<int32_t> rows;
  std::vector<double> values;
};

// The barrier's view of one problem: 1-based arrays as the barrier routines
// take them (element 0 unused).
struct BarrierSystem {
  kl::barrier_params params;
  std::vector<int32_t> factor_index;  // 1..factor_space
  std::vector<double> factor_value;   // 1..factor_space
  std::vector<int32_t> matrix_start;  // 1..n+1
  std::vector<int32_t> matrix_end;    // 1..n
  std::vector<int32_t> quad_start;    // 1..n+1
  std::vector<int32_t> var_state;     // 1..n+m, all 0

  int32_t n() const { return params.col_count; }
  int32_t m() const { return params.row_count; }
  int32_t* fi() { return factor_index.data(); }
  double* fv() { return factor_value.data(); }
};

// Lays out a (m x n) and, optionally, the strictly-below-diagonal quadratic
// entries q (n x n, column j holds rows i > j; 0-based) in factor spaces of
// factor_space entries (0: 4 x the stored entries + 10 x (n + m) + 1000).
inline BarrierSystem make_barrier_system(const SparseColumns& a, const SparseColumns* q = nullptr,
                                         int32_t factor_space = 0) {
  BarrierSystem s;
  kl::set_barrier_defaults(s.params);
  const int32_t n = a.cols_count;
  const int32_t m = a.rows_count;
  const int32_t anz = static_cast<int32_t>(a.rows.size());
  const int32_t qnz = q != nullptr ? static_cast<int32_t>(q->rows.size()) : 0;
  if (factor_space == 0) factor_space = 4 * (anz + qnz) + 10 * (n + m) + 1000;
  s.params.col_count = n;
  s.params.row_count = m;
  s.params.var_count = n + m;
  s.params.matrix_nz = anz;
  s.params.quad_nz = qnz;
  s.params.quad_col_count = qnz > 0 ? n : 0;
  s.params.factor_space = factor_space;
  s.params.free_space = (factor_space - anz - qnz - 1) / 2 - 1;
  s.factor_index.assign(static_cast<size_t>(factor_space) + 1, 0);
  s.factor_value.assign(static_cast<size_t>(factor_space) + 1, 0.0);
  s.matrix_start.assign(static_cast<size_t>(n) + 2, 0);
  s.matrix_end.assign(static_cast<size_t>(n) + 1, 0);
  s.quad_start.assign(static_cast<size_t>(n) + 2, anz + 1);
  s.var_state.assign(static_cast<size_t>(n + m) + 1, 0);
  int32_t e = 1;
  for (int32_t j = 0; j < n; ++j) {
    s.matrix_start[static_cast<size_t>(j) + 1] = e;
    for (int32_t k = a.starts[static_cast<size_t>(j)]; k < a.starts[static_cast<size_t>(j) + 1]; ++k, ++e) {
      s.factor_index[static_cast<size_t>(e)] = n + 1 + a.rows[static_cast<size_t>(k)];
      s.factor_value[static_cast<size_t>(e)] = a.values[static_cast<size_t>(k)];
    }
    s.matrix_end[static_cast<size_t>(j) + 1] = e - 1;
  }
  s.matrix_start[static_cast<size_t>(n) + 1] = e;
  for (int32_t j = 0; j < n; ++j) {
    s.quad_start[static_cast<size_t>(j) + 1] = e;
    if (q == nullptr) continue;
    for (int32_t k = q->starts[static_cast<size_t>(j)]; k < q->starts[static_cast<size_t>(j) + 1]; ++k, ++e) {
      s.factor_index[static_cast<size_t>(e)] = 1 + q->rows[static_cast<size_t>(k)];
      s.factor_value[static_cast<size_t>(e)] = q->values[static_cast<size_t>(k)];
    }
  }
  s.quad_start[static_cast<size_t>(n) + 1] = e;
  return s;
}

// Class ranges (entries 1..16 of the barrier's class table) of a problem
// with free columns 1..free_columns, the other columns lower-bounded, and
// every row an equality (no boxed positions).
inline std::vector<int32_t> plain_class_ranges(int32_t n, int32_t m, int32_t free_columns) {
  std::vector<int32_t> cr(17, 0);
  cr[1] = 1;
  cr[9] = free_columns;
  cr[2] = free_columns + 1;
  cr[10] = n;
  cr[3] = n + 1;
  cr[11] = n;
  cr[4] = n + 1;
  cr[12] = n;
  cr[5] = n + 1;
  cr[13] = n;
  cr[6] = n + 1;
  cr[14] = n + m;
  cr[7] = 1;
  cr[15] = n + m;
  cr[8] = n + m + 1;
  cr[16] = 0;
  return cr;
}

// The constraint matrix of an MPS file, read through the library (which must
// be started). Empty (0 x 0) when the file cannot be read.
inline SparseColumns read_mps_columns(const std::string& path) {
  SparseColumns a;
  if (KLINPUT(path.c_str()) != 0) return a;
  int32_t rows = 0, cols = 0;
  KLGETIPV(1001, &rows);
  KLGETIPV(1018, &cols);
  if (cols <= 0) return a;
  std::vector<int32_t> starts(static_cast<size_t>(cols) + 1);
  int32_t count = 0;
  KLGETCOLS(starts.data(), nullptr, nullptr, 0, &count, 0, cols - 1);
  a.rows.resize(static_cast<size_t>(count) + 1);
  a.values.resize(static_cast<size_t>(count) + 1);
  KLGETCOLS(starts.data(), a.rows.data(), a.values.data(), count, &count, 0, cols - 1);
  a.rows.resize(static_cast<size_t>(count));
  a.values.resize(static_cast<size_t>(count));
  a.rows_count = rows;
  a.cols_count = cols;
  a.starts = starts;
  return a;
}

}  // namespace kltest

#endif
