#include "simplex/primal_pricing.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/solves.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "simplex/primal_driver.h"
#include "factor/simplex_state.h"

namespace kl {

int32_t candidate_list[kCandidateListCapacity + 1] = {};
double candidate_merits[kCandidateListCapacity + 1] = {};
int32_t candidate_count = 0;
int32_t candidate_best = 0;
int32_t candidate_list_size = 5;
int32_t candidate_sections = 1;
int32_t next_section = 1;
double near_best_threshold = 0.0;
double sections_fraction = 0.0;
double list_price_average = 0.0;
double list_drop_average = 0.0;
int32_t pricing_pass_count = 0;

namespace {

// Weight of the newest value in the running statistics of the list.
constexpr double kAverageKeep = 99.0;
constexpr double kAverageScale = 0.01;

// The arrays every pricing routine reads, fetched once per call.
struct PriceContext {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  // The cost term of a column's reduced cost: none in pure phase 1.
  double cost_factor = (ninf > 0 && bigm_mode == 0) ? 0.0 : sense_factor;
  double t = dcv(dc::ZTCOST);

  // Reduced cost of position p from the row duals held in reduced_costs.
  double price(int32_t p) const {
    if (p <= nrow) return d[p];
    double v = cost_factor * cost[p];
    for (int32_t k = start[p]; k < start[p + 1]; ++k) v += elem_value[k] * d[elem_row[k]];
    return v;
  }
  bool at_upper(int32_t p) const { return (status[p] & PS_AT_UPPER) != 0; }
};

// Factor position of row i, 0 when the permuted factor does not cover it.
struct FactorMap {
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  bool permuted = factor.factor_permuted != 0 && static_cast<bool>(index);
  int32_t position(int32_t i) const { return permuted ? index[i] : i; }
  int32_t row(int32_t k) const { return permuted ? rows[k] : k; }
};

// The selection outputs for position p with reduced cost dp: the oriented
// value at an upper bound, the raw one otherwise (the engine orients a
// position that may move both ways).
void set_choice(const PriceContext& c, int32_t p, double dp) {
  entering_column = p;
  entering_upper = c.upper[p];
  if (c.at_upper(p)) {
    entering_sign = 1;
    entering_reduced_cost = -dp;
  } else {
    entering_sign = 0;
    entering_reduced_cost = dp;
  }
}

void clear_choice() {
  entering_column = 0;
  entering_sign = 0;
}

// Slot s leaves the list: its position loses the list mark and the last
// slot moves into it.
void remove_slot(OneBased<int32_t> status, int32_t s) {
  const int32_t p = std::abs(candidate_list[s]);
  if (p > 0) status[p] &= ~PS_PRICING_MARK;
  candidate_list[s] = candidate_list[candidate_count];
  candidate_merits[s] = candidate_merits[candidate_count];
  candidate_list[candidate_count] = 0;
  --candidate_count;
  if (candidate_best == s) candidate_best = 0;
  if (candidate_best == candidate_count + 1) candidate_best = s;
}

// A position that can no longer enter (it became basic or fixed meanwhile)
// is never kept on the list.
bool may_enter(uint32_t s) { return (s & (PS_BASIC | PS_FIXED | PS_SEARCH_FIXED)) == 0; }

// Scratch of the incremental updates, kept between calls of one run.
struct UpdateScratch {
  std::vector<double> delta;
  std::vector<uint8_t> touched_mark;
  std::vector<int32_t> touched;
  void fit(int32_t n) {
    if (static_cast<int32_t>(delta.size()) < n + 2) {
      delta.assign(static_cast<size_t>(n) + 2, 0.0);
      touched_mark.assign(static_cast<size_t>(n) + 2, 0);
    }
    touched.clear();
  }
  void add(int32_t p, double v) {
    if (!touched_mark[static_cast<size_t>(p)]) {
      touched_mark[static_cast<size_t>(p)] = 1;
      touched.push_back(p);
    }
    delta[static_cast<size_t>(p)] += v;
  }
  void reset() {
    for (const int32_t p : touched) {
      delta[static_cast<size_t>(p)] = 0.0;
      touched_mark[static_cast<size_t>(p)] = 0;
    }
    touched.clear();
  }
};
UpdateScratch scratch;

// Weighted choice: every attractive position is chained in increasing order
// and the best is the smallest merit / weight (ties keep the earlier).
struct WeightedChooser {
  const PriceContext& c;
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  int32_t* chain = candidate_chain();
  int32_t previous = 0;
  int32_t best = 0;
  double best_ratio = 0.0;

