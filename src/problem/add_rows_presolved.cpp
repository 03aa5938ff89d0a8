#include "problem/add_rows_presolved.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <utility>
#include <vector>

#include "presolve/postsolve_undo.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/sink.h"

namespace kl {

namespace {

// The problem arrays that exist in both versions of a presolved problem.
constexpr int32_t kSwappedArrays[] = {ARR_ROW_TYPE, ARR_POS_STATUS, ARR_COL_START, ARR_ELEM_ROW, ARR_ELEM_VALUE,
                                      ARR_OBJECTIVE, ARR_RHS, ARR_LOWER, ARR_UPPER};

// Where a position stands in the row being translated.
enum class RowState : int8_t { kAbsent, kInRow, kRemoved };

// How a removed position enters the row again when an older record's
// stored row brings it back.
enum class Removal : int8_t {
  kFixed,           // at a known value: its term moves to the right-hand side
  kSubstituted,     // replaced through the stored row of its record
  kUntranslatable,  // a row that needs it is not added
};

// The two top entries of one record on the stacks.
struct RecordAt {
  int32_t type = 0;
  int32_t int_top = 0;
  int32_t real_top = 0;
};

// One row restated in presolved terms.
struct TranslatedRow {
  int32_t code = ADDPRE_ADDED;
  char letter = 'N';
  double range = 0.0;  // as the caller gave it
  int32_t exponent = kNeutralScaleExponent;
  double rhs = 0.0;  // scaled
  std::vector<std::pair<int32_t, double>> entries;  // presolved position, scaled value
  // The row in original terms, for the original problem.
  double original_rhs = 0.0;  // scaled
  std::vector<std::pair<int32_t, double>> original_entries;  // original position, scaled value
  // 0, or the error (413, 415) that leaves the original problem no room.
  int32_t original_room_error = 0;
};

int32_t stack_int(int32_t k) { return int_array(ARR_PRESOLVE_INTS)[k]; }
double stack_real(int32_t k) { return real_array(ARR_PRESOLVE_REALS)[k]; }

// Entries a record takes on each stack, read from its own count fields.
// False when the record is malformed or of an unknown type.
class RecordMeasure {
 public:
  RecordMeasure(int32_t int_top, int32_t real_top) : int_top_(int_top), real_top_(real_top) {}

  bool measure(int32_t& ints, int32_t& reals) {
    const int32_t t = int_top_;
    ok_ = true;
    switch (at(t)) {
      case REC_COLUMN_SINGLETON: {
        const int32_t n = at(t - 2) < 0 ? count(t - 3) : -1;
        ints = 3 + n + 1;
        reals = 4 + std::max(n, 0);
        break;
      }
      case REC_FORCING_ROW: {
        const bool lists = at(t - 2) < 0;
        const int32_t k = count(t - 3);
        int32_t i = t - 4;
        reals = 0;
        for (int32_t e = 0; e < k && ok_; ++e) {
          const int32_t m = lists ? count(i - 1) : -1;
          i -= 1 + (m + 1);
          reals += 2 + (m + 1);
        }
        ints = t - i;
        break;
      }
      case REC_ROW_SINGLETON: {
        const int32_t m = at(t - 1) < 0 ? count(t - 4) : -1;
        ints = 4 + m + 1;
        reals = 2 + m + 1;
        break;
      }
      case REC_COLUMN_AT_BOUND:
        ints = 3;
        reals = 1;
        break;
      case REC_DOMINATED_COLUMN: {
        const bool lists = at(t - 1) <= 0;
        const int32_t k = count(t - 3);
        int32_t i = t - 4;
        reals = 1;
        for (int32_t e = 0; e < k && ok_; ++e) {
          const int32_t n = lists ? count(i - 1) : -1;
          i -= 1 + (n + 1);
          reals += 2 + (n + 1);
        }
        ints = t - i;
        break;
      }
      case REC_COLUMN_ELIMINATION: {
        const int32_t nq = count(t - 1);
        const int32_t nr = count(t - 2);
        const int32_t np = at(t - 5) < 0 ? count(t - 6 - nq - nr) : -1;
        ints = 6 + nq + nr + np + 1;
        reals = 3 + nq + nr + np + 1;
        break;
      }
      case REC_FIXED_COLUMN:
      case REC_DUPLICATE_COLUMN_BASIC: {
        const int32_t fixed = at(t) == REC_FIXED_COLUMN ? 1 : 0;
        const int32_t header = fixed != 0 ? 2 : 3;
        const int32_t m = at(t - 1) < 0 ? count(t - header) : -1;
        ints = header + m + 1;
        reals = (fixed != 0 ? 1 : 2) + m + 1;
        break;
      }
      case REC_DUPLICATE_ROW:
        ints = 6;
        reals = 1;
        break;
      case REC_DUPLICATE_COLUMN:
        ints = 5;
        reals = at(t - 2) == 0 && at(t - 1) == 0 ? 6 : 1;
        break;
      case REC_BOUND_CHANGE:
        ints = 2;
        reals = 1;
        break;
      case REC_ENTITY_SPLIT:
        ints = 5;
        reals = 3;
        break;
      case REC_ROW_DIVISION:
        ints = 2;
        reals = 1;
        break;
      default:
        return false;
    }
    return ok_ && ints <= int_top_ && reals <= real_top_;
  }

