#include "problem/quadratic_edit.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "problem/change_problem.h"
#include "problem/store.h"
#include "problem/value_checks.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// One entry of Q's upper triangle: lo <= hi, positions.
struct Triplet {
  int32_t lo;
  int32_t hi;
  double value;
};

bool by_pair(const Triplet& a, const Triplet& b) { return a.lo != b.lo ? a.lo < b.lo : a.hi < b.hi; }

bool has_storage() {
  return array_cells[ARR_QUAD_UPPER_START] != nullptr && array_cells[ARR_QUAD_LOWER_START] != nullptr &&
         array_cells[ARR_QUAD_INDEX] != nullptr && array_cells[ARR_QUAD_VALUES] != nullptr;
}

// Entries stored for a set of triplets: off-diagonal pairs twice.
int64_t stored_entries(const std::vector<Triplet>& triplets) {
  int64_t n = 0;
  for (const Triplet& t : triplets) n += t.lo == t.hi ? 1 : 2;
  return n;
}

// The upper triangle as stored, in (lo, hi) order, for columns first..last.
std::vector<Triplet> read_upper_triangle(int32_t last) {
  std::vector<Triplet> triplets;
  if (nqelem <= 0 || !has_storage()) return triplets;
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  for (int32_t j = store.first_col; j <= last; ++j)
    for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k) triplets.push_back({j, index[k], value[k]});
  return triplets;
}

// Start entries the two start arrays hold room for (positions + 1).
int64_t start_cells() {
  return std::min(block_words(array_cells[ARR_QUAD_UPPER_START]), block_words(array_cells[ARR_QUAD_LOWER_START]));
}

// Ids 82 to 85 can hold `entries` entries and starts for every position up
// to nseq + spare_cols_left. Growth leaves kQuadraticGrowthMargin entries
// free. Returns 0 or the id of the array that could not be had (message 20,
// status 32); nothing is lost on failure.
int32_t ensure_storage(int64_t entries) {
  const int64_t cells = static_cast<int64_t>(nseq) + spare_cols_left + 1;
  const int64_t capacity = std::min(block_words(array_cells[ARR_QUAD_INDEX]), block_words(array_cells[ARR_QUAD_VALUES]) / 2);
  const int64_t wanted = entries > capacity ? entries + kQuadraticGrowthMargin : capacity;
  const struct {
    int32_t id;
    int64_t words;
  } requests[] = {
      {ARR_QUAD_UPPER_START, words_for_ints(cells)},
      {ARR_QUAD_LOWER_START, words_for_ints(cells)},
      {ARR_QUAD_INDEX, words_for_ints(wanted)},
      {ARR_QUAD_VALUES, words_for_reals(wanted)},
  };
  for (const auto& request : requests) {
    if (block_words(array_cells[request.id]) >= request.words) continue;
    if (allocate_or_grow_array(request.id, array_cells[request.id], request.words) == 0) continue;
    begin_message(MSG_ARRAY_NO_MEMORY);
    insert_message_int(request.id);
    emit_message();
    status_code = STATUS_REPORTED;
    return request.id;
  }
  return 0;
}

