// Approximate minimum-fill ordering of the reduced graph, optionally under
// group constraints.
//
// Interface summary (callers: the ordering choice after peeling):
//   int64_t order_reduced_graph(r, list_start, factor_index, list_length,
//                               factor_space, &free_entry, group, n_lead,
//                               TFIND, permutation, work);
// - r nodes 1..r; node i's neighbours are factor_index[list_start[i]] ..
//   factor_index[list_start[i] + list_length[i] - 1], symmetric (each edge in
//   both lists), no self loops. The lists are consumed: afterwards starts,
//   lengths and the entries from the lowest list start up to factor_space are
//   scratch.
// - free_entry: in, the first entry after the lists; the room between it and
//   factor_space (inclusive) is elbow room for the elements. Out: the largest
//   entry of factor_index used.
// - group: one value per node (1-based), nullptr or all 0 for no groups; with
//   groups every value is negative and the nodes are released into the
//   degree lists group by group, the most negative value first.
// - n_lead: nodes 1..n_lead are preferred on equal score; TFIND: number of
//   low-degree candidates scored per pivot (0: plain approximate minimum
//   degree).
// - permutation[k] (k = 1..r) is the k-th node eliminated.
// - work: reduced_graph_work_size(r) ints, owned by the caller.
// Returns the fill estimate: r x (fill sum) / (counted pivot weights), 0 when
// nothing was counted; -1 when the elbow room cannot hold a new element even
// after garbage collection (cannot happen when factor_space - free_entry + 1
// is at least r), the permutation is then not valid.
#ifndef KLSOL_BARRIER_ORDERING_MINIMUM_FILL_H
#define KLSOL_BARRIER_ORDERING_MINIMUM_FILL_H

#include <cstdint>

namespace kl {

// Ints of the caller's work block for r nodes.
int64_t reduced_graph_work_size(int32_t node_count);

// mark_limit: the mark flag is reset before it reaches this value; 0 means
// the natural limit 2147483647 - r. Tests lower it to exercise the reset.
int64_t order_reduced_graph(int32_t node_count, int32_t* list_start, int32_t* factor_index,
                            int32_t* list_length, int32_t factor_space, int32_t* free_entry,
                            const int32_t* group, int32_t n_lead, int32_t TFIND,
                            int32_t* permutation, int32_t* work, int32_t mark_limit = 0);

}  // namespace kl

#endif
