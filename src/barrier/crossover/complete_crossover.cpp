#include "barrier/crossover/complete_crossover.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "factor/basis.h"
#include "factor/crossover_state.h"
#include "factor/hypersparse.h"
#include "factor/invert.h"
#include "factor/simplex_state.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "simplex/basic_values.h"
#include "simplex/crossover_dual_step.h"
#include "simplex/dual_loop.h"
#include "simplex/dual_ratio_test.h"
#include "simplex/iteration_log.h"
#include "simplex/kernel.h"
#include "simplex/pivot_updates.h"

namespace kl {

CrossoverStats crossover_stats;

namespace {

// An update count above this forces a refactorisation before the next step.
constexpr int32_t kForceRefactor = 5001;
constexpr int32_t kRefactorAbove = 5000;
// With a small pivot taken, refactorise after this many updates.
constexpr int32_t kSmallPivotUpdates = 75;
// A pivot below this share of the column's largest entry is small.
constexpr double kSmallPivotShare = 0.0010000000474974513;
constexpr double kStartRelativePivot = 1e-6;
constexpr double kRelativePivotCut = 0.01;
constexpr double kRelativePivotFloor = 9e-9;
constexpr double kUnboundedShare = 0.9;
// The dual push's pivot from the factor must agree with the row element
// within this share of it.
constexpr double kPivotAgreement = 0.1;
constexpr double kDualPushPivotShare = 1e-6;
// Refactorisation failure codes of the numberless lines.
constexpr int32_t kPrimalPushLine = 5;
constexpr int32_t kDualPushLine = 6;

// Positions that never enter in the dual push.
constexpr uint32_t kNotEntering = PS_BASIC | PS_FIXED | PS_MARK | PS_SEARCH_FIXED | PS_QUADRATIC;

uint32_t word(OneBased<int32_t> status, int32_t p) { return static_cast<uint32_t>(status[p]); }

// The line without a message number: two integers right-aligned in six.
void numberless_line(int32_t code, int32_t poll) {
  if (message_line.length > 1) emit_message();
  char text[16];
  std::snprintf(text, sizeof text, "%6d%6d", static_cast<int>(code), static_cast<int>(poll));
  insert_message_chars(text, static_cast<int32_t>(std::char_traits<char>::length(text)));
  emit_message();
}

struct QueueEntry {
  int32_t index;
  int32_t key;
  double tie;
};

// Classical heapsort under the order in which a larger key, or an equal key
// with a smaller tie-break, is the greater: the result runs by increasing
// key and, within a key, by decreasing tie-break.
bool greater(const QueueEntry& a, const QueueEntry& b) {
  if (a.key != b.key) return a.key > b.key;
  return a.tie < b.tie;
}
void sift_down(std::vector<QueueEntry>& q, size_t root, size_t count) {
  for (;;) {
    size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && greater(q[child + 1], q[child])) ++child;
    if (!greater(q[child], q[root])) return;
    std::swap(q[root], q[child]);
    root = child;
  }
}

// The heapsort of the crossover's candidate queues (the dual push's too).
void sift_crossover_heap(std::vector<QueueEntry>& q) {
  const size_t count = q.size();
  if (count < 2) return;
  for (size_t i = count / 2; i-- > 0;) sift_down(q, i, count);
  for (size_t end = count - 1; end > 0; --end) {
    std::swap(q[0], q[end]);
    sift_down(q, 0, end);
  }
}

class Crossover {
 public:
  Crossover(int32_t mode, int32_t& status) : mode_(mode), status_(status) {}
  void run();

 private:
  // Library arrays.
  OneBased<int32_t> st_ = int_array(ARR_POS_STATUS);
  OneBased<double> lower_ = real_array(ARR_LOWER);
  OneBased<double> upper_ = real_array(ARR_UPPER);
  OneBased<double> x_ = real_array(ARR_X);
  OneBased<double> barrier_x_ = real_array(ARR_PIVOT_ROW);
  OneBased<double> d_ = real_array(ARR_REDUCED_COSTS);
  OneBased<double> dual_copy_ = real_array(ARR_ROW_WEIGHTS);
  OneBased<double> wrhs_ = real_array(ARR_WORK_RHS);
  OneBased<double> rhs_ = real_array(ARR_RHS);
  OneBased<double> cost_ = real_array(ARR_OBJECTIVE);
  OneBased<double> wcost_ = real_array(ARR_WORKING_COSTS);
  OneBased<double> values_ = real_array(ARR_BASIC_VALUES);
  OneBased<double> basic_upper_ = real_array(ARR_BASIC_UPPER);
  OneBased<int32_t> header_ = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> class_ = int_array(ARR_SCALE_WORK);
  OneBased<int32_t> col_start_ = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row_ = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value_ = real_array(ARR_ELEM_VALUE);

