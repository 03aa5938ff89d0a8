// Lifted cover cuts on an integer knapsack sum a_j x_j <= b + s, 0 <= x_j
// <= u_j (u_j <= 20), a_j >= 0: a greedy cover made minimal, then exact
// sequential lifting by a table of least weights per coefficient sum.
#include <cmath>
#include <cstdint>
#include <vector>

#include "factor/sorting.h"
#include "global/knapsack_cuts.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr double kUnreachable = 1e20;

enum ItemClass : int32_t { ITEM_FRACTIONAL = 0, ITEM_AT_BOUND = 1, ITEM_AT_ZERO = 2 };

// Table entry k (1-based), with every sum past the table unreachable.
double table_entry(int32_t table_size, const double* table, int32_t k) {
  if (k < 1) return 0.0;
  if (k > table_size) return kUnreachable;
  return table[k];
}

void report_inconsistent_lifting() {
  begin_message_limited(MSG_COVER_LIFTING_INCONSISTENT);
  emit_message();
}

// Largest coefficient step z for raising item j from 0 (up-lifting):
// min over t of (beta - f(capacity - t a_j)) / t, beta + 1 when no copy fits.
double up_lifting_value(int32_t table_size, const double* table, double capacity, double weight, double range,
                        double beta) {
  const double ztolda = dcv(dc::ZTOLDA);
  double z = beta + 1.0;
  const int32_t copies = static_cast<int32_t>(std::trunc(range + ztolda));
  for (int32_t t = 1; t <= copies; ++t) {
    const double rest = capacity - t * weight;
    if (rest < -ztolda) break;
    z = std::fmin(z, (beta - rank_in_dp_table(table_size, table, rest)) / t);
  }
  return z;
}

}  // namespace

void build_knapsack_dp_table(int32_t& table_size, double* table, double weight, double range, double coef,
                             int32_t& overflow) {
  overflow = 0;
  const double ztolze = dcv(dc::ZTOLZE);
  const int64_t copies = static_cast<int64_t>(std::trunc(range + ztolze));
  const int64_t step = static_cast<int64_t>(std::trunc(coef + ztolze));
  const int64_t new_size = table_size + copies * step;
  if (new_size > kKnapsackTableSize) {
    overflow = 1;
    return;
  }
  const int32_t size = static_cast<int32_t>(new_size);
  for (int32_t k = table_size + 1; k <= size; ++k) table[k] = kUnreachable;
  table_size = size;
  // Downward, so that T[k - t p] still excludes this item: each item is
  // used at most trunc(u_j) times.
  for (int32_t k = size; k >= 1; --k) {
    for (int64_t t = 1; t <= copies; ++t) {
      const int64_t below = k - t * step;
      const double w = t * weight + (below >= 1 ? table[below] : 0.0);
      if (w < table[k]) table[k] = w;
    }
  }
  keep_dp_table_monotone(table_size, table);
}

void keep_dp_table_monotone(int32_t table_size, double* table) {
  for (int32_t k = table_size - 1; k >= 1; --k)
    if (table[k + 1] < table[k]) table[k] = table[k + 1];
}

