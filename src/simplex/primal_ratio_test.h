// The primal ratio test: with the transformed entering column in the work
// vector (negated for a decreasing entering variable), how far the entering
// variable may move and which basic variable leaves. Relaxed (Harris-type)
// bounds, passes with a widening pivot tolerance, a long step over phase-1
// breakpoints, rejection of tiny pivots, degenerate-step counting and the
// repair of a negative step.
//
// Outputs: leaving_row (basis position; -1 bound flip; 0 unbounded),
// leaving_variable, leaving_direction, pivot_value (negated when
// entering_sign is 1), step_length, and the figures in ratio_test_report.
#ifndef KLSOL_SIMPLEX_PRIMAL_RATIO_TEST_H
#define KLSOL_SIMPLEX_PRIMAL_RATIO_TEST_H

#include <cstdint>

namespace kl {

// Results of the ratio test.
enum RatioResult : int32_t {
  RATIO_STEP = 0,         // a step was found (leaving_row tells which kind)
  RATIO_SMALL_PIVOT = 9,  // pivot too small: reject the column or refactorise
};

// Pivot threshold factors by update_count.
inline constexpr int32_t kFewUpdates = 1;      // at most: factor 0.01
inline constexpr int32_t kManyUpdates = 75;    // above: factor 10
// Passes before the test gives its last-resort verdict. Every repeated pass
// raises the absolute pivot tolerance past the pivot it refused, so the
// bound is only met when the pivots keep failing.
inline constexpr int32_t kMaxRatioPasses = 32;

// Figures of the last call beyond the shared iteration state.
struct RatioTestReport {
  double pivot_magnitude = 0.0;   // |alpha_r| of the chosen row
  double entering_range = 0.0;    // range of the entering variable in its direction
  double largest_alpha = 0.0;     // largest |alpha_i| met
  int32_t passes = 0;             // passes made
  int32_t long_step = 0;          // 1 when the long step made the choice
  int32_t last_resort = 0;        // 1 when the pass bound forced the verdict
  int32_t negative_step_repairs = 0;  // over the life of the process
};
extern RatioTestReport ratio_test_report;

// The pass bound in force (kMaxRatioPasses; a test may lower it). At the
// last pass the test takes the smallest exact ratio among the breakpoints
// of that pass, or gives the no-row verdict when there are none.
struct RatioTestLimits {
  int32_t max_passes = kMaxRatioPasses;
};
extern RatioTestLimits ratio_test_limits;

// Runs the test on the problem arrays with the free gap of the eta file
// (u_file_end + 1 .. eta_capacity - invert_part_size - 1) for its list.
// entering_upper must be set (ratio_step does it). Returns a RatioResult.
int32_t primal_ratio_test();

}  // namespace kl

#endif
