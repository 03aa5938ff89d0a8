// Primal pricing: the choice of the entering variable and the data that make
// the next choice cheap.
//
// Reduced costs: d_j = s c_j + sum_i a_ij y_i for a column, d_i = y_i for the
// slack of row i, with y the BTRAN of the negated basic costs, s the sense
// factor, and the cost term 0 in pure phase 1 (ninf > 0, bigm_mode 0).
//
// Attractiveness, tolerance t = ZTCOST, for a non-basic position with d:
//   at its upper bound (0x4):   attractive when d >= t, decreasing, merit -d;
//   otherwise:                  attractive when d < -t, increasing, merit d;
//     else, held at a value (0x100): attractive when d >= t, decreasing, -d.
// The most negative merit is the most attractive. Masks of positions never
// priced: kRefillMask (also skips listed positions), kPricingMask (full
// pricing, the chain and the incremental updates), kWeightMask.
#ifndef KLSOL_SIMPLEX_PRIMAL_PRICING_H
#define KLSOL_SIMPLEX_PRIMAL_PRICING_H

#include <cstdint>

namespace kl {

inline constexpr uint32_t kRefillMask = 0x872;
inline constexpr uint32_t kPricingMask = 0x83a;
inline constexpr uint32_t kWeightMask = 0x812;

// Candidate list (candidate-list engine). Slots are 1-based. An entry is a
// position, 0 for an emptied slot, or the negated position for a fresh
// refill entry that would decrease (until the next selection makes it
// positive). candidate_merits holds the reduced cost d as last computed (not
// oriented). Every listed position carries 0x40 in pos_status.
inline constexpr int32_t kCandidateListCapacity = 1000;
extern int32_t candidate_list[kCandidateListCapacity + 1];
extern double candidate_merits[kCandidateListCapacity + 1];
extern int32_t candidate_count;
extern int32_t candidate_best;        // slot of the best, 0 none
extern int32_t candidate_list_size;   // target length, at most 499
extern int32_t candidate_sections;    // interleaved sections S >= 1
extern int32_t next_section;          // 1..S: where the next refill starts
extern double near_best_threshold;    // -max(|ZDJDBS d_q|, ZTCOST)
// Running statistics read by tune_pricing_strategy.
extern double sections_fraction;
extern double list_price_average;
extern double list_drop_average;
// Refills since the start of the primal run (the pricing-pass counter).
extern int32_t pricing_pass_count;
// The candidate-list engine re-uses its list without a refill while this
// running density of the dual change (the nonzero share of the terms the
// merit update examined) stays below kNearBestDensity.
inline constexpr double kNearBestDensity = 0.5;

// Weighted pricing: candidate_chain (array 70, nseq + 1 ints, read 0-based)
// links the attractive positions of the last full pricing in increasing
// order: entry 0 holds the first, entry j the successor of j, the last links
// to nseq + 1. The array is allocated with the row lists.
int32_t* candidate_chain();

// Attractiveness of position j with reduced cost d: the oriented merit
// (negative) when attractive, else 0. decreasing := 1 when it would move
// down. free_rule: price_linked_list tests the free bit instead of 0x100.
double oriented_merit(uint32_t status, double d, double t, int32_t& decreasing, bool free_rule = false);

// Every selection sets entering_column (0 none), entering_sign (1 at an
// upper bound), entering_reduced_cost (oriented; raw for a position that may
// move both ways, which the engine orients), entering_upper, dj_check_value
// and nnegdj.

// Candidate list.
// Re-prices the listed positions from the row duals in reduced_costs, keeps
// the attractive ones (front-compacted) and picks the best; it stays listed.
void price_partial_list();
// Appends attractive positions section by section from next_section until
// the list reaches candidate_list_size (or 1000), then selects over the
// whole list, combines with the preceding choice and takes it off the list.
void price_refill_list();
// Empties the least attractive slots beyond candidate_list_size.
void trim_candidate_list();
// Adds the reduced-cost changes of the dual change in the work vector (with
// its list) to the listed merits, drops the unattractive, picks the best.
void update_candidate_merits();
// Best listed entry by its stored merit, taken off the list.
void take_best_candidate();
// The best slot found by update_candidate_merits leaves the list as the
// entering variable (no refill).
void remove_best_candidate();
// Empties the list and clears 0x40 of every listed position.
void empty_candidate_list();

// Weighted pricing: merit / reference weight, the weights (array 41) kept as
// norms. The full pricings take the duals from the work vector (leaving it
// zero), store d of every priced position in reduced_costs and rebuild the
// chain; price_weighted adds (Qx)_j of a quadratic column while feasible.
void price_all_weighted();
void price_weighted();
// Re-tests the chain with the stored reduced costs (free positions may move
// both ways here).
void price_linked_list();
// Incremental updates after a pivot, the dual change in the work vector:
// through the row lists (sparse), the row copy (medium) or every column
// (dense); each updates d and the weights and rebuilds the chain.
void update_prices_by_rows();
void update_prices_by_row_copy();
void update_prices_by_columns();
// entering_weight from the updated entering column in the work vector (N
// rows left out); all weights reset when it is far below the column's own.
void reference_weight();
// Weights only, from the dual change in the work vector.
void update_reference_weights();
// reference_weights := 1 over positions 1..nseq.
void reset_pricing_weights();
// row_weights (array 64) := 1 over the used length of the work vector.
void reset_pricing_weights_alt();

// Work vector := the right-hand side whose BTRAN is the change of the duals
// after the pivot (phase-1 changes of the change list, then the leaving row).
void build_dual_update_rhs();

// Shell sort, ascending, of list[1..count].
void sort_index_list(int32_t* list, int32_t count);

}  // namespace kl

#endif
