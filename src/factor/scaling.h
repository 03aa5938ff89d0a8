// Power-of-two scaling of rows and columns.
//
// Every row, spare row and column position p has a factor 2^k kept as the
// exponent byte e = k + 64 in the top byte of its status word (a byte of 0
// reads as 64; the passes keep e within 1..127). With row factors r_i and
// column factors c_j the store holds a_ij*r_i*c_j for a matrix entry, c*c_j
// for a cost, b*r_i for a right-hand side or range and l/c_j, u/c_j for
// column bounds; infinite bounds stay infinite. Because every factor is a
// power of two, scaling and unscaling are exact.
#ifndef KLSOL_FACTOR_SCALING_H
#define KLSOL_FACTOR_SCALING_H

#include <cstdint>

#include "problem/scale_exponents.h"

namespace kl {

// IFSCAL bits.
enum ScalingMethod : int32_t {
  SCALE_FIRST_PASS = 0x1,
  SCALE_SECOND_PASS = 0x2,
  SCALE_THIRD_PASS = 0x4,
  SCALE_MIN_MAX = 0x8,         // iterative minimum-maximum method, SSV004 sweeps
  SCALE_GEOMETRIC = 0x10,      // iterative geometric-mean method, at most 10 sweeps
  SCALE_MAX_ROWS_FIRST = 0x20,  // passes use the maximum rule, rows first
  SCALE_MAX_COLS_FIRST = 0x40,  // passes use the maximum rule, columns first
  SCALE_KEEP_OBJECTIVE_ROW = 0x200,
};

// Fresh exponents chosen by IFSCAL, applied to the stored problem and
// stamped into the status words. error := 0, or 1 when the typed entries
// could not be scaled (message 172; result += 100000), or the id of a work
// array that could not be allocated (nothing is scaled then). The typed
// entries are scaled only while the set-up of a load runs (PF_LOADED clear).
void scale_problem(int32_t& result, int32_t& error);
// Multiplies the stored problem by 2^(v - 64) for the exponents v held in
// scale_work; exponents 128 - e undo a scaling by e.
void apply_scale_factors();
// The passes update scale_work in place.
void row_scale_pass();
void column_scale_pass();
void row_scale_pass_alt();
void column_scale_pass_alt();
void scale_matrix();
// Exponent bytes of the typed entries from scale_work; error := 1 and stop
// at the first entry whose exponent falls outside 1..126 (message 172).
void scale_typed_entries(int32_t& error);
// Body of KLSCALE and of the SCALE command. given: 1 when row exponents are
// passed, + 2 when column exponents are; 0 computes fresh factors. The
// exponents are powers k of 2^k, one per row and one per column, each within
// -63..63; rows and columns must be given together. The OBCNAM row, the
// objective row (IFSCAL 0x200) and the quadratic columns keep factor 1.
void rescale_problem(const int32_t* row_exponents, const int32_t* col_exponents, int32_t given);

void zero_words32(void* destination, int64_t count);
void zero_words16(void* destination, int64_t count);

}  // namespace kl

#endif
