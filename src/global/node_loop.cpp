#include "global/node_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "factor/simplex_state.h"
#include "factor/starting_basis.h"
#include "problem/factor_arrays.h"
#include "files/solution_file.h"
#include "global/branching.h"
#include "global/cut_rounds.h"
#include "global/cut_rows.h"
#include "problem/cut_pool.h"
#include "global/node_bounds.h"
#include "global/node_cut_lists.h"
#include "global/node_log.h"
#include "global/node_selection.h"
#include "global/node_store.h"
#include "global/propagation.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "presolve/postsolve.h"
#include "problem/cut_manager.h"
#include "problem/cut_store.h"
#include "problem/array_ids.h"
#include "runtime/arrays.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/units.h"
#include "runtime/work_files.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"
#include "simplex/primal_driver.h"
#include "simplex/successive_lp.h"

namespace kl {

namespace {

// Keeps the search clock start and mip_status across a user entry, which
// may run optimisations of its own.
template <class F>
void call_user_entry(F&& f) {
  const int32_t clock = search.clock_start;
  const int32_t status = mip_status;
  f();
  search.clock_start = clock;
  mip_status = status;
}

bool wants_node_lines() {
  const int32_t g = icv(ic::GPRINT);
  return g >= 3 || g < 0;
}

bool wants_solution_lines() {
  const int32_t g = icv(ic::GPRINT);
  return g >= 2 || g < 0;
}

void log_node() {
  int32_t stop = 0;
  print_node_log_line(stop);
  if (stop != 0) search.stop_flag = 1;
}

double column_scale(int32_t status_word) {
  int32_t e = static_cast<int32_t>(static_cast<uint32_t>(status_word) >> 24);
  if (e == 0) e = kScaleBias;
  return std::ldexp(1.0, e - kScaleBias);
}

bool is_presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

// The fractional part test of an integer value.
bool fractional(double x, double tolerance) {
  const double f = x - std::trunc(x);
  const double g = f < 0.0 ? f + 1.0 : f;
  return tolerance < g && g < 1.0 - tolerance;
}

// Rows the caller put into the LP while a branch was being set up belong
// to no branch (the children's LPs come from their lists): out again.
void remove_cut_rows_after(int32_t cut_rows_before) {
  if (cut_row_count <= cut_rows_before) return;
  std::vector<int32_t> added;
  for (int32_t k = cut_rows_before + 1; k <= cut_row_count; ++k) added.push_back(k);  // base 0: from 1
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  delcut(0, 0, 0, -1.0, static_cast<int32_t>(added.size()), added.data());
  icv(ic::IFDBG) = base;
}

// Cut lists of the two children. For an entity both share the list of the
// node's cut rows and whatever the caller attached (KLBRANCHCUT); when
// something was attached, the first child's LP is loaded from that list.
// For the caller's branching object the USE entry attaches cuts and bound
// records to each branch, which then differ only by their lists: the other
// branch's list goes to the second child, the chosen direction's to the
// first, whose cuts and bounds are loaded at once. A branch left without
// attachments would be its parent again and the search could never end:
// that is message 41. An object of fewer than two branches counts as two.
// Returns false after an error.
bool write_children_cut_lists(const BranchChoice& choice) {
  NodeCutListState& state = node_cut_list_state;
  const int32_t slot = active_table.current_slot;
  const bool attached = !pending_branch_cuts.empty() || attached_branch_bounds > 0;
  if (choice.branch_entity <= nglent) {
    bump_cut_references(slot);
    node_header.first_cut_list = state.current_cut_list;
    node_header.second_cut_list = state.current_cut_list;
    state.cut_rows_changed = 0;
    if (attached && status_code == STATUS_OK) {
      pending_branch_cuts.clear();
      attached_branch_bounds = 0;
      direct_child_flag = -1;
      active_node_cut_list(slot) = state.current_cut_list;
      state.current_cut_list = -1;
      restore_current_node_cuts();
    }
    return status_code == STATUS_OK;
  }
  direct_child_flag = -1;
  const int32_t object = choice.branch_entity - nglent - icv(ic::IFDBG);
  const double value = choice.branch_value;
  const int32_t branches = std::max(2, choice.user_branch_count);
  const int32_t direction =
      choice.first_direction >= 0 && choice.first_direction < branches ? choice.first_direction : 0;
  const int32_t cut_rows_before = cut_row_count;
  // What the node had and what the cut manager attached at it go to every
  // branch; each branch adds its own.
  const std::vector<int32_t> shared_cuts = pending_branch_cuts;
  const int32_t shared_bounds = search_record.branch_bound_count;
  const int32_t shared_attached = attached_branch_bounds;
  const auto set_up_branch = [&](int32_t u) {
    state.cut_rows_changed = 1;
    call_user_entry([&] { invoke_use_entry(u, object, u, value); });
    remove_cut_rows_after(cut_rows_before);
    const bool own = pending_branch_cuts.size() > shared_cuts.size() ||
                     search_record.branch_bound_count > shared_bounds;
    if (status_code == STATUS_OK && !own) report_plain_error(MSG_NODE_NOT_SOLVABLE);
    if (status_code == STATUS_OK) bump_cut_references(slot);
    pending_branch_cuts = shared_cuts;
    search_record.branch_bound_count = shared_bounds;
    attached_branch_bounds = shared_attached;
    return status_code == STATUS_OK;
  };
  std::vector<int32_t> others;
  for (int32_t u = 0; u < branches; ++u)
    if (u != direction) others.push_back(u);
  // Beyond a pair, every other branch but the last is filed as a node of
  // its own: a record standing for one child, whose list is the branch's.
  // The pair itself (the chosen direction and the last other branch) goes
  // on as any pair does.
  for (size_t i = 0; i + 1 < others.size(); ++i) {
    if (!set_up_branch(others[i])) return false;
    const NodeHeader pair = node_header;
    const int32_t list = state.current_cut_list;
    ++node_count;
    node_header.node_id = -node_count;
    node_header.second_cut_list = list;
    store_active_node(1);
    const int32_t filed = active_table.current_slot;
    active_table.current_slot = slot;
    node_header = pair;
    if (status_code != STATUS_OK) return false;
    active_node_cut_list(filed) = list;
  }
  if (!set_up_branch(others.back())) return false;
  node_header.second_cut_list = state.current_cut_list;
  if (!set_up_branch(direction)) return false;
  node_header.first_cut_list = state.current_cut_list;
  pending_branch_cuts.clear();
  attached_branch_bounds = 0;
  active_node_cut_list(slot) = state.current_cut_list;
  state.current_cut_list = -1;
  restore_current_node_cuts();
  state.cut_rows_changed = 0;
  return status_code == STATUS_OK;
}

// Copies the branching choice into the node header: the header then stands
// for the pair of children of this node.
void take_branching_choice(const BranchChoice& choice) {
  node_header.fractional_count = choice.fractional_count;
  node_header.degradation = choice.degradation;
  // The record of this node (header and, when it is the image's, the image)
  // stands for its other child only from now on.
  if (node_header.node_id >= 0) {
    const int32_t id = node_header.node_id;
    node_header.node_id = -id;
    NodeHeader image = read_image_header();
    if (image.node_id == id && id != 0) {
      image.node_id = -id;
      write_image_header(image);
    }
  }
  node_header.branch_entity = choice.branch_entity;
  node_header.first_direction = choice.first_direction;
  node_header.branch_value = choice.branch_value;
  node_header.down_limit = choice.down_limit;
  node_header.up_limit = choice.up_limit;
  node_header.set_split_value = choice.set_split_value;
  node_header.depth += 1;
  node_depth = node_header.depth;
  node_header.node_number = std::abs(node_header.node_id);
  node_header.bound = objval;
  node_header.node_id = node_count;
  node_header.up_estimate = choice.up_estimate;
  node_header.down_estimate = choice.down_estimate;
  if (node_cut_lists_in_use != 0) write_children_cut_lists(choice);
}

// pending_work for a node whose solve was interrupted: everything the node
// still stands for, and the image when it holds the node's pair.
int32_t pending_for_unfinished_node() {
  switch (search.dive_state) {
    case 1: return PENDING_IMAGE;
    case 2: return PENDING_IMAGE_AND_SWAPPED_PAIR;
    default: return PENDING_PAIR;
  }
}

// Near the end of each pass of the loop: stores what is pending.
void store_pending_work() {
  const double pseudo = dcv(dc::PSEUDO);
  const auto raise_image_degradation = [&]() {
    NodeHeader h = read_image_header();
    h.degradation += std::fabs(h.up_estimate - h.down_estimate) * pseudo;
    write_image_header(h);
  };
  switch (search.pending_work) {
    case PENDING_IMAGE:
      store_active_node(0);
      break;
    case PENDING_IMAGE_AND_PAIR:
      raise_image_degradation();
      search.dive_state = 2;
      store_active_node(0);
      if (status_code == STATUS_OK) store_active_node(1);
      break;
    case PENDING_OTHER_CHILD:
      raise_image_degradation();
      store_active_node(0);
      break;
    case PENDING_IMAGE_AND_SWAPPED_PAIR:
      store_active_node(0);
      if (status_code == STATUS_OK) store_active_node(1);
      break;
    case PENDING_PAIR:
      store_active_node(1);
      break;
    default:
      break;
  }
  search.pending_work = PENDING_NOTHING;
}

// An integer-feasible optimal node: the new incumbent when it is better than
// the one there is (the cut-off, the target and the solution file follow the
// incumbent only, never a worse solution). Returns false on an error
// status (code -7).
bool record_integer_solution(bool& recorded) {
  node_header.node_number = std::abs(node_header.node_id);
  const bool improves = solution_count == 0 || better_objective(objval, dintsl);
  recorded = improves;
  if (!improves) {
    ++search_stats.integer_solutions_not_better;
    if (wants_node_lines()) log_node();
    return true;
  }
  const double scale = dcv(kObjectiveScaleSlot) != 0.0 ? dcv(kObjectiveScaleSlot) : 1.0;
  search.scaled_cutoff = objval + dcv(dc::ADDCUT) * scale;
  search.scaled_target = search.scaled_cutoff;
  dcv(dc::CUTOFF) = search.scaled_cutoff / scale;
  dcv(dc::OBJTAR) = dcv(dc::CUTOFF);
  lp_driver.search_cutoff = search.scaled_cutoff;
  mip_status = MIP_RUNNING_WITH_SOLUTION;
  if (icv(ic::GPRINT) >= 2) {
    begin_message(MSG_INTEGER_SOLUTION_FOUND);
    insert_message_int(search_elapsed_seconds());
    emit_message();
  }
  dintsl = objval;
  ++solution_count;
  ++search_stats.integer_solutions_recorded;
  last_solution_node = node_count;
  if (wants_solution_lines()) log_node();

  if (solution_count >= 2) {
    write_solution_copy();
    if (status_code != STATUS_OK) return false;
  }
  if ((icv(ic::IFMEM) & kIfmemNoSolutionFileBit) == 0) {
    if (is_presolved()) {
      // The file is written in the original problem's terms; the search
      // goes on with the presolved arrays whatever IFMEM says.
      const int32_t no_basis = (problem_flags & PF_NO_BASIS) != 0 || nqelem > 0 ? 1 : 0;
      read_original_solution([] { write_solution_file(SOLUTION_AS_LEFT); }, no_basis);
    } else {
      reinvert_and_recompute();
      write_solution_file(SOLUTION_RECOMPUTED);
    }
    if (status_code != STATUS_OK) return false;
  }
  call_user_entry([] { invoke_uis_entry(); });
  return true;
}

// The leaf step: an infeasible or cut-off node. False on an error status.
bool drop_node() {
  node_header.node_number = std::abs(node_header.node_id);
  if (wants_node_lines()) log_node();
  call_user_entry([] { invoke_uin_entry(); });
  if (node_cut_lists_in_use != 0 && active_table.current_slot != 0) {
    release_node_cuts(active_table.current_slot);
    if (status_code != STATUS_OK) return false;
  }
  return true;
}

// A search started by successive LP (option r) solves every node the same
// way: from the typed values of the root, an optimum of the node's matrix,
// then the passes to their fixed point.
void solve_node_by_recursion() {
  if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
  free_factor_arrays();
  const int32_t ifmem = icv(ic::IFMEM);
  // The node's LP is solved as it stands: a presolve would renumber the
  // search's problem under it.
  const int32_t ifpres = icv(ic::IFPRES);
  problem_flags &= ~PF_SEARCH_RUNNING;
  icv(ic::IFMEM) |= kIfmemNoSolutionFileBit;
  icv(ic::IFPRES) = 0;
  const auto restore = [&] {
    problem_flags |= PF_SEARCH_RUNNING;
    icv(ic::IFMEM) = ifmem;
    icv(ic::IFPRES) = ifpres;
  };
  read_rec_file();
  if (status_code != STATUS_OK) {
    restore();
    return;
  }
  optimise_lp(sense_factor < 0.0 ? OPT_MAXIMISE : OPT_MINIMISE);
  problem_flags |= PF_SEARCH_RUNNING;
  icv(ic::IFMEM) = ifmem;
  if (status_code == STATUS_OK && lp_status == LP_OPTIMAL) recurse_problem();
  restore();
}

}  // namespace

std::string solution_copy_name(int32_t k) {
  std::string name = make_work_file_name("sol");
  // Decimal suffixes: so0 .. so9, so10, so11 ...
  if (name.size() >= 3) name.resize(name.size() - 3);
  const bool upper = !name.empty() && name.back() == '.' && make_work_file_name("sol").back() == 'L';
  name += upper ? "SO" : "so";
  name += std::to_string(k);
  return name;
}

void write_solution_copy() {
  const int32_t keep = icv(ic::IPKEEP);
  if (keep < 2) return;
  const std::string source = make_work_file_name("sol");
  int32_t in = -1;
  int32_t error = 0;
  open_unit_read_bytes(source.c_str(), in, error);
  if (error != 0) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  const int32_t d = (solution_count - 2) % (keep - 1);
  const std::string target = solution_copy_name(d);
  int32_t out = -1;
  create_unit_bytes(target.c_str(), out, error);
  if (error != 0) {
    int32_t ignored = 0;
    close_unit(in, ignored);
    report_plain_error(MSG_SOLUTION_FILE_ERROR);
    return;
  }
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    int32_t read_error = 0;
    read_unit_bytes(in, buffer.data(), static_cast<int64_t>(buffer.size()), read_error);
    int64_t n = static_cast<int64_t>(buffer.size());
    if (read_error < 0) n = -static_cast<int64_t>(read_error);
    if (read_error > 0) {
      error = 1;
      break;
    }
    if (n > 0) {
      int32_t write_error = 0;
      write_unit_bytes(out, buffer.data(), n, write_error);
      if (write_error != 0) {
        error = 1;
        break;
      }
    }
    if (read_error != 0 || n < static_cast<int64_t>(buffer.size())) break;
  }
  int32_t ignored = 0;
  close_unit(in, ignored);
  close_unit(out, ignored);
  if (error != 0) report_plain_error(MSG_SOLUTION_FILE_ERROR);
}

