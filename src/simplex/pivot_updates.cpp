#include "simplex/pivot_updates.h"

#include <algorithm>
#include <cmath>

#include "factor/basis.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "simplex/basic_values.h"
#include "simplex/kernel.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t near_zero_count = 0;

namespace {

constexpr int32_t kInfeasibleMarks = RF_INFEAS_ABOVE | RF_INFEAS_BELOW;
// Non-basic positions outside this mask take part in the dual counts:
// basic (0x2), fixed (0x10) and fixed by the search (0x800) do not.
constexpr int32_t kDualCountMask = PS_BASIC | PS_FIXED | PS_SEARCH_FIXED;
// A working bound beyond this magnitude counts as missing in the dual count.
constexpr double kDualBoundLimit = 1e8;

// Factor position of a row: through factor_index when the factor is permuted.
struct FactorOrder {
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  int32_t operator()(int32_t row) const { return permuted ? index[row] : row; }
};

// working_rhs += amount x the column of position p (a slack: its own row).
void add_column_to_rhs(int32_t p, double amount) {
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  if (p < store.first_col) {
    rhs[p] += amount;
    return;
  }
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = start[p]; e < start[p + 1]; ++e) rhs[elem_row[e]] += amount * elem_value[e];
}

// Value the entering variable moves from: its value when held at one, its
// upper bound when at upper, its finite lower bound, else 0.
double entering_start_value(int32_t q) {
  const int32_t s = int_array(ARR_POS_STATUS)[q];
  if ((s & PS_NONBASIC_BETWEEN) != 0) return real_array(ARR_X)[q];
  if ((s & PS_AT_UPPER) != 0) return entering_upper;
  if ((s & PS_FINITE_LOWER) != 0) return real_array(ARR_LOWER)[q];
  return 0.0;
}

// Signed distance a bound flip moves the entering variable.
double bound_flip_step(int32_t q) {
  const int32_t s = int_array(ARR_POS_STATUS)[q];
  const bool held = (s & PS_NONBASIC_BETWEEN) != 0;
  const double lower = real_array(ARR_LOWER)[q];
  if (entering_sign == 1) return lower - (held ? real_array(ARR_X)[q] : entering_upper);
  return entering_upper - (held ? real_array(ARR_X)[q] : lower);
}

// Reference weight rule for the leaving variable.
enum class LeavingWeight { kNone, kAtMostOne, kAtLeastOne };

// How a primal step treats the basic values it moves.
struct StepRules {
  bool values_only = false;         // no marks, counts or placements
  double placement_tolerance = 0.0; // a value this far outside a bound is placed on it
  double placement_cap = 0.0;       // ... when its |alpha| is at least this
  LeavingWeight leaving_weight = LeavingWeight::kNone;
  bool leaving_reduced_cost = false;  // the leaving variable gets -BIGM, BIGM or 0
  bool keep_x = false;              // x of every moved variable follows
  bool overflow_on_lost_feasibility = false;  // a feasible start that changes marks the list overflowed
};

