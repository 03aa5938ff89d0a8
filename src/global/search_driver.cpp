#include "global/search_driver.h"

#include <cmath>
#include <cstdlib>

#include "factor/simplex_state.h"
#include "global/cut_rows.h"
#include "global/node_bounds.h"
#include "global/node_cut_lists.h"
#include "global/node_loop.h"
#include "global/node_selection.h"
#include "global/node_store.h"
#include "global/probing.h"
#include "global/row_classes.h"
#include "klsol/message_ids.h"
#include "presolve/array_switch.h"
#include "problem/cut_manager.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "runtime/units.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"

namespace kl {

SearchDriverState search;
SearchDriverStats search_stats;

namespace {

// The remainder below which two costs share a step, and the remainder above
// which the Euclidean steps stop.
constexpr double kCommonStepRemainder = 1e-10;
constexpr double kCommonStepStop = 0.001;
constexpr double kSmallestCommonStep = 0.001;
// ADDCUT's start-up value (a single-precision -1e-5).
constexpr float kDefaultAddcut = -1e-5f;

bool int_user_set(int control) { return integer_set_flags[control] != 0; }
bool double_user_set(int control) { return double_set_flags[control] != 0; }

// The step g that every objective coefficient is a multiple of, when only
// integer and binary columns carry costs; 0 when there is none.
double common_cost_step() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const double zteta = dcv(dc::ZTETA);
  double g = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double c = std::fabs(cost[j]);
    // A continuous column without a cost leaves every objective value a
    // sum of integer multiples of the step.
    if ((status[j] & PS_INTEGER_OR_BINARY) == 0) {
      if (c == 0.0) continue;
      return 0.0;
    }
    if (g == 0.0) {
      g = c;
      continue;
    }
    if (c < zteta) continue;
    double a = std::max(g, c);
    double b = std::min(g, c);
    double q = std::trunc(a / b);
    double r = a - q * b;
    while (r > kCommonStepStop) {
      q = std::trunc(b / r);
      const double next = b - q * r;
      b = r;
      r = next;
    }
    if (r > kCommonStepRemainder) return 0.0;
    g = b;
  }
  return g;
}

// ADDCUT from the common step of the costs: with integer costs the next
// solution must improve by at least the step, less the tolerance.
void set_addcut_from_costs() {
  if (double_user_set(dc::ADDCUT)) return;
  // A fresh search starts from the default improvement (or the PERCUT share
  // of the relaxation's objective), never from the step of an earlier
  // problem's costs, which could prune this problem's optimum.
  dcv(dc::ADDCUT) = sense_factor * std::min(static_cast<double>(kDefaultAddcut),
                                            -(dcv(dc::PERCUT) * 0.01 * std::fabs(caller_objective(objval))));
  const double g = common_cost_step();
  const double ztolis = dcv(dc::ZTOLIS);
  if (g > kSmallestCommonStep && ztolis < sense_factor * dcv(dc::ADDCUT) + g)
    dcv(dc::ADDCUT) = -(g - ztolis) * sense_factor;
}

// Entity columns (and set members) lose the "neither bound finite" mark.
void clear_free_marks_of_entities() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  if (!type || !column) return;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = type[e] & ENT_TYPE_MASK;
    if (kind == ENT_SET1 || kind == ENT_SET2) {
      OneBased<int32_t> start = int_array(ARR_SET_START);
      OneBased<int32_t> member = int_array(ARR_SET_MEMBER_COLUMN);
      const int32_t set = column[e];
      for (int32_t m = start[set] + 1; m <= start[set + 1]; ++m) status[member[m]] &= ~PS_FREE;
    } else {
      status[column[e]] &= ~PS_FREE;
    }
  }
}

// A continuation finds the node and cut files open as the search left
// them; a file closed in between (its name kept) is opened again for
// update. False when the node file cannot be had.
bool reopen_search_files() {
  const int64_t lengths[2] = {node_record_bytes, 4};
  for (int k = 0; k < 2; ++k) {
    if (search_work_files.units[k] >= 0) continue;
    if (search_work_files.names[k].empty()) {
      if (k == 0) return false;
      continue;
    }
    int32_t unit = -1, error = 0;
    open_unit_update(search_work_files.names[k].c_str(), unit, lengths[k], error);
    if (error != 0) {
      if (k == 0) return false;
      continue;
    }
    search_work_files.units[k] = unit;
  }
  return true;
}

