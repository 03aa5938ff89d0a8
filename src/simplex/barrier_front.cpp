#include "simplex/barrier_front.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "barrier/barrier_params.h"
#include "barrier/crossover/complete_crossover.h"
#include "barrier/driver.h"
#include "factor/basis.h"
#include "factor/crossover_state.h"
#include "factor/simplex_state.h"
#include "problem/array_ids.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "problem/setup.h"
#include "simplex/lp_driver.h"
#include "simplex/primal_driver.h"
#include "simplex/primal_pricing.h"

namespace kl {

BarrierFrontStats barrier_front_stats;

namespace {

bool finite(double bound) { return std::fabs(bound) < kInfiniteBound; }

uint32_t word(OneBased<int32_t> status, int32_t p) { return static_cast<uint32_t>(status[p]); }

// 1-based pointers as run_barrier takes them: element 1 of the argument is
// element `first` of the library's array.
template <class T>
T* from(OneBased<T> a, int32_t first) {
  return a ? a.data() + (first - 2) : nullptr;
}
template <class T>
T* by_position(OneBased<T> a) {
  return from(a, 1);
}

// Qx over the stored upper lists (an off-diagonal entry is held once there
// and counts for both of its columns), by position.
std::vector<double> quadratic_products(OneBased<double> x) {
  std::vector<double> qx(static_cast<size_t>(nseq) + 1, 0.0);
  if (nqelem <= 0) return qx;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> q = real_array(ARR_QUAD_VALUES);
  if (!start || !index || !q) return qx;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((word(status, j) & PS_QUADRATIC) == 0) continue;
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const int32_t i = index[k];
      if (i < store.first_col || i > nseq) continue;
      qx[static_cast<size_t>(j)] += q[k] * x[i];
      if (i != j) qx[static_cast<size_t>(i)] += q[k] * x[j];
    }
  }
  return qx;
}

// x'Qx over the stored upper lists.
double quadratic_form(OneBased<double> x) {
  const std::vector<double> qx = quadratic_products(x);
  double sum = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) sum += x[j] * qx[static_cast<size_t>(j)];
  return sum;
}

// The positions the barrier leaves between their bounds are nonbasic
// between them, so that every reader takes their values as they stand
// rather than a bound; a value exactly at a bound stays there.
void mark_positions_without_basis() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  const auto mark = [&](int32_t p) {
    uint32_t s = word(status, p) & ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
    if ((s & PS_FIXED) == 0) {
      if (finite(upper[p]) && x[p] == upper[p] && x[p] != lower[p])
        s |= PS_AT_UPPER;
      else if (!(finite(lower[p]) && x[p] == lower[p]))
        s |= PS_NONBASIC_BETWEEN;
    }
    status[p] = static_cast<int32_t>(s);
  };
  for (int32_t i = 1; i <= nrow; ++i) mark(i);
  for (int32_t j = store.first_col; j <= nseq; ++j) mark(j);
}

// The barrier drops free rows; their slacks are what the columns make of
// them, and their duals are 0.
void settle_free_rows() {
  OneBased<double> work = work_vector();
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  OneBased<double> value = real_array(ARR_ELEM_VALUE);
  std::vector<char> free_row(static_cast<size_t>(nrow) + 1, 0);
  bool any = false;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (finite(lower[i]) || finite(upper[i])) continue;
    free_row[static_cast<size_t>(i)] = 1;
    any = true;
    x[i] = rhs[i];
    d[i] = 0.0;
    work[i] = 0.0;
  }
  if (!any) return;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    for (int32_t k = start[j]; k < start[j + 1]; ++k)
      if (free_row[static_cast<size_t>(row[k])] != 0) x[row[k]] -= value[k] * x[j];
}

}  // namespace

