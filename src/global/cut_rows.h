// Cut rows of the LP: loading pool cuts as rows after the model rows
// (loadcut), taking them out again (delcut, remove_all_cut_rows) and the
// type rule shared by every walk over cuts.
//
// Interface summary (all in namespace kl):
//   loadcut(type, rule, count, list, load_mode)      pool records -> LP rows
//   delcut(keep_binding, type, rule, threshold, count, list)
//                                                    LP cut rows out, basis kept square
//   remove_all_cut_rows()                            every cut row out, no checks
//   cut_type_matches(record_type, type, rule)        the rule of both
//   cut_row_model_rows()                             nrow - cut_row_count
//   scan_cut_rows()                                  rows added by the cut
//                                                    manager -> pool records
// State read and written: nrow, spare_rows_left, spare_elems_left, nelem,
// cut_row_count, the row copy (ids 35-37), row_type, pos_status, bounds,
// rhs and work rhs, basis header (33), array 34 and 64 of the cut rows,
// cut_row_list (61), the pool's reference counts and flag 0x400,
// search_record.cut_rows_loaded / cut_rows_deleted, node_factor_reusable.
//
// Cut rows are rows m0+1 .. nrow with m0 = nrow - cut_row_count; entry k of
// cut_row_list belongs to row m0 + k: a pool record, or for a row added
// straight into the LP (row_type bit 0x80) the cut's type. A cut row carries
// no row scale; its coefficients are the pool's times 2^s of each column.
// Callers set status_code to 0 first and test it afterwards; errors set
// status 32 and stop, keeping the rows loaded or deleted before.
#ifndef KLSOL_GLOBAL_CUT_ROWS_H
#define KLSOL_GLOBAL_CUT_ROWS_H

#include <cstdint>

namespace kl {

namespace routine {
inline constexpr const char* kLoadcut = "loadcut ";
inline constexpr const char* kDelcut = "delcut  ";
}  // namespace routine

// How a cut's type is compared with the type asked for.
enum CutMatchRule : int32_t {
  CUT_RULE_TYPE_EQUAL = 1,
  CUT_RULE_COMMON_BIT = 2,
  CUT_RULE_ALL_BITS = 3,
  // Any other value matches every cut; the node cut lists pass this one, and
  // loadcut then neither grows the storage nor changes the rows' statuses.
  CUT_RULE_RESTORE = -2,
};

// How loadcut reads its list.
enum CutLoadMode : int32_t {
  // The caller's list (records counted from IFDBG); library cuts (0x80) are
  // passed over; errors print their message.
  LOAD_CALLER_LIST = 0,
  // Records 1 .. count (count -1: all stored) flagged 0x400, flag cleared.
  LOAD_SELECTED = 1,
  // The list as given, library cuts included; errors set the error number
  // and status 32 without a message.
  LOAD_INTERNAL_LIST = 2,
};

bool cut_type_matches(int32_t record_type, int32_t type, int32_t rule);

// Rows before the first cut row.
int32_t cut_row_model_rows();

// Row type, status bits and slack bounds of a cut row of the sense in a
// record's flags (E, G, else L).
struct CutRowShape {
  int32_t type;
  uint32_t status;
  double lower;
  double upper;
};
CutRowShape cut_row_shape(int32_t flags);

// Appends the chosen pool cuts as LP rows, each with its slack basic at its
// own basis position (rule CUT_RULE_RESTORE: the row keeps the basic and
// at-upper bits its position held). count -1: every stored record. Errors:
// 418 a record outside 1..MXCPOL, 413 no spare row, 415 too few spare
// elements (storage grows by 1001 rows or length + 10000 elements first,
// except under CUT_RULE_RESTORE).
void loadcut(int32_t type, int32_t rule, int32_t count, const int32_t* list, int32_t load_mode);

// Deletes cut rows: those listed (cut-row numbers from IFDBG: 0 = first cut
// row), or every cut row for count -1, whose type matches and whose distance
// from the active bound (0 unless threshold > -ZTOLZE and the slack is
// basic) is at least threshold; keep_binding spares rows whose slack is
// non-basic, and every row when threshold <= -ZTOLZE. The basis stays
// square. Errors: 422 threshold needs a current solution, 402 a cut-row
// number out of range.
void delcut(int32_t keep_binding, int32_t type, int32_t rule, double threshold, int32_t count, const int32_t* list);

// Takes every cut row out of the LP: nrow and cut_row_count drop, rows and
// elements go back to the spare counts. Status words of the vacated
// positions are left for a restore to reuse. The column copy must be
// rebuilt afterwards (make_column_copy_current; its flag is cleared here),
// and the basis header from the statuses when a cut row's slack was basic
// away from its own position.
void remove_all_cut_rows();

// Moves every cut row the cut manager added straight into the LP (row type
// bit 0x80, its type in cut_row_list) into the pool: a record of that type
// with the row's sense, right-hand side and coefficients (per unit of the
// unscaled column), referenced once by the row, which then names it.
// Errors (status 32, rows moved before stay moved): 285 no record left
// below the saved bounds, 286 no room for the row's elements.
void scan_cut_rows();

}  // namespace kl

#endif
