// Node cut lists: for each branching, the pool records of the parent's cut
// rows (with their slack statuses) and the bound records attached to the
// branch, kept in the cut file so that a node taken up later is solved with
// the same cuts.
//
// Interface summary (all in namespace kl; state in search_state.h):
//   start_node_cut_lists()                 fresh search: cut_file_next 1,
//                                          current_cut_list 0, root_cut_count 0
//   bump_cut_references(slot)              at branching; current_cut_list :=
//                                          the children's list (0 none)
//   restore_node_cuts(slot, fixed_constant) the LP's cut rows := the slot's
//                                          list; attached bounds applied
//                                          (fixed_constant += lower x cost of
//                                          every column they fix)
//   release_node_cuts(slot)                a node leaves the table (IFNDCP 0)
//   write_cut_list / read_cut_list         the file layout, for tests
// The slot's list reference is int_array(ARR_NODE_CUT_LIST)[slot] (array 55,
// allocated with the active-node table); the cut file is unit
// search_work_files.units[1] (4-byte records). Read and write failures give
// message 45; restore_node_cuts and bump_cut_references then leave status 2.
//
// Layout of a list at record R (32-bit little-endian ints, one per record):
// R: c cut entries; R+1: b bound entries; then the c cut entries (pool
// record, negated for a slack basic in a row added after the root's cuts
// and kept because IFDELBC is 0); then the bound entries, run-coded: a
// record index r followed by -n stands for r, r-1, ..., r-n.
#ifndef KLSOL_GLOBAL_NODE_CUT_LISTS_H
#define KLSOL_GLOBAL_NODE_CUT_LISTS_H

#include <cstdint>
#include <vector>

namespace kl {

void start_node_cut_lists();

// Pool cuts attached to the branch being made (KLBRANCHCUT): written into
// the children's list by the next bump_cut_references, with their slacks
// basic, whatever IFDELBC says; the branching then takes them away again.
// Bound records attached go to the top of cut_row_list as described above.
extern std::vector<int32_t> pending_branch_cuts;
// Bound records attached at the present node (the last ones counted in
// branch_bound_count).
extern int32_t attached_branch_bounds;
// A node that did not branch leaves its attachments unused: they go before
// the next node's bounds are applied.
void drop_unused_attachments();

// The restore of unpack_node: the current slot's list into the LP.
void restore_current_node_cuts();
void bump_cut_references(int32_t slot);
void restore_node_cuts(int32_t slot, double& fixed_entity_constant);
void release_node_cuts(int32_t slot);

// One list as stored: cut entries and the bound entries as run-coded.
struct CutListEntries {
  std::vector<int32_t> cuts;
  std::vector<int32_t> bounds;
};
// Run-codes bound record indices (an index one below the previous one
// lengthens the run) and expands them again.
std::vector<int32_t> run_code_bounds(const std::vector<int32_t>& records);
std::vector<int32_t> expand_bound_runs(const std::vector<int32_t>& coded);
// Writes a list at cut_file_next (which then moves past it) and returns its
// reference, or 0 after message 45 (status 2). read_cut_list reads the list
// at reference R (bounds too when with_bounds); false after message 45.
int32_t write_cut_list(const CutListEntries& list);
bool read_cut_list(int32_t reference, bool with_bounds, CutListEntries& list);

}  // namespace kl

#endif
