// The shared representation of the current basis: the basis header, the
// work vector with its nonzero list, the eta file holding the LU factor and
// its updates, and the repair record of singular bases.
//
// Every array is 1-based. A basis position is a row number 1..nrow; after an
// invert, position r holds the variable whose column was pivoted in row r, so
// FTRAN results are indexed by basis position and rows and positions coincide.
//
// Eta file: four parallel arrays of eta_capacity slots (ids 46, 48, 50, 54).
// Some eta_value slots hold two ints instead of a real (a low and a high word).
//
// Invert part (top invert_part_size slots, written from slot eta_capacity
// down). Records share boundary slots: the low word of a boundary is the entry
// count of the record below it, the high word that of the record above it.
//   diagonal eta:  boundary t (low 0), pivot t-1 (eta_row r, eta_value m),
//                  boundary t-2 (high 0).             FTRAN: x_r *= m
//   L column eta:  boundary t (low c), pivot t-1 (r, m = 1/pivot, or 1),
//                  entries t-2..t-1-c (eta_row i, eta_value a_i),
//                  boundary t-2-c (high c).
//                  FTRAN: if x_r != 0 { x_r *= m; x_i -= x_r a_i }
//                  BTRAN: x_r := (x_r - sum a_i x_i) m
//   row eta:       boundary t (low c, eta_row r), entries t-1..t-c (i, v_i),
//                  pivot t-1-c (r, m), boundary t-2-c (high c).
//                  FTRAN: x_r := (x_r - sum v_i x_i) m
//                  BTRAN: if x_r != 0 { x_r *= m; x_i -= x_r v_i }
// A diagonal eta is an L column eta with no entries: both layouts and effects
// coincide, so the solves walk them alike.
//
// Product-form update etas (IFFTUP 0) take the place of the row etas below
// the invert's own records, in the layout of an L column eta: pivot slot
// (r, 1 / alpha_r), entries (i, alpha_i) of the entering column B^-1 a_q.
// With B_k = B_0 E_1 ... E_k they act after U: FTRAN applies them oldest
// first once U is done, BTRAN newest first before U. They keep no chains.
// product_form_count says which form the etas below the invert have; the
// updates never mix the two in one factor.
//
// U file (slots 1..u_file_end-1, unit upper-triangular U by columns, records
// in pivot order, chained). A record at position a with c entries:
//   separator a-1: low word c, high word back link (a - previous position);
//   head a: u_row = row label of the diagonal, low word = forward link c+2;
//   entries a+1..a+c: u_row = row label, eta_value = element.
// Slots 1 and 2 are a sentinel record (count 0, forward link to position 4).
//
// Row chains for the hypersparse solves, rebuilt at the end of each invert
// and extended by each update (the update writes, for a row eta, eta_next of
// every entry slot := its pivot row and eta_next of its pivot slot := 0, as
// the invert does for its own records):
//   id 49 (per row): invert-part slots holding the row, lowest first, linked
//          through u_row; a negative head is the row's own pivot slot; a
//          diagonal eta's pivot slot has u_row -1.
//   id 69 (per row): U-file slots holding the row, lowest first, linked
//          through eta_row; a negative head is the head position of the
//          row's own U record. U entries below ZTETA are zeroed and left out.
//   id 53 (per row): highest U-file slot holding the row.
//   id 47 (per row): row etas with that pivot row, newest first, linked
//          through u_row of their bottom boundary slots (kept by the update).
//   id 51 (per row): row-eta slots of that row (entries and own pivot slots),
//          oldest first, linked through u_row (kept by the update).
//   eta_next: pivot row of the record for every entry slot (0 at pivots), and
//          head row of the record for every U entry slot (0 at heads).
#ifndef KLSOL_FACTOR_BASIS_H
#define KLSOL_FACTOR_BASIS_H

#include <bit>
#include <cstdint>
#include <cstring>

#include "problem/array_ids.h"
#include "runtime/arrays.h"
#include "factor/simplex_state.h"

