// The caller's part in the cutting and branching of the search: cuts added
// straight into the LP, pool cuts listed, read back and dropped, bound
// records, cuts and bounds attached to the branch being made, and the
// degradation rates of a column. Bodies of the cut-manager exports
// (src/api/cut_manager_exports.cpp); storecut, loadcut and delcut are in
// problem/cut_store.h and global/cut_rows.h.
//
// Interface summary (namespace kl; every index that comes in has the index
// base IFDBG added, every index that goes out has it subtracted; columns
// are the caller's structural column numbers, pool indices record numbers):
//   addcut(n, type, sense, rhs, start, columns, coefficients)
//       n cuts appended as LP rows without pool records (row type 0x80, the
//       cut type in cut_row_list); the node loop moves them into the pool
//   dropcut(type, rule, count, list)
//       frees unreferenced pool cuts the caller stored (count -1: all of
//       them); library cuts and bound records are never freed here
//   list_lp_cuts(type, rule, count, capacity, list)
//       the pool cuts of the LP's cut rows (0 for a row added by addcut)
//   list_violated_pool_cuts(type, rule, tolerance, count, capacity, list, violation)
//   getcuts(list, count, capacity, type, sense, start, columns, coefficients, rhs)
//   storebnd(n, columns, letters, values, index_out)
//       bound records 'L'/'U', with a saved-bound record per column and kind
//   brnchcut(n, list)
//       pool cuts and bound records attached to the branch being made
//   getest(column, up, down)
//       up and minus down degradation rate of a column at the row prices
// Library cuts (record flag 0x80) are invisible to the caller: the listings
// pass over them and getcuts and dropcut refuse them.
// Errors set status 32 with a numbered message (401, 405, 413, 415, 416,
// 418, 419, 423; 601 for a missing array, 7 for a bad count or start) and
// keep what was done before them.
#ifndef KLSOL_GLOBAL_CUT_INTERFACE_H
#define KLSOL_GLOBAL_CUT_INTERFACE_H

#include <cstdint>

namespace kl {

namespace routine {
inline constexpr const char* kAddcut = "addcut  ";
inline constexpr const char* kDropcut = "dropcut ";
inline constexpr const char* kGetcuts = "getcuts ";
inline constexpr const char* kStorebnd = "storebnd";
inline constexpr const char* kBrnchcut = "brnchcut";
inline constexpr const char* kGetest = "getest  ";
}  // namespace routine

void addcut(int32_t n, const int32_t* type, const char* sense, const double* rhs, const int32_t* start,
            const int32_t* columns, const double* coefficients);
void dropcut(int32_t type, int32_t rule, int32_t count, const int32_t* list);
void list_lp_cuts(int32_t type, int32_t rule, int32_t* count_out, int32_t capacity, int32_t* list);
void list_violated_pool_cuts(int32_t type, int32_t rule, double tolerance, int32_t* count_out, int32_t capacity,
                             int32_t* list, double* violation);
void getcuts(const int32_t* list, int32_t count, int32_t capacity, int32_t* type_out, char* sense_out,
             int32_t* start_out, int32_t* columns_out, double* coefficients_out, double* rhs_out);
void storebnd(int32_t n, const int32_t* columns, const char* letters, const double* values, int32_t* index_out);
void brnchcut(int32_t n, const int32_t* list);
void getest(int32_t column, double* up, double* down);

// The caller-facing checks of storecut, loadcut and delcut: a problem, the
// arrays the counts need and sane counts; false after the message.
bool check_storecut_arguments(int32_t n, const int32_t* type, const char* sense, const double* rhs,
                              const int32_t* start, const int32_t* index_out, const int32_t* columns,
                              const double* coefficients);
bool check_cut_list_arguments(int32_t count, const int32_t* list, const char* routine_name);

}  // namespace kl

#endif
