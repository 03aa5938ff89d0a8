// The barrier's entry: controls, memory, copy-in, solve, copy-back.
#include "barrier/driver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "barrier/convexity.h"
#include "barrier/crossover/crossover_basis.h"
#include "barrier/iterate/iteration_driver.h"
#include "barrier/parameter_file.h"
#include "barrier/pipeline.h"
#include "klsol/message_ids.h"
#include "runtime/arrays.h"
#include "runtime/cache_size.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "runtime/platform.h"

namespace kl {

namespace {

// The blocks are expected zero-filled, as committed pages are. A large one
// is pages of the system's (kept by the library for the next request of
// the same size, and cleared then only where they were touched), so a
// factor space sized from the memory budget costs only what the solve
// uses. Left to calloc, a block of up to 32 MB comes from the heap once the
// C library has raised its mapping threshold (at the first release of a
// mapped block), and is then cleared in full on every solve and trimmed
// away again at its release; a fresh mapping each time costs a fault per
// page touched and a flush of the address translations at its release.
inline constexpr std::size_t kMappedBlockBytes = std::size_t{64} << 10;

// Before the block: its mapped length, 0 for a heap block. Its size keeps
// the block 32-byte aligned on a page-aligned mapping.
struct BlockHeader {
  std::size_t mapped_bytes;
  std::size_t unused[3];
};

void* take_heap_block(std::size_t bytes) {
  if (bytes > std::numeric_limits<std::size_t>::max() / 2) return nullptr;
  const std::size_t total = bytes + sizeof(BlockHeader);
  void* raw = nullptr;
  std::size_t mapped = 0;
  if (total >= kMappedBlockBytes && large_blocks_mapped()) {
    raw = map_zero_pages(total);
    mapped = total;
  } else {
    raw = std::calloc(1, total);
  }
  if (raw == nullptr) return nullptr;
  auto* header = static_cast<BlockHeader*>(raw);
  header->mapped_bytes = mapped;
  return header + 1;
}

void release_heap_block(void* base) {
  if (base == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(base) - 1;
  if (header->mapped_bytes != 0) {
    unmap_pages(header, header->mapped_bytes);
  } else {
    std::free(header);
  }
}

const BarrierPlatform kSystemPlatform{take_heap_block, release_heap_block, read_memory_status, read_l2_cache_kb};
BarrierPlatform current_platform = kSystemPlatform;

inline constexpr std::uintptr_t kBlockAlignment = 32;

// Column status bits of the library: the column has a finite lower or
// upper bound.
inline constexpr int32_t kFiniteLowerBit = 0x200;
inline constexpr int32_t kFiniteUpperBit = 0x400;

// The barrier presolve passes a quadratic problem runs by default.
inline constexpr int32_t kQuadraticPresolve = 354;
// Regularisation when no crossover follows: the bare rows too.
inline constexpr int32_t kRegularizeWithoutCrossover = 59;  // not 0x4: that term would stay in the refined system
inline constexpr double kQuadraticOptimalityLoosening = 10.0;
// Below this second-level cache (KB) the blocking is off.
inline constexpr int32_t kSmallestUsefulL2Cache = 32;
inline constexpr int32_t kClassRangeInts = 16;

// The largest factor space taken: the space is indexed by ints, and its
// users add small counts to it.
inline constexpr int64_t kLargestFactorSpace = std::numeric_limits<int32_t>::max() - (int64_t{1} << 20);

// Every block the driver takes, by its base, for the release.
struct DriverBlocks {
  void* record = nullptr;
  void* doubles[26] = {};  // slots 1..25
  void* ints[16] = {};     // slots 1..15
  void* iterate_work = nullptr;
  void* class_ranges = nullptr;
  void* factor_index = nullptr;
  void* factor_value = nullptr;
};

// An array used from index 1 to `length`; none for a length of 0 or less.
// A refusal sets the status to -2 and leaves the cell empty.
template <typename T>
T* take_array(int64_t length, void*& base, int32_t& status) {
  base = nullptr;
  if (length <= 0) return nullptr;
  const uint64_t elements = static_cast<uint64_t>(length) + 1;
  if (elements > std::numeric_limits<std::size_t>::max() / sizeof(T) - kBlockAlignment) {
    status = BARRIER_SPACE_SHORT;
    return nullptr;
  }
  void* array = alloc_aligned_block(static_cast<std::size_t>(elements * sizeof(T)), &base);
  if (array == nullptr) status = BARRIER_SPACE_SHORT;
  return static_cast<T*>(array);
}

void release(void*& base) {
  free_aligned_block(base);
  base = nullptr;
}

void detect_barrier_cache(barrier_params& params) {
  const int32_t kb = snap_l2_cache_kb(barrier_platform().read_cache_kb());
  if (kb >= 0) {
    params.L2_CACHE = kb;
  } else {
    std::snprintf(params.message_buffer, sizeof params.message_buffer, "Unable to determine CACHE_SIZE, assuming %ld",
                  static_cast<long>(params.L2_CACHE));
    log_barrier_line(params);
  }
  // Later solves take the value used instead of detecting again.
  icv(ic::CACHE_SIZE) = params.L2_CACHE;
}

// The work arrays of the slot table, own or lent from the library.
void take_work_arrays(const barrier_params& params, BarrierWorkArrays& a, DriverBlocks& b, int32_t& status) {
  const int64_t n = params.col_count;
  const int64_t m = params.row_count;
  const int64_t positions = n + m;
  a.cost = take_array<double>(n, b.doubles[1], status);
  a.rhs = take_array<double>(m, b.doubles[2], status);
  a.lower = take_array<double>(positions, b.doubles[3], status);
  a.upper = take_array<double>(positions, b.doubles[4], status);
  a.diag = take_array<double>(positions, b.doubles[5], status);
  a.dx = take_array<double>(positions, b.doubles[8], status);
  a.q_dx = take_array<double>(positions, b.doubles[9], status);
  a.dz = take_array<double>(positions, b.doubles[12], status);
  a.q_x = take_array<double>(positions, b.doubles[13], status);
  a.w = take_array<double>(positions, b.doubles[14], status);
  a.dw = take_array<double>(positions, b.doubles[15], status);
  a.push_work = take_array<double>(positions, b.doubles[16], status);
  a.upper_residual = take_array<double>(positions, b.doubles[21], status);
  a.dual_residual = take_array<double>(positions, b.doubles[22], status);
  a.scale = take_array<double>(positions, b.doubles[23], status);
  // The iterations read the quadratic diagonal and column starts on a
  // linear problem too (as zeros and empty lists).
  a.quad_diag = take_array<double>(std::max<int64_t>(n, 1), b.doubles[24], status);
  a.pivot_inverse = take_array<double>(positions + 2, b.doubles[25], status);

  a.col_bound_code = take_array<int32_t>(n, b.ints[1], status);
  a.matrix_start = take_array<int32_t>(n + 1, b.ints[3], status);
  a.factor_first = take_array<int32_t>(positions, b.ints[4], status);
  a.factor_last = take_array<int32_t>(positions, b.ints[5], status);
  a.var_state = take_array<int32_t>(positions, b.ints[6], status);
  a.pivot_rank = take_array<int32_t>(positions + 2, b.ints[8], status);
  a.int_work_a = take_array<int32_t>(positions, b.ints[9], status);
  a.int_work_b = take_array<int32_t>(positions, b.ints[10], status);
  a.int_work_c = take_array<int32_t>(positions, b.ints[11], status);
  a.presolve_list = take_array<int32_t>(params.PRESOLV != 0 ? positions : 0, b.ints[12], status);
  a.quad_mark = take_array<int32_t>(positions, b.ints[13], status);
  a.quad_start = take_array<int32_t>(n + 1, b.ints[14], status);
  a.matrix_end = take_array<int32_t>(n, b.ints[15], status);
}

// The shared factor space: the largest ratio the budget allows, then down
// the ladder while the system refuses. Status -2 when nothing fits.
void take_factor_space(barrier_params& params, BarrierWorkArrays& a, DriverBlocks& b, int32_t& status) {
  const int32_t memmax = icv(ic::MEMMAX);
  const uint64_t budget = barrier_memory_budget(memmax, icv(ic::INTMAX));
  const int64_t entries = static_cast<int64_t>(budget / kBytesPerFactorEntry);
  // Too little memory for even the reserve: report it as a shortage, so the
  // caller says why nothing was solved.
  if (entries <= kFactorSpaceReserve) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  const int64_t matrix_entries = static_cast<int64_t>(params.matrix_nz) + params.quad_nz;
  double ratio = initial_factor_ratio(entries, matrix_entries, memmax);
  for (;;) {
    params.factor_space = factor_space_at(matrix_entries, ratio);
    int32_t attempt = BARRIER_GO_ON;
    a.factor_index = take_array<int32_t>(params.factor_space, b.factor_index, attempt);
    a.factor_value = take_array<double>(params.factor_space, b.factor_value, attempt);
    if (attempt == BARRIER_GO_ON) break;
    release(b.factor_index);
    release(b.factor_value);
    a.factor_index = nullptr;
    a.factor_value = nullptr;
    ratio = next_factor_ratio(ratio);
    if (ratio <= 0.0) {
      status = BARRIER_SPACE_SHORT;
      return;
    }
  }
  if (params.factor_space < 2 * matrix_entries) status = BARRIER_SPACE_SHORT;
}

struct LibraryProblem {
  int32_t first_col;
  const int32_t* col_start;
  const int32_t* elem_row;
  const double* elem_value;
  const int32_t* quad_start;
  const int32_t* quad_index;
  const double* quad_value;
  const double* rhs;
  const double* objective;
  const double* lower_cols;
  const double* lower_pos;
  const double* upper_cols;
  const double* upper_pos;
  const int32_t* col_status;
  double infinity;
  int32_t sense;
};

// The problem in the barrier's own form: costs in the minimising sense,
// row slacks with a_i x - slack_i = rhs_i (so the slack's bounds are the
// row bounds negated and swapped), the matrix as one run in the factor
// space, and of the quadratic objective the diagonal and the entries below
// it (the library keeps both triangles).
void copy_problem_in(barrier_params& params, const LibraryProblem& lib, const BarrierWorkArrays& a) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const double sense = lib.sense;
  for (int32_t j = 1; j <= n; ++j) {
    a.cost[j] = sense * lib.objective[j];
    a.lower[j] = (lib.col_status[j] & kFiniteLowerBit) != 0 ? lib.lower_cols[j] : -lib.infinity;
    a.upper[j] = (lib.col_status[j] & kFiniteUpperBit) != 0 ? lib.upper_cols[j] : lib.infinity;
  }
  for (int32_t i = 1; i <= m; ++i) {
    a.rhs[i] = lib.rhs[i];
    a.lower[n + i] = -lib.upper_pos[i];
    a.upper[n + i] = -lib.lower_pos[i];
  }
  const int32_t first_element = lib.col_start[1];
  for (int32_t k = 1; k <= params.matrix_nz; ++k) {
    a.factor_value[k] = lib.elem_value[first_element + k - 1];
    a.factor_index[k] = lib.elem_row[first_element + k - 1];
  }
  a.matrix_start[1] = 1;
  for (int32_t j = 1; j <= n; ++j) a.matrix_start[j + 1] = a.matrix_start[j] + (lib.col_start[j + 1] - lib.col_start[j]);

  int32_t next = params.matrix_nz + 1;
  if (params.quad_col_count == 0) {
    for (int32_t j = 1; j <= n + 1; ++j) a.quad_start[j] = next;
    for (int32_t j = 1; j <= n; ++j) a.quad_diag[j] = 0.0;
    return;
  }
  a.quad_start[1] = next;
  for (int32_t j = 1; j <= n; ++j) {
    a.quad_diag[j] = 0.0;
    const int32_t position = lib.first_col + j - 1;
    for (int32_t k = lib.quad_start[position]; k < lib.quad_start[position + 1]; ++k) {
      const int32_t c = lib.quad_index[k] - lib.first_col + 1;
      if (c < 1 || c > n) continue;  // not a column of this problem
      if (c == j) {
        a.quad_diag[j] = sense * lib.quad_value[k];
      } else if (c > j) {
        a.factor_index[next] = c;
        a.factor_value[next] = sense * lib.quad_value[k];
        ++next;
      }
    }
    a.quad_start[j + 1] = next;
  }
  params.quad_nz = next - params.matrix_nz - 1;
}

// Reduced costs of a quadratic problem, c + Qx - A'y in the minimising
// sense, from the library's own data: a column removed before or during the
// iterations takes its quadratic entries out of the barrier's factor space,
// so its reduced cost there lacks its share of Qx. Every column is taken
// from the same formula, so the returned reduced costs are those of the
// returned point.
void recompute_quadratic_reduced_costs(const barrier_params& params, const LibraryProblem& lib,
                                       const BarrierWorkArrays& a) {
  const int32_t n = params.col_count;
  const double sense = lib.sense;
  for (int32_t j = 1; j <= n; ++j) {
    double reduced = sense * lib.objective[j];
    const int32_t position = lib.first_col + j - 1;
    for (int32_t k = lib.quad_start[position]; k < lib.quad_start[position + 1]; ++k) {
      const int32_t c = lib.quad_index[k] - lib.first_col + 1;
      if (c >= 1 && c <= n) reduced += sense * lib.quad_value[k] * a.x[c];
    }
    for (int32_t k = lib.col_start[j]; k < lib.col_start[j + 1]; ++k) reduced -= lib.elem_value[k] * a.y[lib.elem_row[k]];
    a.z[j] = reduced;
  }
}

// Barrier index j of a column to its library position, from the last
// column down so that no value is overwritten before it has moved (the
// positions lie at or above the indices).
template <typename T>
void move_columns_to_positions(T* values, int32_t n, int32_t first_col, T factor) {
  for (int32_t j = n; j >= 1; --j) values[first_col + j - 1] = factor * values[j];
}

// The solution into the library's arrays by position: rows 1..m, column j
// at first_col + j - 1. The library's slack of a row is minus the
// barrier's; duals and reduced costs return to the caller's sense.
void copy_solution_back(const barrier_params& params, int32_t first_col, int32_t sense, const BarrierWorkArrays& a,
                        double* position_values, int32_t* col_start_work, int32_t last_col) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  double* x = a.x;
  double* y = a.y;
  double* z = a.z;
  int32_t* classes = a.pivot_order;

