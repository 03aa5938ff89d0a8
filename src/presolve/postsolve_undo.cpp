#include "presolve/postsolve_undo.h"

#include <cmath>
#include <cstdlib>

#include "klsol/message_ids.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

PostsolveWork postsolve_work;
std::array<int64_t, REC_ROW_DIVISION + 1> postsolve_records_undone{};

namespace {

constexpr uint32_t kBasisBits = PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN | PS_POSTSOLVE_MARK;
// Type 9 snaps a merged column's share onto a bound this close to it.
constexpr double kBoundSnap = 1e-10;

bool infinite(double bound) { return std::fabs(bound) >= kInfiniteBound; }

// (position, coefficient) pairs of a record, in the order popped.
struct StoredList {
  std::vector<int32_t> index;
  std::vector<double> value;
};

class RecordUndo {
 public:
  RecordUndo()
      : status_(int_array(ARR_POS_STATUS)),
        row_type_(int_array(ARR_ROW_TYPE)),
        header_(int_array(ARR_BASIS_HEADER)),
        col_start_(int_array(ARR_COL_START)),
        elem_row_(int_array(ARR_ELEM_ROW)),
        elem_value_(real_array(ARR_ELEM_VALUE)),
        row_start_(int_array(ARR_ROW_COPY_START)),
        row_col_(int_array(ARR_ROW_COPY_COL)),
        row_value_(real_array(ARR_ROW_COPY_VAL)),
        cost_(real_array(ARR_OBJECTIVE)),
        y_(real_array(ARR_REDUCED_COSTS)),
        x_(postsolve_work.lp_values),
        carry_(postsolve_work.status_carry),
        keep_(postsolve_work.keep != 0),
        integral_(postsolve_work.integral != 0),
        interior_(postsolve_work.interior != 0),
        sense_(dcv(dc::SENSE_FACTOR)),
        integer_tolerance_(dcv(dc::ZTOLIS)),
        zero_tolerance_(dcv(dc::ZTOLZE)) {}

  // Undoes the record at the top of the stack. False when it cannot be read.
  bool undo_top() {
    const int32_t type = pop_int();
    type_ = type;
    switch (type) {
      case REC_COLUMN_SINGLETON: column_singleton(); break;
      case REC_FORCING_ROW: forcing_row(); break;
      case REC_ROW_SINGLETON: row_singleton(); break;
      case REC_COLUMN_AT_BOUND: column_at_bound(); break;
      case REC_DOMINATED_COLUMN: dominated_column(); break;
      case REC_COLUMN_ELIMINATION: column_elimination(); break;
      case REC_FIXED_COLUMN: fixed_column(); break;
      case REC_DUPLICATE_ROW: duplicate_row(); break;
      case REC_DUPLICATE_COLUMN: duplicate_column(); break;
      case REC_DUPLICATE_COLUMN_BASIC: duplicate_column_basic(); break;
      case REC_BOUND_CHANGE: bound_change(); break;
      case REC_ENTITY_SPLIT: entity_split(); break;
      case REC_ROW_DIVISION: row_division(); break;
      default:
        return false;
    }
    return readable_;
  }
  // The type of the record undone last.
  int32_t type() const { return type_; }

 private:
  // Stack readers that refuse to run below the bottom: a malformed record
  // ends the loop instead of reading outside the stacks.
  int32_t pop_int() {
    if (presolve_int_top < 1) {
      readable_ = false;
      return 0;
    }
    return pop_presolve_int();
  }
  double pop_real() {
    if (presolve_real_top < 1) {
      readable_ = false;
      return 0.0;
    }
    return pop_presolve_real();
  }
  // A stored list with the count and one real above its pairs (the cost of
  // the column it lists, or a slot the push leaves unused).
  StoredList pop_column_list(double& cost) {
    const int32_t n = pop_int();
    cost = pop_real();
    return pop_list(n);
  }
  StoredList pop_list(int32_t n) {
    StoredList list;
    if (n < 0 || n > presolve_int_top || n > presolve_real_top) {
      readable_ = false;
      return list;
    }
    list.index.resize(n);
    list.value.resize(n);
    for (int32_t k = 0; k < n; ++k) {
      list.index[k] = pop_presolve_int();
      list.value[k] = pop_presolve_real();
    }
    return list;
  }
  // A position a record names: within the original problem, or the record
  // cannot be trusted.
  int32_t position(int32_t p) {
    if (p < 1 || p >= static_cast<int32_t>(x_.size())) {
      readable_ = false;
      return 0;
    }
    return p;
  }

