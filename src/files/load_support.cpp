#include "files/load_support.h"

#include <algorithm>
#include <cstdint>

#include "problem/loader.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {


namespace {

// Row count from which the automatic cut strategy sizes for few cuts.
constexpr int32_t kLargeProblemRows = 2500;

int32_t clamp_to_int(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Shell sort gaps: the largest power of two not above n, minus 1, then
// (gap - 1) / 2 down to 1. In place, so a load sorts without extra memory.
int32_t first_shell_gap(int32_t n) {
  int32_t power = 1;
  while (power <= n / 2) power *= 2;
  return power - 1;
}

template <class Less, class Swap>
void shell_sort(int32_t n, Less less, Swap swap) {
  if (n < 2) return;
  for (int32_t gap = first_shell_gap(n); gap >= 1; gap = (gap - 1) / 2) {
    for (int32_t i = gap; i < n; ++i) {
      for (int32_t j = i; j >= gap && less(j, j - gap); j -= gap) swap(j, j - gap);
    }
  }
}

}  // namespace

void size_cut_space() {
  int32_t mode = icv(ic::CUTSTRAT);
  if (mode < 0) mode = nrow >= kLargeProblemRows ? 1 : 2;
  const int32_t columns = nseq - nrow - icv(ic::NRXTRA);
  int_attribute(ATTR_NCOLS) = columns;

  int64_t rows = 0;
  if (integer_set_flags[ic::NRXTRA] != 0) {
    rows = icv(ic::NRXTRA);
  } else if (nglent > 0) {
    if (mode >= 2) {
      rows = static_cast<int64_t>(0.3f * static_cast<float>(nrow) + 100.0f);
      if (nglent == columns) rows += nglent <= 2 * static_cast<int64_t>(nrow) ? nglent : nrow;
    } else if (mode == 1) {
      rows = static_cast<int64_t>(0.1f * static_cast<float>(nrow) + 100.0f);
    }
    rows = std::min<int64_t>(rows, static_cast<int64_t>(nglent) + 100);
  }

  int64_t elements = 0;
  if (integer_set_flags[ic::NMXTRA] != 0) {
    elements = icv(ic::NMXTRA);
  } else if (nglent > 0) {
    const int64_t per_row = nrow > 0 ? std::max<int64_t>(10, nelem / nrow) : 10;
    elements = per_row * rows;
    if (mode == 1 && static_cast<float>(elements) > 0.4f * static_cast<float>(nelem)) {
      elements = static_cast<int64_t>(0.4f * static_cast<float>(nelem));
    } else if (mode == 2) {
      elements = std::min<int64_t>(elements, nelem);
    }
  }

  if (integer_set_flags[ic::MXCPOL] == 0) icv(ic::MXCPOL) = clamp_to_int(2 * rows);
  if (integer_set_flags[ic::MXCPEL] == 0) icv(ic::MXCPEL) = clamp_to_int(2 * elements);
  cut_space_mode = mode;
  icv(ic::NRXTRA) = clamp_to_int(rows);
  icv(ic::NMXTRA) = clamp_to_int(elements);
}

void sort_index_pairs_with_values(int32_t* first_keys, int32_t* second_keys, double* values, int32_t n) {
  shell_sort(
      n,
      [&](int32_t a, int32_t b) {
        return first_keys[a] < first_keys[b] || (first_keys[a] == first_keys[b] && second_keys[a] < second_keys[b]);
      },
      [&](int32_t a, int32_t b) {
        std::swap(first_keys[a], first_keys[b]);
        std::swap(second_keys[a], second_keys[b]);
        std::swap(values[a], values[b]);
      });
}

void sort_sos_members() {
  OneBased<int32_t> starts = int_array(ARR_SET_START);
  if (!starts) return;
  int32_t* columns = int_array(ARR_SET_MEMBER_COLUMN).data();
  double* refs = real_array(ARR_SET_MEMBER_REF).data();
  if (columns == nullptr || refs == nullptr) return;
  for (int32_t k = 1; k <= nsets; ++k) {
    int32_t* set_columns = columns + starts[k];
    double* set_refs = refs + starts[k];
    shell_sort(
        starts[k + 1] - starts[k], [&](int32_t a, int32_t b) { return set_refs[a] < set_refs[b]; },
        [&](int32_t a, int32_t b) {
          std::swap(set_refs[a], set_refs[b]);
          std::swap(set_columns[a], set_columns[b]);
        });
  }
}

void report_problem_name() {
  begin_message(MSG_LOAD_PROBLEM_NAME);
  insert_message_name8(character_attributes[1]);
  emit_message();
}

}  // namespace kl
