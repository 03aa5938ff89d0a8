// Registration of the user entries. These work before start-up too: only
// the wide output entry survives it, so a host that wants the banner
// registers that one first.
#include "problem/search_state.h"
#include "klsol32.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"

namespace {

template <class F>
int32_t define_cut_manager_entry(F& slot, int32_t& enabled, F f) {
  slot = f;
  enabled = f != nullptr ? 1 : 0;
  if (f != nullptr) kl::icv(kl::ic::IFCUTP) = 1;
  return 0;
}

}  // namespace

extern "C" {

KLAPI int32_t KLDEFINEUOPENTRY(KLOutputEntry f) { return kl::user_entries.uop.set(f), 0; }
KLAPI int32_t KLDEFINEUOPVBENTRY(KLWideOutputEntry f) { return kl::user_entries.uopvb.set(f), 0; }
KLAPI int32_t KLDEFINEILENTRY(KLStopEntry f) { return kl::user_entries.il.set(f), 0; }
KLAPI int32_t KLDEFINEGLENTRY(KLStopEntry f) { return kl::user_entries.gl.set(f), 0; }
KLAPI int32_t KLDEFINEBLENTRY(KLStopEntry f) { return kl::user_entries.bl.set(f), 0; }
KLAPI int32_t KLDEFINEUSNENTRY(KLNodeCellEntry f) { return kl::user_entries.usn.set(f), 0; }
KLAPI int32_t KLDEFINEUCNENTRY(KLNodeValueEntry f) { return kl::user_entries.ucn.set(f), 0; }
KLAPI int32_t KLDEFINEUPNENTRY(KLNodeCellEntry f) { return kl::user_entries.upn.set(f), 0; }
KLAPI int32_t KLDEFINEUONENTRY(KLNodeCellEntry f) { return kl::user_entries.uon.set(f), 0; }
KLAPI int32_t KLDEFINEUINENTRY(KLStopEntry f) { return kl::user_entries.uin.set(f), 0; }
KLAPI int32_t KLDEFINEUISENTRY(KLStopEntry f) { return kl::user_entries.uis.set(f), 0; }
KLAPI int32_t KLDEFINEUCBENTRY(KLBranchEntityEntry f) { return kl::user_entries.ucb.set(f), 0; }
KLAPI int32_t KLDEFINEUBEENTRY(KLBranchObjectEntry f) { return kl::user_entries.ube.set(f), 0; }
KLAPI int32_t KLDEFINEUSEENTRY(KLBranchSetupEntry f) { return kl::user_entries.use.set(f), 0; }

// The cut-manager entries: defining one switches the search's callback loop
// on (IFCUTP); removing one leaves it on.
KLAPI int32_t KLDEFINECMIENTRY(KLCutNotifyEntry f) {
  return define_cut_manager_entry(kl::cut_manager_entries.cmi, kl::cut_manager_entries.cmi_enabled, f);
}
KLAPI int32_t KLDEFINECMENTRY(KLCutManagerEntry f) {
  return define_cut_manager_entry(kl::cut_manager_entries.cm, kl::cut_manager_entries.cm_enabled, f);
}
KLAPI int32_t KLDEFINETCMENTRY(KLCutManagerEntry f) {
  return define_cut_manager_entry(kl::cut_manager_entries.tcm, kl::cut_manager_entries.tcm_enabled, f);
}
KLAPI int32_t KLDEFINECMSENTRY(KLCutNotifyEntry f) {
  return define_cut_manager_entry(kl::cut_manager_entries.cms, kl::cut_manager_entries.cms_enabled, f);
}

}  // extern "C"
