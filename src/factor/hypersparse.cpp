#include "factor/hypersparse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/basis.h"
#include "factor/solves.h"
#include "problem/store.h"
#include "runtime/controls.h"

namespace kl {

HypersparseStats hypersparse_stats;

namespace {

// Share of ZTETA below which values are dropped on the way.
constexpr double kEarlyDropShare = 0.1;

// A binary heap of slot or record positions with a fixed capacity; min-heap
// or max-heap by its order.
class PositionHeap {
 public:
  explicit PositionHeap(bool max_first) : max_first_(max_first) {}
  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }
  int32_t size() const { return size_; }
  // False (nothing pushed) when the heap already holds `limit` items.
  bool push(int32_t value, int32_t limit) {
    if (size_ >= limit || size_ >= kHeapCapacity) return false;
    int32_t k = ++size_;
    while (k > 1 && before(value, items_[k / 2])) {
      items_[k] = items_[k / 2];
      k /= 2;
    }
    items_[k] = value;
    return true;
  }
  int32_t pop() {
    const int32_t top = items_[1];
    const int32_t last = items_[size_--];
    int32_t k = 1;
    for (;;) {
      int32_t child = 2 * k;
      if (child > size_) break;
      if (child < size_ && before(items_[child + 1], items_[child])) ++child;
      if (!before(items_[child], last)) break;
      items_[k] = items_[child];
      k = child;
    }
    items_[k] = last;
    return top;
  }