namespace kl {

inline constexpr int32_t kEtaCapacityStep = 20;  // capacity is a multiple of it
inline constexpr int32_t kMinEtaCapacity = 20;
inline constexpr int32_t kEtaSizingFactor = 3;   // capacity >= 3 x basis nonzeros
inline constexpr int32_t kEtaSizingReserve = 50000;
inline constexpr int32_t kColumnCountExtra = 500;  // extra ints of array 52
inline constexpr int32_t kUSentinelRecord = 2;
inline constexpr int32_t kUFirstRecord = 4;
inline constexpr int32_t kRepairListSize = 1000;

// Counters of the eta file (all 1-based slot numbers).
struct EtaFile {
  int32_t eta_capacity = 0;        // slots, a multiple of 20
  int32_t invert_part_size = 0;    // slots used from the top
  int32_t u_file_end = 0;          // next free U-file position
  int32_t invert_eta_count = 0;    // diagonal plus L column etas of the invert
  int32_t diagonal_eta_count = 0;  // diagonal etas among them
  int32_t row_eta_count = 0;       // update etas appended since the invert
  // Product-form etas among them (IFFTUP 0): 0, or all of row_eta_count,
  // since the updates refuse to mix the two forms in one factor.
  int32_t product_form_count = 0;
  int32_t u_column_count = 0;      // records in the U chain
  int32_t u_last_record = 0;       // position of the last record (2: empty)
  int32_t invert_size_at_factor = 0;  // invert_part_size when the invert ended
  int32_t basis_nonzeros = 0;      // of the basis at the last invert (slack = 1)
  int32_t row_file_end = 0;        // used end of the invert's row-wise file
  int32_t pattern_file_end = 0;    // used end of the invert's column patterns
  int32_t slack_pivots = 0;        // pivots of each kind in the last invert
  int32_t column_singletons = 0;
  int32_t row_singletons = 0;
  int32_t lu_rows = 0;             // rows the per-row LU arrays were sized for
};
extern EtaFile eta_file;

// Values of work_vector_state.
enum WorkVectorState : int32_t {
  WV_CLEAR_ALL = 1,  // the whole used length must be cleared
  WV_LISTED = 2,     // the nonzero list is valid and holds every nonzero
  WV_ZERO = 3,       // the vector is already zero
};

// The factor's view of the basis.
struct FactorState {
  // Set by the dual simplex: the invert renumbers the rows in order of first
  // appearance (factor_index: row -> number, factor_rows: number -> row).
  int32_t factor_permuted = 0;
  // Rows the factor covers: nrow, or fewer when factor_permuted is set.
  int32_t factor_dimension = 0;
  // Work vector (array 43): see WorkVectorState. Its nonzero list is kept in
  // col_start (array 3) entries 1..work_vector_count.
  int32_t work_vector_state = WV_CLEAR_ALL;
  int32_t work_vector_count = 0;
  // ZTETA copied at the start of every invert attempt.
  double invert_drop_tolerance = 0.0;
};
extern FactorState factor;

// Singular-basis repair over the life of the problem: the first 1000 basic
// variables taken out and the first 1000 rows whose slacks were put in.
struct RepairRecord {
  int32_t repair_count = 0;
  int32_t removed_variables[kRepairListSize] = {};
  int32_t slack_rows[kRepairListSize] = {};
};
extern RepairRecord repair_record;

// Why an invert was asked for; every refactorisation names one.
enum class InvertReason : int32_t {
  kFactorInvalid = 0,   // problem flag 0x200 clear: no factor for this basis
  kNewBasis,            // a basis was set, loaded or read
  kUpdateLimit,         // the updates since the last invert reached a limit
  kEtaFileFull,         // an update found no room in the eta file
  kUnstableUpdate,      // an update advised a refactorisation
  kAccuracy,            // a residual or reduced-cost check failed
  kUserSolve,           // an exported solve needs an unpermuted factor
  kRecompute,           // final values, duals and reduced costs
};
const char* invert_reason_text(InvertReason reason);

// Why an invert attempt started again.
enum class AttemptRestart : int32_t {
  kNone = 0,
  kEtaFileGrown,      // the eta file ran out of room and was enlarged
  kSingularRepaired,  // unpivoted columns were replaced by slacks
  kThresholdRaised,   // the residual was too large for the pivot threshold
};
const char* attempt_restart_text(AttemptRestart restart);

// Counters a test can read: every fall-back of the invert counts here.
struct FactorStats {
  int64_t inverts = 0;             // calls of invert_basis
  int64_t accepted = 0;            // inverts that ended with a valid factor
  int64_t attempts = 0;            // attempts over all inverts
  int64_t eta_file_growths = 0;    // grow_lu_arrays successes
  int64_t singular_repairs = 0;    // repair_singular_basis runs
  int64_t empty_row_repairs = 0;   // structurally empty rows repaired
  int64_t threshold_raises = 0;    // pivot threshold raised after a residual
  InvertReason last_reason = InvertReason::kFactorInvalid;
  AttemptRestart last_restart = AttemptRestart::kNone;
  double last_residual = 0.0;      // residual measure of the last attempt
};
extern FactorStats factor_stats;

// The optimiser state that the factor reads and writes (lp_algorithm,
// update_count, marks_exist, shift_count, perturbation_phase,
// factor_accurate, bigm_mode, ...) is declared in factor/simplex_state.h.

// Word access to eta_value slots that hold two ints.
inline char* eta_value_bytes() { return reinterpret_cast<char*>(real_array(ARR_ETA_VALUE).data()); }
inline int32_t slot_low_word(int32_t slot) {
  int32_t w;
  std::memcpy(&w, eta_value_bytes() + 8 * static_cast<int64_t>(slot - 1), 4);
  return w;
}
inline int32_t slot_high_word(int32_t slot) {
  int32_t w;
  std::memcpy(&w, eta_value_bytes() + 8 * static_cast<int64_t>(slot - 1) + 4, 4);
  return w;
}
inline void set_slot_low_word(int32_t slot, int32_t w) {
  std::memcpy(eta_value_bytes() + 8 * static_cast<int64_t>(slot - 1), &w, 4);
}
inline void set_slot_high_word(int32_t slot, int32_t w) {
  std::memcpy(eta_value_bytes() + 8 * static_cast<int64_t>(slot - 1) + 4, &w, 4);
}

// The upper 32 bits of a double with the sign cleared: the small-value tests
// of the solves compare these only (a zero high word also covers denormals).
inline uint32_t magnitude_high_word(double x) {
  return static_cast<uint32_t>(std::bit_cast<uint64_t>(x) >> 32) & 0x7fffffffu;
}
inline bool high_word_zero(double x) { return magnitude_high_word(x) == 0; }

// Views of the factor arrays.
inline OneBased<int32_t> eta_row() { return int_array(ARR_ETA_ROW); }
inline OneBased<double> eta_value() { return real_array(ARR_ETA_VALUE); }
inline OneBased<int32_t> u_row() { return int_array(ARR_U_ROW); }
inline OneBased<int32_t> eta_next() { return int_array(ARR_ETA_NEXT); }
inline OneBased<double> work_vector() { return real_array(ARR_WORK_VECTOR); }
inline OneBased<int32_t> work_list() { return int_array(ARR_COL_START); }

// Top boundary of the oldest update eta (bottom of the invert's own records).
inline int32_t invert_records_bottom() { return eta_file.eta_capacity - eta_file.invert_size_at_factor; }
// Row etas below the invert's records: none while they are product-form etas.
inline int32_t row_eta_records() { return eta_file.row_eta_count - eta_file.product_form_count; }

// Allocates the LU arrays and the eta file (sets problem flag 0x4000).
// Returns 0, or sets status word 4 after message 20 and returns the id.
int32_t alloc_lu_arrays();
// Enlarges the four eta-file arrays by at least request slots, keeping their
// contents; failure is 1 when no memory could be had.
void grow_lu_arrays(int32_t& failure, int32_t request);
// Frees the LU arrays when they exist (through free_factor_arrays).
void release_lu_arrays();

// Start-up and every load: factor state, counters and repair record cleared.
void reset_factor_state();

}  // namespace kl

#endif
