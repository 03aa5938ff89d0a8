#include "simplex/kernel.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "factor/basis.h"
#include "factor/hypersparse.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"
#include "simplex/pivot_updates.h"
#include "simplex/primal_ratio_test.h"
#include "factor/simplex_state.h"

namespace kl {

KernelStats kernel_stats;

namespace {

// The per-row tail of the row-eta chains (array 51), which the chains
// themselves do not keep: tail[i] is the newest slot of row i's chain. It is
// trusted only while the chain's head is set: an invert clears every head,
// so a row's first row eta after it starts the chain afresh.
std::vector<int32_t> row_eta_tails;

std::vector<int32_t>& current_row_eta_tails() {
  const size_t size = static_cast<size_t>(std::max(nrow, 0)) + 1;
  if (row_eta_tails.size() < size) row_eta_tails.resize(size, 0);
  return row_eta_tails;
}

// Appends slot s at the end of row i's row-eta chain (array 51, linked
// through u_row, oldest first).
void append_to_row_eta_chain(std::vector<int32_t>& tails, int32_t i, int32_t s) {
  OneBased<int32_t> heads = int_array(ARR_ROW_ETA_CHAINS);
  OneBased<int32_t> links = u_row();
  links[s] = 0;
  if (heads[i] == 0)
    heads[i] = s;
  else
    links[tails[i]] = s;
  tails[i] = s;
}

// Removes U entry slot s from row i's chain (array 69, lowest first, linked
// through eta_row), keeping the row's highest slot (array 53) right.
void unlink_u_entry(int32_t i, int32_t s) {
  OneBased<int32_t> heads = int_array(ARR_U_CHAINS);
  OneBased<int32_t> highest = int_array(ARR_U_HIGHEST_SLOT);
  OneBased<int32_t> links = eta_row();
  int32_t previous = 0;
  int32_t k = heads[i] < 0 ? -heads[i] : heads[i];
  while (k != 0 && k != s) {
    previous = k;
    k = links[k];
  }
  if (k == 0) return;
  if (previous == 0)
    heads[i] = links[s];
  else
    links[previous] = links[s];
  if (highest[i] == s) highest[i] = previous;
}

// Appends U entry slot s (row i) at the end of row i's chain.
void append_u_entry(int32_t i, int32_t s) {
  OneBased<int32_t> heads = int_array(ARR_U_CHAINS);
  OneBased<int32_t> highest = int_array(ARR_U_HIGHEST_SLOT);
  OneBased<int32_t> links = eta_row();
  links[s] = 0;
  if (highest[i] == 0)
    heads[i] = s;
  else
    links[highest[i]] = s;
  highest[i] = s;
}

// Takes the U record at position a out of the U chain and its entries out
// of their rows' chains.
void unlink_u_record(int32_t a) {
  OneBased<int32_t> labels = u_row();
  const int32_t previous = a - slot_high_word(a - 1);
  const int32_t count = slot_low_word(a - 1);
  if (a == eta_file.u_last_record) {
    eta_file.u_last_record = previous;
  } else {
    const int32_t next = a + slot_low_word(a);
    set_slot_low_word(previous, next - previous);
    set_slot_high_word(next - 1, next - previous);
  }
  --eta_file.u_column_count;
  OneBased<double> values = eta_value();
  for (int32_t s = a + 1; s <= a + count; ++s) {
    if (values[s] != 0.0) unlink_u_entry(labels[s], s);
  }
  u_active_entries -= count;
}

// Swaps basis positions a and b in everything indexed by position, for the
// renumbering mode of the dual.
void swap_factor_positions(int32_t a, int32_t b) {
  if (a == b) return;
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  const int32_t row_a = rows[a];
  const int32_t row_b = rows[b];
  std::swap(rows[a], rows[b]);
  index[row_a] = b;
  index[row_b] = a;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  std::swap(header[a], header[b]);
  OneBased<double> upper = real_array(ARR_BASIC_UPPER);
  std::swap(upper[a], upper[b]);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  std::swap(values[a], values[b]);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  constexpr int32_t kPositionMarks = RF_INFEAS_ABOVE | RF_INFEAS_BELOW | RF_FREE_BASIC;
  const int32_t mark_a = marks[a] & kPositionMarks;
  const int32_t mark_b = marks[b] & kPositionMarks;
  marks[a] = (marks[a] & ~kPositionMarks) | mark_b;
  marks[b] = (marks[b] & ~kPositionMarks) | mark_a;
  if (algorithm_kind() == kAlgorithmPrimal) return;
  if (nnegdj == 0) {
    OneBased<int32_t> heap = int_array(ARR_INFEAS_HEAP_INDEX);
    OneBased<int32_t> slot = int_array(ARR_INFEAS_HEAP_POS);
    if (heap && slot) {
      std::swap(slot[a], slot[b]);
      if (slot[a] != 0) heap[slot[a]] = a;
      if (slot[b] != 0) heap[slot[b]] = b;
    }
  } else if (OneBased<double> phase1 = real_array(ARR_PHASE1_VALUES)) {
    std::swap(phase1[a], phase1[b]);
  }
}

// Factor index of row i in the renumbering mode, growing the factor by one
// position when the row lies beyond it.
int32_t factor_position_of_row(int32_t i) {
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  const int32_t k = index[i];
  if (k <= factor.factor_dimension) return k;
  const int32_t last = ++factor.factor_dimension;
  swap_factor_positions(k, last);
  if (OneBased<double> weights = real_array(ARR_ROW_WEIGHTS)) weights[last] = 1.0;
  return last;
}

double largest_magnitude_of_listed(OneBased<double> w) {
  OneBased<int32_t> list = work_list();
  double g = 0.0;
  for (int32_t k = 1; k <= factor.work_vector_count; ++k) g = std::max(g, std::fabs(w[list[k]]));
  return g;
}

// Message 148: the new diagonal disagrees with the pivot of the ratio test.
void report_unstable_update(double pivot, double u) {
  ++kernel_stats.unstable_updates;
  if (icv(ic::IFMSG) <= 6) return;
  begin_message(MSG_UPDATE_UNSTABLE);
  insert_message_int(itcnt);
  insert_message_real(pivot);
  insert_message_real(1000.0 * (pivot - u));
  emit_message();
}

// Message 149: the growth of the update passes its limit.
void report_growth(double ratio) {
  ++kernel_stats.growth_failures;
  if (icv(ic::IFMSG) == 0) return;
  begin_message(MSG_UPDATE_GROWTH);
  insert_message_int(itcnt);
  insert_message_real(ratio);
  emit_message();
}

// Writes the row eta held (listed) in the work vector at the bottom of the
// invert part with multiplier 1/u for row r, and links it into the chains.
void write_row_eta(int32_t r, double u) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> rows = eta_row();
  OneBased<double> values = eta_value();
  OneBased<int32_t> owner = eta_next();
  OneBased<int32_t> links = u_row();
  std::vector<int32_t>& tails = current_row_eta_tails();
  const int32_t count = factor.work_vector_count;
  const int32_t top = eta_file.eta_capacity - eta_file.invert_part_size;
  set_slot_low_word(top, count);
  rows[top] = r;
  int32_t s = top - 1;
  for (int32_t k = 1; k <= count; ++k, --s) {
    const int32_t i = list[k];
    rows[s] = i;
    values[s] = w[i];
    owner[s] = r;
    append_to_row_eta_chain(tails, i, s);
  }
  const int32_t pivot = top - 1 - count;
  rows[pivot] = r;
  values[pivot] = 1.0 / u;
  owner[pivot] = 0;
  append_to_row_eta_chain(tails, r, pivot);
  const int32_t bottom = pivot - 1;
  set_slot_high_word(bottom, count);
  // Row etas of row r, newest first, through u_row of their bottom slots.
  OneBased<int32_t> heads = int_array(ARR_ROW_ETA_HEADS);
  links[bottom] = heads[r];
  heads[r] = bottom;
  eta_file.invert_part_size += count + 2;
  ++eta_file.row_eta_count;
}

}  // namespace

