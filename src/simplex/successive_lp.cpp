#include "simplex/successive_lp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "problem/factor_arrays.h"
#include "factor/scaling.h"
#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "presolve/postsolve.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"
#include "simplex/primal_driver.h"
#include "factor/simplex_state.h"

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

// ---------------------------------------------------------------------------
// Rewriting the matrix from the typed entries.

namespace {

constexpr int32_t kIfmemNoSolutionFile = 0x4;
constexpr double kDivisorResultLimit = 1e10;
constexpr double kObjectiveChangeFloor = 1e-6;

bool writes_coefficient(const RecurseEntry& e) { return e.kind >= RK_DV && e.kind <= RK_BX; }

// The value of a position in the solution; a missing argument counts as 1.
// A fixed column off the between state sits at its bound, whatever the
// value array holds.
double solution_value(int32_t p) {
  if (p <= 0) return 1.0;
  const uint32_t s = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]);
  if ((s & PS_FIXED) != 0 && (s & (PS_BASIC | PS_NONBASIC_BETWEEN)) == 0) return real_array(ARR_LOWER)[p];
  return real_array(ARR_X)[p];
}

bool upper_only(int32_t p) {
  if (p <= 0) return false;
  const uint32_t s = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]);
  return (s & PS_FINITE_UPPER) != 0 && (s & PS_FINITE_LOWER) == 0;
}

// The exponent byte of kinds DV, MU and CL as a factor; a byte of 0 (never
// scaled) is neutral.
double entry_scale_factor(const RecurseEntry& e) {
  const int32_t byte = e.scale == 0 ? kNeutralScaleExponent : e.scale;
  return std::ldexp(1.0, byte - kNeutralScaleExponent);
}

// Nonbasic at a bound widens the step box or the coefficient, basic or
// between narrows it.
double growth_factor(int32_t a) {
  const uint32_t s = static_cast<uint32_t>(int_array(ARR_POS_STATUS)[a]);
  return (s & (PS_BASIC | PS_NONBASIC_BETWEEN)) == 0 ? dcv(dc::EXPAND) : dcv(dc::SHRINK);
}

double divided_value(const RecurseEntry& e) {
  const double tiny = dcv(dc::ZTOLZE);
  const double xa = solution_value(e.a);
  const double xb = solution_value(e.b);
  if (std::fabs(xb) >= tiny) return e.base * xa / xb;
  double divisor = upper_only(e.b) ? -tiny : tiny;
  if (std::fabs(xa) < tiny) divisor = upper_only(e.a) ? -tiny : tiny;
  return std::clamp(e.base * xa / divisor, -kDivisorResultLimit, kDivisorResultLimit);
}

double dropped_if_tiny(double v) { return std::fabs(v) <= dcv(dc::ZTOLDA) ? 0.0 : v; }

struct NewElement {
  int32_t column;
  int32_t row;
  double value;
};

// Room for `count` more elements: first the slots the reader reserved for
// the typed entries, then the spare slots, growing the space when both fall
// short. False after message 415.
bool make_element_room(int64_t count) {
  const int64_t used = int64_t{int_array(ARR_COL_START)[nseq + 1]} - 1;
  const int64_t reserved = std::max<int64_t>(0, store.elem_space - used - spare_elems_left);
  const int64_t from_spare = count - reserved;
  if (from_spare <= 0) return true;
  if (from_spare > spare_elems_left && grow_problem_storage(0, 0, from_spare, 0) != 0) {
    report_error(MSG_NO_ELEMENT_SPACE, static_cast<int32_t>(std::min<int64_t>(from_spare, INT32_MAX)), "recurse   ");
    return false;
  }
  spare_elems_left -= static_cast<int32_t>(from_spare);
  return true;
}

