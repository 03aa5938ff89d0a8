// Calling the caller's four cut-manager entries (registered by the
// KLDEFINECM*ENTRY exports into cut_manager_entries, search_state.h).
// They sit below the LP driver because KLMINIM/KLMAXIM call CMI and the
// problem readers call CMS.
//
// Interface summary (namespace kl):
//   invoke_cmi_callback(), invoke_cms_callback()  call the entry when enabled
//   invoke_cm_callback(result), invoke_tcm_callback(result)
//       result := the entry's return value when enabled, else unchanged
//   invoke_cmi_if_set()  IFCUTP set: node_cut_lists_in_use := 1, then CMI
//   cut_manager_calls    how often each entry was called (tests, logs)
// The node loop repeats CM (TCM at the top node) while it returns non-zero;
// that loop and when each entry is called belong to the search.
#ifndef KLSOL_PROBLEM_CUT_MANAGER_H
#define KLSOL_PROBLEM_CUT_MANAGER_H

#include <cstdint>

namespace kl {

void invoke_cmi_callback();
void invoke_cms_callback();
void invoke_cm_callback(int32_t& result);
void invoke_tcm_callback(int32_t& result);
void invoke_cmi_if_set();

struct CutManagerCalls {
  int64_t cmi = 0, cm = 0, tcm = 0, cms = 0;
};
extern CutManagerCalls cut_manager_calls;

}  // namespace kl

#endif