void set_nonbasic_values() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  if ((problem_flags & PF_FACTOR_VALID) == 0) {
    const double ztolze = dcv(dc::ZTOLZE);
    for (int32_t j = store.first_col; j <= nseq; ++j)
      if ((status[j] & PS_ENTITY) != 0 && std::fabs(x[j]) < ztolze) x[j] = 0.0;
    return;
  }
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t i = 1; i <= nrow; ++i) x[header[i]] = values[i];
  for (int32_t p = 1; p <= nseq; ++p) {
    if (p > nrow && p < store.first_col) continue;
    const int32_t s = status[p];
    if ((s & PS_BASIC) != 0 || (s & PS_NONBASIC_BETWEEN) != 0) continue;
    if (p <= nrow) {
      x[p] = (s & PS_AT_UPPER) != 0 ? upper[p] : lower[p];
      if ((s & PS_AT_UPPER) == 0 && (s & PS_FINITE_LOWER) == 0) x[p] = 0.0;
    } else {
      x[p] = (s & PS_AT_UPPER) != 0 ? upper[p] : lower[p];
    }
  }
}

void measure_integer_infeasibilities() {
  set_nonbasic_values();
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> x = real_array(ARR_X);
  const double ztolis = dcv(dc::ZTOLIS);
  const double ztolze = dcv(dc::ZTOLZE);
  int32_t count = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t word = type[e];
    const int32_t kind = word & ENT_TYPE_MASK;
    if (kind == ENT_SET1 || kind == ENT_SET2) {
      OneBased<int32_t> start = int_array(ARR_SET_START);
      OneBased<int32_t> member = int_array(ARR_SET_MEMBER_COLUMN);
      const int32_t set = column[e];
      int32_t first = 0, last = 0;
      for (int32_t m = start[set] + 1; m <= start[set + 1]; ++m) {
        const int32_t p = member[m];
        if (std::fabs(x[p] * column_scale(status[p])) <= ztolis) continue;
        if (first == 0) first = m;
        last = m;
      }
      if (first != 0 && last - first > (kind == ENT_SET1 ? 0 : 1)) ++count;
      continue;
    }
    const int32_t p = column[e];
    const double v = x[p];
    switch (kind) {
      case ENT_SEMICONTINUOUS: {
        int32_t exponent = static_cast<int32_t>(static_cast<uint32_t>(status[p]) >> 24);
        if (exponent == 0) exponent = kScaleBias;
        const double t = std::max(ztolis * std::ldexp(1.0, kScaleBias - exponent), 2.0 * ztolze);
        const double limit = real_array(ARR_SEMICONT_LIMIT)[e];
        if (t < v && v < limit - t) ++count;
        break;
      }
      case ENT_BINARY:
        if (ztolis < v && v < 1.0 - ztolis) ++count;
        break;
      case ENT_PARTIAL_INTEGER:
        if (v < static_cast<double>(word >> 4) && fractional(v, ztolis)) ++count;
        break;
      default:
        if (fractional(v, ztolis)) ++count;
        break;
    }
  }
  search.fractional_count = count;
  search.fractional_entity_count = count;
}