  bool has(int32_t k, uint32_t bits) const { return (static_cast<uint32_t>(status_[k]) & bits) != 0; }
  void set(int32_t k, uint32_t bits) { status_[k] = static_cast<int32_t>(static_cast<uint32_t>(status_[k]) | bits); }
  void clear(int32_t k, uint32_t bits) {
    status_[k] = static_cast<int32_t>(static_cast<uint32_t>(status_[k]) & ~bits);
  }
  void set_at_upper(int32_t k, bool on) { on ? set(k, PS_AT_UPPER) : clear(k, PS_AT_UPPER); }
  void clear_basis_bits(int32_t k) { clear(k, kBasisBits); }
  void make_basic(int32_t k) {
    clear(k, PS_BASIC | PS_AT_UPPER);
    set(k, PS_BASIC);
  }
  void leave_basis(int32_t i) { clear(i, PS_BASIC); }
  void restore(int32_t k) { carry_[k] &= ~CARRY_NOT_RESTORED; }
  bool basic_or_at_value(int32_t k) const { return has(k, PS_BASIC | PS_NONBASIC_BETWEEN); }
  bool at_upper(int32_t k) const { return !basic_or_at_value(k) && has(k, PS_AT_UPPER); }
  bool at_lower(int32_t k) const { return !has(k, PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN); }
  bool integer_column(int32_t j) const { return has(j, PS_INTEGER_OR_BINARY); }

  // sense x c(j) + sum of y(i) a(i,j): over the stored list with its cost
  // when the record carries one, else over the original column.
  double column_sum(int32_t j, const StoredList* list, double stored_cost) const {
    if (list != nullptr) {
      double d = sense_ * stored_cost;
      for (size_t k = 0; k < list->index.size(); ++k) d += y_[list->index[k]] * list->value[k];
      return d;
    }
    double d = sense_ * cost_[j];
    for (int32_t e = col_start_[j]; e < col_start_[j + 1]; ++e) d += y_[elem_row_[e]] * elem_value_[e];
    return d;
  }
  // Activity of row r: over the stored list, else the original row.
  double row_sum(int32_t r, const StoredList* list) const {
    double act = 0.0;
    if (list != nullptr) {
      for (size_t k = 0; k < list->index.size(); ++k) act += x_[list->index[k]] * list->value[k];
      return act;
    }
    for (int32_t e = row_start_[r]; e < row_start_[r + 1]; ++e) act += x_[row_col_[e]] * row_value_[e];
    return act;
  }
  // The header slot that holds position k, 0 when none does.
  int32_t header_slot_of(int32_t k) const {
    for (int32_t i = 1; i <= original_problem.nrow; ++i)
      if (header_[i] == k) return i;
    return 0;
  }

  // A restored integer column comes back integral in an integer solution.
  double nearest_integer_if_close(int32_t j, double v) const {
    if (!integral_ || !integer_column(j)) return v;
    const double r = std::nearbyint(v);
    return std::fabs(r - v) <= integer_tolerance_ ? r : v;
  }

  void column_singleton();
  void forcing_row();
  void row_singleton();
  void column_at_bound();
  void dominated_column();
  void column_elimination();
  void fixed_column();
  void duplicate_row();
  void duplicate_column();
  void merged_column_share(int32_t a, int32_t b, double ratio, double la, double ua, double lb, double ub, double s);
  void duplicate_column_basic();
  void bound_change();
  void entity_split();
  void row_division();

