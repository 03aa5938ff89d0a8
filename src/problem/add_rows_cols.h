// Growing a loaded problem in place: structural columns (addcol), rows
// (addrow) and the names of a range of rows or columns (addnames). The
// bodies of KLADDCOLS, KLADDROWS and KLADDNAMES.
//
// Caller indices are in the caller's base (IFDBG): a row index i is row
// i + IFDBG, a column index k is position first_col + k + IFDBG - 1. The
// entries of new column (row) k run from starts[k] to starts[k+1] - 1 of the
// index and value arrays, those of the last one to starts[0] + nelems - 1,
// so starts has exactly one entry per new column (row).
//
// New rows and columns take the spare positions and element slots kept at
// load; when these run out the storage grows first (grow_problem_storage) by
// the number wanted + kAddPositionGrowth positions or + kAddElementGrowth
// elements. New values are scaled on the way in with the power-of-two rule
// of the whole problem (when IFSCAL is not 0) and read back as given.
//
// Every index, type letter and duplicate is checked before anything is
// stored, so an error (status 32 after its message) leaves the problem as it
// was: nothing is added and no derived data is dropped.
#ifndef KLSOL_PROBLEM_ADD_ROWS_COLS_H
#define KLSOL_PROBLEM_ADD_ROWS_COLS_H

#include <cstdint>
#include <utility>
#include <vector>

namespace kl {

namespace routine {
inline constexpr const char* kAddrow = "addrow  ";
inline constexpr const char* kAddcol = "addcol  ";
inline constexpr const char* kAddnames = "addnames";
}  // namespace routine

// Growth beyond the wanted count when the spare room runs out.
inline constexpr int32_t kAddPositionGrowth = 1000;
inline constexpr int32_t kAddElementGrowth = 10000;

// IFMEM bit that forbids adding rows and deleting columns: the problem's
// arrays are shared with a caller-side copy that must keep its shape.
inline constexpr int32_t kIfmemFixedShape = 0x2;

// Appends ncols columns at positions nseq+1.. with their costs, bounds
// (beyond +-5e19 infinite) and the entries of the caller's block layout
// (entries below ZTOLDA dropped). Equal bounds fix a column and a free one
// rests at zero, as after a load. Errors: 91 no problem, 268 presolved, 7 a
// negative count or a start outside the entries, 601 a null array, 402 bad
// row index, 423 a row given twice in one column (a pair (row, column) is
// stored once, scaled or not), 414/415 no room. Clears PF_SOLUTION_CURRENT
// and PF_ROW_COPY and frees the factor and the row lists; the column copy
// stays valid.
void addcol(int32_t ncols, int32_t nelems, const double* costs, const int32_t* starts, const int32_t* row_indices,
            const double* values, const double* lower, const double* upper);

// Appends nrows rows at rows nrow+1.. with their type letters (E, G, L, N,
// R; R stores an L row whose slack is bounded by |range|), right-hand sides
// and entries; each new row's slack is basic in its own basis position.
// The entries of a row enter the row copy by increasing column. Errors: 91,
// 268, 431 (IFMEM bit 0x2), 7, 601, 401 bad type letter (value: the row's
// entry in the call), 405 bad column index, 423 a column given twice in one
// row, 413/415 no room. Clears PF_SOLUTION_CURRENT and PF_COLUMN_COPY (the
// next user rebuilds the column copy from the row copy) and frees the factor
// and the row lists.
void addrow(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs, const double* ranges,
            const int32_t* starts, const int32_t* column_indices, const double* values);

// Replaces the names of rows (kind 1) or columns (any other kind) first..last
// with names given one after another, each ended by a NUL; a name shorter
// than name_words x 8 characters is blank padded. Errors: 91, 268 (the
// names of a presolved problem belong to its original positions), 601, 406
// and 407 a range outside the rows or columns, 408 a name too long (error
// value the offset in the buffer where it passes the limit); every name is
// measured before any is stored.
void addnames(int32_t kind, const char* names, int32_t first, int32_t last);

// The arguments of one KLADDROWS call, in its order.
struct AddedRows {
  int32_t nrows;
  int32_t nelems;
  const char* types;
  const double* rhs;
  const double* ranges;
  const int32_t* starts;
  const int32_t* columns;
  const double* values;
};

// Where the entries of one new row sit in the caller's arrays (0-based, end
// excluded).
struct EntryRange {
  int64_t begin = 0;
  int64_t end = 0;
};

// Pieces of addrow, also used to add rows to a presolved problem. All of
// them read the current problem's dimension words and status words.

// Every check addrow makes before it stores anything (counts, null arrays,
// layout, type letters, finite values, 405, 423); ranges receives each
// row's entries. False after the message (status 32).
bool check_added_rows(const AddedRows& call, std::vector<EntryRange>& ranges);
// Position of a caller's column index.
int32_t added_row_column(int32_t index);
// Scale exponent byte of a new row from its entries and the columns' factors
// (64 when IFSCAL is 0).
int32_t added_row_exponent(const AddedRows& call, const EntryRange& range);
// The row words of a new row: type code, status word (basic slack and the
// exponent byte), slack bounds (stored, scaled).
struct RowShapeWords {
  int32_t type;
  int32_t status;
  double lower;
  double upper;
};
RowShapeWords added_row_words(char letter, double range, int32_t exponent);
// The default name (VV and the position) of a new row p.
void write_added_row_name(int32_t p);
// Stores row p (p - 1 rows stored before it) in the arrays and the row copy:
// type letter, range (R rows), exponent byte, the right-hand side and the
// entries already scaled, the entries by increasing position; the slack is
// basic in its own basis position and, with default_name, the row gets its
// default name. The caller has made room in the row copy.
void store_added_row(int32_t p, char letter, double range, int32_t exponent, double scaled_rhs,
                     const std::vector<std::pair<int32_t, double>>& entries, bool default_name);

// Helpers of the adding and deleting bodies.

// A loaded problem not in presolved form: else message 91 or 268, status 32.
bool require_editable_problem();
// Message 601 naming the argument when an array the call reads is null.
bool require_argument(const void* pointer, int32_t argument, const char* routine_name);
// Message 7: a count or start that cannot describe the call (argument
// number, the caller's entry, the value); status 32.
void report_count_error(int32_t argument, int32_t entry, int64_t value, const char* routine_name);
// The solver work arrays (which hold the row copy), allocated when missing;
// false after message 20.
bool make_work_arrays_present();
// The row copy (column copy) built when its flag is clear; false after
// message 20.
bool make_row_copy_current();
bool make_column_copy_current();
// Message 20 for scratch memory of an edit; status 32.
void report_edit_no_memory();

}  // namespace kl

#endif
