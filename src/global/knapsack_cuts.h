// Separators over one knapsack given as item arrays: complemented MIR cuts
// (mir_cut.cpp), lifted cover cuts on an integer knapsack with exact lifting
// by a bounded table (cover_cut.cpp), and GUB cover cuts on a binary
// knapsack row whose columns overlap set rows (gub_cover_cut.cpp).
//
// Interface summary (all in namespace kl; item arrays are 0-based, n entries,
// in item order; outputs by reference):
//   separate_mir_cut(n, has_continuous, b, a, x, u, s, result, cut_rhs,
//                    cut_coefs, continuous_factor, efficacy,
//                    candidates, complement_marks, keys)
//       knapsack sum a_j x_j <= b (+ s), 0 <= x_j <= u_j; result 1: cut
//       sum c_j x_j - continuous_factor * s <= cut_rhs in the caller's items.
//       b, a, x are changed while it runs and restored on return.
//   mir_cut_for_divisor(n, has_continuous, b, a, x, u, s, divisor, status,
//                       cut_rhs, cut_coefs, continuous_factor, efficacy)
//       status 1 efficacy > 1e-4, 0 below, -1 no cut for this divisor.
//   separate_general_cover(n, b, columns, a, x, u, s, result, cut_rhs,
//                          cut_coefs, continuous_coef, efficacy,
//                          order, table, keys, item_class, ordering_flag)
//       a_j >= 0, u_j <= 20; result 1 cut sum alpha_j x_j <= cut_rhs +
//       continuous_coef * s, 0 none, -1 the table limit was hit.
//       columns: signed column positions, read only for the reduced costs
//       when ordering_flag is 0 (1: items are no LP columns).
//   lift_cover_by_knapsack_dp(...)    the lifting of one cover (tests)
//   build_knapsack_dp_table(K, T, a_j, u_j, alpha_j, overflow)
//   rank_in_dp_table(K, T, w)         f(w), the largest coefficient sum
//                                     reachable with weight at most w
//   keep_dp_table_monotone(K, T)      after a table is extended by hand
//   separate_row_gub_cover_cut(row, side, result, single_call,
//                              caller_cut_type, list_capacity, list_count,
//                              cut_list)
//       one side of a GUB knapsack row (class 0x20000); stores the cut
//       through storecut; result 1 when the pool gained a cut.
//   prepare_cut_row(...), separate_gub_cover(...)   its two halves
//   store_separated_cut(...)          storecut of one "L" cut on positions,
//                                     record flags and the single-mode list,
//                                     as every row separator stores its cut
// Tables T are 1-based (T[1..K]); pass a block of kKnapsackTableSize + 1
// reals. Work arrays are sized n (kKnapsackItemCapacity at most).
// State read: the reduced costs (id 42) for the lifting order (cover with
// ordering_flag 0; GUB groups at 1 or 0); the GUB row separator also reads
// the row copy (ids 35-37), the set-row classes 0x8000 / 0x80000 of the
// row_type words, pos_status, lp values (id 58), rhs and bounds, and the
// node count. Message 381 when a lifting fails its consistency checks.
#ifndef KLSOL_GLOBAL_KNAPSACK_CUTS_H
#define KLSOL_GLOBAL_KNAPSACK_CUTS_H

#include <cstdint>