void emit_with_seconds(int32_t message) {
  begin_message(message);
  insert_message_int(search_elapsed_seconds());
  emit_message();
}

// The closing lines of a search that stopped early, and its best bound: the
// incumbent or the best bound of the nodes still active.
void report_stopped_search() {
  if (solution_count > 0) {
    if (icv(ic::GPRINT) != 0) {
      begin_message(MSG_SEARCH_SOLUTION_COUNT);
      insert_message_int(solution_count);
      emit_message();
    }
    begin_message(MSG_SEARCH_BEST_SOLUTION);
    insert_message_real(caller_objective(dintsl));
    emit_message();
  } else {
    begin_message(MSG_SEARCH_STOPPED_NO_SOLUTION);
    emit_message();
  }
  if (status_code == STATUS_OK) {
    if (icv(ic::MAXNOD) == -1) {
      best_bound = objval;
    } else {
      best_bound = dintsl;
      for (int32_t slot = 1; slot <= active_table.active_count; ++slot)
        if (active_node_id(slot) != 0 && better_objective(active_node_bound(slot), best_bound))
          best_bound = active_node_bound(slot);
    }
  }
  refresh_scaled_cutoff();
  if (better_objective(best_bound, search.scaled_cutoff)) {
    begin_message(MSG_SEARCH_BEST_BOUND);
    insert_message_real(caller_objective(best_bound));
    emit_message();
  }
}

// A finished search: the verdict and the reset of the problem.
void complete_search() {
  if (icv(ic::GPRINT) != 0) {
    begin_message(MSG_SEARCH_COMPLETED);
    insert_message_int(search_elapsed_seconds());
    insert_message_int(node_count);
    emit_message();
  }
  if (solution_count > 0) {
    if (icv(ic::GPRINT) != 0) {
      begin_message(MSG_SEARCH_SOLUTION_COUNT);
      insert_message_int(solution_count);
      emit_message();
    }
    begin_message(MSG_SEARCH_BEST_SOLUTION);
    insert_message_real(caller_objective(dintsl));
    emit_message();
    best_bound = dintsl;
  } else {
    begin_message(MSG_SEARCH_NO_SOLUTION);
    emit_message();
  }
  if (mip_status == MIP_RUNNING_NO_SOLUTION) mip_status = MIP_FINISHED_NO_SOLUTION;
  if (mip_status == MIP_RUNNING_WITH_SOLUTION) mip_status = MIP_FINISHED_WITH_SOLUTION;
  reset_global_search(1);
}

// The root: solved once, then filed twice (before and after its solve);
// neither record is an active node. Returns the stop code (0: go on to the
// node loop), or kComplete when the root ends the search.
constexpr int32_t kComplete = 100;
constexpr int32_t kEndDriver = 101;

int32_t solve_root() {
  pack_node();
  const bool recursion = (problem_flags & PF_CLOCK_STARTED) != 0;
  // The root is solved by successive LP too, from the typed values it
  // holds now: the file must hold them before its solve reads it back.
  if (recursion) {
    write_rec_file();
    if (status_code != STATUS_OK) return kEndDriver;
  }
  int32_t cut_off = 0;
  solve_node(cut_off);
  if (status_code != STATUS_OK) return -NODE_STOP_RESTORE_ERROR;
  if (icv(ic::MAXNOD) == -1) return NODE_STOP_NODE_LIMIT;
  if (cut_off == 0 && lp_status == LP_OPTIMAL) {
    best_bound = objval;
    if (node_cut_lists_in_use != 0 && active_table.current_slot != 0)
      node_header.second_cut_list = active_node_cut_list(active_table.current_slot);
    root_cut_count = cut_row_count;
    set_node_record_size();
    if (status_code != STATUS_OK) return kEndDriver;
    node_cut_lists_in_use = 1;
    if (recursion) {
      // Every node starts its passes from the root's fixed point.
      write_rec_file();
      if (status_code != STATUS_OK) return kEndDriver;
    }
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) pack_node();
      NodeHeader image = read_image_header();
      image.node_id = 0;
      image.depth = 0;
      image.degradation = 0.0;
      image.bound = objval;
      write_image_header(image);
      store_active_node(0);
      if (status_code != STATUS_OK) return -NODE_STOP_STORE_ERROR;
    }
    return NODE_STOP_NONE;
  }
  if (cut_off == 0 && lp_status == LP_UNFINISHED) {
    ++node_count;
    return -NODE_STOP_INTERRUPTED;
  }
  return kComplete;
}

}  // namespace