// The changed-column list of the node's propagation: room for every
// position twice over, so that it never runs out.
std::vector<int32_t>& changed_columns() {
  static std::vector<int32_t> list;
  const std::size_t room = static_cast<std::size_t>(2 * nseq) + 2;
  if (list.size() < room) list.assign(room, 0);
  return list;
}

// Propagates the fixings of the first count entries of the changed-column
// list for good (IFINTP bit 2); lp_status 2 when the node is infeasible.
void propagate_node_fixings(int32_t count) {
  if ((icv(ic::IFINTP) & kIfintpPropagation) == 0 || count == 0) return;
  std::vector<int32_t>& list = changed_columns();
  int32_t fixed = 0, unused = 0, overflow = 0;
  propagate_bounds(list.data(), static_cast<int32_t>(list.size()), count, PROPAGATE_PERMANENT, fixed, unused,
                   overflow);
}

void fix_by_reduced_cost() {
  if (nqelem > 0 || store.objective_row == 0) return;
  refresh_scaled_cutoff();
  if (kInfinity * sense_factor * sense_factor <= search.scaled_cutoff * sense_factor) return;
  // One unit throughout: the cut-off, objval and the reduced costs are all
  // in the internal objective units.
  const double gap = (search.scaled_cutoff - objval) * sense_factor;
  if (!(gap >= 0.0)) return;
  reinvert_and_recompute();
  if ((problem_flags & PF_FACTOR_VALID) == 0) return;
  clear_mark_bits();
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  // A margin for the rounding of the reduced costs: a fixing must never cut
  // off a solution better than the cut-off.
  const double margin = 1e-9 * std::max(1.0, std::fabs(objval));
  int32_t fixed = 0;
  std::vector<int32_t>& list = changed_columns();
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & PS_BINARY) == 0) continue;
    if ((s & (PS_BASIC | PS_FIXED | PS_MARK | PS_SEARCH_FIXED | PS_NONBASIC_BETWEEN)) != 0) continue;
    const double range = upper[j] - lower[j];
    if (!(range > 0.0)) continue;
    double value = 0.0;
    if ((s & PS_AT_UPPER) == 0) {
      if (!(d[j] * range > gap + margin)) continue;
      value = lower[j];
    } else {
      if (!(-d[j] * range > gap + margin)) continue;
      value = upper[j];
    }
    lower[j] = upper[j] = value;
    if (work_lower) work_lower[j] = value;
    if (work_upper) work_upper[j] = value;
    status[j] |= PS_SEARCH_FIXED | PS_MARK;
    fixed_entity_constant += value * cost[j];
    list[static_cast<std::size_t>(fixed)] = value > 0.5 ? -j : j;
    ++fixed;
  }
  if (fixed == 0) return;
  search_stats.reduced_cost_fixings += fixed;
  // The fixings belong to the node: its entity states record them, so that
  // its children inherit them and every other node restores its own.
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> state_upper = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> state_lower = int_array(ARR_ENTITY_ROOT_LOWER);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t kind = type[e] & ENT_TYPE_MASK;
    if (kind == ENT_SET1 || kind == ENT_SET2) continue;
    const int32_t p = column[e];
    if ((status[p] & PS_MARK) == 0) continue;
    status[p] &= ~PS_MARK;
    const int32_t v = static_cast<int32_t>(std::lround(upper[p]));
    state_upper[e] = v;
    state_lower[e] = v;
  }
  compute_objective_value();
  // A fixing that forces others leaves lp_status 0 (solve again) or 2.
  propagate_node_fixings(fixed);
}