 private:
  bool before(int32_t a, int32_t b) const { return max_first_ ? a > b : a < b; }
  bool max_first_;
  int32_t size_ = 0;
  int32_t items_[kHeapCapacity + 1] = {};
};

PositionHeap u_btran_heap(false);
PositionHeap invert_btran_heap(false);
PositionHeap invert_ftran_heap(true);
PositionHeap u_ftran_heap(true);

// Row marks of one call: listed (in the output list) and pending (walking
// its chain: its next position is in the heap). Every call clears what it
// set, so the arrays stay zero between calls.
std::vector<char> listed_mark;
std::vector<char> pending_mark;
// Rows whose only invert record is a diagonal eta, met by the BTRAN.
std::vector<int32_t> diagonal_rows;

void ensure_marks() {
  const size_t size = static_cast<size_t>(std::max(nrow, 0)) + 1;
  if (listed_mark.size() < size) {
    listed_mark.assign(size, 0);
    pending_mark.assign(size, 0);
  }
}

void list_row(OneBased<int32_t> list, int32_t& count, int32_t row) {
  if (listed_mark[row]) return;
  listed_mark[row] = 1;
  list[++count] = row;
}

// Clears the marks of the listed rows; with keep_list, also removes (and
// zeroes) every listed value below the drop tolerance.
void finish_list(OneBased<double> x, OneBased<int32_t> list, int32_t& count, bool keep_list) {
  const double drop = dcv(dc::ZTETA);
  int32_t kept = 0;
  for (int32_t k = 1; k <= count; ++k) {
    const int32_t row = list[k];
    listed_mark[row] = 0;
    pending_mark[row] = 0;
    if (!keep_list) continue;
    if (std::fabs(x[row]) < drop) {
      x[row] = 0.0;
      continue;
    }
    list[++kept] = row;
  }
  if (keep_list) count = kept;
}

// A dense fall-back can leave marks on rows that were pushed but never
// listed; a stale mark would make the next solve skip that row.
void clear_all_marks() {
  std::fill(pending_mark.begin(), pending_mark.end(), 0);
  std::fill(listed_mark.begin(), listed_mark.end(), 0);
}

// The vector is dense now: its list no longer describes it.
void mark_vector_dense() {
  factor.work_vector_state = WV_CLEAR_ALL;
  ++hypersparse_stats.fallbacks;
  clear_all_marks();
}

void declare_list_invalid(int32_t& count) {
  mark_vector_dense();
  count = -1;
}

int32_t capped(int64_t limit) { return static_cast<int32_t>(std::min<int64_t>(limit, kHeapCapacity)); }

// First U entry slot of a row's chain (its own head skipped), 0 for none.
int32_t first_u_entry_slot(int32_t row) {
  const int32_t head = int_array(ARR_U_CHAINS)[row];
  if (head >= 0) return head;
  return eta_row()[-head];
}

// U BTRAN of the record at a into its head, values below `drop` zeroed.
void btran_u_record(OneBased<double> x, int32_t a, double drop) {
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  const int32_t count = slot_low_word(a - 1);
  const int32_t h = labels[a];
  double sum = 0.0;
  for (int32_t s = a + 1; s <= a + count; ++s) sum += values[s] * x[labels[s]];
  x[h] -= sum;
  if (std::fabs(x[h]) < drop) x[h] = 0.0;
}

// The row eta with pivot row q whose entries hold slot s; returns its bottom
// boundary (0 when none does).
int32_t row_eta_holding(int32_t q, int32_t s) {
  OneBased<int32_t> labels = u_row();
  for (int32_t b = int_array(ARR_ROW_ETA_HEADS)[q]; b > 0; b = labels[b]) {
    const int32_t c = slot_high_word(b);
    if (s >= b + 1 && s <= b + 1 + c) return b;
  }
  return 0;
}

// Oldest-first next row eta of row i above slot b (its pivot row is i).
int32_t row_eta_above(int32_t i, int32_t b) {
  OneBased<int32_t> labels = u_row();
  for (int32_t r = int_array(ARR_ROW_ETA_HEADS)[i]; r > 0; r = labels[r])
    if (r > b) return r;
  return 0;
}

// Product-form etas (basis.h) on a listed vector; every row they make
// nonzero is listed. They come after U in FTRAN, oldest first: each is a
// scatter from its pivot row.
void ftran_product_form_listed(OneBased<double> x, OneBased<int32_t> list, int32_t& count) {
  if (eta_file.product_form_count == 0) return;
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  const int32_t bottom = eta_file.eta_capacity - eta_file.invert_part_size;
  for (int32_t t = invert_records_bottom(); t > bottom;) {
    const int32_t c = slot_low_word(t);
    const int32_t pivot = t - 1;
    const int32_t r = rows[pivot];
    if (!high_word_zero(x[r])) {
      const double xr = x[r] * values[pivot];
      x[r] = xr;
      for (int32_t s = pivot - 1; s >= pivot - c; --s) {
        const int32_t i = rows[s];
        x[i] -= xr * values[s];
        list_row(list, count, i);
      }
    }
    t = t - 2 - c;
  }
}

// ... and before U in BTRAN, newest first: each is a gather into its pivot
// row, so every one is visited whatever the list holds.
void btran_product_form_listed(OneBased<double> x, OneBased<int32_t> list, int32_t& count) {
  if (eta_file.product_form_count == 0) return;
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  const int32_t top = invert_records_bottom();
  for (int32_t b = eta_file.eta_capacity - eta_file.invert_part_size; b < top;) {
    const int32_t c = slot_high_word(b);
    double sum = 0.0;
    for (int32_t s = b + 1; s <= b + c; ++s) sum += values[s] * x[rows[s]];
    const int32_t pivot = b + c + 1;
    const int32_t r = rows[pivot];
    if (sum != 0.0 || x[r] != 0.0) {
      x[r] = (x[r] - sum) * values[pivot];
      list_row(list, count, r);
    }
    b = b + c + 2;
  }
}

}  // namespace

int32_t u_btran_heap_limit() { return capped(nrow / 1000 + 5); }
int32_t invert_btran_heap_limit() { return capped(nrow / 500 + 5); }
int32_t invert_ftran_heap_limit() { return capped(nrow / 1000 + 5); }
int32_t u_ftran_heap_limit() { return capped(eta_file.u_column_count / 25 + 5); }

// ---------------------------------------------------------------------------
// U BTRAN: x_h -= sum e_i x_i per record, records in rising positions. Slots
// come off a min-heap, so all contributions to one head arrive together.

