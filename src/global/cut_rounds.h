// Cut rounds of the global search: the row-based cut round (covers, MIR,
// GUB covers, aggregated rows, variable-upper-bound cuts, then cliques,
// selection, loading and re-solving), the node cut round that decides
// whether a node gets cuts at all, and the selection of the violated pool
// cuts that enter the LP.
//
// Interface summary (all in namespace kl):
//   generate_node_cuts()                    one cut round at the node just
//                                           solved (node loop); leaves
//                                           cut_rows_changed set when cut
//                                           rows came or went
//   select_active_cuts(mode, n, list, threshold, violated, selected)
//                                           flags the best violated pool
//                                           cuts 0x400 for loadcut mode 1
//   generate_lifted_cover_cuts(...)         the row-based round driver; in
//                                           single mode (single_call 1) one
//                                           pass, no LP work, the stored
//                                           cuts' pool indices go to the
//                                           caller's list
//   separate_row_cover_cut(...)             MIR or lifted cover cut on one
//                                           side of a pure integer row
//   separate_vub_cuts(...)                  two-term cuts on a variable
//                                           upper bound row
//   separate_aggregated_row_cut(...)        MIR / cover cuts on mixed rows,
//                                           aggregating further rows
//   cut_count_limit(spare_rows)             rows select_active_cuts may pick
//
// Every routine saves IFDBG and INOINV, works on internal 1-based indices
// and restores both on every exit. Pool indices in cut_list are internal
// (1-based) records.
#ifndef KLSOL_GLOBAL_CUT_ROUNDS_H
#define KLSOL_GLOBAL_CUT_ROUNDS_H

#include <cstdint>

namespace kl {

// The single-mode target of a separator: the caller's cut type and list.
// Outside single mode (single_call != 1) the list is not touched.
struct CutListTarget {
  int32_t single_call = 0;
  int32_t caller_cut_type = 0;
  int32_t list_capacity = 0;
  int32_t* list_count = nullptr;
  int32_t* cut_list = nullptr;
};

// How the round ended.
enum CoverRoundOutcome : int32_t {
  COVER_ROUND_NORMAL = 0,
  COVER_ROUND_NOT_OPTIMAL = 1,
  COVER_ROUND_INTEGER = 2,
  COVER_ROUND_NO_SPACE = 3,
};

// Bits of the cut_selection word.
enum CutSelectionBits : int32_t {
  SEL_BINARY_KNAPSACK = 0x1,
  SEL_INTEGER_KNAPSACK = 0x2,
  SEL_MIXED_BINARY = 0x4,
  SEL_MIXED_INTEGER = 0x8,
  SEL_VUB = 0x10,
  SEL_CLIQUE = 0x20,
  SEL_MIR = 0x40,
  SEL_COVER = 0x80,
  SEL_AGGREGATE = 0x100,
  SEL_DROP_NONBINDING = 0x200,
  SEL_TOP_CUTS_AGAIN = 0x400,
};

// Rounds of the row-based cut round since the search started (the search
// start-up resets it).
extern int32_t cut_round_counter;

// min(spare_rows, max(50, floor(0.4 x spare_rows))).
int32_t cut_count_limit(int32_t spare_rows);

// mode 0: only the listed records (internal indices); 1: also every record
// flagged 0x200; 2: also every record flagged 0x100. Bound records are
// never selected.
void select_active_cuts(int32_t mode, int32_t n, const int32_t* list, double threshold, int32_t& violated,
                        int32_t& selected);

void generate_node_cuts();

// Whether the cut controls give this node a cut round (top: the node count
// is at most 1); CUTSTRAT and MXCPOL are tested by generate_node_cuts.
bool node_cut_round_due(bool top, int32_t depth);

// cover_method from the selection word: -1 both, 0 lifted cover, 1 MIR,
// -2 neither.
int32_t cover_method_of(int32_t selection);

// Takes every non-binding cut row out of the LP and refactorises when rows
// left; the rows removed.
int32_t drop_nonbinding_cut_rows();
// Re-solves the LP when it has no current solution. False, with outcome
// COVER_ROUND_NOT_OPTIMAL and the node's cut list forgotten, when it did
// not end optimal.
bool resolve_after_cut_rows(int32_t& outcome);

// The lines a cut round prints when it changed the LP: a separating line,
// then the objective, the element count and the cut rows in the LP, each
// with its change since the values given.
void report_round_changes(double objective_before, int32_t elements_before, int32_t cut_rows_before);

void generate_lifted_cover_cuts(int32_t max_aggregation, int32_t single_call, int32_t caller_cut_type,
                                int32_t list_capacity, int32_t& list_count, int32_t* cut_list, int32_t selection,
                                int32_t max_rounds, int32_t& round_number, int32_t& cuts_found,
                                int32_t& vub_cuts_found, int32_t& rows_added, int32_t& rows_removed,
                                int32_t& outcome);

// result: 0 no cut, 1 lifted cover cut stored, 2 MIR cut stored.
void separate_row_cover_cut(int32_t cover_method, int32_t row, int32_t side, int32_t& result,
                            const CutListTarget& target);

// stored: cuts stored for the row. A cut made below the top node rests on
// the node's bounds: it is not flagged a top-node cut (0x100), so it enters
// only the LP of its node and, through the node cut lists, its subtree.
void separate_vub_cuts(int32_t row, int32_t& stored, const CutListTarget& target);

void separate_aggregated_row_cut(int32_t max_aggregation, int32_t cover_method, int32_t aggregate, int32_t row,
                                 int32_t& stored, const CutListTarget& target);

}  // namespace kl

#endif
