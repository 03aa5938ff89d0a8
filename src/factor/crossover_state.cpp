#include "factor/crossover_state.h"

namespace kl {

int32_t crossover_mode = 0;
int32_t crossover_phase = 0;

void reset_crossover_state() {
  crossover_mode = 0;
  crossover_phase = 0;
}

}  // namespace kl