 private:
  // The int at k, or 0 (and the record malformed) outside the stack.
  int32_t at(int32_t k) {
    if (k >= 1 && k <= int_top_) return stack_int(k);
    ok_ = false;
    return 0;
  }
  // A count field: never negative, never more than the stack holds.
  int32_t count(int32_t k) {
    const int32_t n = at(k);
    if (n >= 0 && n <= int_top_) return n;
    ok_ = false;
    return 0;
  }

  int32_t int_top_;
  int32_t real_top_;
  bool ok_ = true;
};

// The per-position working state of one translation, reused row by row.
class RowTranslator {
 public:
  RowTranslator(int32_t positions, std::vector<int32_t> presolved_column)
      : presolved_column_(std::move(presolved_column)),
        state_(static_cast<size_t>(positions) + 1),
        removal_(static_cast<size_t>(positions) + 1),
        coefficient_(static_cast<size_t>(positions) + 1),
        value_(static_cast<size_t>(positions) + 1),
        stage_(static_cast<size_t>(positions) + 1),
        record_(static_cast<size_t>(positions) + 1) {}

  // Restates the prepared row (original positions, scaled values) in
  // presolved terms; the original problem is current.
  void translate(const std::vector<std::pair<int32_t, double>>& prepared, TranslatedRow& row) {
    start_row(row.rhs);
    for (const auto& [k, v] : prepared) add(k, v);
    walk_records();
    row.rhs = rhs_;
    row.code = code_;
    if (code_ == ADDPRE_ADDED) collect(row);
  }

 private:
  void start_row(double rhs) {
    std::fill(state_.begin(), state_.end(), RowState::kAbsent);
    listed_.clear();
    rhs_ = rhs;
    code_ = ADDPRE_ADDED;
    tolerance_ = dcv(dc::ZTOLDA);
    // Columns fixed before presolve never reach it: their terms belong to
    // the right-hand side at their value.
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> lower = real_array(ARR_LOWER);
    for (int32_t k = store.first_col; k <= nseq; ++k)
      if ((static_cast<uint32_t>(status[k]) & PS_FIXED) != 0) remove_fixed(k, lower[k], 0);
  }

  bool in_columns(int32_t k) const { return k >= store.first_col && k <= nseq; }

  // Adds delta x_k to the row.
  void add(int32_t k, double delta) {
    if (code_ != ADDPRE_ADDED) return;
    if (!in_columns(k)) {
      fault("a record names a position outside the original columns", k);
      return;
    }
    const size_t i = static_cast<size_t>(k);
    switch (state_[i]) {
      case RowState::kAbsent:
        state_[i] = RowState::kInRow;
        coefficient_[i] = delta;
        listed_.push_back(k);
        break;
      case RowState::kInRow:
        coefficient_[i] += delta;
        break;
      case RowState::kRemoved:
        switch (removal_[i]) {
          case Removal::kFixed:
            rhs_ -= delta * value_[i];
            break;
          case Removal::kSubstituted:
            substitute(record_[i], stage_[i], delta);
            break;
          case Removal::kUntranslatable:
            if (std::fabs(delta) > tolerance_) code_ = ADDPRE_UNTRANSLATABLE;
            break;
        }
        break;
    }
  }