  explicit WeightedChooser(const PriceContext& context) : c(context) {
    nnegdj = 0;
    clear_choice();
  }
  void consider(int32_t p, double dp, bool free_rule = false) {
    int32_t decreasing = 0;
    const double merit = oriented_merit(static_cast<uint32_t>(c.status[p]), dp, c.t, decreasing, free_rule);
    if (merit >= 0.0) return;
    if (chain) chain[previous] = p;
    previous = p;
    ++nnegdj;
    const double w = weights[p] > 0.0 ? weights[p] : 1.0;
    const double ratio = merit / w;
    if (ratio < best_ratio) {
      best_ratio = ratio;
      best = p;
    }
  }
  void finish(bool close_chain = true) {
    if (chain && close_chain) chain[previous] = nseq + 1;
    if (best == 0) return;
    set_choice(c, best, c.d[best]);
    dj_check_value = -entering_reduced_cost;
  }
};

double weight_ratio(double entering_reduced) {
  return std::fabs(entering_reduced) < dcv(dc::ZTOLDJ) ? 0.0 : entering_weight / entering_reduced;
}

// Sum of a_ij x v_i over column p for a vector v by factor position.
double column_dot(const PriceContext& c, const FactorMap& f, OneBased<double> v, int32_t p) {
  double sum = 0.0;
  for (int32_t k = c.start[p]; k < c.start[p + 1]; ++k) {
    const int32_t at = f.position(c.elem_row[k]);
    if (at > 0) sum += c.elem_value[k] * v[at];
  }
  return sum;
}

}  // namespace

int32_t* candidate_chain() { return int_array(ARR_ROW_LIST_LAST).data(); }

double oriented_merit(uint32_t status, double d, double t, int32_t& decreasing, bool free_rule) {
  decreasing = 0;
  if ((status & PS_AT_UPPER) != 0) {
    if (d >= t && d > 0.0) {
      decreasing = 1;
      return -d;
    }
    return 0.0;
  }
  if (d < -t && d < 0.0) return d;
  const uint32_t both_ways = free_rule ? PS_FREE : PS_NONBASIC_BETWEEN;
  if ((status & both_ways) != 0 && d >= t && d > 0.0) {
    decreasing = 1;
    return -d;
  }
  return 0.0;
}

// ---------------------------------------------------------------------------
// Candidate list.

void empty_candidate_list() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t s = 1; s <= candidate_count; ++s) {
    const int32_t p = std::abs(candidate_list[s]);
    if (p > 0 && status) status[p] &= ~PS_PRICING_MARK;
    candidate_list[s] = 0;
  }
  candidate_count = 0;
  candidate_best = 0;
}

// Re-pricing compacts the candidate list: a candidate whose oriented merit
// is still negative keeps a place (and the pricing mark), the best is
// remembered.
struct ListCompaction {
  int32_t kept = 0;
  int32_t best = 0;
  double best_merit = 0.0;
  // True when p, with reduced cost d, became the best so far.
  bool keep(const PriceContext& c, int32_t p, double d) {
    int32_t decreasing = 0;
    const double merit = oriented_merit(static_cast<uint32_t>(c.status[p]), d, c.t, decreasing);
    if (merit >= 0.0) return false;
    ++kept;
    candidate_list[kept] = p;
    candidate_merits[kept] = d;
    c.status[p] |= PS_PRICING_MARK;
    if (merit >= best_merit) return false;
    best_merit = merit;
    best = kept;
    return true;
  }
  void finish(int32_t before) const {
    for (int32_t s = kept + 1; s <= before; ++s) candidate_list[s] = 0;
    candidate_count = kept;
    candidate_best = best;
    entering_reduced_cost = 0.0;
  }
};

