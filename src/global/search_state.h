// What the rest of the library uses of the global search's state before the
// search itself exists: its work files, its user entries and a few marks.
#ifndef KLSOL_GLOBAL_SEARCH_STATE_H
#define KLSOL_GLOBAL_SEARCH_STATE_H

#include <cstdint>
#include <string>

#include "klsol32.h"

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
extern int32_t global_search_started;
extern int32_t search_node_count;

// Closes and deletes the search's open work files unless the save-file
// reader asked to keep them or the current slot has a save buffer.
void delete_global_work_files();
// flag := 1; the four memory marks cleared.
void reset_memory_marks(int32_t& flag);
// Removes the four cut-manager entries; IFCUTP := 0.
void reset_user_callbacks();

}  // namespace kl

#endif