  for (int32_t i = 1; i <= m; ++i) y[i] = x[n + i];
  move_columns_to_positions(x, n, first_col, 1.0);
  for (int32_t i = 1; i <= m; ++i) x[i] = -y[i];

  const double dual_sense = sense;
  for (int32_t i = 1; i <= m; ++i) y[i] = dual_sense * z[n + i];
  move_columns_to_positions(z, n, first_col, dual_sense);
  for (int32_t i = 1; i <= m; ++i) z[i] = y[i];

  for (int32_t i = 1; i <= m; ++i) col_start_work[i] = classes[n + i];
  move_columns_to_positions(classes, n, first_col, 1);
  for (int32_t i = 1; i <= m; ++i) classes[i] = col_start_work[i];

  for (int32_t k = 1; k <= m; ++k) position_values[k] = x[k];
  for (int32_t k = first_col; k <= last_col; ++k) position_values[k] = x[k];
}

// The iterations assume a convex objective; without one they can call a
// stationary point optimal. Refuse it before any solve. A fixed column is
// a constant, so its quadratic terms are linear in the others and take no
// part in the test.
void check_objective_convexity(barrier_params& params, const BarrierWorkArrays& a, int32_t& status) {
  const int32_t n = params.col_count;
  std::vector<char> fixed(static_cast<size_t>(n) + 1, 0);
  for (int32_t j = 1; j <= n; ++j)
    fixed[static_cast<size_t>(j)] = std::fabs(a.upper[j] - a.lower[j]) <= (std::fabs(a.lower[j]) + 1.0) * params.TPLUS;
  std::vector<double> diag(static_cast<size_t>(n) + 1, 0.0), value(1, 0.0);
  std::vector<int32_t> start(static_cast<size_t>(n) + 2, 1), index(1, 0);
  for (int32_t j = 1; j <= n; ++j) {
    if (fixed[static_cast<size_t>(j)] == 0) {
      diag[static_cast<size_t>(j)] = a.quad_diag[j];
      for (int32_t k = a.quad_start[j]; k < a.quad_start[j + 1]; ++k) {
        const int32_t c = a.factor_index[k];
        if (c >= 1 && c <= n && fixed[static_cast<size_t>(c)] != 0) continue;
        index.push_back(c);
        value.push_back(a.factor_value[k]);
      }
    }
    start[static_cast<size_t>(j) + 1] = static_cast<int32_t>(index.size());
  }
  const QuadraticConvexity check = check_quadratic_convexity(n, diag.data(), start.data(), index.data(), value.data());
  if (!check.convex) {
    std::snprintf(params.message_buffer, sizeof params.message_buffer,
                  "Quadratic objective not convex: it shows at column %ld", static_cast<long>(check.column));
    log_barrier_line(params);
    status = BARRIER_NOT_CONVEX;
  } else if (!check.exact) {
    std::snprintf(params.message_buffer, sizeof params.message_buffer,
                  "Convexity of Q tested by its diagonal and 2x2 minors only"
                  " (block of %ld columns)",
                  static_cast<long>(check.largest_block));
    log_barrier_line(params);
  }
}

// The crossover's starting basis from the classes of the solution, on a
// fresh copy of the library's matrix in the factor space (the solve may
// have reordered or reduced its own). The factor space holds the matrix,
// then room for the fill columns, then the row-wise candidate lists.
void build_starting_basis(barrier_params& params, const LibraryProblem& lib, BarrierWorkArrays& a, int32_t icrash,
                          int32_t& status) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const int32_t base = lib.col_start[1];
  int32_t nz = lib.col_start[n + 1] - base;
  const int64_t room = static_cast<int64_t>(params.factor_space) - 2 * static_cast<int64_t>(nz) - params.quad_nz;
  int32_t free_count = room > 0 ? static_cast<int32_t>(room / 2 - 1) : 0;
  if (free_count < 0) free_count = 0;
  int32_t row_lists = nz + params.quad_nz + free_count + 1;
  if (static_cast<int64_t>(row_lists) + nz > params.factor_space) {
    status = BARRIER_SPACE_SHORT;
    return;
  }
  for (int32_t k = 1; k <= nz; ++k) {
    a.factor_index[k] = lib.elem_row[base + k - 1];
    a.factor_value[k] = lib.elem_value[base + k - 1];
  }
  for (int32_t j = 1; j <= n + 1; ++j) a.matrix_start[j] = lib.col_start[j] - base + 1;
  for (int32_t j = 1; j <= n; ++j) a.matrix_end[j] = a.matrix_start[j + 1] - 1;
  const int32_t second_count = nz + free_count;
  build_crossover_basis(params, &m, &n, &nz, &free_count, &second_count, a.matrix_start, a.matrix_end,
                        a.factor_first, a.factor_last, a.factor_first + m, a.factor_last + m, a.quad_mark,
                        a.factor_index, a.factor_index + (row_lists - 1), a.factor_value, a.pivot_order,
                        a.pivot_order + n, a.int_work_b, a.int_work_b + m, a.dw, a.int_work_c, a.int_work_a,
                        a.int_work_c + m, a.int_work_a + m, a.push_work, &icrash);
  if (params.print_word != 0) {
    static constexpr char kText[] = "Crossover starts";
    insert_message_chars(kText, static_cast<int32_t>(sizeof kText - 1));
    emit_message();
  }
}

