// Storing cuts in the cut pool (layout in cut_pool.h) and growing the pool.
#ifndef KLSOL_PROBLEM_CUT_STORE_H
#define KLSOL_PROBLEM_CUT_STORE_H

#include <cstdint>

#include "problem/array_ids.h"
#include "problem/cut_pool.h"

namespace kl {

namespace routine {
inline constexpr const char* kStorecut = "storecut";
}  // namespace routine

// Flags of a cut record.
enum CutRecordFlags : int32_t {
  CUT_SENSE_E = 0x1,
  CUT_SENSE_G = 0x2,
  CUT_SENSE_L = 0x4,
  CUT_BY_LIBRARY = 0x80,
  CUT_TOP_NODE = 0x100,
  CUT_NEW_IN_ROUND = 0x200,
  CUT_SELECTED = 0x400,
  CUT_IN_LP = 0x800,
};
// Flags compared by the duplicate test: the sense and the library mark.
inline constexpr int32_t kCutMatchFlags = 0x87;
// Type of the model cuts that presolve moves out of the matrix.
inline constexpr int32_t kModelCutType = 256;

// Fields of a cut record (6 ints from record_words[(r - 1) * 6 + 1]).
enum CutRecordField : int32_t {
  CUT_FIELD_TYPE = 1,
  CUT_FIELD_FLAGS = 2,
  CUT_FIELD_FIRST = 3,
  CUT_FIELD_LENGTH = 4,
  CUT_FIELD_KEY = 5,
  CUT_FIELD_REFERENCES = 6,
};
// Inline: the cut rounds and the node loop walk every record of the pool
// through it.
inline int32_t& cut_record_field(int32_t record, int32_t field) {
  return int_array(ARR_CUT_RECORD)[static_cast<int64_t>(record - 1) * kCutRecordWords + field];
}

// Stores n cuts. The elements of cut i (from 0) are the entries start[i] ..
// start[i + 1] - 1 of columns and coefficients, counted from the index base
// IFDBG (entry e is columns[e + IFDBG - 1]). index_out[i] := the record
// holding cut i (a new one or a duplicate found), less IFDBG.
// duplicate_mode 0: no duplicate test; 1: an existing record of the same
// type at least as tight counts; 2: of any type. store_mode 0: caller
// columns (the index base and first_col are added); 1, 2: positions, the
// coefficients unscaled by the column factors on the way in; -1: positions
// and coefficients as given. Modes 1 and -1 mark the record 0x80.
// Errors (status_code 32, the cuts before stay stored): 401 bad sense, 423 a
// column repeated in a cut, 405 a position outside the columns, 419 and 424
// the pool could not grow.
void storecut(int32_t n, int32_t duplicate_mode, const int32_t* type, const char* sense, const double* rhs,
              const int32_t* start, int32_t* index_out, const int32_t* columns, const double* coefficients,
              int32_t store_mode);

// Takes back the newest stored cuts, given newest last: their records
// return to the free list and the pool's elements end where they ended
// before the first of them (nothing may have been stored after them).
void unstore_cuts(const int32_t* records, int32_t count, int32_t elements_before);

// which 0: more records (MXCPOL := 2 x MXCPOL + need + 100); 1: more
// elements (MXCPEL likewise). Returns 0 or the id that could not grow (the
// pool as it was).
int32_t grow_cut_pool(int32_t which, int32_t need);

}  // namespace kl

#endif