// The step itself: basic values, the leaving and entering variables, marks,
// ninf, suminf and objval, bound placements, the change list. The work
// vector holds the updated entering column in the entering direction.
// Returns the distance the entering variable moved.
double apply_primal_step(const StepRules& rules) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x_b = real_array(ARR_BASIC_VALUES);
  OneBased<double> u_b = real_array(ARR_BASIC_UPPER);
  OneBased<double> x = real_array(ARR_X);
  const double bigm = dcv(dc::BIGM);
  const double ztolze = dcv(dc::ZTOLZE);
  const int32_t q = entering_column;
  const int32_t r = leaving_row;
  const int32_t ninf_at_start = ninf;

  double removed = 0.0;
  double theta = 0.0;
  if (r > 0) {
    const int32_t p = header[r];
    const double alpha_r = w[r];
    OneBased<double> weights = real_array(ARR_PIVOT_ROW);
    if (rules.leaving_weight != LeavingWeight::kNone && weights && pivot_value != 0.0) {
      const double ratio = std::fabs(entering_weight / pivot_value);
      weights[p] = rules.leaving_weight == LeavingWeight::kAtMostOne ? std::min(ratio, 1.0) : std::max(ratio, 1.0);
    }
    const int32_t mark = marks[r];
    double leaving_cost = 0.0;
    if ((mark & RF_INFEAS_ABOVE) != 0) {
      removed = x_b[r] - u_b[r];
      leaving_cost = -bigm;
    } else if ((mark & RF_INFEAS_BELOW) != 0) {
      removed = lower[p] - x_b[r];
      leaving_cost = bigm;
    }
    if (rules.leaving_reduced_cost) real_array(ARR_REDUCED_COSTS)[p] = leaving_cost;
    const double bound = leaving_direction == kLeaveAtUpper ? upper[p] : lower[p];
    theta = (x_b[r] - bound) / alpha_r;
    if (rules.keep_x) x[p] = bound;
    header[r] = q;
    u_b[r] = (status[q] & PS_FINITE_UPPER) != 0 ? entering_upper : kInfinity;
    if ((status[q] & PS_FREE) != 0)
      marks[r] |= RF_FREE_BASIC;
    else
      marks[r] &= ~RF_FREE_BASIC;
    w[r] = 0.0;
    x_b[r] = entering_start_value(q) + theta;
    if (rules.keep_x) x[q] = x_b[r];
    if (!rules.values_only && (mark & kInfeasibleMarks) != 0) {
      marks[r] &= ~kInfeasibleMarks;
      --ninf;
    }
  } else if (leaving_direction == kLeaveInterior) {
    theta = entering_sign == 1 ? -step_length : step_length;
    if (rules.keep_x) x[q] = entering_start_value(q) + theta;
  } else {
    theta = bound_flip_step(q);
    if (rules.keep_x) x[q] = entering_start_value(q) + theta;
  }

  if (rules.values_only) {
    if (phase1_marker == 0 && infeasibility_changes.count > 0) infeasibility_changes.count = kChangeListOverflow;
  } else {
    clear_infeasibility_changes();
  }

  if (theta != 0.0) {
    if (!rules.values_only) objval += (entering_sign == 1 ? -theta : theta) * entering_objective_rate;
    const int32_t count = factor.work_vector_count;
    for (int32_t k = 1; k <= count; ++k) {
      const int32_t i = list[k];
      if (i == r) continue;
      const double alpha = w[i];
      if (alpha == 0.0) continue;
      const double old_value = x_b[i];
      double value = old_value - theta * alpha;
      const int32_t p = header[i];
      if (rules.values_only) {
        x_b[i] = value;
        if (rules.keep_x) x[p] = value;
        continue;
      }
      const double lb = (status[p] & PS_FINITE_LOWER) != 0 ? lower[p] : -kInfinity;
      const double ub = u_b[i];
      const int32_t mark = marks[i];
      int32_t code = 0;
      if ((mark & RF_INFEAS_ABOVE) != 0) {
        removed += old_value - ub;
        --ninf;
        code = 1;
      } else if ((mark & RF_INFEAS_BELOW) != 0) {
        removed += lb - old_value;
        --ninf;
        code = -1;
      }
      int32_t new_mark = mark & ~kInfeasibleMarks;
      if ((mark & RF_FREE_BASIC) == 0) {
        double placed_on = 0.0;
        bool place = false;
        if (value + ztolze < lb) {
          if ((mark & RF_INFEAS_BELOW) == 0 && value + rules.placement_tolerance > lb &&
              std::fabs(alpha) >= rules.placement_cap) {
            place = true;
            placed_on = lb;
          } else {
            new_mark |= RF_INFEAS_BELOW;
            removed += value - lb;
            ++ninf;
            code += 1;
          }
        } else if (ub < kInfiniteBound && value > ub + ztolze) {
          if ((mark & RF_INFEAS_ABOVE) == 0 && value <= ub + rules.placement_tolerance &&
              std::fabs(alpha) >= rules.placement_cap) {
            place = true;
            placed_on = ub;
          } else {
            new_mark |= RF_INFEAS_ABOVE;
            removed += ub - value;
            ++ninf;
            code -= 1;
          }
        }
        if (place) {
          // The value sits exactly on its bound; the right-hand side takes
          // the difference so that B x_B stays consistent.
          add_column_to_rhs(p, placed_on - value);
          ++shift_count;
          value = placed_on;
        }
      }
      marks[i] = new_mark;
      x_b[i] = value;
      if (rules.keep_x) x[p] = value;
      if (code != 0) record_infeasibility_change(i, code);
    }
  }
  // The leaving row's own infeasibility goes too when the step is zero.
  if (!rules.values_only) suminf -= removed;
  if (r > 0) w[r] = pivot_value;
  if (rules.overflow_on_lost_feasibility && ninf_at_start == 0 && infeasibility_changes.count > 0)
    infeasibility_changes.count = kChangeListOverflow;
  return std::fabs(theta);
}

