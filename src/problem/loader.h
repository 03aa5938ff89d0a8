// Loading a whole problem from caller arrays: the bodies of KLLOADPROB,
// KLLOADQPROB, KLLOADGLOBAL and KLLOADQGLOBAL and the stages they chain. The
// LP-format reader calls the same stages with its own arrays.
//
// A load replaces the current problem: load_row_types frees every array of
// the current slot and leaves problem_state 0, and finish_problem_load sets
// it to 1 after the set-up (setup.h). Any stage that fails frees what the
// load had built (abandon_load), so the store then holds no problem at all
// and every body that needs one reports message 91. Each stage leaves its
// outcome in status_code; the chain stops at the first non-zero one.
//
// Caller indices are in the caller's base (IFDBG): caller row r is row
// r + IFDBG, caller column c is position c + first_col + IFDBG - 1, and the
// elements of column c are start[c] + IFDBG .. start[c+1] + IFDBG - 1 (1-based)
// of the row index and value arrays, or start[c] + IFDBG onwards for
// length[c] elements when lengths are given.
//
// Quadratic objective (array ids 82 to 85), the one layout that the loader
// and the quadratic editor share: every list is given by its start, and the
// list of column j runs from start[j] to start[j+1] - 1.
// - id 82, upper starts (nseq + NCXTRA + 1 ints, entries first_col..nseq+1
//   used): the upper list of j holds the entries (i, q_ij) with i >= j, the
//   diagonal first, by increasing i.
// - id 83, lower starts (same length): the lower list of j holds the entries
//   (i, q_ij) with i < j, by increasing i. The lower lists follow the upper
//   lists, so id 83[first_col] = id 82[nseq+1], and id 83[nseq+1] is one past
//   the last entry (nqelem + 1).
// - id 84 holds i (a position) and id 85 the value of every entry; a load
//   allocates both with 2 x M_Q entries, leaving 2 x M_Q - nqelem spare.
// An off-diagonal pair is stored in the upper list of its smaller position
// and the lower list of its larger one; a diagonal entry once. Status bit
// PS_QUADRATIC marks every column with an entry.
#ifndef KLSOL_PROBLEM_LOADER_H
#define KLSOL_PROBLEM_LOADER_H

#include <cstdint>

namespace kl {

// Cut strategy the last sizing used (CUTSTRAT, or 1 or 2 chosen from the row
// count); the node cut round of the global search reads it.
extern int32_t cut_space_mode;

// Quadratic entries a problem-file reader counted in its file (printed by
// the load statistics); every array load sets it to 0.
extern int32_t file_quadratic_entry_count;

namespace routine {
inline constexpr const char* kLoadprob = "loadprob";
inline constexpr const char* kLoadqprb = "loadqprb";
inline constexpr const char* kLdglobal = "ldglobal";
}  // namespace routine

// The arguments of the four load exports, in the exports' order. The
// quadratic and global parts are read only when their flag is set.
struct LoadArguments {
  const char* name = nullptr;
  int32_t ncols = 0;
  int32_t nrows = 0;
  const char* row_types = nullptr;
  const double* rhs = nullptr;
  const double* ranges = nullptr;  // read for R rows only
  const double* objective = nullptr;
  const int32_t* starts = nullptr;
  const int32_t* lengths = nullptr;  // may be null: starts then has ncols + 1 entries
  const int32_t* rows = nullptr;
  const double* values = nullptr;
  const double* lower = nullptr;
  const double* upper = nullptr;

  bool quadratic = false;
  int32_t nquad = 0;
  const int32_t* quad_col1 = nullptr;
  const int32_t* quad_col2 = nullptr;
  const double* quad_values = nullptr;

  bool global = false;
  int32_t nentities = 0;
  int32_t nsets = 0;
  const char* entity_types = nullptr;
  const int32_t* entity_columns = nullptr;
  const double* entity_limits = nullptr;  // may be null unless a P entity is given
  const char* set_types = nullptr;
  const int32_t* set_starts = nullptr;  // nsets + 1 entries
  const int32_t* set_columns = nullptr;
  const double* set_refs = nullptr;
};

// Body of the four load exports: names the problem, refuses bad counts,
// starts, lengths, missing arrays and values that are no finite numbers
// (value_checks.h, status 1) before anything is built, then runs the
// stages. Leaves the outcome in status_code.
void load_problem(const LoadArguments& call);

// The stages, in the order a load runs them.

// Frees the current problem, then the row types: E 1, G 2, L 4, N 8, R 16.
// With IFNRW < 0 the N rows after the last other row are not counted (they
// become spare rows); N rows between other rows stay, since dropping them
// would renumber every row after them. A bad letter is message 401.
void load_row_types(int32_t rows, const char* row_types);
// Rows, columns, bounds, costs, default names and the matrix; elements with
// |value| < ZTOLDA, and with IFNRW <= 0 those in N rows, are dropped. A row
// index outside the rows is message 402.
void load_problem_arrays(int32_t ncols, int32_t nrows, const double* rhs, const double* ranges,
                         const double* objective, const int32_t* starts, const int32_t* lengths, const int32_t* rows,
                         const double* values, const double* lower, const double* upper);
// The quadratic objective from count triplets (layout above); entries with
// |value| <= ZTOLDA are dropped, a pair given twice (in either order) is
// message 362.
void loadqprb(int32_t count, const int32_t* first, const int32_t* second, const double* values);
// Entity types (I 1, S 2, B 3, P 4, R as I with a limit) after the set types
// ("1" 5, "2" 6); messages 403 and 404.
void load_entity_types(int32_t nentities, int32_t sets, const char* entity_types, const char* set_types);
// Sets, their members and the entity columns. Integer bounds are rounded
// inward with ZTOLIS; a binary's upper bound above 1 becomes 1; a column
// given twice is message 261 and keeps its first entry.
void load_global_entities(int32_t nentities, int32_t sets, const int32_t* entity_columns, const double* limits,
                          const int32_t* set_starts, const int32_t* set_columns, const double* set_refs);
// The set-up (mode 1), then problem_state 1, PF_LOADED and global_status 1,
// unless the set-up failed or counted more errors than IGNORE.
void finish_problem_load();

// Frees every array of the current slot and leaves no problem: problem_state
// 0, problem_flags 0, the counts 0. Every failed stage ends here.
void abandon_load();

// Integer bounds rounded inward by the integer tolerance: ceil(l - ZTOLIS)
// and floor(u + ZTOLIS), within -INTMAX..INTMAX.
double round_integer_lower(double lower);
double round_integer_upper(double upper);

}  // namespace kl

#endif
