#include "presolve/presolve_state.h"

#include "klsol/message_ids.h"
#include "presolve/record_stack.h"
#include "problem/store.h"
#include "runtime/messages.h"

namespace kl {

PresolveState presolve_state;

void reset_presolve_state() {
  presolve_state = PresolveState{};
  clear_presolve_stack();
  // The progress lines and the dimension words of a problem never presolved
  // describe the problem as it is.
  PresolveCounts& counts = presolve_state.counts;
  counts.rows = nrow;
  counts.last_position = nseq;
  counts.elements = nelem;
  counts.entities = nglent;
  counts.sets = nsets;
  counts.set_members = nsosm;
  presolve_state.presolved_first_col = store.first_col;
  presolve_state.presolved_objective_row = store.objective_row;
}

void print_presolve_progress(int32_t pass, int32_t rows, int32_t columns, int32_t elements, int32_t entities,
                             int32_t sets, int32_t set_members) {
  begin_message(MSG_PRESOLVE_PASS_PROGRESS);
  insert_message_int(pass);
  insert_message_int(rows);
  insert_message_int(columns);
  insert_message_value12(elements);
  insert_message_int(entities);
  insert_message_int(sets);
  insert_message_int(set_members);
  emit_message();
}

}  // namespace kl
