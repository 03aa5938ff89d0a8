#include "factor/simplex_state.h"

#include "klsol/message_ids.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

char status_letter = ' ';
int32_t optimise_mode = 0;
int32_t lp_algorithm = kAlgorithmPrimal;

int32_t entering_column = 0;
int32_t entering_sign = 0;
int32_t leaving_row = 0;
int32_t leaving_variable = 0;
int32_t leaving_direction = 0;
int32_t candidate_rejected = 0;
int32_t update_count = 0;

int32_t bigm_mode = 0;
int32_t marks_exist = 0;
int32_t factor_accurate = 1;
int32_t inequality_row_count = 0;
int32_t low_value_count = 0;
int32_t previous_ninf = 0;

InfeasibilityChanges infeasibility_changes;

int32_t shift_active = 0;
int32_t shift_count = 0;
int32_t perturbation_phase = 0;
int32_t stall_count = 0;
int32_t primal_end_flags = 0;

int32_t u_active_entries = 0;
int32_t row_eta_entries = 0;

void clear_infeasibility_changes() { infeasibility_changes.count = 0; }

void record_infeasibility_change(int32_t position, int32_t code) {
  InfeasibilityChanges& list = infeasibility_changes;
  // Once full, the last pair is overwritten: the count stays at the
  // overflow mark, which tells the reader to recompute.
  if (list.count >= kChangeListOverflow) {
    list.items[kChangeListOverflow - 2] = position;
    list.items[kChangeListOverflow - 1] = code;
    return;
  }
  list.items[list.count] = position;
  list.items[list.count + 1] = code;
  list.count += 2;
}

bool fill_rule_refactor_due(int32_t updates) {
  if (factor_accurate == 0 && updates >= kInaccurateFactorUpdates) return true;
  return kRefactorFillFactor * static_cast<int64_t>(u_active_entries) <
         static_cast<int64_t>(updates) * static_cast<int64_t>(row_eta_entries);
}

void report_shift_removal() {
  if (icv(ic::IFMSG) == 0) return;
  if (shift_count != 0) {
    begin_message(MSG_BOUND_SHIFTS_REMOVED);
    insert_message_int(shift_count);
    emit_message();
  }
  if (shift_active != 0) {
    begin_message(MSG_PERTURBATION_REMOVED);
    emit_message();
  }
}

}  // namespace kl