// Each column's elements move up by the number of new elements of the
// columns up to and including it; the new ones go in front of their column.
void insert_elements(const std::vector<NewElement>& added) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  int32_t* rows = int_array(ARR_ELEM_ROW).data();
  double* values = real_array(ARR_ELEM_VALUE).data();
  std::vector<int32_t> cumulative(static_cast<size_t>(nseq) + 2, 0);
  for (const NewElement& n : added) ++cumulative[static_cast<size_t>(n.column)];
  for (int32_t p = store.first_col + 1; p <= nseq; ++p)
    cumulative[static_cast<size_t>(p)] += cumulative[static_cast<size_t>(p) - 1];
  int32_t end = col_start[nseq + 1];  // the old end of column p
  col_start[nseq + 1] += static_cast<int32_t>(added.size());
  for (int32_t p = nseq; p >= store.first_col; --p) {
    const int32_t shift = cumulative[static_cast<size_t>(p)];
    if (shift == 0) break;  // and none below moves either
    const int32_t first = col_start[p];
    const size_t length = static_cast<size_t>(end - first);
    std::memmove(rows + first - 1 + shift, rows + first - 1, length * sizeof(int32_t));
    std::memmove(values + first - 1 + shift, values + first - 1, length * sizeof(double));
    col_start[p] += shift;
    end = first;
  }
  for (const NewElement& n : added) {
    const int32_t at = --col_start[n.column];
    rows[at - 1] = n.row;
    values[at - 1] = n.value;
  }
}

// Element positions move with every insertion and compaction (and with the
// presolve's renumbering): BX entries find theirs again by row and column.
void locate_scaled_elements() {
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    if (e.kind == RK_BX && e.column > 0) e.element = find_in_column(e.column, e.row);
  }
}

enum class Damping { kNone, kFirstPass };

// Writes the current values of the coefficient entries that `take` selects
// into the matrix. With first-pass damping an existing element becomes
// (1 - w) x element + w x current and a new one w x current. Values of at
// most ZTOLDA are zeros: an existing element is removed, a new one never
// inserted.
bool write_entries(const std::vector<bool>& take, Damping damping) {
  RecurseEntry* entries = recurse_entries();
  const double w = dcv(dc::ZTSTEP);
  const bool first = damping == Damping::kFirstPass;
  OneBased<double> values = real_array(ARR_ELEM_VALUE);
  std::vector<NewElement> added;
  bool zeros = false;
  for (int32_t k = 0; k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    if (!take[static_cast<size_t>(k)] || e.column <= 0) continue;
    if (const int32_t at = find_in_column(e.column, e.row)) {
      const double v = dropped_if_tiny(first ? (1.0 - w) * values[at] + w * e.current : e.current);
      values[at] = v;
      e.current = v;
      zeros = zeros || v == 0.0;
      continue;
    }
    const double v = dropped_if_tiny(first ? w * e.current : e.current);
    e.current = v;
    if (v == 0.0) continue;
    // Two entries on one new element: the later value stands.
    auto same = std::find_if(added.begin(), added.end(),
                             [&](const NewElement& n) { return n.column == e.column && n.row == e.row; });
    if (same != added.end()) {
      same->value = v;
    } else {
      added.push_back({e.column, e.row, v});
    }
  }
  if (!added.empty()) {
    if (!make_element_room(static_cast<int64_t>(added.size()))) return false;
    insert_elements(added);
    original_problem.nelem += static_cast<int32_t>(added.size());
  }
  if (zeros) {
    const int32_t before = int_array(ARR_COL_START)[nseq + 1];
    pack_column_elements([](int32_t r, double v) { return v == 0.0 ? 0 : r; });
    original_problem.nelem -= before - int_array(ARR_COL_START)[nseq + 1];
  }
  locate_scaled_elements();
  // The row lists and the factor hold element positions and basis columns
  // that no longer stand.
  if ((problem_flags & PF_ROW_LISTS) != 0) free_row_lists();
  problem_flags &= ~PF_ROW_COPY;
  build_row_copy();
  return true;
}