// Reduced costs of every position from the duals in the work vector.
void reduced_costs_from_duals(OneBased<double> cost) {
  OneBased<double> y = work_vector();
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double s = sense_factor;
  const FactorOrder at;
  OneBased<int32_t> rows_of = int_array(ARR_FACTOR_ROWS);
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((status[i] & (PS_BASIC | PS_FIXED | PS_SEARCH_FIXED)) != 0) continue;
    d[i] = s * cost[i] + y[at(i)];
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) d[j] = s * cost[j];
  int_attribute(ATTR_NCOLS) = nseq - store.first_col + 1;
  OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> row_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> row_val = real_array(ARR_ROW_COPY_VAL);
  const int32_t dimension = factor.factor_dimension;
  for (int32_t k = 1; k <= dimension; ++k) {
    const double yk = y[k];
    if (yk == 0.0) continue;
    const int32_t i = at.permuted ? rows_of[k] : k;
    for (int32_t e = row_start[i]; e < row_start[i + 1]; ++e) d[row_col[e]] += yk * row_val[e];
  }
}

// Position j's column (a slack: 1 at its row) added with the given sign to
// phase1_values, by factor position.
void add_to_phase1_values(int32_t j, double sign) {
  OneBased<double> v = real_array(ARR_PHASE1_VALUES);
  const FactorOrder at;
  if (j < store.first_col) {
    v[at(j)] += sign;
    return;
  }
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = start[j]; e < start[j + 1]; ++e) v[at(elem_row[e])] += sign * elem_value[e];
}

}  // namespace

// ---------------------------------------------------------------------------

void update_after_pivot() {
  StepRules rules;
  if (ninf > 0 && shift_active == 0) {
    rules.placement_tolerance = kPhase1PlacementTolerance;
    rules.placement_cap = std::fabs(entering_reduced_cost / dcv(dc::BIGM));
  } else {
    rules.placement_tolerance = dcv(dc::ZTOLZS);
  }
  rules.leaving_weight = LeavingWeight::kAtMostOne;
  rules.leaving_reduced_cost = true;
  rules.overflow_on_lost_feasibility = true;
  apply_primal_step(rules);
}

void update_basic_values_primal() {
  phase1_marker = ninf;
  StepRules rules;
  rules.placement_tolerance = dcv(dc::ZTOLZS);
  rules.placement_cap = phase1_marker != 0 ? std::fabs(entering_reduced_cost / dcv(dc::BIGM)) : 0.0;
  apply_primal_step(rules);
}

void update_basic_values_qp(double curvature) {
  phase1_marker = ninf;
  StepRules rules;
  rules.placement_tolerance = dcv(dc::ZTOLZS);
  rules.placement_cap = phase1_marker != 0 ? std::fabs(entering_reduced_cost / dcv(dc::BIGM)) : 0.0;
  rules.leaving_weight = LeavingWeight::kAtLeastOne;
  rules.leaving_reduced_cost = true;
  rules.keep_x = true;
  // The rate covers the linear part only: along the edge the objective
  // changes by t g'p + t^2/2 p'Qp.
  const double moved = apply_primal_step(rules);
  objval += 0.5 * curvature * moved * moved;
}