// Lays Q out from its upper triangle (sorted by (lo, hi), positions within
// first_col..last): the upper lists, then the lower lists, and empty lists
// for every start entry past last. The storage must hold the entries.
void write_lists(const std::vector<Triplet>& triplets, int32_t last) {
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  const int32_t first = store.first_col;
  const int32_t upper_count = static_cast<int32_t>(triplets.size());

  size_t t = 0;
  for (int32_t j = first; j <= last + 1; ++j) {
    while (t < triplets.size() && triplets[t].lo < j) ++t;
    upper_start[j] = static_cast<int32_t>(t) + 1;
  }
  for (int32_t k = 0; k < upper_count; ++k) {
    index[k + 1] = triplets[static_cast<size_t>(k)].hi;
    value[k + 1] = triplets[static_cast<size_t>(k)].value;
  }

  // Lower lists: counts per column at entry j + 1, turned into starts shifted
  // one place, so that filling in (lo, hi) order leaves each list sorted and
  // entry j at the start of column j.
  for (int32_t j = first; j <= last + 1; ++j) lower_start[j] = 0;
  for (const Triplet& e : triplets)
    if (e.hi > e.lo) ++lower_start[e.hi + 1];
  int32_t next = upper_count + 1;
  for (int32_t j = first; j <= last; ++j) {
    const int32_t count = lower_start[j + 1];
    lower_start[j + 1] = next;
    next += count;
  }
  lower_start[first] = upper_count + 1;
  for (const Triplet& e : triplets) {
    if (e.hi <= e.lo) continue;
    const int32_t slot = lower_start[e.hi + 1]++;
    index[slot] = e.lo;
    value[slot] = e.value;
  }

  const int64_t cells = start_cells();
  for (int64_t j = static_cast<int64_t>(last) + 2; j <= cells; ++j) {
    upper_start[j] = upper_start[last + 1];
    lower_start[j] = lower_start[last + 1];
  }
  nqelem = next - 1;
  original_problem.nqelem = nqelem;
}

void report_bad_column(int32_t index) {
  error_number = MSG_QOBJ_BAD_COLUMN;
  error_value = index;
  status_code = STATUS_REPORTED;
  begin_message(MSG_QOBJ_BAD_COLUMN);
  insert_message_int(index);
  emit_message();
}

void report_scratch_failure() {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(0);
  emit_message();
  status_code = STATUS_REPORTED;
}

int64_t caller_column_position(int32_t c) { return static_cast<int64_t>(c) + store.first_col + icv(ic::IFDBG) - 1; }
bool is_column(int64_t p) { return p >= store.first_col && p <= nseq; }

// The stored triangle with the caller's triplets merged in: a pair given
// more than once takes its last value, and a value within ZTOLDA of zero
// leaves the pair out. Sets changed when the result differs from what is
// stored.
std::vector<Triplet> merge_changes(const int32_t* first, const int32_t* second, const double* values, int32_t count,
                                   bool& changed) {
  std::vector<Triplet> given;
  given.reserve(static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    const int32_t a = static_cast<int32_t>(caller_column_position(first[k]));
    const int32_t b = static_cast<int32_t>(caller_column_position(second[k]));
    given.push_back({std::min(a, b), std::max(a, b), values[k]});
  }
  std::stable_sort(given.begin(), given.end(), by_pair);
  const std::vector<Triplet> stored = read_upper_triangle(nseq);
  const double tolerance = dcv(dc::ZTOLDA);
  std::vector<Triplet> merged;
  merged.reserve(stored.size() + given.size());
  changed = false;
  size_t s = 0;
  size_t g = 0;
  while (s < stored.size() || g < given.size()) {
    const bool take_given = g < given.size() && (s == stored.size() || !by_pair(stored[s], given[g]));
    if (!take_given) {
      merged.push_back(stored[s++]);
      continue;
    }
    // The last of the caller's items for this pair decides.
    size_t last = g;
    while (last + 1 < given.size() && given[last + 1].lo == given[g].lo && given[last + 1].hi == given[g].hi) ++last;
    const Triplet& item = given[last];
    const bool was_stored = s < stored.size() && stored[s].lo == item.lo && stored[s].hi == item.hi;
    const bool keep = std::fabs(item.value) > tolerance;
    if (keep) merged.push_back(item);
    if (was_stored) {
      if (!keep || stored[s].value != item.value) changed = true;
      ++s;
    } else if (keep) {
      changed = true;
    }
    g = last + 1;
  }
  return merged;
}

// PS_QUADRATIC on exactly the columns with an entry.
void mark_quadratic_columns(const std::vector<Triplet>& triplets) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = store.first_col; p <= nseq; ++p) status[p] &= ~static_cast<int32_t>(PS_QUADRATIC);
  for (const Triplet& t : triplets) {
    status[t.lo] |= static_cast<int32_t>(PS_QUADRATIC);
    status[t.hi] |= static_cast<int32_t>(PS_QUADRATIC);
  }
}

}  // namespace