void set_step_box(int32_t column, double s) {
  real_array(ARR_UPPER)[column] = s;
  real_array(ARR_LOWER)[column] = -s;
}

struct RunWords {
  int32_t ifmem = 0;
  uint32_t flag_bits = 0;  // the bits of PF_SEARCH_RUNNING and PF_CLOCK_STARTED held before
  void restore() const {
    icv(ic::IFMEM) = ifmem;
    constexpr uint32_t kRunBits = PF_SEARCH_RUNNING | PF_CLOCK_STARTED;
    problem_flags = (problem_flags & ~kRunBits) | flag_bits;
  }
};

bool has_cv_entries() {
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k)
    if (entries[k].kind == RK_CV) return true;
  return false;
}

}  // namespace

void fix_recurse_rows() {
  RecurseEntry* entries = recurse_entries();
  for (int32_t k = 0; entries != nullptr && k < recurse_entry_count; ++k) {
    const RecurseEntry& e = entries[k];
    if ((e.kind != RK_NE && e.kind != RK_NL) || e.row <= 0 || e.row > nrow) continue;
    int32_t& type = int_array(ARR_ROW_TYPE)[e.row];
    int32_t& status = int_array(ARR_POS_STATUS)[e.row];
    type &= ~static_cast<int32_t>(ROW_E | ROW_L | ROW_N);
    if (e.kind == RK_NE) {
      type |= ROW_E;
      status &= ~static_cast<int32_t>(PS_FREE | PS_AT_UPPER | PS_FIXED | PS_FINITE_LOWER | PS_FINITE_UPPER);
      status |= static_cast<int32_t>(PS_FIXED | PS_FINITE_LOWER | PS_FINITE_UPPER);
      real_array(ARR_LOWER)[e.row] = 0.0;
      real_array(ARR_UPPER)[e.row] = 0.0;
    } else {
      type |= ROW_L;
      status &= ~static_cast<int32_t>(PS_FREE | PS_AT_UPPER | PS_FIXED | PS_FINITE_LOWER);
      status |= static_cast<int32_t>(PS_FINITE_LOWER);
      real_array(ARR_LOWER)[e.row] = 0.0;
    }
  }
}

bool update_recurse_coefficients(bool first_pass) {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return true;
  const double w = dcv(dc::ZTSTEP);
  std::vector<bool> computed(static_cast<size_t>(recurse_entry_count), false);
  for (int32_t k = 0; k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    double v = 0.0;
    switch (e.kind) {
      case RK_DV:
        v = divided_value(e) * entry_scale_factor(e);
        break;
      case RK_MU:
        v = e.base * solution_value(e.a) * solution_value(e.b) * entry_scale_factor(e);
        break;
      case RK_CL:
        v = e.base * solution_value(e.a) * entry_scale_factor(e);
        break;
      case RK_BX: {
        if (e.a <= 0) continue;
        const int32_t at = e.column > 0 ? find_in_column(e.column, e.row) : 0;
        e.element = at;
        const double element = at > 0 ? real_array(ARR_ELEM_VALUE)[at] : 0.0;
        v = (1.0 - (1.0 - growth_factor(e.a)) * w) * element;
        break;
      }
      case RK_CV:
        e.b = std::bit_cast<int32_t>(e.column > 0 ? static_cast<float>(solution_value(e.column)) : 0.0f);
        continue;
      case RK_SB: {
        if (e.column <= 0 || e.a <= 0) continue;
        const double s = (1.0 - (1.0 - growth_factor(e.a)) * w) * real_array(ARR_UPPER)[e.column];
        set_step_box(e.column, s);
        e.current = s;
        continue;
      }
      default:
        continue;
    }
    v = dropped_if_tiny(v);
    if (!first_pass) v = dropped_if_tiny(w * v + (1.0 - w) * e.current);
    e.current = v;
    computed[static_cast<size_t>(k)] = true;
  }
  return write_entries(computed, first_pass ? Damping::kFirstPass : Damping::kNone);
}

