// Probing of the binaries at the start of a fresh search (see probing.h).
#include "global/probing.h"

#include <cstdint>
#include <vector>

#include "global/node_bounds.h"
#include "global/node_store.h"
#include "global/propagation.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

ProbingStats probing_stats;

namespace {

// What probing changed, so that the end of the search can put it back.
struct ProbedColumn {
  int32_t entity;
  int32_t column;
  double lower;
  double upper;
  int32_t state_lower;
  int32_t state_upper;
};
std::vector<ProbedColumn> probed_columns;
std::vector<int32_t> entity_of_column;
// The problem probed: a load or a switch of problem since must not have the
// fixings of another problem put back on it.
struct ProbedProblem {
  const void* status_array = nullptr;
  int32_t positions = 0;
  int32_t entities = 0;
};
ProbedProblem probed_problem;

bool same_problem_as_probed() {
  return probed_problem.status_array == array_cells[ARR_POS_STATUS] && probed_problem.positions == nseq &&
         probed_problem.entities == nglent;
}

void remember(int32_t column) {
  if (entity_of_column.empty()) {
    entity_of_column.assign(static_cast<std::size_t>(nseq) + 1, 0);
    OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
    OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
    for (int32_t e = 1; e <= nglent; ++e) {
      const int32_t kind = type[e] & ENT_TYPE_MASK;
      if (kind != ENT_SET1 && kind != ENT_SET2 && entity_column[e] >= 1 && entity_column[e] <= nseq)
        entity_of_column[static_cast<std::size_t>(entity_column[e])] = e;
    }
  }
  const int32_t e = entity_of_column[static_cast<std::size_t>(column)];
  ProbedColumn p{e, column, 0.0, 1.0, 0, 1};
  if (e != 0) {
    p.state_lower = int_array(ARR_ENTITY_ROOT_LOWER)[e];
    p.state_upper = int_array(ARR_ENTITY_ROOT_UPPER)[e];
  }
  probed_columns.push_back(p);
}

bool is_free_binary(int32_t e, int32_t& column) {
  if ((int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK) != ENT_BINARY) return false;
  column = int_array(ARR_ENTITY_COLUMN)[e];
  return (int_array(ARR_POS_STATUS)[column] & (PS_SEARCH_FIXED | PS_FIXED)) == 0;
}

void set_column(int32_t j, double value) {
  real_array(ARR_LOWER)[j] = value;
  real_array(ARR_UPPER)[j] = value;
  int_array(ARR_POS_STATUS)[j] |= PS_SEARCH_FIXED;
}

void free_column(int32_t j) {
  real_array(ARR_LOWER)[j] = 0.0;
  real_array(ARR_UPPER)[j] = 1.0;
  int_array(ARR_POS_STATUS)[j] &= ~PS_SEARCH_FIXED;
}

// Tentative fixing of column j at value: true when propagation proves it
// infeasible. An overflowing list proves nothing.
bool probe_side(int32_t j, double value, std::vector<int32_t>& list) {
  set_column(j, value);
  lp_status = 0;
  list[0] = value == 0.0 ? j : -j;
  int32_t count = 1;
  int32_t fixed = 0, unused = 0, overflow = 0;
  propagate_bounds(list.data(), static_cast<int32_t>(list.size()), count, PROPAGATE_TENTATIVE, fixed, unused,
                   overflow);
  if (overflow != 0) ++probing_stats.overflow_no_fix;
  return overflow == 0 && lp_status == 2;
}

// Fixes entity e's column j for good at value and propagates the fixing;
// returns the columns fixed, or -1 when the problem is infeasible.
int32_t fix_for_good(int32_t e, int32_t j, int32_t value, std::vector<int32_t>& list) {
  remember(j);
  set_column(j, value);
  int_array(ARR_ENTITY_ROOT_UPPER)[e] = value;
  int_array(ARR_ENTITY_ROOT_LOWER)[e] = value;
  if (OneBased<double> copy = real_array(ARR_WORK_LOWER)) copy[j] = value;
  if (OneBased<double> copy = real_array(ARR_WORK_UPPER)) copy[j] = value;
  fixed_entity_constant += value * real_array(ARR_OBJECTIVE)[j];
  lp_status = 0;
  list[0] = value == 0 ? j : -j;
  int32_t count = 1;
  int32_t fixed = 0, unused = 0, overflow = 0;
  propagate_bounds(list.data(), static_cast<int32_t>(list.size()), count, PROPAGATE_PERMANENT, fixed, unused,
                   overflow);
  // The columns the propagation fixed follow the probed one in the list;
  // their free bounds were 0 and 1 and their states free.
  for (int32_t k = 1; k < count; ++k) {
    const int32_t column = list[static_cast<std::size_t>(k)] > 0 ? list[static_cast<std::size_t>(k)]
                                                                  : -list[static_cast<std::size_t>(k)];
    remember(column);
    ProbedColumn& p = probed_columns.back();
    p.state_lower = 0;
    p.state_upper = 1;
  }
  if (lp_status == 2) return -1;
  return 1 + fixed;
}

}  // namespace

