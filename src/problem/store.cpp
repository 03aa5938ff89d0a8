#include "problem/store.h"

#include <cstring>

namespace kl {

int32_t problem_state = -1;
StoreScalars store;
OriginalProblem original_problem;

void reset_problem_store() {
  std::memset(integer_attributes, 0, sizeof integer_attributes);
  problem_state = -1;
  lp_status = -1;
  global_status = -1;
  store = StoreScalars{};
  original_problem = OriginalProblem{};
}

}  // namespace kl