bool reset_recurse_values() {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return true;
  std::vector<bool> take(static_cast<size_t>(recurse_entry_count), false);
  for (int32_t k = 0; k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    if (!writes_coefficient(e) || (e.kind == RK_BX && e.a <= 0)) continue;
    e.current = e.base;
    if (e.column <= 0) continue;
    if (const int32_t at = find_in_column(e.column, e.row)) e.current = real_array(ARR_ELEM_VALUE)[at];
    take[static_cast<size_t>(k)] = true;
  }
  return write_entries(take, Damping::kNone);
}

bool apply_recurse_values() {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return true;
  std::vector<bool> take(static_cast<size_t>(recurse_entry_count), false);
  for (int32_t k = 0; k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    if (e.kind == RK_SB) {
      if (e.column > 0) set_step_box(e.column, e.current);
      continue;
    }
    if (!writes_coefficient(e) || (e.kind == RK_BX && e.a <= 0) || e.column <= 0) continue;
    e.current = dropped_if_tiny(e.current);
    take[static_cast<size_t>(k)] = true;
  }
  return write_entries(take, Damping::kNone);
}

void renumber_recurse_entries(const int32_t* new_position, const double* old_lower, const int32_t* old_status) {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return;
  auto mapped = [&](int32_t p) { return p > 0 ? new_position[p - 1] : 0; };
  auto exponent = [&](int32_t p) { return scale_exponent(old_status[p - 1]) - kNeutralScaleExponent; };
  auto unprotect = [](int32_t p) {
    if (p > 0) int_array(ARR_POS_STATUS)[p] &= ~static_cast<int32_t>(PS_PROTECTED);
  };
  for (int32_t k = 0; k < recurse_entry_count; ++k) {
    RecurseEntry& e = entries[k];
    switch (e.kind) {
      case RK_DV:
      case RK_MU:
      case RK_CL:
      case RK_BX: {
        e.column = mapped(e.column);
        e.row = mapped(e.row);
        unprotect(e.column);
        unprotect(e.row);
        if (e.kind == RK_BX) {
          e.a = mapped(e.a);
          break;
        }
        // A removed argument is fixed: its value (in the old scaling) joins
        // the base and its exponent leaves the entry's.
        int32_t scale = e.scale == 0 ? kNeutralScaleExponent : e.scale;
        if (e.a > 0 && mapped(e.a) == 0) {
          e.base *= old_lower[e.a - 1];
          scale -= exponent(e.a);
          e.a = 0;
        } else {
          e.a = mapped(e.a);
        }
        if (e.kind != RK_CL && e.b > 0 && mapped(e.b) == 0) {
          const double value = old_lower[e.b - 1];
          if (e.kind == RK_MU) {
            scale -= exponent(e.b);
            e.base *= value;
          } else {
            scale += exponent(e.b);
            if (std::fabs(value) >= 1e-32) {
              e.base /= value;
            } else {
              e.base = e.base > 0.5 ? 1e10 : e.base >= -0.5 ? e.base * 1e10 : -1e10;
            }
          }
          e.b = 0;
        } else if (e.kind != RK_CL) {
          e.b = mapped(e.b);
        }
        e.scale = static_cast<int8_t>(std::clamp(scale, 1, 126));
        break;
      }
      case RK_CV:
      case RK_SB:
        e.column = mapped(e.column);
        break;
      case RK_NE:
      case RK_NL:
        e.row = mapped(e.row);
        break;
      default:
        break;
    }
  }
  locate_scaled_elements();
}

// ---------------------------------------------------------------------------
// The pass driver.

