#include "barrier/barrier_params.h"

#include <cstring>

#include "klsol/message_ids.h"
#include "runtime/messages.h"

namespace kl {

const char* barrier_status_text(int32_t status) {
  switch (status) {
    case BARRIER_LISTS_TOO_LONG: return "factor lists do not fit";
    case BARRIER_NOT_CONVEX: return "quadratic objective not convex";
    case BARRIER_SPACE_SHORT: return "work space too short";
    case BARRIER_GO_ON: return "no verdict";
    case BARRIER_STOPPED: return "stopped without convergence";
    case BARRIER_OPTIMAL: return "optimal";
    case BARRIER_UNBOUNDED: return "unbounded";
    case BARRIER_INFEASIBLE: return "infeasible";
    case BARRIER_ITERATION_LIMIT: return "iteration limit";
    case BARRIER_NUMERICAL_FAILURE: return "numerical failure of the factorisation";
    default: return "unknown barrier status";
  }
}

void set_barrier_defaults(barrier_params& params) {
  // Keep the fields the defaults do not own, take every key from a fresh
  // record.
  barrier_params fresh;
  fresh.col_count = params.col_count;
  fresh.quad_col_count = params.quad_col_count;
  fresh.row_count = params.row_count;
  fresh.var_count = params.var_count;
  fresh.matrix_nz = params.matrix_nz;
  fresh.quad_nz = params.quad_nz;
  fresh.in_place_count = params.in_place_count;
  fresh.pivot_count = params.pivot_count;
  fresh.factor_space = params.factor_space;
  fresh.free_space = params.free_space;
  fresh.l1_block_rows = params.l1_block_rows;
  fresh.iteration_flags = params.iteration_flags;
  fresh.print_word = params.print_word;
  std::memcpy(fresh.message_buffer, params.message_buffer, sizeof fresh.message_buffer);
  params = fresh;
}

void log_barrier_detail(barrier_params& params) {
  if (params.print_word <= 0) return;
  const char* text = params.message_buffer;
  const size_t length = strnlen(text, sizeof params.message_buffer);
  insert_message_chars(text, static_cast<int32_t>(length));
  emit_message();
}

void log_barrier_line(barrier_params& params) {
  params.print_word = -params.print_word;
  log_barrier_detail(params);
  params.print_word = -params.print_word;
}

void report_barrier_space_failure(const barrier_params& params, int32_t status) {
  begin_message(MSG_BARRIER_SPACE_SHORT);
  insert_message_int(status);
  insert_message_int(params.factor_space);
  emit_message();
}

}  // namespace kl
