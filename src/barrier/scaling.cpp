#include "barrier/scaling.h"

#include <cmath>
#include <utility>

namespace kl {

namespace {

// One scaling call's view of the problem. Positions: column j, row i at
// n + i; `factor`, `count`, `log_sum`, `previous` and `residual` are indexed
// by position.
struct ScalingPass {
  const barrier_params& params;
  int32_t n;
  int32_t m;
  const int32_t* matrix_start;
  int32_t* row_of;      // factor_index: row 1..m of each entry
  double* value;        // factor_value
  const int32_t* var_state;
  double signore;
  double* factor;       // upper_residual
  int32_t* count;       // int_work_a
  double* log_sum;      // dz
  double* previous;     // dw
  double* residual;     // push_work

  bool active(int32_t position) const { return var_state[position] > -2; }
  int32_t first(int32_t j) const { return matrix_start[j]; }
  int32_t last(int32_t j) const { return matrix_start[j + 1] - 1; }
  int32_t row_position(int32_t entry) const { return n + row_of[entry]; }
  void swap_entries(int32_t a, int32_t b) {
    std::swap(row_of[a], row_of[b]);
    std::swap(value[a], value[b]);
  }
  // The largest |a| of column j over entries first..end, at least 1.
  double column_max(int32_t j, int32_t end, bool active_rows_only) const {
    double big = 0.0;
    for (int32_t k = first(j); k <= end; ++k) {
      if (active_rows_only && !active(row_position(k))) continue;
      big = std::max(big, std::fabs(value[k]));
    }
    return big < 1.0 ? 1.0 : big;
  }
  // Divides every entry of every column by its column's and its row's
  // factor.
  void divide_by_factors() {
    for (int32_t j = 1; j <= n; ++j) {
      for (int32_t k = first(j); k <= last(j); ++k) value[k] /= factor[j] * factor[row_position(k)];
    }
  }
  void clear_counts() {
    for (int32_t k = 1; k <= n + m; ++k) count[k] = 0;
  }
};

// Column largest-entry pass: each active column divided by its largest
// entry over active rows.
void scale_columns_by_largest(ScalingPass& s) {
  for (int32_t j = 1; j <= s.n; ++j) {
    if (!s.active(j)) continue;
    double d = 0.0;
    for (int32_t k = s.first(j); k <= s.last(j); ++k) {
      if (s.active(s.row_position(k))) d = std::max(d, std::fabs(s.value[k]));
    }
    if (d <= s.params.TZER) d = 1.0;
    s.factor[j] *= d;
    for (int32_t k = s.first(j); k <= s.last(j); ++k) s.value[k] /= d;
  }
}

// Row largest-entry pass: each active row divided by its largest entry over
// active columns. The row maxima wait in `log_sum`, free by now.
void scale_rows_by_largest(ScalingPass& s) {
  double* row_max = s.log_sum;
  for (int32_t i = 1; i <= s.m; ++i) row_max[s.n + i] = 0.0;
  for (int32_t j = 1; j <= s.n; ++j) {
    if (!s.active(j)) continue;
    for (int32_t k = s.first(j); k <= s.last(j); ++k) {
      const int32_t p = s.row_position(k);
      if (s.active(p)) row_max[p] = std::max(row_max[p], std::fabs(s.value[k]));
    }
  }
  for (int32_t i = 1; i <= s.m; ++i) {
    double& d = row_max[s.n + i];
    if (d <= s.params.TZER) d = 1.0;
    s.factor[s.n + i] *= d;
  }
  for (int32_t j = 1; j <= s.n; ++j) {
    for (int32_t k = s.first(j); k <= s.last(j); ++k) s.value[k] /= row_max[s.row_position(k)];
  }
}

// Geometric method: alternating column and row means of the logarithms,
// until the mean distance of the logarithms from their scaled values stops
// falling, reaches 1, or the passes run out.
class GeometricScaling {
 public:
  GeometricScaling(ScalingPass& s, double* logs) : s_(s), logs_(logs) {}