const char* node_stop_text(int32_t code) {
  switch (std::abs(code)) {
    case NODE_STOP_NONE: return "dive ended";
    case NODE_STOP_INTERRUPTED: return "stopped";
    case NODE_STOP_UNBOUNDED: return "unbounded node";
    case NODE_STOP_NODE_LIMIT: return "node limit";
    case NODE_STOP_SOLUTION_LIMIT: return "solution limit";
    case NODE_STOP_SOLUTION_RETURN: return "return at a solution";
    case NODE_STOP_RESTORE_ERROR: return "error restoring or solving a node";
    case NODE_STOP_STORE_ERROR: return "error in branching, output or node storage";
    default: return "stopped";
  }
}

double caller_objective(double internal) {
  const double scale = dcv(kObjectiveScaleSlot);
  return scale != 0.0 ? internal / scale : internal;
}

void start_search_clock(int32_t flag) {
  (void)flag;
  search.clock_start = clock_hundredths();
  start_clock();
}

int32_t search_elapsed_seconds() { return (clock_hundredths() - search.clock_start) / 100; }

void clear_global_counters() { search.stop_flag = 0; }

void start_global_search(int32_t mode) {
  restore_node_cuts_hook = restore_current_node_cuts;
  if (mode == 1) {
    if (!double_user_set(dc::CUTOFF)) dcv(dc::CUTOFF) = sense_factor * kDefaultCutoff;
    set_addcut_from_costs();
  }
  refresh_scaled_cutoff();
  node_header.node_id = 0;
  direct_child_flag = -1;
  search.log_line_counter = 1;
  if (mode == 0 && node_count >= 1 && !reopen_search_files()) {
    begin_message(MSG_SEARCH_NODE_FILE_REOPEN);
    emit_message();
    status_code = STATUS_REPORTED;
    return;
  }
  clear_free_marks_of_entities();
  if (mode == 0) return;

  seed_random();
  int32_t error = 0;
  preprocess_mip_rows(error);
  if (error == 0) {
    if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
    alloc_global_arrays(error);
  }
  if (error != 0) {
    set_message_mode(0);
    begin_message(MSG_ARRAY_NO_MEMORY);
    insert_message_int(error);
    emit_message();
    status_code = STATUS_REPORTED;
    return;
  }
  int32_t flag = 0;
  reset_memory_marks(flag);
  OneBased<int32_t> stamps = int_array(ARR_SCALE_WORK);
  if (stamps)
    for (int32_t p = 1; p <= nseq; ++p) stamps[p] = 0;

  lp_status = 0;
  mip_status = MIP_RUNNING_NO_SOLUTION;
  global_search_started = 1;
  search.pending_fractional_count = 0;
  search.branched_fractional_count = 0;
  node_cut_list_state.current_cut_list = 0;
  dcv(dc::PSTCST) = std::fabs(objval) * 10.0 + 1.0;
  search.dive_state = 3;
  search.pending_work = 0;
  dintsl = sense_factor * kNoIncumbent;
  search.first_child_open = 1;
  search.second_child_open = 1;
  start_node_cut_lists();
  reset_active_table();
  active_table.current_slot = 2;
  search.list_selection_count = 0;
  search.node_cutoff_value = search.scaled_cutoff;
  search.stop_flag = 0;
  node_depth = 0;
  node_count = 0;
  solution_count = 0;
  last_solution_node = 0;
  active_node_count = 0;
  node_header = NodeHeader{};
  fixed_entity_constant = 0.0;
}

