// GUB cover cuts on a binary knapsack sum w_i x_i <= b whose items fall
// into groups with at most one item of a group at 1: a cover over the
// fractional groups, lifted group by group with a table in which each group
// contributes at most one member.
#include <cmath>
#include <cstdint>
#include <vector>

#include "factor/sorting.h"
#include "global/knapsack_cuts.h"
#include "problem/array_ids.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"

namespace kl {

namespace {

constexpr double kUnreachable = 1e20;

enum GubItemFlags : int32_t {
  GUB_ITEM_EXCLUDED = 0x10,
  GUB_ITEM_IN_COVER = 0x20,
  GUB_ITEM_LIFTED = 0x80,
  GUB_ITEM_AT_ONE = 0x100,
};

enum GubGroupFlags : int32_t {
  GUB_GROUP_FRACTIONAL = 1,
  GUB_GROUP_AT_ONE = 2,
  GUB_GROUP_ZERO = 4,
  GUB_GROUP_TIGHT = 8,
  GUB_GROUP_HOLDS_COVER = 0x40,
};

struct GubKnapsack {
  int32_t group_count;
  const int32_t* group_starts;
  const int32_t* columns;
  double* weights;
  const double* values;
  double* alpha;
  int32_t* flags;
  double* table;
  int32_t table_size = 0;
  std::vector<int32_t> group_flags;
  std::vector<double> min_weight;  // per tight group
  double b = 0.0;
  double beta = 0.0;

  int32_t first(int32_t g) const { return group_starts[g]; }
  int32_t end(int32_t g) const { return group_starts[g + 1]; }
  bool excluded(int32_t i) const { return (flags[i] & GUB_ITEM_EXCLUDED) != 0; }
  double f(double w) const { return rank_in_dp_table(table_size, table, w); }
  // Up-lifting coefficient of a member raised from 0, its group out of the
  // table.
  double up_lift(double capacity, int32_t i) const {
    const double rest = capacity - weights[i];
    return rest >= -dcv(dc::ZTOLDA) ? beta - f(rest) : beta + 1.0;
  }
};

// Adds group g to the table: at most one of its lifted members per sum.
// Lifted members of weight at most ZTOLDA are entered too: a positive
// coefficient left out of the table would make the later lifting
// underestimate what fits.
bool add_gub_group_to_dp(GubKnapsack& k, int32_t g) {
  const double ztolda = dcv(dc::ZTOLDA);
  double p = 0.0;
  for (int32_t i = k.first(g); i < k.end(g); ++i)
    if ((k.flags[i] & GUB_ITEM_LIFTED) != 0) p = std::fmax(p, k.alpha[i]);
  if (p < ztolda) return true;
  const int64_t new_size = k.table_size + static_cast<int64_t>(std::trunc(p + ztolda));
  if (new_size > kKnapsackTableSize) return false;
  const int32_t size = static_cast<int32_t>(new_size);
  for (int32_t s = k.table_size + 1; s <= size; ++s) k.table[s] = kUnreachable;
  k.table_size = size;
  for (int32_t s = size; s >= 1; --s) {
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if ((k.flags[i] & GUB_ITEM_LIFTED) == 0) continue;
      const int32_t r = s - static_cast<int32_t>(std::trunc(k.alpha[i] + ztolda));
      if (r == s) continue;
      const double w = k.weights[i] + (r >= 1 ? k.table[r] : 0.0);
      if (w < k.table[s]) k.table[s] = w;
    }
  }
  keep_dp_table_monotone(k.table_size, k.table);
  return true;
}

// Table over the listed groups except skip (-1: none).
bool rebuild_gub_dp_table(GubKnapsack& k, int32_t skip, int32_t count, const int32_t* groups) {
  k.table_size = 0;
  for (int32_t q = 0; q < count; ++q) {
    if (groups[q] == skip) continue;
    if (!add_gub_group_to_dp(k, groups[q])) return false;
  }
  return true;
}

// Greedy cover over the fractional groups, then made minimal.
bool choose_gub_cover(GubKnapsack& k, int32_t fractional_count, const int32_t* order) {
  const double ztolis = dcv(dc::ZTOLIS);
  const double ztolda = dcv(dc::ZTOLDA);
  const double threshold = (dcv(dc::ZTOLZE) + k.b) / (1.0 - dcv(dc::ZCOVER));
  double weight = 0.0;
  while (!(weight > threshold)) {
    int32_t best = -1;
    double best_value = ztolis;
    for (int32_t q = 0; q < fractional_count; ++q) {
      const int32_t g = order[q];
      for (int32_t i = k.first(g); i < k.end(g); ++i) {
        if ((k.flags[i] & (GUB_ITEM_EXCLUDED | GUB_ITEM_IN_COVER)) != 0 || k.weights[i] <= ztolda) continue;
        if (k.values[i] > best_value) {
          best_value = k.values[i];
          best = i;
        }
      }
    }
    if (best < 0) return false;
    k.flags[best] |= GUB_ITEM_IN_COVER;
    weight += k.weights[best];
  }
  for (int32_t q = 0; q < fractional_count; ++q) {
    const int32_t g = order[q];
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if ((k.flags[i] & GUB_ITEM_IN_COVER) == 0) continue;
      if (weight - k.weights[i] > threshold) {
        weight -= k.weights[i];
        k.flags[i] &= ~GUB_ITEM_IN_COVER;
      } else {
        k.group_flags[static_cast<size_t>(g)] |= GUB_GROUP_HOLDS_COVER;
      }
    }
  }
  return true;
}

