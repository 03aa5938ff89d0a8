// Convexity of the barrier's quadratic objective.
//
// The barrier's theory holds only for a convex objective: with a matrix Q
// that is not positive semidefinite its iterations can settle on a point
// that is no minimum and call it optimal. `run_barrier` therefore checks the
// quadratic part it has copied in (already in the minimising sense, so a
// maximisation needs -Q of the caller positive semidefinite) before any
// solve, and refuses a non-convex one with status BARRIER_NOT_CONVEX.
//
// The check
// - The columns with quadratic entries fall into the connected blocks of
//   the graph of Q's off-diagonal entries; a column with only a diagonal
//   entry needs that entry >= 0.
// - Each block of at most `dense_limit` columns is eliminated exactly: an
//   L D L' elimination of a dense copy (the lower triangle, block size
//   s(s+1)/2 doubles, taken once for the largest block) with symmetric
//   diagonal pivoting, the largest remaining diagonal first. A remaining
//   diagonal below -tol means Q is not positive semidefinite; once the
//   largest remaining diagonal is at most tol, the rest of the block must
//   be zero: an entry s_ij beyond tol + sqrt(s_ii s_jj) means not PSD.
// - A block above `dense_limit` columns (default kConvexityDenseLimit) is
//   not eliminated: there only the necessary conditions are tested (every
//   diagonal >= -tol and every 2x2 minor q_ii q_jj >= q_ij^2 within
//   tolerance), which every column is tested for in any case, and the
//   result says it is not exact. So is it when the dense copy cannot be
//   taken.
// - tol is kConvexityTolerance times the largest |q|, so that a
//   semidefinite Q with rounding in its entries passes.
//
// Arrays are 1-based, as the driver holds the copy: `quad_diag`[1..n], and
// for column j the off-diagonal entries quad_index/quad_value from
// quad_start[j] to quad_start[j+1]-1, with quad_index a column 1..n (each
// pair listed once, in either triangle; indices outside 1..n are ignored,
// an index equal to j adds to the diagonal).
#ifndef KLSOL_BARRIER_CONVEXITY_H
#define KLSOL_BARRIER_CONVEXITY_H

#include <cstdint>

namespace kl {

inline constexpr int32_t kConvexityDenseLimit = 2000;
inline constexpr double kConvexityTolerance = 1e-9;

struct QuadraticConvexity {
  bool convex = true;
  bool exact = true;        // false: some block had the necessary conditions only
  int32_t column = 0;       // not convex: a column where it showed
  int32_t largest_block = 0;  // columns of the largest connected block
};

QuadraticConvexity check_quadratic_convexity(int32_t n, const double* quad_diag, const int32_t* quad_start,
                                             const int32_t* quad_index, const double* quad_value,
                                             int32_t dense_limit = kConvexityDenseLimit);

}  // namespace kl

#endif