const char* update_result_text(int32_t result) {
  switch (result) {
    case UPDATE_DONE: return "done";
    case UPDATE_ETA_FILE_FULL: return "eta file full";
    case UPDATE_REFACTOR: return "refactorisation advised";
    case UPDATE_SINGULAR: return "singular update";
    default: return "unknown";
  }
}

// ---------------------------------------------------------------------------

void set_basic_costs() {
  OneBased<double> w = work_vector();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const bool use_costs = ninf == 0 || bigm_mode == 1;
  const bool quadratic = nqelem > 0 && ninf == 0;
  const double bigm = dcv(dc::BIGM);
  const double s = sense_factor;
  const int32_t dimension = factor.factor_dimension;
  for (int32_t i = 1; i <= dimension; ++i) {
    const int32_t b = header[i];
    double v = use_costs ? -s * cost[b] : 0.0;
    if ((marks[i] & RF_INFEAS_BELOW) != 0)
      v += bigm;
    else if ((marks[i] & RF_INFEAS_ABOVE) != 0)
      v -= bigm;
    if (quadratic && (static_cast<uint32_t>(status[b]) & PS_QUADRATIC) != 0) {
      OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
      OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
      OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
      OneBased<double> q = real_array(ARR_QUAD_VALUES);
      OneBased<double> x = real_array(ARR_X);
      double gradient = 0.0;
      for (int32_t k = upper_start[b]; k < upper_start[b + 1]; ++k) gradient += q[k] * x[index[k]];
      for (int32_t k = lower_start[b]; k < lower_start[b + 1]; ++k) gradient += q[k] * x[index[k]];
      v -= s * gradient;
    }
    w[i] = v;
  }
  for (int32_t i = dimension + 1; i <= nrow; ++i) w[i] = 0.0;
  factor.work_vector_state = WV_CLEAR_ALL;
}