void release_blocks(DriverBlocks& b) {
  release(b.factor_index);
  release(b.factor_value);
  release(b.class_ranges);
  release(b.iterate_work);
  for (int slot = 15; slot >= 1; --slot) release(b.ints[slot]);
  for (int slot = 25; slot >= 1; --slot) release(b.doubles[slot]);
}

void announce_barrier_start(const barrier_params& params) {
  if (params.print_word == 0) return;
  if (message_line.length > 1) emit_message();
  static constexpr char kText[] = "Barrier starts";
  insert_message_chars(kText, static_cast<int32_t>(sizeof kText - 1));
  emit_message();
}

}  // namespace

BarrierPlatform& barrier_platform() { return current_platform; }

void reset_barrier_platform() { current_platform = kSystemPlatform; }

void* alloc_aligned_block(std::size_t size, void** base_cell) {
  void* base = nullptr;
  if (size <= std::numeric_limits<std::size_t>::max() - (kBlockAlignment - 1)) {
    base = barrier_platform().take_block(size + (kBlockAlignment - 1));
  }
  if (base_cell == nullptr) return base;
  *base_cell = base;
  if (base == nullptr) return nullptr;
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(base);
  return reinterpret_cast<void*>((address + kBlockAlignment - 1) & ~(kBlockAlignment - 1));
}

