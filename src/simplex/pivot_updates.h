// The updates of the basic values after a primal step, the product-form
// update of the factor (IFFTUP 0), the accuracy check of an entering reduced
// cost, the reduced costs by rows from the duals and the dual-infeasibility
// count and shift of the dual simplex. The values from scratch are in
// basic_values.h.
#ifndef KLSOL_SIMPLEX_PIVOT_UPDATES_H
#define KLSOL_SIMPLEX_PIVOT_UPDATES_H

#include <cstdint>

namespace kl {

// Non-basic positions with |d| below 100 ZTCOST at the last
// count_dual_infeasibilities.
extern int32_t near_zero_count;

// Result of check_reduced_cost_accuracy.
inline constexpr int32_t kReducedCostInaccurate = 7;

// After the ratio test, with the updated entering column (in the entering
// direction) in the work vector: basic values, marks, ninf, suminf, objval,
// bound placements into working_rhs, the change list.
void update_basic_values_primal();
// The same for the quadratic engine: keeps x of every variable; curvature
// is p'Qp along the edge per unit step of the entering variable (0 in
// phase 1).
void update_basic_values_qp(double curvature);
// Values only, no feasibility tests (the dual's release of working bounds).
void update_basic_values();
// Negates the listed entries of the work vector.
void negate_work_vector();
// 0, or 7 when dj_check_value is not accurate against the dual change held
// in the work vector (only with IDBDC >= 2; message 133).
int32_t check_reduced_cost_accuracy();
// Appends the product-form update eta (IFFTUP 0) of the updated entering
// column for leaving_row. The work vector holds column_sign x B^-1 a_q
// (-1: negated for a decreasing entering variable, as the dual keeps it);
// the eta stores B^-1 a_q itself. Returns 0, or UPDATE_ETA_FILE_FULL (the
// factor marked invalid) when the file has no room or holds row etas of the
// other update form.
int32_t store_pivot_eta(double column_sign = 1.0);

// Duals (work vector, by factor position) -> reduced_costs of every
// position, from working_costs or (original) from the objective.
void compute_reduced_costs();
void compute_reduced_costs_original();
// Dual simplex: shifts the small dual infeasibilities away, counts the
// others (nnegdj); entering_column := 1 when large ones remain.
void shift_dual_infeasibilities();
// Dual simplex: counts and sums the dual infeasibilities, flips boxed ones,
// builds the phase-1 right-hand side.
void count_dual_infeasibilities();

}  // namespace kl

#endif
