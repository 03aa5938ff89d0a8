// Explicit minimum-degree ordering of the barrier's ordering graph.
//
// Interface summary (caller: order_normal_matrix):
//   order_minimum_degree(params, dim, graph_start, graph_length, permutation,
//                        var_state, factor_index, n_lead, tfind, work,
//                        reverse_store, reverse_capacity, status, stats)
// - The graph: dim nodes 1..dim; node v's "own" list is
//   factor_index[graph_start[v] .. graph_start[v] + graph_length[v] - 1],
//   every edge stored once (in the list of one of its ends). Entries naming
//   a removed node, the node itself or no node at all count as absent. The
//   lists are consumed: starts, lengths and factor_index from
//   matrix_nz + quad_nz + 1 up to factor_space are scratch afterwards.
// - var_state (node-indexed): below -1 a removed node, left as it is; every
//   other node ends at -1 (eliminated or absorbed).
// - permutation[k], k = 1..dim: the k-th node eliminated; a node absorbed
//   into a supervariable follows its representative; removed nodes come last
//   in increasing number.
// - tfind 0: plain minimum weighted degree. tfind > 0: among up to tfind + 1
//   low-degree candidates the one whose elimination adds the least weighted
//   fill; on equal fill a node within 1..n_lead wins over one beyond it.
// - work: minimum_degree_work_size(dim) ints owned by the caller.
// - reverse_store: reverse_capacity ints owned by the caller, for the
//   reverse adjacency (the nodes whose own list holds a node). The barrier
//   lends 2 x (factor_space - matrix_nz - quad_nz - 1) ints
//   (minimum_degree_reverse_capacity); less only means -2 sooner.
// - status: 0, or BARRIER_SPACE_SHORT (-2) when the own lists (in
//   factor_index up to factor_space) or the reverse store keep fewer than
//   max(var_count, dim) free entries at the start or after a compaction; the
//   permutation is then incomplete. params.pivot_count is not touched.
// - Nothing is allocated; marks are node numbers, never a running stamp, so
//   no counter can wrap.
#ifndef KLSOL_BARRIER_ORDERING_MINIMUM_DEGREE_H
#define KLSOL_BARRIER_ORDERING_MINIMUM_DEGREE_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// What one ordering did, for tests and logs.
struct MinimumDegreeStats {
  int32_t pre_eliminated = 0;      // isolated and degree-one nodes taken before the loop
  int32_t absorbed = 0;            // nodes merged into a supervariable
  int32_t chain_picks = 0;         // pivots taken from the last clique without a search
  int32_t own_compactions = 0;     // compactions of the own lists
  int32_t reverse_compactions = 0; // compactions of the reverse store
  int64_t fill_edges = 0;          // edges added by the eliminations
};

// Ints of the caller's work block for a graph of dim nodes.
int64_t minimum_degree_work_size(int32_t dim);

// The reverse store the barrier's design lends: twice the free part of the
// factor space above the matrix and the quadratic pattern.
int64_t minimum_degree_reverse_capacity(const barrier_params& params);

void order_minimum_degree(barrier_params& params, int32_t dim, int32_t* graph_start,
                          int32_t* graph_length, int32_t* permutation, int32_t* var_state,
                          int32_t* factor_index, int32_t n_lead, int32_t tfind, int32_t* work,
                          int32_t* reverse_store, int64_t reverse_capacity, int32_t& status,
                          MinimumDegreeStats* stats = nullptr);

// The lists of the elimination graph while the ordering runs. Arrays are
// 1-based over the nodes. Storage orders are doubly linked chains that
// follow the places of the lists in their storage.
struct MinimumDegreeLists {
  int32_t* factor_index = nullptr;   // own lists
  int32_t* own_start = nullptr;
  int32_t* own_length = nullptr;
  int32_t* reverse_store = nullptr;  // reverse lists
  int32_t* reverse_start = nullptr;
  int32_t* reverse_count = nullptr;  // the live nodes' var_state
  int32_t* weight = nullptr;         // graph nodes in the supervariable
  int32_t* chain = nullptr;          // next member merged into the node, 0 ends
  int32_t* chain_tail = nullptr;     // last member of the node's chain (itself when alone)
  int32_t* mark = nullptr;
  int32_t* own_prev = nullptr;
  int32_t* own_next = nullptr;
  int32_t own_head = 0;
  int32_t own_tail = 0;
  int32_t* reverse_prev = nullptr;
  int32_t* reverse_next = nullptr;
  int32_t reverse_head = 0;
  int32_t reverse_tail = 0;
};

// Packs the own lists, in storage order, downward from
// matrix_nz + quad_nz + 1, updating their starts. first_free receives the
// entry after the last list; the free room is factor_space - first_free - 1
// and the status becomes -2 when it is below `need`.
void compact_own_lists(const barrier_params& params, MinimumDegreeLists& lists, int32_t need,
                       int32_t& first_free, int32_t& status);

// The supervariable test for a node v whose closed neighbourhood carries
// mark v, and a neighbour u of v; d is v's degree count (own length +
// reverse count). When u's degree count equals d and every node of u's own
// and reverse lists carries mark v, u is absorbed: its chain is linked in
// right after v, its weight added to v's, it is removed from every list that
// names it (the last entry of the list taking its place) and from both
// storage orders, its state becomes -1 and d drops by one. Returns whether u
// was absorbed.
bool absorb_indistinguishable_node(MinimumDegreeLists& lists, int32_t v, int32_t u, int32_t& d);

}  // namespace kl

#endif
