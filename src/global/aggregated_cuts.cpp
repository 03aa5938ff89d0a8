// MIR and lifted cover cuts from rows that mix integer and continuous
// columns: every continuous column (and row slack) of the row is replaced
// by one of its bounds, a simple one or a variable bound through an integer
// partner, leaving an integer knapsack plus one nonnegative continuous
// slack; its cut is written back in the original columns. When the row
// alone gives no cut, further rows are added to eliminate a continuous
// column at a time.
#include <algorithm>
#include <cmath>
#include <vector>

#include "global/cut_rounds.h"
#include "global/knapsack_cuts.h"
#include "global/row_classes.h"
#include "global/search_driver.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"

namespace kl {

namespace {

constexpr int32_t kMaxEntries = kKnapsackItemCapacity;
constexpr int32_t kDefaultAggregation = 6;
constexpr double kLargeBound = 1e8;
constexpr double kMinMergeRatioKnapsack = 1e-5;
constexpr double kMinMergeRatioCut = 1e-4;
constexpr double kMinCoefficient = 1e-6;
constexpr double kMinEfficacy = 1e-5;
constexpr uint32_t kAggregationClasses = RC_MIXED_INTEGER | RC_MIXED_BINARY | RC_CONTINUOUS | RC_VUB;

enum MixedRowResult : int32_t {
  MIXED_STORED = 1,
  MIXED_NONE = 0,
  MIXED_NO_BOUND = -1,
  MIXED_NO_INTEGER = -2,
  MIXED_TOO_LONG = -3,
  MIXED_EMPTY = -4,
  MIXED_TINY = -5,
  MIXED_CANCELLATION = -6,
};

struct Entry {
  int32_t position;
  double coef;
};

uint32_t pos_word(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
bool is_column(int32_t p) { return p >= store.first_col; }
bool is_integer_column(int32_t p) { return is_column(p) && (pos_word(p) & PS_INTEGER_OR_BINARY) != 0; }

// Bounds of a position as the search keeps them: the columns' node bounds,
// the rows' slack bounds.
double lower_of(int32_t p) { return is_column(p) ? real_array(ARR_WORK_LOWER)[p] : real_array(ARR_LOWER)[p]; }
double upper_of(int32_t p) { return is_column(p) ? real_array(ARR_WORK_UPPER)[p] : real_array(ARR_UPPER)[p]; }
double value_of(int32_t p) { return real_array(ARR_X)[p]; }

// A variable bound of a continuous column: x <= f y (upper) or x >= f y
// (lower), y integer; partner 0 when none.
void variable_bound(int32_t p, bool upper, int32_t& partner, double& factor) {
  partner = 0;
  factor = 0.0;
  if (!is_column(p) || (pos_word(p) & PS_SEMICONTINUOUS) != 0) return;
  if (array_cells[upper ? ARR_VUB_REF : ARR_VLB_REF] == nullptr) return;
  if (upper)
    lookup_variable_upper_bound(p, partner, factor);
  else
    lookup_variable_lower_bound(p, partner, factor);
  if (partner > 0 && !is_integer_column(partner)) partner = 0;
}

// Effective bounds (variable bounds where there are some) at the current
// point.
double effective_lower(int32_t p) {
  int32_t y = 0;
  double f = 0.0;
  variable_bound(p, false, y, f);
  return y > 0 ? f * value_of(y) : lower_of(p);
}
double effective_upper(int32_t p) {
  int32_t y = 0;
  double f = 0.0;
  variable_bound(p, true, y, f);
  return y > 0 ? f * value_of(y) : upper_of(p);
}

// Merges repeated columns of a list (row slacks are never repeated) and
// drops entries of at most ZTOLDA; min_ratio := the smallest |sum| /
// min(|parts|) of a merge whose parts and sum all exceed ZTOLDA (1 when
// none).
void compact_marked_list(std::vector<Entry>& list, double& min_ratio) {
  const double tiny = dcv(dc::ZTOLDA);
  min_ratio = 1.0;
  std::vector<Entry> kept;
  kept.reserve(list.size());
  std::vector<int32_t> at(static_cast<size_t>(nseq) + 1, -1);
  for (const Entry& e : list) {
    if (!is_column(e.position)) {
      kept.push_back(e);
      continue;
    }
    int32_t& k = at[static_cast<size_t>(e.position)];
    if (k < 0) {
      k = static_cast<int32_t>(kept.size());
      kept.push_back(e);
      continue;
    }
    Entry& into = kept[static_cast<size_t>(k)];
    const double sum = into.coef + e.coef;
    if (std::fabs(into.coef) >= tiny && std::fabs(e.coef) >= tiny && std::fabs(sum) > tiny)
      min_ratio = std::min(min_ratio, std::fabs(sum) / std::min(std::fabs(into.coef), std::fabs(e.coef)));
    into.coef = sum;
  }
  list.clear();
  for (const Entry& e : kept)
    if (std::fabs(e.coef) > tiny) list.push_back(e);
}

// How a continuous entry was replaced: its position, its weight in the
// continuous slack, the side (true: upper bound) and the variable-bound
// partner (0: simple bound).
struct Continuous {
  int32_t position;
  double weight;
  bool upper;
  int32_t partner;
  double factor;
};

struct Knapsack {
  std::vector<Entry> items;
  std::vector<Continuous> continuous;
  double b = 0.0;
  double slack_value = 0.0;
};

// false: some entry cannot be replaced by a bound.
bool build_knapsack_row(int32_t rule, int32_t sign, const std::vector<Entry>& row, double rhs, Knapsack& k) {
  const double ztolis = dcv(dc::ZTOLIS);
  const double zteta = dcv(dc::ZTETA);
  k = Knapsack{};
  k.b = sign == 0 ? rhs : -rhs;
  for (const Entry& e : row) {
    const int32_t j = e.position;
    const double c = sign == 0 ? e.coef : -e.coef;
    const double lo = lower_of(j);
    const double up = upper_of(j);
    if (is_column(j) && (pos_word(j) & (PS_FIXED | PS_SEARCH_FIXED)) != 0) {
      k.b -= c * lo;
      continue;
    }
    if (std::fabs(up - lo) <= zteta) {
      k.b -= c * lo;
      continue;
    }
    if (is_integer_column(j)) {
      k.items.push_back({j, c});
      continue;
    }
    // Semi-continuous columns are left to the other separators.
    if (is_column(j) && (pos_word(j) & (PS_FREE | PS_SEMICONTINUOUS)) != 0) return false;
    if (lo <= -kLargeBound && up >= kLargeBound) return false;
    int32_t choice = 0;
    if (lo <= -kLargeBound) {
      choice = 1;
    } else if (up >= kLargeBound) {
      choice = -1;
    } else {
      const double x = value_of(j);
      const double d_lower = x - effective_lower(j);
      const double d_upper = effective_upper(j) - x;
      if (rule == 1) {
        if (std::fabs(d_upper - d_lower) >= 2.0 * ztolis)
          choice = d_upper < d_lower ? 1 : -1;
        else
          choice = c > 0.0 ? -1 : 1;
      } else if (std::fabs(d_lower) <= ztolis && ztolis < std::fabs(d_upper)) {
        choice = -1;
      } else if (std::fabs(d_upper) <= ztolis && ztolis < std::fabs(d_lower)) {
        choice = 1;
      } else {
        choice = c > 0.0 ? -1 : 1;
      }
    }
    int32_t y = 0;
    double f = 0.0;
    if (choice == 1) {
      // x = f y - xbar or x = u - xbar, xbar >= 0.
      variable_bound(j, true, y, f);
      if (y > 0)
        k.items.push_back({y, c * f});
      else
        k.b -= c * up;
      if (c > 0.0) {
        k.continuous.push_back({j, c, true, y, f});
        k.slack_value += c * ((y > 0 ? f * value_of(y) : up) - value_of(j));
      }
    } else {
      // x = f y + xbar or x = l + xbar, xbar >= 0.
      variable_bound(j, false, y, f);
      if (y > 0)
        k.items.push_back({y, c * f});
      else
        k.b -= c * lo;
      if (c < 0.0) {
        k.continuous.push_back({j, -c, false, y, f});
        k.slack_value += -c * (value_of(j) - (y > 0 ? f * value_of(y) : lo));
      }
    }
    if (static_cast<int32_t>(k.items.size()) > kMaxEntries || static_cast<int32_t>(k.continuous.size()) > kMaxEntries)
      return false;
  }
  double ratio = 1.0;
  compact_marked_list(k.items, ratio);
  return ratio >= kMinMergeRatioKnapsack;
}

void row_entries(int32_t r, std::vector<Entry>& out) {
  const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  const OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  for (int32_t e = start[r]; e < start[r + 1]; ++e) out.push_back({col[e], val[e]});
}

int32_t separate_mixed_row_cut(int32_t cover_method, int32_t rule, int32_t sign, const std::vector<Entry>& row,
                               double rhs, const CutListTarget& target) {
  Knapsack k;
  if (!build_knapsack_row(rule, sign, row, rhs, k)) return MIXED_NO_BOUND;
  if (k.items.empty()) return MIXED_NO_INTEGER;

  // Items shifted to lower bound 0 and complemented where the weight is
  // negative.
  const int32_t n = static_cast<int32_t>(k.items.size());
  std::vector<int32_t> columns(static_cast<size_t>(n));
  std::vector<double> a(static_cast<size_t>(n)), x(static_cast<size_t>(n)), u(static_cast<size_t>(n)),
      lows(static_cast<size_t>(n));
  double b = k.b;
  for (int32_t i = 0; i < n; ++i) {
    const auto s = static_cast<size_t>(i);
    const int32_t j = k.items[s].position;
    const double w = k.items[s].coef;
    const double lo = lower_of(j);
    const double range = upper_of(j) - lo;
    if (std::fabs(lo) >= kLargeBound || (w < 0.0 && range >= kLargeBound)) return MIXED_NO_BOUND;
    b -= w * lo;
    lows[s] = lo;
    u[s] = range;
    double v = value_of(j) - lo;
    if (w < 0.0) {
      columns[s] = -j;
      a[s] = -w;
      b += -w * range;
      v = range - v;
    } else {
      columns[s] = j;
      a[s] = w;
    }
    x[s] = v;
  }

  std::vector<double> coefs(static_cast<size_t>(n), 0.0);
  double cut_rhs = 0.0, g = 0.0, efficacy = 0.0;
  int32_t found = 0;
  const bool cover = cover_method == 0;
  if (cover) {
    std::vector<int32_t> order(static_cast<size_t>(n)), item_class(static_cast<size_t>(n));
    std::vector<double> keys(static_cast<size_t>(n)), table(static_cast<size_t>(kKnapsackTableSize) + 1);
    separate_general_cover(n, b, columns.data(), a.data(), x.data(), u.data(), k.slack_value, found, cut_rhs,
                           coefs.data(), g, efficacy, order.data(), table.data(), keys.data(), item_class.data(), 0);
  } else {
    std::vector<int32_t> candidates(static_cast<size_t>(n)), marks(static_cast<size_t>(n));
    std::vector<double> keys(static_cast<size_t>(n));
    separate_mir_cut(n, k.continuous.empty() ? 0 : 1, b, a.data(), x.data(), u.data(), k.slack_value, found, cut_rhs,
                     coefs.data(), g, efficacy, candidates.data(), marks.data(), keys.data());
  }
  if (found != 1) return MIXED_NONE;
  if (k.continuous.empty()) g = 0.0;

  // Back to the original columns: sum c x' - g s <= cut_rhs.
  std::vector<Entry> cut;
  double rhs_cut = cut_rhs;
  for (int32_t i = 0; i < n; ++i) {
    const auto s = static_cast<size_t>(i);
    double c = coefs[s];
    if (columns[s] < 0) {
      rhs_cut -= c * u[s];
      c = -c;
    }
    rhs_cut += c * lows[s];
    cut.push_back({std::abs(columns[s]), c});
  }
  const OneBased<double> row_rhs = real_array(ARR_RHS);
  for (const Continuous& e : k.continuous) {
    const double gw = g * e.weight;
    if (gw == 0.0) continue;
    if (is_column(e.position)) {
      if (!e.upper) {
        // xbar = x - l or x - f y.
        cut.push_back({e.position, -gw});
        if (e.partner > 0)
          cut.push_back({e.partner, gw * e.factor});
        else
          rhs_cut -= gw * lower_of(e.position);
      } else {
        // xbar = u - x or f y - x.
        cut.push_back({e.position, gw});
        if (e.partner > 0)
          cut.push_back({e.partner, -gw * e.factor});
        else
          rhs_cut += gw * upper_of(e.position);
      }
    } else {
      // A row slack: slack = rhs_r - sum a x.
      const int32_t r = e.position;
      std::vector<Entry> elements;
      row_entries(r, elements);
      if (!e.upper) {
        rhs_cut += gw * (row_rhs[r] - lower_of(r));
        for (const Entry& el : elements) cut.push_back({el.position, gw * el.coef});
      } else {
        rhs_cut += gw * (upper_of(r) - row_rhs[r]);
        for (const Entry& el : elements) cut.push_back({el.position, -gw * el.coef});
      }
    }
    if (static_cast<int32_t>(cut.size()) > kMaxEntries) return MIXED_TOO_LONG;
  }
  double ratio = 1.0;
  compact_marked_list(cut, ratio);
  if (ratio < kMinMergeRatioCut) return MIXED_CANCELLATION;
  if (cut.empty()) return MIXED_EMPTY;
  for (const Entry& e : cut)
    if (std::fabs(e.coef) < kMinCoefficient) return MIXED_TINY;
  std::sort(cut.begin(), cut.end(), [](const Entry& l, const Entry& r) { return l.position < r.position; });
  double activity = 0.0, norm2 = 0.0;
  for (const Entry& e : cut) {
    activity += e.coef * value_of(e.position);
    norm2 += e.coef * e.coef;
  }
  const double norm = std::sqrt(norm2);
  if (norm < 1e-7 || !((activity - rhs_cut) / norm > kMinEfficacy)) return MIXED_NONE;

  const bool top = node_count < 2;
  const bool single = target.single_call == 1;
  const int32_t type = single ? target.caller_cut_type : (cover ? 0x80 : 0x40) + 8;
  std::vector<int32_t> positions;
  std::vector<double> values;
  for (const Entry& e : cut) {
    positions.push_back(e.position);
    values.push_back(e.coef);
  }
  const int32_t before = search_record.stored_cut_count;
  // storecut counts entries from the index base IFDBG.
  const int32_t first_entry = 1 - icv(ic::IFDBG);
  const int32_t start[2] = {first_entry, first_entry + static_cast<int32_t>(positions.size())};
  int32_t index = 0;
  status_code = STATUS_OK;
  storecut(1, 0, &type, "L", &rhs_cut, start, &index, positions.data(), values.data(), single ? 2 : 1);
  index += icv(ic::IFDBG);  // the record itself
  if (status_code != STATUS_OK || search_record.stored_cut_count == before) return MIXED_NONE;
  cut_record_field(index, CUT_FIELD_FLAGS) |= CUT_NEW_IN_ROUND | (top ? CUT_TOP_NODE : 0);
  if (single && target.list_count != nullptr && target.cut_list != nullptr &&
      *target.list_count < target.list_capacity) {
    int32_t* end = target.cut_list + *target.list_count;
    if (std::find(target.cut_list, end, index) == end) target.cut_list[(*target.list_count)++] = index;
  }
  return MIXED_STORED;
}

// Distance of a structural continuous column from its (variable) bounds.
double bound_distance(int32_t p) {
  if ((pos_word(p) & PS_SEMICONTINUOUS) != 0) return value_of(p);
  const double x = value_of(p);
  return std::min(x - effective_lower(p), effective_upper(p) - x);
}

double row_slack_distance(int32_t r) {
  const double x = value_of(r);
  const double lo = lower_of(r), up = upper_of(r);
  if (up >= kLargeBound) return x - lo;
  if (lo <= -kLargeBound) return up - x;
  return std::min(x - lo, up - x);
}

}  // namespace

void separate_aggregated_row_cut(int32_t max_aggregation, int32_t cover_method, int32_t aggregate, int32_t row,
                                 int32_t& stored, const CutListTarget& target) {
  stored = 0;
  std::vector<Entry> list;
  row_entries(row, list);
  list.push_back({row, 1.0});
  if (static_cast<int32_t>(list.size()) > kMaxEntries) return;
  double rhs = real_array(ARR_RHS)[row];
  const int32_t natural = (pos_word(row) & PS_FINITE_LOWER) != 0 ? 0 : 1;
  auto three_calls = [&]() {
    if (separate_mixed_row_cut(cover_method, 2, natural, list, rhs, target) == MIXED_STORED) ++stored;
    if (separate_mixed_row_cut(cover_method, 2, 1 - natural, list, rhs, target) == MIXED_STORED) ++stored;
    if (stored == 0 && separate_mixed_row_cut(cover_method, 1, natural, list, rhs, target) == MIXED_STORED) ++stored;
  };
  three_calls();
  const int32_t limit = target.single_call == 1 ? max_aggregation : kDefaultAggregation;
  if (stored != 0 || aggregate == 0 || limit <= 1) return;

  const double ztolis = dcv(dc::ZTOLIS);
  const double ztolda = dcv(dc::ZTOLDA);
  const int32_t model_rows = nrow - std::max(0, cut_row_count);
  const OneBased<int32_t> cstart = int_array(ARR_COL_START);
  const OneBased<int32_t> crow = int_array(ARR_ELEM_ROW);
  const OneBased<double> cval = real_array(ARR_ELEM_VALUE);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<double> row_rhs = real_array(ARR_RHS);
  if ((problem_flags & PF_COLUMN_COPY) == 0) return;
  std::vector<int32_t> used = {row};
  std::vector<double> coef_at(static_cast<size_t>(nseq) + 1, 0.0);
  for (int32_t level = 1; level < limit; ++level) {
    std::fill(coef_at.begin(), coef_at.end(), 0.0);
    for (const Entry& e : list)
      if (is_column(e.position)) coef_at[static_cast<size_t>(e.position)] = e.coef;
    double best_sum = 1e20;
    int32_t best_row = 0;
    double best_lambda = 0.0;
    for (const Entry& cand : list) {
      const int32_t j = cand.position;
      if (!is_column(j) || is_integer_column(j)) continue;
      if (!(bound_distance(j) > ztolis)) continue;
      double col_best_d = 1e20, col_best_sum = 1e20, col_lambda = 0.0;
      int32_t col_row = 0;
      for (int32_t e = cstart[j]; e < cstart[j + 1]; ++e) {
        const int32_t i = crow[e];
        if (i <= 0 || i > model_rows || cval[e] == 0.0) continue;
        const uint32_t word = static_cast<uint32_t>(row_type[i]);
        if ((word & ROW_TYPE_MASK) == ROW_N || (word & kAggregationClasses) == 0) continue;
        if (std::find(used.begin(), used.end(), i) != used.end()) continue;
        const double d_i = row_slack_distance(i);
        const double lambda = -cand.coef / cval[e];
        std::vector<Entry> elements;
        row_entries(i, elements);
        double sum = 0.0;
        for (const Entry& el : elements) {
          if (is_integer_column(el.position)) continue;
          const double d_c = std::max(0.0, bound_distance(el.position));
          const double term = lambda * el.coef;
          const double present = coef_at[static_cast<size_t>(el.position)];
          sum += present != 0.0 ? (std::fabs(term + present) - std::fabs(term)) * d_c : std::fabs(term) * d_c;
        }
        const bool better = d_i < col_best_d - ztolda || (std::fabs(d_i - col_best_d) <= ztolda && sum < col_best_sum);
        if (col_row == 0 || better) {
          col_best_d = d_i;
          col_best_sum = sum;
          col_row = i;
          col_lambda = lambda;
        }
      }
      if (col_row != 0 && col_best_sum < best_sum) {
        best_sum = col_best_sum;
        best_row = col_row;
        best_lambda = col_lambda;
      }
    }
    if (best_row == 0) return;
    used.push_back(best_row);
    rhs += best_lambda * row_rhs[best_row];
    std::vector<Entry> elements;
    row_entries(best_row, elements);
    for (const Entry& el : elements) list.push_back({el.position, best_lambda * el.coef});
    list.push_back({best_row, best_lambda});
    if (static_cast<int32_t>(list.size()) > kMaxEntries) return;
    double ratio = 1.0;
    compact_marked_list(list, ratio);
    three_calls();
    if (stored != 0) return;
  }
}

}  // namespace kl
