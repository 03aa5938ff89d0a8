// The problem store's data model: one index space of positions shared by
// rows and columns, the counts kept as integer problem attributes, the
// position status word, the row word, the type codes, and the problem-wide
// state and flag words.
//
// Positions (from 1): rows 1..nrow, spare rows nrow+1..nrow+spare_rows_left,
// structural columns first_col..nseq (first_col = nrow + spare_rows_left + 1),
// spare columns nseq+1..nseq+spare_cols_left. The position of a row also
// names its slack variable, which is never stored in the matrix.
#ifndef KLSOL_PROBLEM_STORE_H
#define KLSOL_PROBLEM_STORE_H

#include <cstdint>

#include "problem/array_ids.h"
#include "runtime/controls.h"

namespace kl {

// Integer problem attributes (KLGETIPV numbers).
enum IntAttribute : int32_t {
  ATTR_NROW = 1001,
  ATTR_NSEQ = 1002,
  ATTR_NGLENT = 1003,
  ATTR_NSETS = 1004,
  ATTR_NSOSM = 1005,
  ATTR_NELEM = 1006,
  ATTR_NINF = 1007,
  ATTR_NNEGDJ = 1008,
  ATTR_ITCNT = 1009,
  ATTR_LP_STATUS = 1010,
  ATTR_GLOBAL_STATUS = 1011,
  ATTR_CUT_ROW_COUNT = 1012,
  ATTR_INTEGER_SOLUTIONS = 1017,
  ATTR_NCOLS = 1018,
  ATTR_SPARE_ROWS_LEFT = 1019,
  ATTR_SPARE_COLS_LEFT = 1020,
  ATTR_SPARE_ELEMS_LEFT = 1021,
  ATTR_SPARE_ENTITIES_LEFT = 1022,
  ATTR_LAST_ERROR = 1023,
  ATTR_LAST_STATUS = 1025,
  ATTR_PROBLEM_FLAGS = 1026,
  ATTR_NAME_WORDS = 1028,
  ATTR_OPTIMISER_1029 = 1029,
  ATTR_NQELEM = 1030,
};

inline int32_t& int_attribute(int32_t n) { return integer_attributes[n - 1000]; }

// The counts, under their own names.
inline int32_t& nrow = integer_attributes[1];
inline int32_t& nseq = integer_attributes[2];
inline int32_t& nglent = integer_attributes[3];
inline int32_t& nsets = integer_attributes[4];
inline int32_t& nsosm = integer_attributes[5];
inline int32_t& nelem = integer_attributes[6];
inline int32_t& ninf = integer_attributes[7];
inline int32_t& nnegdj = integer_attributes[8];
inline int32_t& itcnt = integer_attributes[9];
inline int32_t& lp_status = integer_attributes[10];
inline int32_t& global_status = integer_attributes[11];
inline int32_t& cut_row_count = integer_attributes[12];
inline int32_t& integer_solution_count = integer_attributes[17];
inline int32_t& spare_rows_left = integer_attributes[19];
inline int32_t& spare_cols_left = integer_attributes[20];
inline int32_t& spare_elems_left = integer_attributes[21];
inline int32_t& spare_entities_left = integer_attributes[22];
inline int32_t& problem_flags = integer_attributes[26];
inline int32_t& name_words = integer_attributes[28];
inline int32_t& nqelem = integer_attributes[30];

// Structural columns.
inline int32_t ncols() { return nseq - nrow - spare_rows_left; }

// problem_state: -1 no problem since start-up; 0 while loading, after a
// failed load or in a slot left empty by a save; 1 loaded; 2..6 set by the
// optimisers and the global search.
extern int32_t problem_state;

// Store scalars kept with the problem.
struct StoreScalars {
  int32_t first_col = 1;     // first structural column position
  int64_t elem_space = 0;    // element slots a load provides
  int32_t objective_row = -2;  // row carrying the objective, -2 none
  int32_t unpresolvable_count = 0;
};
extern StoreScalars store;

// The original problem, recorded by the set-up after every load and used by
// presolve, postsolve and the solution routines.
struct OriginalProblem {
  int32_t nrow = 0;
  int32_t nseq = 0;
  int32_t first_col = 1;
  int32_t nelem = 0;
  int32_t nqelem = 0;
  int32_t nglent = 0;
  int32_t spare_rows = 0;
  int32_t spare_cols = 0;
  int32_t spare_elems = 0;
  int32_t objective_row = -2;
  int32_t presolved_nrow = 0;
  int32_t presolved_nseq = 0;
  // Kept by presolve while the presolved problem is current.
  int32_t presolve_nglent = 0;
  int32_t presolve_nsets = 0;
  int32_t presolve_nsosm = 0;
  double objective_constant = 0.0;
};
extern OriginalProblem original_problem;

// Bounds at or beyond this magnitude are infinite, stored as +-kInfinity.
inline constexpr double kInfiniteBound = 5e19;
inline constexpr double kInfinity = 1e20;

// Status word of a position: the top byte is the scale exponent + 64 (a byte
// of 0 reads as 64); the low 24 bits are flags.
enum PositionStatus : uint32_t {
  PS_FREE = 0x1,
  PS_BASIC = 0x2,
  PS_AT_UPPER = 0x4,
  PS_FIXED = 0x10,
  PS_MARK = 0x20,
  PS_PRICING_MARK = 0x40,
  PS_ENTITY = 0x80,
  PS_NONBASIC_BETWEEN = 0x100,
  PS_FINITE_LOWER = 0x200,
  PS_FINITE_UPPER = 0x400,
  PS_SEARCH_FIXED = 0x800,
  PS_INTEGER = 0x1000,
  PS_PRESOLVE_MARK_1 = 0x2000,
  PS_PRESOLVE_MARK_2 = 0x4000,
  PS_PRESOLVE_TRACE = 0x8000,
  PS_SEPARATOR_MARK = 0x10000,
  PS_BINARY = 0x20000,
  PS_SEMICONTINUOUS = 0x40000,
  PS_PARTIAL_INTEGER = 0x80000,
  PS_PROTECTED = 0x100000,
  PS_QUADRATIC = 0x200000,
  PS_DUAL_MARK = 0x400000,
  PS_POSTSOLVE_MARK = 0x800000,
  PS_BOTH_FINITE = 0x600,
  PS_EQUALITY_ROW = 0x610,
  PS_INTEGER_OR_BINARY = 0x21000,
  PS_ANY_INTEGER = 0x61000,
  PS_ANY_INTEGER_KIND = 0xe1000,
  PS_SCALE_MASK = 0xFF000000u,
};
inline constexpr int kScaleBias = 64;
inline constexpr uint32_t kDefaultScaleWord = 0x40000000u;

// Row word: the low four bits hold one type code; the rest are row flags.
enum RowType : int32_t {
  ROW_E = 1,
  ROW_G = 2,
  ROW_L = 4,
  ROW_N = 8,
  ROW_R = 16,  // interface code; stored as L with a bounded slack
  ROW_TYPE_MASK = 0xF,
};
enum RowFlags : uint32_t {
  RF_INFEAS_ABOVE = 0x10,
  RF_INFEAS_BELOW = 0x20,
  RF_FREE_BASIC = 0x40,
  RF_CUT = 0x80,
  RF_CUT_DELETE = 0x100,
  RF_HYPERSPARSE_LISTED = 0x200,
  RF_MODEL_CUT = 0x40000,
  RF_CLASS_MASK = 0x2bfc00,
  RF_PROPAGATION_1 = 0x400000,
  RF_PROPAGATION_2 = 0x800000,
  RF_ELIMINATION = 0x2000000,
  RF_ADDING = 0x10000000,
  RF_WORKING = 0x80000000u,
};

// Global entity word, low four bits. A partial integer keeps its limit above
// them: word = limit * 16 + 4.
enum EntityType : int32_t {
  ENT_INTEGER = 1,
  ENT_SEMICONTINUOUS = 2,
  ENT_BINARY = 3,
  ENT_PARTIAL_INTEGER = 4,
  ENT_SET1 = 5,
  ENT_SET2 = 6,
  ENT_SEMICONT_INTEGER_CODE = 255,  // interface code of an R entity
  ENT_TYPE_MASK = 0xF,
};
inline constexpr int32_t kDefaultDirectiveWord = 8000;  // priority 500, no direction

// problem_flags bits.
enum ProblemFlags : int32_t {
  PF_LOADED = 0x1,
  PF_PRESOLVED_LP = 0x2,
  PF_PRESOLVED_GLOBAL = 0x4,
  PF_DRIVER_SETUP = 0x8,
  PF_SEARCH_RUNNING = 0x10,
  PF_COLUMN_COPY = 0x20,
  PF_ROW_COPY = 0x40,
  PF_SOLUTION_CURRENT = 0x80,
  PF_FACTOR_VALID = 0x200,
  PF_WORK_ARRAYS = 0x400,
  PF_ROW_LISTS = 0x1000,
  PF_CLOCK_STARTED = 0x2000,
  PF_LU_ARRAYS = 0x4000,
  PF_KEEP_SEARCH_FILES = 0x8000,
  PF_NO_BASIS = 0x10000,
};

// Index conversion at the interface (IFDBG is the caller's index base).
inline int32_t row_from_caller(int32_t r) { return r + icv(ic::IFDBG); }
inline int32_t col_from_caller(int32_t c) { return c + store.first_col + icv(ic::IFDBG) - 1; }
inline int32_t row_to_caller(int32_t i) { return i - icv(ic::IFDBG); }
inline int32_t col_to_caller(int32_t p) { return p - store.first_col + 1 - icv(ic::IFDBG); }

// (NAMLEN + 7) / 8 words of 8 characters per name.
inline int32_t words_per_name(int32_t namlen) { return (namlen + 7) / 8; }

// Start-up: no problem, counts cleared.
void reset_problem_store();

}  // namespace kl

#endif
