// Dense update kernels of the barrier's supernodal factorisation.
//
// Interface summary (callers: the numeric factorisations of
// numeric_factor.h and push_factor.h):
// - Every kernel applies the updates of a run of consecutive source ranks
//   first..last (nothing when first > last). The entries of a source s are
//   addressed through its cursor: v(s, i) = factor_value[factor_cursor[s] + i],
//   so the caller aligns the cursors of all sources on one common row and the
//   offsets below count rows from it. Column values are stored unscaled
//   (L[r,s]·d_s), `pivot_inverse`[s] is 1/d_s, so the multiplier of a source
//   is μ_s = -pivot_inverse[s]·v(s, row of the target's diagonal).
// - update_column_by4/by8(len, first, last, pivot_inverse, factor_value,
//   factor_cursor, target, diagonal, offset):
//     *diagonal += Σ_s μ_s·v(s, offset), μ_s = -pivot_inverse[s]·v(s, offset);
//     target[t] += Σ_s μ_s·v(s, offset + 1 + t), t = 0..len-1.
// - update_block_by4/by8(len, ncols, first, last, pivot_inverse,
//   factor_value, factor_cursor, buffer, offset): writes ncols + 1 packed
//   columns one after another (column c has len - c + 1 values, the first its
//   diagonal contribution); value t of column c is
//   -Σ_s pivot_inverse[s]·v(s, offset + c)·v(s, offset + c + t). The buffer is
//   overwritten, not added to.
// - update_chunk_by4/by8(len, first, last, back, ahead, factor_cursor,
//   factor_value, target, pivot_inverse): μ_s = -v(s, -back)·pivot_inverse[s];
//   target[t] += Σ_s μ_s·v(s, ahead + t), t = 0..len-1; no diagonal.
// - `target`, `buffer` are 0-based; `pivot_inverse`, `factor_value` and
//   `factor_cursor` are the 1-based arrays of the factorisation (indexed by
//   rank and by entry). Scalars are taken by value; the kernels call nothing.
// - The 4-source family groups sources 4, 2, 1 at a time, the 8-source
//   family 8, 4, 2, 1; rows are unrolled by 8. `select_update_kernels` picks
//   the family from `L2_LOOP` (< 8: the 4-source family).
#ifndef KLSOL_BARRIER_FACTOR_UPDATE_KERNELS_H
#define KLSOL_BARRIER_FACTOR_UPDATE_KERNELS_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

using UpdateColumnKernel = void (*)(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                                    const double* factor_value, const int32_t* factor_cursor, double* target,
                                    double* diagonal, int32_t offset);
using UpdateBlockKernel = void (*)(int32_t len, int32_t ncols, int32_t first, int32_t last,
                                   const double* pivot_inverse, const double* factor_value,
                                   const int32_t* factor_cursor, double* buffer, int32_t offset);
using UpdateChunkKernel = void (*)(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                                   const int32_t* factor_cursor, const double* factor_value, double* target,
                                   const double* pivot_inverse);

void update_column_by4(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                       int32_t offset);
void update_column_by8(int32_t len, int32_t first, int32_t last, const double* pivot_inverse,
                       const double* factor_value, const int32_t* factor_cursor, double* target, double* diagonal,
                       int32_t offset);
void update_block_by4(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                      const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset);
void update_block_by8(int32_t len, int32_t ncols, int32_t first, int32_t last, const double* pivot_inverse,
                      const double* factor_value, const int32_t* factor_cursor, double* buffer, int32_t offset);
void update_chunk_by4(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                      const int32_t* factor_cursor, const double* factor_value, double* target,
                      const double* pivot_inverse);
void update_chunk_by8(int32_t len, int32_t first, int32_t last, int32_t back, int32_t ahead,
                      const int32_t* factor_cursor, const double* factor_value, double* target,
                      const double* pivot_inverse);

// The three kernels of one family.
struct UpdateKernels {
  UpdateColumnKernel column;
  UpdateBlockKernel block;
  UpdateChunkKernel chunk;
};

// The 4-source family when `L2_LOOP` < 8, else the 8-source family.
UpdateKernels select_update_kernels(const barrier_params& params);

}  // namespace kl

#endif