  // Takes k out of the row: false when it was out already (the newer
  // removal, met first, stands); a is its coefficient (0 when absent).
  bool take_out(int32_t k, Removal how, int32_t stage, double& a) {
    a = 0.0;
    if (!in_columns(k)) {
      fault("a record names a position outside the original columns", k);
      return false;
    }
    const size_t i = static_cast<size_t>(k);
    if (state_[i] == RowState::kRemoved) return false;
    if (state_[i] == RowState::kInRow) a = coefficient_[i];
    state_[i] = RowState::kRemoved;
    removal_[i] = how;
    stage_[i] = stage;
    coefficient_[i] = 0.0;
    return true;
  }

  void remove_fixed(int32_t k, double value, int32_t stage) {
    double a = 0.0;
    if (!take_out(k, Removal::kFixed, stage, a)) return;
    value_[static_cast<size_t>(k)] = value;
    rhs_ -= a * value;
  }

  void remove_untranslatable(int32_t k, int32_t stage) {
    double a = 0.0;
    if (take_out(k, Removal::kUntranslatable, stage, a) && std::fabs(a) > tolerance_)
      code_ = ADDPRE_UNTRANSLATABLE;
  }

  void remove_substituted(int32_t k, const RecordAt& at, int32_t stage) {
    double a = 0.0;
    if (!take_out(k, Removal::kSubstituted, stage, a)) return;
    record_[static_cast<size_t>(k)] = at;
    if (std::fabs(a) > tolerance_) substitute(at, stage, a);
  }

  // delta x_q with q replaced through the stored row of its record:
  // x_q = (b_r - sum over the row's other columns of a_rk x_k) / a_rq.
  void substitute(const RecordAt& at, int32_t stage, double delta) {
    const int32_t t = at.int_top;
    const int32_t r = at.real_top;
    if (at.type == REC_COLUMN_ELIMINATION) {
      const int32_t nq = stack_int(t - 1);
      const int32_t nr = stack_int(t - 2);
      const double f = delta / stack_real(r);
      rhs_ -= f * stack_real(r - 2);
      const int32_t ints = t - 6 - nq - nr;
      const int32_t reals = r - 3 - nq - nr;
      for (int32_t m = 1; m <= nr && code_ == ADDPRE_ADDED; ++m) add(stack_int(ints + m), -f * stack_real(reals + m));
      return;
    }
    // A column singleton of an equality row: x_c = (rhs_r - activity) / a_rc.
    const int32_t c = stack_int(t - 2);
    const double f = delta / stack_real(r - 2);
    rhs_ -= f * stack_real(r - 3);
    if (c < 0) {
      const int32_t n = stack_int(t - 3);
      const int32_t ints = t - 4 - n;
      const int32_t reals = r - 4 - n;
      for (int32_t m = 1; m <= n && code_ == ADDPRE_ADDED; ++m) add(stack_int(ints + m), -f * stack_real(reals + m));
      return;
    }
    // Without a stored list the row is the original one. Postsolve counts
    // the columns it has not yet put back (those removed by older records,
    // and those fixed before presolve) as zero, so they are left out here.
    const int32_t row = std::abs(stack_int(t - 1));
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
    for (int32_t k = store.first_col; k <= nseq && code_ == ADDPRE_ADDED; ++k) {
      if (k == c || (static_cast<uint32_t>(status[k]) & PS_FIXED) != 0) continue;
      const int32_t e = find_in_column(k, row);
      if (e == 0) continue;
      const size_t i = static_cast<size_t>(k);
      const bool restored_before = state_[i] == RowState::kRemoved && stage_[i] < stage;
      const bool live = state_[i] != RowState::kRemoved && presolved_column_[i] != 0;
      if (restored_before || live) add(k, -f * elem_value[e]);
    }
  }