void run_node_callbacks(int32_t mode) {
  int32_t added = 0;
  int32_t result = 0;
  bool finished = false;
  do {
    search_record.cut_rows_added = 0;
    search_record.cut_rows_deleted = 0;
    search_record.cut_rows_loaded = 0;
    measure_integer_infeasibilities();
    result = 0;
    problem_flags |= PF_SOLUTION_CURRENT;
    call_user_entry([&] {
      if (mode == 1)
        invoke_tcm_callback(result);
      else
        invoke_cm_callback(result);
    });
    if (status_code != STATUS_OK) break;
    if ((problem_flags & PF_SOLUTION_CURRENT) == 0) {
      if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
      added += search_record.cut_rows_added;
      node_cut_list_state.cut_rows_changed = 1;
      optimise_lp(OPT_REOPTIMISE);
      if (status_code != STATUS_OK) break;
      if (lp_status != LP_OPTIMAL) {
        node_cut_list_state.current_cut_list = -1;
        break;
      }
    }
    finished = result == 0;
  } while (result != 0);
  // Rows the callback added go into the pool once it is content, so that
  // the node cut lists can name them.
  if (finished && added > 0) scan_cut_rows();
  if (array_cells[ARR_CUT_RECORD] != nullptr) {
    const int32_t last = stored_record_limit();
    for (int32_t r = 1; r <= last; ++r)
      if (cut_record_field(r, CUT_FIELD_FIRST) >= 0) cut_record_field(r, CUT_FIELD_FLAGS) &= ~CUT_NEW_IN_ROUND;
  }
}

