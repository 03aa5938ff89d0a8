// Parallel columns: of two columns that are multiples of each other one
// leaves the problem, fixed at a bound when the other dominates it (costs
// not proportional) or merged into the other with combined bounds (costs
// proportional). An equality row that links the pair, or that is left with
// one entry, settles the pair too. Removals push duplicate-column records
// (types 9 and 10) for postsolve.
#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/simplex_state.h"
#include "presolve/duplicates.h"
#include "presolve/record_stack.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

namespace {

constexpr uint32_t kColumnExcluded = PS_FIXED | PS_ENTITY | PS_PROTECTED | PS_QUADRATIC;
constexpr uint32_t kRowUntouchable = PS_PROTECTED | PS_QUADRATIC;

enum MergeResult : int32_t { MERGE_CONFLICT = 0, MERGE_DONE = 1, MERGE_PUSH_FAILED = 2 };

// Column marks of the pass.
enum ColumnMark : int8_t { MARK_UNTOUCHED = 0, MARK_DONE = 1, MARK_TRIED = -1 };

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
void set_bits(int32_t p, uint32_t bits) { int_array(ARR_POS_STATUS)[p] = static_cast<int32_t>(status_of(p) | bits); }
void clear_bits(int32_t p, uint32_t bits) {
  int_array(ARR_POS_STATUS)[p] = static_cast<int32_t>(status_of(p) & ~bits);
}

bool row_live(int32_t i) {
  return i >= 1 && i <= nrow && (int_array(ARR_ROW_TYPE)[i] & ROW_N) == 0 && (status_of(i) & PS_FREE) == 0;
}

// Bounds as the pass sees them: infinite unless the status word says finite.
struct Bounds {
  double lower = -kInfinity;
  double upper = kInfinity;
  bool has_lower() const { return lower > -kInfinity; }
  bool has_upper() const { return upper < kInfinity; }
};

Bounds column_bounds(int32_t j) {
  Bounds b;
  if ((status_of(j) & PS_FINITE_LOWER) != 0) b.lower = real_array(ARR_LOWER)[j];
  if ((status_of(j) & PS_FINITE_UPPER) != 0) b.upper = real_array(ARR_UPPER)[j];
  return b;
}

// A type 9 record (the stack grows when it must); false when growth was
// refused. Bounds are held as -1e20 / +1e20 when infinite.
bool push_duplicate_column(std::initializer_list<int32_t> ints, std::initializer_list<double> reals) {
  return push_presolve_record(ints, reals);
}

// What happens to the removed column I.
enum Action : int32_t { ACT_NONE, ACT_AT_LOWER, ACT_AT_UPPER, ACT_MERGE, ACT_UNBOUNDED, ACT_INFEASIBLE };

struct Decision {
  Action action = ACT_NONE;
  int32_t removed = 0;
  int32_t kept = 0;
};

class ColumnMerger {
 public:
  ColumnMerger(int32_t& columns_removed, int32_t& rows_removed, int32_t& elements_removed)
      : columns_removed_(columns_removed),
        rows_removed_(rows_removed),
        elements_removed_(elements_removed),
        mark_(static_cast<size_t>(nseq) + 1, MARK_UNTOUCHED),
        live_count_(static_cast<size_t>(nrow) + 1, 0),
        dense_(static_cast<size_t>(nrow) + 1, 0.0) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      if ((status_of(j) & PS_FIXED) != 0) continue;
      for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
        if (row_live(elem_row[k])) ++live_count_[static_cast<size_t>(elem_row[k])];
    }
  }

  // The classes of candidate columns with the same live rows, each of two
  // columns or more, columns ascending within a class.
  static std::vector<std::vector<int32_t>> column_pattern_classes() {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    std::vector<std::vector<int32_t>> pattern(static_cast<size_t>(nseq) + 1);
    std::vector<int32_t> columns;
    for (int32_t j = store.first_col; j <= nseq; ++j) {
      if ((status_of(j) & kColumnExcluded) != 0) continue;
      for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
        if (row_live(elem_row[k])) pattern[j].push_back(elem_row[k]);
      if (pattern[j].empty()) continue;
      std::sort(pattern[j].begin(), pattern[j].end());
      columns.push_back(j);
    }
    std::stable_sort(columns.begin(), columns.end(), [&](int32_t a, int32_t b) { return pattern[a] < pattern[b]; });
    std::vector<std::vector<int32_t>> classes;
    for (size_t s = 0; s < columns.size();) {
      size_t e = s + 1;
      while (e < columns.size() && pattern[columns[e]] == pattern[columns[s]]) ++e;
      if (e - s > 1)
        classes.emplace_back(columns.begin() + static_cast<std::ptrdiff_t>(s),
                             columns.begin() + static_cast<std::ptrdiff_t>(e));
      s = e;
    }
    std::sort(classes.begin(), classes.end());
    return classes;
  }

  int32_t merge_parallel_columns(const std::vector<int32_t>& members) {
    for (size_t m = 0; m + 1 < members.size(); ++m) {
      const int32_t c = members[m];
      if (mark_[static_cast<size_t>(c)] != MARK_UNTOUCHED) continue;
      const int32_t pivot_row = spread(c);
      if (pivot_row == 0) continue;
      candidates_.assign(1, c);
      for (size_t n = m + 1; n < members.size(); ++n) {
        const int32_t k = members[n];
        if (mark_[static_cast<size_t>(k)] == MARK_UNTOUCHED && parallel_to_spread(k, pivot_row))
          candidates_.push_back(k);
      }
      clear_spread(c);
      if (candidates_.size() == 1) {
        mark_[static_cast<size_t>(c)] = MARK_DONE;
        continue;
      }
      const int32_t result = settle_candidates(pivot_row);
      if (result != MERGE_DONE) return result;
      for (int32_t j : candidates_)
        if (mark_[static_cast<size_t>(j)] == MARK_UNTOUCHED) mark_[static_cast<size_t>(j)] = MARK_TRIED;
    }
    return MERGE_DONE;
  }

 private:
  double coefficient(int32_t j, int32_t row) const {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k)
      if (elem_row[k] == row) return real_array(ARR_ELEM_VALUE)[k];
    return 0.0;
  }

  // c's live entries into the dense row values; returns the first live row.
  int32_t spread(int32_t c) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    int32_t first = 0;
    for (int32_t k = col_start[c]; k < col_start[c + 1]; ++k) {
      const int32_t i = elem_row[k];
      if (!row_live(i)) continue;
      dense_[static_cast<size_t>(i)] = real_array(ARR_ELEM_VALUE)[k];
      if (first == 0) first = i;
    }
    if (first != 0 && dense_[static_cast<size_t>(first)] == 0.0) first = 0;
    return first;
  }
  void clear_spread(int32_t c) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    for (int32_t k = col_start[c]; k < col_start[c + 1]; ++k)
      if (elem_row[k] >= 1 && elem_row[k] <= nrow) dense_[static_cast<size_t>(elem_row[k])] = 0.0;
  }

  bool parallel_to_spread(int32_t k, int32_t pivot_row) const {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> value = real_array(ARR_ELEM_VALUE);
    const double r = coefficient(k, pivot_row) / dense_[static_cast<size_t>(pivot_row)];
    if (r == 0.0) return false;
    const double ztolda = dcv(dc::ZTOLDA);
    for (int32_t e = col_start[k]; e < col_start[k + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (!row_live(i)) continue;
      if (std::fabs(value[e] - r * dense_[static_cast<size_t>(i)]) > ztolda) return false;
    }
    return true;
  }

  int32_t unmarked_candidates() const {
    int32_t n = 0;
    for (int32_t j : candidates_)
      if (mark_[static_cast<size_t>(j)] == MARK_UNTOUCHED) ++n;
    return n;
  }

  int32_t settle_candidates(int32_t pivot_row) {
    const double ztolda = dcv(dc::ZTOLDA);
    OneBased<double> cost = real_array(ARR_OBJECTIVE);
    for (int32_t j : candidates_) {
      if (mark_[static_cast<size_t>(j)] != MARK_UNTOUCHED) continue;
      const double a_jp = coefficient(j, pivot_row);
      for (int32_t k : candidates_) {
        if (k == j || mark_[static_cast<size_t>(k)] != MARK_UNTOUCHED) continue;
        const double r = coefficient(k, pivot_row) / a_jp;
        double d = cost[k] - r * cost[j];
        if (sense_factor < 0.0) d = -d;
        else if (sense_factor == 0.0) d = 0.0;
        Decision decision = std::fabs(d) >= ztolda ? dominance(j, k, r, d) : proportional(j, k, r);
        if (decision.action == ACT_NONE && unmarked_candidates() == 2) decision = two_entry_row(j, k, r, d);
        if (decision.action == ACT_NONE) continue;
        if (decision.action == ACT_UNBOUNDED) return push_conflict(k, j);
        if (decision.action == ACT_INFEASIBLE) return push_conflict(-j, k);
        if (!remove_column(decision, r)) return MERGE_PUSH_FAILED;
        if (decision.removed == j) break;
      }
      if (mark_[static_cast<size_t>(j)] == MARK_UNTOUCHED && unmarked_candidates() == 1) {
        const int32_t result = settle_singleton_equality(j);
        if (result != MERGE_DONE) return result;
      }
    }
    return MERGE_DONE;
  }

  // Costs not proportional: the dearer column in the direction its partner
  // can take over without limit goes to the bound that direction leaves it.
  // Unlike a fixing by reduced cost, this keeps every feasible point: the
  // partner takes over k's share of every row (x_j + r (x_k - bound) stays
  // within j's bounds), so an infeasible verdict found after it still holds
  // for the loaded problem and is not counted among the cost fixings.
  static Decision dominance(int32_t j, int32_t k, double r, double d) {
    const double ztolda = dcv(dc::ZTOLDA);
    const Bounds bj = column_bounds(j);
    const Bounds bk = column_bounds(k);
    auto at = [&](bool lower_side) {
      Decision out{lower_side ? ACT_AT_LOWER : ACT_AT_UPPER, k, j};
      if ((lower_side && !bk.has_lower()) || (!lower_side && !bk.has_upper())) out.action = ACT_UNBOUNDED;
      return out;
    };
    if (!bj.has_upper()) {
      if (r > 0.0 && d > ztolda) return at(true);
      if (r < 0.0 && d < -ztolda) return at(false);
    }
    if (!bj.has_lower()) {
      if (r < 0.0 && d > ztolda) return at(true);
      if (r > 0.0 && d < -ztolda) return at(false);
    }
    return {};
  }

  // Costs proportional: k merges into j, or one of them is fixed.
  Decision proportional(int32_t j, int32_t k, double r) {
    const Bounds bj = column_bounds(j);
    const Bounds bk = column_bounds(k);
    const bool k_free = !bk.has_lower() && !bk.has_upper();
    if (k_free && (bj.has_lower() || bj.has_upper()))
      return {bj.has_lower() ? ACT_AT_LOWER : ACT_AT_UPPER, j, k};
    if (icv(ic::IFNBAS) == 1) {
      const uint32_t sj = status_of(j);
      const uint32_t sk = status_of(k);
      if ((sj & PS_BASIC) == 0 && (sk & PS_BASIC) == 0) {
        const bool same_side = ((sj ^ sk) & PS_AT_UPPER) == 0;
        if ((!same_side && r > 0.0) || (same_side && r < 0.0)) return {};
      }
    }
    merged_before_ = {bj, bk};
    Bounds nj = bj;
    const double from_lower = r <= 0.0 ? bk.upper : bk.lower;
    const double from_upper = r <= 0.0 ? bk.lower : bk.upper;
    if (bj.has_lower()) nj.lower = std::fabs(from_lower) < kInfinity ? bj.lower + r * from_lower : -kInfinity;
    if (bj.has_upper()) nj.upper = std::fabs(from_upper) < kInfinity ? bj.upper + r * from_upper : kInfinity;
    const bool changed = nj.lower != bj.lower || nj.upper != bj.upper;
    if (!changed && !k_free) {
      // A finite bound of j that did not move took a term r x (bound of k)
      // of 0: k goes to that bound, so that x_j + r x_k keeps its range.
      // For r <= 0 j's lower bound takes k's upper one and the other way.
      const Action feeds_lower = r > 0.0 ? ACT_AT_LOWER : ACT_AT_UPPER;
      const Action feeds_upper = r > 0.0 ? ACT_AT_UPPER : ACT_AT_LOWER;
      if (bj.has_lower()) return {feeds_lower, k, j};
      if (bj.has_upper()) return {feeds_upper, k, j};
      if (bk.has_lower()) return {ACT_AT_LOWER, k, j};
      if (bk.has_upper()) return {ACT_AT_UPPER, k, j};
    }
    // j takes the combined bounds.
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    lower[j] = nj.lower;
    upper[j] = nj.upper;
    if (!nj.has_lower()) clear_bits(j, PS_FINITE_LOWER);
    if (!nj.has_upper()) clear_bits(j, PS_FINITE_UPPER);
    merge_value_ = 0.0;
    if ((status_of(j) & (PS_BOTH_FINITE | PS_FREE)) == 0) {
      // j has just become free: k leaves at the value that puts j where its
      // lost finite bound was.
      set_bits(j, PS_FREE);
      double own = 0.0;
      double partner = 0.0;
      if (!bk.has_upper() && bk.has_lower()) {
        own = r <= 0.0 ? bj.lower : bj.upper;
        partner = bk.lower;
      } else if (bk.has_upper()) {
        own = r <= 0.0 ? bj.upper : bj.lower;
        partner = bk.upper;
      }
      if (std::fabs(own) < kInfinity) merge_value_ = own / r + partner;
    }
    return {ACT_MERGE, k, j};
  }

  // An equality row of the two columns alone bounds k through j's bounds.
  Decision two_entry_row(int32_t j, int32_t k, double r, double d) {
    const double ztolda = dcv(dc::ZTOLDA);
    const double ztolze = dcv(dc::ZTOLZE);
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    int32_t row = 0;
    double a_j = 0.0;
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (!row_live(i) || (int_array(ARR_ROW_TYPE)[i] & ROW_E) == 0) continue;
      if (live_count_[static_cast<size_t>(i)] != 2 || (status_of(i) & kRowUntouchable) != 0) continue;
      row = i;
      a_j = real_array(ARR_ELEM_VALUE)[e];
      break;
    }
    if (row == 0 || a_j == 0.0) return {};
    const double t = real_array(ARR_WORK_RHS)[row] / a_j;
    const Bounds bj = column_bounds(j);
    const Bounds bk = column_bounds(k);
    double lo = bk.lower;
    double hi = bk.upper;
    // x_k = (t - x_j) / r.
    const double from_lower = bj.has_lower() ? (t - bj.lower) / r : 0.0;
    const double from_upper = bj.has_upper() ? (t - bj.upper) / r : 0.0;
    if (r <= 0.0) {
      if (bj.has_lower()) lo = std::max(lo, from_lower);
      if (bj.has_upper()) hi = std::min(hi, from_upper);
    } else {
      if (bj.has_lower()) hi = std::min(hi, from_lower);
      if (bj.has_upper()) lo = std::max(lo, from_upper);
    }
    if (hi + ztolze < lo) return {ACT_INFEASIBLE, 0, 0};
    if (d > ztolda) {
      if (lo <= -kInfinity) return {ACT_UNBOUNDED, 0, 0};
      if (std::fabs(lo - bk.lower) < ztolda) return {ACT_AT_LOWER, k, j};
      return {r > 0.0 ? ACT_AT_UPPER : ACT_AT_LOWER, j, k};
    }
    if (hi >= kInfinity) return std::fabs(d) > ztolda ? Decision{ACT_UNBOUNDED, 0, 0} : Decision{};
    if (std::fabs(bk.upper - hi) < ztolda) return {ACT_AT_UPPER, k, j};
    return {r <= 0.0 ? ACT_AT_UPPER : ACT_AT_LOWER, j, k};
  }

  // Takes fixed column I out: its cost into the objective constant, its
  // entries into the working rhs of its live rows.
  void remove_fixed_column(int32_t column, double v) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> value = real_array(ARR_ELEM_VALUE);
    OneBased<double> rhs = real_array(ARR_WORK_RHS);
    dcv(kObjectiveConstantSlot) += v * real_array(ARR_OBJECTIVE)[column];
    for (int32_t e = col_start[column]; e < col_start[column + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (!row_live(i)) continue;
      rhs[i] -= v * value[e];
      --live_count_[static_cast<size_t>(i)];
      ++elements_removed_;
    }
    set_bits(column, PS_FIXED);
    real_array(ARR_LOWER)[column] = 0.0;
    real_array(ARR_UPPER)[column] = 0.0;
  }

  // The removal of step 6: basis hand-over, fixing or merging, the record.
  bool remove_column(const Decision& decision, double r) {
    const int32_t I = decision.removed;
    const int32_t K = decision.kept;
    ++columns_removed_;
    mark_[static_cast<size_t>(I)] = MARK_DONE;
    const Bounds bk_now = column_bounds(K);
    if ((status_of(I) & PS_BASIC) != 0) {
      set_bits(K, PS_BASIC);
      clear_bits(K, PS_AT_UPPER);
      clear_bits(I, PS_BASIC);
    } else if ((status_of(K) & PS_BASIC) == 0) {
      if (!bk_now.has_upper()) clear_bits(K, PS_AT_UPPER);
      else if ((status_of(K) & PS_AT_UPPER) == 0 && !bk_now.has_lower()) set_bits(K, PS_AT_UPPER);
    }
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    if (decision.action == ACT_MERGE) {
      const double w = merge_value_;
      const Bounds& bj = merged_before_.first;
      const Bounds& bk = merged_before_.second;
      if (!push_duplicate_column({K, I, 0, 0, REC_DUPLICATE_COLUMN}, {r, bj.lower, bj.upper, bk.lower, bk.upper, w}))
        return false;
      lower[I] = w;
      upper[I] = w;
      set_bits(I, PS_BOTH_FINITE);
      clear_bits(I, PS_FREE);
      remove_fixed_column(I, w);
      return true;
    }
    const bool at_upper = decision.action == ACT_AT_UPPER;
    if (at_upper) {
      lower[I] = upper[I];
      set_bits(I, PS_FINITE_LOWER);
    } else {
      upper[I] = lower[I];
      set_bits(I, PS_FINITE_UPPER);
    }
    const double v = lower[I];
    if (!push_duplicate_column({K, I, at_upper ? 0 : 1, at_upper ? 1 : 0, REC_DUPLICATE_COLUMN}, {v})) return false;
    remove_fixed_column(I, v);
    return true;
  }

  static int32_t push_conflict(int32_t first, int32_t second) {
    return push_duplicate_column({first, second, 1, 0, REC_DUPLICATE_COLUMN}, {0.0}) ? MERGE_CONFLICT
                                                                                   : MERGE_PUSH_FAILED;
  }

  // The last column of a merged class that is alone in an equality row is
  // fixed by it; the row leaves the problem.
  int32_t settle_singleton_equality(int32_t j) {
    OneBased<int32_t> col_start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> value = real_array(ARR_ELEM_VALUE);
    int32_t row = 0;
    double a = 0.0;
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (!row_live(i) || (int_array(ARR_ROW_TYPE)[i] & ROW_E) == 0) continue;
      if (live_count_[static_cast<size_t>(i)] != 1 || (status_of(i) & kRowUntouchable) != 0) continue;
      row = i;
      a = value[e];
      break;
    }
    if (row == 0 || a == 0.0) return MERGE_DONE;
    const double ztolze = dcv(dc::ZTOLZE);
    const double t = real_array(ARR_WORK_RHS)[row] / a;
    const Bounds bj = column_bounds(j);
    if ((bj.has_lower() && t + ztolze < bj.lower) || (bj.has_upper() && bj.upper < t - ztolze))
      return push_conflict(-j, j);
    // The record lists j's other live rows as they stand before j leaves.
    PresolveRecord record;
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i == row || !row_live(i)) continue;
      record.ints.push_back(i);
      record.reals.push_back(value[e]);
    }
    record.ints.push_back(static_cast<int32_t>(record.reals.size()));
    record.reals.push_back(real_array(ARR_OBJECTIVE)[j]);
    record.ints.insert(record.ints.end(), {row, -j, REC_DUPLICATE_COLUMN_BASIC});
    record.reals.insert(record.reals.end(), {a, t});

    real_array(ARR_LOWER)[j] = t;
    real_array(ARR_UPPER)[j] = t;
    set_bits(j, PS_BOTH_FINITE);
    clear_bits(j, PS_FREE);
    ++columns_removed_;
    mark_[static_cast<size_t>(j)] = MARK_DONE;
    remove_fixed_column(j, t);
    return remove_singleton_equality_row(row, record) ? MERGE_DONE : MERGE_PUSH_FAILED;
  }

  bool remove_singleton_equality_row(int32_t row, const PresolveRecord& record) {
    set_bits(row, PS_FREE);
    clear_bits(row, PS_BOTH_FINITE | PS_FIXED);
    OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
    row_type[row] = (row_type[row] & ~ROW_TYPE_MASK) | ROW_N;
    real_array(ARR_LOWER)[row] = -kInfinity;
    real_array(ARR_UPPER)[row] = kInfinity;
    ++rows_removed_;
    return push_presolve_record(record);
  }

  int32_t& columns_removed_;
  int32_t& rows_removed_;
  int32_t& elements_removed_;
  std::vector<int8_t> mark_;
  std::vector<int32_t> live_count_;
  std::vector<double> dense_;
  std::vector<int32_t> candidates_;
  std::pair<Bounds, Bounds> merged_before_;
  double merge_value_ = 0.0;
};

}  // namespace

int32_t presolve_parallel_columns(int32_t& outcome, int32_t& columns_removed, int32_t& rows_removed,
                                  int32_t& elements_removed) {
  outcome = 0;
  const std::vector<std::vector<int32_t>> classes = ColumnMerger::column_pattern_classes();
  if (classes.empty()) return 0;
  ColumnMerger merger(columns_removed, rows_removed, elements_removed);
  for (const std::vector<int32_t>& members : classes) {
    const int32_t result = merger.merge_parallel_columns(members);
    if (result == MERGE_CONFLICT) {
      outcome = 1;
      return 0;
    }
    if (result == MERGE_PUSH_FAILED) return 4;
  }
  return 0;
}

}  // namespace kl