void sparse_solve_heap_ordered() {
  ensure_marks();
  OneBased<double> x = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> labels = u_row();
  OneBased<int32_t> links = eta_row();
  OneBased<int32_t> owner = eta_next();
  OneBased<double> values = eta_value();
  int32_t& count = factor.work_vector_count;
  const double early_drop = kEarlyDropShare * dcv(dc::ZTETA);
  const int32_t limit = u_btran_heap_limit();
  PositionHeap& heap = u_btran_heap;
  heap.clear();

  for (int32_t k = 1; k <= count; ++k) listed_mark[list[k]] = 1;
  btran_product_form_listed(x, list, count);
  const int32_t listed_at_start = count;
  for (int32_t k = 1; k <= listed_at_start; ++k) {
    const int32_t first = first_u_entry_slot(list[k]);
    if (first > 0 && !heap.push(first, limit)) {
      finish_list(x, list, count, false);
      btran_u_file(x);
      declare_list_invalid(count);
      return;
    }
  }

  int32_t head = 0;
  int32_t slot = 0;
  bool overflow = false;
  while (!heap.empty() && !overflow) {
    slot = heap.pop();
    const int32_t h = owner[slot];
    if (h != head) {
      if (head != 0 && std::fabs(x[head]) < early_drop) x[head] = 0.0;
      head = h;
    }
    x[h] -= x[labels[slot]] * values[slot];
    if (!listed_mark[h]) {
      list_row(list, count, h);
      const int32_t first = first_u_entry_slot(h);
      if (first > 0 && !heap.push(first, limit)) overflow = true;
    }
    const int32_t next = links[slot];
    if (next > 0 && !heap.push(next, limit)) overflow = true;
  }
  if (!overflow) {
    if (head != 0 && std::fabs(x[head]) < early_drop) x[head] = 0.0;
    finish_list(x, list, count, true);
    return;
  }
  // Dense from the current record on: the rest of its entries into its head,
  // then every later record of the chain.
  const int32_t a = -int_array(ARR_U_CHAINS)[head];
  const int32_t last = a + slot_low_word(a - 1);
  for (int32_t s = slot + 1; s <= last; ++s) x[head] -= values[s] * x[labels[s]];
  if (std::fabs(x[head]) < early_drop) x[head] = 0.0;
  for (int32_t r = a; r != eta_file.u_last_record;) {
    r += slot_low_word(r);
    btran_u_record(x, r, early_drop);
  }
  finish_list(x, list, count, false);
  declare_list_invalid(count);
}

// ---------------------------------------------------------------------------
// Invert-part BTRAN: row etas newest first (rising positions), then the L
// column etas by rising slots, each record finished at its pivot slot.

