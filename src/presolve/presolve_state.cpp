#include "presolve/presolve_state.h"

#include "presolve/record_stack.h"

namespace kl {

PresolveState presolve_state;

void reset_presolve_state() {
  presolve_state = PresolveState{};
  clear_presolve_stack();
}

}  // namespace kl
