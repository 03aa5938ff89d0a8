// The product with the reduced barrier system that the refinements need.
//
// Interface summary
//   multiply_reduced_system(params, matrix_start, matrix_end, factor_value,
//       factor_index, pivot_order, quad_start, barrier_class_ranges, v, out,
//       diag_copy)
//     out := K~ v over the Cholesky-part positions (the positions of ranks
//     in_place_count+1..pivot_count), where K~ is the quasi-definite system K
//     with the in-place columns (ranks 1..in_place_count) eliminated:
//       K~ = K_CC - A_I E_I^-1 A_I'.
//     K has diag_copy[p] on the diagonal (structural columns negative, rows
//     non-negative), a_ij between row position n+i and column j, and minus
//     the quadratic entry between two columns. The normal matrix is never
//     formed: the in-place columns act through their matrix columns.
//     Only the Cholesky-part positions of out are meaningful afterwards; v is
//     read at those positions only.
//
// Arrays are 1-based: v, out, diag_copy by position (1..n+m); pivot_order by
// rank; matrix_start/matrix_end/quad_start as in the factor spaces.
#ifndef KLSOL_BARRIER_ITERATE_REDUCED_SYSTEM_PRODUCT_H
#define KLSOL_BARRIER_ITERATE_REDUCED_SYSTEM_PRODUCT_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

void multiply_reduced_system(const barrier_params& params, const int32_t* matrix_start, const int32_t* matrix_end,
                             const double* factor_value, const int32_t* factor_index, const int32_t* pivot_order,
                             const int32_t* quad_start, const int32_t* barrier_class_ranges, const double* v,
                             double* out, const double* diag_copy);

}  // namespace kl

#endif
