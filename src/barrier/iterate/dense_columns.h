// Dense columns and the choice of the barrier's linear system.
//
// Interface summary
//   find_dense_columns(params, matrix_start, matrix_end, factor_index,
//                      barrier_class_ranges, quad_start, quad_row_count,
//                      length_histogram, column_node, pattern_start,
//                      pattern_end, row_mark, column_queue, system_kind,
//                      dense_mark, status)
//     Decides which active columns are dense, chooses the system kind
//     (SYSTEM_NORMAL_EQUATIONS 2 or SYSTEM_AUGMENTED 1) and prepares, for the
//     ordering driver, the range of `factor_index` that each column adds to
//     the row-to-row pattern and whether the column is a node of the ordering
//     graph.
//
// Arrays are 1-based (a[0] unused); n = col_count, m = row_count.
//   matrix_start, matrix_end    1..n   in: the active part of each column
//   factor_index                1..factor_space  in: matrix and quadratic
//                               pattern; out: a row-wise copy of the
//                               quadratic pattern and the merged lists of
//                               quadratic components are written after
//                               entry matrix_nz + quad_nz (normal equations
//                               with a quadratic pattern only)
//   barrier_class_ranges        1..16  the class boundaries of the positions
//   quad_start                  1..n+1 the below-diagonal quadratic pattern
//   quad_row_count              1..n+1 work
//   length_histogram            1..max(m, 1) work
//   column_node                 1..n   out: 0 not a node of the ordering
//                               graph; 1 member of a merged quadratic
//                               component, or a removed column; 2 root of a
//                               merged component; 3 dense column of the
//                               augmented system
//   pattern_start, pattern_end  1..n   out: the range of `factor_index` the
//                               column adds to the row pattern; end = start-1
//                               for none
//   row_mark                    1..n+m work (positions n+1..n+m used)
//   column_queue                1..n   work
//   system_kind                 out: 1 augmented system, 2 normal equations
//   dense_mark                  1..n+m out: for active columns 0 sparse, 1
//                               dense, 2 dense with at least SUPDENS entries;
//                               for the rows the number of their entries in
//                               active columns
//   status                      out: BARRIER_SPACE_SHORT (-2) when
//                               factor_space < 2 (matrix_nz + quad_nz) + 2
//                               (nothing else is written), else unchanged
#ifndef KLSOL_BARRIER_ITERATE_DENSE_COLUMNS_H
#define KLSOL_BARRIER_ITERATE_DENSE_COLUMNS_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

void find_dense_columns(const barrier_params& params, const int32_t* matrix_start, const int32_t* matrix_end,
                        int32_t* factor_index, const int32_t* barrier_class_ranges, const int32_t* quad_start,
                        int32_t* quad_row_count, int32_t* length_histogram, int32_t* column_node,
                        int32_t* pattern_start, int32_t* pattern_end, int32_t* row_mark, int32_t* column_queue,
                        int32_t& system_kind, int32_t* dense_mark, int32_t& status);

}  // namespace kl

#endif