void recurse_problem() {
  begin_body();
  if (!require_problem()) return;
  if (status_letter != kLetterOptimal) {
    report_plain_error(MSG_LAST_LP_NOT_FINISHED);
    return;
  }
  const int32_t sense_mode = sense_factor < 0.0 ? OPT_MAXIMISE : OPT_MINIMISE;
  if ((problem_flags & PF_NO_BASIS) != 0) {
    begin_message(MSG_RECURSE_BARRIER_RESOLVE);
    emit_message();
  }
  // The passes start from an optimum of the current matrix, solved again
  // from the present basis.
  // No cutoff applies: the optimum must read as optimal, not as "not
  // better than the cutoff" of a search.
  const int32_t kept_algorithm = lp_algorithm;
  const double kept_cutoff = lp_driver.search_cutoff;
  lp_driver.search_cutoff = sense_factor < 0.0 ? -kInfinity : kInfinity;
  lp_algorithm = (problem_flags & PF_NO_BASIS) != 0 ? kAlgorithmBarrier + kAlgorithmForcedOffset
                                                    : kAlgorithmPrimal + kAlgorithmForcedOffset;
  optimise_lp(OPT_REOPTIMISE);
  lp_algorithm = kept_algorithm;
  lp_driver.search_cutoff = kept_cutoff;
  if (status_code != STATUS_OK) return;

  const double unscale = std::ldexp(1.0, kNeutralScaleExponent - objective_scale_exponent);
  if ((problem_flags & PF_SEARCH_RUNNING) == 0) start_clock();
  moved_count() = 0;
  refresh_factor();
  if (status_code != STATUS_OK) return;
  fix_recurse_rows();

  RunWords saved;
  saved.ifmem = icv(ic::IFMEM);
  saved.flag_bits = problem_flags & (PF_SEARCH_RUNNING | PF_CLOCK_STARTED);
  icv(ic::IFMEM) |= kIfmemNoSolutionFile;
  problem_flags = (problem_flags & ~PF_SEARCH_RUNNING) | PF_CLOCK_STARTED;

  const bool cv_entries = has_cv_entries();
  const int32_t limit = icv(ic::NRCRLP);
  bool converged = false;
  for (int32_t pass = 1; pass <= limit; ++pass) {
    const double before = objval;
    if (!update_recurse_coefficients(pass == 1)) {
      saved.restore();
      return;
    }
    free_factor_arrays();
    optimise_lp(sense_mode);
    if (status_code != STATUS_OK || lp_status == LP_UNFINISHED || check_stop_request() != 0) {
      saved.restore();
      return;
    }
    refresh_factor();
    if (status_code != STATUS_OK) {
      saved.restore();
      return;
    }
    int32_t moved = 0;
    if (cv_entries) {
      converged = count_moved_entries(moved);
    } else {
      converged = std::fabs(before - objval) <= (std::fabs(objval) + kObjectiveChangeFloor) * dcv(dc::ZTOLRC);
      moved = converged ? 0 : 1;
    }
    begin_message(MSG_RECURSE_PASS);
    insert_message_int(pass);
    insert_message_int(moved);
    insert_message_real(objval * unscale);
    emit_message();
    if (converged) break;
  }
  if (!converged) {
    begin_message(MSG_RECURSE_PASS_LIMIT);
    insert_message_int(limit);
    emit_message();
    mark_moved_columns();
    if (moved_count() == 0) moved_count() = -1;
  }
  saved.restore();
  if ((problem_flags & PF_SEARCH_RUNNING) != 0) return;

  begin_message(MSG_RECURSE_TIME);
  insert_message_int(elapsed_seconds());
  emit_message();
  const bool no_basis = (problem_flags & PF_NO_BASIS) != 0;
  const bool write_file = (icv(ic::IFMEM) & kIfmemNoSolutionFile) == 0;
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    // The file speaks of the original problem: the values as postsolve left them.
    read_original_solution([&]() {
      if (write_file) write_solution_file(no_basis ? SOLUTION_NO_BASIS : SOLUTION_AS_LEFT);
    });
  } else if (write_file) {
    write_solution_file(no_basis ? SOLUTION_NO_BASIS : SOLUTION_RECOMPUTED);
  }
}

}  // namespace kl
