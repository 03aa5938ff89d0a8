#include "global/cut_rounds.h"

namespace kl {

void separate_aggregated_row_cut(int32_t, int32_t, int32_t, int32_t, int32_t& stored, const CutListTarget&) {
  stored = 0;
}

}  // namespace kl
