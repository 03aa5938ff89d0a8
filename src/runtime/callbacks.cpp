#include "runtime/callbacks.h"

#include "runtime/sink.h"

namespace kl {

UserEntries user_entries;

void reset_user_entries() {
  // The wide output entry survives start-up, so a host working in wide
  // strings can see the banner by registering it before KLINITLZ.
  UserEntry<KLWideOutputEntry> kept = user_entries.uopvb;
  user_entries = UserEntries{};
  user_entries.uopvb = kept;
}

void define_console_entry(KLConsoleEntry f) { user_entries.console.set(f); }

int32_t has_ube_entry() { return user_entries.ube.function != nullptr ? 1 : 0; }
int32_t has_uon_entry() { return user_entries.uon.function != nullptr ? 1 : 0; }
int32_t has_ucb_entry() { return user_entries.ucb.function != nullptr ? 1 : 0; }

void invoke_usn_entry(int32_t& node) {
  if (user_entries.usn.enabled) user_entries.usn.function(&node);
}

void invoke_ucn_entry(const int32_t& node) {
  if (user_entries.ucn.enabled) user_entries.ucn.function(node);
}

void invoke_upn_entry(int32_t& cell) {
  if (user_entries.upn.enabled) user_entries.upn.function(&cell);
}

int32_t invoke_uon_entry(int32_t& cell) {
  if (user_entries.uon.enabled) user_entries.uon.function(&cell);
  return cell;
}

int32_t invoke_uin_entry() { return user_entries.uin.enabled ? user_entries.uin.function() : 0; }

int32_t invoke_uis_entry() { return user_entries.uis.enabled ? user_entries.uis.function() : 0; }

void invoke_ucb_entry(int32_t& entity, int32_t& direction, double& estimate) {
  if (user_entries.ucb.enabled) user_entries.ucb.function(&entity, &direction, &estimate);
}

void invoke_ube_entry(int32_t& object, int32_t& priority, double& first_estimate, double& second_estimate,
                      double& value, int32_t& direction, int32_t& extra_count, double& extra_degradation,
                      int32_t& branch_count) {
  if (user_entries.ube.enabled)
    user_entries.ube.function(&object, &priority, &first_estimate, &second_estimate, &value, &direction,
                              &extra_count, &extra_degradation, &branch_count);
}

void invoke_use_entry(const int32_t& p, const int32_t& q, const int32_t& r, const double& d) {
  if (user_entries.use.enabled) user_entries.use.function(p, q, r, d);
}

namespace {

// The log entries first send the end-of-call signal, so the option log is
// closed and the output callback can flush before the user code runs.
void invoke_stop_entry(const UserEntry<KLStopEntry>& entry, int32_t& stop) {
  if (!entry.enabled) return;
  write_to_sink(nullptr, 0, SINK_END_OF_CALL);
  stop = entry.function();
}

}  // namespace

void invoke_il_entry(int32_t& stop) { invoke_stop_entry(user_entries.il, stop); }

void invoke_gl_entry(int32_t& stop) { invoke_stop_entry(user_entries.gl, stop); }

void invoke_bl_entry(int32_t& stop) {
  stop = 0;
  invoke_stop_entry(user_entries.bl, stop);
}

}  // namespace kl