void free_aligned_block(void* base) {
  if (base != nullptr) barrier_platform().release_block(base);
}

void move_start_to_barrier_positions(double* x, double* row_scratch, int32_t n, int32_t m, int32_t first_col) {
  for (int32_t i = 1; i <= m; ++i) row_scratch[i] = x[i];
  // Upwards: a position lies at or above its index, so every value is read
  // before anything is written over it.
  for (int32_t j = 1; j <= n; ++j) x[j] = x[first_col + j - 1];
  for (int32_t i = 1; i <= m; ++i) x[n + i] = -row_scratch[i];
}

int32_t snap_l2_cache_kb(int32_t kb) {
  if (kb < 0) return -1;
  static constexpr int32_t kTableSizes[] = {2048, 1024, 512, 256, 128};
  for (const int32_t size : kTableSizes) {
    if (kb >= size) return size;
  }
  return 0;
}

void build_barrier_params(barrier_params& params, int32_t crossover_flag, int32_t sense, const char* file_name) {
  set_barrier_defaults(params);
  // Scaling only when the parameter file asks for it.
  params.scaling_methods = 0;
  const bool quadratic = params.quad_col_count > 0;
  params.PRESOLV = quadratic ? kQuadraticPresolve : 0;
  if (quadratic || crossover_flag == 0) {
    // A quadratic objective loosens the complementarity test. A linear
    // problem without a crossover keeps its own: nothing after the barrier
    // would tighten the gap, and ten times TOPT1 let answers through whose
    // gap the caller's tolerance refuses. Without a crossover the
    // regularisation covers the bare rows as well.
    if (quadratic) params.TOPT1 *= kQuadraticOptimalityLoosening;
    if (crossover_flag == 0) params.REGULARIZE = kRegularizeWithoutCrossover;
  }
  if (icv(ic::IFPRES) == 0) params.PRESOLV = 0;
  params.print_word = icv(ic::PRLEV) >= 1 ? -1 : 0;
  if (icv(ic::IQUIET) == 1) params.print_word = 0;

  if (icv(ic::MAXITER) >= 0) params.MAXITER = icv(ic::MAXITER);
  if (icv(ic::CACHE_SIZE) >= 0) params.L2_CACHE = icv(ic::CACHE_SIZE);
  params.PUSHFACT = icv(ic::PUSH_CHOLESKY) > 0 ? 4 : 0;
  if (icv(ic::BORDER) >= 0) params.ORDERING = icv(ic::BORDER);
  if (icv(ic::DENSECOL) > 0) {
    params.SETLAM = -1;
    params.LAM = -static_cast<double>(icv(ic::DENSECOL));
  }
  if (icv(ic::NPROCS) > 0) params.NUMPROC = icv(ic::NPROCS);
  if (dcv(dc::TOLPIV) > 0.0) params.TRABS = dcv(dc::TOLPIV);
  if (dcv(dc::TOLPRIMAL) > 0.0) params.TFEAS1 = dcv(dc::TOLPRIMAL);
  if (dcv(dc::TOLDUAL) > 0.0) params.TFEAS2 = dcv(dc::TOLDUAL);
  if (dcv(dc::TOLCOMP) > params.TZER) params.TOPT1 = dcv(dc::TOLCOMP);
  if (dcv(dc::TOLIMP) > 0.0) params.TSDIR = dcv(dc::TOLIMP);

  if (icv(ic::CACHE_SIZE) < 0) detect_barrier_cache(params);
  if (params.L2_CACHE < kSmallestUsefulL2Cache) params.L2_CACHE = 0;
  params.objective_sense = sense;
  if (params.NUMPROC == 1) params.L1_CACHE = -1;
  if (file_name != nullptr) read_barrier_parameter_file(params, file_name);
}

