// The barrier problem dump: the problem the barrier is about to solve,
// written in its own internal form as a fixed-format QPS file (MPS with a
// QUADOBJ section) for diagnosis. The sense is already applied (a
// maximisation shows as the minimisation of the negated costs) and every row
// is in the barrier's form a_i x - slack_i = b_i with the slack's bounds.
//
// Names have 8 characters: row i is "R" followed by i right-aligned in 7
// places with "-" for the leading blanks (R------5, R---1234), column j the
// same with "C". Indices of 10,000,000 and more do not fit 7 decimal places;
// they are written as "X" followed by the index in 6 base-36 digits
// (0-9, A-Z), which no decimal name can equal.
#ifndef KLSOL_BARRIER_PROBLEM_DUMP_H
#define KLSOL_BARRIER_PROBLEM_DUMP_H

#include <cstdint>

namespace kl {

// Created or overwritten in the process's current directory.
inline constexpr const char* kBarrierDumpFileName = "korip.qps";

// A bound at or beyond this magnitude counts as infinite in the dump; a
// value at or below kBarrierDumpZero counts as zero and is not written.
inline constexpr double kBarrierDumpInfinite = 1e12;
inline constexpr double kBarrierDumpZero = 1e-30;

inline constexpr int32_t kBarrierDumpNameLength = 8;

// Writes the 8-character name of row or column `index` (prefix 'R' or 'C')
// and a terminating NUL into `name`.
void format_barrier_dump_name(char prefix, int32_t index, char name[kBarrierDumpNameLength + 1]);

// Writes `korip.qps`. Arrays are 1-based: `col_state`[j] and `row_state`[i]
// the `var_state` of column j and row i (removed below -1), the matrix by
// columns with row indices 1..m, the below-diagonal quadratic entries of
// column j from `quad_start`[j] to `quad_start`[j+1] - 1 (column index in
// `factor_index`), `cost` and `quad_diag` by column, `rhs` by row, `lower`
// and `upper` by position (the slack of row i at n + i). A file that cannot
// be created is skipped; nothing is reported.
void write_qps_dump(int32_t m, int32_t n, int32_t matrix_nz, int32_t quad_col_count, int32_t quad_nz,
                    const int32_t* col_state, const int32_t* row_state, const int32_t* matrix_start,
                    const int32_t* factor_index, const double* factor_value, const int32_t* quad_start,
                    const double* quad_diag, const double* cost, double objective_constant,
                    const double* rhs, const double* upper, const double* lower);

}  // namespace kl

#endif