void update_basic_values() {
  StepRules rules;
  rules.values_only = true;
  apply_primal_step(rules);
}

void negate_work_vector() {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) w[list[k]] = -w[list[k]];
}

int32_t check_reduced_cost_accuracy() {
  if (icv(ic::IDBDC) < 2) return 0;
  const int32_t q = entering_column;
  OneBased<double> dy = work_vector();
  const FactorOrder at;
  double largest = 0.0;
  if (q < store.first_col) {
    largest = std::fabs(dy[at(q)]);
  } else {
    OneBased<int32_t> start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    for (int32_t e = start[q]; e < start[q + 1]; ++e)
      largest = std::max(largest, std::fabs(elem_value[e] * dy[at(elem_row[e])]));
  }
  const double dj = std::fabs(dj_check_value);
  if (!(dj * dcv(dc::ZTOLMX) < largest && dj >= dcv(dc::ZTCOST))) return 0;
  if (icv(ic::IFMSG) != 0) {
    begin_message(MSG_REDUCED_COST_INACCURATE);
    insert_message_int(q);
    insert_message_real(largest / dj_check_value);
    emit_message();
  }
  return kReducedCostInaccurate;
}

int32_t store_pivot_eta(double column_sign) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  const int32_t r = leaving_row;
  // The eta is the column of the new basis, B^-1 a_q: a column held negated
  // for a decreasing entering variable would put -x_q at position r.
  const double sign = column_sign < 0.0 ? -1.0 : 1.0;
  int32_t count = 0;
  for (int32_t k = 1; k <= factor.work_vector_count; ++k)
    if (list[k] != r && w[list[k]] != 0.0) ++count;
  const int32_t top = eta_file.eta_capacity - eta_file.invert_part_size;
  // The callers test the room before they pivot; the test here only keeps
  // a full file from being overrun. Row etas of the other update form
  // cannot share the file with this one: the factor is rebuilt instead.
  if (static_cast<int64_t>(top) - count - 2 <= eta_file.u_file_end ||
      eta_file.row_eta_count > eta_file.product_form_count) {
    problem_flags &= ~PF_FACTOR_VALID;
    return UPDATE_ETA_FILE_FULL;
  }
  set_slot_low_word(top, count);
  rows[top - 1] = r;
  values[top - 1] = sign / w[r];
  int32_t s = top - 2;
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) {
    const int32_t i = list[k];
    if (i == r || w[i] == 0.0) continue;
    rows[s] = i;
    values[s] = sign * w[i];
    --s;
  }
  set_slot_high_word(top - 2 - count, count);
  eta_file.invert_part_size += count + 2;
  ++eta_file.row_eta_count;
  ++eta_file.product_form_count;
  row_eta_entries += count;
  return 0;
}

void compute_reduced_costs() { reduced_costs_from_duals(real_array(ARR_WORKING_COSTS)); }

void compute_reduced_costs_original() { reduced_costs_from_duals(real_array(ARR_OBJECTIVE)); }

