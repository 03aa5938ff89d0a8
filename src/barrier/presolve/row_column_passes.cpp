// The first four passes of the barrier presolve's round loop: singleton
// rows, column singletons, forcing rows and dominated columns.
#include <cmath>

#include "barrier/presolve/presolve_data.h"

namespace kl {

namespace {

double slack_lower(const PresolveData& d, int32_t i) { return d.lower[d.n + i]; }
double slack_upper(const PresolveData& d, int32_t i) { return d.upper[d.n + i]; }

// Ends a pass with a verdict on `culprit` (a position).
int32_t verdict(PresolveData& d, int32_t result, int32_t culprit) {
  d.candidate_count = -culprit;
  return result;
}

// Fixes column j at v: recorded with `state`, taken out of its rows with
// the right-hand sides absorbing v.
void fix_column(PresolveData& d, int32_t j, double v, int32_t state) {
  record_presolve_removal(d, j, state);
  detach_presolve_line(d, j, d.rhs, v, true);
  *d.objective_constant += v * d.cost[j];
}

// Removes row i after its column has been taken out, touching and queueing
// its other columns as the caller asks.
void remove_row(PresolveData& d, int32_t i, int32_t state) {
  record_presolve_removal(d, d.n + i, state);
  detach_presolve_line(d, d.n + i, nullptr, 0.0, false);
}

}  // namespace

int32_t presolve_singleton_rows(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const double fl = d.finite_limit;
  const double presfeas = d.params->PRESFEAS;
  while (d.candidate_count > 0) {
    const int32_t r = pop_presolve_candidate(d);
    const int32_t q = n + r;
    if (d.var_state[q] < -1 || d.factor_first[q] != d.factor_last[q]) continue;
    const int32_t j = d.row_index[d.factor_first[q]];
    const double a = d.row_value[d.factor_first[q]];
    detach_presolve_line(d, q, nullptr, 0.0, false);
    record_presolve_removal(d, q, -(12 + pass + j));

    const double b = d.rhs[r];
    const double sup = slack_upper(d, r);
    const double slo = slack_lower(d, r);
    const double big_u = sup >= fl ? sup : b + sup;
    const double big_l = slo <= -fl ? slo : b + slo;
    double lo_new;
    double up_new;
    if (a > 0.0) {
      up_new = big_u < fl ? big_u / a : big_u;
      lo_new = big_l > -fl ? big_l / a : big_l;
    } else {
      lo_new = big_u >= fl ? -big_u : big_u / a;
      up_new = big_l <= -fl ? -big_l : big_l / a;
    }
    add_column_activity(d, j, d.upper[j], d.lower[j], -1);
    double lo = d.lower[j];
    double up = d.upper[j];
    if (lo_new <= lo) {
      d.lower[q] = 0.0;
    } else {
      lo = lo_new;
      d.lower[q] = a;
    }
    if (up <= up_new) {
      d.upper[q] = 0.0;
    } else {
      up = up_new;
      d.upper[q] = a;
    }
    if ((std::fabs(lo) + 1.0) * presfeas < lo - up) {
      d.lower[j] = lo;
      d.upper[j] = up;
      return verdict(d, kPresolveInfeasible, q);
    }
    if (up - lo >= (std::fabs(lo) + 1.0) * kPresolveTiny) {
      add_column_activity(d, j, up, lo, 1);
    } else {
      fix_column(d, j, lo, -(2 + pass));
      for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
        const int32_t row = n + d.factor_index[e];
        if (d.factor_first[row] == d.factor_last[row]) queue_presolve_candidate(d, row, pass);
      }
    }
    d.lower[j] = lo;
    d.upper[j] = up;
    for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) touch_presolve_line(d, n + d.factor_index[e], pass);
    if (d.var_state[j] >= -1) touch_presolve_line(d, j, pass);
  }
  return kPresolveDone;
}