double rank_in_dp_table(int32_t table_size, const double* table, double weight) {
  // The table is nondecreasing, so the first entry above the limit is
  // found by bisection.
  const double limit = weight + dcv(dc::ZTOLDA);
  int32_t low = 1;
  int32_t high = table_size + 1;
  while (low < high) {
    const int32_t mid = low + (high - low) / 2;
    if (table[mid] > limit) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return static_cast<double>(low - 1);
}

void lift_cover_by_knapsack_dp(int32_t n, double b_fixed, const double* a, const double* x, const double* u,
                               double s, const int32_t* order, int32_t c, int32_t c0, int32_t c1, int32_t c2,
                               int32_t& result, double& cut_rhs, double* cut_coefs, double& continuous_coef,
                               double& efficacy, double* table) {
  const double ztolda = dcv(dc::ZTOLDA);
  const double ztolis = dcv(dc::ZTOLIS);
  result = KNAPSACK_NO_CUT;
  efficacy = 0.0;
  continuous_coef = 0.0;
  int32_t table_size = 0;
  int32_t overflow = 0;
  for (int32_t j = 0; j < n; ++j) cut_coefs[j] = 0.0;

  // 1. The cover inequality: the cover items together must stay at least
  // ceil(lambda / a_max) units below their bounds.
  double excess = -b_fixed;
  double a_max = 0.0;
  double cover_units = 0.0;
  for (int32_t k = 0; k < c; ++k) {
    const int32_t j = order[k];
    cut_coefs[j] = 1.0;
    excess += a[j] * u[j];
    a_max = std::fmax(a_max, a[j]);
    cover_units += u[j];
  }
  if (c == 0 || a_max <= 0.0) return;
  double beta = cover_units - std::trunc(excess / a_max + 1.0 - 2.0 * ztolda);

  // 2. Table over the cover.
  for (int32_t k = 0; k < c; ++k) {
    const int32_t j = order[k];
    build_knapsack_dp_table(table_size, table, a[j], u[j], 1.0, overflow);
    if (overflow != 0) {
      result = KNAPSACK_TABLE_FULL;
      return;
    }
  }

  // 3. Up-lifting of the other fractional items, the most promising first.
  std::vector<char> lifted(static_cast<size_t>(c0 > c ? c0 - c : 0), 0);
  for (int32_t round = c; round < c0; ++round) {
    int32_t best = -1;
    double best_score = -1e20;
    double best_z = 0.0;
    for (int32_t k = c; k < c0; ++k) {
      if (lifted[static_cast<size_t>(k - c)] != 0) continue;
      const int32_t j = order[k];
      const double z = up_lifting_value(table_size, table, b_fixed, a[j], u[j], beta);
      if (z * x[j] > best_score) {
        best_score = z * x[j];
        best = k;
        best_z = z;
      }
    }
    if (best < 0) {
      report_inconsistent_lifting();
      return;
    }
    lifted[static_cast<size_t>(best - c)] = 1;
    const int32_t j = order[best];
    cut_coefs[j] = std::trunc(best_z + ztolda);
    if (cut_coefs[j] > 0.0) {
      build_knapsack_dp_table(table_size, table, a[j], u[j], cut_coefs[j], overflow);
      if (overflow != 0) {
        result = KNAPSACK_TABLE_FULL;
        return;
      }
    }
  }

  // 4. Only a cut violated on the fractional items is worth the rest.
  {
    double activity = -beta;
    double norm_squared = 0.0;
    for (int32_t k = 0; k < c0; ++k) {
      const int32_t j = order[k];
      activity += cut_coefs[j] * x[j];
      norm_squared += cut_coefs[j] * cut_coefs[j];
    }
    if (!(activity / std::sqrt(norm_squared) > kMinCutEfficacy)) return;
  }

  // 5. Down-lifting of the items fixed at their bounds, releasing each one's
  // capacity as it is lifted.
  double capacity = b_fixed;
  for (int32_t k = c0; k < c0 + c1; ++k) {
    const int32_t j = order[k];
    double z = 0.0;
    const int32_t copies = static_cast<int32_t>(std::trunc(u[j] + ztolda));
    for (int32_t t = 1; t <= copies; ++t)
      z = std::fmax(z, (rank_in_dp_table(table_size, table, capacity + t * a[j]) - beta) / t);
    cut_coefs[j] = std::trunc(z - ztolda + 1.0);
    capacity += a[j] * u[j];
    beta += cut_coefs[j] * u[j];
    if (cut_coefs[j] > 0.0) {
      build_knapsack_dp_table(table_size, table, a[j], u[j], cut_coefs[j], overflow);
      if (overflow != 0) {
        result = KNAPSACK_TABLE_FULL;
        return;
      }
    }
  }

  // 6. Up-lifting of the items at zero, in the order given.
  for (int32_t k = c0 + c1; k < c0 + c1 + c2; ++k) {
    const int32_t j = order[k];
    cut_coefs[j] = std::trunc(up_lifting_value(table_size, table, capacity, a[j], u[j], beta) + ztolda);
    if (cut_coefs[j] > 0.0) {
      build_knapsack_dp_table(table_size, table, a[j], u[j], cut_coefs[j], overflow);
      if (overflow != 0) {
        result = KNAPSACK_TABLE_FULL;
        return;
      }
    }
  }

  // 7. The table proves the cut: sum r + 1 must not fit in the capacity.
  for (int32_t j = 0; j < n; ++j) {
    if (cut_coefs[j] < -ztolda) {
      report_inconsistent_lifting();
      return;
    }
  }
  const int32_t r = static_cast<int32_t>(std::trunc(beta + ztolis));
  const bool consistent = r >= 0 && table_entry(table_size, table, r + 1) > capacity + ztolda &&
                          (r == 0 || table_entry(table_size, table, r) <= capacity + ztolda) &&
                          std::trunc(beta + ztolda) <= table_size;
  if (!consistent) {
    report_inconsistent_lifting();
    return;
  }

  // 8. Slope of the continuous slack: each extra unit of the sum needs
  // T[k] - capacity more weight, which only s can provide.
  continuous_coef = -1e20;
  for (int32_t k = r + 1; k <= table_size; ++k)
    continuous_coef = std::fmax(continuous_coef, (k - r) / (table[k] - capacity));

  // 9.
  cut_rhs = beta;
  double activity = -beta - continuous_coef * s;
  double norm_squared = continuous_coef * continuous_coef;
  for (int32_t j = 0; j < n; ++j) {
    activity += cut_coefs[j] * x[j];
    norm_squared += cut_coefs[j] * cut_coefs[j];
  }
  efficacy = activity / std::sqrt(norm_squared);
  result = efficacy > kMinCutEfficacy ? KNAPSACK_CUT_FOUND : KNAPSACK_NO_CUT;
}

namespace {

// Sorts order[first .. first+count-1] by descending keys[first ..].
void sort_block(int32_t* order, double* keys, int32_t first, int32_t count) {
  if (count > 1) sort_pairs_descending(keys + first, order + first, count);
}

// The cover item whose removal to the fixed class is tried: the largest
// weight, and among weights equal within ZTOLZE the one nearest its bound.
int32_t heaviest_cover_position(const int32_t* order, int32_t c, const double* a, const double* x,
                                const double* u) {
  const double ztolze = dcv(dc::ZTOLZE);
  int32_t best = 0;
  for (int32_t k = 1; k < c; ++k) {
    const int32_t j = order[k];
    const int32_t i = order[best];
    if (a[j] >= a[i] + ztolze) {
      best = k;
    } else if (std::fabs(a[j] - a[i]) < ztolze && u[j] - x[j] <= u[i] - x[i]) {
      best = k;
    }
  }
  return best;
}

}  // namespace

void separate_general_cover(int32_t n, double b, const int32_t* columns, const double* a, const double* x,
                            const double* u, double s, int32_t& result, double& cut_rhs, double* cut_coefs,
                            double& continuous_coef, double& efficacy, int32_t* order, double* table, double* keys,
                            int32_t* item_class, int32_t ordering_flag) {
  result = KNAPSACK_NO_CUT;
  efficacy = 0.0;
  for (int32_t j = 0; j < n; ++j)
    if (u[j] > kCoverMaxRange) return;
  const double ztolis = dcv(dc::ZTOLIS);
  const double ztolze = dcv(dc::ZTOLZE);
  const double ztolda = dcv(dc::ZTOLDA);
  const double cover_factor = 1.0 - dcv(dc::ZCOVER);

  // 2.-3. Classes; only a fractional knapsack that can be overfilled has a
  // violated cover.
  bool fractional = false;
  double reach = 0.0;
  int32_t counts[3] = {0, 0, 0};
  for (int32_t j = 0; j < n; ++j) {
    if (x[j] <= ztolis) {
      item_class[j] = ITEM_AT_ZERO;
    } else if (x[j] >= u[j] - ztolis) {
      item_class[j] = ITEM_AT_BOUND;
    } else {
      item_class[j] = ITEM_FRACTIONAL;
      if (std::fabs(x[j] - std::trunc(x[j] + ztolis)) > ztolis) fractional = true;
    }
    if (item_class[j] != ITEM_AT_ZERO) reach += a[j] * u[j];
    ++counts[item_class[j]];
  }
  if (!fractional || b < -ztolze || !((b + ztolze) / cover_factor < reach)) return;

  // 4.
  const int32_t c0 = counts[ITEM_FRACTIONAL];
  const int32_t c1 = counts[ITEM_AT_BOUND];
  const int32_t c2 = counts[ITEM_AT_ZERO];
  {
    int32_t next[3] = {0, c0, c0 + c1};
    for (int32_t j = 0; j < n; ++j) order[next[item_class[j]]++] = j;
  }
  double b_fixed = b;
  for (int32_t k = c0; k < c0 + c1; ++k) b_fixed -= a[order[k]] * u[order[k]];
  if (b_fixed < 0.0) return;

  // 5. Items with small reduced costs are lifted first: they are the ones
  // most likely to move.
  if (ordering_flag == 0) {
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    for (int32_t k = c0; k < n; ++k) keys[k] = 1.0 / (std::fabs(d[std::abs(columns[order[k]])]) + 1.0);
    sort_block(order, keys, c0, c1);
    sort_block(order, keys, c0 + c1, c2);
  }

  std::vector<int32_t> saved_order(static_cast<size_t>(n));
  for (int pass = 1; pass <= 2; ++pass) {
    // 6.1 Greedy cover.
    for (int32_t k = 0; k < c0; ++k) {
      const int32_t j = order[k];
      keys[k] = pass == 1 ? x[j] : 1.0 / a[j];
    }
    sort_block(order, keys, 0, c0);
    const double threshold = (ztolze + b_fixed) / cover_factor;
    double weight = 0.0;
    int32_t c = 0;
    while (c < c0 && !(weight > threshold)) {
      weight += a[order[c]] * u[order[c]];
      ++c;
    }
    if (!(weight > threshold)) return;
    // 6.2 Minimal cover.
    for (int32_t k = c - 2; k >= 0; --k) {
      const int32_t j = order[k];
      if (weight - a[j] * u[j] > threshold) {
        weight -= a[j] * u[j];
        order[k] = order[c - 1];
        order[c - 1] = j;
        --c;
      }
    }
    // 6.3
    for (int32_t k = c; k < c0; ++k) keys[k] = x[order[k]];
    sort_block(order, keys, c, c0 - c);
    // 6.4
    lift_cover_by_knapsack_dp(n, b_fixed, a, x, u, s, order, c, c0, c1, c2, result, cut_rhs, cut_coefs,
                              continuous_coef, efficacy, table);
    if (result != KNAPSACK_NO_CUT || c == 1) return;
    // 6.5 The heaviest cover item fixed at its bound and lifted down last
    // gives a second, often stronger, sequence.
    const int32_t position = heaviest_cover_position(order, c, a, x, u);
    const int32_t j = order[position];
    if (b_fixed - a[j] * u[j] >= -ztolda) {
      saved_order.assign(order, order + n);
      order[position] = order[c - 1];
      for (int32_t k = c - 1; k < c0 - 1; ++k) order[k] = order[k + 1];
      order[c0 - 1] = j;
      lift_cover_by_knapsack_dp(n, b_fixed - a[j] * u[j], a, x, u, s, order, c - 1, c0 - 1, c1 + 1, c2, result,
                                cut_rhs, cut_coefs, continuous_coef, efficacy, table);
      for (int32_t k = 0; k < n; ++k) order[k] = saved_order[static_cast<size_t>(k)];
      if (result != KNAPSACK_NO_CUT) return;
    }
  }
}

}  // namespace kl