void shift_dual_infeasibilities() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  const double t = dcv(dc::ZTCOST);
  const double band = 100.0 * dcv(dc::ZPCOST);
  const double s = sense_factor;
  nnegdj = 0;
  cost_shift_total = 0.0;
  auto visit = [&](int32_t j, double lo, double up) {
    const int32_t st = status[j];
    if ((st & kDualCountMask) != 0) return;
    const double dj = d[j];
    const bool at_upper = (st & PS_AT_UPPER) != 0;
    const bool free = (st & PS_FREE) != 0;
    auto shift = [&](double total_change, bool finite) {
      if (finite)
        cost_shift_total += total_change;
      else
        shift_active = 1;
      ++shift_count;
      cost[j] -= s * dj;
      d[j] = 0.0;
    };
    if (!at_upper && dj < -t) {
      if (dj > -band)
        shift(-dj * (up - lo), (st & PS_BOTH_FINITE) == PS_BOTH_FINITE);
      else
        ++nnegdj;
      return;
    }
    if (!at_upper && !free) return;
    if (dj < t) return;
    if (dj < band)
      shift(dj * (up - lo), (st & PS_FINITE_LOWER) != 0);
    else
      ++nnegdj;
  };
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t i = 1; i <= nrow; ++i) visit(i, lower[i], upper[i]);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  for (int32_t j = store.first_col; j <= nseq; ++j) visit(j, work_lower[j], work_upper[j]);
  entering_column = nnegdj > 0 ? 1 : 0;
}

void count_dual_infeasibilities() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> cost = real_array(ARR_WORKING_COSTS);
  OneBased<double> phase1 = real_array(ARR_PHASE1_VALUES);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  const double t = dcv(dc::ZTCOST);
  const double s = sense_factor;
  const bool strict = perturbation_phase > 3;
  const double suminf_before = suminf;
  double sum = 0.0;
  bool flipped = false;
  nnegdj = 0;
  near_zero_count = 0;
  for (int32_t i = 1; i <= nrow; ++i) phase1[i] = 0.0;

  auto visit = [&](int32_t j) {
    const bool row = j < store.first_col;
    int32_t& st = status[j];
    if ((st & kDualCountMask) != 0) return;
    st &= ~static_cast<int32_t>(PS_DUAL_MARK);
    const double dj = d[j];
    if (std::fabs(dj) < 100.0 * t) ++near_zero_count;
    const bool at_upper = (st & PS_AT_UPPER) != 0;
    const bool movable_both_ways = row ? (st & PS_FREE) != 0 : (st & (PS_FREE | PS_NONBASIC_BETWEEN)) != 0;
    auto mark_infeasible = [&](double amount, double sign) {
      ++nnegdj;
      sum += amount;
      st |= static_cast<int32_t>(PS_DUAL_MARK);
      add_to_phase1_values(j, sign);
    };
    auto shift_cost = [&]() {
      cost[j] -= s * dj;
      d[j] = 0.0;
      shift_count = std::max(shift_count, 1);
    };
    if (!at_upper && dj < -t) {
      const bool other_finite = row ? (st & PS_FINITE_UPPER) != 0 : work_upper[j] < kDualBoundLimit;
      if (other_finite) {
        st |= PS_AT_UPPER;
        if (!row) st &= ~PS_NONBASIC_BETWEEN;
        flipped = true;
      } else if (strict || dj <= -10.0 * t) {
        mark_infeasible(-dj, 1.0);
      } else if (!row && dj > -100.0 * t) {
        shift_cost();
      }
      return;
    }
    if (!at_upper && !movable_both_ways) return;
    if (dj < t) return;
    const bool other_finite = row ? (st & PS_FINITE_LOWER) != 0 : work_lower[j] > -kDualBoundLimit;
    if (other_finite) {
      st &= ~PS_AT_UPPER;
      if (!row) st &= ~PS_NONBASIC_BETWEEN;
      flipped = true;
    } else if (strict || dj >= 10.0 * t) {
      mark_infeasible(dj, -1.0);
    } else if (!row && dj < 100.0 * t) {
      shift_cost();
    }
  };
  OneBased<int32_t> rows_of = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && static_cast<bool>(rows_of);
  for (int32_t k = 1; k <= nrow; ++k) visit(permuted ? rows_of[k] : k);
  for (int32_t j = store.first_col; j <= nseq; ++j) visit(j);

  if (flipped) {
    compute_basic_values();
    check_basic_feasibility();
    if (nnegdj > 0) suminf = sum;
  } else {
    suminf = nnegdj == 0 ? suminf_before : sum;
  }
}

}  // namespace kl
