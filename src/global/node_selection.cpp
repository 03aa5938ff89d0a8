#include "global/node_selection.h"

#include <cmath>
#include <cstdlib>

#include "factor/simplex_state.h"
#include "global/node_cut_lists.h"
#include "global/node_log.h"
#include "global/node_store.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/lp_driver.h"

namespace kl {

namespace {

// NDSEL2 values.
constexpr int32_t kTargetRule = 2;
constexpr int32_t kBoundRule = 3;

// IFCUTOFF values.
constexpr int32_t kCutoffByPercent = 1;
constexpr int32_t kCutoffByValue = 2;

// The table's choice rule for one selection.
enum class TableRule { kEstimate, kBound, kTarget };

// a is beyond b: worse in the search's sense, or equal.
bool at_or_beyond(double a, double b) { return (a - b) * sense_factor >= 0.0; }
bool beyond(double a, double b) { return (a - b) * sense_factor > 0.0; }

bool target_finite() {
  const double t = dcv(dc::OBJTAR);
  return t != kInfinity && t != -kInfinity;
}

bool target_rule_in_force() { return icv(ic::NDSEL2) == kTargetRule && target_finite(); }

// The mended cut-off clamp: the node cut-off value never lies beyond the
// cut-off itself.
void clamp_node_cutoff() {
  if (beyond(search.node_cutoff_value, search.scaled_cutoff)) search.node_cutoff_value = search.scaled_cutoff;
}

}  // namespace

bool better_objective(double a, double b) { return (a - b) * sense_factor < 0.0; }

void refresh_scaled_cutoff() {
  const double scale = dcv(kObjectiveScaleSlot) != 0.0 ? dcv(kObjectiveScaleSlot) : 1.0;
  search.scaled_cutoff = dcv(dc::CUTOFF) * scale;
  search.scaled_addcut = dcv(dc::ADDCUT) * scale;
  search.scaled_target = dcv(dc::OBJTAR) * scale;
  lp_driver.search_cutoff = search.scaled_cutoff;
}

void update_node_cutoff(double reference) {
  double value = search.scaled_cutoff;
  switch (icv(ic::IFCUTOFF)) {
    case kCutoffByPercent: {
      const double p = static_cast<double>(icv(ic::PRCUTOFF)) * 0.01;
      value = reference * sense_factor > 0.0 ? reference * (1.0 + p) : reference * (1.0 - p);
      break;
    }
    case kCutoffByValue:
      value = dcv(dc::VALCUT);
      if (dcv(dc::VALCUT) * sense_factor <= reference * sense_factor) value = search.scaled_cutoff;
      break;
    default:
      break;
  }
  search.node_cutoff_value = value;
  clamp_node_cutoff();
}

void choose_next_node(int32_t& leave) {
  leave = 0;
  refresh_scaled_cutoff();
  const bool target = target_rule_in_force();
  int32_t rule = icv(ic::NDSEL1);
  if (rule == SELECT_BREADTH_THEN_DIVE) rule = icv(ic::MAXNBF) >= node_count ? SELECT_NO_DIVE : SELECT_DIVE_BEST_ESTIMATE;
  if (search.node_cutoff_value * sense_factor <= best_bound * sense_factor) update_node_cutoff(best_bound);
  clamp_node_cutoff();
  if (rule == SELECT_NO_DIVE) {
    leave = 1;
    return;
  }

  const NodeHeader image = read_image_header();
  const double pseudo = dcv(dc::PSEUDO);
  int32_t e = 1;
  switch (search.pending_work) {
    case 2:
      if (search.first_child_open == 0) {
        if (search.second_child_open == 0) {
          leave = 1;
          return;
        }
        e = 2;
      } else if (search.second_child_open != 0 && icv(ic::NDSEL1) != SELECT_DIVE_OWN_CHILDREN) {
        if (search.pending_fractional_count < search.branched_fractional_count) {
          e = 2;
        } else {
          const double estimate = node_header.bound + sense_factor * node_header.degradation;
          const double b = image.bound;
          const double d = image.degradation * sense_factor +
                           std::fabs(image.up_estimate - image.down_estimate) * sense_factor * pseudo;
          const double t = std::max(estimate - b, d);
          if ((dcv(dc::CRITRN) * t - estimate + b + d) * sense_factor < 0.0) e = 2;
        }
      }
      break;
    case 3:
    case 5:
      if (search.second_child_open == 0) {
        leave = 1;
        return;
      }
      e = 2;
      break;
    case 4:
      if (search.first_child_open == 0) {
        if (search.second_child_open == 0) {
          leave = 1;
          return;
        }
        e = 2;
      } else if (search.second_child_open != 0) {
        const double i = image.degradation * sense_factor + image.bound;
        const double c = node_header.degradation * sense_factor + node_header.bound;
        if (target) {
          const double t = search.scaled_target;
          if (((t - c) * image.degradation * sense_factor - (t - i) * node_header.degradation * sense_factor) *
                  sense_factor >=
              0.0)
            e = 2;
        } else if ((c - i) * sense_factor < 0.0) {
          e = 2;
        }
      }
      break;
    default:
      if (search.first_child_open == 0) {
        leave = 1;
        return;
      }
      break;
  }
  if (icv(ic::IFCUTOFF) > 0 && beyond(node_header.bound, search.node_cutoff_value)) {
    leave = 1;
    return;
  }

  bool stored = true;
  switch (search.pending_work) {
    case 2:
      if (e == 2) {
        search.dive_state = 2;
        swap_node();
      } else {
        NodeHeader h = read_image_header();
        h.degradation += std::fabs(h.up_estimate - h.down_estimate) * pseudo;
        write_image_header(h);
        store_active_node(0);
        stored = status_code == STATUS_OK;
        if (stored) {
          pack_node();
          keep_node_header();
          search.dive_state = 1;
        }
      }
      break;
    case 3:
      search.dive_state = 3;
      unpack_node();
      break;
    case 4:
      if (e == 2) {
        store_active_node(0);
        stored = status_code == STATUS_OK;
        if (stored) pack_node();
      } else {
        store_active_node(1);
        stored = status_code == STATUS_OK;
        if (stored) unpack_node();
      }
      if (stored) {
        keep_node_header();
        search.dive_state = 1;
      }
      break;
    case 5:
      pack_node();
      keep_node_header();
      search.dive_state = node_header.node_id >= 0 ? 1 : 3;
      break;
    default:
      unpack_node();
      keep_node_header();
      search.dive_state = 1;
      break;
  }
  if (stored) search.pending_fractional_count = search.fractional_count;

  search.first_child_open = 1;
  search.second_child_open = 2;
  node_depth = node_header.depth;
  if (search.dive_state == 1) search.current_node_number = node_header.node_id;
  if (active_table.current_slot != 0 && node_cut_lists_in_use != 0)
    active_node_cut_list(active_table.current_slot) = node_cut_list_state.current_cut_list;
  if (direct_child_flag < 0)
    direct_child_flag = 0;
  else
    direct_child_flag = node_count == node_header.node_id ? 1 : 0;
}

void select_active_node() {
  const int32_t kept_number = node_header.node_number;
  refresh_scaled_cutoff();
  active_table.current_slot = 0;
  ++search_stats.table_selections;

  TableRule rule = TableRule::kEstimate;
  const int32_t ndsel1 = icv(ic::NDSEL1);
  ++search.list_selection_count;
  if (ndsel1 == SELECT_BREADTH_THEN_DIVE) {
    const int32_t maxnbf = icv(ic::MAXNBF);
    const bool early = search.list_selection_count < std::abs(maxnbf);
    rule = (early == (maxnbf >= 0)) ? TableRule::kBound : TableRule::kEstimate;
  } else if (target_rule_in_force()) {
    rule = TableRule::kTarget;
  } else if (icv(ic::NDSEL2) == kBoundRule) {
    rule = TableRule::kBound;
  }
  const bool depth_rule = ndsel1 == SELECT_DEPTH_FIRST;

  double reference = best_bound;
  bool skip_update = false;
  if (node_count == 1 && active_table.active_count >= 1 && active_node_id(1) != 0) {
    reference = active_node_bound(1);
  } else if (beyond(search.node_cutoff_value, best_bound)) {
    skip_update = true;
  }

  int32_t chosen = 0;
  double new_bound = kInfinity * sense_factor;
  for (int32_t pass = 0;; ++pass) {
    if (!(pass == 0 && skip_update)) update_node_cutoff(reference);
    clamp_node_cutoff();
    double best = rule == TableRule::kTarget ? kInfinity : kInfinity * sense_factor;
    int32_t reference_depth = 0;
    if (active_table.active_count == 0) break;
    new_bound = kInfinity * sense_factor;
    int32_t last_kept = 0;
    for (int32_t slot = 2; slot <= active_table.active_count; ++slot) {
      const int32_t id = active_node_id(slot);
      if (id == 0) continue;
      const double b = active_node_bound(slot);
      if (at_or_beyond(b, search.scaled_cutoff)) {
        // Cut off by the incumbent: reported as a node of its own.
        ++node_count;
        ++search_stats.nodes_cut_off_in_table;
        node_header.node_number = std::abs(id);
        objval = b;
        lp_status = LP_CUTOFF_NOT_BETTER;
        const int32_t gprint = icv(ic::GPRINT);
        if (gprint >= 3 || gprint < 0) {
          int32_t stop = 0;
          print_node_log_line(stop);
          if (stop != 0) search.stop_flag = 1;
        }
        const int32_t clock = search.clock_start;
        const int32_t status = mip_status;
        int32_t number = node_header.node_number;
        invoke_ucn_entry(number);
        search.clock_start = clock;
        mip_status = status;
        if (node_cut_lists_in_use != 0) {
          release_node_cuts(slot);
          if (status_code != STATUS_OK) return;
        }
        free_active_slot(slot);
        continue;
      }
      if (better_objective(b, new_bound)) new_bound = b;
      last_kept = slot;
      if (icv(ic::IFCUTOFF) > 0 && beyond(b, search.node_cutoff_value)) continue;
      const double estimate = active_node_estimate(slot);
      const double v = rule == TableRule::kBound ? b : estimate;
      const auto better_by_rule = [&](double& score) {
        if (rule == TableRule::kTarget) {
          const double t = search.scaled_target;
          if (((estimate - t) - (estimate - b) * best) * sense_factor < 0.0) {
            score = (estimate - t) * sense_factor / (estimate - b + 1e-5);
            return true;
          }
          return false;
        }
        if ((v - best) * sense_factor < 0.0) {
          score = v;
          return true;
        }
        return false;
      };
      if (depth_rule) {
        const int32_t depth = active_node_depth(slot);
        if (depth < reference_depth) continue;
        if (depth > reference_depth) {
          chosen = slot;
          reference_depth = depth;
          if (rule == TableRule::kTarget)
            best = (estimate - search.scaled_target) * sense_factor / (estimate - b + 1e-5);
          else
            best = v;
          continue;
        }
      }
      double score = best;
      if (better_by_rule(score)) {
        best = score;
        chosen = slot;
      }
    }
    active_table.active_count = last_kept;
    best_bound = new_bound;
    if (chosen != 0 || last_kept == 0) break;
    reference = new_bound;
    skip_update = false;
  }

  lp_status = LP_OPTIMAL;
  if (chosen == 0) {
    node_header.node_number = kept_number;
    direct_child_flag = 0;
    return;
  }
  // The gap tolerances compare the best remaining bound with the incumbent,
  // in the caller's units, and only once there is an incumbent.
  if (solution_count > 0) {
    const double gap = std::fabs(caller_objective(new_bound) - caller_objective(dintsl));
    if (gap < dcv(dc::OPTCA)) {
      begin_message(MSG_SEARCH_ABSOLUTE_GAP);
      emit_message();
      node_header.node_number = kept_number;
      direct_child_flag = 0;
      return;
    }
    if (gap < std::fabs(caller_objective(new_bound)) * dcv(dc::OPTCR)) {
      begin_message(MSG_SEARCH_RELATIVE_GAP);
      emit_message();
      node_header.node_number = kept_number;
      direct_child_flag = 0;
      return;
    }
  }

  int32_t number = std::abs(active_node_id(chosen));
  node_depth = active_node_depth(chosen);
  search.current_node_number = number;
  {
    const int32_t clock = search.clock_start;
    const int32_t status = mip_status;
    int32_t asked = number;
    invoke_usn_entry(asked);
    search.clock_start = clock;
    mip_status = status;
    if (asked != 0 && asked != number) {
      for (int32_t slot = 2; slot <= active_table.active_count; ++slot) {
        if (active_node_id(slot) != 0 && std::abs(active_node_id(slot)) == std::abs(asked)) {
          chosen = slot;
          number = std::abs(asked);
          node_depth = active_node_depth(slot);
          search.current_node_number = number;
          break;
        }
      }
    }
  }
  active_table.current_slot = chosen;
  search.pending_fractional_count = search.fractional_count;
  direct_child_flag = 0;
  node_header.node_number = kept_number;
}

}  // namespace kl
