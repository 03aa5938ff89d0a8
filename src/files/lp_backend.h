// The back end of the LP-format reader: per-column bounds, types and limits
// while the sections are read, the parsed rows, sets and quadratic terms
// turned into the arrays the problem store's loaders take, the hand-over in
// the loaders' order, the objective constant and the names.
//
// Everything that could make the store refuse the problem (crossed bounds,
// set members too close together) is checked before the hand-over, so a
// failure there leaves the previously loaded problem in place. The hand-over
// begins with load_row_types, which gives up the loaded problem.
#ifndef KLSOL_FILES_LP_BACKEND_H
#define KLSOL_FILES_LP_BACKEND_H

#include <cstdint>

namespace kl {

// The default upper bound of a column, plus infinity.
inline constexpr double kLpDefaultUpper = 1e20;
// Still infinite for the store, and marks an infinite upper bound that a
// bound statement gave (x >= 0, x <= inf): such a general integer is kept.
inline constexpr double kLpExplicitInfiniteUpper = 1e20 + 1e6;

enum LpBoundKind : int32_t {
  LP_BOUND_LOWER = 0,
  LP_BOUND_UPPER = 1,
  LP_BOUND_FIXED = 2,
  LP_BOUND_BINARY = 3,
  LP_BOUND_FREE = 4,
};

void lp_set_column_bound(int32_t column, double value, int32_t kind);
void lp_alloc_column_arrays();
// 0, 1 when a check before the hand-over failed (nothing changed), or the
// status word when the store refused the problem.
int32_t lp_load_parsed_problem();
void lp_free_reader_storage();

}  // namespace kl

#endif