  // The int top of the oldest column-singleton record of row r: the slack
  // the row took first. Found once for the call (the stack does not change
  // while rows are added).
  int32_t first_slack_record(int32_t r) {
    if (!first_slacks_found_) {
      first_slacks_found_ = true;
      first_slack_.assign(static_cast<size_t>(std::max(nrow, 0)) + 1, 0);
      int32_t int_top = presolve_int_top;
      int32_t real_top = presolve_real_top;
      while (int_top > 0) {
        int32_t ints = 0;
        int32_t reals = 0;
        RecordMeasure measure(int_top, real_top);
        if (!measure.measure(ints, reals)) break;
        if (stack_int(int_top) == REC_COLUMN_SINGLETON) {
          const int32_t row = std::abs(stack_int(int_top - 1));
          if (row >= 1 && row <= nrow) first_slack_[static_cast<size_t>(row)] = int_top;
        }
        int_top -= ints;
        real_top -= reals;
      }
    }
    return first_slack_[static_cast<size_t>(r)];
  }

  // Applies the records from the newest down while the row stays
  // translatable.
  void walk_records() {
    int32_t int_top = presolve_int_top;
    int32_t real_top = presolve_real_top;
    int32_t stage = 0;
    int32_t previous = 0;
    while (int_top > 0 && code_ == ADDPRE_ADDED) {
      int32_t ints = 0;
      int32_t reals = 0;
      RecordMeasure measure(int_top, real_top);
      const int32_t type = stack_int(int_top);
      if (!measure.measure(ints, reals)) {
        char line[128];
        std::snprintf(line, sizeof line, " fault number in postsolve stack npres=%d oitask=%d itask=%d", int_top,
                      previous, type);
        write_message_line(0, line);
        code_ = ADDPRE_UNTRANSLATABLE;
        return;
      }
      ++stage;
      apply(RecordAt{type, int_top, real_top}, stage);
      previous = type;
      int_top -= ints;
      real_top -= reals;
    }
  }

  void apply(const RecordAt& at, int32_t stage) {
    const int32_t t = at.int_top;
    const int32_t r = at.real_top;
    switch (at.type) {
      case REC_COLUMN_SINGLETON: {
        // The column follows from its row only while the row is still the
        // equality it was loaded as: the first slack it takes turns it into
        // a range, in which a further slack is free to move.
        const int32_t c = std::abs(stack_int(t - 2));
        const int32_t row = std::abs(stack_int(t - 1));
        const bool equality = row >= 1 && row <= nrow && (int_array(ARR_ROW_TYPE)[row] & ROW_TYPE_MASK) == ROW_E &&
                              first_slack_record(row) == t;
        if (equality)
          remove_substituted(c, at, stage);
        else
          remove_untranslatable(c, stage);
        break;
      }
      case REC_FORCING_ROW: {
        const bool lists = stack_int(t - 2) < 0;
        const int32_t k = stack_int(t - 3);
        int32_t i = t - 4;
        int32_t d = r;
        for (int32_t e = 0; e < k && code_ == ADDPRE_ADDED; ++e) {
          remove_fixed(stack_int(i), stack_real(d - 1), stage);
          const int32_t m = lists ? stack_int(i - 1) : -1;
          i -= 1 + (m + 1);
          d -= 2 + (m + 1);
        }
        break;
      }
      case REC_COLUMN_AT_BOUND:
        remove_untranslatable(stack_int(t - 2), stage);
        break;
      case REC_DOMINATED_COLUMN:
        remove_untranslatable(stack_int(t - 2), stage);
        break;
      case REC_COLUMN_ELIMINATION:
        remove_substituted(stack_int(t - 4), at, stage);
        break;
      case REC_FIXED_COLUMN:
      case REC_DUPLICATE_COLUMN_BASIC:
        remove_fixed(std::abs(stack_int(t - 1)), stack_real(r), stage);
        break;
      case REC_DUPLICATE_COLUMN: {
        const bool merged = stack_int(t - 2) == 0 && stack_int(t - 1) == 0;
        // A merged pair lives on as one column standing for a sum.
        if (merged) remove_untranslatable(stack_int(t - 4), stage);
        remove_untranslatable(stack_int(t - 3), stage);
        break;
      }
      case REC_BOUND_CHANGE: {
        // Only a column that left the problem with its bound change is fixed
        // by it; one that stayed keeps its own value.
        const int32_t j = stack_int(t - 1);
        if (in_columns(j) && presolved_column_[static_cast<size_t>(j)] == 0 &&
            state_[static_cast<size_t>(j)] != RowState::kRemoved)
          remove_fixed(j, stack_real(r), stage);
        break;
      }
      case REC_ENTITY_SPLIT:
        remove_untranslatable(stack_int(t - 4), stage);
        break;
      case REC_ROW_SINGLETON: {
        // The row is a bound of its column, which stays; or, when the
        // bound met the column's other one, the column left there, at the
        // row's limit over its coefficient.
        const int32_t j = stack_int(t - 2);
        if (in_columns(j) && presolved_column_[static_cast<size_t>(j)] == 0 &&
            state_[static_cast<size_t>(j)] != RowState::kRemoved)
          remove_fixed(j, singleton_row_bound(j, std::abs(stack_int(t - 1)) == 1, stack_real(r) / stack_real(r - 1)),
                       stage);
        break;
      }
      default:  // duplicate rows remove no column
        break;
    }
  }