namespace {

void global_search_driver() {
  bool infeasible_by_probing = false;
  if (global_search_started == 0) {
    start_global_search(1);
    if (status_code == STATUS_OK && (icv(ic::IFINTP) & kIfintpProbing) != 0) {
      probe_binaries();
      infeasible_by_probing = lp_status == LP_INFEASIBLE;
    }
  } else {
    start_global_search(0);
  }
  if (status_code != STATUS_OK) {
    if (node_cut_lists_in_use != 0) invoke_cms_callback();
    return;
  }

  int32_t code = NODE_STOP_NONE;
  enum class Next { kLoop, kSelect, kDispatch, kComplete, kFinal, kEnd };
  Next next = Next::kLoop;
  if (infeasible_by_probing) {
    // No integer point satisfies the rows: the root is infeasible.
    next = Next::kComplete;
  } else if (node_count == 0) {
    code = solve_root();
    if (code == kComplete) {
      next = Next::kComplete;
    } else if (code == kEndDriver) {
      next = Next::kEnd;
    } else if (code != NODE_STOP_NONE) {
      next = Next::kDispatch;
    }
  }
  if (next == Next::kLoop) {
    clear_global_counters();
    if (node_count != 0) {
      // A continuation: every pending node was filed when the search
      // stopped, so it goes on from the table.
      if (icv(ic::MAXSOL) != 0 && solution_count >= icv(ic::MAXSOL)) {
        code = NODE_STOP_SOLUTION_LIMIT;
        next = Next::kDispatch;
      } else {
        next = Next::kSelect;
      }
    }
  }

  for (;;) {
    if (next == Next::kLoop) {
      search.node_in_process = 1;
      branch_and_bound_loop(code);
      search.node_in_process = 0;
      search.last_stop_code = code;
      next = code == NODE_STOP_NONE ? Next::kSelect : Next::kDispatch;
    }
    if (next == Next::kSelect) {
      if (node_count >= icv(ic::MAXNOD)) {
        code = NODE_STOP_NODE_LIMIT;
        next = Next::kDispatch;
      } else {
        select_active_node();
        if (status_code != STATUS_OK) {
          next = Next::kFinal;
        } else if (active_table.current_slot == 0) {
          next = Next::kComplete;
        } else {
          const int32_t slot = active_table.current_slot;
          // The slot is free again at once; its record stays in the node
          // file until it is read.
          set_active_node_next_free(slot, active_table.free_head);
          active_table.free_head = slot;
          take_active_node();
          if (status_code != STATUS_OK) {
            problem_state = kSearchStoppedState;
            next = Next::kFinal;
          } else {
            next = Next::kLoop;
            continue;
          }
        }
      }
    }
    if (next == Next::kDispatch) {
      switch (std::abs(code)) {
        case NODE_STOP_UNBOUNDED:
          begin_message(MSG_NODE_NOT_SOLVABLE);
          emit_message();
          return;
        case NODE_STOP_SOLUTION_RETURN:
          return;
        case NODE_STOP_NODE_LIMIT:
          if (icv(ic::GPRINT) != 0) emit_with_seconds(MSG_SEARCH_NODE_LIMIT);
          problem_state = kSearchStoppedState;
          break;
        case NODE_STOP_SOLUTION_LIMIT:
          emit_with_seconds(MSG_SEARCH_SOLUTION_LIMIT);
          problem_state = kSearchStoppedState;
          break;
        case NODE_STOP_RESTORE_ERROR:
          problem_state = kSearchStoppedState;
          break;
        case NODE_STOP_STORE_ERROR:
          break;
        default:
          if (icv(ic::GPRINT) != 0) emit_with_seconds(MSG_SEARCH_INTERRUPTED);
          problem_state = kSearchStoppedState;
          break;
      }
      next = Next::kFinal;
    }
    if (next == Next::kComplete) {
      complete_search();
      break;
    }
    if (next == Next::kFinal) {
      report_stopped_search();
      break;
    }
    if (next == Next::kEnd) return;
  }
  if (node_cut_lists_in_use != 0) invoke_cms_callback();
}

}  // namespace

void run_global_search() {
  if (!int_user_set(ic::IQUIET)) icv(ic::IQUIET) = 1;
  if (!int_user_set(ic::INOINV)) icv(ic::INOINV) = 1;
  const int32_t ifmem = icv(ic::IFMEM);
  icv(ic::IFMEM) |= kIfmemInCallBit;
  direct_child_flag = 0;
  recount_active_nodes();
  global_search_driver();
  icv(ic::IFMEM) = ifmem;
  if (!int_user_set(ic::IQUIET)) icv(ic::IQUIET) = 0;
}

namespace {

bool search_possible() { return has_ube_entry() != 0 || original_problem.nglent != 0; }

void finish_entry() {
  if (icv(ic::IFPMSG) > 0) end_of_call();
  set_fpu_mode(0);
}

}  // namespace