void price_partial_list() {
  const PriceContext c;
  ListCompaction list;
  for (int32_t s = 1; s <= candidate_count; ++s) {
    const int32_t p = std::abs(candidate_list[s]);
    if (p == 0) continue;
    c.status[p] &= ~PS_PRICING_MARK;
    if (!may_enter(static_cast<uint32_t>(c.status[p]))) continue;
    list.keep(c, p, c.price(p));
  }
  list.finish(candidate_count);
  if (list.best > 0)
    set_choice(c, candidate_list[list.best], candidate_merits[list.best]);
  else
    clear_choice();
}

void price_refill_list() {
  const PriceContext c;
  ++pricing_pass_count;
  const int32_t sections = std::max(candidate_sections, 1);
  if (next_section < 1 || next_section > sections) next_section = 1;
  int32_t begun = 0;
  bool full = false;
  bool target_reached = false;
  auto take = [&](int32_t p) {
    if ((static_cast<uint32_t>(c.status[p]) & kRefillMask) != 0) return;
    const double dp = c.price(p);
    int32_t decreasing = 0;
    if (oriented_merit(static_cast<uint32_t>(c.status[p]), dp, c.t, decreasing) >= 0.0) return;
    if (candidate_count >= kCandidateListCapacity) {
      full = true;
      return;
    }
    ++candidate_count;
    candidate_list[candidate_count] = decreasing ? -p : p;
    candidate_merits[candidate_count] = dp;
    c.status[p] |= PS_PRICING_MARK;
  };
  for (int32_t n = 0; n < sections && !full; ++n) {
    ++begun;
    const int32_t first = store.first_col + next_section - 1;
    int32_t p = first;
    for (; p <= nseq && !full; p += sections) take(p);
    if (!full) {
      // The stride carries on into the rows: positions beyond nseq wrap to
      // the rows with the same spacing.
      for (int32_t i = p - nseq; i <= nrow && !full; i += sections) take(i);
    }
    if (full) break;
    next_section = next_section % sections + 1;
    if (candidate_count >= candidate_list_size) {
      target_reached = true;
      break;
    }
  }
  const int32_t k = (!full && !target_reached && begun == sections) ? sections + 1 : std::max(begun, 1);
  sections_fraction = (kAverageKeep * sections_fraction + static_cast<double>(k) / sections) / 100.0;

  // Selection over the whole list; fresh decreasing entries count with -d.
  int32_t found = 0;
  double m = 0.0;
  for (int32_t s = 1; s <= candidate_count; ++s) {
    int32_t e = candidate_list[s];
    if (e == 0) continue;
    double value = candidate_merits[s];
    if (e < 0) {
      e = -e;
      candidate_list[s] = e;
      value = -candidate_merits[s];
    }
    if (value <= 0.0 && (found == 0 || value <= m)) {
      found = s;
      m = value;
    }
  }

  // Combination with the choice the preceding selection left.
  const bool earlier = entering_column != 0;
  const double a = entering_reduced_cost;
  bool take_new = found != 0;
  if (found != 0 && earlier) {
    if (std::fabs(m - a) < dcv(dc::ZTOLZE))
      take_new = (itcnt % 2) == 0;
    else
      take_new = m <= a;
  }
  if (take_new) {
    const int32_t p = candidate_list[found];
    const double dp = candidate_merits[found];
    set_choice(c, p, dp);
    dj_check_value = -dp;
    remove_slot(c.status, found);
  } else if (earlier && candidate_best > 0) {
    const int32_t s = candidate_best;
    dj_check_value = -candidate_merits[s];
    remove_slot(c.status, s);
  }
  candidate_best = 0;
  if (entering_column != 0)
    near_best_threshold = -std::max(std::fabs(dcv(dc::ZDJDBS) * entering_reduced_cost), c.t);
  nnegdj = candidate_count;
}