int32_t presolve_singleton_columns(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const double fl = d.finite_limit;
  const double presfeas = d.params->PRESFEAS;
  while (d.candidate_count > 0) {
    const int32_t j = pop_presolve_candidate(d);
    if (d.var_state[j] < -1 || d.factor_first[j] != d.factor_last[j] || d.quad_mark[j] >= 1) continue;
    const int32_t i = d.factor_index[d.factor_first[j]];
    const int32_t q = n + i;
    const double a = d.factor_value[d.factor_first[j]];
    const double ap = a <= 0.0 ? -a : a;
    const double lop = a <= 0.0 ? -d.upper[j] : d.lower[j];
    const double upp = a <= 0.0 ? -d.lower[j] : d.upper[j];
    const double cp = a <= 0.0 ? -d.cost[j] : d.cost[j];
    const double b = d.rhs[i];
    double slo = slack_lower(d, i);
    double sup = slack_upper(d, i);
    const bool lo_finite = lop > -fl;
    const bool up_finite = upp < fl;

    bool substitute = !lo_finite && !up_finite;
    if (!substitute) {
      // Range of the rest of the row, t = sum_{k != j} a_ik x_k - s_i.
      double smallest = d.min_activity[i];
      double count = d.min_infinite[i];
      if (lo_finite) {
        smallest -= lop * ap;
      } else {
        count -= 1.0;
      }
      if (sup <= fl) {
        smallest -= sup;
      } else {
        count += 1.0;
      }
      if (count > 0.0) smallest = -fl;
      double largest = d.max_activity[i];
      count = d.max_infinite[i];
      if (up_finite) {
        largest -= upp * ap;
      } else {
        count -= 1.0;
      }
      if (slo >= -fl) {
        largest -= slo;
      } else {
        count += 1.0;
      }
      if (count > 0.0) largest = fl;
      const double implied_lower = (b - largest) / ap;
      const double implied_upper = (b - smallest) / ap;
      substitute = (!lo_finite || (std::fabs(lop) + 1.0) * presfeas >= lop - implied_lower) &&
                   (!up_finite || implied_upper - upp <= (std::fabs(upp) + 1.0) * presfeas);
    }
    // Refused: moving x_j's bounds onto x_k lets x_k rest at a bound it does not have, whose reduced cost then
    // certifies nothing; a transfer that keeps the duals sound is an implied-free substitution above.
    if (constexpr bool kTransferThroughDoubletons = false; kTransferThroughDoubletons && !substitute &&
        (d.flags & kPresolveDoubletons) != 0 && d.factor_last[q] - d.factor_first[q] == 1) {
      const double range = sup - slo;
      if (range <= fl && range <= (std::fabs(slo) + 1.0) * presfeas) {
        const int32_t f = d.factor_first[q];
        const bool j_first = d.row_index[f] == j;
        const int32_t k = j_first ? d.row_index[f + 1] : d.row_index[f];
        const double aj = j_first ? d.row_value[f] : d.row_value[f + 1];
        const double ak = j_first ? d.row_value[f + 1] : d.row_value[f];
        if (std::fabs(aj) > kPresolveTiny && std::fabs(ak) > kPresolveTiny) {
          // x_j = r - ratio x_k carries x_j's bounds onto x_k.
          const double ratio = ak / aj;
          const double r = (b + slo) / aj;
          add_column_activity(d, k, d.upper[k], d.lower[k], -1);
          if (d.upper[j] < fl) {
            const double v = (r - d.upper[j]) / ratio;
            if (ratio <= 0.0) {
              if (v < d.upper[k]) d.upper[k] = v;
            } else if (v > d.lower[k]) {
              d.lower[k] = v;
            }
          }
          if (d.lower[j] > -fl) {
            const double v = (r - d.lower[j]) / ratio;
            if (ratio <= 0.0) {
              if (v > d.lower[k]) d.lower[k] = v;
            } else if (v < d.upper[k]) {
              d.upper[k] = v;
            }
          }
          if ((std::fabs(d.lower[k]) + 1.0) * presfeas < d.lower[k] - d.upper[k]) {
            return verdict(d, kPresolveInfeasible, q);
          }
          add_column_activity(d, k, d.upper[k], d.lower[k], 1);
          substitute = true;
        }
      }
    }
    if (!substitute) continue;

    // The row's dual is fixed by the column's cost; the slack goes where
    // that dual sends it.
    const double y = cp / ap;
    if (std::fabs(y) <= kPresolveTiny) {
      if (sup <= fl) {
        slo = sup;
      } else if (slo >= -fl) {
        sup = slo;
      } else {
        slo = sup = 0.0;
      }
    } else if (y < 0.0) {
      if (sup > fl) return verdict(d, kPresolveUnbounded, j);
      slo = sup;
    } else {
      if (slo < -fl) return verdict(d, kPresolveUnbounded, j);
      sup = slo;
    }
    d.lower[q] = slo;
    d.upper[q] = sup;
    d.rhs[i] += slo;

    record_presolve_removal(d, j, -(2 + pass));
    detach_presolve_line(d, j, nullptr, 0.0, false);
    *d.objective_constant += y * d.rhs[i];
    record_presolve_removal(d, q, -(2 + pass));
    detach_presolve_line(d, q, d.cost, y, true);
    for (int32_t e = d.factor_first[q]; e <= d.factor_last[q]; ++e) {
      const int32_t k = d.row_index[e];
      touch_presolve_line(d, k, pass);
      if (d.factor_first[k] == d.factor_last[k]) queue_presolve_candidate(d, k, pass);
    }
  }
  return kPresolveDone;
}

