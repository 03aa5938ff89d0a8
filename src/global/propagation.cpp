// Bound propagation over binaries (see propagation.h).
//
// A row waits at most once per side: the side marks in its row_type word say
// which sides to examine. Set and variable-bound rows wait in a queue of
// their own that is served first, since they force the most per element.
#include "global/propagation.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "global/node_bounds.h"
#include "global/row_classes.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

PropagationStats propagation_stats;

namespace {

constexpr int32_t kSideMarks = static_cast<int32_t>(RF_PROPAGATION_1 | RF_PROPAGATION_2);
constexpr int32_t kFastRowClasses = RC_SET_LE | RC_VARIABLE_BOUND | RC_SET_GE;

// A queue of row numbers with its processed head.
struct RowQueue {
  std::array<int32_t, kPropagationQueueRoom> rows{};
  int32_t head = 0;  // entries before head are processed
  int32_t tail = 0;

  bool empty() const { return head >= tail; }
  // drop_buffer_head: the unprocessed entries move to the front.
  void drop_head() {
    int32_t k = 0;
    for (int32_t i = head; i < tail; ++i) rows[k++] = rows[i];
    for (int32_t i = k; i < tail; ++i) rows[i] = 0;
    tail = k;
    head = 0;
  }
  bool push(int32_t r) {
    if (tail >= kPropagationQueueRoom) drop_head();
    if (tail >= kPropagationQueueRoom) return false;
    rows[tail++] = r;
    return true;
  }
  void clear() {
    head = 0;
    tail = 0;
  }
};

RowQueue set_queue;
RowQueue other_queue;

bool is_fixed(int32_t status) { return (status & (PS_SEARCH_FIXED | PS_FIXED)) != 0; }

// Queues side `mark` of row r; a row already waiting only gets the extra mark.
void queue_row(int32_t r, int32_t mark) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  if ((row_type[r] & kSideMarks) != 0) {
    row_type[r] |= mark;
    return;
  }
  RowQueue& queue = (row_type[r] & kFastRowClasses) != 0 ? set_queue : other_queue;
  if (!queue.push(r)) {
    // Not examined: an implication may be missed, never a wrong one made.
    ++propagation_stats.rows_not_queued;
    return;
  }
  row_type[r] |= mark;
}

// The binary-active rows of column j on the sides its fixing tightens.
void queue_rows_of_column(int32_t j, int32_t except_row) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const double d = real_array(ARR_UPPER)[j] > dcv(dc::ZTOLIS) ? 1.0 : -1.0;
  for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
    const int32_t r = elem_row[k];
    if (r == except_row || r > nrow || (row_type[r] & RC_BINARY_ACTIVE) == 0) continue;
    const double v = d * elem_value[k];
    if (v > 0.0 && (status[r] & PS_FINITE_LOWER) != 0) queue_row(r, RF_PROPAGATION_1);
    else if (v < 0.0 && (status[r] & PS_FINITE_UPPER) != 0) queue_row(r, RF_PROPAGATION_2);
  }
}

struct Side {
  double sign = 1.0;
  double limit = 0.0;
};

Side side_of(int32_t r, int32_t side) {
  const double rhs = real_array(ARR_RHS)[r];
  if (side == 1) return {1.0, rhs};
  return {-1.0, real_array(ARR_UPPER)[r] - rhs};
}

// Outcome of examining one side.
enum class SideResult { kNothing, kApply, kInfeasible, kOverflow };

class Propagator {
 public:
  Propagator(int32_t* list, int32_t capacity, int32_t& count, int32_t mode)
      : list_(list), capacity_(capacity), count_(count), mode_(mode) {}

  int32_t fixed = 0;
  int32_t overflow = 0;

  // Queues the rows of every column the caller fixed.
  void seed() {
    for (int32_t k = 0; k < count_; ++k) queue_rows_of_column(std::abs(list_[k]), 0);
    applied_ = count_;
  }

  // Works the queue off row by row; false when the bounds are infeasible.
  bool run() {
    OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
    for (;;) {
      RowQueue* queue = !set_queue.empty() ? &set_queue : (!other_queue.empty() ? &other_queue : nullptr);
      if (queue == nullptr) return true;
      const int32_t r = queue->rows[queue->head++];
      const int32_t marks = row_type[r] & kSideMarks;
      row_type[r] &= ~kSideMarks;
      for (int32_t side = 1; side <= 2; ++side) {
        if ((marks & (side == 1 ? RF_PROPAGATION_1 : RF_PROPAGATION_2)) == 0) continue;
        count_ = applied_;
        const SideResult result = examine_side(r, side);
        if (result == SideResult::kInfeasible) return false;
        if (result == SideResult::kOverflow) return true;
        if (result == SideResult::kApply) apply_pushes(r);
      }
    }
  }

