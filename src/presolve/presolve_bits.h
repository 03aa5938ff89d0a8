// Meanings presolve gives to status and row-type bits while it runs, and the
// row limits every reduction reads.
#ifndef KLSOL_PRESOLVE_PRESOLVE_BITS_H
#define KLSOL_PRESOLVE_PRESOLVE_BITS_H

#include <cstdint>

#include "problem/store.h"

namespace kl {

// Column status bits (pos_status) with a presolve meaning.
inline constexpr int32_t kImpliedLowerFinite = 0x800;   // search_lower is part of the finite sums
inline constexpr int32_t kImpliedUpperFinite = 0x8000;  // search_upper likewise
inline constexpr int32_t kDualLowerSetter = 0x2000;     // set a row's dual lower bound
inline constexpr int32_t kDualUpperSetter = 0x4000;     // set a row's dual upper bound
inline constexpr int32_t kSingletonMark = 0x10000;      // exactly one live row
inline constexpr int32_t kKeepOrQuadratic = PS_PROTECTED | PS_QUADRATIC;
// A row removed by presolve.
inline constexpr int32_t kRowRemoved = PS_FREE;

// Row-type flags added while presolve runs.
inline constexpr int32_t kRowExamine = static_cast<int32_t>(RF_WORKING);
inline constexpr int32_t kRowEquality = 0x1000;
inline constexpr int32_t kRowDualUpperInfinite = 0x2000;
inline constexpr int32_t kRowDualLowerInfinite = 0x4000;
inline constexpr int32_t kRowElimination = static_cast<int32_t>(RF_ELIMINATION);

// IPSLCT switches.
inline constexpr int32_t kSelectColumnSingletons = 0x1;
inline constexpr int32_t kSelectSingletonRows = 0x2;
inline constexpr int32_t kSelectForcingRows = 0x4;
inline constexpr int32_t kSelectDual = 0x8;
inline constexpr int32_t kSelectEmptyRows = 0x10;
inline constexpr int32_t kSelectZeroReducedCost = 0x80;
inline constexpr int32_t kSelectNoEntitySweeps = 0x200;
inline constexpr int32_t kSelectEntityRound = 0x400;

// Row limits of row i from its status, its slack's upper bound (the range)
// and right-hand side b: the activity lies in [lower, upper].
struct RowLimits {
  bool has_upper = false;
  bool has_lower = false;
  double upper = kInfinity;
  double lower = -kInfinity;
};
inline RowLimits row_limits(int32_t status, double b, double range) {
  RowLimits limits;
  if ((status & PS_FINITE_LOWER) != 0) {
    limits.has_upper = true;
    limits.upper = b;
  }
  if ((status & PS_FINITE_UPPER) != 0) {
    limits.has_lower = true;
    limits.lower = (status & PS_FINITE_LOWER) != 0 ? b - range : b;
  }
  return limits;
}

// A row given up by presolve: its slack free, its status marked.
void remove_presolve_row(int32_t row);

// The objective terms of a quadratic column fixed at v: its diagonal goes to
// the objective constant, its other entries to the costs of their columns.
void add_fixed_quadratic_terms(int32_t column, double v);

}  // namespace kl

#endif