namespace kl {

// A row carrying a class bit has at most this many elements, so the item
// arrays of a row separator never need a length test.
inline constexpr int32_t kKnapsackItemCapacity = 30000;
// Entries of a lifting table; the table never grows past it.
inline constexpr int32_t kKnapsackTableSize = 10000;
// Items with a larger range are refused by the lifted cover separator.
inline constexpr double kCoverMaxRange = 20.0;
// A cut is reported only when its efficacy is strictly above this.
inline constexpr double kMinCutEfficacy = 1e-4;

// Results of the cover separators.
enum KnapsackCutResult : int32_t {
  KNAPSACK_TABLE_FULL = -1,
  KNAPSACK_NO_CUT = 0,
  KNAPSACK_CUT_FOUND = 1,
};

// Status of one MIR divisor trial.
enum MirDivisorStatus : int32_t {
  MIR_DIVISOR_FAILED = -1,
  MIR_BELOW_EFFICACY = 0,
  MIR_CUT_EFFICACIOUS = 1,
};

// ---- MIR cuts on one knapsack ----
void separate_mir_cut(int32_t n, int32_t has_continuous, double& b, double* a, double* x, const double* u, double s,
                      int32_t& result, double& cut_rhs, double* cut_coefs, double& continuous_factor,
                      double& efficacy, int32_t* candidates, int32_t* complement_marks, double* keys);

void mir_cut_for_divisor(int32_t n, int32_t has_continuous, double b, const double* a, const double* x,
                         const double* u, double s, double divisor, int32_t& status, double& cut_rhs,
                         double* cut_coefs, double& continuous_factor, double& efficacy);

// ---- Lifted cover cuts on an integer knapsack ----
void separate_general_cover(int32_t n, double b, const int32_t* columns, const double* a, const double* x,
                            const double* u, double s, int32_t& result, double& cut_rhs, double* cut_coefs,
                            double& continuous_coef, double& efficacy, int32_t* order, double* table, double* keys,
                            int32_t* item_class, int32_t ordering_flag);

// Lifts the cover order[0 .. c-1]; order[c .. c0-1] are the other
// fractional items, then c1 items at their bound (already taken out of
// b_fixed), then c2 items at zero. cut_coefs is indexed by item.
void lift_cover_by_knapsack_dp(int32_t n, double b_fixed, const double* a, const double* x, const double* u,
                               double s, const int32_t* order, int32_t c, int32_t c0, int32_t c1, int32_t c2,
                               int32_t& result, double& cut_rhs, double* cut_coefs, double& continuous_coef,
                               double& efficacy, double* table);

// Adds one item (up to trunc(u_j) copies of weight a_j and coefficient
// trunc(alpha_j)) to T[1..K]. overflow := 1 and the table unchanged when K
// would pass kKnapsackTableSize.
void build_knapsack_dp_table(int32_t& table_size, double* table, double weight, double range, double coef,
                             int32_t& overflow);

// Least weights per sum never decrease with the sum; rounding in the sums
// could break that by an ulp, so each entry is lowered to the next one's
// (which only makes f larger, the safe side) and f can bisect.
void keep_dp_table_monotone(int32_t table_size, double* table);

double rank_in_dp_table(int32_t table_size, const double* table, double weight);

// ---- GUB cover cuts ----
void separate_row_gub_cover_cut(int32_t row, int32_t side, int32_t& result, int32_t single_call,
                                int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count,
                                int32_t* cut_list);

// Groups the row's unfixed columns by the set rows holding them. members
// (1-based element positions in the row, negative when the column enters
// its set row complemented) are listed group by group; group_starts has
// G + 1 entries (0-based into members). inconsistent := 1 when the members
// placed differ from the marked columns.
void prepare_cut_row(int32_t n, const int32_t* row_columns, int32_t& marked, int32_t& group_count,
                     int32_t* members, int32_t* group_starts, int32_t& inconsistent);

// The knapsack sum w_i x_i <= b, every w_i >= 0 (the row separator
// rewrites its groups so), with at most one member per group at 1;
// columns are signed (negative for a group's slack member), read for the
// reduced costs. Arrays are indexed by item (0 .. n-1), the items of group
// g being group_starts[g] .. group_starts[g+1]-1.
void separate_gub_cover(int32_t group_count, const int32_t* group_starts, int32_t n, double b,
                        const int32_t* columns, double* weights, const double* values, int32_t& result,
                        double& cut_rhs, double* cut_coefs, double& efficacy, int32_t* group_order,
                        double* group_keys, double* table, int32_t* item_flags);

// Stores one cut "sum coefs <= rhs" over column positions (coefficients at
// most ZTOLDA in magnitude dropped) with storecut, no duplicate test, mode
// 1 (single_call == 1: the caller's type and mode 2). When the store
// succeeded, adds record_flags to the record and, in single mode, appends
// its index to cut_list (once, while list_count < list_capacity). Returns
// true when the pool's stored count grew; a cut left without coefficients is
// not stored.
bool store_separated_cut(int32_t count, const int32_t* positions, const double* coefs, double rhs, int32_t cut_type,
                         int32_t record_flags, int32_t single_call, int32_t caller_cut_type, int32_t list_capacity,
                         int32_t& list_count, int32_t* cut_list);

}  // namespace kl

#endif
