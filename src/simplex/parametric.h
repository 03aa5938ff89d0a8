// Parametric analysis of the objective: from an optimal basis the objective
// moves along c + lambda x (row parametric_row) while lambda grows, and the
// basis follows it through the breakpoints.
//
// The direction is the row's value in the sense of an objective row: its
// coefficients times x less its right-hand side, which is minus the row's
// slack (a x + s = b). In the caller's units and sense the objective at
// lambda is c'x - lambda s_k; lambda, PHIMAX and the logged values are in
// the caller's units whatever the scaling of the row.
#ifndef KLSOL_SIMPLEX_PARAMETRIC_H
#define KLSOL_SIMPLEX_PARAMETRIC_H

#include <cstdint>

#include "runtime/controls.h"

namespace kl {

namespace dslot {
inline constexpr int kParametricValue = 110;
}  // namespace dslot

// The current lambda (caller units).
inline double& parametric_value = double_controls[dslot::kParametricValue];

// Row whose multiple is added to the objective (a row position). Its slack
// may be basic anywhere or non-basic. Outside 1..nrow no variable enters.
extern int32_t parametric_row;

// problem_state while the analysis runs: a return of the loop in this state
// asks the caller to refactorise and call again; 4 ends the analysis.
inline constexpr int32_t kParametricRunning = 3;
inline constexpr int32_t kParametricFinished = 4;

// Fall-backs of the loop, readable by tests.
struct ParametricStats {
  int64_t refactor_returns = 0;  // returns that asked for a fresh factor
  int64_t undone_pivots = 0;     // pivots taken back after a singular update
  int64_t check_failures = 0;    // reduced-cost checks that failed
};
extern ParametricStats parametric_stats;

// The direction row when the command names none: the first free (N) row
// that has coefficients and is neither the objective row nor the row of
// the objective constant. 0 when there is none.
int32_t default_parametric_row();

// True when the basis (just inverted) is optimal for c alone: no non-basic
// position has a reduced cost that improves the objective by more than the
// allowance. The analysis starts only from such a basis.
bool parametric_basis_optimal();

// flag := 1 (nothing else done) when a basic variable is infeasible;
// otherwise flag := 0 and entering_column, entering_sign,
// entering_reduced_cost, entering_upper and parametric_value are set for the
// next breakpoint (entering_column 0: none; -1: PHIMAX reached).
void parametric_pricing(int32_t& flag);

// c'x in the caller's units and sense (objval without the parametric term).
double parametric_base_objective();
// The objective at the current lambda: c'x - lambda s_k, caller units.
double parametric_objective();

// One parametric log line; force 0 prints only on the ITRLOG period. Nothing
// under IQUIET 1.
void print_parametric_line(int32_t force);

// True when the loop must return for a refactorisation after an iteration:
// update_count has reached a positive INVFRQ, or else the engines' rule.
bool parametric_refactor_due();

// The iteration loop; called after an invert and again after every return
// with problem_state below 4 (it sets kParametricRunning on entry). flag 1:
// the basis had become infeasible and primal_simplex(3) has run, so the
// caller re-optimises; or a factor failure with no update since the invert
// (message 19, status 32). Ends with status_letter O (no further
// breakpoint, or PHIMAX reached), U (a column enters without limit) or C
// (stopped), problem_state 4; or problem_state 4 at ITRLIM, letter kept.
void parametric_objective_loop(int32_t& flag);

}  // namespace kl

#endif