namespace {

// Model cuts (type bit 0x100) that the LP violates enter it, round after
// round, until none is violated. cut_off := 1 when the LP then fails.
void run_model_cut_rounds(int32_t& cut_off) {
  const int32_t prtcut = icv(ic::PRTCUT);
  if (node_count == 0 && prtcut >= 0) {
    begin_message(MSG_MODEL_CUT_ROUNDS);
    emit_message();
  }
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  const int32_t last = stored_record_limit();
  int32_t round = 0;
  for (;;) {
    for (int32_t r = 1; r <= last; ++r)
      if (cut_record_field(r, CUT_FIELD_FIRST) >= 0 && (cut_record_field(r, CUT_FIELD_TYPE) & kModelCutType) != 0)
        cut_record_field(r, CUT_FIELD_FLAGS) |= CUT_NEW_IN_ROUND;
    measure_integer_infeasibilities();
    const int32_t rows_before = cut_row_count;
    ++round;
    int32_t violated = 0, selected = 0;
    select_active_cuts(1, 0, nullptr, dcv(dc::ZTOLZE), violated, selected);
    bool failed = false;
    if (selected > 0) {
      loadcut(0, CUT_RULE_COMMON_BIT, -1, nullptr, LOAD_SELECTED);
      status_code = STATUS_OK;
      node_cut_list_state.cut_rows_changed = 1;
      if ((problem_flags & PF_SOLUTION_CURRENT) == 0) {
        if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
        optimise_lp(OPT_REOPTIMISE);
        if (status_code != STATUS_OK) break;
        if (lp_status != LP_OPTIMAL) {
          node_cut_list_state.current_cut_list = -1;
          cut_off = 1;
          failed = true;
        }
      }
    }
    for (int32_t r = 1; r <= last; ++r)
      if (cut_record_field(r, CUT_FIELD_FIRST) >= 0) cut_record_field(r, CUT_FIELD_FLAGS) &= ~CUT_NEW_IN_ROUND;
    if (failed || selected == 0) break;
    if ((node_count == 0 && prtcut >= 0) || prtcut > 0) {
      begin_message(MSG_MODEL_CUT_ROUND);
      insert_message_int(round);
      insert_message_real(objval);
      insert_message_chars("M", 1);
      insert_message_int(cut_row_count - rows_before);
      insert_message_int(0);
      insert_message_int(search_elapsed_seconds());
      emit_message();
    }
  }
  icv(ic::IFDBG) = base;
}

}  // namespace