  // The entries left, in presolved positions; code 1 when one of them has
  // no presolved column, 5 when one is tiny next to the largest.
  void collect(TranslatedRow& row) {
    row.entries.clear();
    for (int32_t k : listed_) {
      const size_t i = static_cast<size_t>(k);
      if (state_[i] != RowState::kInRow || std::fabs(coefficient_[i]) <= tolerance_) continue;
      const int32_t p = presolved_column_[i];
      if (p == 0) {
        fault("a used column has no presolved column", k);
        row.code = code_;
        return;
      }
      row.entries.emplace_back(p, coefficient_[i]);
    }
    std::sort(row.entries.begin(), row.entries.end());
    double largest = 0.0;
    for (const auto& entry : row.entries) largest = std::max(largest, std::fabs(entry.second));
    const double zero = dcv(dc::ZTOLZE);
    const double threshold = largest <= kTinyScaleLimit ? kTinyScaleLimit * zero : largest * zero;
    for (const auto& entry : row.entries)
      if (std::fabs(entry.second) < threshold) row.code = ADDPRE_TINY_ENTRY;
  }

  void fault(const char* what, int32_t position) {
    char line[160];
    std::snprintf(line, sizeof line, " fault in a row added to the presolved problem: %s (position %d)", what,
                  position);
    write_message_line(0, line);
    code_ = ADDPRE_UNTRANSLATABLE;
  }

  // Entries up to this size are measured against 10 x ZTOLZE, larger
  // ones relative to the largest.
  static constexpr double kTinyScaleLimit = 10.0;

  std::vector<int32_t> presolved_column_;  // original position -> presolved position, 0 none
  std::vector<RowState> state_;
  std::vector<Removal> removal_;
  std::vector<double> coefficient_;
  std::vector<double> value_;
  std::vector<int32_t> stage_;
  std::vector<RecordAt> record_;
  std::vector<int32_t> listed_;
  std::vector<int32_t> first_slack_;  // by original row, see first_slack_record
  bool first_slacks_found_ = false;
  double rhs_ = 0.0;
  int32_t code_ = ADDPRE_ADDED;
  double tolerance_ = 0.0;
};

// Keeps the original problem current for as long as it lives.
class OriginalProblemInPlace {
 public:
  OriginalProblemInPlace() { swap_original_arrays(1, kept_); }
  ~OriginalProblemInPlace() { swap_original_arrays(0, kept_); }
  OriginalProblemInPlace(const OriginalProblemInPlace&) = delete;
  OriginalProblemInPlace& operator=(const OriginalProblemInPlace&) = delete;

