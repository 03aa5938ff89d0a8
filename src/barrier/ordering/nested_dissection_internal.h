// The working state of one nested dissection and the routines that act on
// the current piece: coarsening and projection, bisection and refinement,
// vertex separators. Only the dissection's own files include this.
#ifndef KLSOL_BARRIER_ORDERING_NESTED_DISSECTION_INTERNAL_H
#define KLSOL_BARRIER_ORDERING_NESTED_DISSECTION_INTERNAL_H

#include <cstdint>

namespace kl {

inline constexpr double kDissectionBalance = 0.75;
inline constexpr int32_t kMaxCoarseLevels = 96;
// Ratio of a separator whose bisection left a side empty.
inline constexpr double kEmptySideRatio = 214748364.0;
// Non-improving separator moves after which a refinement pass ends.
inline constexpr int32_t kSeparatorMoveLimit = 100;

// Everything is 1-based. Graph entries are numbered relative to the first
// list: g[k] and ew[k] are factor_index and edge_weight of the same entry.
struct DissectionState {
  int32_t r = 0;
  int32_t* g = nullptr;      // list entries
  int32_t* ew = nullptr;     // edge weights (and restore lengths after coarse lists)
  int32_t* start = nullptr;  // current list start of every node
  int32_t* wlen = nullptr;   // current (working) list length
  int32_t limit = 0;         // last entry coarse graphs and scratch may use
  int32_t top = 0;           // first free entry above the lists in use

  int32_t* weight = nullptr;  // node weight
  int32_t* side = nullptr;    // 0, 1, or -1 in the separator
  int32_t* internal = nullptr;
  int32_t* external = nullptr;
  int32_t* stamp = nullptr;
  int32_t stamp_now = 0;
  int32_t stamp_limit = 0;
  int32_t* match = nullptr;   // representative of a node absorbed by coarsening
  int32_t* level = nullptr;   // level at which a node was absorbed (0: never)
  int32_t* label = nullptr;

  // The current piece and its copies.
  int32_t* piece = nullptr;
  int32_t piece_count = 0;
  int32_t* coarse_piece = nullptr;  // the coarsest piece, for the trials
  int32_t coarse_count = 0;
  int32_t coarse_levels = 0;
  int32_t* absorbed = nullptr;      // nodes absorbed, level after level
  int32_t absorbed_count = 0;
  int32_t level_absorbed[kMaxCoarseLevels + 1] = {};  // first absorbed entry of each level
  int32_t level_top[kMaxCoarseLevels + 1] = {};       // first free entry before each level
  int32_t levels = 0;
  int32_t piece_size = 0;  // nodes of the piece before coarsening

  // Saved views for the trials (the coarsest graph) and the best states.
  int32_t* top_start = nullptr;
  int32_t* top_len = nullptr;
  int32_t* top_weight = nullptr;
  int32_t* best_side = nullptr;

  // Gain buckets of the bisection moves, one head array per side.
  int32_t* bucket_head[2] = {nullptr, nullptr};
  int32_t* bucket_tail[2] = {nullptr, nullptr};
  bool park_zero_moves = false;
  int32_t bucket_bound = 0;
  int32_t bucket_top[2] = {0, 0};
  int32_t* bucket_next = nullptr;
  int32_t* bucket_prev = nullptr;
  int32_t* bucket_key = nullptr;  // -1: in no bucket
  int32_t* move_epoch = nullptr;  // zero-gain moves, and excluded seeds

  int32_t* seed_order = nullptr;  // the trials' seeds, by ascending degree

  // Bipartite graphs of the vertex covers, numbered locally.
  int32_t* local = nullptr;
  int32_t* local_node = nullptr;
  int32_t* local_start = nullptr;
  int32_t* local_len = nullptr;
  int32_t* local_flow = nullptr;
  int32_t* pred_node = nullptr;
  int32_t* pred_entry = nullptr;
  int32_t* queue = nullptr;
  int32_t* scratch = nullptr;
  int32_t* cover = nullptr;      // the last vertex cover found
  int32_t cover_count = 0;
  int32_t* excluded = nullptr;   // seeds the trials no longer take
  int32_t high_top = 0;          // first entry above every coarse graph of the piece

  int64_t side_weight[2] = {0, 0};
  int64_t separator_weight = 0;
  int64_t cut = 0;
  int32_t minsize = 0;
  int32_t epoch = 0;

  int32_t next_stamp();
  int32_t adjacency_weight(int32_t v) const;
  void compute_edge_weights(int32_t v);
  void compute_all_edge_weights();
  void sum_side_weights();
  void move_separator_to_front();
  // Separator weight over the product of the side weights; `empty` when a
  // side is empty.
  double ratio(double empty) const;
};

// Coarsening and projection.
bool coarsen_graph_level(DissectionState& s);
void project_partition_level(DissectionState& s);
void save_coarsest_graph(DissectionState& s);
void restore_coarsest_graph(DissectionState& s);

// Bisection.
void choose_initial_bisection(DissectionState& s, int32_t trials);
void grow_bisection(DissectionState& s, int32_t seed);
void refine_bisection(DissectionState& s);
void dissolve_separator(DissectionState& s);

// Separators.
void weighted_separator_cover(DissectionState& s);
void separator_from_cut(DissectionState& s);
void refine_separator(DissectionState& s);
bool improve_separator_side(DissectionState& s, int32_t from_side);

}  // namespace kl

#endif