  int32_t mode_;
  int32_t& status_;
  double big_ = kInfinity;
  int32_t start_time_ = 0;
  int32_t updates_ = kForceRefactor;  // since the last refactorisation
  bool refactor_request_ = false;
  bool small_pivot_ = false;
  int32_t repair_total_ = 0;
  double relative_pivot_ = kStartRelativePivot;
  int32_t requeue_marker_ = 0;
  int32_t refactorisations_ = 0;
  int32_t last_poll_ = 0;
  // Basis position of every basic variable (0 when nonbasic).
  std::vector<int32_t> position_;

  bool finite_lower(int32_t p) const { return lower_[p] > -kUnboundedShare * big_; }
  bool finite_upper(int32_t p) const { return upper_[p] < kUnboundedShare * big_; }
  bool free_position(int32_t p) const { return (word(st_, p) & PS_FREE) != 0 || (!finite_lower(p) && !finite_upper(p)); }
  bool quadratic(int32_t p) const { return (word(st_, p) & PS_QUADRATIC) != 0; }
  bool basic(int32_t p) const { return (word(st_, p) & PS_BASIC) != 0; }
  double distance(int32_t p) const { return std::min(upper_[p] - x_[p], x_[p] - lower_[p]); }
  void set(int32_t p, uint32_t bits) { st_[p] = static_cast<int32_t>(word(st_, p) | bits); }
  void clear(int32_t p, uint32_t bits) { st_[p] = static_cast<int32_t>(word(st_, p) & ~bits); }

  void start();
  void balance_basis();
  bool refactorise(bool poll, int32_t* failure_line);
  void refresh_positions();
  bool primal_push();
  bool push_sweep(int32_t sweep);
  enum class StepResult { kDone, kRequeue, kStop };
  StepResult push_candidate(int32_t q);
  bool transform(int32_t q, bool& full);
  bool end_of_push();
  bool refresh_basic_values(int32_t failure_line);
  bool dual_push();
  void finish(bool normal);
};

void Crossover::run() {
  ++crossover_stats.runs;
  if (mode_ == 1)
    for (int32_t p = 1; p <= nseq; ++p) d_[p] = -d_[p];
  status_ = kCrossoverDone;
  start();
  bool ok = status_ == kCrossoverDone;
  if (ok) ok = primal_push();
  if (ok) ok = end_of_push();
  if (ok) ok = dual_push();
  finish(ok);
  crossover_stats.last_status = status_;
}

void Crossover::start() {
  start_time_ = elapsed_seconds();
  big_ = kInfinity;
  barrier_int_attributes[5] = 1;
  factor.factor_permuted = 0;
  crossover_mode = 1;
  lp_algorithm = kAlgorithmPrimal;
  itcnt = 0;
  const int32_t icrash = icv(ic::ICRASH);
  if (icrash == 0) {
    for (int32_t i = 1; i <= nrow; ++i) class_[i] = 2;
    for (int32_t j = store.first_col; j <= nseq; ++j) class_[j] = 0;
  }
  OneBased<double> w = work_vector();
  for (int32_t i = 1; i <= nrow; ++i) {
    dual_copy_[i] = d_[i];
    d_[i] = -d_[i];
    w[i] = 0.0;
  }
  factor.work_vector_state = WV_CLEAR_ALL;
  for (int32_t p = 1; p <= nseq; ++p) {
    double v = barrier_x_[p];
    if (v < lower_[p]) v = lower_[p];
    if (v > upper_[p]) v = upper_[p];
    x_[p] = v;
    if (class_[p] >= 2) {
      st_[p] = static_cast<int32_t>((word(st_, p) & ~(PS_AT_UPPER | PS_NONBASIC_BETWEEN)) | PS_BASIC);
    } else {
      clear(p, PS_BASIC);
    }
  }
  balance_basis();
  for (int32_t i = 1; i <= nrow; ++i) wrhs_[i] = x_[i];
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double v = x_[j];
    if (v == 0.0) continue;
    for (int32_t k = col_start_[j]; k < col_start_[j + 1]; ++k) wrhs_[elem_row_[k]] += elem_value_[k] * v;
  }
  if (icrash >= 4) {
    int32_t line = 0;
    if (!refactorise(false, &line)) status_ = kCrossoverFactorFailed;
  }
}

