// The set-up and checks that end every load, whatever brought the problem in
// (the array loaders, the problem-file readers): the original-problem record,
// the remaining per-row, per-position and per-entity arrays, duplicate matrix
// entries merged, defaults that depend on the problem, scaling, the load
// statistics, the root bounds of the global entities and the bound check.
// Besides, the small routines that only the problem-file readers call.
#ifndef KLSOL_PROBLEM_SETUP_H
#define KLSOL_PROBLEM_SETUP_H

#include <cstdint>
#include <functional>

namespace kl {

// The big-M weight the primal simplex falls back to: max(BIGM x ZSP002,
// ZSP003), set by every set-up.
extern double bigm_fallback;
// 1 when some entity column is semi-continuous (types S and R); the
// factorisation's row numbering reads it, presolve rewrites it.
extern int32_t has_semicont_columns;

// Failure codes of setup_loaded_problem besides the id of an array that
// could not be allocated.
inline constexpr int32_t kSetupCrossedBounds = -1;
// Added to the error count when set members have reference values too
// close together, so that the load fails unless IGNORE is at least that.
inline constexpr int32_t kSetReferenceErrorWeight = 10000;

// mode 1 asks for the final column-bound check (the array loaders always
// pass 1). error_count accumulates what the caller compares with IGNORE.
// failure_code: 0, the id of an array that could not be allocated, or
// kSetupCrossedBounds (message 18 for each such column). Leaves the column
// copy valid (PF_COLUMN_COPY), the solver work arrays allocated and the
// problem scaled; problem_state is the caller's to set.
void setup_loaded_problem(int32_t mode, int32_t& error_count, int32_t& failure_code);

// The original-problem record (and the presolved counts) := the problem as
// it stands now; every load and every edit of the dimensions keeps it.
void record_original_problem();

// Merges repeated (row, column) entries into the first: all the values of
// one position are summed, and the entry is dropped only when the total is
// below ZTOLDA (message 58 per duplicate). equality_entries := entries in E
// rows; failure_code := 0.
void check_duplicate_matrix_entries(int32_t& equality_entries, int32_t& failure_code);
// NEXTRA, unless the caller set it: 4 x entries + 5000 for a problem with
// entries in E rows (nrow when that is smaller), else 0.
void estimate_int_work(int32_t equality_entries, int32_t& estimate);
// Semi-continuous columns take their lower bound as limit; set members whose
// reference value does not exceed the one before by ZTOLST are message 56
// and counted; column entities out of column order are sorted.
void check_set_reference_values(int32_t mode, int32_t& error_count);
// The spacing rule of one set's members (refs[0..count-1], in set order):
// returns how many do not exceed the one before by ZTOLST, and with report
// emits message 56 for each, naming member i by member_name(i) (8
// characters). Readers run it on their scratch data before they commit.
int32_t check_set_member_spacing(const char* set_name8, const double* refs, int32_t count,
                                 const std::function<const char*(int32_t)>& member_name, bool report);
// Status bit PS_ENTITY on every member column of every set.
void mark_set_members();
// Messages 99, 321, 322, 323, (325), 53.
void print_problem_statistics();
// IFBIGM, bigm_mode, PENLTY, BIGM and bigm_fallback from the costs.
void set_bigm_defaults();
// entity_root_upper and entity_root_lower (ids 13, 14) from the bounds.
void set_entity_root_bounds();

// The name of a position in name_table: name_words x 8 characters, blank
// padded, no terminator.
char* position_name(int32_t position);

// Reader routines.
void copy_name8(const char* source, char* destination);
// -1 when all eight characters are equal, else 0.
int32_t equal_name8(const char* a, const char* b);
// Typed entries of kinds 1..4 find their matrix element (kind 4 keeps its
// index); kind 8 sets its column's lower bound to minus the upper.
void match_records_to_matrix();
// set_member_ref[nsosm] := the element of column position p in row r (the
// first in slot order), or 0 when the column has none there.
void member_reference_from_row(int32_t row, int32_t position);

}  // namespace kl

#endif
