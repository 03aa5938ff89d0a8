// The invert: a sparse LU of the basis named by basis_header, written into
// the eta file (basis.h) as diagonal and L column etas and a unit upper-
// triangular U. Slack columns and column and row singletons are taken first;
// the rest by a Markowitz search with a relative threshold test. A singular
// basis is repaired by putting slacks in, the eta file grows when it runs
// out of room, and the factor is checked by the residual of the basic
// solution, refactorising with a stricter threshold when it is too large.
#ifndef KLSOL_FACTOR_INVERT_H
#define KLSOL_FACTOR_INVERT_H

#include <cstdint>

#include "factor/basis.h"

namespace kl {

// Residual measures below this accept the factor.
inline constexpr double kResidualAcceptance = 1e-8;
// Residuals up to this are measured relative to the largest basic value.
inline constexpr double kRelativeResidualLimit = 1e-5;
inline constexpr double kResidualValueOffset = 0.001;
// Threshold ladder: up to the first step u becomes 0.15, up to the second
// 0.2; above the second the factor is accepted whatever its residual.
inline constexpr double kThresholdStep1 = 0.0100000001;
inline constexpr double kThresholdStep2 = 0.1500000002;
inline constexpr double kRaisedThreshold1Stored = 0.1500000001;
inline constexpr double kRaisedThreshold2 = 0.2;
// Smallest magnitude a pivot of the Markowitz search may have.
inline constexpr double kMinimumPivot = 1e-7;
// Candidates the Markowitz search examines before it takes the best so far.
inline constexpr int32_t kMarkowitzCandidates = 4;
// ITRLOG value that asks for a forced iteration log line after each invert.
inline constexpr int32_t kForcedLogItrlog = 6318472;

// Factorises the current basis. On success problem flag 0x200 is set; on
// failure it is clear and the status word is 4 (no memory for the LU arrays)
// or 32 (eta file full and cannot grow, message 102).
void invert_basis(InvertReason reason = InvertReason::kFactorInvalid);

// Basic values with the new factor (compute_basic_values) and the residual
// measure of B x_B against the right-hand side.
void compute_basic_solution(double& measure);

// The threshold ladder: accept a measure below 1e-8 (a measure that is not
// a number counts as too large); otherwise raise u to just above 0.15, then
// to 0.2, and accept whatever the residual once u is above the second step.
enum class ResidualVerdict { kAccept, kRaiseThreshold };
ResidualVerdict judge_residual(double measure, double u, double& raised_threshold);

// Messages 103, 104 and 105.
void report_invert_statistics();

}  // namespace kl

#endif