BarrierOutcome map_barrier_status(int32_t barrier_status, bool search) {
  BarrierOutcome o;
  switch (barrier_status) {
    case BARRIER_OPTIMAL:
      o.letter = kLetterOptimal;
      o.lp_status = LP_OPTIMAL;
      break;
    case BARRIER_UNBOUNDED:
      o.message = MSG_OUTCOME_UNBOUNDED;
      o.letter = kLetterUnbounded;
      o.lp_status = LP_UNBOUNDED;
      break;
    case BARRIER_INFEASIBLE:
      o.message = MSG_OUTCOME_INFEASIBLE;
      o.letter = kLetterInfeasible;
      o.lp_status = LP_UNFINISHED;
      break;
    case BARRIER_GO_ON:
      // Stopped by the caller's callback or an interrupt.
      o.letter = kLetterStopped;
      break;
    case BARRIER_STOPPED:
      o.message = MSG_LP_ITERATION_LIMIT;
      o.letter = search ? kLetterInfeasible : kLetterUnfinished;
      if (search) o.lp_status = LP_UNFINISHED;
      break;
    case BARRIER_ITERATION_LIMIT:
    case BARRIER_NUMERICAL_FAILURE:
      // Unfinished: a search takes it as a node without a solution, any
      // other caller as a failure.
      o.message = barrier_status == BARRIER_ITERATION_LIMIT ? MSG_BARRIER_UNFINISHED : MSG_BARRIER_NUMERICAL_TROUBLE;
      if (search) {
        o.letter = kLetterInfeasible;
        o.lp_status = LP_UNFINISHED;
      } else {
        o.status_word = true;
      }
      break;
    case BARRIER_NOT_CONVEX:
      // Nothing was solved: the problem is outside what the barrier solves.
      o.message = MSG_BARRIER_NOT_CONVEX;
      o.status_word = true;
      break;
    default:
      if (barrier_status < 0) {
        o.message = MSG_BARRIER_SPACE_SHORT;
        o.status_word = true;
      }
      break;
  }
  return o;
}

BarrierSolutionCheck verify_barrier_solution(double tolerance, double constant) {
  BarrierSolutionCheck c;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  OneBased<double> value = real_array(ARR_ELEM_VALUE);
  const double sense = sense_factor;
  const auto rows = static_cast<size_t>(nrow) + 1;

  // The measures are taken in the caller's units, where the tolerances
  // mean what they say: a stored value times f is the caller's (a column's
  // scale factor, the inverse of a row's), a stored reduced cost divided by
  // f is, and a row's sums carry its factor 1/f.
  std::vector<double> f(static_cast<size_t>(nseq) + 1, 1.0);
  for (int32_t i = 1; i <= nrow; ++i)
    f[static_cast<size_t>(i)] =
        scale_power(static_cast<uint32_t>(2 * kNeutralScaleExponent - scale_exponent(status[i])));
  for (int32_t j = store.first_col; j <= nseq; ++j)
    f[static_cast<size_t>(j)] = scale_power(static_cast<uint32_t>(scale_exponent(status[j])));
  const auto factor = [&f](int32_t p) { return f[static_cast<size_t>(p)]; };

  const std::vector<double> qx = quadratic_products(x);
  double linear = 0.0;
  double half_xqx = 0.0;
  double largest_cost = 0.0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    linear += cost[j] * x[j];
    half_xqx += 0.5 * x[j] * qx[static_cast<size_t>(j)];
    largest_cost = std::max(largest_cost, std::fabs(cost[j]) / factor(j));
  }
  c.half_xqx = half_xqx;
  c.objective = constant + linear + half_xqx;

  // Rows: b - Ax - s, relative to the largest term it sums.
  std::vector<double> residual(rows, 0.0), size(rows, 0.0);
  for (int32_t i = 1; i <= nrow; ++i) {
    residual[static_cast<size_t>(i)] = rhs[i] - x[i];
    size[static_cast<size_t>(i)] = std::max(std::fabs(rhs[i]), std::fabs(x[i]));
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const auto i = static_cast<size_t>(row[k]);
      const double term = value[k] * x[j];
      residual[i] -= term;
      size[i] = std::max(size[i], std::fabs(term));
    }
  }
  for (int32_t i = 1; i <= nrow; ++i) {
    if (!finite(lower[i]) && !finite(upper[i])) continue;
    const auto u = static_cast<size_t>(i);
    c.row_residual = std::max(c.row_residual, std::fabs(residual[u]) * f[u] / (1.0 + size[u] * f[u]));
  }

  // Reduced costs: d_j = sense (c_j + (Qx)_j) + sum_i d_i a_ij, where a
  // row's stored value is -sense y_i; bounds, dual signs and the gap by
  // position.
  const double objective_size = 1.0 + std::fabs(linear + half_xqx);
  double gap = 0.0;
  const auto judge = [&](int32_t p) {
    const double fp = factor(p);
    const double lo = lower[p] * fp;
    const double up = upper[p] * fp;
    const double v = x[p] * fp;
    if (finite(lower[p])) c.bound_violation = std::max(c.bound_violation, (lo - v) / (1.0 + std::fabs(lo)));
    if (finite(upper[p])) c.bound_violation = std::max(c.bound_violation, (v - up) / (1.0 + std::fabs(up)));
    const double dp = d[p] / fp;
    if (dp > 0.0) {
      if (finite(lower[p]))
        gap += dp * std::fabs(v - lo);
      else
        c.dual_infeasibility = std::max(c.dual_infeasibility, dp / (1.0 + largest_cost));
    } else if (dp < 0.0) {
      if (finite(upper[p]))
        gap -= dp * std::fabs(up - v);
      else
        c.dual_infeasibility = std::max(c.dual_infeasibility, -dp / (1.0 + largest_cost));
    }
  };
  for (int32_t i = 1; i <= nrow; ++i) judge(i);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    double expected = sense * (cost[j] + qx[static_cast<size_t>(j)]);
    double magnitude = std::fabs(cost[j]) + std::fabs(qx[static_cast<size_t>(j)]);
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const double term = d[row[k]] * value[k];
      expected += term;
      magnitude += std::fabs(term);
    }
    const double fj = factor(j);
    c.dual_residual = std::max(c.dual_residual, std::fabs(d[j] - expected) / fj / (1.0 + magnitude / fj));
    // A fixed column carries any reduced cost.
    if ((word(status, j) & PS_FIXED) == 0 || lower[j] != upper[j]) judge(j);
  }
  c.gap = gap / objective_size;
  c.passed = c.row_residual <= tolerance && c.bound_violation <= tolerance && c.dual_residual <= tolerance &&
             c.dual_infeasibility <= tolerance && c.gap <= tolerance;
  return c;
}

