// The cut generators one at a time, for callers outside the node cut round
// (typically the cut-manager callbacks): bodies of KLGENKNPCUT,
// KLGENGOMCUT, KLGENCLQCUT, KLLOADBESTCUT, KLSEPCUT, KLGOMORY and
// KLLIFTCOVERS.
//
// Interface summary (all in namespace kl; pool numbers are records counted
// from 1 whatever IFDBG):
//   generate_knapsack_cut(selection, max_aggregation, type, capacity,
//                         count, list)
//   generate_gomory_cut(type, capacity, count, list)
//   generate_clique_cut(type, capacity, count, list)
//       One separation pass in single mode: every new cut is stored with
//       the caller's type (record flag 0x200) and its pool number listed
//       once while the list has room; count := numbers listed. Nothing is
//       loaded into the LP. They need a current optimal LP solution
//       (message 422 otherwise).
//   load_best_cuts(mode, delete_level, count, list, violated, loaded,
//                  deleted)
//       select_active_cuts over the listed records (mode 1 also those
//       flagged 0x200, mode 2 also 0x100), loads the violated ones chosen,
//       re-solves; delete_level 1 drops non-binding cut rows first, 2 also
//       after the re-solve. Message 418 for a list entry that names no cut.
//   separate_user_knapsack(type, n, a, u, x, b, s, result, coefs, rhs,
//                          continuous)
//       type 1: MIR cut sum c x - continuous s <= rhs; other types: lifted
//       cover cut sum alpha x <= rhs + continuous s. result 1 cut, 0 none,
//       -1 more than 30000 items, -2 a negative weight.
//   run_gomory_export(mode, type, count), run_lift_covers_export(mode,
//                     type, count)
//       mode 1: one pass in single mode, cuts stored with the given type,
//       count := cuts the pool gained. Any other mode: a cut round as at the
//       current node (passes NITGOM / NITCOV at the top node, NTRGOM /
//       NTRCOV in the tree, selection ICSLCT / ITSLCT), cuts loaded and the
//       LP re-solved; count := cuts found.
#ifndef KLSOL_GLOBAL_CUT_GENERATION_H
#define KLSOL_GLOBAL_CUT_GENERATION_H

#include <cstdint>

namespace kl {

inline constexpr int32_t kUserKnapsackItems = 30000;

void generate_knapsack_cut(int32_t selection, int32_t max_aggregation, int32_t type, int32_t capacity,
                           int32_t* count, int32_t* list);
void generate_gomory_cut(int32_t type, int32_t capacity, int32_t* count, int32_t* list);
void generate_clique_cut(int32_t type, int32_t capacity, int32_t* count, int32_t* list);
void load_best_cuts(int32_t mode, int32_t delete_level, int32_t count, const int32_t* list, int32_t* violated,
                    int32_t* loaded, int32_t* deleted);
void separate_user_knapsack(int32_t type, int32_t n, const double* a, const double* u, const double* x, double b,
                            double s, int32_t* result, double* coefs, double* rhs, double* continuous);
void run_gomory_export(int32_t mode, int32_t type, int32_t* count);
void run_lift_covers_export(int32_t mode, int32_t type, int32_t* count);

}  // namespace kl

#endif