void sparse_triangular_solve_heap() {
  ensure_marks();
  OneBased<double> x = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> rows = eta_row();
  OneBased<int32_t> labels = u_row();
  OneBased<int32_t> owner = eta_next();
  OneBased<double> values = eta_value();
  OneBased<int32_t> row_eta_heads = int_array(ARR_ROW_ETA_HEADS);
  OneBased<int32_t> invert_heads = int_array(ARR_INVERT_CHAINS);
  int32_t& count = factor.work_vector_count;
  const double drop = dcv(dc::ZTETA);
  const int32_t limit = invert_btran_heap_limit();
  PositionHeap& heap = invert_btran_heap;
  heap.clear();
  for (int32_t k = 1; k <= count; ++k) listed_mark[list[k]] = 1;

  // Phase 1: row etas.
  if (row_eta_records() > 0) {
    bool overflow = false;
    int32_t resume = 0;  // bottom boundary of the first row eta left to the dense pass
    const int32_t listed_at_start = count;
    for (int32_t k = 1; k <= listed_at_start && !overflow; ++k) {
      const int32_t r = list[k];
      const int32_t b = row_eta_heads[r];
      if (b == 0) continue;
      if (!heap.push(b, limit)) {
        overflow = true;
        resume = eta_file.eta_capacity - eta_file.invert_part_size;
        break;
      }
      pending_mark[r] = 1;
    }
    while (!heap.empty() && !overflow) {
      const int32_t b = heap.pop();
      const int32_t c = slot_high_word(b);
      const int32_t r = rows[b + 1];
      pending_mark[r] = 0;
      resume = b + 2 + c;
      if (high_word_zero(x[r])) continue;
      const double t = x[r] * values[b + 1];
      if (std::fabs(t) < drop) {
        x[r] = 0.0;
        continue;
      }
      x[r] = t;
      for (int32_t s = b + 2; s <= b + 1 + c; ++s) {
        const int32_t i = rows[s];
        x[i] -= t * values[s];
        list_row(list, count, i);
        if (pending_mark[i]) continue;
        const int32_t above = row_eta_above(i, b);
        if (above == 0) continue;
        if (!heap.push(above, limit)) overflow = true;
        pending_mark[i] = 1;
      }
      const int32_t older = labels[b];
      if (older > 0) {
        if (!heap.push(older, limit)) overflow = true;
        pending_mark[r] = 1;
      }
    }
    if (overflow) {
      btran_row_etas_from(x, resume, drop);
      btran_invert_records_from(x, invert_records_bottom());
      finish_list(x, list, count, false);
      declare_list_invalid(count);
      return;
    }
  }

  // Phase 2: L column and diagonal etas. A row with a diagonal eta takes no
  // contribution from the L etas, so its scaling is final whenever it is
  // done; it is done last, so that a dense fall-back (which ends with the
  // diagonal etas) never scales a row twice.
  heap.clear();
  diagonal_rows.clear();
  bool overflow = false;
  const int32_t listed_after_rows = count;
  for (int32_t k = 1; k <= listed_after_rows && !overflow; ++k) {
    const int32_t r = list[k];
    if (std::fabs(x[r]) < drop) {
      x[r] = 0.0;
      continue;
    }
    const int32_t h = invert_heads[r];
    if (h == 0) continue;
    if (h < 0 && labels[-h] == -1) {
      diagonal_rows.push_back(r);
      continue;
    }
    if (!heap.push(std::abs(h), limit)) {
      overflow = true;
      break;
    }
    pending_mark[r] = 1;
  }
  if (overflow) {
    btran_invert_records_from(x, invert_records_bottom());
    finish_list(x, list, count, false);
    declare_list_invalid(count);
    return;
  }
  int32_t slot = 0;
  while (!heap.empty() && !overflow) {
    slot = heap.pop();
    const int32_t q = owner[slot];
    if (q != 0) {
      const int32_t i = rows[slot];
      x[q] -= values[slot] * x[i];
      if (!pending_mark[q]) {
        pending_mark[q] = 1;
        list_row(list, count, q);
        if (!heap.push(-invert_heads[q], limit)) overflow = true;
      }
      const int32_t next = labels[slot];
      if (next > 0) {
        if (!heap.push(next, limit)) overflow = true;
      } else {
        pending_mark[i] = 0;
      }
      continue;
    }
    const int32_t r = rows[slot];
    x[r] *= values[slot];
    const int32_t next = labels[slot];
    if (std::fabs(x[r]) < drop) {
      x[r] = 0.0;
      pending_mark[r] = 0;
    } else if (next > 0) {
      if (!heap.push(next, limit)) overflow = true;
    } else {
      pending_mark[r] = 0;
    }
  }
  if (!overflow) {
    for (int32_t r : diagonal_rows) x[r] *= values[-invert_heads[r]];
    finish_list(x, list, count, true);
    return;
  }
  // Dense from the current record on: finish it, then every record above.
  int32_t pivot = slot;
  const int32_t q = owner[slot];
  if (q != 0) {
    pivot = -invert_heads[q];
    double sum = 0.0;
    for (int32_t s = slot + 1; s < pivot; ++s) sum += values[s] * x[rows[s]];
    x[q] = (x[q] - sum) * values[pivot];
  }
  btran_invert_records_from(x, pivot + 1);
  finish_list(x, list, count, false);
  declare_list_invalid(count);
}