  void run(int32_t passes) {
    double sum = 0.0;
    int64_t total = 0;
    collect(sum, total);
    double* g = s_.factor;
    for (int32_t k = 1; k <= s_.n + s_.m; ++k) g[k] = 0.0;
    if (total > 0) {
      double spread = std::exp(sum / static_cast<double>(total));
      if (spread > 1.0) {
        double measure = pass();
        for (int32_t done = 1;; ++done) {
          const double next = std::exp(measure / static_cast<double>(total));
          if (next <= 1.0 || done >= passes || !(next < spread)) break;
          spread = next;
          measure = pass();
        }
      }
    }
    for (int32_t k = 1; k <= s_.n + s_.m; ++k) g[k] = std::exp(g[k]);
    s_.divide_by_factors();
  }

 private:
  // Moves the entries of removed rows, then the negligible ones, behind the
  // counted entries of each active column, and stores the logarithms.
  void collect(double& sum, int64_t& total) {
    s_.clear_counts();
    for (int32_t j = 1; j <= s_.n; ++j) {
      if (!s_.active(j)) continue;
      int32_t end = s_.last(j);
      for (int32_t k = s_.first(j); k <= end;) {
        if (s_.active(s_.row_position(k))) {
          ++k;
        } else {
          s_.swap_entries(k, end--);
        }
      }
      const double threshold = s_.column_max(j, end, false) * s_.signore;
      for (int32_t k = s_.first(j); k <= end;) {
        if (std::fabs(s_.value[k]) <= threshold) {
          s_.swap_entries(k, end);
          logs_[end--] = 0.0;
          continue;
        }
        const double l = std::log(std::fabs(s_.value[k]));
        logs_[k] = l;
        ++s_.count[j];
        ++s_.count[s_.row_position(k)];
        sum += std::fabs(l);
        ++total;
        ++k;
      }
    }
  }

  // A column mean pass, then a row mean pass; returns the row pass's sum of
  // distances (new column values, old row values).
  double pass() {
    double* g = s_.factor;
    for (int32_t j = 1; j <= s_.n; ++j) {
      if (!s_.active(j) || s_.count[j] == 0) continue;
      double mean = 0.0;
      for (int32_t k = s_.first(j); k < s_.first(j) + s_.count[j]; ++k) mean += logs_[k] - g[s_.row_position(k)];
      g[j] = mean / s_.count[j];
    }
    double* row_sum = s_.log_sum;
    for (int32_t i = 1; i <= s_.m; ++i) row_sum[s_.n + i] = 0.0;
    double measure = 0.0;
    for (int32_t j = 1; j <= s_.n; ++j) {
      if (!s_.active(j)) continue;
      for (int32_t k = s_.first(j); k < s_.first(j) + s_.count[j]; ++k) {
        const int32_t p = s_.row_position(k);
        measure += std::fabs(logs_[k] - g[j] - g[p]);
        row_sum[p] += logs_[k] - g[j];
      }
    }
    for (int32_t i = 1; i <= s_.m; ++i) {
      const int32_t p = s_.n + i;
      if (s_.count[p] > 0) g[p] = row_sum[p] / s_.count[p];
    }
    return measure;
  }

  ScalingPass& s_;
  double* logs_;
};

// The Curtis-Reid recurrence stops when a squared residual falls to this
// fraction of the first one (a residual of 1e-12 relative).
constexpr double kCurtisReidConverged = 1e-24;

// Curtis-Reid method: least squares of (ln|a_ij| - rho_i - gamma_j) over the
// counted entries by the conjugate-gradient recurrence, row and column
// halves alternating. Values in `factor`, log sums in `log_sum`, previous
// values in `previous`, residuals in `residual`.
class CurtisReidScaling {
 public:
  explicit CurtisReidScaling(ScalingPass& s) : s_(s) {}

