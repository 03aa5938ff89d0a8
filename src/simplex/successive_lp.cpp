#include "simplex/successive_lp.h"

#include <bit>
#include <cmath>

#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"

namespace kl {

namespace {

float float_field(int32_t bits) { return std::bit_cast<float>(bits); }

bool carries_value(const RecurseEntry& e) {
  return (e.kind >= RK_DV && e.kind <= RK_BX) || e.kind == RK_SB;
}

// Compared in single precision, as the recorded value is kept.
bool entry_moved(const RecurseEntry& e) {
  if (e.column <= 0) return false;
  const float recorded = float_field(e.b);
  const float tolerance = float_field(e.a);
  const float x = static_cast<float>(real_array(ARR_X)[e.column]);
  return std::fabs(x - recorded) > (std::fabs(recorded) + 1e-6f) * tolerance;
}

int32_t& moved_count() { return int_attribute(ATTR_OPTIMISER_1029); }

void protect(int32_t position) {
  if (position > 0) int_array(ARR_POS_STATUS)[position] |= PS_PROTECTED;
}

}  // namespace

bool count_moved_entries(int32_t& count) {
  count = 0;
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k)
    if (entries[k].kind == RK_CV && entry_moved(entries[k])) ++count;
  return count == 0;
}

void mark_moved_columns() {
  int32_t count = 0;
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k) {
    const RecurseEntry& e = entries[k];
    if (e.kind != RK_CV || e.column <= 0) continue;
    int32_t& status = int_array(ARR_POS_STATUS)[e.column];
    if (entry_moved(e)) {
      status |= PS_MARK;
      ++count;
    } else {
      status &= ~PS_MARK;
    }
  }
  moved_count() = count;
}

// Only a run that stopped with moving columns marks any; otherwise every
// column keeps its own value in the solution file.
int32_t next_recurse_column(int32_t p) {
  if (moved_count() <= 0) return nseq + 1;
  int32_t next = nseq + 1;
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k) {
    const RecurseEntry& e = entries[k];
    if (e.kind != RK_CV || e.column <= p || e.column >= next) continue;
    if ((int_array(ARR_POS_STATUS)[e.column] & PS_MARK) != 0) next = e.column;
  }
  return next;
}

double recorded_recurse_value(int32_t column) {
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k)
    if (entries[k].kind == RK_CV && entries[k].column == column) return float_field(entries[k].b);
  return 0.0;
}

int32_t count_recurse_values() {
  int32_t count = 0;
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k)
    if (carries_value(entries[k])) ++count;
  return count;
}

void save_recurse_values(std::vector<double>& values) {
  values.clear();
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k)
    if (carries_value(entries[k])) values.push_back(entries[k].current);
}

bool restore_recurse_values(const std::vector<double>& values) {
  if (static_cast<int32_t>(values.size()) != count_recurse_values()) return false;
  RecurseEntry* entries = recurse_entries();
  std::size_t next = 0;
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k)
    if (carries_value(entries[k])) entries[k].current = values[next++];
  return true;
}

void mark_recurse_variables() {
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    switch (e.kind) {
      case RK_DV:
      case RK_MU:
        protect(e.column);
        protect(e.row);
        protect(e.a);
        protect(e.b);
        break;
      case RK_CL:
      case RK_BX:
        protect(e.column);
        protect(e.a);
        protect(e.row);
        break;
      case RK_NE:
      case RK_NL:
        protect(e.row);
        break;
      case RK_SB:
        protect(e.column);
        if (e.column > 0) e.base = real_array(ARR_UPPER)[e.column];
        break;
      default:
        break;
    }
  }
}

}  // namespace kl
