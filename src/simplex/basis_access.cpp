#include "simplex/basis_access.h"

#include <algorithm>

#include "factor/basis.h"
#include "presolve/postsolve.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/solution_access.h"
#include "simplex/solution_file_reader.h"

namespace kl {

int32_t loaded_basic_count = 0;

namespace {

constexpr uint32_t kSideBits = PS_BASIC | PS_AT_UPPER;
constexpr uint32_t kColumnSideBits = PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN;

bool presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

// Rows a plain-form call speaks of: the cut rows of the search follow the
// model's rows and are left out when IFMEM asks for it.
int32_t rows_spoken_of(int32_t form) {
  if ((icv(ic::IFMEM) & kIfmemLeaveOutCuts) != 0 && !presolved() && form == FORM_PLAIN)
    return std::max(0, nrow - std::max(0, cut_row_count));
  return nrow;
}

bool valid_code(int32_t code) { return code >= BASIS_AT_LOWER && code <= BASIS_AT_UPPER; }

// Message 410 or 411: the routine, the caller's index and the code.
void report_bad_code(int32_t n, int32_t index, int32_t code) {
  error_number = n;
  error_value = index;
  status_code = STATUS_REPORTED;
  begin_message(n);
  insert_message_chars(routine::kLdbasis, 8);
  insert_message_int(index);
  insert_message_int(code);
  emit_message();
}

void set_side(OneBased<int32_t> status, int32_t p, uint32_t clear, int32_t code) {
  uint32_t s = static_cast<uint32_t>(status[p]) & ~clear;
  if (code == BASIS_BASIC) s |= PS_BASIC;
  if (code == BASIS_AT_UPPER) s |= PS_AT_UPPER;
  status[p] = static_cast<int32_t>(s);
}

int32_t code_of(uint32_t status_word) {
  if ((status_word & PS_BASIC) != 0) return BASIS_BASIC;
  if ((status_word & PS_AT_UPPER) != 0) return BASIS_AT_UPPER;
  return BASIS_AT_LOWER;
}

// The codes from the solution file. The writer records a G row's slack, which
// sits at its upper bound 0 when non-basic, without the at-upper bit.
void basis_from_file(int32_t* row_status, int32_t* column_status) {
  SolutionFileReader file;
  if (!file.open(expected_file_rows(), expected_file_columns())) return;
  if (!file.has_basis()) {
    file.close();
    report_plain_error(MSG_NO_BASIS_AVAILABLE);
    error_number = MSG_NO_BASIS_AVAILABLE;
    return;
  }
  SolutionFileRecord record;
  for (int32_t i = 0; i < file.rows(); ++i) {
    if (!file.next(record)) return;
    uint32_t word = static_cast<uint32_t>(record.status_word);
    if ((record.type_word & ROW_G) != 0) word ^= PS_AT_UPPER;
    if (row_status != nullptr) row_status[i] = code_of(word);
  }
  for (int32_t k = 0; k < file.columns(); ++k) {
    if (!file.next(record)) return;
    if (column_status != nullptr) column_status[k] = code_of(static_cast<uint32_t>(record.status_word));
  }
}

void basis_from_memory(int32_t* row_status, int32_t* column_status, int32_t form) {
  if ((problem_flags & PF_NO_BASIS) != 0) {
    report_plain_error(MSG_NO_BASIS_AVAILABLE);
    error_number = MSG_NO_BASIS_AVAILABLE;
    return;
  }
  const auto read_codes = [&](int32_t rows) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    if (row_status != nullptr)
      for (int32_t i = 1; i <= rows; ++i) row_status[i - 1] = code_of(static_cast<uint32_t>(status[i]));
    if (column_status != nullptr)
      for (int32_t j = store.first_col; j <= nseq; ++j)
        column_status[j - store.first_col] = code_of(static_cast<uint32_t>(status[j]));
  };
  // The plain form speaks of the original problem, which has no cut rows.
  if (presolved() && form == FORM_PLAIN) {
    read_original_solution([&]() { read_codes(nrow); });
    return;
  }
  read_codes(rows_spoken_of(form));
}

}  // namespace

void ldbasis(const int32_t* row_status, const int32_t* column_status, int32_t form) {
  begin_body();
  if (!require_problem()) return;
  if (presolved() && form == FORM_PLAIN) {
    report_plain_error(MSG_BASIS_LOAD_PRESOLVED);
    return;
  }
  if (row_status == nullptr && nrow > 0) {
    report_error(MSG_NULL_ARGUMENT, 1, routine::kLdbasis);
    return;
  }
  if (column_status == nullptr && nseq >= store.first_col) {
    report_error(MSG_NULL_ARGUMENT, 2, routine::kLdbasis);
    return;
  }
  const int32_t rows = rows_spoken_of(form);
  // Every code is checked before the basis changes, so a bad one leaves the
  // basis as it was.
  for (int32_t i = 1; i <= rows; ++i) {
    if (!valid_code(row_status[i - 1])) {
      report_bad_code(MSG_BASIS_ROW_CODE_INVALID, row_to_caller(i), row_status[i - 1]);
      return;
    }
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if (!valid_code(column_status[j - store.first_col])) {
      report_bad_code(MSG_BASIS_COLUMN_CODE_INVALID, col_to_caller(j), column_status[j - store.first_col]);
      return;
    }
  }

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  int32_t count = 0;
  for (int32_t i = 1; i <= nrow; ++i) header[i] = 0;
  for (int32_t i = 1; i <= rows; ++i) {
    const int32_t code = row_status[i - 1];
    set_side(status, i, kSideBits, code);
    if (code == BASIS_BASIC) {
      header[i] = i;
      ++count;
    }
  }
  // Basic columns take the empty header slots in turn; one that finds none
  // left stays non-basic at its lower bound.
  int32_t slot = 1;
  const auto next_empty_slot = [&]() {
    while (slot <= nrow && header[slot] != 0) ++slot;
    return slot <= nrow ? slot : 0;
  };
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t code = column_status[j - store.first_col];
    if (code != BASIS_BASIC) {
      set_side(status, j, kColumnSideBits, code);
      continue;
    }
    const int32_t k = next_empty_slot();
    if (k == 0) {
      set_side(status, j, kColumnSideBits, BASIS_AT_LOWER);
      continue;
    }
    set_side(status, j, kColumnSideBits, BASIS_BASIC);
    header[k] = j;
    ++count;
  }
  // Rows the caller did not speak of (the cut rows) sit at a finite bound,
  // and are basic while slots are left.
  for (int32_t i = rows + 1; i <= nrow; ++i) {
    const bool lower_finite = (static_cast<uint32_t>(status[i]) & PS_FINITE_LOWER) != 0;
    set_side(status, i, kSideBits, lower_finite ? BASIS_AT_LOWER : BASIS_AT_UPPER);
    const int32_t k = next_empty_slot();
    if (k == 0) continue;
    set_side(status, i, kSideBits, BASIS_BASIC);
    header[k] = i;
    ++count;
  }
  loaded_basic_count = count;
  icv(ic::IFNBAS) = 1;
  // The factor and the solution belong to the basis just replaced.
  problem_flags &= ~(PF_FACTOR_VALID | PF_SOLUTION_CURRENT | PF_NO_BASIS);
}

void get_basis(int32_t* row_status, int32_t* column_status, int32_t form) {
  begin_body();
  if (!require_problem()) return;
  if (form == FORM_PLAIN && (icv(ic::IFMEM) & kIfmemInOptimiserCall) == 0) {
    basis_from_file(row_status, column_status);
    return;
  }
  basis_from_memory(row_status, column_status, form);
}

}  // namespace kl
