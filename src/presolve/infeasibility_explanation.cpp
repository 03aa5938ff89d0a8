// The chain of rows and bounds behind an infeasibility found by a reduction
// round, walked back from the conflict through the rows that implied each
// working bound.
#include <cmath>
#include <cstring>
#include <vector>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/presolve_bits.h"
#include "presolve/reduce_pass.h"
#include "presolve/round_work.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// Every entry of the matrix by row, removed columns included: the chain
// may pass through columns the round has already fixed.
struct FullRows {
  std::vector<int32_t> start;
  std::vector<int32_t> column;
  std::vector<double> value;
};

FullRows full_rows() {
  const OneBased<int32_t> col_start = int_array(ARR_COL_START);
  const OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  const OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  FullRows rows;
  rows.start.assign(static_cast<size_t>(nrow) + 2, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j)
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e)
      if (elem_row[e] >= 1 && elem_row[e] <= nrow) ++rows.start[elem_row[e] + 1];
  for (int32_t i = 1; i <= nrow + 1; ++i) rows.start[i] += rows.start[i - 1];
  rows.column.assign(static_cast<size_t>(rows.start[nrow + 1]), 0);
  rows.value.assign(static_cast<size_t>(rows.start[nrow + 1]), 0.0);
  std::vector<int32_t> next(rows.start.begin(), rows.start.end());
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    for (int32_t e = col_start[j]; e < col_start[j + 1]; ++e) {
      const int32_t i = elem_row[e];
      if (i < 1 || i > nrow) continue;
      rows.column[next[i]] = j;
      rows.value[next[i]] = elem_value[e];
      ++next[i];
    }
  }
  return rows;
}

// A column's own bound in the user's scale.
double user_scale_bound(int32_t j, double bound) {
  int32_t byte = static_cast<int32_t>(static_cast<uint32_t>(int_array(ARR_POS_STATUS)[j]) >> 24);
  if (byte == 0) byte = kScaleBias;
  return std::ldexp(bound, byte - kScaleBias);
}

void insert_name(int32_t position) {
  if (position > 0) insert_message_name8(position_name(position));
  else insert_message_chars("(own)   ", 8);
}

void emit_named_message(int32_t message, int32_t position) {
  begin_message(message);
  insert_name(position);
  emit_message();
}

void start_column_line(int32_t j) {
  begin_message(MSG_PRESOLVE_EXPLAIN_COLUMN);
  insert_name(j);
}

// Implied upper (upper true) or lower bound of j and the row behind it.
void emit_implied_bound(int32_t message, int32_t j, bool upper) {
  const RoundWork& w = round_work;
  begin_message(message);
  insert_message_real(upper ? real_array(ARR_WORK_UPPER)[j] : real_array(ARR_WORK_LOWER)[j]);
  insert_name(upper ? w.trace_upper[j] : w.trace_lower[j]);
  emit_message();
}

// Whether row r's own data, with the other columns at the working bounds
// that push the activity the way the direction asks, imply c's bound.
bool row_implied_bound_check(bool same, int32_t c, int32_t r, const FullRows& rows) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> search_upper = real_array(ARR_WORK_UPPER);
  const OneBased<double> search_lower = real_array(ARR_WORK_LOWER);
  double sum = 0.0;
  double a_rc = 0.0;
  for (int32_t k = rows.start[r]; k < rows.start[r + 1]; ++k) {
    const int32_t j = rows.column[k];
    const double a = rows.value[k];
    if (j == c) {
      a_rc = a;
      continue;
    }
    const bool use_lower = (a > 0.0) == same;
    sum += a * (use_lower ? search_lower[j] : search_upper[j]);
  }
  if (a_rc == 0.0) return false;
  double b = work_vector()[r];
  if ((status[r] & PS_BOTH_FINITE) == PS_BOTH_FINITE && !same) b -= real_array(ARR_UPPER)[r];
  const double q = (b - sum) / a_rc;
  return same ? q < search_lower[c] : q > search_upper[c];
}

}  // namespace

