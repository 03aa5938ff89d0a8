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
// 5 below the library's iteration limit; -3 before any solve when the
// quadratic objective is not convex in the caller's sense, see
// barrier/convexity.h), `objective_value` (in the caller's
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

#include "barrier/barrier_params.h"

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

// What the driver takes from the system, replaceable so that tests can
// refuse blocks, fix the memory figures and the cache reading.
struct BarrierPlatform {
  // A zero-filled block of `bytes` bytes, or nullptr when refused.
  void* (*take_block)(std::size_t bytes);
  void (*release_block)(void* base);
  // Physical memory and memory available, in bytes; false when unknown.
  bool (*memory_status)(uint64_t& total_physical, uint64_t& available);
  // Second-level cache in KB; -1 when it cannot be determined.
  int32_t (*read_cache_kb)();
};
BarrierPlatform& barrier_platform();
void reset_barrier_platform();

// The steps of `run_barrier` that decide its controls and its memory,
// callable on their own.

// The record as the solve sees it: defaults, the library's controls, the
// cache detection when `CACHE_SIZE` is negative (which writes the value used
// back into `CACHE_SIZE`), the sense, then the parameter file `file_name`
// (nullptr: none). `crossover_flag` is the resolved flag (0 or 1) and the
// dimension fields must be filled, `quad_col_count` above all.
void build_barrier_params(barrier_params& params, int32_t crossover_flag, int32_t sense, const char* file_name);

// Detected cache sizes are taken at the nearest table size not above them
// (0, 128, 256, 512, 1024, 2048 KB), the sizes the blocking was tuned for;
// -1 (unknown) stays -1.
int32_t snap_l2_cache_kb(int32_t kb);

// Entries every factor space has beyond the matrix-proportional part, and
// the least ratio of factor entries to matrix entries tried.
inline constexpr int64_t kFactorSpaceReserve = 10240;
inline constexpr double kSmallestFactorRatio = 2.1;
// Cap on the ratio when the budget comes from the system's figures.
inline constexpr double kLargestSystemFactorRatio = 100.0;
// Kept free of the available memory when the system sets the budget.
inline constexpr uint64_t kMemoryHeadroomBytes = 4096000;
// Bytes per factor entry: one int and one double.
inline constexpr uint64_t kBytesPerFactorEntry = 12;

// The memory budget in bytes from the controls `MEMMAX` (megabytes, 0: ask
// the system) and `INTMAX` (bytes); 0 when the system does not say.
uint64_t barrier_memory_budget(int32_t memmax, int32_t intmax);

// The first ratio of factor entries to matrix entries tried for `entries`
// entries of budget and `matrix_entries` matrix and quadratic entries.
double initial_factor_ratio(int64_t entries, int64_t matrix_entries, int32_t memmax);

// The ratio tried after a refused attempt at `ratio`; 0 when none is left.
double next_factor_ratio(double ratio);

// A negative SMETHOD starts from the values the caller left in the lent x,
// which the library keeps by position (rows 1..m, column j at first_col +
// j - 1): the columns move to their barrier indices 1..n and row i gives
// the slack at n + i, minus the library's (the barrier's row reads
// a_i x - slack_i = rhs_i). row_scratch: m + 1 doubles, contents lost.
void move_start_to_barrier_positions(double* x, double* row_scratch, int32_t n, int32_t m, int32_t first_col);

// Entries of a factor space at `ratio`, limited to what an int can count.
int32_t factor_space_at(int64_t matrix_entries, double ratio);

}  // namespace kl

#endif
