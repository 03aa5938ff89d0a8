// Pivoting by hand: the bodies of KLPIVOT, KLGETPIVOTS and KLGETBASICPIV.
//
// These exports speak of positions, not of row and column numbers: caller
// index k is position k + IFDBG, where positions 1..nrow are the rows'
// slacks and first_col..nseq the columns (first_col = nrow + spare rows + 1).
// The basis header of KLGETBASICPIV uses the same numbering, so its entries
// can be handed to KLPIVOT as they are.
#ifndef KLSOL_SIMPLEX_PIVOT_ACCESS_H
#define KLSOL_SIMPLEX_PIVOT_ACCESS_H

#include <cstdint>

namespace kl {

namespace routine {
inline constexpr const char* kGetpivots = "getpivs ";
inline constexpr const char* kGetbasicpiv = "getbpiv ";
}  // namespace routine

// Counters a test can read.
struct PivotAccessStats {
  int64_t pivots = 0;            // basis changes made by pivot_basis
  int64_t bound_flips = 0;       // bound flips made by pivot_basis
  int64_t refactorisations = 0;  // inverts after a pivot (update limit or full eta file)
  int64_t rollbacks = 0;         // pivots undone after a failed factor update
};
extern PivotAccessStats pivot_access_stats;

// Body of KLPIVOT: the non-basic position entering replaces the basic
// position leaving; leaving equal to entering moves the entering variable to
// its other bound. Errors: 425 when entering is not a non-basic row or
// column position; 426 when leaving is not basic in a row the entering
// column reaches with |alpha| >= ZTOLPV, when a bound flip has no finite
// other bound, when a free variable would have to leave, or when the factor
// cannot take the update (the basis, values and objective are then as they
// were and the factor is refreshed at its next use).
void pivot_basis(int32_t entering, int32_t leaving);

// Body of KLGETPIVOTS: the primal ratio test for the entering position,
// without pivoting. count := the candidates listed: the ratio test's choice
// first (the entering position itself for a bound flip), then the further
// leaving positions whose step lies within the first choice's relaxed
// ratio, at most maximum of them; 0 when the entering variable can move
// without limit. objective := the objective after the first choice's step;
// solution (when not null, nseq values by position, unscaled) := the values
// after that step. list may be null only when maximum < 1.
void get_pivots(int32_t entering, int32_t* list, double* solution, double* objective, int32_t* count, int32_t maximum);

// Body of KLGETBASICPIV: nrow entries, the position basic at each basis
// position, in the caller's base. Error 422 (no message) without a problem
// or after a run that left no basis.
void get_basic_pivots(int32_t* header);

}  // namespace kl

#endif