  void run(int32_t passes) {
    const int32_t n = s_.n;
    const int32_t m = s_.m;
    double* v = s_.factor;
    for (int32_t k = 1; k <= n + m; ++k) {
      v[k] = 0.0;
      s_.log_sum[k] = 0.0;
    }
    double squares = 0.0;
    int64_t total = 0;
    collect(squares, total);
    const double exponent = total > 0 ? std::sqrt(squares) / static_cast<double>(total) : 0.0;
    if (std::exp(exponent) <= 1.0) {
      for (int32_t k = 1; k <= n + m; ++k) v[k] = 1.0;
      return;
    }
    start();
    // e_older, e_prev: the two e's before the current one.
    double e = 0.0, e_prev = 0.0, e_older = 0.0, q = 1.0, q_old = 1.0;
    const auto shift = [&](double next) {
      e_older = e_prev;
      e_prev = e;
      e = next;
      q_old = q;
      q = 1.0 - e;
    };
    const double tzer = s_.params.TZER;
    // Once the residual has fallen to rounding level the ratios of the
    // recurrence are ratios of noise: e can reach 1 and q 0, and the next
    // division spoils every factor. The recurrence stops there instead.
    const double converged = kCurtisReidConverged * sigma_;
    bool final_update = true;
    const int32_t iterations = passes < 0 ? 1 : passes + 1;
    for (int32_t it = 1; it <= iterations; ++it) {
      const double tau = row_half(e, q);
      const bool rows_done = tau <= converged;
      shift(!rows_done && std::fabs(sigma_) > tzer ? q * tau / sigma_ : 0.0);
      if (it == iterations || rows_done) break;
      update(1, n, e_older * e_prev, q * q_old);
      const double sigma_next = column_half(e, q);
      const bool columns_done = sigma_next <= converged;
      shift(!columns_done && std::fabs(tau) > tzer ? q * sigma_next / tau : 0.0);
      update(n + 1, n + m, e_older * e_prev, q * q_old);
      sigma_ = sigma_next;
      if (columns_done) {
        // The column residuals are gone: the closing column step would add
        // nothing.
        final_update = false;
        break;
      }
    }
    if (final_update) update(1, n, e_older * e_prev, q_old);
    for (int32_t k = 1; k <= n + m; ++k) v[k] = s_.count[k] > 0 ? std::exp(v[k]) : 1.0;
    s_.divide_by_factors();
  }

 private:
  bool counted(int32_t k) const { return s_.count[k] > 0; }
  int32_t end_counted(int32_t j) const { return s_.first(j) + s_.count[j]; }

  void collect(double& squares, int64_t& total) {
    s_.clear_counts();
    for (int32_t j = 1; j <= s_.n; ++j) {
      if (!s_.active(j)) continue;
      const double threshold = s_.column_max(j, s_.last(j), true) * s_.signore;
      int32_t end = s_.last(j);
      for (int32_t k = s_.first(j); k <= end;) {
        const int32_t p = s_.row_position(k);
        if (!s_.active(p) || std::fabs(s_.value[k]) <= threshold) {
          s_.swap_entries(k, end--);
          continue;
        }
        const double l = std::log(std::fabs(s_.value[k]));
        s_.log_sum[j] += l;
        s_.log_sum[p] += l;
        ++s_.count[j];
        ++s_.count[p];
        ++total;
        squares += l * l;
        ++k;
      }
    }
  }

  // Row values at their means, column values 0, the column residuals of
  // that start and their weighted square sum.
  void start() {
    const int32_t n = s_.n;
    double* v = s_.factor;
    for (int32_t i = 1; i <= s_.m; ++i) {
      const int32_t p = n + i;
      v[p] = counted(p) ? s_.log_sum[p] / s_.count[p] : 0.0;
      s_.residual[p] = 0.0;
    }
    sigma_ = 0.0;
    for (int32_t j = 1; j <= n; ++j) {
      double r = 0.0;
      if (s_.active(j)) {
        r = s_.log_sum[j];
        for (int32_t k = s_.first(j); k < end_counted(j); ++k) r -= v[s_.row_position(k)];
        if (counted(j)) sigma_ += r * r / s_.count[j];
      }
      s_.residual[j] = r;
      v[j] = 0.0;
    }
    for (int32_t k = 1; k <= n + s_.m; ++k) s_.previous[k] = v[k];
  }

