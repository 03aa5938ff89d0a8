// The single entry of the interior-point optimiser.
//
// `run_barrier` builds the control record (defaults, library controls, the
// parameter file), detects the second-level cache when asked, sizes the
// factor space from the memory budget, takes the work arrays, copies the
// problem into the barrier's own form, runs the solve, copies the solution
// back by position and releases everything it took. Nothing survives the
// call but what it writes into the caller's arrays and out-arguments, and
// the control `CACHE_SIZE` after a cache detection.
//
// Pointer convention: every array argument is used 1-based (element 1 at
// p[1]); the caller passes its pointers offset to fit.
// - "From the first column on" (`col_start`, `objective`, `lower_cols`,
//   `upper_cols`, `col_status`): index 1 is the first structural column,
//   up to n (`col_start` up to n + 1).
// - "By position" (`lower_pos`, `upper_pos`, `barrier_values`,
//   `reduced_costs`, `crossover_class`, `position_values`, `quad_start`):
//   index k is library position k: rows 1..m, then columns
//   first_col..last_col.
// - By row (`rhs`, `row_duals`, `working_costs`, `work_vector`,
//   `row_vector`, `dual_copy`): index i is row i. The four borrowed arrays
//   and the first m entries of `col_start_work` are work space; their
//   contents are lost.
// - `col_start` holds the library's element numbers: elem_row/elem_value are
//   indexed with them (1-based); col_start[1] is the first element of the
//   run and differences give the column lengths. The columns lie one after
//   another without gaps.
// - `quad_start` (nullptr: no quadratic objective) is by position:
//   quad_start[k]..quad_start[k+1]-1 are the entries of position k;
//   `quad_index` holds positions. Both triangles are stored; the barrier
//   takes the diagonal and the entries below it.
// Lent arrays must hold n + m entries where the barrier keeps a vector over
// all positions (`barrier_values`, `reduced_costs`, `working_costs`,
// `crossover_class`, `position_values`) and m where it needs one per row.
//
// Results: `quad_col_count_out` (n for a quadratic problem, else 0),
// `quad_nz_out`, `barrier_status` (codes of barrier_params.h, 1 turned into
// 5 below the library's iteration limit), `objective_value` (in the caller's
// sense), `crossover_flag` (a negative flag resolved: 1 linear, 0
// quadratic), `barrier_values` (primal values by position, the row
// positions holding the library's slack), `reduced_costs` (sense x row dual
// at row positions, sense x reduced cost at columns), `row_duals` (sense x
// row dual), `crossover_class` by position, `position_values` (a copy of
// `barrier_values`).
#ifndef KLSOL_BARRIER_DRIVER_H
#define KLSOL_BARRIER_DRIVER_H

#include <cstddef>
#include <cstdint>

namespace kl {

void run_barrier(const int32_t* row_count, const int32_t* first_col, const int32_t* last_col,
                 int32_t* quad_col_count_out, int32_t* quad_nz_out,
                 const int32_t* col_start, const int32_t* elem_row, const double* elem_value,
                 const int32_t* quad_start, const int32_t* quad_index, const double* quad_value,
                 const double* rhs, const double* objective, const int32_t* sense,
                 const double* objective_constant,
                 const double* lower_cols, const double* lower_pos,
                 const double* upper_cols, const double* upper_pos,
                 double* barrier_values, double* row_duals, double* reduced_costs,
                 double* working_costs, double* work_vector, double* row_vector, double* dual_copy,
                 int32_t* crossover_class, int32_t* col_start_work, double* position_values,
                 const double* infinite_bound, int32_t* barrier_status, double* objective_value,
                 void* caller_block, const int32_t* caller_block_size,
                 int32_t* crossover_flag, const int32_t* icrash, const int32_t* col_status);

// Takes a readable and writable block of `size` + 31 bytes and returns the
// first 32-byte-aligned address in it, storing the block's base in
// `*base_cell`. Returns nullptr (and stores nullptr) when the platform
// refuses. Without a cell it returns the base itself, unaligned.
void* alloc_aligned_block(std::size_t size, void** base_cell);

// Releases a block taken by `alloc_aligned_block`, given its base; a null
// base is ignored.
void free_aligned_block(void* base);

}  // namespace kl

#endif