void explain_bound_infeasibility(int32_t position, int32_t side) {
  RoundWork& w = round_work;
  if (!w.tracing) return;
  const OneBased<double> lower = real_array(ARR_LOWER);
  const OneBased<double> upper = real_array(ARR_UPPER);
  const FullRows rows = full_rows();
  const size_t positions = static_cast<size_t>(nseq) + 1;
  std::vector<char> upper_queued(positions, 0);
  std::vector<char> lower_queued(positions, 0);
  std::vector<int32_t>& queue = w.queue;
  queue.clear();
  const int32_t p = position;
  const bool column_start = p >= store.first_col;
  if (column_start) {
    emit_named_message(MSG_PRESOLVE_EXPLAIN_COLUMN_CONFLICT, p);
    // The listing that follows is of the column's own two bounds.
    emit_named_message(MSG_PRESOLVE_EXPLAIN_LISTING, p);
    start_column_line(p);
    emit_implied_bound(MSG_PRESOLVE_EXPLAIN_IMPLIED_UPPER, p, true);
    start_column_line(p);
    emit_implied_bound(MSG_PRESOLVE_EXPLAIN_IMPLIED_LOWER, p, false);
    queue.push_back(p);
    upper_queued[p] = 1;
  } else {
    begin_message(MSG_PRESOLVE_EXPLAIN_ROW);
    insert_message_chars(side == -1 ? "upper" : "lower", 5);
    insert_name(p);
    emit_message();
    queue.push_back(0);
    queue.push_back(p);
  }
  bool lower_pass = false;
  size_t next = 0;
  const double saved_tolerance = message_line.zero_tolerance;
  while (true) {
    if (next >= queue.size()) {
      if (!column_start || lower_pass) break;
      // The column's lower bound is explained after its upper bound.
      lower_pass = true;
      if (!lower_queued[p]) {
        lower_queued[p] = 1;
        queue.push_back(-p);
      }
      if (next >= queue.size()) break;
    }
    const int32_t q = queue[next];
    const int32_t c = q < 0 ? -q : q;
    int32_t r = 0;
    bool same = false;
    double a = 0.0;
    if (q == 0) {
      r = queue[next + 1];
      same = side == -1;
      next += 2;
    } else {
      r = q > 0 ? w.trace_upper[c] : w.trace_lower[c];
      next += 1;
      if (r == 0) continue;
      for (int32_t k = rows.start[r]; k < rows.start[r + 1]; ++k)
        if (rows.column[k] == c) a = rows.value[k];
      same = (a > 0.0) == (q > 0);
    }
    if (c != 0 && a != 0.0) {
      start_column_line(c);
      if (row_implied_bound_check(same, c, r, rows)) {
        const bool lower_side = (a >= 0.0 && !same) || (a <= 0.0 && same);
        emit_implied_bound(lower_side ? MSG_PRESOLVE_EXPLAIN_ROW_LOWER : MSG_PRESOLVE_EXPLAIN_ROW_UPPER, c,
                           !lower_side);
      } else {
        const bool lower_side = (a > 0.0 && !same) || (a < 0.0 && same);
        emit_implied_bound(lower_side ? MSG_PRESOLVE_EXPLAIN_IMPLIED_LOWER : MSG_PRESOLVE_EXPLAIN_IMPLIED_UPPER, c,
                           !lower_side);
      }
    }
    if (c == 0 || rows.start[r + 1] - rows.start[r] > 1) {
      begin_message(MSG_PRESOLVE_EXPLAIN_LISTING);
      insert_name(r);
      emit_message();
    }
    for (int32_t e = rows.start[r]; e < rows.start[r + 1]; ++e) {
      const int32_t k = rows.column[e];
      if (k == c) continue;
      const double ark = rows.value[e];
      const bool lower_side = (ark <= 0.0 && !same) || (ark > 0.0 && same);
      const int32_t t = lower_side ? w.trace_lower[k] : w.trace_upper[k];
      start_column_line(k);
      if (t == 0) {
        begin_message(MSG_PRESOLVE_EXPLAIN_OWN_BOUND);
        insert_message_chars(lower_side ? "lower" : "upper", 5);
        insert_message_real(user_scale_bound(k, lower_side ? lower[k] : upper[k]));
        emit_message();
      } else {
        emit_implied_bound(lower_side ? MSG_PRESOLVE_EXPLAIN_IMPLIED_LOWER : MSG_PRESOLVE_EXPLAIN_IMPLIED_UPPER, k,
                           !lower_side);
      }
      if (upper[k] < lower[k]) {
        set_message_zero_tolerance(dcv(dc::ZTOLDA));
        begin_message(MSG_PRESOLVE_EXPLAIN_CROSSED);
        insert_message_real(lower[k] - upper[k]);
        insert_name(k);
        emit_message();
        set_message_zero_tolerance(saved_tolerance);
      }
      if (t == 0) continue;
      std::vector<char>& queued = lower_side ? lower_queued : upper_queued;
      if (queued[k]) continue;
      queued[k] = 1;
      queue.push_back(lower_side ? -k : k);
    }
  }
}

}  // namespace kl
