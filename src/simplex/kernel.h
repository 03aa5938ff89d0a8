// The simplex kernel: the steps every simplex engine shares around one
// iteration, on the basis representation of factor/basis.h.
//
// Per basis position i the row word (array 1) carries the phase-1 marks of
// the basic variable: RF_INFEAS_ABOVE (0x10) above its upper bound,
// RF_INFEAS_BELOW (0x20) below its lower bound, RF_FREE_BASIC (0x40) free.
// basic_upper (array 34) holds the upper bound of the basic variable of each
// position (1e20 when none).
#ifndef KLSOL_SIMPLEX_KERNEL_H
#define KLSOL_SIMPLEX_KERNEL_H

#include <cstdint>

namespace kl {

// Results of update_factor.
enum UpdateResult : int32_t {
  UPDATE_DONE = 0,
  UPDATE_ETA_FILE_FULL = 1,   // nothing more written; refactorise
  UPDATE_REFACTOR = 2,        // refactorisation advised (the update may have been made)
  UPDATE_SINGULAR = 4,        // new diagonal below ZTETA; no update made
};
const char* update_result_text(int32_t result);

// Counters a test can read: every fall-back of the kernel counts here.
struct KernelStats {
  int64_t updates = 0;              // update_factor calls that changed the factor
  int64_t unstable_updates = 0;     // diagonal test failed (message 148)
  int64_t growth_failures = 0;      // growth test failed (message 149)
  int64_t singular_updates = 0;     // result 4
  int64_t eta_file_full = 0;        // append_eta_column or update_factor found no room
  int64_t mixed_forms_refused = 0;  // update_factor met product-form etas (result 1)
  int64_t bound_placements = 0;     // basic values moved onto a bound by update_after_pivot
};
extern KernelStats kernel_stats;

// Work vector := negated basic costs (sense factor x cost, or 0 in pure
// phase 1, plus or minus BIGM for an infeasible position, less the gradient
// term of a quadratic objective when feasible); state 1.
void set_basic_costs();

// BTRAN of the work vector for IFFTUP 0 (same vector as the standard BTRAN).
void btran_dense();

// Work vector := column j (a slack: 1 at its own row), with its nonzero
// list; state 2. In the renumbering mode of the dual the factor grows by
// the rows the column brings in.
void unpack_column(int32_t j);

// Appends the listed work vector as a U record (the spike of the next
// update_factor). Returns 1 (eta file full, nothing written) or 0.
int32_t append_eta_column();

// Phase 1 without a shift in force: a basic value this close outside a
// bound is placed on it by update_after_pivot (elsewhere ZTOLZS).
inline constexpr double kPhase1PlacementTolerance = 0.0001;

// Basic values, row marks, ninf, suminf and objval after the pivot chosen
// by the ratio test, with bound shifting and the change list; the work
// vector holds the updated column in the entering direction. (It shares its
// step with the updates of pivot_updates.h and lives beside them.)
void update_after_pivot();

// Status bits of the entering and leaving variables, update_count, itcnt;
// a rejected candidate (candidate_rejected -1) only gets the mark 0x20.
void update_basis_flags();

// Forrest-Tomlin update of the factor for basis position leaving_row, the
// spike being the record just appended. Returns an UpdateResult; result 1
// with the factor marked invalid when the file holds product-form etas
// (IFFTUP changed since the invert), which row etas cannot follow.
int32_t update_factor();

// Work-vector entries below tol (upper 32 bits compared) zeroed, the rest
// negated and listed; state 2.
void drop_tiny_entries(double tolerance);

// entering_upper from the entering column, then the primal ratio test on
// the work vector. Returns its result: 0 a step was found, 9 pivot too
// small (see primal_ratio_test.h).
int32_t ratio_step();

}  // namespace kl

#endif