void solve_node(int32_t& cut_off) {
  cut_off = 0;
  int32_t discard = 0;
  call_user_entry([&] { invoke_upn_entry(discard); });
  if (discard != 0) {
    lp_status = LP_INFEASIBLE;
    cut_off = 1;
    return;
  }
  // The binary just branched on may force others through its rows.
  const int32_t e = node_header.branch_entity;
  if (e >= 1 && e <= nglent && (int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK) == ENT_BINARY) {
    lp_status = 0;
    const int32_t j = int_array(ARR_ENTITY_COLUMN)[e];
    changed_columns()[0] = real_array(ARR_UPPER)[j] > 0.5 ? -j : j;
    propagate_node_fixings(1);
    if (lp_status == LP_INFEASIBLE) {
      cut_off = 1;
      return;
    }
  }
  refresh_scaled_cutoff();
  for (;;) {
    if (direct_child_flag < 1) problem_flags &= ~PF_FACTOR_VALID;
    if ((problem_flags & PF_CLOCK_STARTED) != 0) {
      solve_node_by_recursion();
      if (status_code != STATUS_OK) return;
      break;
    }
    optimise_lp(OPT_REOPTIMISE);
    if (status_code != STATUS_OK) return;
    if ((icv(ic::IFINTP) & kIfintpReducedCostFixing) == 0 || lp_status != LP_OPTIMAL) break;
    fix_by_reduced_cost();
    if (lp_status != 0) break;
  }
  if (node_count != 1) {
    node_cut_list_state.cut_rows_changed = 0;
    if (lp_status == LP_OPTIMAL && model_cut_count > 0 && array_cells[ARR_CUT_RECORD] != nullptr) {
      run_model_cut_rounds(cut_off);
      if (status_code != STATUS_OK || cut_off != 0) return;
    }
    if (lp_status == LP_OPTIMAL) generate_node_cuts();
    if (status_code != STATUS_OK) return;
    if (lp_status == LP_OPTIMAL && node_count == 0) {
      best_bound = objval;
      if (wants_solution_lines()) report_search_sign(icv(ic::GPRINT));
      search.log_line_counter = 1;
    }
    if (lp_status == LP_OPTIMAL && has_uon_entry() != 0) {
      measure_integer_infeasibilities();
      int32_t flag = 0;
      call_user_entry([&] { invoke_uon_entry(flag); });
      if (flag != 0) lp_status = LP_INFEASIBLE;
    }
    if (lp_status == LP_OPTIMAL && icv(ic::IFCUTP) != 0) run_node_callbacks(0);
  }
}