void trim_candidate_list() {
  const int32_t n = candidate_count - candidate_list_size;
  if (n <= 0) return;
  const PriceContext c;
  // Key: attractiveness, larger is better; emptied or no longer attractive
  // slots rank lowest so that they go first.
  auto key = [&](int32_t s) {
    const int32_t p = std::abs(candidate_list[s]);
    if (p == 0) return -1.0;
    int32_t decreasing = 0;
    const double merit = oriented_merit(static_cast<uint32_t>(c.status[p]), candidate_merits[s], c.t, decreasing);
    return merit < 0.0 ? -merit : -0.5;
  };
  // A max-heap of the n least attractive slots found so far: a later slot
  // less attractive than the top replaces it.
  std::vector<int32_t> heap(static_cast<size_t>(n));
  for (int32_t s = 1; s <= n; ++s) heap[static_cast<size_t>(s - 1)] = s;
  auto less = [&](int32_t x, int32_t y) { return key(x) < key(y); };
  std::make_heap(heap.begin(), heap.end(), less);
  for (int32_t s = n + 1; s <= candidate_count; ++s) {
    if (key(s) < key(heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), less);
      heap.back() = s;
      std::push_heap(heap.begin(), heap.end(), less);
    }
  }
  for (const int32_t s : heap) {
    const int32_t p = std::abs(candidate_list[s]);
    if (p > 0) c.status[p] &= ~PS_PRICING_MARK;
    candidate_list[s] = 0;
    if (candidate_best == s) candidate_best = 0;
  }
}

void update_candidate_merits() {
  const PriceContext c;
  const FactorMap f;
  OneBased<double> dy = work_vector();
  const int32_t before = candidate_count;
  ListCompaction list;
  double best_change = 0.0;
  int64_t terms = 0;
  int64_t nonzero_terms = 0;
  for (int32_t s = 1; s <= before; ++s) {
    const int32_t p = std::abs(candidate_list[s]);
    if (p == 0) continue;
    c.status[p] &= ~PS_PRICING_MARK;
    if (!may_enter(static_cast<uint32_t>(c.status[p]))) continue;
    double change = 0.0;
    if (p <= nrow) {
      ++terms;
      const int32_t at = f.position(p);
      const double v = at > 0 ? dy[at] : 0.0;
      if (!high_word_zero(v)) {
        change = v;
        ++nonzero_terms;
      } else if ((c.status[p] & PS_MARK) != 0) {
        continue;
      }
    } else {
      for (int32_t k = c.start[p]; k < c.start[p + 1]; ++k) {
        ++terms;
        const int32_t at = f.position(c.elem_row[k]);
        if (at <= 0) continue;
        const double v = dy[at];
        if (high_word_zero(v)) continue;
        ++nonzero_terms;
        change += c.elem_value[k] * v;
      }
    }
    if (list.keep(c, p, candidate_merits[s] + change)) best_change = change;
  }
  list.finish(before);
  if (list.best > 0) {
    set_choice(c, candidate_list[list.best], candidate_merits[list.best]);
    dj_check_value = std::fabs(best_change);
    if (terms > 0)
      list_price_average =
          (kAverageKeep * list_price_average + static_cast<double>(nonzero_terms) / static_cast<double>(terms)) *
          kAverageScale;
  } else {
    clear_choice();
  }
  if (before > 0)
    list_drop_average =
        (kAverageKeep * list_drop_average + static_cast<double>(before - list.kept) / static_cast<double>(before)) *
        kAverageScale;
}