bool confirm_postsolved_barrier_optimum() {
  const BarrierSolutionCheck check = verify_barrier_solution(dcv(dc::ZTOLZE), dcv(kObjectiveConstantSlot));
  barrier_front_stats.last_check = check;
  if (check.passed) return true;
  ++barrier_front_stats.unverified_postsolved;
  if (icv(ic::IQUIET) == 0) {
    begin_message(MSG_BARRIER_POSTSOLVE_UNVERIFIED);
    insert_message_real(std::max({check.row_residual, check.bound_violation}));
    insert_message_real(std::max({check.dual_residual, check.dual_infeasibility}));
    insert_message_real(check.gap);
    emit_message();
  }
  return false;
}

void barrier_front(int32_t mode, int32_t& crossover_flag) {
  crossover_flag = integer_set_flags[ic::CROSS] > 0 ? icv(ic::CROSS) : -1;
  crossover_phase = 0;
  if (!require_problem()) return;
  prepare_simplex_tolerances(mode);
  factor.factor_permuted = 0;

  // Every position non-basic at its lower bound until the solution says
  // otherwise.
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p)
    status[p] = static_cast<int32_t>(word(status, p) & ~(PS_BASIC | PS_AT_UPPER));
  problem_flags &= ~(PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
  status_letter = kLetterUnbounded;
  // An unbounded verdict of the barrier names no entering column.
  entering_column = 0;
  if (status_code != STATUS_OK) return;
  barrier_int_attributes[5] = 0;

  const bool presolved = (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0;
  // The constant of the columns fixed by the bound pass is already in the
  // barrier's objective (they are columns there); presolve's is not.
  const double constant = dcv(kObjectiveConstantSlot) + (presolved ? dcv(kSecondObjectiveConstantSlot) : 0.0);
  const int32_t row_count = nrow;
  const int32_t first_col = store.first_col;
  const int32_t last_col = nseq;
  const int32_t sense = sense_factor < 0.0 ? -1 : 1;
  const int32_t icrash = icv(ic::ICRASH);
  const int32_t caller_block_size = 0;
  const double infinite_bound = kInfinity;
  int32_t quad_col_count = 0;
  int32_t quad_nz = 0;
  int32_t barrier_status = BARRIER_GO_ON;
  double barrier_objective = 0.0;

  // The symmetric Q by position, both triangles of a column together (the
  // library keeps the upper lists of all columns before their lower lists):
  // rows have empty lists.
  std::vector<int32_t> quad_start, quad_index;
  std::vector<double> quad_value;
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> stored_index = int_array(ARR_QUAD_INDEX);
  OneBased<double> stored_value = real_array(ARR_QUAD_VALUES);
  if (nqelem > 0 && upper_start && lower_start && stored_index && stored_value) {
    quad_start.assign(static_cast<size_t>(nseq) + 2, 1);
    quad_index.push_back(0);
    quad_value.push_back(0.0);
    const auto append = [&](int32_t from, int32_t to) {
      for (int32_t k = from; k < to; ++k) {
        quad_index.push_back(stored_index[k]);
        quad_value.push_back(stored_value[k]);
      }
    };
    for (int32_t j = first_col; j <= nseq; ++j) {
      quad_start[static_cast<size_t>(j)] = static_cast<int32_t>(quad_index.size());
      append(lower_start[j], lower_start[j + 1]);
      append(upper_start[j], upper_start[j + 1]);
    }
    quad_start[static_cast<size_t>(nseq) + 1] = static_cast<int32_t>(quad_index.size());
  }

  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<double> objective = real_array(ARR_OBJECTIVE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> duals = real_array(ARR_PHASE1_VALUES);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<double> work = work_vector();
  // The row prices are single precision, in a block of one double per row.
  OneBased<double> row_prices(array_cells[ARR_ROW_PRICES]);

  ++barrier_front_stats.runs;
  run_barrier(&row_count, &first_col, &last_col, &quad_col_count, &quad_nz, from(col_start, first_col),
              int_array(ARR_ELEM_ROW).data() - 1, real_array(ARR_ELEM_VALUE).data() - 1,
              quad_start.empty() ? nullptr : quad_start.data(), quad_index.empty() ? nullptr : quad_index.data(),
              quad_value.empty() ? nullptr : quad_value.data(), by_position(real_array(ARR_RHS)), from(objective, first_col),
              &sense, &constant, from(lower, first_col), by_position(lower), from(upper, first_col),
              by_position(upper), by_position(real_array(ARR_PIVOT_ROW)), by_position(duals), by_position(d),
              by_position(real_array(ARR_WORKING_COSTS)), by_position(work), by_position(row_prices),
              by_position(real_array(ARR_ROW_WEIGHTS)), by_position(int_array(ARR_SCALE_WORK)),
              by_position(col_start), by_position(real_array(ARR_X)), &infinite_bound, &barrier_status,
              &barrier_objective, nullptr, &caller_block_size, &crossover_flag, &icrash,
              from(status, first_col));
  // The borrowed arrays hold nothing the simplex can use.
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_CLEAR_ALL;
  barrier_front_stats.last_barrier_status = barrier_status;
  barrier_front_stats.last_quadratic_flag = quad_col_count;
  objval = barrier_objective;

  // The finite-bound bits of every column not fixed, as the bounds now are.
  for (int32_t j = first_col; j <= nseq; ++j) {
    uint32_t s = word(status, j);
    if ((s & PS_FIXED) != 0) continue;
    if (upper[j] < kInfinity) s = (s | PS_FINITE_UPPER) & ~PS_FREE;
    if (lower[j] > -kInfinity) s = (s | PS_FINITE_LOWER) & ~PS_FREE;
    status[j] = static_cast<int32_t>(s);
  }
  if (status_code != STATUS_OK) return;

  const bool quiet = icv(ic::IQUIET) != 0;
  const bool quadratic = quad_col_count > 0;
  const bool solution = barrier_status >= 0;
  bool crossover_failed = false;
  if (solution && crossover_flag > 0) {
    for (int32_t i = 1; i <= nrow; ++i) work[i] = duals[i];
    const bool admits = barrier_status == BARRIER_STOPPED || barrier_status == BARRIER_OPTIMAL ||
                        barrier_status >= BARRIER_ITERATION_LIMIT;
    if (admits) {
      // A quadratic problem ends without a basis whatever the crossover
      // makes of it: its answer is the barrier's own point, kept aside.
      std::vector<double> kept_x, kept_d;
      const int32_t kept_status = barrier_status;
      OneBased<double> x = real_array(ARR_X);
      if (quadratic) {
        kept_x.assign(x.data(), x.data() + nseq);
        kept_d.assign(d.data(), d.data() + nseq);
      }
      const double half_xqx = quadratic ? 0.5 * quadratic_form(x) : 0.0;
      ++barrier_front_stats.crossovers;
      complete_crossover(mode, barrier_status, barrier_objective, half_xqx);
      barrier_front_stats.last_crossover_status = barrier_status;
      crossover_flag = barrier_status == kCrossoverDone ? 1 : 0;
      crossover_failed = barrier_status < 0;
      if (quadratic) {
        std::copy(kept_x.begin(), kept_x.end(), x.data());
        std::copy(kept_d.begin(), kept_d.end(), d.data());
        for (int32_t i = 1; i <= nrow; ++i) work[i] = duals[i];
        barrier_status = kept_status;
        crossover_failed = false;
        crossover_flag = 0;
      }
      if (crossover_flag == 0) problem_flags &= ~PF_FACTOR_VALID;
    } else {
      crossover_flag = 0;
    }
  } else if (crossover_flag > 0) {
    crossover_flag = 0;
  }
  if (solution && crossover_flag <= 0) {
    // The barrier returns the duals and reduced costs of the caller's
    // objective (sense x those of the minimisation it solved); the simplex
    // keeps those of its minimisation: -sense_factor x y_i at a row, kept in
    // the work vector too, from which postsolve maps the duals, and
    // sense_factor x (c + Qx - A'y) at a column.
    for (int32_t i = 1; i <= nrow; ++i) {
      const double v = -sense_factor * duals[i];
      d[i] = v;
      work[i] = v;
    }
    for (int32_t j = first_col; j <= nseq; ++j) d[j] *= sense_factor;
    settle_free_rows();
    mark_positions_without_basis();
    // Whatever follows, the statuses hold no basis now; the driver's early
    // returns (a status word) leave the barrier's values readable as such.
    problem_flags |= PF_NO_BASIS;
    lp_driver.no_basis = 1;
    ++barrier_front_stats.solutions_without_basis;
  }

  if (crossover_flag <= 0 && barrier_status == BARRIER_OPTIMAL) {
    const BarrierSolutionCheck check = verify_barrier_solution(dcv(dc::ZTOLZE), constant);
    barrier_front_stats.last_check = check;
    // The objective of the point returned, whatever the barrier's own
    // bookkeeping made of it.
    objval = check.objective;
    if (!check.passed) {
      ++barrier_front_stats.unverified_optima;
      barrier_status = BARRIER_ITERATION_LIMIT;
    }
  }

  if (crossover_flag <= 0) {
    // A failed refactorisation of the crossover reads as a failure of the
    // barrier's own, never as its status of the same number.
    const BarrierOutcome outcome = map_barrier_status(crossover_failed ? BARRIER_SPACE_SHORT : barrier_status,
                                                      (problem_flags & PF_SEARCH_RUNNING) != 0);
    if (outcome.message != 0 && !quiet) {
      begin_message(outcome.message);
      if (outcome.message == MSG_BARRIER_SPACE_SHORT) {
        insert_message_int(barrier_status);
        insert_message_int(0);
      }
      emit_message();
    }
    if (outcome.letter != 0) status_letter = outcome.letter;
    if (outcome.lp_status != 0) lp_status = outcome.lp_status;
    if (outcome.status_word) status_code = STATUS_REPORTED;
  }

  itcnt = 0;
  OneBased<int32_t> marks = int_array(ARR_SCALE_WORK);
  if (marks)
    for (int32_t p = 1; p <= nseq; ++p) marks[p] = 0;

  if (!quadratic && crossover_flag == 1) {
    // The primal simplex finishes from the crossover's basis, without cost
    // perturbation and, unless the user chose otherwise, with reference
    // pricing.
    const int32_t kept_perturbation = icv(ic::IPETRB);
    const int32_t kept_pricing = icv(ic::IPHSF);
    icv(ic::IPETRB) = 0;
    if (integer_set_flags[ic::IPHSF] <= 0) icv(ic::IPHSF) = 1;
    if (icv(ic::INOINV) != 0) reset_pricing_weights_alt();
    primal_simplex(mode);
    icv(ic::IPHSF) = kept_pricing;
    icv(ic::IPETRB) = kept_perturbation;
  }
  crossover_mode = 0;
}

}  // namespace kl