// The starting basis has one basic variable per row; should the classes
// say otherwise, columns beyond nrow leave (the last first) and rows
// without one get their slacks, as the header would make of them, but
// without the wrong-size message a user basis deserves.
void Crossover::balance_basis() {
  int32_t count = 0;
  for (int32_t p = 1; p <= nseq; ++p)
    if (basic(p)) ++count;
  for (int32_t j = nseq; j >= store.first_col && count > nrow; --j) {
    if (!basic(j)) continue;
    clear(j, PS_BASIC);
    --count;
  }
  for (int32_t i = 1; i <= nrow && count < nrow; ++i) {
    if (basic(i)) continue;
    set(i, PS_BASIC);
    clear(i, PS_AT_UPPER | PS_NONBASIC_BETWEEN);
    ++count;
  }
}

void Crossover::refresh_positions() {
  position_.assign(static_cast<size_t>(nseq) + 1, 0);
  for (int32_t k = 1; k <= nrow; ++k) position_[static_cast<size_t>(header_[k])] = k;
}

// Rebuilds the header and refactorises. False when the crossover must stop:
// an interrupt (status 0) or a failure (status -3).
bool Crossover::refactorise(bool poll, int32_t* failure_line) {
  ++refactorisations_;
  if (poll) {
    if (crossover_stats.interrupt_at_refactorisation == refactorisations_) interrupt_flag = 1;
    last_poll_ = poll_interrupt();
    if (last_poll_ != 0) {
      status_ = kCrossoverInterrupted;
      return false;
    }
  }
  ++crossover_stats.refactorisations;
  balance_basis();
  set_basis_header();
  factor.factor_permuted = 0;
  invert_basis(InvertReason::kNewBasis);
  repair_total_ += repair_record.repair_count;
  small_pivot_ = false;
  const bool forced_failure = crossover_stats.fail_at_refactorisation == refactorisations_;
  if (status_code != STATUS_OK || (problem_flags & PF_FACTOR_VALID) == 0 || forced_failure) {
    if (failure_line != nullptr && *failure_line != 0) numberless_line(*failure_line, last_poll_);
    status_ = kCrossoverFactorFailed;
    return false;
  }
  updates_ = 0;
  refactor_request_ = false;
  update_count = 0;
  u_active_entries = eta_file.invert_part_size + eta_file.u_file_end;
  row_eta_entries = 0;
  refresh_positions();
  return true;
}

bool Crossover::primal_push() {
  updates_ = kForceRefactor;
  if (!push_sweep(1)) return false;
  if (repair_total_ > 0) {
    ++crossover_stats.second_primal_sweeps;
    if (!push_sweep(2)) return false;
  }
  return true;
}

