#include "barrier/ordering/minimum_degree.h"

namespace kl {

int64_t minimum_degree_work_size(int32_t dim) { return 18 * (static_cast<int64_t>(dim) + 2); }

int64_t minimum_degree_reverse_capacity(const barrier_params& params) {
  const int64_t free_part = static_cast<int64_t>(params.factor_space) - params.matrix_nz -
                            params.quad_nz - 1;
  return free_part > 0 ? 2 * free_part : 0;
}

void order_minimum_degree(barrier_params& /*params*/, int32_t /*dim*/, int32_t* /*graph_start*/,
                          int32_t* /*graph_length*/, int32_t* /*permutation*/,
                          int32_t* /*var_state*/, int32_t* /*factor_index*/, int32_t /*n_lead*/,
                          int32_t /*tfind*/, int32_t* /*work*/, int32_t* /*reverse_store*/,
                          int64_t /*reverse_capacity*/, int32_t& status,
                          MinimumDegreeStats* /*stats*/) {
  status = BARRIER_SPACE_SHORT;
}

}  // namespace kl
