// The choice of the entity a node branches on, its direction and the bounds
// of its two children.
#include <algorithm>
#include <cmath>

#include "factor/starting_basis.h"
#include "global/branching.h"
#include "global/directives.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"

namespace kl {
namespace {

// The attribute that reports the entities not feasible at the last node.
constexpr int32_t kFractionalEntityAttribute = 1024;
// Best priority before the scan: above every priority a directive can hold.
constexpr int32_t kNoPriority = 1100;
// UBE starts with a priority no entity can lose to.
constexpr int32_t kUserObjectPriority = 2000;

int32_t entity_type(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
bool is_set_type(int32_t t) { return t >= ENT_SET1 && t <= 8; }
int32_t column_of(int32_t e) { return int_array(ARR_ENTITY_COLUMN)[e]; }
double value_of(int32_t j) { return real_array(ARR_X)[j]; }

// Semi-continuous tolerance of column j: ZTOLIS in the column's own units,
// never below twice the zero tolerance.
double semicontinuous_tolerance(int32_t j) {
  uint32_t byte = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[j]) >> 24;
  if (byte == 0) byte = kScaleBias;
  return std::max(dcv(dc::ZTOLIS) * std::ldexp(1.0, kScaleBias - static_cast<int32_t>(byte)),
                  2.0 * dcv(dc::ZTOLZE));
}

double combined_score(double up, double down) {
  switch (std::abs(icv(ic::KCRITM))) {
    case 1: return std::min(up, down);
    case 2: return up + down;
    case 3: return 2.0 * std::min(up, down) + std::max(up, down);
    case 5: return down;
    case 6: return up;
    default: return std::max(up, down);
  }
}

struct Candidate {
  int32_t entity = 0;
  int32_t priority = kNoPriority;
  double score = 0.0;
  double up = 0.0;
  double down = 0.0;
  int32_t direction = 0;
};

// Which way a column entity stands: 0 feasible, 1 fractional (estimated),
// 2 a semi-continuous value strictly between 0 and its limit (estimated).
int32_t examine_column(int32_t e, int32_t type) {
  const int32_t j = column_of(e);
  const double x = value_of(j);
  const int32_t status = int_array(ARR_POS_STATUS)[j];
  const double limit = real_array(ARR_SEMICONT_LIMIT)[e];
  bool semicontinuous = type == ENT_SEMICONTINUOUS;
  if (type != ENT_SEMICONTINUOUS && type != ENT_BINARY && type != ENT_PARTIAL_INTEGER &&
      (status & PS_SEMICONTINUOUS) != 0 && x < limit + semicontinuous_tolerance(j))
    semicontinuous = true;
  if (semicontinuous) {
    const double t = semicontinuous_tolerance(j);
    if (x <= t || limit - x <= t) return 0;
    estimate_cost_degradation(e, limit != 0.0 ? x / limit : x);
    return 2;
  }
  if (type == ENT_PARTIAL_INTEGER && x >= static_cast<double>(int_array(ARR_ENTITY_TYPE)[e] >> 4)) return 0;
  // The fraction above the next integer below, also for negative values.
  const double f = x - std::floor(x);
  const double tolerance = dcv(dc::ZTOLIS);
  if (!(f > tolerance && f < 1.0 - tolerance) || (status & PS_SEARCH_FIXED) != 0) return 0;
  estimate_cost_degradation(e, x);
  return 1;
}

// Scans every entity; fills count and degradation of choice and returns the
// best candidate by priority, then score.
Candidate scan_entities(BranchChoice& choice) {
  BranchEstimates& b = branch_estimates;
  Candidate best;
  const double pseudo = dcv(dc::PSEUDO);
  const double preference = dcv(dc::PSTCST);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t type = entity_type(e);
    if (is_set_type(type)) {
      estimate_degradation(e);
      if (b.set_satisfied == 1) continue;
    } else if (examine_column(e, type) == 0) {
      continue;
    }
    ++choice.fractional_count;
    choice.degradation += b.min_degradation * pseudo;
    const int32_t word = int_array(ARR_DIRECTIVE_WORD)[e];
    const int32_t priority = directive_priority(word);
    if (priority > best.priority) continue;
    double up = b.up_degradation;
    double down = b.down_degradation;
    double score = 0.0;
    if (is_set_type(type)) {
      score = b.min_degradation;
    } else {
      score = combined_score(up, down);
      if (type == ENT_SEMICONTINUOUS) {
        // The estimator has already brought both estimates to the column's
        // units when SSV010 is set; without it only the score is.
        if (icv(ic::SSV010) != 0) score = std::min(up, down);
        else score *= real_array(ARR_SEMICONT_LIMIT)[e];
      }
    }
    if (!(priority < best.priority || score > best.score)) continue;
    const int32_t direction_bits = directive_direction(word);
    if (direction_bits == DIRECTION_UP) down += preference;
    else if (direction_bits == DIRECTION_DOWN) up += preference;
    best.entity = e;
    best.priority = priority;
    best.score = score;
    best.up = up;
    best.down = down;
    best.direction = down >= up ? 1 : 0;
    if (icv(ic::KCRITM) < 0) best.direction = 1 - best.direction;
  }
  return best;
}

// The user's own branching object, when the UBE entry offers a better one.
void offer_user_object(BranchChoice& choice, Candidate& best) {
  int32_t object = -1;
  int32_t priority = kUserObjectPriority;
  double first = 0.0;
  double second = 0.0;
  double value = 0.0;
  int32_t direction = 0;
  int32_t extra_count = 0;
  double extra_degradation = 0.0;
  int32_t branch_count = choice.user_branch_count;
  invoke_ube_entry(object, priority, first, second, value, direction, extra_count, extra_degradation, branch_count);
  choice.user_branch_count = branch_count;
  choice.fractional_count += extra_count;
  choice.degradation += extra_degradation * dcv(dc::PSEUDO);
  if (object == -1 || priority > best.priority) return;
  const double score = std::abs(icv(ic::KCRITM)) == 1 ? first + second : first;
  if (!(priority < best.priority || score > best.score)) return;
  best.entity = object + nglent + icv(ic::IFDBG);
  best.priority = priority;
  best.score = score;
  best.up = direction == 1 ? first : second;
  best.down = direction == 1 ? second : first;
  best.direction = icv(ic::KCRITM) < 0 ? 1 - direction : direction;
  choice.branch_value = value;
}

// The UCB entry sees the chosen entity (a column number, or a set number
// with 2 added to the direction) and may change entity, direction and
// degradation.
void let_user_change_entity(BranchChoice& choice, Candidate& best) {
  const int32_t base = icv(ic::IFDBG);
  const int32_t e = best.entity;
  const bool set = is_set_type(entity_type(e));
  int32_t index = set ? column_of(e) - base : col_to_caller(column_of(e));
  int32_t direction = set ? best.direction + 2 : best.direction;
  const int32_t index_before = index;
  const int32_t direction_before = direction;
  double estimate = choice.degradation;
  invoke_ucb_entry(index, direction, estimate);
  choice.degradation = estimate;
  if (index != index_before || direction != direction_before) {
    const bool want_set = direction >= 2;
    const int32_t target = want_set ? index + base : col_from_caller(index);
    for (int32_t k = 1; k <= nglent; ++k) {
      if (is_set_type(entity_type(k)) != want_set || column_of(k) != target) continue;
      best.entity = k;
      break;
    }
  }
  best.direction = direction >= 2 ? direction - 2 : direction;
}

// Bounds of the two children of a column entity.
void split_column(BranchChoice& choice, int32_t e) {
  const int32_t j = column_of(e);
  const double x = value_of(j);
  double down_limit = int_array(ARR_ENTITY_ROOT_LOWER)[e];
  const double c = std::floor(x + 1.0 - dcv(dc::ZTOLIS));
  const double v = c - 1.0 < static_cast<double>(int_array(ARR_ENTITY_ROOT_UPPER)[e]) ? c - 1.0 : c - 2.0;
  down_limit = std::max(down_limit, v);
  choice.branch_value = x;
  if (x < down_limit) down_limit -= 1.0;
  double up_limit = down_limit + 1.0;
  const double limit = real_array(ARR_SEMICONT_LIMIT)[e];
  if ((int_array(ARR_POS_STATUS)[j] & PS_SEMICONTINUOUS) != 0 && limit > down_limit) {
    down_limit = 0.0;
    up_limit = std::round(limit);
  }
  choice.down_limit = down_limit;
  choice.up_limit = up_limit;
}

}  // namespace