 private:
  PresolvedWords kept_;
};

// Scales row k of the call in original terms (the original problem is
// current): the exponent by the mean rule of addrow, the right-hand side
// times the row factor, entries below ZTOLDA dropped and the others times
// the column and row factors.
void prepare_original_row(const AddedRows& call, int32_t k, const EntryRange& range,
                          std::vector<std::pair<int32_t, double>>& prepared, TranslatedRow& row) {
  row.letter = call.types[k];
  row.range = row.letter == 'R' && call.ranges != nullptr ? call.ranges[k] : 0.0;
  row.exponent = added_row_exponent(call, range);
  const double f = scale_power(static_cast<uint32_t>(row.exponent));
  row.rhs = call.rhs[k] * f;
  row.original_rhs = row.rhs;
  prepared.clear();
  const double tolerance = dcv(dc::ZTOLDA);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int64_t e = range.begin; e < range.end; ++e) {
    if (std::fabs(call.values[e]) < tolerance) continue;
    const int32_t q = added_row_column(call.columns[e]);
    prepared.emplace_back(q, call.values[e] * scale_power(static_cast<uint32_t>(scale_exponent(status[q]))) * f);
  }
}

// The right-hand side (and for an R row the range) of a row whose entries
// all went, after the opening words given.
void print_empty_row(const char* opening, double rhs, char letter, double range) {
  char line[128];
  std::snprintf(line, sizeof line, " %s rhs=%e ", opening, rhs);
  write_message_line(0, line);
  if (letter != 'R') return;
  std::snprintf(line, sizeof line, " range=%e", range);
  write_message_line(0, line);
}

// Code 2 or 4 for a row whose entries all went: does 0 satisfy it?
int32_t judge_empty_row(const TranslatedRow& row) {
  const double t = dcv(dc::ZTOLZE);
  const double b = row.rhs;
  const double range = std::fabs(row.range) * scale_power(static_cast<uint32_t>(row.exponent));
  print_empty_row("row", b, row.letter, range);
  bool infeasible = false;
  switch (row.letter) {
    case 'E':
      infeasible = std::fabs(b) > t;
      break;
    case 'L':
      infeasible = b < -t;
      break;
    case 'G':
      infeasible = b > t;
      break;
    case 'R':
      infeasible = b < -t || b > t + range;
      break;
    default:
      break;
  }
  if (!infeasible) return ADDPRE_EMPTY;
  print_empty_row("row is infeasible", b, row.letter, range);
  return ADDPRE_EMPTY_VIOLATED;
}

// Appends one translated row to the presolved problem (current) in the
// room it has (no growth), mapped to the original row that will stand for
// it. False after message 413 or 415. The entries come in the original
// problem's scale; presolve scaled its columns again when it compacted the
// problem, so each takes its presolved column's factor.
bool append_translated_row(const TranslatedRow& row, int32_t original_row) {
  const int32_t count = static_cast<int32_t>(row.entries.size());
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  std::vector<std::pair<int32_t, double>> entries = row.entries;
  for (auto& [p, v] : entries) v *= scale_power(static_cast<uint32_t>(scale_exponent(status[p])));
  if (spare_rows_left < 1) {
    report_error(MSG_NO_ROW_SPACE, 1, routine::kAddrow);
    return false;
  }
  const int64_t copy_end = int64_t{int_array(ARR_ROW_COPY_START)[nrow + 1]} - 1 + count;
  if (spare_elems_left < count || block_words(array_cells[ARR_ROW_COPY_COL]) < copy_end ||
      block_words(array_cells[ARR_ELEM_ROW]) < copy_end) {
    report_error(MSG_NO_ELEMENT_SPACE, count, routine::kAddrow);
    return false;
  }
  const int32_t p = nrow + 1;
  // The name table belongs to the original positions: a presolved row
  // keeps no name of its own.
  store_added_row(p, row.letter, row.range, row.exponent, row.rhs, entries, false);
  if (OneBased<int32_t> map = int_array(ARR_POSITION_MAP)) map[p] = original_row;
  nrow += 1;
  spare_rows_left -= 1;
  nelem = int_array(ARR_ROW_COPY_START)[nrow + 1] - 1;
  spare_elems_left -= count;
  return true;
}

// Room in the original problem (current) for a row of count entries after
// rows_before rows and elements_before elements already planned: 0, or the
// error that refuses it.
int32_t original_room(int32_t rows_before, int64_t elements_before, int32_t count) {
  if (store.first_col - (nrow + rows_before) - 1 < 1) return MSG_NO_ROW_SPACE;
  const int64_t end = int64_t{int_array(ARR_COL_START)[nseq + 1]} - 1 + elements_before + count;
  if (block_words(array_cells[ARR_ELEM_ROW]) < end || block_words(array_cells[ARR_ELEM_VALUE]) < 2 * end)
    return MSG_NO_ELEMENT_SPACE;
  return 0;
}

// Appends the row in original terms to the original problem (current) as
// row nrow + 1: its row words and its entries at the ends of their columns,
// where the rows increase. The room has been checked.
void append_original_row(const TranslatedRow& row) {
  const int32_t o = nrow + 1;
  const RowShapeWords shape = added_row_words(row.letter, row.range, row.exponent);
  int_array(ARR_ROW_TYPE)[o] = shape.type;
  int_array(ARR_POS_STATUS)[o] = shape.status;
  real_array(ARR_LOWER)[o] = shape.lower;
  real_array(ARR_UPPER)[o] = shape.upper;
  real_array(ARR_RHS)[o] = row.original_rhs;
  real_array(ARR_OBJECTIVE)[o] = 0.0;
  write_added_row_name(o);

  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  std::vector<std::pair<int32_t, double>> entries = row.original_entries;
  std::sort(entries.begin(), entries.end());
  // From the last column down, each column moves up by the new entries of
  // the columns before it and gains its own at its end.
  int32_t shift = static_cast<int32_t>(entries.size());
  size_t next = entries.size();
  for (int32_t j = nseq; j >= store.first_col && shift > 0; --j) {
    const int32_t begin = col_start[j];
    const int32_t end = col_start[j + 1];  // before this column moves
    const bool gains = next > 0 && entries[next - 1].first == j;
    col_start[j + 1] = end + shift;
    if (gains) {
      elem_row[end + shift - 1] = o;
      elem_value[end + shift - 1] = entries[next - 1].second;
      --next;
      --shift;
    }
    for (int32_t e = end - 1; e >= begin; --e) {
      elem_row[e + shift] = elem_row[e];
      elem_value[e + shift] = elem_value[e];
    }
  }
  const int32_t count = static_cast<int32_t>(entries.size());
  nrow = o;
  nelem = col_start[nseq + 1] - 1;
  // The row takes a spare row and spare elements of the original problem:
  // the room the work arrays keep for it stays the same.
  original_problem.nrow = o;
  original_problem.nelem = nelem;
  original_problem.spare_rows = store.first_col - o - 1;
  original_problem.spare_elems -= count;
  presolve_state.orig_spare_elems_left -= count;
}

// Original position -> presolved column, over the presolved columns.
std::vector<int32_t> invert_position_map() {
  std::vector<int32_t> inverse(static_cast<size_t>(std::max(original_problem.nseq, 0)) + 1, 0);
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  if (!map) return inverse;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t k = map[p];
    if (k >= 1 && k <= original_problem.nseq) inverse[static_cast<size_t>(k)] = p;
  }
  return inverse;
}

}  // namespace