bool Crossover::push_sweep(int32_t sweep) {
  const double ztolze = dcv(dc::ZTOLZE);
  std::vector<QueueEntry> list_a, list_b;
  const auto scan = [&](int32_t p) {
    const bool was_marked = (word(st_, p) & PS_MARK) != 0;
    clear(p, PS_MARK);
    if (basic(p)) return;
    const double dist = distance(p);
    bool at_bound;
    if (sweep == 1) {
      at_bound = dist <= ztolze || (class_[p] == 0 && dist <= std::fabs(d_[p]));
      if (quadratic(p) && dist > ztolze) at_bound = false;
    } else {
      at_bound = !was_marked || dist <= ztolze;
    }
    if (at_bound) {
      clear(p, PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
      if (upper_[p] - lower_[p] > ztolze) {
        if (!free_position(p) && (x_[p] - lower_[p]) > (upper_[p] - x_[p])) set(p, PS_AT_UPPER);
      } else if (d_[p] < 0.0) {
        set(p, PS_AT_UPPER);
      }
      return;
    }
    clear(p, PS_BASIC | PS_AT_UPPER);
    set(p, PS_NONBASIC_BETWEEN);
    const QueueEntry e{p, 0, 0.0};
    if (sweep == 1 && class_[p] != 0)
      list_a.push_back(e);
    else
      list_b.push_back(e);
  };
  for (int32_t p = 1; p <= nseq; ++p) scan(p);
  // The class array's storage would hold the queue; it is no longer read.
  std::vector<QueueEntry> queue;
  queue.reserve(list_a.size() + list_b.size());
  for (QueueEntry e : list_a) {
    e.key = 1;
    e.tie = distance(e.index);
    queue.push_back(e);
  }
  for (auto it = list_b.rbegin(); it != list_b.rend(); ++it) {
    QueueEntry e = *it;
    e.key = nrow + 1;
    e.tie = distance(e.index);
    queue.push_back(e);
  }
  sift_crossover_heap(queue);

  // A circular walk: a re-queued candidate goes behind the last one.
  std::vector<int32_t> ring;
  ring.reserve(queue.size() + 1);
  for (const QueueEntry& e : queue) ring.push_back(e.index);
  size_t head = 0;
  // Every accepted step or flip ends one candidate; re-queues are bounded by
  // the tolerance cut, but a cap keeps a pathological case from spinning.
  const size_t cap = 64 * ring.size() + 1000;
  size_t steps = 0;
  while (head < ring.size()) {
    const int32_t q = ring[head++];
    if ((word(st_, q) & PS_NONBASIC_BETWEEN) == 0 || basic(q)) continue;
    if (quadratic(q)) continue;
    if (++steps > cap) {
      crossover_stats.unfinished_pushes += static_cast<int64_t>(ring.size() - head + 1);
      break;
    }
    const StepResult r = push_candidate(q);
    if (r == StepResult::kStop) return false;
    if (r == StepResult::kRequeue) ring.push_back(q);
    // Keep the ring from growing without bound: drop the walked part.
    if (head > 4096 && head * 2 > ring.size()) {
      ring.erase(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(head));
      head = 0;
    }
  }
  return true;
}

// The column of q through the factor into the work vector (alpha by basis
// position, listed), its spike appended for the coming update. False when
// the eta file is full (full: nothing else done).
bool Crossover::transform(int32_t q, bool& full) {
  full = false;
  unpack_column(q);
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  const double drop = dcv(dc::ZTETA);
  if (icv(ic::IFFTUP) == 1) {
    solve_with_factor_forward(w, list, factor.work_vector_count);
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
    if (append_eta_column() != 0) {
      full = true;
      return false;
    }
    solve_with_factor_backward(w, list, factor.work_vector_count);
  } else {
    eta_backward_pass();
    factor.work_vector_state = WV_CLEAR_ALL;
  }
  if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(drop);
  return true;
}

Crossover::StepResult Crossover::push_candidate(int32_t q) {
  const double ztolpv = dcv(dc::ZTOLPV);
  const double ztolze = dcv(dc::ZTOLZE);
  const double ztcost = dcv(dc::ZTCOST);
  for (;;) {
    // a. Refactorisation test.
    if ((small_pivot_ && update_count > kSmallPivotUpdates) || fill_rule_refactor_due(update_count))
      updates_ = kForceRefactor;
    if (updates_ > kRefactorAbove || refactor_request_) {
      int32_t line = 0;
      if (!refactorise(true, &line)) return StepResult::kStop;
      if (basic(q) || (word(st_, q) & PS_NONBASIC_BETWEEN) == 0) return StepResult::kDone;
    }
    // b. The column through the factor.
    bool full = false;
    if (!transform(q, full)) {
      if (updates_ == 0) {
        status_ = kCrossoverFactorFailed;
        return StepResult::kStop;
      }
      refactor_request_ = true;
      continue;
    }
    OneBased<double> w = work_vector();
    OneBased<int32_t> list = work_list();
    const int32_t count = factor.work_vector_count;
    // c. Reduced cost in minimisation form.
    double dq = cost_[q] * (q >= store.first_col ? 1.0 : 0.0);
    for (int32_t t = 1; t <= count; ++t) {
      const int32_t k = list[t];
      const int32_t v = header_[k];
      if (v >= store.first_col) dq -= w[k] * cost_[v];
    }
    dq *= sense_factor;
    int32_t attempts = 0;

    // d/e. Direction, step limit and ratio test; dir +1 increases q.
    struct Choice {
      int32_t dir = 1;
      double theta = 0.0;
      int32_t row = 0;          // blocking basis position, 0 none
      bool at_upper = false;    // the blocking variable leaves at upper
      double largest = 0.0;     // largest |alpha_k| seen
      double element = 0.0;    // blocking element (direction applied)
    };
    const auto ratio = [&](int32_t dir, double theta0) {
      Choice c;
      c.dir = dir;
      c.theta = theta0;
      int32_t first = 0;
      for (int32_t t = 1; t <= count; ++t) {
        const int32_t k = list[t];
        const double a = dir * w[k];
        c.largest = std::max(c.largest, std::fabs(a));
        if (std::fabs(a) <= ztolpv) continue;
        const int32_t v = header_[k];
        double bound_t;
        if (a > 0.0 && finite_lower(v))
          bound_t = (values_[k] - lower_[v] + ztolze) / a;
        else if (a < 0.0 && finite_upper(v))
          bound_t = (values_[k] - upper_[v] - ztolze) / a;
        else
          continue;
        if (bound_t < 0.0) bound_t = 0.0;
        if (bound_t < c.theta) {
          c.theta = bound_t;
          first = k;
        }
      }
      if (first == 0) return c;
      const double limit = c.theta * (1.0 + ztolpv);
      double best = 0.0;
      for (int32_t t = 1; t <= count; ++t) {
        const int32_t k = list[t];
        const double a = dir * w[k];
        const int32_t v = header_[k];
        double bound_t;
        bool up = false;
        if (a >= ztolpv && finite_lower(v)) {
          bound_t = (values_[k] - lower_[v] - ztolze) / a;
        } else if (a <= -ztolpv && finite_upper(v)) {
          bound_t = (values_[k] - upper_[v] + ztolze) / a;
          up = true;
        } else {
          continue;
        }
        if (bound_t < 0.0) bound_t = 0.0;
        if (bound_t > limit || !(std::fabs(a) > best)) continue;
        best = std::fabs(a);
        c.row = k;
        c.at_upper = up;
        c.element = a;
        c.theta = bound_t;
      }
      return c;
    };
    const bool lower_ok = finite_lower(q);
    const bool upper_ok = finite_upper(q);
    const bool is_free = !lower_ok && !upper_ok;
    const auto limit_up = [&] {
      if (upper_ok) return upper_[q] - x_[q];
      if (is_free && x_[q] < 0.0) return -x_[q];
      return big_;
    };
    const auto limit_down = [&] {
      if (lower_ok) return x_[q] - lower_[q];
      if (is_free && x_[q] > 0.0) return x_[q];
      return big_;
    };
    Choice choice;
    bool zero_cost_unbounded = false;
    for (;;) {
      ++attempts;
      if (dq > ztcost) {
        choice = ratio(-1, lower_ok ? x_[q] - lower_[q] : big_);
      } else if (dq < -ztcost) {
        choice = ratio(1, upper_ok ? upper_[q] - x_[q] : big_);
      } else {
        dq = 0.0;
        const Choice up = ratio(1, limit_up());
        choice = up;
        if (up.row != 0 || up.theta >= kUnboundedShare * big_) {
          const Choice down = ratio(-1, limit_down());
          choice = down;
          const bool down_unblocked_far = down.row == 0 && down.theta > kUnboundedShare * big_;
          const bool both_blocked_up_larger =
              down.row != 0 && up.row != 0 && std::fabs(up.element) > std::fabs(down.element);
          if (down_unblocked_far || both_blocked_up_larger) choice = up;
        }
      }
      if (choice.row != 0 || std::fabs(choice.theta) <= kUnboundedShare * big_) break;
      // Unbounded in the chosen direction.
      if (dq == 0.0) {
        // Moving q changes neither the objective nor any bounded basic
        // variable: the optimal face is unbounded along it, not the
        // problem. q stays nonbasic, at zero when it is free.
        zero_cost_unbounded = true;
        break;
      }
      if (attempts > 1 || std::fabs(dq) < ztcost) {
        status_ = kCrossoverUnbounded;
        return StepResult::kStop;
      }
      dq = -dq;
    }

    const auto move_values = [&](double theta, int32_t dir) {
      if (theta != 0.0) {
        for (int32_t t = 1; t <= count; ++t) {
          const int32_t k = list[t];
          values_[k] -= theta * dir * w[k];
        }
      }
      x_[q] += dir * theta;
    };

    if (zero_cost_unbounded) {
      if (is_free && x_[q] != 0.0) {
        const int32_t dir = x_[q] < 0.0 ? 1 : -1;
        move_values(std::fabs(x_[q]), dir);
        x_[q] = 0.0;
      }
      clear(q, PS_NONBASIC_BETWEEN | PS_AT_UPPER);
      requeue_marker_ = 0;
      ++crossover_stats.bound_flips;
      return StepResult::kDone;
    }

    if (choice.row == 0) {
      // f. Bound flip.
      move_values(choice.theta, choice.dir);
      clear(q, PS_NONBASIC_BETWEEN | PS_AT_UPPER);
      if (choice.dir > 0 && !is_free) set(q, PS_AT_UPPER);
      if (upper_ok && choice.dir > 0) x_[q] = std::min(x_[q], upper_[q]);
      if (lower_ok && choice.dir < 0) x_[q] = std::max(x_[q], lower_[q]);
      requeue_marker_ = 0;
      ++crossover_stats.bound_flips;
      return StepResult::kDone;
    }

    // g. Blocking position r.
    const int32_t r = choice.row;
    const double pivot = w[r];
    const double tolerance = std::max(choice.largest * relative_pivot_, ztolpv);
    if (std::fabs(pivot) < kSmallPivotShare * choice.largest) small_pivot_ = true;
    if (std::fabs(pivot) >= tolerance) {
      const int32_t leaving = header_[r];
      move_values(choice.theta, choice.dir);
      x_[leaving] = values_[r];
      values_[r] = x_[q];
      header_[r] = q;
      entering_column = q;
      leaving_variable = leaving;
      leaving_row = r;
      leaving_direction = choice.at_upper ? kLeaveAtUpper : kLeaveAtLower;
      // The update checks its new diagonal against the pivot of B^-1 a_q.
      pivot_value = pivot;
      int32_t result;
      if (icv(ic::IFFTUP) == 1)
        result = update_factor();
      else
        result = store_pivot_eta(1.0);
      reset_leaving_flags();
      clear(q, PS_NONBASIC_BETWEEN);
      clear(leaving, PS_NONBASIC_BETWEEN);
      position_[static_cast<size_t>(leaving)] = 0;
      position_[static_cast<size_t>(q)] = r;
      basic_upper_[r] = finite_upper(q) ? upper_[q] : kInfinity;
      ++updates_;
      ++crossover_stats.primal_pivots;
      if (result != UPDATE_DONE) refactor_request_ = true;
      requeue_marker_ = 0;
      return StepResult::kDone;
    }
    if (updates_ >= icv(ic::INVMIN)) {
      refactor_request_ = true;
      continue;
    }
    if (requeue_marker_ == 0) {
      requeue_marker_ = q;
    } else if (requeue_marker_ == q) {
      refactor_request_ = true;
      relative_pivot_ *= kRelativePivotCut;
      if (relative_pivot_ < kRelativePivotFloor) relative_pivot_ = 0.0;
    }
    return StepResult::kRequeue;
  }
}

// Basic values from the current factor, or from a fresh one when the
// updates have run long or one was asked for; false when that fails.
bool Crossover::refresh_basic_values(int32_t failure_line) {
  if (updates_ <= kRefactorAbove && !refactor_request_) {
    compute_basic_values();
    for (int32_t k = 1; k <= nrow; ++k) {
      const int32_t v = header_[k];
      basic_upper_[k] = finite_upper(v) ? upper_[v] : kInfinity;
    }
    return true;
  }
  int32_t line = failure_line;
  return refactorise(false, &line);
}

bool Crossover::end_of_push() {
  if (!refresh_basic_values(kPrimalPushLine)) return false;
  check_basic_feasibility();
  iteration_log(1);
  itcnt = 0;
  return true;
}

bool Crossover::dual_push() {
  const double ztcost = dcv(dc::ZTCOST);
  const double zteta = dcv(dc::ZTETA);
  const double ztolpv = dcv(dc::ZTOLPV);
  if ((problem_flags & PF_ROW_COPY) == 0) build_row_copy();
  OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> row_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> row_val = real_array(ARR_ROW_COPY_VAL);
  if (!row_start || !row_col || !row_val) return true;
  refresh_positions();

  // 1. Candidates and active parts.
  std::vector<int32_t> active_end(static_cast<size_t>(nrow) + 1, 0);
  std::vector<QueueEntry> candidates;
  const auto leave_active = [&](int32_t i, int32_t e) {
    int32_t& end = active_end[static_cast<size_t>(i)];
    std::swap(row_col[e], row_col[end]);
    std::swap(row_val[e], row_val[end]);
    --end;
  };
  for (int32_t i = 1; i <= nrow; ++i) {
    int32_t& end = active_end[static_cast<size_t>(i)];
    end = row_start[i + 1] - 1;
    const double dual = dual_copy_[i];
    if (basic(i)) {
      if (std::fabs(dual) > ztcost && distance(i) < std::fabs(dual)) candidates.push_back({i, 1, std::fabs(dual)});
    } else if (std::fabs(dual) < zteta) {
      dual_copy_[i] = 0.0;
    }
    for (int32_t e = row_start[i]; e <= end;) {
      if ((word(st_, row_col[e]) & kNotEntering) != 0)
        leave_active(i, e);
      else
        ++e;
    }
  }
  // Every key is 1: the largest dual magnitude comes first.
  if (candidates.size() > 1) sift_crossover_heap(candidates);

  // 2. Duals, costs and row counts.
  for (int32_t i = 1; i <= nrow; ++i) d_[i] = -dual_copy_[i];
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t s = word(st_, j);
    if (d_[j] > 0.0 && (s & PS_AT_UPPER) != 0) d_[j] = 0.0;
    if (d_[j] < 0.0 && (s & (PS_BASIC | PS_AT_UPPER)) == 0) d_[j] = 0.0;
    double c = d_[j];
    for (int32_t k = col_start_[j]; k < col_start_[j + 1]; ++k) c -= elem_value_[k] * d_[elem_row_[k]];
    wcost_[j] = c;
  }
  std::vector<int32_t> row_count(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t i = 1; i <= nrow; ++i)
    if (basic(i)) ++row_count[static_cast<size_t>(i)];
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (!basic(j)) continue;
    for (int32_t k = col_start_[j]; k < col_start_[j + 1]; ++k) ++row_count[static_cast<size_t>(elem_row_[k])];
  }
  const auto enter_rows = [&](int32_t q) {
    if (q < store.first_col) return;
    for (int32_t k = col_start_[q]; k < col_start_[q + 1]; ++k) {
      const int32_t i = elem_row_[k];
      ++row_count[static_cast<size_t>(i)];
      for (int32_t e = row_start[i]; e <= active_end[static_cast<size_t>(i)]; ++e) {
        if (row_col[e] == q) {
          leave_active(i, e);
          break;
        }
      }
    }
  };
  const auto leave_with_flags = [&](int32_t slack, int32_t q) {
    // The slack leaves at upper when its reduced cost is negative.
    const int32_t kept = leaving_direction;
    leaving_direction = kept == kLeaveAtUpper ? kLeaveAtLower : kLeaveAtUpper;
    entering_column = q;
    leaving_variable = slack;
    reset_leaving_flags();
    leaving_direction = kept;
    clear(q, PS_NONBASIC_BETWEEN);
    clear(slack, PS_NONBASIC_BETWEEN);
  };

  // 3. First sweep, without the factor.
  std::vector<int32_t> second;
  int32_t first_pivots = 0;
  OneBased<int32_t> active_ends(active_end.data());
  OneBased<int32_t> row_starts = row_start;
  for (const QueueEntry& cand : candidates) {
    const int32_t i = cand.index;
    if (!basic(i)) continue;
    if (row_count[static_cast<size_t>(i)] != 1) {
      second.push_back(i);
      continue;
    }
    leaving_direction = d_[i] >= 0.0 ? kLeaveAtUpper : kLeaveAtLower;
    leaving_row = i;
    leaving_variable = i;
    select_dual_entering(CROSSOVER_ROW_OF_MATRIX, row_starts, active_ends);
    if (entering_column != 0) {
      const int32_t q = entering_column;
      const int32_t pos = position_[static_cast<size_t>(i)];
      header_[pos] = q;
      position_[static_cast<size_t>(q)] = pos;
      position_[static_cast<size_t>(i)] = 0;
      ++first_pivots;
      leave_with_flags(i, q);
      --update_count;  // no factor update was made
      enter_rows(q);
    }
    update_duals_after_step();
  }
  crossover_stats.first_sweep_pivots += first_pivots;
  if (first_pivots > 0) {
    iteration_log(1);
    updates_ = kForceRefactor;
    itcnt = 0;
  }
  // 4. Clean scratch.
  dual_step = 0.0;
  {
    OneBased<double> alpha = pivot_row_values();
    for (int32_t p = 1; p <= nseq; ++p) alpha[p] = 0.0;
    OneBased<double> w = work_vector();
    for (int32_t i = 1; i <= nrow; ++i) {
      values_[i] = 0.0;
      w[i] = 0.0;
    }
    factor.work_vector_state = WV_CLEAR_ALL;
    for (int32_t p = 1; p <= nseq; ++p) class_[p] = 0;
  }
  if (first_pivots > 0) refactor_request_ = true;

  // 5. Second sweep, through the factor.
  for (const int32_t i : second) {
    for (;;) {
      if (!basic(i)) break;
      leaving_direction = d_[i] >= 0.0 ? kLeaveAtUpper : kLeaveAtLower;
      if ((small_pivot_ && update_count > kSmallPivotUpdates) || fill_rule_refactor_due(update_count))
        updates_ = kForceRefactor;
      if (updates_ > kRefactorAbove || refactor_request_) {
        for (int32_t r = 1; r <= nrow; ++r) dual_copy_[r] = d_[r];
        if (crossover_stats.interrupt_at_refactorisation == refactorisations_ + 1) interrupt_flag = 1;
        last_poll_ = poll_interrupt();
        if (last_poll_ != 0) {
          numberless_line(kDualPushLine, last_poll_);
          status_ = kCrossoverInterrupted;
          return false;
        }
        int32_t line = 0;
        if (!refactorise(false, &line)) return false;
        for (int32_t r = 1; r <= nrow; ++r) d_[r] = dual_copy_[r];
        if (!basic(i)) break;
      }
      const int32_t pos = position_[static_cast<size_t>(i)];
      leaving_row = pos;
      leaving_variable = i;
      select_dual_entering(CROSSOVER_ROW_BY_BTRAN, row_start, active_ends);
      if (entering_column == 0) {
        update_duals_after_step();
        break;
      }
      const int32_t q = entering_column;
      const int32_t sign = entering_sign;
      bool full = false;
      if (!transform(q, full)) {
        if (updates_ == 0) {
          status_ = kCrossoverFactorFailed;
          return false;
        }
        refactor_request_ = true;
        continue;
      }
      OneBased<double> w = work_vector();
      OneBased<int32_t> list = work_list();
      if (sign == 1) negate_work_vector();
      double largest = 0.0;
      for (int32_t t = 1; t <= factor.work_vector_count; ++t) largest = std::max(largest, std::fabs(w[list[t]]));
      double pivot = w[pos];
      const double tolerance = std::max(kDualPushPivotShare * largest, ztolpv);
      if (std::fabs(pivot) < kSmallPivotShare * largest) small_pivot_ = true;
      if (std::fabs(pivot) < tolerance) break;
      if (leaving_direction == kLeaveAtUpper) pivot = -pivot;
      const double element = pivot_row_values()[q];
      if (std::fabs(pivot - element) <= kPivotAgreement * std::fabs(element)) {
        header_[pos] = q;
        position_[static_cast<size_t>(q)] = pos;
        position_[static_cast<size_t>(i)] = 0;
        leaving_row = pos;
        pivot_value = sign == 1 ? -w[pos] : w[pos];
        int32_t result;
        if (icv(ic::IFFTUP) == 1)
          result = update_factor();
        else
          result = store_pivot_eta(sign == 1 ? -1.0 : 1.0);
        if (result != UPDATE_DONE) refactor_request_ = true;
        ++updates_;
        leave_with_flags(i, q);
        enter_rows(q);
        update_duals_after_step();
        ++crossover_stats.second_sweep_pivots;
        break;
      }
      if (updates_ < icv(ic::INVMIN)) break;
      updates_ = kForceRefactor;
    }
  }
  return true;
}

