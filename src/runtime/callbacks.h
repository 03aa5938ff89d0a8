// The user entries: functions the host hooks into the library, and the
// invokers the library's own code calls.
#ifndef KLSOL_RUNTIME_CALLBACKS_H
#define KLSOL_RUNTIME_CALLBACKS_H

#include <cstdint>

#include "klsol32.h"

namespace kl {

template <class F>
struct UserEntry {
  F function = nullptr;
  int32_t enabled = 0;
  void set(F f) {
    function = f;
    enabled = f != nullptr ? 1 : 0;
  }
};

struct UserEntries {
  UserEntry<KLOutputEntry> uop;
  UserEntry<KLWideOutputEntry> uopvb;
  UserEntry<KLConsoleEntry> console;
  UserEntry<KLStopEntry> il;
  UserEntry<KLStopEntry> gl;
  UserEntry<KLStopEntry> bl;
  UserEntry<KLNodeCellEntry> usn;
  UserEntry<KLNodeValueEntry> ucn;
  UserEntry<KLNodeCellEntry> upn;
  UserEntry<KLNodeCellEntry> uon;
  UserEntry<KLStopEntry> uin;
  UserEntry<KLStopEntry> uis;
  UserEntry<KLBranchEntityEntry> ucb;
  UserEntry<KLBranchObjectEntry> ube;
  UserEntry<KLBranchSetupEntry> use;
};
extern UserEntries user_entries;

// Removes every entry but UOPVB (start-up).
void reset_user_entries();
void define_console_entry(KLConsoleEntry f);

int32_t has_ube_entry();
int32_t has_uon_entry();
int32_t has_ucb_entry();

void invoke_usn_entry(int32_t& node);
void invoke_ucn_entry(const int32_t& node);
void invoke_upn_entry(int32_t& cell);
int32_t invoke_uon_entry(int32_t& cell);
int32_t invoke_uin_entry();
int32_t invoke_uis_entry();
void invoke_ucb_entry(int32_t& entity, int32_t& direction, double& estimate);
void invoke_ube_entry(int32_t& object, int32_t& priority, double& first_estimate, double& second_estimate,
                      double& value, int32_t& direction, int32_t& extra_count, double& extra_degradation,
                      int32_t& branch_count);
void invoke_use_entry(const int32_t& p, const int32_t& q, const int32_t& r, const double& d);
void invoke_il_entry(int32_t& stop);
void invoke_gl_entry(int32_t& stop);
void invoke_bl_entry(int32_t& stop);

}  // namespace kl

#endif
