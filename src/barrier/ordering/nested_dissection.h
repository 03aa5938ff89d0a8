// Multilevel nested dissection of the reduced graph: labels each node with
// the group (vertex separator or leaf piece) it belongs to; the constrained
// approximate minimum-fill ordering then orders the nodes group by group.
//
// Interface summary (callers: the ordering choice after peeling):
//   order_nested_dissection(r, list_start, factor_index, list_length,
//                           first_entry, factor_space, edge_weight, label,
//                           work);
// - r nodes 1..r with symmetric lists (list_start, list_length) in
//   factor_index, absolute entry numbers, all inside first_entry ..
//   factor_space. The lists keep their sets (entries may be reordered);
//   list_start and list_length are as they came in on return.
// - Coarse graphs stack up in factor_index after the end of the lists; the
//   top 2r entries of factor_index and of edge_weight serve as work arrays,
//   so the lists must end below factor_space - 2r.
// - edge_weight: int array paired with factor_index from first_entry on:
//   edge_weight[k] belongs to factor_index[first_entry + k - 1], k = 1 ..
//   factor_space - first_entry + 1 (allocate one more for the unused [0]).
// - label[i] (output, 1..r): 0 for every node when the graph is not dissected
//   (too small, or the lists do not end below factor_space - 2r); otherwise
//   negative group numbers -1, -2, ... in the order the groups are found.
//   Groups found later lie deeper in the dissection and are eliminated first.
// - work: nested_dissection_work_size(r) ints, owned by the caller.
// There is no status: a graph that does not fit simply gets labels 0.
//
// The routines of the dissection (coarsening, bisection, separators) are
// declared in nested_dissection_internal.h.
#ifndef KLSOL_BARRIER_ORDERING_NESTED_DISSECTION_H
#define KLSOL_BARRIER_ORDERING_NESTED_DISSECTION_H

#include <cstdint>

namespace kl {

// Ints of the caller's work block for r nodes.
int64_t nested_dissection_work_size(int32_t node_count);

// stamp_limit: visit stamps are reset before they reach this value; 0 means
// the natural limit 2147483647 - 2r. Tests lower it to exercise the reset.
void order_nested_dissection(int32_t node_count, int32_t* list_start, int32_t* factor_index,
                             const int32_t* list_length, int32_t first_entry,
                             int32_t factor_space, int32_t* edge_weight, int32_t* label,
                             int32_t* work, int32_t stamp_limit = 0);

}  // namespace kl

#endif