uint64_t barrier_memory_budget(int32_t memmax, int32_t intmax) {
  // MEMMAX counts megabytes and INTMAX bytes; both compare as unsigned, so
  // a negative MEMMAX leaves the budget to INTMAX.
  const int32_t intmax_kb_multiple = intmax / 1024 * 1024;
  uint64_t budget = static_cast<uint32_t>(intmax);
  if (static_cast<uint32_t>(memmax) < static_cast<uint32_t>(intmax_kb_multiple)) {
    budget = static_cast<uint64_t>(static_cast<uint32_t>(memmax)) << 20;
  }
  if (budget != 0) return budget;
  uint64_t total = 0, available = 0;
  if (!barrier_platform().memory_status(total, available)) return 0;
  if (available < kMemoryHeadroomBytes) return total;
  return std::min(total, available - kMemoryHeadroomBytes);
}

double initial_factor_ratio(int64_t entries, int64_t matrix_entries, int32_t memmax) {
  double ratio = static_cast<double>(entries - kFactorSpaceReserve) / static_cast<double>(matrix_entries + 1);
  if (memmax == 0 && ratio > kLargestSystemFactorRatio) ratio = kLargestSystemFactorRatio;
  if (ratio <= kSmallestFactorRatio) ratio = kSmallestFactorRatio;
  return ratio;
}

