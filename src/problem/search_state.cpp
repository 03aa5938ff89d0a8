#include "problem/search_state.h"

#include <cstdio>

#include "problem/slots.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/units.h"

namespace kl {

SearchWorkFiles search_work_files;
CutManagerEntries cut_manager_entries;
int32_t memory_marks[4] = {};
int32_t global_search_started = 0;
int32_t model_cut_count = 0;
SearchRecord search_record;
int32_t node_factor_reusable = 0;
int32_t node_cut_lists_in_use = 0;
int32_t root_cut_count = 0;
NodeCutListState node_cut_list_state;

void delete_global_work_files() {
  if ((problem_flags & PF_KEEP_SEARCH_FILES) != 0) return;
  // With a save buffer the files belong to the problem put aside in the slot.
  if (current_slot >= 1 && current_slot <= kSlotCount && slot_save_buffer[current_slot] != nullptr) return;
  for (int k = 0; k < 2; ++k) {
    if (search_work_files.units[k] < 0) continue;
    int32_t error = 0;
    close_unit(search_work_files.units[k], error);
    remove_file_parts(search_work_files.names[k].c_str());
    search_work_files.units[k] = -1;
    search_work_files.names[k].clear();
  }
}

void reset_memory_marks(int32_t& flag) {
  flag = 1;
  for (int32_t& mark : memory_marks) mark = 0;
}

void reset_user_callbacks() {
  cut_manager_entries = CutManagerEntries{};
  icv(ic::IFCUTP) = 0;
}

}  // namespace kl