  void drop_unapplied() { count_ = applied_; }

  // In tentative mode: every column this call fixed is free again.
  void undo(int32_t first) {
    count_ = applied_;
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t k = first; k < applied_; ++k) {
      const int32_t j = std::abs(list_[k]);
      lower[j] = 0.0;
      upper[j] = 1.0;
      status[j] &= ~PS_SEARCH_FIXED;
    }
  }

 private:
  bool push(int32_t j, int32_t value) {
    if (count_ >= capacity_) {
      overflow = 1;
      return false;
    }
    list_[count_++] = value == 0 ? j : -j;
    return true;
  }

  SideResult examine_side(int32_t r, int32_t side) {
    const int32_t word = int_array(ARR_ROW_TYPE)[r];
    const bool own_set_side = (side == 1 && (word & RC_SET_LE) != 0) || (side == 2 && (word & RC_SET_GE) != 0);
    if (own_set_side) return set_row_own_side(r, side);
    if ((word & RC_SET_ROW) != 0 && is_equality_set_row(r)) return set_row_other_side(r, side);
    return knapsack_side(r, side);
  }

  // The row side as a knapsack over the free binaries.
  SideResult knapsack_side(int32_t r, int32_t side) {
    const Side s = side_of(r, side);
    OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
    OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
    OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    const double ztolis = dcv(dc::ZTOLIS);
    double slack = s.limit;
    double swing = 0.0;
    for (int32_t k = start[r]; k < start[r + 1]; ++k) {
      const int32_t j = col[k];
      const double v = s.sign * val[k];
      if (v >= 0.0) {
        if ((status[j] & PS_FINITE_LOWER) == 0) return SideResult::kNothing;
        slack -= v * lower[j];
      } else {
        if ((status[j] & PS_FINITE_UPPER) == 0) return SideResult::kNothing;
        slack -= v * upper[j];
      }
      if ((status[j] & PS_BINARY) != 0 && !is_fixed(status[j])) swing += std::fabs(v);
    }
    if (!(swing > slack + ztolis)) return SideResult::kNothing;
    if (slack < -ztolis) return SideResult::kInfeasible;
    for (int32_t k = start[r]; k < start[r + 1]; ++k) {
      const int32_t j = col[k];
      if ((status[j] & PS_BINARY) == 0 || is_fixed(status[j])) continue;
      const double v = s.sign * val[k];
      if (std::fabs(v) <= slack + ztolis) continue;
      if (!push(j, v > 0.0 ? 0 : 1)) return SideResult::kOverflow;
    }
    return SideResult::kApply;
  }

  // The value of a fixed binary.
  static int32_t fixed_value(int32_t j) { return real_array(ARR_UPPER)[j] > 0.5 ? 1 : 0; }

  // A set row whose other side says "at least one": an equality. A ranged
  // set row's other side is only a knapsack side.
  static bool is_equality_set_row(int32_t r) {
    const double range = real_array(ARR_UPPER)[r] - real_array(ARR_LOWER)[r];
    return std::fabs(range) <= dcv(dc::ZTOLDA);
  }

  // A set row's own side: at most one member may take the value that uses
  // the row.
  SideResult set_row_own_side(int32_t r, int32_t side) {
    const Side s = side_of(r, side);
    OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
    OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
    OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    int32_t using_members = 0;
    for (int32_t k = start[r]; k < start[r + 1]; ++k) {
      const int32_t j = col[k];
      const double v = s.sign * val[k];
      const int32_t uses = v > 0.0 ? 1 : 0;
      if (is_fixed(status[j])) {
        if (fixed_value(j) == uses) ++using_members;
      } else if (!push(j, 1 - uses)) {
        return SideResult::kOverflow;
      }
    }
    if (using_members > 1) return SideResult::kInfeasible;
    if (using_members == 1) return SideResult::kApply;
    count_ = applied_;
    return SideResult::kNothing;
  }

  // An equality set row's other side: at least one member must take the
  // value that satisfies the equality; when only one can, it must.
  SideResult set_row_other_side(int32_t r, int32_t side) {
    const Side s = side_of(r, side);
    OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
    OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
    OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    int32_t able = 0;
    int32_t last_free = 0;
    int32_t last_value = 0;
    for (int32_t k = start[r]; k < start[r + 1]; ++k) {
      const int32_t j = col[k];
      const double v = s.sign * val[k];
      const int32_t satisfies = v > 0.0 ? 0 : 1;
      if (is_fixed(status[j])) {
        if (fixed_value(j) == satisfies) ++able;
      } else {
        ++able;
        last_free = j;
        last_value = satisfies;
      }
      if (able > 1) return SideResult::kNothing;
    }
    if (able == 0) return SideResult::kInfeasible;
    if (last_free == 0) return SideResult::kNothing;
    if (!push(last_free, last_value)) return SideResult::kOverflow;
    return SideResult::kApply;
  }

  // Fixes the columns a row side pushed and queues their rows.
  void apply_pushes(int32_t r) {
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t k = applied_; k < count_; ++k) {
      const int32_t j = std::abs(list_[k]);
      const int32_t value = list_[k] > 0 ? 0 : 1;
      lower[j] = upper[j] = value;
      status[j] |= PS_SEARCH_FIXED;
      ++fixed;
      if (mode_ != PROPAGATE_TENTATIVE) fix_for_good(j, value);
      queue_rows_of_column(j, r);
      lp_status = 0;
    }
    applied_ = count_;
  }

  void fix_for_good(int32_t j, int32_t value) {
    fixed_entity_constant += value * real_array(ARR_OBJECTIVE)[j];
    if (OneBased<double> copy = real_array(ARR_WORK_LOWER)) copy[j] = value;
    if (OneBased<double> copy = real_array(ARR_WORK_UPPER)) copy[j] = value;
    if (icv(ic::IFMSG) >= 2) {
      begin_message(MSG_PROPAGATION_FIXED);
      // The names stay those of the problem as loaded.
      OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
      const bool presolved = (problem_flags & PF_PRESOLVED_GLOBAL) != 0 && map;
      insert_message_vector_name(presolved ? map[j] : j);
      insert_message_int(value);
      emit_message();
    }
    if (const int32_t e = entity_of_column(j)) {
      int_array(ARR_ENTITY_ROOT_UPPER)[e] = value;
      int_array(ARR_ENTITY_ROOT_LOWER)[e] = value;
    }
  }

  // The entity on column j (0: none), from a map kept across calls: a
  // node's fixings must not cost a pass over every column. An entry that
  // no longer matches (another problem, renumbered entities) rebuilds it.
  static int32_t entity_of_column(int32_t j) {
    static std::vector<int32_t> map;
    OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
    const auto valid = [&](int32_t e) { return e >= 1 && e <= nglent && column[e] == j; };
    // Every binary the propagation fixes is an entity's column, so an
    // entry of 0 is as stale as one naming another column.
    if (static_cast<std::size_t>(j) < map.size() && valid(map[static_cast<std::size_t>(j)]))
      return map[static_cast<std::size_t>(j)];
    map.assign(static_cast<std::size_t>(nseq) + 1, 0);
    OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
    for (int32_t e = 1; e <= nglent; ++e) {
      const int32_t kind = type[e] & ENT_TYPE_MASK;
      if (kind != ENT_SET1 && kind != ENT_SET2 && column[e] >= 1 && column[e] <= nseq)
        map[static_cast<std::size_t>(column[e])] = e;
    }
    return map[static_cast<std::size_t>(j)];
  }

  int32_t* list_;
  int32_t capacity_;
  int32_t& count_;
  int32_t mode_;
  int32_t applied_ = 0;
};