void Crossover::finish(bool normal) {
  nnegdj = 0;
  // Restored on every exit: no later solve may start from the crossover's
  // right-hand side, costs or marks.
  for (int32_t i = 1; i <= nrow; ++i) {
    wcost_[i] = 0.0;
    wrhs_[i] = rhs_[i];
    clear(i, PS_MARK);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    wcost_[j] = cost_[j];
    clear(j, PS_MARK);
    if ((word(st_, j) & PS_FREE) != 0) {
      clear(j, PS_AT_UPPER);
      if (!basic(j)) set(j, PS_NONBASIC_BETWEEN);
    }
  }
  const int32_t end_time = elapsed_seconds();
  crossover_mode = 0;
  if (normal && !refresh_basic_values(0)) normal = false;
  if (normal) {
    check_basic_feasibility();
    iteration_log(1);
    itcnt = 0;
    if (icv(ic::IQUIET) != 1 && icv(ic::PRLEV) > 0) {
      begin_message(MSG_CROSSOVER_HEADING);
      fetch_message_text(MSG_CROSSOVER_DONE);
      emit_message();
      begin_message(MSG_CROSSOVER_RESULT);
      insert_message_real(objval);
      insert_message_int(std::max(0, end_time - start_time_));
      emit_message();
    }
  } else {
    // The basis of an early exit is no factor's: the next solve builds
    // its own.
    problem_flags &= ~PF_FACTOR_VALID;
  }
  if (mode_ == 1)
    for (int32_t p = 1; p <= nseq; ++p) d_[p] = -d_[p];
  crossover_mode = -2;
}

}  // namespace

void complete_crossover(int32_t mode, int32_t& status, double /*objective*/, double /*half_xqx*/) {
  Crossover crossover(mode, status);
  crossover.run();
}

}  // namespace kl