void btran_dense() { btran_product_form(); }

void unpack_column(int32_t j) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  clear_work_vector();
  int32_t count = 0;
  const bool renumbered = factor.factor_permuted != 0 && static_cast<bool>(int_array(ARR_FACTOR_INDEX));
  if (j < store.first_col) {
    const int32_t k = renumbered ? factor_position_of_row(j) : j;
    w[k] = 1.0;
    list[++count] = k;
  } else {
    OneBased<int32_t> start = int_array(ARR_COL_START);
    OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
    OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    for (int32_t e = start[j]; e < start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      const int32_t k = renumbered ? factor_position_of_row(i) : i;
      w[k] = elem_value[e];
      list[++count] = k;
    }
  }
  factor.work_vector_count = count;
  factor.work_vector_state = WV_LISTED;
}

int32_t append_eta_column() {
  const int32_t count = factor.work_vector_count;
  const int32_t a = eta_file.u_file_end;
  if (static_cast<int64_t>(a) + count + eta_file.invert_part_size + 2 >= eta_file.eta_capacity) {
    ++kernel_stats.eta_file_full;
    return 1;
  }
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  for (int32_t k = 1; k <= count; ++k) {
    labels[a + k] = list[k];
    values[a + k] = w[list[k]];
  }
  set_slot_low_word(a - 1, count);
  set_slot_low_word(a, count + 2);
  return 0;
}

// ---------------------------------------------------------------------------

void update_basis_flags() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const int32_t q = entering_column;
  if (candidate_rejected == -1) {
    status[q] |= PS_MARK;
    marks_exist = 1;
    return;
  }
  if (leaving_row > 0) {
    const int32_t p = leaving_variable;
    status[q] = (status[q] & ~(PS_AT_UPPER | PS_NONBASIC_BETWEEN)) | PS_BASIC;
    status[p] &= ~(PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN);
    if (leaving_direction == kLeaveAtUpper) status[p] |= PS_AT_UPPER;
    ++update_count;
    ++itcnt;
    return;
  }
  leaving_variable = q;
  const int32_t s = status[q];
  if ((s & PS_NONBASIC_BETWEEN) != 0) {
    if (leaving_direction != kLeaveInterior) {
      status[q] &= ~(PS_NONBASIC_BETWEEN | PS_AT_UPPER);
      if (entering_sign == 0) status[q] |= PS_AT_UPPER;
    }
  } else if ((s & PS_AT_UPPER) != 0) {
    status[q] &= ~PS_AT_UPPER;
    if (leaving_direction < 0) status[q] |= PS_NONBASIC_BETWEEN;
  } else {
    status[q] |= leaving_direction < 0 ? PS_NONBASIC_BETWEEN : PS_AT_UPPER;
  }
  if (ninf > 0) ++update_count;
  ++itcnt;
}

// ---------------------------------------------------------------------------