void take_best_candidate() {
  const PriceContext c;
  int32_t best = 0;
  double best_merit = 0.0;
  for (int32_t s = 1; s <= candidate_count; ++s) {
    const int32_t p = std::abs(candidate_list[s]);
    if (p == 0 || !may_enter(static_cast<uint32_t>(c.status[p])) || (c.status[p] & PS_MARK) != 0) continue;
    int32_t decreasing = 0;
    const double merit = oriented_merit(static_cast<uint32_t>(c.status[p]), candidate_merits[s], c.t, decreasing);
    if (merit < best_merit) {
      best_merit = merit;
      best = s;
    }
  }
  entering_reduced_cost = 0.0;
  clear_choice();
  if (best > 0) {
    const int32_t p = std::abs(candidate_list[best]);
    set_choice(c, p, candidate_merits[best]);
    dj_check_value = -entering_reduced_cost;
    remove_slot(c.status, best);
  }
  candidate_best = 0;
  nnegdj = candidate_count;
}

void remove_best_candidate() {
  if (candidate_best < 1 || candidate_best > candidate_count) return;
  remove_slot(int_array(ARR_POS_STATUS), candidate_best);
  candidate_best = 0;
  nnegdj = candidate_count;
}

// ---------------------------------------------------------------------------
// Weighted pricing.

namespace {

// Duals from the work vector into the row entries of reduced_costs, the work
// vector left zero; rows are priced when some row is an inequality.
void move_duals_and_price_rows(const PriceContext& c, WeightedChooser& chooser) {
  const FactorMap f;
  OneBased<double> w = work_vector();
  const bool price_rows = inequality_row_count > 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t at = f.position(i);
    double y = 0.0;
    if (at > 0) {
      y = w[at];
      w[at] = 0.0;
    }
    c.d[i] = y;
    if (price_rows && (static_cast<uint32_t>(c.status[i]) & kPricingMask) == 0) chooser.consider(i, y);
  }
  factor.work_vector_state = WV_ZERO;
  factor.work_vector_count = 0;
}

// (Qx)_j over both stored triangles of column j.
double quadratic_gradient(int32_t j) {
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  OneBased<double> x = real_array(ARR_X);
  if (!upper_start || !lower_start || !index || !value) return 0.0;
  double g = 0.0;
  for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k)
    if (index[k] > 0) g += value[k] * x[index[k]];
  for (int32_t k = lower_start[j]; k < lower_start[j + 1]; ++k)
    if (index[k] > 0) g += value[k] * x[index[k]];
  return g;
}

void price_all_positions(bool with_gradient) {
  const PriceContext c;
  WeightedChooser chooser(c);
  move_duals_and_price_rows(c, chooser);
  const bool gradient = with_gradient && nqelem > 0 && ninf == 0;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((static_cast<uint32_t>(c.status[j]) & kPricingMask) != 0) continue;
    double dj = c.price(j);
    // The quadratic term carries the sense like the costs: a maximisation
    // minimises -(c'x + x'Qx/2).
    if (gradient && (c.status[j] & PS_QUADRATIC) != 0) dj += sense_factor * quadratic_gradient(j);
    c.d[j] = dj;
    chooser.consider(j, dj);
  }
  chooser.finish();
}

// Re-tests the positions of an incremental update in increasing order: the
// touched ones (sorted) merged with the old chain.
void rechain_touched_and_chain(const PriceContext& c, double rho) {
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  int32_t* chain = candidate_chain();
  std::sort(scratch.touched.begin(), scratch.touched.end());
  WeightedChooser chooser(c);
  int32_t old = chain ? chain[0] : nseq + 1;
  size_t t = 0;
  const size_t touched_count = scratch.touched.size();
  while (true) {
    const int32_t next_touched = t < touched_count ? scratch.touched[t] : nseq + 1;
    const int32_t next_old = old >= 1 && old <= nseq ? old : nseq + 1;
    const int32_t p = std::min(next_touched, next_old);
    if (p > nseq) break;
    if (p == next_old) {
      const int32_t after = chain[old];
      old = after > old ? after : nseq + 1;
    }
    bool touched = false;
    if (p == next_touched) {
      ++t;
      touched = true;
    }
    if (p > nrow && p < store.first_col) continue;
    if ((static_cast<uint32_t>(c.status[p]) & kPricingMask) != 0) continue;
    if (touched) {
      const double change = std::fabs(rho * scratch.delta[static_cast<size_t>(p)]);
      if (change > weights[p]) weights[p] = change;
    }
    chooser.consider(p, c.d[p]);
  }
  chooser.finish();
}

}  // namespace