  double row_half(double e, double q) {
    const int32_t n = s_.n;
    double* t = s_.residual;
    for (int32_t i = 1; i <= s_.m; ++i) t[n + i] *= e;
    for (int32_t j = 1; j <= n; ++j) {
      if (!counted(j)) continue;
      const double share = t[j] / s_.count[j];
      for (int32_t k = s_.first(j); k < end_counted(j); ++k) t[s_.row_position(k)] += share;
    }
    double tau = 0.0;
    for (int32_t i = 1; i <= s_.m; ++i) {
      const int32_t p = n + i;
      t[p] = -t[p] / q;
      if (counted(p)) tau += t[p] * t[p] / s_.count[p];
    }
    return tau;
  }

  double column_half(double e, double q) {
    double* r = s_.residual;
    double sigma = 0.0;
    for (int32_t j = 1; j <= s_.n; ++j) {
      if (!counted(j)) {
        r[j] = 0.0;
        continue;
      }
      double sum = 0.0;
      for (int32_t k = s_.first(j); k < end_counted(j); ++k) {
        const int32_t p = s_.row_position(k);
        sum += r[p] / s_.count[p];
      }
      r[j] = -(e * r[j] + sum) / q;
      sigma += r[j] * r[j] / s_.count[j];
    }
    return sigma;
  }

  // value += (residual / count + (value - previous) x momentum) / divisor
  // for the counted positions from..to.
  void update(int32_t from, int32_t to, double momentum, double divisor) {
    double* v = s_.factor;
    for (int32_t k = from; k <= to; ++k) {
      if (!counted(k)) continue;
      const double old = v[k];
      v[k] += (s_.residual[k] / s_.count[k] + (old - s_.previous[k]) * momentum) / divisor;
      s_.previous[k] = old;
    }
  }

  ScalingPass& s_;
  double sigma_ = 0.0;
};

}  // namespace

void scale_barrier_problem(barrier_params& params, const int32_t* matrix_start, int32_t* factor_index,
                           double* factor_value, double* cost, double* rhs, double* upper, double* lower,
                           const int32_t* var_state, double* scale, double* upper_residual, int32_t method,
                           int32_t passes, double* dw, double* push_work, double* dz, int32_t* int_work_a,
                           double signore, double infinity) {
  const int32_t n = params.col_count;
  const int32_t m = params.row_count;
  const double big = 0.9 * infinity;
  ScalingPass s{params, n, m, matrix_start, factor_index, factor_value, var_state, signore,
                upper_residual, int_work_a, dz, dw, push_work};
  for (int32_t k = 1; k <= n + m; ++k) s.factor[k] = 1.0;

  switch (method) {
    case SCALING_GEOMETRIC_THEN_LARGEST:
    case SCALING_GEOMETRIC: {
      // The logarithms sit after the matrix and the quadratic entries.
      const int64_t log_base = static_cast<int64_t>(params.matrix_nz) + params.quad_nz;
      if (log_base + params.matrix_nz <= params.factor_space) {
        GeometricScaling(s, factor_value + log_base).run(passes);
      }
      break;
    }
    case SCALING_CURTIS_REID_THEN_LARGEST:
    case SCALING_CURTIS_REID:
      CurtisReidScaling(s).run(passes);
      break;
    default:
      break;
  }
  if (method >= SCALING_LARGEST_ENTRY && method <= SCALING_CURTIS_REID_THEN_LARGEST) {
    scale_columns_by_largest(s);
    scale_rows_by_largest(s);
  }

  for (int32_t j = 1; j <= n; ++j) {
    const double r = s.factor[j];
    cost[j] /= r;
    if (upper[j] < big) upper[j] *= r;
    if (lower[j] > -big) lower[j] *= r;
  }
  for (int32_t i = 1; i <= m; ++i) {
    const int32_t p = n + i;
    const double r = s.factor[p];
    rhs[i] /= r;
    if (upper[p] < big) upper[p] /= r;
    if (lower[p] > -big) lower[p] /= r;
  }
  for (int32_t k = 1; k <= n + m; ++k) scale[k] *= s.factor[k];
}

}  // namespace kl