void swap_original_arrays(int32_t to_original, PresolvedWords& kept) {
  for (int32_t id : kSwappedArrays) swap_saved_array(id, array_cells[id]);
  if (to_original != 0) {
    kept = PresolvedWords{nrow, nseq, store.first_col, store.objective_row, dcv(kObjectiveConstantSlot)};
    store.elem_space -= icv(ic::NEXTRA);
    nrow = original_problem.nrow;
    nseq = original_problem.nseq;
    store.first_col = original_problem.first_col;
    store.objective_row = original_problem.objective_row;
    dcv(kObjectiveConstantSlot) = original_problem.objective_constant;
  } else {
    store.elem_space += icv(ic::NEXTRA);
    nrow = kept.nrow;
    nseq = kept.nseq;
    store.first_col = kept.first_col;
    store.objective_row = kept.objective_row;
    dcv(kObjectiveConstantSlot) = kept.objective_constant;
    if (OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
        copy_start && (problem_flags & PF_ROW_COPY) != 0)
      nelem = copy_start[nrow + 1] - 1;
  }
  spare_rows_left = store.first_col - nrow - 1;
}

namespace {

int32_t translate_and_append_rows(const AddedRows& call, int32_t* row_codes) {
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) {
    addrow(call.nrows, call.nelems, call.types, call.rhs, call.ranges, call.starts, call.columns, call.values);
    return ADDPRE_ADDED;
  }
  begin_body();
  if (!require_problem()) return ADDPRE_ADDED;
  if (icv(ic::IFMEM) & kIfmemFixedShape) {
    report_plain_error(MSG_PROBLEM_SHAPE_FIXED);
    return ADDPRE_ADDED;
  }
  std::vector<TranslatedRow> rows;
  std::vector<int32_t> processed;  // the call's row number of each translated row
  try {
    // The working storage comes first: without it the problem stays as it is.
    RowTranslator translator(original_problem.nseq, invert_position_map());
    rows.reserve(static_cast<size_t>(std::max(call.nrows, 0)));
    if (!make_row_copy_current()) return ADDPRE_ADDED;
    problem_flags &= ~(PF_SOLUTION_CURRENT | PF_COLUMN_COPY);
    if (problem_flags & PF_ROW_LISTS) free_row_lists();
    free_factor_arrays();

    // Every row is checked in original terms before any is added.
    OriginalProblemInPlace original;
    std::vector<EntryRange> ranges;
    if (!check_added_rows(call, ranges)) return ADDPRE_ADDED;
    std::vector<std::pair<int32_t, double>> prepared;
    int32_t original_rows = 0;
    int64_t original_elements = 0;
    for (int32_t k = 0; k < call.nrows; ++k) {
      const EntryRange& range = ranges[static_cast<size_t>(k)];
      if (range.begin == range.end) continue;
      TranslatedRow& row = rows.emplace_back();
      processed.push_back(k);
      prepare_original_row(call, k, range, prepared, row);
      row.original_entries = prepared;
      translator.translate(prepared, row);
      if (row.code == ADDPRE_ADDED && row.entries.empty()) row.code = judge_empty_row(row);
      if (row.code == ADDPRE_UNTRANSLATABLE || row.code == ADDPRE_EMPTY_VIOLATED) break;
      if (row.code == ADDPRE_ADDED || row.code == ADDPRE_TINY_ENTRY) {
        const int32_t count = static_cast<int32_t>(prepared.size());
        row.original_room_error = original_room(original_rows, original_elements, count);
        ++original_rows;
        original_elements += count;
      }
    }
  } catch (const std::bad_alloc&) {
    return ADDPRE_NO_MEMORY;
  }