int32_t presolve_forcing_rows(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const double fl = d.finite_limit;
  const double presfeas = d.params->PRESFEAS;
  while (d.candidate_count > 0) {
    const int32_t r = pop_presolve_candidate(d);
    const int32_t q = n + r;
    if (d.var_state[q] < -1) continue;
    const double b = d.rhs[r];
    const double largest = d.max_infinite[r] < 1.0 ? d.max_activity[r] - b : fl;
    const double smallest = d.min_infinite[r] < 1.0 ? d.min_activity[r] - b : -fl;
    const double tol = (std::fabs(b) + 1.0) * presfeas;
    const double slo = slack_lower(d, r);
    const double sup = slack_upper(d, r);
    if (smallest - sup > tol || slo - largest > tol) return verdict(d, kPresolveInfeasible, q);
    int32_t direction;
    if (sup - smallest < tol) {
      direction = -1;
    } else if (largest - slo < tol) {
      direction = 1;
    } else if (slo - smallest < tol && largest - sup < tol) {
      direction = 0;
    } else {
      continue;
    }
    remove_row(d, r, -(2 + pass));
    if (direction == 0) {
      for (int32_t e = d.factor_first[q]; e <= d.factor_last[q]; ++e) touch_presolve_line(d, d.row_index[e], pass);
      continue;
    }
    for (int32_t e = d.factor_first[q]; e <= d.factor_last[q]; ++e) {
      const int32_t k = d.row_index[e];
      const double a = d.row_value[e];
      const double v = direction * a > 0.0 ? d.upper[k] : d.lower[k];
      add_column_activity(d, k, d.upper[k], d.lower[k], -1);
      d.lower[k] = v;
      d.upper[k] = direction;
      fix_column(d, k, v, -(2 + pass));
      for (int32_t t = d.factor_first[k]; t <= d.factor_last[k]; ++t) {
        const int32_t row = n + d.factor_index[t];
        touch_presolve_line(d, row, pass);
        queue_presolve_candidate(d, row, pass);
      }
    }
  }
  return kPresolveDone;
}

int32_t presolve_dominated_columns(PresolveData& d, int32_t pass) {
  const int32_t n = d.n;
  const double fl = d.finite_limit;
  while (d.candidate_count > 0) {
    const int32_t j = pop_presolve_candidate(d);
    if (d.var_state[j] < -1 || d.quad_mark[j] >= 1) continue;
    const double c = d.cost[j];
    const double lo = d.lower[j];
    const double up = d.upper[j];
    double v = 0.0;
    int32_t g = 0;
    bool left_alone = false;
    for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
      const double a = d.factor_value[e];
      if (std::fabs(a) <= kPresolveTiny) continue;
      const int32_t i = d.factor_index[e];
      int32_t s;
      if (slack_upper(d, i) > fl) {
        s = 1;
      } else if (slack_lower(d, i) < -fl) {
        s = -1;
      } else {
        left_alone = true;
        break;
      }
      const int32_t direction = (a > 0.0 ? 1 : -1) * s;
      if (g == 0) {
        g = direction;
        if (g * c > 0.0) {
          left_alone = true;
          break;
        }
      } else if (direction != g) {
        left_alone = true;
        break;
      }
    }
    if (left_alone) continue;
    if (g == 1) {
      v = up;
    } else if (g == -1) {
      v = lo;
    } else if (c < 0.0) {
      v = up;
    } else if (c > 0.0) {
      v = lo;
    } else {
      v = up < fl ? lo : up;
    }
    add_column_activity(d, j, up, lo, -1);
    record_presolve_removal(d, j, -(2 + pass));
    const bool finite = std::fabs(v) <= fl;
    detach_presolve_line(d, j, d.rhs, finite ? v : 0.0, true);
    if (finite) {
      for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
        touch_presolve_line(d, n + d.factor_index[e], pass);
      }
      *d.objective_constant += v * c;
      d.lower[j] = d.upper[j] = v;
      continue;
    }
    if (std::fabs(c) > kPresolveTiny) return verdict(d, kPresolveUnbounded, j);
    // At no cost the column absorbs whatever its rows need: they go with
    // it, and the restoration gives it the value.
    for (int32_t e = d.factor_first[j]; e <= d.factor_last[j]; ++e) {
      if (std::fabs(d.factor_value[e]) <= kPresolveTiny) continue;
      const int32_t q = n + d.factor_index[e];
      if (d.var_state[q] < -1) continue;
      remove_row(d, d.factor_index[e], -(2 + pass));
      for (int32_t t = d.factor_first[q]; t <= d.factor_last[q]; ++t) {
        const int32_t k = d.row_index[t];
        touch_presolve_line(d, k, pass);
        queue_presolve_candidate(d, k, pass);
      }
    }
  }
  return kPresolveDone;
}

}  // namespace kl
