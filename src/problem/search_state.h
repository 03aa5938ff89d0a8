// What the rest of the library uses of the global search's state before the
// search itself exists: its work files, its user entries and a few marks.
#ifndef KLSOL_PROBLEM_SEARCH_STATE_H
#define KLSOL_PROBLEM_SEARCH_STATE_H

#include <cstdint>
#include <string>

#include "klsol32.h"
#include "runtime/controls.h"

namespace kl {

struct SearchWorkFiles {
  int32_t units[2] = {-1, -1};  // the node file and the cut-list file
  std::string names[2];
};
extern SearchWorkFiles search_work_files;

// The four cut-manager entries and their enable flags.
struct CutManagerEntries {
  KLCutNotifyEntry cmi = nullptr;
  KLCutManagerEntry cm = nullptr;
  KLCutManagerEntry tcm = nullptr;
  KLCutNotifyEntry cms = nullptr;
  int32_t cmi_enabled = 0, cm_enabled = 0, tcm_enabled = 0, cms_enabled = 0;
};
extern CutManagerEntries cut_manager_entries;

extern int32_t memory_marks[4];
// 1 once a search has started; every load and copy of a problem clears it.
extern int32_t global_search_started;
// The nodes the search has solved: problem attribute 1013.
inline int32_t& search_node_count = integer_attributes[13];
// Rows marked as model cuts (KLMODELCUTS, the directives file); a row
// marked twice counts twice.
extern int32_t model_cut_count;

// The search's counters and the cut-pool counts: one block of 52 words that
// a slot's save buffer keeps whole, so every count here follows its problem.
struct SearchRecord {
  // Cut pool: cuts held, element slots used (1..pool_elements_used), first
  // free record (0 when none), saved-bound records taken from the top of the
  // record table, and branching bound records.
  int32_t stored_cut_count = 0;
  int32_t pool_elements_used = 0;
  int32_t pool_free_head = 0;
  int32_t saved_bound_count = 0;
  int32_t branch_bound_count = 0;
  // Cut rows added to, deleted from and loaded into the LP since the node
  // loop last cleared them.
  int32_t cut_rows_added = 0;
  int32_t cut_rows_deleted = 0;
  int32_t cut_rows_loaded = 0;
  // Entities of type 3 (binary), set by the set-up after a load and by the
  // column type changes.
  int32_t binary_count = 0;
  // Entities of type 2 or 3 (count_binary_entities).
  int32_t binary_entity_count = 0;
  // Byte length of one stored node: a 68-byte header, 2 bits per binary,
  // two words per other entity, 2 bits per position of the basis, rounded
  // up to a multiple of 8.
  int32_t node_record_bytes = 0;
  // Node records that cover 8 bytes per entity slot (nglent + NGXTRA).
  int32_t node_records_per_entity_block = 0;
  int32_t reserved[40] = {};
};
static_assert(sizeof(SearchRecord) == 52 * sizeof(int32_t), "the search record is saved as 52 words");
extern SearchRecord search_record;

inline int32_t& binary_count = search_record.binary_count;
inline int32_t& node_record_bytes = search_record.node_record_bytes;
inline int32_t& node_records_per_entity_block = search_record.node_records_per_entity_block;

// Positive while the next node may reuse the present factorisation; 0 or
// less forces a fresh one (chgbds clears it whenever it is given bounds).
extern int32_t node_factor_reusable;

// Node cut lists (global/node_cut_lists.h). node_cut_lists_in_use: the
// lists are kept and the cut file is open; set by invoke_cmi_if_set and
// once a root is solved, read by the loaders before they drop a problem.
extern int32_t node_cut_lists_in_use;
// Cut rows in the LP once the root was solved: their statuses travel in the
// node records, those of later rows in the lists.
extern int32_t root_cut_count;
struct NodeCutListState {
  // Reference of the list the LP's cut rows came from or were written to;
  // 0 none; -1 the cut rows match no list any more.
  int32_t current_cut_list = 0;
  // Record of the cut file where the next list goes (from 1).
  int32_t cut_file_next = 1;
  // Set when the LP's cut rows changed at this node beyond what its list
  // holds (cut rounds, callbacks), so the next branching writes a list.
  int32_t cut_rows_changed = 0;
};
extern NodeCutListState node_cut_list_state;

// Closes and deletes the search's open work files unless the save-file
// reader asked to keep them or the current slot has a save buffer.
void delete_global_work_files();
// flag := 1; the four memory marks cleared.
void reset_memory_marks(int32_t& flag);
// Removes the four cut-manager entries; IFCUTP := 0.
void reset_user_callbacks();

}  // namespace kl

#endif