void run_global_command() {
  begin_body();
  if (problem_state <= 0) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  set_fpu_mode(1);
  if (!search_possible()) {
    finish_entry();
    return;
  }
  if (global_search_started == 0 &&
      (status_letter != kLetterOptimal || (problem_flags & PF_PRESOLVED_LP) != 0)) {
    report_plain_error(MSG_LAST_LP_NOT_FINISHED);
    if (!int_user_set(ic::IQUIET)) icv(ic::IQUIET) = 0;
    finish_entry();
    return;
  }
  problem_flags |= PF_SEARCH_RUNNING;
  status_code = STATUS_OK;
  start_search_clock(1);
  if (status_code == STATUS_OK) run_global_search();
  finish_entry();
}

void run_global_if_lp_solved() {
  begin_body();
  if (problem_state < 1) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  problem_flags |= PF_SEARCH_RUNNING;
  status_code = STATUS_OK;
  start_search_clock(1);
  if (status_code == STATUS_OK && (global_search_started != 0 || lp_status == LP_OPTIMAL)) run_global_search();
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

void run_global_unconditionally() {
  begin_body();
  if (problem_state < 1) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  problem_flags |= PF_SEARCH_RUNNING;
  status_code = STATUS_OK;
  start_search_clock(1);
  if (status_code == STATUS_OK) run_global_search();
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

void reset_global_search(int32_t mode) {
  if (problem_state < 0) return;
  // KLINIGLOBAL without a search that filed its root has nothing to undo.
  if (mode == 0 && global_search_started == 0 && node_count == 0 && search_work_files.units[0] < 0) return;
  // A load since the search started leaves nothing of it to put back.
  const bool probed_problem_current = global_search_started != 0;
  active_table.current_slot = 1;
  active_node_count = 0;
  direct_child_flag = 0;
  global_search_started = 0;
  node_cut_list_state.current_cut_list = 0;
  if (cut_row_count > 0) {
    remove_all_cut_rows();
    build_column_copy();
  }
  problem_state = kSearchResetState;
  root_cut_count = 0;
  if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
  if (node_count > 0 && search_work_files.units[0] >= 0) {
    node_cut_lists_in_use = 0;
    read_node_record();
    if (status_code == STATUS_OK) unpack_node();
    node_cut_lists_in_use = 1;
  }
  node_header.branch_entity = 0;
  if (status_code == STATUS_OK) restore_node_bounds();
  undo_probing_fixings(probed_problem_current);
  problem_flags &= ~(PF_SEARCH_RUNNING | PF_FACTOR_VALID);
  delete_global_work_files();
  // The typed values a successive-LP search kept for its nodes go too.
  if ((problem_flags & PF_KEEP_SEARCH_FILES) == 0) delete_rec_file();
  node_cut_lists_in_use = 0;
}

void delete_node(int32_t node, int32_t mode) {
  status_code = STATUS_OK;
  error_number = 0;
  const auto unknown = [&]() {
    begin_message(MSG_SEARCH_NODE_UNKNOWN);
    insert_message_int(node);
    emit_message();
    error_number = MSG_SEARCH_NODE_UNKNOWN;
    error_value = node;
    status_code = STATUS_REPORTED;
  };
  if ((problem_flags & PF_SEARCH_RUNNING) == 0) {
    unknown();
    return;
  }
  bool found = false;
  for (int32_t slot = 1; slot <= active_table.active_count; ++slot) {
    const int32_t id = active_node_id(slot);
    if (id == 0 || std::abs(id) != node) continue;
    found = true;
    if (mode == 1)
      set_active_node_id(slot, 0);
    else if (id > 0)
      set_active_node_id(slot, -id);
  }
  // The node being processed goes by its number in the log (the node count,
  // which its children will carry) or by the pair it was taken from.
  if (search.node_in_process != 0 &&
      (node == node_count || node == search.current_node_number || node == node_header.node_number)) {
    if (mode == 1) search.first_child_open = 0;
    search.second_child_open = 0;
    // The flags only steer the next dive decision; the node itself must
    // not make children either.
    if (mode == 1 && node == node_count) search.deleted_node = node_count;
    found = true;
  }
  if (!found) unknown();
}

}  // namespace kl
