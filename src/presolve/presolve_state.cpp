#include "presolve/presolve_state.h"

#include "presolve/record_stack.h"
#include "problem/store.h"

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

}  // namespace kl
