#include "problem/cut_manager.h"

#include "problem/search_state.h"
#include "runtime/controls.h"

namespace kl {

CutManagerCalls cut_manager_calls;

void invoke_cmi_callback() {
  if (cut_manager_entries.cmi_enabled == 0 || cut_manager_entries.cmi == nullptr) return;
  ++cut_manager_calls.cmi;
  cut_manager_entries.cmi();
}

void invoke_cms_callback() {
  if (cut_manager_entries.cms_enabled == 0 || cut_manager_entries.cms == nullptr) return;
  ++cut_manager_calls.cms;
  cut_manager_entries.cms();
}

void invoke_cm_callback(int32_t& result) {
  if (cut_manager_entries.cm_enabled == 0 || cut_manager_entries.cm == nullptr) return;
  ++cut_manager_calls.cm;
  result = cut_manager_entries.cm();
}

void invoke_tcm_callback(int32_t& result) {
  if (cut_manager_entries.tcm_enabled == 0 || cut_manager_entries.tcm == nullptr) return;
  ++cut_manager_calls.tcm;
  result = cut_manager_entries.tcm();
}

void invoke_cmi_if_set() {
  if (icv(ic::IFCUTP) == 0) return;
  node_cut_lists_in_use = 1;
  invoke_cmi_callback();
}

}  // namespace kl