double next_factor_ratio(double ratio) {
  ratio -= 1.0;
  if (ratio > 2.0) return ratio;
  if (ratio > 1.15) return kSmallestFactorRatio;
  return 0.0;
}

int32_t factor_space_at(int64_t matrix_entries, double ratio) {
  const double space = static_cast<double>(matrix_entries) * ratio + static_cast<double>(kFactorSpaceReserve);
  if (space >= static_cast<double>(kLargestFactorSpace)) return static_cast<int32_t>(kLargestFactorSpace);
  return static_cast<int32_t>(space);
}

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
                 void* /*caller_block*/, const int32_t* /*caller_block_size*/,
                 int32_t* crossover_flag, const int32_t* icrash, const int32_t* col_status) {
  DriverBlocks blocks;
  void* record = alloc_aligned_block(sizeof(barrier_params), &blocks.record);
  if (record == nullptr) {
    *barrier_status = BARRIER_SPACE_SHORT;
    return;
  }
  barrier_params& params = *new (record) barrier_params{};

  const int32_t m = *row_count;
  const int32_t n = *last_col - *first_col + 1;
  const int32_t objective_sign = *sense == -1 ? -1 : 1;
  params.col_count = n;
  params.row_count = m;
  params.var_count = n + m;
  params.matrix_nz = col_start[n + 1] - col_start[1];
  params.quad_nz = 0;
  params.quad_col_count = 0;
  if (quad_start != nullptr) {
    const int32_t entries = quad_start[*last_col + 1] - quad_start[*first_col];
    if (entries > 0) {
      params.quad_nz = entries;
      params.quad_col_count = n;
    }
  }
  *quad_col_count_out = params.quad_col_count;
  *quad_nz_out = params.quad_nz;
  int32_t status = BARRIER_GO_ON;
  if (*crossover_flag < 0) *crossover_flag = params.quad_col_count == 0 ? 1 : 0;

  build_barrier_params(params, *crossover_flag, objective_sign, kBarrierParameterFileName);

  BarrierWorkArrays arrays;
  arrays.diag_copy = position_values;
  arrays.x = barrier_values;
  arrays.s = working_costs;
  arrays.z = reduced_costs;
  arrays.y = row_duals;
  arrays.dy = work_vector;
  arrays.slack_diag = row_vector;
  arrays.primal_residual = dual_copy;
  arrays.slack_bound_code = col_start_work;
  arrays.pivot_order = crossover_class;
  take_work_arrays(params, arrays, blocks, status);
  if (status == BARRIER_GO_ON) take_factor_space(params, arrays, blocks, status);

  const LibraryProblem library{*first_col, col_start,  elem_row, elem_value, quad_start, quad_index,
                               quad_value, rhs,        objective, lower_cols, lower_pos,  upper_cols,
                               upper_pos,  col_status, *infinite_bound, objective_sign};
  if (status == BARRIER_GO_ON) {
    copy_problem_in(params, library, arrays);
    // y is free until the iterations set it.
    if (params.SMETHOD < 0) move_start_to_barrier_positions(arrays.x, arrays.y, n, m, *first_col);
    if (params.quad_col_count > 0) check_objective_convexity(params, arrays, status);
  }
  if (status == BARRIER_GO_ON) {
    arrays.iterate_work = take_array<int32_t>(iterate_barrier_work_ints(params), blocks.iterate_work, status);
    arrays.class_ranges = take_array<int32_t>(kClassRangeInts, blocks.class_ranges, status);
  }

  BarrierSolveCounters counters;
  if (status == BARRIER_GO_ON) {
    announce_barrier_start(params);
    const int32_t start = clock_hundredths();
    double constant = *objective_constant * objective_sign;
    solve_barrier_problem(params, arrays, status, *objective_value, counters, constant, 0.5 * *infinite_bound,
                          *infinite_bound);
    if (params.quad_col_count > 0 && status >= BARRIER_GO_ON) recompute_quadratic_reduced_costs(params, library, arrays);
    if (params.quad_col_count > 0) {
      // A column of the quadratic objective has no vertex to go to.
      for (int32_t j = 1; j <= n; ++j) {
        const int32_t position = *first_col + j - 1;
        if (quad_start[position + 1] > quad_start[position]) crossover_class[j] = 0;
      }
    }
    const int32_t elapsed = std::max(0, (clock_hundredths() - start) / 100);
    if (params.print_word != 0) {
      begin_message(MSG_BARRIER_ELAPSED);
      insert_message_int(elapsed);
      emit_message();
    }
    const bool admits = status == BARRIER_STOPPED || status == BARRIER_OPTIMAL || status >= BARRIER_ITERATION_LIMIT;
    if (*crossover_flag == 1 && admits)
      build_starting_basis(params, library, arrays, icrash != nullptr ? *icrash : icv(ic::ICRASH), status);
    copy_solution_back(params, *first_col, objective_sign, arrays, position_values, col_start_work, *last_col);
  }

  release_blocks(blocks);
  params.~barrier_params();
  release(blocks.record);
  if (status == BARRIER_STOPPED && counters.iteration_count < icv(ic::MAXITER)) status = BARRIER_ITERATION_LIMIT;
  *barrier_status = status;
}

}  // namespace kl