void price_all_weighted() { price_all_positions(false); }

void price_weighted() { price_all_positions(true); }

void price_linked_list() {
  const PriceContext c;
  int32_t* chain = candidate_chain();
  WeightedChooser chooser(c);
  if (!chain) return;
  int32_t p = chain[0];
  while (p >= 1 && p <= nseq) {
    const int32_t next = chain[p];
    if ((static_cast<uint32_t>(c.status[p]) & kPricingMask) == 0) chooser.consider(p, c.d[p], true);
    if (next <= p) break;
    p = next;
  }
  // The chain beyond the last attractive position is kept as it was.
  chooser.finish(false);
}

void update_prices_by_columns() {
  const PriceContext c;
  const FactorMap f;
  OneBased<double> dy = work_vector();
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  const double rho = weight_ratio(entering_reduced_cost);
  WeightedChooser chooser(c);
  auto apply = [&](int32_t p, double change) {
    c.d[p] += change;
    const double grown = std::fabs(rho * change);
    if (grown > weights[p]) weights[p] = grown;
    chooser.consider(p, c.d[p]);
  };
  if (inequality_row_count > 0) {
    for (int32_t i = 1; i <= nrow; ++i) {
      if ((static_cast<uint32_t>(c.status[i]) & kPricingMask) != 0) continue;
      const int32_t at = f.position(i);
      if (at == 0) {
        chooser.consider(i, c.d[i]);
        continue;
      }
      apply(i, dy[at]);
    }
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((static_cast<uint32_t>(c.status[j]) & kPricingMask) != 0) continue;
    apply(j, column_dot(c, f, dy, j));
  }
  chooser.finish();
}

void update_prices_by_row_copy() {
  const PriceContext c;
  const FactorMap f;
  OneBased<double> dy = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  OneBased<int32_t> stamp = int_array(ARR_SCALE_WORK);
  OneBased<double> old_d = pivot_row_index_as_real_scratch();
  OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> row_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> row_val = real_array(ARR_ROW_COPY_VAL);
  const double rho = weight_ratio(entering_reduced_cost);
  const int32_t mark = itcnt;
  auto change = [&](int32_t p, double v) {
    if (stamp[p] != mark) {
      stamp[p] = mark;
      old_d[p] = c.d[p];
    }
    c.d[p] += v;
  };
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = list[n];
    const double v = dy[k];
    if (v == 0.0) continue;
    const int32_t i = f.row(k);
    change(i, v);
    for (int32_t e = row_start[i]; e < row_start[i + 1]; ++e) change(row_col[e], v * row_val[e]);
  }
  WeightedChooser chooser(c);
  auto visit = [&](int32_t p) {
    if ((static_cast<uint32_t>(c.status[p]) & kPricingMask) != 0) return;
    if (stamp[p] == mark) {
      const double grown = std::fabs((c.d[p] - old_d[p]) * rho);
      if (grown > weights[p]) weights[p] = grown;
    }
    chooser.consider(p, c.d[p]);
  };
  if (inequality_row_count > 0)
    for (int32_t i = 1; i <= nrow; ++i) visit(i);
  for (int32_t j = store.first_col; j <= nseq; ++j) visit(j);
  chooser.finish();
}