// ---------------------------------------------------------------------------
// Invert-part FTRAN: diagonal and L column etas by falling pivot slots, then
// the row etas as gathers by falling slots (oldest first).

void solve_with_factor_forward(OneBased<double> x, OneBased<int32_t> list, int32_t& count) {
  ensure_marks();
  OneBased<int32_t> rows = eta_row();
  OneBased<int32_t> labels = u_row();
  OneBased<int32_t> owner = eta_next();
  OneBased<double> values = eta_value();
  OneBased<int32_t> invert_heads = int_array(ARR_INVERT_CHAINS);
  OneBased<int32_t> row_eta_chains = int_array(ARR_ROW_ETA_CHAINS);
  const double drop = dcv(dc::ZTETA);
  const double early_drop = kEarlyDropShare * drop;
  const int32_t limit = invert_ftran_heap_limit();
  PositionHeap& heap = invert_ftran_heap;
  heap.clear();
  for (int32_t k = 1; k <= count; ++k) listed_mark[list[k]] = 1;

  auto fall_back = [&](int32_t top_boundary) {
    ftran_invert_records_from(x, top_boundary);
    ftran_row_etas(x);
    finish_list(x, list, count, false);
    mark_vector_dense();
  };

  // Phase 1: diagonal and L column etas.
  const int32_t listed_at_start = count;
  for (int32_t k = 1; k <= listed_at_start; ++k) {
    const int32_t r = list[k];
    const int32_t h = invert_heads[r];
    if (h >= 0) continue;
    if (!heap.push(-h, limit)) {
      fall_back(eta_file.eta_capacity);
      return;
    }
    pending_mark[r] = 1;
  }
  while (!heap.empty()) {
    const int32_t p = heap.pop();
    const int32_t r = rows[p];
    const int32_t c = slot_low_word(p + 1);
    pending_mark[r] = 0;
    if (high_word_zero(x[r])) continue;
    const double xr = x[r] * values[p];
    if (std::fabs(xr) < early_drop) {
      x[r] = 0.0;
      continue;
    }
    x[r] = xr;
    bool overflow = false;
    for (int32_t s = p - 1; s >= p - c; --s) {
      const int32_t i = rows[s];
      x[i] -= xr * values[s];
      list_row(list, count, i);
      const int32_t h = invert_heads[i];
      if (h >= 0 || pending_mark[i] || overflow) continue;
      if (!heap.push(-h, limit)) {
        overflow = true;
        continue;
      }
      pending_mark[i] = 1;
    }
    if (overflow) {
      fall_back(p - 1 - c);
      return;
    }
  }

  // Phase 2: row etas.
  if (row_eta_records() == 0) {
    finish_list(x, list, count, true);
    return;
  }
  const int32_t listed_after_l = count;
  for (int32_t k = 1; k <= listed_after_l; ++k) {
    const int32_t r = list[k];
    if (std::fabs(x[r]) < drop) {
      x[r] = 0.0;
      continue;
    }
    const int32_t h = row_eta_chains[r];
    if (h == 0) continue;
    if (!heap.push(h, limit)) {
      finish_list(x, list, count, false);
      ftran_row_etas(x);
      mark_vector_dense();
      return;
    }
    pending_mark[r] = 1;
  }
  int32_t slot = 0;
  bool overflow = false;
  while (!heap.empty() && !overflow) {
    slot = heap.pop();
    const int32_t q = owner[slot];
    if (q != 0) {
      const int32_t i = rows[slot];
      x[q] -= values[slot] * x[i];
      if (!pending_mark[q]) {
        const int32_t b = row_eta_holding(q, slot);
        if (b > 0) {
          pending_mark[q] = 1;
          if (!heap.push(b + 1, limit)) overflow = true;
        }
      }
      const int32_t next = labels[slot];
      if (next > 0) {
        if (!heap.push(next, limit)) overflow = true;
      } else {
        pending_mark[i] = 0;
      }
      continue;
    }
    const int32_t r = rows[slot];
    x[r] *= values[slot];
    const int32_t next = labels[slot];
    if (std::fabs(x[r]) < early_drop) {
      x[r] = 0.0;
      pending_mark[r] = 0;
      continue;
    }
    list_row(list, count, r);
    if (next > 0) {
      if (!heap.push(next, limit)) overflow = true;
    } else {
      pending_mark[r] = 0;
    }
  }
  if (!overflow) {
    finish_list(x, list, count, true);
    return;
  }
  // Dense from the current row eta on: finish its gather, then every newer one.
  int32_t bottom;
  const int32_t q = owner[slot];
  if (q != 0) {
    const int32_t b = row_eta_holding(q, slot);
    double sum = 0.0;
    for (int32_t s = slot - 1; s > b + 1; --s) sum += values[s] * x[rows[s]];
    x[q] = (x[q] - sum) * values[b + 1];
    bottom = b;
  } else {
    bottom = slot - 1;
  }
  ftran_row_etas_from(x, bottom);
  finish_list(x, list, count, false);
  mark_vector_dense();
}