  OneBased<int32_t> status_;
  OneBased<int32_t> row_type_;
  OneBased<int32_t> header_;
  OneBased<int32_t> col_start_;
  OneBased<int32_t> elem_row_;
  OneBased<double> elem_value_;
  OneBased<int32_t> row_start_;
  OneBased<int32_t> row_col_;
  OneBased<double> row_value_;
  OneBased<double> cost_;
  OneBased<double> y_;
  std::vector<double>& x_;
  std::vector<int32_t>& carry_;
  const bool keep_;
  const bool integral_;
  const bool interior_;
  const double sense_;
  const double integer_tolerance_;
  const double zero_tolerance_;
  bool readable_ = true;
  int32_t type_ = 0;
};

// The singleton column served as its row's slack: it takes back whatever
// of the row's range the other columns' activity leaves, and becomes basic
// in that row when that amount lies within the column's bounds.
void RecordUndo::column_singleton() {
  const int32_t r_field = pop_int();
  const int32_t c_field = pop_int();
  const double lower = pop_real();
  const double upper = pop_real();
  const double a = pop_real();
  const double rhs = pop_real();
  StoredList list;
  const bool listed = c_field < 0;
  if (listed) list = pop_list(pop_int());
  const int32_t r = position(std::abs(r_field));
  const int32_t c = position(std::abs(c_field));
  if (!readable_) return;

  clear(c, PS_BASIC | PS_AT_UPPER);
  restore(c);
  const double act = row_sum(r, listed ? &list : nullptr);
  x_[r] = act;
  const double t = (rhs - act) / a;
  if (r_field < 0 && !has(r, PS_BASIC | PS_NONBASIC_BETWEEN)) set(r, PS_AT_UPPER);

  double v = lower;
  if (basic_or_at_value(r)) {
    if (t > upper) {
      set(c, PS_AT_UPPER);
      v = upper;
    } else if (t >= lower) {
      leave_basis(r);
      if (!(r_field > 0 && has(r, PS_FINITE_LOWER))) set(r, PS_AT_UPPER);
      set(c, PS_BASIC);
      header_[r] = c;
      v = t;
    }
  } else if (has(r, PS_AT_UPPER)) {
    if (a > 0.0) {
      set(c, PS_AT_UPPER);
      v = upper;
    }
  } else if (a <= 0.0) {
    set(c, PS_AT_UPPER);
    v = upper;
  }

  if (!has(c, PS_AT_UPPER | PS_BASIC | PS_NONBASIC_BETWEEN) && lower <= -kInfiniteBound) {
    if (upper >= kInfiniteBound) {
      v = 0.0;
    } else {
      set(c, PS_AT_UPPER);
      v = upper;
    }
  }
  if (has(c, PS_AT_UPPER) && upper >= kInfiniteBound) {
    clear(c, PS_AT_UPPER);
    v = lower <= -kInfiniteBound ? 0.0 : lower;
  }
  x_[c] = v;
  x_[r] += v * a;
}

// Every column of row p sat at the bound that gives the row's extreme
// activity; the column with the smallest dual ratio becomes basic in p.
void RecordUndo::forcing_row() {
  const int32_t p = position(pop_int());
  const int32_t s = pop_int();
  const int32_t k = pop_int();
  if (!readable_) return;
  const bool listed = s < 0;
  const bool maximum_side = std::abs(s) == 1;
  double best = 0.0;
  int32_t winner = 0;
  for (int32_t n = 0; n < k && readable_; ++n) {
    const int32_t j = position(pop_int());
    double a = pop_real();
    const double v = pop_real();
    StoredList list;
    double stored_cost = 0.0;
    if (listed) {
      list = pop_column_list(stored_cost);
    }
    if (!readable_) return;
    const double d = column_sum(j, listed ? &list : nullptr, stored_cost);
    clear_basis_bits(j);
    restore(j);
    if (maximum_side) a = -a;
    x_[j] = v;
    if (a < 0.0) set(j, PS_AT_UPPER);
    if (d / a <= best) {
      best = d / a;
      winner = j;
    }
  }
  clear_basis_bits(p);
  if (winner == 0) {
    make_basic(p);
    header_[p] = p;
    return;
  }
  if (maximum_side) {
    set(p, PS_AT_UPPER);
  } else {
    best = -best;
  }
  make_basic(winner);
  header_[p] = winner;
  y_[p] = best;
}

// Row i became a bound of column j: when j sits at that bound, the row is
// binding instead and j basic in it.
void RecordUndo::row_singleton() {
  const int32_t s = pop_int();
  const int32_t j = position(pop_int());
  const int32_t i = position(pop_int());
  const double b = pop_real();
  const double a = pop_real();
  StoredList list;
  double stored_cost = 0.0;
  const bool listed = s < 0;
  if (listed) {
    list = pop_column_list(stored_cost);
  }
  if (!readable_) return;
  const double d = column_sum(j, listed ? &list : nullptr, stored_cost);
  const bool lower_side = std::abs(s) == 1;
  const auto bind_row = [&](bool row_at_upper) {
    leave_basis(i);
    if (row_at_upper) set(i, PS_AT_UPPER);
    header_[i] = j;
    y_[i] = -d / a;
  };
  if ((carry_[j] & CARRY_NOT_RESTORED) == 0) {
    if (keep_ && (carry_[j] & CARRY_BOUND_CHANGED) != 0) return;
    // An integer column whose bound from the row was rounded sits at the
    // rounded bound, where the row does not bind: it keeps its value.
    if (integral_ && std::fabs(singleton_row_bound(j, lower_side, b / a) - b / a) > zero_tolerance_) return;
    if (interior_) {
      // No status says where j rests; its reduced cost does. One pushing
      // against the side the row gave leans on a bound j does not have:
      // the row binds and takes it over, leaving j with none. A ranged row
      // gives both sides, so the row may hold a dual already.
      if (lower_side ? d > 0.0 : d < 0.0) y_[i] -= d / a;
      return;
    }
    if (lower_side) {
      if (!has(j, kBasisBits)) {
        set(j, PS_BASIC);
        bind_row(a > 0.0);
        x_[j] = b / a;
      }
    } else if (at_upper(j)) {
      make_basic(j);
      bind_row(a < 0.0);
      x_[j] = b / a;
    }
    return;
  }
  restore(j);
  clear(j, kBasisBits | PS_FIXED);
  const double fixed_at = singleton_row_bound(j, lower_side, b / a);
  x_[j] = fixed_at;
  if (std::fabs(fixed_at - b / a) > zero_tolerance_) {
    // A rounded bound: the column left at the rounded value, where the row
    // does not bind.
    if (fixed_at == real_array(ARR_UPPER)[j]) {
      set(j, PS_AT_UPPER);
    } else if (fixed_at != real_array(ARR_LOWER)[j]) {
      set(j, PS_NONBASIC_BETWEEN);
    }
    return;
  }
  if (lower_side) {
    if (d < 0.0) {
      set(j, PS_AT_UPPER);
    } else {
      set(j, PS_BASIC);
      bind_row(a > 0.0);
    }
  } else if (d < 0.0) {
    set(j, PS_BASIC);
    bind_row(a < 0.0);
  }
}

void RecordUndo::column_at_bound() {
  const int32_t code = pop_int();
  const int32_t j = position(pop_int());
  const double v = pop_real();
  if (!readable_) return;
  x_[j] = v;
  clear_basis_bits(j);
  restore(j);
  if (std::abs(code) == 2) set(j, PS_AT_UPPER);
}

// A free-moving zero-cost column goes as far from its finite bound as its
// rows need; the row that needs most becomes binding with the column basic.
void RecordUndo::dominated_column() {
  const int32_t code = pop_int();
  const int32_t j = position(pop_int());
  const int32_t k = pop_int();
  double v = pop_real();
  if (!readable_) return;
  const bool listed = code <= 0;
  const bool decreasing = std::abs(code) == 1;
  if (k == 0 && infinite(v)) v = 0.0;
  if (k > 0 && decreasing) set(j, PS_AT_UPPER);
  x_[j] = 0.0;
  if (decreasing) v = -v;
  int32_t winner = 0;
  bool winner_at_upper = false;
  for (int32_t n = 0; n < k && readable_; ++n) {
    const int32_t i = position(pop_int());
    const double a = pop_real();
    const double b = pop_real();
    StoredList list;
    if (listed) {
      double unused_slot = 0.0;  // a slot the push leaves unused
      list = pop_column_list(unused_slot);
    }
    if (!readable_) return;
    const double act = row_sum(i, listed ? &list : nullptr);
    const double a_signed = decreasing ? -a : a;
    const double q = (b - act) / a_signed;
    if (q > v) {
      v = q;
      winner = i;
      winner_at_upper = a_signed > 0.0;
    }
  }
  restore(j);
  // Moving further in the free direction keeps every row satisfied and costs
  // nothing, so an integer column is rounded that way; its winning row then
  // is no longer binding and keeps its own status.
  bool rounded_off_row = false;
  if (integral_ && integer_column(j)) {
    const double r = std::ceil(v - integer_tolerance_);
    rounded_off_row = std::fabs(r - v) > integer_tolerance_;
    v = r;
  }
  if (winner != 0 && !rounded_off_row) {
    header_[winner] = j;
    clear_basis_bits(winner);
    if (winner_at_upper) set(winner, PS_AT_UPPER);
    make_basic(j);
  } else if (rounded_off_row) {
    clear(j, PS_AT_UPPER);
    set(j, PS_NONBASIC_BETWEEN);
  }
  if (decreasing) v = -v;
  x_[j] = v;
}

// Column q follows from row r; its cost was moved onto the row's other
// columns, so row r's dual carries q's reduced cost back.
void RecordUndo::column_elimination() {
  const int32_t nq = pop_int();
  const int32_t nr = pop_int();
  const int32_t flags = pop_int();
  const int32_t q = position(pop_int());
  const int32_t r_field = pop_int();
  const int32_t r = position(std::abs(r_field));
  const double a = pop_real();
  const double cq = pop_real();
  const double b = pop_real();
  const StoredList q_list = pop_list(nq);
  const StoredList r_list = pop_list(nr);
  StoredList p_list;
  double cp = 0.0;
  const bool with_p = r_field < 0;
  if (with_p) {
    const int32_t np = pop_int();
    cp = pop_real();
    p_list = pop_list(np);
    if (r_list.index.empty()) readable_ = false;
  }
  if (!readable_) return;

  const double dq = column_sum(q, &q_list, cq);
  x_[q] = nearest_integer_if_close(q, (b - row_sum(r, &r_list)) / a);
  x_[r] = 0.0;
  clear(q, PS_FIXED);
  restore(q);

  int32_t take = 0;
  int32_t p = 0;
  double ap = 0.0;
  double dp = 0.0;
  if (with_p) {
    // The first pair pushed of row r's list, so the last popped.
    p = position(r_list.index.back());
    if (!readable_) return;
    ap = r_list.value.back();
    dp = column_sum(p, &p_list, cp);
    if (keep_ && (carry_[p] & CARRY_BOUND_CHANGED) != 0) {
      // The bound q gave p has gone since.
    } else if (interior_) {
      // p's reduced cost in the reduced problem (q's cost moved onto it)
      // tells which of its bounds it rests on: when that bound came from q,
      // q is the one at its bound and p takes none.
      const double reduced_dp = dp - dq * ap / a;
      if (reduced_dp < 0.0 && (flags & 2) != 0) {
        take = 1;
      } else if (reduced_dp > 0.0 && (flags & 1) != 0) {
        take = -1;
      }
    } else {
      if (at_upper(p) && (flags & 2) != 0) {
        take = 1;
      } else if (!has(p, PS_AT_UPPER | PS_BASIC | PS_NONBASIC_BETWEEN) && (flags & 1) != 0) {
        take = -1;
      }
    }
  }
  if (take != 0) {
    const double ratio = ap / a;
    y_[r] = -dp / ap;
    y_[q] = -dp / ratio;
    y_[p] = 0.0;
    const int32_t side = ratio <= 0.0 ? take : -take;
    clear_basis_bits(q);
    if (side > 0) set(q, PS_AT_UPPER);
    make_basic(p);
    clear_basis_bits(r);
    header_[r] = p;
  } else {
    set(q, PS_BASIC);
    clear_basis_bits(r);
    y_[r] = -dq / a;
    y_[q] = 0.0;
    header_[r] = q;
  }
  if ((row_type_[r] & ROW_G) != 0 && !has(r, PS_BASIC | PS_NONBASIC_BETWEEN)) set(r, PS_AT_UPPER);
}

void RecordUndo::fixed_column() {
  const int32_t j_field = pop_int();
  const int32_t j = position(std::abs(j_field));
  const double v = pop_real();
  StoredList list;
  double stored_cost = 0.0;
  const bool listed = j_field < 0;
  if (listed) {
    list = pop_column_list(stored_cost);
  }
  if (!readable_) return;
  const double d = column_sum(j, listed ? &list : nullptr, stored_cost);
  x_[j] = v;
  restore(j);
  set_at_upper(j, d < 0.0);
}

// Row b was ratio times row a. When b supplied the side of a's limits that
// binds, b takes over: its dual carries a's and a becomes basic.
void RecordUndo::duplicate_row() {
  const int32_t e = pop_int();
  const int32_t d = pop_int();
  const int32_t w = pop_int();
  const int32_t b = position(pop_int());
  const int32_t a = position(pop_int());
  const double ratio = pop_real();
  if (!readable_) return;
  set(b, PS_BASIC);
  if (e != 0) {
    clear(a, PS_FIXED);
    carry_[a] = status_[a];
  }
  y_[b] = 0.0;
  if (w != 0 && d != 0 && !has(a, PS_BASIC)) {
    bool swap;
    if (e == 1 || interior_) {
      // The sign of a's dual tells which of its limits binds; b takes the
      // dual over when that limit was b's.
      swap = (d == b && y_[a] < 0.0) || (w == b && y_[a] > 0.0);
      if (!swap && !interior_) set_at_upper(a, a == d);
    } else {
      swap = (d == b && at_upper(a)) || (w == b && !has(a, kBasisBits));
    }
    if (swap) {
      y_[b] = y_[a] / ratio;
      make_basic(a);
      header_[b] = header_[a];
      header_[a] = a;
      leave_basis(b);
      if ((d == b && ratio > 0.0) || (w == b && ratio < 0.0)) set(b, PS_AT_UPPER);
    }
  }
  y_[a] -= ratio * y_[b];
}

// Column b was ratio times column a.
void RecordUndo::duplicate_column() {
  const int32_t d = pop_int();
  const int32_t w = pop_int();
  const int32_t b = position(pop_int());
  const int32_t a = position(pop_int());
  if (w != 0 || d != 0) {
    const double v = pop_real();
    if (!readable_) return;
    clear(b, PS_BASIC | PS_FIXED);
    restore(b);
    x_[b] = v;
    set_at_upper(b, d != 0);
    return;
  }
  const double s = pop_real();
  const double ub = pop_real();
  const double lb = pop_real();
  const double ua = pop_real();
  const double la = pop_real();
  const double ratio = pop_real();
  if (!readable_) return;
  clear(b, PS_BASIC | PS_FIXED);
  restore(b);
  merged_column_share(a, b, ratio, la, ua, lb, ub, s);
}

// The merged column a held x(a) + ratio x x(b); the value is split back so
// that both columns keep their bounds, the basic one (if any) off its bound.
void RecordUndo::merged_column_share(int32_t a, int32_t b, double ratio, double la, double ua, double lb, double ub,
                                     double s) {
  const double z = ratio * s + x_[a];
  const auto put_b = [&](bool upper_side) {
    x_[b] = upper_side ? ub : lb;
    set_at_upper(b, upper_side);
  };
  const auto put_a = [&](bool upper_side) {
    x_[a] = upper_side ? ua : la;
    set_at_upper(a, upper_side);
  };
  if (at_upper(a)) {
    x_[a] = ua;
    put_b(ratio > 0.0);
    return;
  }
  if (at_lower(a)) {
    if (la <= -kInfiniteBound) {
      put_a(true);
      put_b(ratio < 0.0);
    } else {
      x_[a] = la;
      if (ratio >= 0.0) {
        put_b(lb <= -kInfiniteBound);
      } else {
        put_b(ub < kInfiniteBound);
      }
    }
    return;
  }
  const uint32_t kept_bits = static_cast<uint32_t>(status_[a]) & (PS_BASIC | PS_NONBASIC_BETWEEN);
  // z - ratio x x(b) over b's bounds, an infinite bound leaving that end open.
  const auto minus_ratio_times = [&](double bound) {
    if (infinite(bound)) return (ratio * bound > 0.0) ? -kInfinity : kInfinity;
    return z - ratio * bound;
  };
  double lo = std::min(minus_ratio_times(lb), minus_ratio_times(ub));
  double hi = std::max(minus_ratio_times(lb), minus_ratio_times(ub));
  const auto snap_a = [&](double value) {
    x_[a] = value;
    if (value > ua - kBoundSnap) {
      x_[a] = ua;
      if ((kept_bits & PS_NONBASIC_BETWEEN) != 0) {
        clear(a, PS_NONBASIC_BETWEEN);
        set(a, PS_AT_UPPER);
      }
    }
    if (value < la + kBoundSnap) {
      x_[a] = la;
      if ((kept_bits & PS_NONBASIC_BETWEEN) != 0) clear(a, PS_NONBASIC_BETWEEN | PS_AT_UPPER);
    }
  };
  if (hi <= ua && !infinite(hi)) {
    snap_a(hi);
    put_b(ratio <= 0.0);
    return;
  }
  if (lo >= la && !infinite(lo)) {
    snap_a(lo);
    put_b(ratio > 0.0);
    return;
  }
  // (z - x(a)) / ratio over a's bounds.
  const auto share_of_b = [&](double bound) {
    if (infinite(bound)) return (bound > 0.0) == (ratio > 0.0) ? -kInfinity : kInfinity;
    return (z - bound) / ratio;
  };
  const double lo2 = std::min(share_of_b(la), share_of_b(ua));
  const double hi2 = std::max(share_of_b(la), share_of_b(ua));
  const auto b_takes_over = [&](double value) {
    x_[b] = value;
    clear(b, PS_AT_UPPER);
    set(b, kept_bits);
    clear(a, kept_bits);
    if ((kept_bits & PS_BASIC) != 0) {
      const int32_t slot = header_slot_of(a);
      if (slot != 0) header_[slot] = b;
    }
  };
  if (hi2 < ub && !infinite(hi2)) {
    b_takes_over(std::max(hi2, lb));
    put_a(ratio <= 0.0);
  } else if (lo2 > lb && !infinite(lo2)) {
    b_takes_over(std::min(lo2, ub));
    put_a(ratio > 0.0);
  } else {
    x_[b] = 0.0;
    clear(b, PS_AT_UPPER);
  }
}

void RecordUndo::duplicate_column_basic() {
  const int32_t j_field = pop_int();
  const int32_t i = position(pop_int());
  const int32_t j = position(std::abs(j_field));
  const double v = pop_real();
  const double a = pop_real();
  StoredList list;
  double stored_cost = 0.0;
  const bool listed = j_field < 0;
  if (listed) {
    list = pop_column_list(stored_cost);
  }
  if (!readable_) return;
  const double d = column_sum(j, listed ? &list : nullptr, stored_cost);
  restore(j);
  clear(j, kBasisBits | PS_FIXED);
  x_[j] = v;
  set(j, PS_BASIC);
  leave_basis(i);
  header_[i] = j;
  y_[i] = -d / a;
}

void RecordUndo::bound_change() {
  const int32_t j = position(pop_int());
  const double v = pop_real();
  if (!readable_) return;
  if (has(j, PS_FIXED) || !has(j, PS_BASIC | PS_AT_UPPER)) x_[j] = v;
  restore(j);
  clear(j, PS_FIXED);
  carry_[j] |= CARRY_BOUND_CHANGED;
}

// Row i was divided by g: the dual of the original row is the divided
// row's over g.
void RecordUndo::row_division() {
  const int32_t i = position(pop_int());
  const double g = pop_real();
  if (!readable_ || g == 0.0) return;
  y_[i] /= g;
}

// Column k became semi-continuous in place of its indicator z: z follows
// from k's value, and the bound row that k sits on becomes nonbasic.
void RecordUndo::entity_split() {
  const int32_t rb = position(pop_int());
  const int32_t ra = position(pop_int());
  const int32_t k = position(pop_int());
  const int32_t z = position(pop_int());
  const double g = pop_real();
  const double upper_value = pop_real();
  const double threshold = pop_real();
  if (!readable_) return;
  const double xk = x_[k];
  if (basic_or_at_value(k)) {
    if (xk >= zero_tolerance_) {
      if (xk >= threshold) {
        x_[z] = 1.0;
        set(z, PS_AT_UPPER);
      } else {
        x_[z] = xk / threshold;
        set(z, PS_BASIC);
        leave_basis(ra);
      }
    } else {
      x_[z] = 0.0;
    }
  } else if (has(k, PS_AT_UPPER)) {
    if (xk >= zero_tolerance_) {
      x_[z] = 1.0;
      set(z, PS_AT_UPPER);
      if (std::fabs(xk - upper_value) < zero_tolerance_) {
        make_basic(k);
        leave_basis(rb);
        y_[rb] = y_[z] / g;
      }
    } else {
      make_basic(k);
      leave_basis(rb);
    }
  } else if (std::fabs(xk - threshold) < zero_tolerance_) {
    // The indicator is on: at its upper bound 1, as in the other cases.
    x_[z] = 1.0;
    set(z, PS_AT_UPPER);
    set(k, PS_BASIC);
    leave_basis(ra);
  }
  restore(k);
  clear(k, PS_FIXED);
}

}  // namespace

double singleton_row_bound(int32_t j, bool lower_side, double bound) {
  const bool integer = (static_cast<uint32_t>(int_array(ARR_POS_STATUS)[j]) & PS_INTEGER_OR_BINARY) != 0;
  if (!integer || presolve_state.rounded_bounds == 0) return bound;
  const double tolerance = dcv(dc::ZTOLZE);
  return lower_side ? std::ceil(bound - tolerance) : std::floor(bound + tolerance);
}

bool undo_presolve_records() {
  RecordUndo undo;
  while (presolve_int_top > 0) {
    const int32_t at = presolve_int_top;
    if (undo.undo_top()) {
      ++postsolve_records_undone[static_cast<size_t>(undo.type())];
      continue;
    }
    // Nothing below a record that cannot be read can be told apart.
    begin_message(MSG_POSTSOLVE_RECORD_UNREADABLE);
    insert_message_int(undo.type());
    insert_message_int(at);
    emit_message();
    status_code = STATUS_REPORTED;
    clear_presolve_stack();
    return false;
  }
  return true;
}

}  // namespace kl
