// Problem queries: the stored problem given back in the caller's terms, and
// the presolve protection marks.
//
// Every index crosses the interface in the caller's base (IFDBG): caller row
// r is row r + IFDBG, caller column c is position c + first_col + IFDBG - 1.
// "first" and "last" name a range of caller indices; last < first is an empty
// range (nothing is checked or written). A range outside the rows gives
// message 406, outside the columns 407, both with the routine name and the
// caller's offending index (first when it lies below the range, else last).
// Every body but get_qobj and get_position_map needs a loaded problem
// (message 91, status 32 otherwise). On any error nothing is written.
//
// Mode 0 (the plain getters) gives values as the caller loaded them: the
// power-of-two scale factors are undone. Mode 1 (the I getters) gives them as
// stored, so the two differ only by the scale factors of the rows and columns
// involved.
#ifndef KLSOL_PROBLEM_QUERIES_H
#define KLSOL_PROBLEM_QUERIES_H

#include <cstdint>

namespace kl {

// 1 once the global search's preprocessing has classified the rows since the
// last load; the loaders set it to 0.
extern int32_t row_classes_available;

enum QueryMode : int32_t {
  QUERY_CALLER_FORM = 0,  // unscaled
  QUERY_STORED_FORM = 1,  // as stored (scaled)
};

// Routine names of the query bodies' error messages.
namespace routine {
inline constexpr const char* kGetobj = "getobj  ";
inline constexpr const char* kGetrhs = "getrhs  ";
inline constexpr const char* kGetrng = "getrng  ";
inline constexpr const char* kGetbdl = "getbdl  ";
inline constexpr const char* kGetbdu = "getbdu  ";
inline constexpr const char* kGetcols = "getcols ";
inline constexpr const char* kGetrows = "getrows ";
inline constexpr const char* kGetnames = "getnames";
inline constexpr const char* kIgetobj = "igetobj ";
inline constexpr const char* kIgetrhs = "igetrhs ";
inline constexpr const char* kIgetrng = "igetrng ";
inline constexpr const char* kIgetbdl = "igetbdl ";
inline constexpr const char* kIgetbdu = "igetbdu ";
inline constexpr const char* kIgetcols = "igetcols";
inline constexpr const char* kIgetrows = "igetrows";
inline constexpr const char* kGetrowtype = "getrowtype";
inline constexpr const char* kGetcoltype = "getcoltype";
inline constexpr const char* kGetindex = "getindex";
inline constexpr const char* kGetqobj = "getqobj ";
inline constexpr const char* kGetrclass = "getrcls ";
inline constexpr const char* kPrevecs = "prevecs ";
}  // namespace routine

// One value per column: the cost.
void getobj(double* values, int32_t first, int32_t last, int32_t mode);
// One value per row: the right-hand side.
void getrhs(double* values, int32_t first, int32_t last, int32_t mode);
// One value per row: 0 for an E row, the range of a range row (an L row
// whose slack has a finite upper bound), +1e20 for every other row.
void getrng(double* values, int32_t first, int32_t last, int32_t mode);
// One value per column: the lower (upper) bound, -1e20 (+1e20) when infinite.
void getbdl(double* values, int32_t first, int32_t last, int32_t mode);
void getbdu(double* values, int32_t first, int32_t last, int32_t mode);
// The matrix by columns (rows): count := the elements of the range; with a
// positive size, starts (one per column plus one, from 1 - IFDBG), the row
// (column) indices and the values, at most size elements.
void getcols(int32_t* starts, int32_t* rows, double* values, int32_t size, int32_t* count, int32_t first,
             int32_t last, int32_t mode);
void getrows(int32_t* starts, int32_t* columns, double* values, int32_t size, int32_t* count, int32_t first,
             int32_t last, int32_t mode);
// One letter per row: N, E, G, L, or R for a range row.
void getrowtype(char* types, int32_t first, int32_t last);
// One letter per column: I, B, S, P or C.
void getcoltype(char* types, int32_t first, int32_t last);
// type 1 rows, any other columns: each name as 8 x name_words characters
// followed by a NUL.
void getnames(int32_t type, char* names, int32_t first, int32_t last);
// type 1 a row, any other a column: the caller's index of the name, or -1
// with message 434 and status 32.
void find_name_index(int32_t type, const char* name, int32_t* index);
// KLGETGLOBAL, first half: counts and type letters of the entities and sets.
void get_global_types(int32_t* entity_count, int32_t* set_count, char* entity_types, char* set_types);
// KLGETGLOBAL, second half: entity columns and limits, set starts, members
// and reference values. Any null array is skipped.
void get_global_arrays(int32_t* entity_columns, double* entity_limits, int32_t* set_starts, int32_t* set_columns,
                       double* set_refs);
// The quadratic objective coefficient of two columns (0 when there is none).
void get_qobj(int32_t column1, int32_t column2, double* value);
// nseq entries: presolved position -> original position; the identity when
// the problem is not presolved.
void get_position_map(int32_t* positions);
// One int per row: the row classes of the global preprocessing.
void get_row_class(int32_t* classes);
// Replaces the set of rows and columns presolve must keep.
void prevecs(int32_t row_count, int32_t column_count, const int32_t* rows, const int32_t* columns);

}  // namespace kl

#endif