void probe_binaries() {
  probed_columns.clear();
  entity_of_column.clear();
  probed_problem = {array_cells[ARR_POS_STATUS], nseq, nglent};
  if (icv(ic::PRTCUT) > 0) {
    begin_message(MSG_PROBING_START);
    emit_message();
  }
  std::vector<int32_t> list(static_cast<std::size_t>(2 * nseq) + 1, 0);
  node_header.branch_entity = 0;
  int32_t limit = nglent;
  int32_t total = 0;
  for (;;) {
    ++probing_stats.passes;
    int32_t fixings = 0;
    int32_t last = 0;
    for (int32_t e = 1; e <= nglent; ++e) {
      // After the first pass only the entities up to the last one that
      // fixed something can have new implications, until this pass fixes.
      if (e > limit && fixings == 0) break;
      int32_t j = 0;
      if (!is_free_binary(e, j)) continue;
      int32_t value = -1;
      if (probe_side(j, 1.0, list)) {
        value = 0;
      } else if (probe_side(j, 0.0, list)) {
        value = 1;
      } else {
        free_column(j);
        continue;
      }
      last = e;
      const int32_t fixed = fix_for_good(e, j, value, list);
      if (fixed < 0) {
        probing_stats.fixings += fixings + total;
        lp_status = 2;
        return;
      }
      fixings += fixed;
    }
    total += fixings;
    if (icv(ic::PRTCUT) > 0 && fixings > 0) {
      begin_message(MSG_PROBING_FIXED);
      insert_message_int(fixings);
      emit_message();
    }
    limit = last;
    if (fixings == 0) break;
  }
  probing_stats.fixings += total;
  lp_status = 0;
  if (total > 0) rebuild_basic_lists();
}

void undo_probing_fixings(bool search_under_way) {
  if (probed_columns.empty()) return;
  if (!search_under_way || !same_problem_as_probed()) {
    probed_columns.clear();
    return;
  }
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  // Newest first, so that each column ends with what it had before probing.
  for (auto it = probed_columns.rbegin(); it != probed_columns.rend(); ++it) {
    if (it->column < 1 || it->column > nseq) continue;
    if (it->entity != 0 && entity_column[it->entity] != it->column) continue;
    lower[it->column] = it->lower;
    upper[it->column] = it->upper;
    status[it->column] &= ~PS_SEARCH_FIXED;
    if (OneBased<double> copy = real_array(ARR_WORK_LOWER)) copy[it->column] = it->lower;
    if (OneBased<double> copy = real_array(ARR_WORK_UPPER)) copy[it->column] = it->upper;
    if (it->entity != 0) {
      int_array(ARR_ENTITY_ROOT_LOWER)[it->entity] = it->state_lower;
      int_array(ARR_ENTITY_ROOT_UPPER)[it->entity] = it->state_upper;
    }
  }
  probed_columns.clear();
}

}  // namespace kl
