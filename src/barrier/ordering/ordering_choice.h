// The choice of fill-reducing ordering for the barrier's ordering graph, and
// the peeling that precedes the two expensive orderings.
//
// The graph: `dim` nodes 1..dim; node v's list is
// factor_index[graph_start[v] .. graph_start[v] + graph_length[v] - 1],
// each edge stored once (in the list of one end), lists above
// `matrix_nz` + `quad_nz`; the room up to `factor_space` is elbow room for
// the orderings. `n_lead` leading nodes are structural columns (preferred on
// ties). The result is a permutation of all dim nodes: entry k is the node
// eliminated k-th.
//
// Small graphs (fewer than 750 active nodes) and the augmented path
// (`n_lead` > 0) with `ORDERING` 0, and `ORDERING` 2, use the explicit
// minimum-degree ordering. Otherwise isolated nodes and chains of degree-one
// nodes are peeled off to the front, very dense nodes are set aside at the
// back, and the reduced graph is ordered by approximate minimum fill
// (`ORDERING` 1) or nested dissection (`ORDERING` 3), `ORDERING` 0 choosing
// by density and average degree and comparing the two orders' estimates.
#ifndef KLSOL_BARRIER_ORDERING_ORDERING_CHOICE_H
#define KLSOL_BARRIER_ORDERING_ORDERING_CHOICE_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// Ints of the `work` array of order_normal_matrix for a graph of dim nodes:
// its own per-node arrays, the work of the orderings it calls and the edge
// weights that the dissection pairs with factor_index (factor_space + 2).
int64_t ordering_work_ints(const barrier_params& params, int32_t dim);

// The ordering methods, as `ORDERING` names them and as the choice reports
// them (the last_method argument).
enum OrderingMethod : int32_t {
  ORDERING_METHOD_PEELING_ONLY = 0,       // every node placed by peeling
  ORDERING_METHOD_MINIMUM_FILL = 1,       // approximate minimum fill on the reduced graph
  ORDERING_METHOD_MINIMUM_DEGREE = 2,     // explicit minimum degree on the whole graph
  ORDERING_METHOD_DISSECTION = 3,         // nested dissection, then minimum fill within its groups
  ORDERING_METHOD_DISSECTION_REJECTED = 4 // dissection tried, the unconstrained order kept
};

// Orders the dim nodes of the graph. `var_state` is node-indexed (the
// caller shifts it; states below -1 are removed nodes; the minimum-degree
// ordering turns the states of the nodes it eliminates to -1).
// On success sets `pivot_count` of params to dim and writes
// permutation[1..dim]; status 0, or -2 when the symmetric graph (largest
// list start + 2 x sum of list lengths) does not fit `factor_space` or an
// ordering runs out of room. `last_method` (may be null) receives the
// method that produced the middle part of the order.
void order_normal_matrix(barrier_params& params, int32_t dim, int32_t* graph_start, int32_t* graph_length,
                         int32_t* permutation, int32_t* var_state, int32_t* factor_index, int32_t n_lead,
                         int32_t tfind, int32_t* work, int32_t& status, int32_t* last_method = nullptr);

}  // namespace kl

#endif