// ---------------------------------------------------------------------------
// U FTRAN (back substitution): records by falling positions.

void solve_with_factor_backward(OneBased<double> x, OneBased<int32_t> list, int32_t& count) {
  ensure_marks();
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  OneBased<int32_t> u_heads = int_array(ARR_U_CHAINS);
  const double drop = dcv(dc::ZTETA);
  int32_t limit = u_ftran_heap_limit();
  const int32_t low_positions = 2 * nrow;
  PositionHeap& heap = u_ftran_heap;
  heap.clear();
  for (int32_t k = 1; k <= count; ++k) listed_mark[list[k]] = 1;

  auto apply_record = [&](int32_t a) {
    const int32_t h = labels[a];
    if (std::fabs(x[h]) < drop) {
      x[h] = 0.0;
      return;
    }
    const int32_t c = slot_low_word(a - 1);
    for (int32_t s = a + 1; s <= a + c; ++s)
      if (!high_word_zero(values[s])) x[labels[s]] -= x[h] * values[s];
  };
  auto fall_back = [&](int32_t from) {
    for (int32_t a = from; a > kUSentinelRecord; a -= slot_high_word(a - 1)) apply_record(a);
    ftran_product_form_etas(x);
    finish_list(x, list, count, false);
    declare_list_invalid(count);
  };

  const int32_t listed_at_start = count;
  for (int32_t k = 1; k <= listed_at_start; ++k) {
    const int32_t r = list[k];
    const int32_t h = u_heads[r];
    if (h >= 0) continue;
    if (!heap.push(-h, limit)) {
      fall_back(eta_file.u_last_record);
      return;
    }
    pending_mark[r] = 1;
  }
  while (!heap.empty()) {
    const int32_t a = heap.pop();
    const int32_t h = labels[a];
    pending_mark[h] = 0;
    if (std::fabs(x[h]) < drop) {
      x[h] = 0.0;
      continue;
    }
    const int32_t c = slot_low_word(a - 1);
    bool overflow = false;
    for (int32_t s = a + 1; s <= a + c; ++s) {
      if (high_word_zero(values[s])) continue;
      const int32_t i = labels[s];
      x[i] -= x[h] * values[s];
      list_row(list, count, i);
      const int32_t own = u_heads[i];
      if (own >= 0 || pending_mark[i] || overflow) continue;
      if (heap.size() >= limit && a < low_positions) limit = kHeapCapacity;
      if (!heap.push(-own, limit)) {
        overflow = true;
        continue;
      }
      pending_mark[i] = 1;
    }
    if (overflow) {
      fall_back(a - slot_high_word(a - 1));
      return;
    }
  }
  ftran_product_form_listed(x, list, count);
  finish_list(x, list, count, true);
}

}  // namespace kl