// Efficacy over the lifted members of the listed groups. Weightless members
// count too: outside the fractional groups they are lifted like the others,
// and a coefficient on one at 1 takes part in the violation.
double gub_efficacy(const GubKnapsack& k, int32_t count, const int32_t* groups) {
  double activity = -k.beta;
  double norm_squared = 0.0;
  for (int32_t q = 0; q < count; ++q) {
    const int32_t g = groups[q];
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if ((k.flags[i] & GUB_ITEM_LIFTED) == 0) continue;
      activity += k.alpha[i] * k.values[i];
      norm_squared += k.alpha[i] * k.alpha[i];
    }
  }
  return norm_squared > 0.0 ? activity / std::sqrt(norm_squared) : 0.0;
}

// Returns the efficacy, or a value not above kMinCutEfficacy for no cut.
double lift_gub_cover(GubKnapsack& k, const int32_t* order, int32_t fractional_count, int32_t at_one_count,
                      int32_t zero_count) {
  const double ztolda = dcv(dc::ZTOLDA);
  constexpr double kNoCut = 0.0;
  const int32_t all_count = fractional_count + at_one_count + zero_count;
  for (int32_t i = 0; i < k.group_starts[k.group_count]; ++i) {
    if ((k.flags[i] & GUB_ITEM_IN_COVER) != 0) {
      k.alpha[i] = 1.0;
      k.flags[i] |= GUB_ITEM_LIFTED;
    } else if (k.excluded(i)) {
      k.alpha[i] = 0.0;
      k.flags[i] |= GUB_ITEM_LIFTED;
    }
  }
  k.beta = -1.0;
  for (int32_t i = 0; i < k.group_starts[k.group_count]; ++i)
    if ((k.flags[i] & GUB_ITEM_IN_COVER) != 0) k.beta += 1.0;

  // Fractional groups: each member is raised with its own group out of the
  // table, since at most one member of a group can be 1.
  if (!rebuild_gub_dp_table(k, order[0], fractional_count, order)) return kNoCut;
  for (int32_t q = 0; q < fractional_count; ++q) {
    const int32_t g = order[q];
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if ((k.flags[i] & GUB_ITEM_LIFTED) != 0) continue;
      k.flags[i] |= GUB_ITEM_LIFTED;
      k.alpha[i] = k.up_lift(k.b, i);
    }
    if (q + 1 == fractional_count ||
        (k.group_flags[static_cast<size_t>(order[q + 1])] & GUB_GROUP_HOLDS_COVER) == 0) {
      if (!add_gub_group_to_dp(k, g)) return kNoCut;
    } else if (!rebuild_gub_dp_table(k, order[q + 1], fractional_count, order)) {
      return kNoCut;
    }
  }
  if (!(gub_efficacy(k, fractional_count, order) > kMinCutEfficacy)) return kNoCut;

  // Tight groups were lifted as if one member had to be 1; the group at
  // zero frees its smallest weight.
  for (int32_t q = 0; q < fractional_count; ++q) {
    const int32_t g = order[q];
    if ((k.group_flags[static_cast<size_t>(g)] & GUB_GROUP_TIGHT) == 0) continue;
    if (!rebuild_gub_dp_table(k, g, fractional_count, order)) return kNoCut;
    const double w_min = k.min_weight[static_cast<size_t>(g)];
    const double capacity = k.b + w_min;
    double delta = k.f(capacity) - k.beta;
    if (delta < ztolda) delta = 0.0;
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if (k.excluded(i)) continue;
      k.alpha[i] += delta;
      k.weights[i] += w_min;
    }
    k.group_flags[static_cast<size_t>(g)] &= ~GUB_GROUP_TIGHT;
    k.beta += delta;
    k.b = capacity;
  }
  if (!rebuild_gub_dp_table(k, -1, fractional_count, order)) return kNoCut;

  // At-one groups: the member at 1 is lowered, the others raised.
  for (int32_t q = fractional_count; q < fractional_count + at_one_count; ++q) {
    const int32_t g = order[q];
    int32_t one = -1;
    for (int32_t i = k.first(g); i < k.end(g); ++i)
      if ((k.flags[i] & GUB_ITEM_AT_ONE) != 0) one = i;
    const double capacity = k.b + k.weights[one];
    double delta = k.f(capacity) - k.beta;
    if (delta < ztolda) delta = 0.0;
    k.alpha[one] = delta;
    k.flags[one] |= GUB_ITEM_LIFTED;
    k.beta += delta;
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if (i == one) continue;
      k.flags[i] |= GUB_ITEM_LIFTED;
      k.alpha[i] = k.up_lift(capacity, i);
    }
    k.b = capacity;
    if (!add_gub_group_to_dp(k, g)) return kNoCut;
  }

  // Zero groups: every member raised.
  for (int32_t q = fractional_count + at_one_count; q < all_count; ++q) {
    const int32_t g = order[q];
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      k.flags[i] |= GUB_ITEM_LIFTED;
      k.alpha[i] = k.up_lift(k.b, i);
    }
    if (!add_gub_group_to_dp(k, g)) return kNoCut;
  }
  return gub_efficacy(k, all_count, order);
}