int32_t update_factor() {
  // Product-form etas cannot be followed by row etas: the factor they belong
  // to is rebuilt first.
  if (eta_file.product_form_count > 0) {
    ++kernel_stats.mixed_forms_refused;
    problem_flags &= ~PF_FACTOR_VALID;
    return UPDATE_ETA_FILE_FULL;
  }
  const int32_t r = leaving_row;
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  OneBased<int32_t> labels = u_row();
  OneBased<double> values = eta_value();
  OneBased<int32_t> owner = eta_next();
  OneBased<int32_t> u_heads = int_array(ARR_U_CHAINS);
  OneBased<int32_t> highest = int_array(ARR_U_HIGHEST_SLOT);

  // 1. A clear, listed work vector receives row r of U.
  clear_work_vector();
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_LISTED;

  // 2. Column r of U leaves; its row moves into the work vector.
  if (u_heads[r] < 0) unlink_u_record(-u_heads[r]);
  int32_t moved = 0;
  {
    int32_t s = u_heads[r] < 0 ? eta_row()[-u_heads[r]] : u_heads[r];
    while (s != 0) {
      const int32_t h = owner[s];
      if (values[s] != 0.0) {
        w[h] = values[s];
        list[++moved] = h;
        values[s] = 0.0;
      }
      s = eta_row()[s];
    }
  }
  factor.work_vector_count = moved;
  u_active_entries -= moved;
  // The old chain of row r is dropped: its slots now hold zeros only.
  u_heads[r] = 0;
  highest[r] = 0;

  // 3. The row eta: row r of U expressed in the other rows of U.
  if (moved > 0) {
    sparse_solve_heap_ordered();
    if (factor.work_vector_state == WV_CLEAR_ALL) sparsify_work_vector(dcv(dc::ZTETA));
  }
  const int32_t eta_count = factor.work_vector_count;

  // 4. The spike becomes U's column for row r.
  const int32_t a = eta_file.u_file_end;
  const int32_t spike_count = slot_low_word(a - 1);
  double u = 0.0;
  double largest_spike = 0.0;
  const double zteta = dcv(dc::ZTETA);
  for (int32_t s = a + 1; s <= a + spike_count; ++s) {
    if (labels[s] == r) {
      u += values[s];
      values[s] = 0.0;
    } else if (std::fabs(values[s]) < zteta) {
      // As in the invert, U keeps no entry below ZTETA.
      values[s] = 0.0;
    } else {
      largest_spike = std::max(largest_spike, std::fabs(values[s]));
    }
  }
  const double largest_eta = largest_magnitude_of_listed(w);

  // 5. The new diagonal.
  for (int32_t s = a + 1; s <= a + spike_count; ++s) {
    if (values[s] != 0.0) u -= w[labels[s]] * values[s];
  }

  // 6. Stability of the update.
  int32_t result = UPDATE_DONE;
  const double pivot = pivot_value;
  const double ztolft = dcv(dc::ZTOLFT);
  const int32_t invmin = icv(ic::INVMIN);
  const double diff = std::fabs(pivot - u);
  const bool close = diff < 100.0 * std::fabs(pivot) * ztolft ||
                     (update_count < invmin && std::fabs(u) > 0.001 && diff < 100.0 * ztolft);
  if (!close) {
    report_unstable_update(pivot, u);
    result = UPDATE_REFACTOR;
    if (update_count >= invmin) {
      problem_flags &= ~PF_FACTOR_VALID;
      return result;
    }
    const double growth = largest_eta * largest_spike;
    const double limit = dcv(dc::ZTOLMX) * std::fabs(u);
    if (!(std::fabs(u) > zteta && growth < limit)) {
      report_growth(std::fabs(u) <= zteta ? kInfinity : growth / limit);
      if (std::fabs(u) < zteta) {
        ++kernel_stats.singular_updates;
        problem_flags &= ~PF_FACTOR_VALID;
        return UPDATE_SINGULAR;
      }
    }
  }

  // Room for the spike record and the row eta, tested before either is
  // committed so that a full file never leaves half an update behind.
  const bool needs_row_eta = !(eta_count == 0 && u == 1.0);
  const int64_t end_after = static_cast<int64_t>(a) + spike_count + 2;
  if (end_after + eta_file.invert_part_size + (needs_row_eta ? eta_count + 2 : 0) + 1 >= eta_file.eta_capacity) {
    ++kernel_stats.eta_file_full;
    problem_flags &= ~PF_FACTOR_VALID;
    return UPDATE_ETA_FILE_FULL;
  }
  row_eta_entries += eta_count;
  u_active_entries += spike_count;

  // 7. Accept: link the spike record at the end of the U chain.
  labels[a] = r;
  owner[a] = 0;
  const int32_t last = eta_file.u_last_record;
  set_slot_low_word(last, a - last);
  set_slot_high_word(a - 1, a - last);
  eta_file.u_last_record = a;
  ++eta_file.u_column_count;
  eta_file.u_file_end = static_cast<int32_t>(end_after);
  // Row r's chain starts at the record's own head.
  u_heads[r] = -a;
  highest[r] = a;
  eta_row()[a] = 0;
  for (int32_t s = a + 1; s <= a + spike_count; ++s) {
    owner[s] = r;
    if (values[s] == 0.0) continue;
    append_u_entry(labels[s], s);
  }
  if (needs_row_eta) write_row_eta(r, u);
  ++kernel_stats.updates;
  return result;
}

void drop_tiny_entries(double tolerance) {
  OneBased<double> w = work_vector();
  OneBased<int32_t> list = work_list();
  const uint32_t limit = magnitude_high_word(tolerance);
  int32_t count = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    const uint32_t high = magnitude_high_word(w[i]);
    if (high == 0) {
      w[i] = 0.0;
      continue;
    }
    if (high < limit) {
      w[i] = 0.0;
      continue;
    }
    w[i] = -w[i];
    list[++count] = i;
  }
  factor.work_vector_count = count;
  factor.work_vector_state = WV_LISTED;
}

int32_t ratio_step() {
  const int32_t q = entering_column;
  entering_upper = kInfinity;
  if (q > 0) {
    const int32_t s = int_array(ARR_POS_STATUS)[q];
    if ((s & PS_FINITE_UPPER) != 0 && (s & PS_FREE) == 0) entering_upper = real_array(ARR_UPPER)[q];
  }
  return primal_ratio_test();
}

}  // namespace kl
