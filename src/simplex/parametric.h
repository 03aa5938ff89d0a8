// Parametric analysis of the objective: from an optimal basis the objective
// moves along c + lambda x (row parametric_row) while lambda grows, and the
// basis follows it through the breakpoints.
#ifndef KLSOL_SIMPLEX_PARAMETRIC_H
#define KLSOL_SIMPLEX_PARAMETRIC_H

#include <cstdint>

#include "runtime/controls.h"

namespace kl {

namespace dslot {
inline constexpr int kParametricValue = 110;
}  // namespace dslot

// The current lambda.
inline double& parametric_value = double_controls[dslot::kParametricValue];

// Row whose multiple is added to the objective; its slack is basic at basis
// position parametric_row. Outside 1..nrow no variable ever enters.
extern int32_t parametric_row;

// flag := 1 (nothing else done) when a basic variable is infeasible;
// otherwise flag := 0 and entering_column, entering_sign,
// entering_reduced_cost, entering_upper and parametric_value are set for the
// next breakpoint (entering_column 0: none; -1: PHIMAX reached).
void parametric_pricing(int32_t& flag);

// One parametric log line; force 0 prints only on the ITRLOG period.
void print_parametric_line(int32_t force);

// True when the factor should be rebuilt after the current update: INVFRQ
// when positive, else the engines' fill and accuracy rule.
bool parametric_refactor_due();

// The iteration loop; called after an invert and again after every return
// with problem_state below 4. flag: 1 when the caller must re-optimise.
void parametric_objective_loop(int32_t& flag);

}  // namespace kl

#endif
