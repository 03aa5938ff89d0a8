// Clique cuts among the fractional binaries of the current LP solution.
//
// Interface summary (all in namespace kl):
//   generate_clique_cuts(cuts_found, single_call, caller_cut_type,
//                        list_capacity, list_count, cut_list)
//       Builds a conflict graph over the literals x_j / 1 - x_j of the
//       fractional binaries that occur in binary-active rows (row class bit
//       0x100000 of row_type, set at search start), by tentative probing
//       with propagate_bounds; then repeatedly takes the live node of least
//       degree as a centre, finds a maximum-weight clique among its
//       neighbours, widens it by zero-valued literals sharing set rows with
//       every member, and stores sum(literals) <= 1 as a sense L cut of type
//       0x20 (single_call 1: caller_cut_type, storecut mode 2, pool records
//       counted from 1 appended to cut_list while list_count <
//       list_capacity and not listed yet). Record flag 0x200 on each stored
//       cut. cuts_found := cuts stored. Loads nothing into the LP.
//       Probing works in scratch of its own: array 65 (the working costs)
//       is never touched, and lp_status is restored to what it was, so the
//       caller has nothing to clear afterwards (clearing array 65 would
//       wipe working costs the LP still uses).
//   probe_binary_implications, separate_clique_cut, find_clique_components,
//   extend_clique: the steps, exposed for tests (fixed scratch storage,
//   1-based node numbers).
#ifndef KLSOL_GLOBAL_CLIQUE_CUTS_H
#define KLSOL_GLOBAL_CLIQUE_CUTS_H

#include <cstdint>

namespace kl {

inline constexpr int32_t kCliqueMaxNodes = 2000;
inline constexpr int32_t kCliqueConflictRoom = 50000;
inline constexpr int32_t kCliqueMaxSubgraph = 30000;
inline constexpr int32_t kCliqueComplementRoom = 1999;
inline constexpr int32_t kCliqueMaxLiterals = 30000;

void generate_clique_cuts(int32_t& cuts_found, int32_t single_call, int32_t caller_cut_type, int32_t list_capacity,
                          int32_t& list_count, int32_t* cut_list);

// Maximum-weight clique of a subgraph given by its complement lists
// (complement_start[1..n+1], complement_list 1-based node numbers; weights
// 1-based). clique[1..size] in increasing order; it is also the routine's
// mark array and needs n + 1 entries.
void find_clique_components(int32_t n, int32_t complement_entries, const int32_t* complement_start,
                            const int32_t* complement_list, const double* weights, int32_t& size, int32_t* clique,
                            double& weight);

}  // namespace kl

#endif