void update_prices_by_rows() {
  const PriceContext c;
  const FactorMap f;
  OneBased<double> dy = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> head = int_array(ARR_ROW_LIST_HEAD);
  OneBased<int32_t> next = int_array(ARR_ROW_LIST_NEXT);
  OneBased<int32_t> column = int_array(ARR_ROW_LIST_COLUMN);
  const double rho = weight_ratio(entering_reduced_cost);
  scratch.fit(nseq);
  const bool rows_priced = inequality_row_count > 0;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = list[n];
    const double v = dy[k];
    if (v == 0.0) continue;
    const int32_t i = f.row(k);
    if (rows_priced) scratch.add(i, v);
    if (!head) continue;
    for (int32_t e = head[i]; e >= 1 && e <= nelem; e = next[e]) scratch.add(column[e], v * c.elem_value[e]);
  }
  for (const int32_t p : scratch.touched) c.d[p] += scratch.delta[static_cast<size_t>(p)];
  rechain_touched_and_chain(c, rho);
  scratch.reset();
}

void reference_weight() {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  const FactorMap f;
  double sum = 1.0;
  for (int32_t n = 1; n <= factor.work_vector_count; ++n) {
    const int32_t k = list[n];
    if ((row_type[f.row(k)] & ROW_TYPE_MASK) == ROW_N) continue;
    sum += w[k] * w[k];
  }
  entering_weight = std::sqrt(sum);
  if (entering_column > 0 && dcv(dc::ZTOLMN) * entering_weight < weights[entering_column]) reset_pricing_weights();
}

void update_reference_weights() {
  const PriceContext c;
  const FactorMap f;
  OneBased<double> dy = work_vector();
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  const double rho = weight_ratio(entering_reduced_cost);
  if (rho == 0.0) return;
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((static_cast<uint32_t>(c.status[i]) & kWeightMask) != 0) continue;
    const int32_t at = f.position(i);
    if (at == 0) continue;
    const double grown = std::fabs(rho * dy[at]);
    if (grown > weights[i]) weights[i] = grown;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((static_cast<uint32_t>(c.status[j]) & kWeightMask) != 0) continue;
    const double grown = std::fabs(rho * column_dot(c, f, dy, j));
    if (grown > weights[j]) weights[j] = grown;
  }
}

void reset_pricing_weights() {
  OneBased<double> weights = real_array(ARR_PIVOT_ROW);
  if (!weights) return;
  for (int32_t p = 1; p <= nseq; ++p) weights[p] = 1.0;
}

void reset_pricing_weights_alt() {
  OneBased<double> weights = real_array(ARR_ROW_WEIGHTS);
  if (!weights) return;
  const int32_t length = factor.factor_dimension > 0 ? factor.factor_dimension : nrow;
  for (int32_t k = 1; k <= length; ++k) weights[k] = 1.0;
}

void build_dual_update_rhs() {
  clear_work_vector();
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  int32_t count = 0;
  auto put = [&](int32_t k, double v) {
    if (w[k] == 0.0) list[++count] = k;
    w[k] += v;
  };
  const int32_t pairs = std::min(infeasibility_changes.count, kChangeListOverflow);
  for (int32_t n = 0; n + 1 < pairs; n += 2) {
    const int32_t k = infeasibility_changes.items[n];
    const int32_t code = std::clamp(infeasibility_changes.items[n + 1], -2, 2);
    if (k < 1 || k > nrow || code == 0) continue;
    put(k, bigm_ladder[code + 2]);
  }
  if (leaving_row > 0) put(leaving_row, entering_sign == 1 ? entering_reduced_cost : -entering_reduced_cost);
  factor.work_vector_count = count;
  factor.work_vector_state = WV_LISTED;
}

void sort_index_list(int32_t* list, int32_t count) {
  if (count < 2) return;
  int32_t gap = 1;
  while (gap * 2 <= count) gap *= 2;
  gap -= 1;
  for (; gap >= 1; gap = (gap - 1) / 2) {
    for (int32_t i = gap; i < count; ++i) {
      const int32_t v = list[i];
      int32_t j = i;
      while (j >= gap && list[j - gap] > v) {
        list[j] = list[j - gap];
        j -= gap;
      }
      list[j] = v;
    }
    if (gap == 1) break;
  }
}

}  // namespace kl