void clear_waiting_marks(RowQueue& queue) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t i = queue.head; i < queue.tail; ++i) row_type[queue.rows[i]] &= ~kSideMarks;
  queue.clear();
}

}  // namespace

void propagate_bounds(int32_t* list, int32_t capacity, int32_t& count, int32_t mode, int32_t& fixed,
                      int32_t& unused, int32_t& overflow) {
  fixed = 0;
  unused = 0;
  overflow = 0;
  ++propagation_stats.calls;
  if (list == nullptr || count <= 0 || !int_array(ARR_ROW_COPY_START)) return;
  const int32_t first = count;
  Propagator propagator(list, capacity, count, mode);
  propagator.seed();
  const bool feasible = propagator.run();
  clear_waiting_marks(set_queue);
  clear_waiting_marks(other_queue);
  fixed = propagator.fixed;
  overflow = propagator.overflow;
  propagation_stats.columns_fixed += fixed;
  if (overflow != 0) {
    // Some implications could not be recorded: the call proves nothing.
    ++propagation_stats.overflows;
  } else if (!feasible) {
    ++propagation_stats.infeasible;
    lp_status = 2;
  }
  if (mode == PROPAGATE_TENTATIVE) propagator.undo(first);
  else propagator.drop_unapplied();
}

}  // namespace kl