void branch_and_bound_loop(int32_t& code) {
  code = NODE_STOP_NONE;
  if (node_count != 0) {
    unpack_node();
    if (status_code != STATUS_OK) {
      code = -NODE_STOP_RESTORE_ERROR;
      return;
    }
  }
  search.dive_state = node_header.node_id > 0 ? 1 : 3;
  search.first_child_open = 1;
  search.second_child_open = 2;
  search.stop_flag = 0;
  search.pending_work = PENDING_NOTHING;
  for (;;) {
    lp_status = LP_OPTIMAL;
    restore_node_bounds();
    if (status_code != STATUS_OK) {
      code = -NODE_STOP_RESTORE_ERROR;
      return;
    }
    ++node_count;
    ++search_stats.nodes_solved;
    search.deleted_node = 0;
    bool leaf = lp_status == LP_INFEASIBLE;
    bool solution = false;
    bool recorded = false;
    if (!leaf) {
      int32_t cut_off = 0;
      solve_node(cut_off);
      if (status_code != STATUS_OK) {
        code = -NODE_STOP_RESTORE_ERROR;
        return;
      }
      leaf = cut_off != 0;
    }
    if (!leaf) {
      if (lp_status == LP_UNFINISHED) {
        --node_count;
        code = -NODE_STOP_INTERRUPTED;
        search.pending_work = pending_for_unfinished_node();
        store_pending_work();
        return;
      }
      if (lp_status == LP_UNBOUNDED) {
        --node_count;
        code = -NODE_STOP_UNBOUNDED;
        search.pending_work = pending_for_unfinished_node();
        store_pending_work();
        return;
      }
      leaf = lp_status != LP_OPTIMAL;
    }
    if (!leaf) {
      reinvert_and_recompute();
      set_nonbasic_values();
      BranchChoice choice;
      select_branch_entity(choice);
      if (status_code != STATUS_OK) {
        code = -NODE_STOP_STORE_ERROR;
        return;
      }
      search.fractional_count = choice.fractional_count;
      if (choice.fractional_count != 0 && search.deleted_node == node_count) {
        // Deleted by the caller while being processed: no children.
        leaf = true;
        if (!drop_node()) {
          code = -NODE_STOP_STORE_ERROR;
          return;
        }
      } else if (choice.fractional_count != 0) {
        if (choice.branch_entity < 1 || (choice.branch_entity > nglent && node_cut_lists_in_use == 0)) {
          // Nothing to branch on, or a branching object of the caller's
          // without the cut lists that tell its branches apart: ignoring it
          // would solve the same node without end.
          report_plain_error(MSG_NODE_NOT_SOLVABLE);
          code = -NODE_STOP_STORE_ERROR;
          return;
        }
        take_branching_choice(choice);
        if (status_code != STATUS_OK) {
          code = -NODE_STOP_STORE_ERROR;
          return;
        }
        if (wants_node_lines()) log_node();
        switch (search.dive_state) {
          case 1:
            search.pending_work = PENDING_IMAGE_AND_PAIR;
            search.first_child_open = active_table.current_slot == 0 ? 1 : active_table.current_slot;
            search.branched_fractional_count = search.fractional_count;
            break;
          case 2:
            search.pending_work = PENDING_IMAGE_AND_SWAPPED_PAIR;
            break;
          default:
            search.pending_work = PENDING_PAIR;
            break;
        }
      } else {
        node_header.bound = objval;
        node_header.degradation = 0.0;
        if (node_cut_list_state.cut_rows_changed == 1) node_cut_list_state.current_cut_list = -1;
        solution = true;
        if (!record_integer_solution(recorded)) {
          code = -NODE_STOP_STORE_ERROR;
          return;
        }
      }
    } else {
      if (!drop_node()) {
        code = -NODE_STOP_STORE_ERROR;
        return;
      }
    }
    if (leaf || solution) {
      // What the caller attached at a node that did not branch goes.
      drop_unused_attachments();
      switch (search.dive_state) {
        case 2:
          search.second_child_open = search.first_child_open;
          search.pending_work = PENDING_IMAGE;
          search.pending_fractional_count = search.branched_fractional_count;
          break;
        case 3:
          search.pending_work = PENDING_NOTHING;
          break;
        default: {
          search.pending_work = PENDING_OTHER_CHILD;
          NodeHeader image = read_image_header();
          if (image.node_id > 0) {
            image.node_id = -image.node_id;
            write_image_header(image);
          }
          break;
        }
      }
      if (recorded) {
        if (icv(ic::IPACTN) == 2) code = NODE_STOP_SOLUTION_RETURN;
        if (icv(ic::MAXSOL) != 0 && solution_count >= icv(ic::MAXSOL)) code = NODE_STOP_SOLUTION_LIMIT;
      }
    }
    if (code == NODE_STOP_NONE) {
      // The node LPs test the time limit and the interrupt only while they
      // iterate; a search of quick nodes tests them here as well.
      if (search.stop_flag == 0 && check_stop_request() != 0) search.stop_flag = 1;
      if (node_count >= icv(ic::MAXNOD)) code = NODE_STOP_NODE_LIMIT;
      else if (search.stop_flag != 0) code = -NODE_STOP_INTERRUPTED;
    }
    if (code == NODE_STOP_NONE) {
      if (search.pending_work == PENDING_NOTHING) return;
      int32_t leave = 0;
      choose_next_node(leave);
      if (status_code != STATUS_OK) {
        code = -NODE_STOP_STORE_ERROR;
        return;
      }
      if (leave == 0) continue;
    }
    store_pending_work();
    if (status_code != STATUS_OK) code = -NODE_STOP_INTERRUPTED;
    return;
  }
}

}  // namespace kl