  // The presolved problem is current again.
  int32_t result = ADDPRE_ADDED;
  int32_t appended = 0;
  for (size_t n = 0; n < rows.size(); ++n) {
    const TranslatedRow& row = rows[n];
    const bool to_append = row.code == ADDPRE_ADDED || row.code == ADDPRE_TINY_ENTRY;
    // A row that finds no room gets no code: it was not added, and the
    // status word tells why.
    if (to_append && row.original_room_error != 0) {
      report_error(row.original_room_error, row.original_room_error == MSG_NO_ROW_SPACE ? 1 : 0, routine::kAddrow);
      break;
    }
    if (to_append && !append_translated_row(row, original_problem.nrow + appended + 1)) break;
    if (row_codes != nullptr) row_codes[processed[n]] = row.code;
    if (row.code == ADDPRE_UNTRANSLATABLE || row.code == ADDPRE_EMPTY_VIOLATED) {
      result = row.code;
      break;
    }
    if (row.code == ADDPRE_EMPTY) {
      if (result == ADDPRE_ADDED) result = ADDPRE_EMPTY;
      continue;
    }
    ++appended;
    if (row.code == ADDPRE_TINY_ENTRY) result = ADDPRE_TINY_ENTRY;
  }
  if (appended > 0) {
    // The original problem receives the rows too, so that the solution
    // postsolve maps back, and the clean-up run on the original problem
    // after it, keep to them.
    {
      OriginalProblemInPlace original;
      int32_t stored = 0;
      for (size_t n = 0; n < rows.size() && stored < appended; ++n) {
        if (rows[n].code != ADDPRE_ADDED && rows[n].code != ADDPRE_TINY_ENTRY) continue;
        append_original_row(rows[n]);
        ++stored;
      }
    }
    presolve_state.counts.rows = nrow;
    build_column_copy();
    free_factor_arrays();
    OneBased<double> rhs = real_array(ARR_RHS);
    if (OneBased<double> work_rhs = real_array(ARR_WORK_RHS))
      for (int32_t i = 1; i <= nrow; ++i) work_rhs[i] = rhs[i];
  }
  return result;
}

}  // namespace

int32_t add_rows_presolved(const AddedRows& call, int32_t* row_codes) {
  const int32_t result = translate_and_append_rows(call, row_codes);
  // A call that the status word ends (bad input, no problem, no room for a
  // row) must not answer "row added": it returns the status word instead,
  // which no result code shares.
  return status_code != STATUS_OK ? status_code : result;
}

}  // namespace kl