// Largest 1/(|d| + 1) over the group's columns: groups whose columns have
// small reduced costs are lifted first.
double reduced_cost_key(const GubKnapsack& k, int32_t g, const OneBased<double>& d) {
  double key = 0.0;
  for (int32_t i = k.first(g); i < k.end(g); ++i)
    key = std::fmax(key, 1.0 / (std::fabs(d[std::abs(k.columns[i])]) + 1.0));
  return key;
}

}  // namespace

void separate_gub_cover(int32_t group_count, const int32_t* group_starts, int32_t n, double b,
                        const int32_t* columns, double* weights, const double* values, int32_t& result,
                        double& cut_rhs, double* cut_coefs, double& efficacy, int32_t* group_order,
                        double* group_keys, double* table, int32_t* item_flags) {
  result = KNAPSACK_NO_CUT;
  efficacy = 0.0;
  const double ztolda = dcv(dc::ZTOLDA);
  const double ztolis = dcv(dc::ZTOLIS);
  const double ztolze = dcv(dc::ZTOLZE);
  GubKnapsack k{group_count, group_starts, columns, weights, values, cut_coefs, item_flags, table, 0,
                std::vector<int32_t>(static_cast<size_t>(group_count), 0),
                std::vector<double>(static_cast<size_t>(group_count), 0.0), b, 0.0};
  const std::vector<double> given_weights(weights, weights + n);

  for (int32_t i = 0; i < n; ++i) {
    item_flags[i] = weights[i] <= ztolda ? GUB_ITEM_EXCLUDED : 0;
    cut_coefs[i] = 0.0;
  }
  // Group classes.
  int32_t counts[3] = {0, 0, 0};
  for (int32_t g = 0; g < group_count; ++g) {
    int32_t one = -1;
    int32_t fractional = -1;
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if (k.excluded(i)) continue;
      if (one < 0 && values[i] >= 1.0 - ztolis) one = i;
      if (fractional < 0 && values[i] >= ztolis) fractional = i;
    }
    if (one >= 0) {
      k.b -= weights[one];
      item_flags[one] |= GUB_ITEM_AT_ONE;
      k.group_flags[static_cast<size_t>(g)] = GUB_GROUP_AT_ONE;
      ++counts[1];
    } else if (fractional >= 0) {
      k.group_flags[static_cast<size_t>(g)] = GUB_GROUP_FRACTIONAL;
      ++counts[0];
    } else {
      k.group_flags[static_cast<size_t>(g)] = GUB_GROUP_ZERO;
      ++counts[2];
    }
  }
  if (counts[0] == 0 || k.b < -ztolze) return;
  const int32_t fractional_count = counts[0];
  const int32_t at_one_count = counts[1];
  const int32_t zero_count = counts[2];
  {
    int32_t next[3] = {0, fractional_count, fractional_count + at_one_count};
    for (int32_t g = 0; g < group_count; ++g) {
      const int32_t f = k.group_flags[static_cast<size_t>(g)];
      const int32_t c = f == GUB_GROUP_FRACTIONAL ? 0 : f == GUB_GROUP_AT_ONE ? 1 : 2;
      group_order[next[c]++] = g;
    }
  }

  // Cover test: one member per fractional group at its heaviest must
  // overfill the knapsack.
  {
    double most = 0.0;
    for (int32_t q = 0; q < fractional_count; ++q) {
      const int32_t g = group_order[q];
      double heaviest = 0.0;
      for (int32_t i = k.first(g); i < k.end(g); ++i)
        if (!k.excluded(i) && values[i] > ztolis) heaviest = std::fmax(heaviest, weights[i]);
      most += heaviest;
    }
    if (!(most > (k.b + ztolis) / (1.0 - dcv(dc::ZCOVER)))) return;
  }

  if (at_one_count + zero_count > 0) {
    OneBased<double> d = real_array(ARR_REDUCED_COSTS);
    for (int32_t q = fractional_count; q < fractional_count + at_one_count + zero_count; ++q)
      group_keys[q] = reduced_cost_key(k, group_order[q], d);
    if (at_one_count > 1) sort_pairs_descending(group_keys + fractional_count, group_order + fractional_count, at_one_count);
    if (zero_count > 1)
      sort_pairs_descending(group_keys + fractional_count + at_one_count,
                            group_order + fractional_count + at_one_count, zero_count);
  }

  // Tight groups: one member must be 1, so the smallest weight is taken
  // out of the knapsack for the cover and given back by the lifting.
  for (int32_t q = 0; q < fractional_count; ++q) {
    const int32_t g = group_order[q];
    double sum = 0.0;
    double w_min = kUnreachable;
    for (int32_t i = k.first(g); i < k.end(g); ++i) {
      if (k.excluded(i)) continue;
      sum += values[i];
      w_min = std::fmin(w_min, weights[i]);
    }
    if (sum < 1.0 - ztolis) continue;
    k.group_flags[static_cast<size_t>(g)] |= GUB_GROUP_TIGHT;
    k.min_weight[static_cast<size_t>(g)] = w_min;
    k.b -= w_min;
    for (int32_t i = k.first(g); i < k.end(g); ++i)
      if (!k.excluded(i)) weights[i] -= w_min;
  }

  bool found = false;
  if (!(k.b < -ztolze) && choose_gub_cover(k, fractional_count, group_order)) {
    for (int32_t q = 0; q < fractional_count; ++q) {
      const int32_t g = group_order[q];
      double sum = 0.0;
      for (int32_t i = k.first(g); i < k.end(g); ++i)
        if ((item_flags[i] & (GUB_ITEM_EXCLUDED | GUB_ITEM_IN_COVER)) == 0) sum += values[i];
      group_keys[q] = sum;
    }
    if (fractional_count > 1) sort_pairs_descending(group_keys, group_order, fractional_count);
    efficacy = lift_gub_cover(k, group_order, fractional_count, at_one_count, zero_count);
    found = efficacy > kMinCutEfficacy;
  }
  for (int32_t i = 0; i < n; ++i) weights[i] = given_weights[static_cast<size_t>(i)];
  if (!found) {
    efficacy = 0.0;
    return;
  }
  cut_rhs = k.beta;
  result = KNAPSACK_CUT_FOUND;
}

}  // namespace kl