int64_t quadratic_spare() {
  if (!has_storage()) return 0;
  const int64_t capacity = std::min(block_words(array_cells[ARR_QUAD_INDEX]), block_words(array_cells[ARR_QUAD_VALUES]) / 2);
  return std::max<int64_t>(0, capacity - nqelem);
}

int32_t chg_qobj_many(const int32_t* first, const int32_t* second, const double* values, int32_t count) {
  begin_body();
  if (!require_problem()) return status_code;
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    return status_code;
  }
  if (count <= 0) return status_code;
  const void* arrays[] = {first, second, values};
  for (int32_t a = 0; a < 3; ++a) {
    if (arrays[a] != nullptr) continue;
    report_error(MSG_NULL_ARGUMENT, a + 1, routine::kChgmqobj);
    return status_code;
  }
  for (int32_t k = 0; k < count; ++k) {
    for (const int32_t c : {first[k], second[k]}) {
      if (is_column(caller_column_position(c))) continue;
      report_bad_column(c);
      return status_code;
    }
  }
  if (!check_values(values, 0, count, ValueKind::kFinite, 3, routine::kChgmqobj, STATUS_REPORTED)) return status_code;

  std::vector<Triplet> merged;
  bool changed = false;
  try {
    merged = merge_changes(first, second, values, count, changed);
  } catch (const std::bad_alloc&) {
    report_scratch_failure();
    return status_code;
  }
  if (!changed) return status_code;
  if (ensure_storage(stored_entries(merged)) != 0) return status_code;

  // Quadratic columns stay at factor 1 (scaling skips them), so the values
  // stored are the caller's.
  for (const Triplet& t : merged) {
    unscale_column(t.lo);
    unscale_column(t.hi);
  }
  write_lists(merged, nseq);
  mark_quadratic_columns(merged);
  problem_flags &= ~PF_SOLUTION_CURRENT;
  return status_code;
}

int32_t chg_qobj_one(int32_t first, int32_t second, double value) {
  return chg_qobj_many(&first, &second, &value, 1);
}

void remove_quadratic_column(int32_t p) {
  if (p < store.first_col || p > nseq) {
    report_bad_column(p);
    return;
  }
  if (nqelem <= 0 || !has_storage()) return;
  std::vector<int32_t> map;
  try {
    map.resize(static_cast<size_t>(nseq) + 1);
  } catch (const std::bad_alloc&) {
    report_scratch_failure();
    return;
  }
  for (int32_t q = store.first_col; q <= nseq; ++q) map[static_cast<size_t>(q)] = q < p ? q : (q == p ? 0 : q - 1);
  remap_quadratic_columns(OneBased<int32_t>(map.data() + 1), nseq);
}

void remap_quadratic_columns(OneBased<int32_t> new_position, int32_t old_nseq) {
  if (nqelem <= 0 || !has_storage()) return;
  try {
    const std::vector<Triplet> stored = read_upper_triangle(old_nseq);
    std::vector<Triplet> kept;
    kept.reserve(stored.size());
    for (const Triplet& t : stored) {
      const int32_t lo = new_position[t.lo];
      const int32_t hi = new_position[t.hi];
      if (lo != 0 && hi != 0) kept.push_back({lo, hi, t.value});
    }
    int32_t deleted = 0;
    for (int32_t q = store.first_col; q <= old_nseq; ++q)
      if (new_position[q] == 0) ++deleted;
    write_lists(kept, old_nseq - deleted);
  } catch (const std::bad_alloc&) {
    report_scratch_failure();
  }
}

void add_empty_quadratic_columns(int32_t count) {
  if (count <= 0 || !has_storage()) return;
  const int64_t last = std::min<int64_t>(static_cast<int64_t>(nseq) + count + 1, start_cells());
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> lower_start = int_array(ARR_QUAD_LOWER_START);
  for (int64_t j = static_cast<int64_t>(nseq) + 2; j <= last; ++j) {
    upper_start[j] = upper_start[nseq + 1];
    lower_start[j] = lower_start[nseq + 1];
  }
}

}  // namespace kl