void select_branch_entity(BranchChoice& choice) {
  const int32_t branch_count = choice.user_branch_count;
  choice = BranchChoice{};
  choice.user_branch_count = branch_count;
  branch_estimates.estimate_setup_only = 0;
  compute_duals();
  Candidate best = scan_entities(choice);
  offer_user_object(choice, best);
  int_attribute(kFractionalEntityAttribute) = choice.fractional_count;
  if (choice.fractional_count == 0) {
    choice.degradation = 0.0;
    return;
  }
  if (best.entity == 0) return;  // only user counts, and no object offered
  if (best.entity <= nglent) let_user_change_entity(choice, best);
  choice.branch_entity = best.entity;
  choice.up_estimate = best.up;
  choice.down_estimate = best.down;
  choice.first_direction = best.direction;
  if (best.entity > nglent) return;
  if (is_set_type(entity_type(best.entity))) {
    estimate_branch_candidates(best.entity);
    choice.down_limit = branch_estimates.down_limit;
    choice.up_limit = branch_estimates.up_limit;
    choice.set_split_value = branch_estimates.set_split_value;
    choice.branch_value = branch_estimates.set_split_value;
    choice.first_direction = branch_estimates.set_branch_flag;
    if (icv(ic::KCRITM) < 0) choice.first_direction = 1 - choice.first_direction;
  } else {
    split_column(choice, best.entity);
  }
}

}  // namespace kl
