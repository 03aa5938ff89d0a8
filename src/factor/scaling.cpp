#include "factor/scaling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

void zero_words32(void* destination, int64_t count) {
  if (destination != nullptr && count > 0) std::memset(destination, 0, static_cast<size_t>(count) * 4);
}

void zero_words16(void* destination, int64_t count) {
  if (destination != nullptr && count > 0) std::memset(destination, 0, static_cast<size_t>(count) * 2);
}

namespace {

constexpr const char* kScaleRoutine = "scale   ";
// Added to the load's result code when the typed entries cannot be scaled.
constexpr int32_t kTypedEntryFailure = 100000;
// The geometric-mean method stops after this many sweeps, or sooner once no
// factor moves by a power of two or more.
constexpr int kGeometricSweeps = 10;
constexpr double kLn2 = 0.69314718055994530942;
// Range sentinels of the minimum-maximum method (the infinite bound values).
constexpr double kNoLow = 1e20;
constexpr double kNoHigh = -1e20;
constexpr double kNoMaximum = -std::numeric_limits<double>::infinity();
constexpr uint32_t kFlagBits = 0x00FFFFFFu;

// The arrays every pass reads; scale_work holds the working exponents.
struct ScaleView {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> work = int_array(ARR_SCALE_WORK);

  bool in_rows(int32_t r) const { return r >= 1 && r <= nrow; }
  bool n_row(int32_t r) const { return (row_type[r] & ROW_TYPE_MASK) == ROW_N; }
  bool has(int32_t p, uint32_t bits) const { return (static_cast<uint32_t>(status[p]) & bits) != 0; }
  // Working exponent of p as a power (0 reads as neutral).
  int32_t power(int32_t p) const { return (work[p] == 0 ? kNeutralScaleExponent : work[p]) - kNeutralScaleExponent; }
};

// log2 |a| of an entry that carries scale information. Zero, infinite and
// NaN entries carry none: they never reach the logarithm.
bool log2_magnitude(double a, double& out) {
  a = std::fabs(a);
  if (!(a > 0.0) || !std::isfinite(a)) return false;
  out = std::log2(a);
  return true;
}

int32_t clamp_exponent(double v) {
  return static_cast<int32_t>(std::clamp(v, static_cast<double>(kMinScaleExponent),
                                         static_cast<double>(kMaxScaleExponent)));
}

// The new exponent after a shift of trunc(magnitude) powers of two.
int32_t shifted_exponent(int32_t v, double log2_magnitude_value) {
  return clamp_exponent(static_cast<double>(v) - std::trunc(log2_magnitude_value));
}

int32_t exponent_or_neutral(int32_t v) { return v == 0 ? kNeutralScaleExponent : v; }

// The positions that keep factor 1 whatever was asked: the row named by
// OBCNAM, the objective row when IFSCAL asks for it, and the quadratic
// columns, whose coefficients are stored unscaled. Applied where exponents
// are chosen, not in apply_scale_factors, so that undoing a scaling with
// 128 - e stays exact and the stamped bytes always match the applied factors.
void keep_positions_unscaled() {
  const OneBased<int32_t> work = int_array(ARR_SCALE_WORK);
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  if (objective_name_row >= 1 && objective_name_row <= nrow) work[objective_name_row] = kNeutralScaleExponent;
  if ((icv(ic::IFSCAL) & SCALE_KEEP_OBJECTIVE_ROW) && store.objective_row >= 1 && store.objective_row <= nrow)
    work[store.objective_row] = kNeutralScaleExponent;
  for (int32_t p = store.first_col; p <= nseq; ++p)
    if (static_cast<uint32_t>(status[p]) & PS_QUADRATIC) work[p] = kNeutralScaleExponent;
}

// The solver work arrays lend scale_work and the scratch of the passes.
// Returns 0, or the id of an array that could not be allocated.
int32_t prepare_work_arrays() {
  if ((problem_flags & PF_WORK_ARRAYS) && array_cells[ARR_SCALE_WORK] != nullptr) return 0;
  return alloc_solver_work_arrays();
}

void stamp_exponents(int32_t from, int32_t to) {
  const ScaleView s;
  for (int32_t p = from; p <= to; ++p)
    s.status[p] = static_cast<int32_t>((static_cast<uint32_t>(s.status[p]) & kFlagBits) |
                                       (static_cast<uint32_t>(exponent_or_neutral(s.work[p])) << 24));
}

void clear_exponents(int32_t from, int32_t to) {
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = from; p <= to; ++p) status[p] = static_cast<int32_t>(static_cast<uint32_t>(status[p]) & kFlagBits);
}

void clear_scale_work() {
  const OneBased<int32_t> work = int_array(ARR_SCALE_WORK);
  for (int32_t p = 1; p <= nseq; ++p) work[p] = 0;
}

// Undoing a scaling: the CV tolerances return to caller units and the
// exponent bytes of the coefficient kinds become neutral until new factors
// are known (computing them from the inverse factors could leave the range).
void unscale_typed_entries() {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return;
  const ScaleView s;
  for (int32_t i = 0; i < recurse_entry_count; ++i) {
    RecurseEntry& entry = entries[i];
    if (entry.kind == RK_CV) {
      float tolerance;
      std::memcpy(&tolerance, &entry.a, sizeof tolerance);
      const int32_t c = entry.column >= 1 && entry.column <= nseq ? exponent_or_neutral(s.work[entry.column]) : 64;
      tolerance *= static_cast<float>(scale_powers[128 - c]);
      std::memcpy(&entry.a, &tolerance, sizeof tolerance);
    } else if (entry.kind >= RK_DV && entry.kind <= RK_CL) {
      entry.scale = static_cast<int8_t>(kNeutralScaleExponent);
    }
  }
}

void report_no_memory(int32_t id) {
  begin_message(MSG_ARRAY_NO_MEMORY);
  insert_message_int(id);
  emit_message();
  status_code = STATUS_REPORTED;
}

// KLSCALE's arguments, checked before anything changes.
bool caller_exponents_valid(const int32_t* row_exponents, const int32_t* col_exponents, int32_t given) {
  if (given == 1 || given == 2) {
    // The missing argument: 2 (columns) when only rows came, else 1.
    report_error(MSG_SCALE_ONE_ARRAY, given == 1 ? 2 : 1, kScaleRoutine);
    return false;
  }
  if (given == 0) return true;
  for (int32_t r = 1; r <= nrow; ++r)
    if (std::abs(row_exponents[r - 1]) > kMaxCallerScalePower) {
      report_error(MSG_SCALE_ROW_EXPONENT, row_to_caller(r), kScaleRoutine);
      return false;
    }
  for (int32_t p = store.first_col; p <= nseq; ++p)
    if (std::abs(col_exponents[p - store.first_col]) > kMaxCallerScalePower) {
      report_error(MSG_SCALE_COLUMN_EXPONENT, col_to_caller(p), kScaleRoutine);
      return false;
    }
  return true;
}

void run_scaling(int32_t& result, int32_t& error, bool typed_entries) {
  error = 0;
  if (const int32_t missing = prepare_work_arrays()) {
    error = missing;
    return;
  }
  const OneBased<int32_t> work = int_array(ARR_SCALE_WORK);
  for (int32_t p = 1; p <= nseq; ++p) work[p] = kNeutralScaleExponent;

  const int32_t method = icv(ic::IFSCAL);
  if (method & (SCALE_MIN_MAX | SCALE_GEOMETRIC)) {
    scale_matrix();
  } else if (method & SCALE_MAX_ROWS_FIRST) {
    if (method & SCALE_FIRST_PASS) row_scale_pass();
    if (method & SCALE_SECOND_PASS) column_scale_pass();
    if (method & SCALE_THIRD_PASS) row_scale_pass();
  } else if (method & SCALE_MAX_COLS_FIRST) {
    if (method & SCALE_FIRST_PASS) column_scale_pass();
    if (method & SCALE_SECOND_PASS) row_scale_pass();
    if (method & SCALE_THIRD_PASS) column_scale_pass();
  } else {
    if (method & SCALE_FIRST_PASS) row_scale_pass_alt();
    if (method & SCALE_SECOND_PASS) column_scale_pass_alt();
    if (method & SCALE_THIRD_PASS) row_scale_pass_alt();
  }
  keep_positions_unscaled();
  apply_scale_factors();
  if (typed_entries) {
    int32_t failed = 0;
    scale_typed_entries(failed);
    if (failed) {
      result += kTypedEntryFailure;
      error = 1;
    }
  }
  stamp_exponents(1, nseq);
  clear_scale_work();
}

}  // namespace

void scale_problem(int32_t& result, int32_t& error) { run_scaling(result, error, !(problem_flags & PF_LOADED)); }

// ---------------------------------------------------------------------------
// Maximum rule: every row (column) is shifted so that its largest scaled
// magnitude lies in [1, 2) where the clamp allows.

void row_scale_pass() {
  const ScaleView s;
  const OneBased<double> largest = real_array(ARR_PHASE1_VALUES);
  for (int32_t r = 1; r <= nrow; ++r) largest[r] = kNoMaximum;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (s.has(p, PS_QUADRATIC)) continue;
    const int32_t column_power = s.power(p);
    for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
      const int32_t r = s.elem_row[k];
      double magnitude;
      if (!s.in_rows(r) || s.n_row(r) || !log2_magnitude(s.elem_value[k], magnitude)) continue;
      largest[r] = std::max(largest[r], magnitude + s.power(r) + column_power);
    }
  }
  for (int32_t r = 1; r <= nrow; ++r)
    if (largest[r] > kNoMaximum) s.work[r] = shifted_exponent(exponent_or_neutral(s.work[r]), largest[r]);
}

void column_scale_pass() {
  const ScaleView s;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (s.has(p, PS_ENTITY | PS_QUADRATIC)) continue;
    double largest = kNoMaximum;
    for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
      const int32_t r = s.elem_row[k];
      double magnitude;
      if (!s.in_rows(r) || s.n_row(r) || !log2_magnitude(s.elem_value[k], magnitude)) continue;
      largest = std::max(largest, magnitude + s.power(r) + s.power(p));
    }
    if (largest > kNoMaximum && std::trunc(largest) != 0.0)
      s.work[p] = shifted_exponent(exponent_or_neutral(s.work[p]), largest);
  }
}

// Geometric-mean rule: every row (column) is shifted so that the mean of its
// scaled log magnitudes lies near 0.

void row_scale_pass_alt() {
  const ScaleView s;
  const OneBased<double> sum = real_array(ARR_PHASE1_VALUES);
  const OneBased<double> count = real_array(ARR_PIVOT_ROW);
  for (int32_t r = 1; r <= nrow; ++r) sum[r] = count[r] = 0.0;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (s.has(p, PS_FIXED | PS_QUADRATIC)) continue;
    for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
      const int32_t r = s.elem_row[k];
      double magnitude;
      if (!s.in_rows(r) || s.n_row(r) || !log2_magnitude(s.elem_value[k], magnitude)) continue;
      sum[r] += magnitude + s.power(r) + s.power(p);
      count[r] += 1.0;
    }
  }
  for (int32_t r = 1; r <= nrow; ++r)
    if (count[r] != 0.0) s.work[r] = shifted_exponent(exponent_or_neutral(s.work[r]), sum[r] / count[r]);
}

void column_scale_pass_alt() {
  const ScaleView s;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (s.has(p, PS_FIXED | PS_ENTITY | PS_QUADRATIC)) continue;
    double sum = 0.0;
    int32_t count = 0;
    for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
      const int32_t r = s.elem_row[k];
      double magnitude;
      if (!s.in_rows(r) || s.n_row(r) || !log2_magnitude(s.elem_value[k], magnitude)) continue;
      sum += magnitude + s.power(r) + s.power(p);
      ++count;
    }
    if (count != 0 && std::trunc(sum / count) != 0.0)
      s.work[p] = shifted_exponent(exponent_or_neutral(s.work[p]), sum / count);
  }
}

// ---------------------------------------------------------------------------
// Iterative methods. rho holds a log2 factor per position (the natural-log
// factor divided by ln 2); the sweep messages report changes in natural-log
// units.

namespace {

void min_max_sweeps(const ScaleView& s, OneBased<double> rho) {
  const OneBased<double> low = real_array(ARR_PIVOT_ROW);
  const OneBased<double> high = real_array(ARR_PHASE1_VALUES);
  const int32_t sweeps = icv(ic::SSV004);
  for (int32_t sweep = 1; sweep <= sweeps; ++sweep) {
    for (int32_t r = 1; r <= nrow; ++r) {
      low[r] = kNoLow;
      high[r] = kNoHigh;
    }
    for (int32_t p = store.first_col; p <= nseq; ++p) {
      if (s.has(p, PS_FIXED)) continue;
      for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
        const int32_t r = s.elem_row[k];
        double magnitude;
        if (!s.in_rows(r) || s.has(r, PS_FREE) || !log2_magnitude(s.elem_value[k], magnitude)) continue;
        const double t = magnitude + rho[p];
        low[r] = std::min(low[r], t);
        high[r] = std::max(high[r], t);
      }
    }
    for (int32_t r = 1; r <= nrow; ++r) rho[r] = -(low[r] + high[r]) * 0.5;

    double largest_change = 0.0;
    for (int32_t p = store.first_col; p <= nseq; ++p) {
      if (s.has(p, PS_FIXED | PS_ENTITY | PS_QUADRATIC)) continue;
      double lo = kNoLow;
      double hi = kNoHigh;
      for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
        const int32_t r = s.elem_row[k];
        double magnitude;
        if (!s.in_rows(r) || s.n_row(r) || !log2_magnitude(s.elem_value[k], magnitude)) continue;
        const double t = magnitude + rho[r];
        lo = std::min(lo, t);
        hi = std::max(hi, t);
      }
      const double updated = -(lo + hi) * 0.5;
      largest_change = std::max(largest_change, std::fabs(updated - rho[p]));
      rho[p] = updated;
    }
    if (icv(ic::IFMSG) != 0) {
      begin_message(MSG_SCALE_MINMAX_SWEEP);
      insert_message_real4(static_cast<float>(largest_change * kLn2));
      emit_message();
    }
  }
}

void geometric_sweeps(const ScaleView& s, OneBased<double> rho) {
  const OneBased<double> sum = real_array(ARR_PIVOT_ROW);
  const OneBased<int32_t> count = s.work;  // the exponents are set from rho afterwards
  for (int32_t r = 1; r <= nrow; ++r) sum[r] = count[r] = 0;
  for (int32_t p = store.first_col; p <= nseq; ++p) sum[p] = count[p] = 0;
  // The entries that take part: rows that constrain, columns outside the
  // quadratic objective, magnitudes that carry information.
  auto takes_part = [&](int32_t p, int32_t k, double& magnitude) {
    const int32_t r = s.elem_row[k];
    return !s.has(p, PS_QUADRATIC) && s.in_rows(r) && !s.n_row(r) && log2_magnitude(s.elem_value[k], magnitude);
  };
  for (int32_t p = store.first_col; p <= nseq; ++p)
    for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
      double magnitude;
      if (!takes_part(p, k, magnitude)) continue;
      const int32_t r = s.elem_row[k];
      ++count[r];
      ++count[p];
      sum[r] += magnitude;
      sum[p] += magnitude;
    }

  for (int sweep = 1; sweep <= kGeometricSweeps; ++sweep) {
    for (int32_t r = 1; r <= nrow; ++r) rho[r] = -sum[r];
    for (int32_t p = store.first_col; p <= nseq; ++p)
      for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
        double magnitude;
        if (takes_part(p, k, magnitude)) rho[s.elem_row[k]] -= rho[p];
      }
    for (int32_t r = 1; r <= nrow; ++r) rho[r] = count[r] != 0 ? rho[r] / count[r] : 0.0;

    double largest_change = 0.0;
    for (int32_t p = store.first_col; p <= nseq; ++p) {
      if (s.has(p, PS_ENTITY | PS_QUADRATIC)) continue;
      double t = -sum[p];
      for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
        double magnitude;
        if (takes_part(p, k, magnitude)) t -= rho[s.elem_row[k]];
      }
      const double updated = count[p] != 0 ? t / count[p] : 0.0;
      largest_change = std::max(largest_change, std::fabs(updated - rho[p]));
      rho[p] = updated;
    }
    if (icv(ic::IFMSG) != 0) {
      begin_message(MSG_SCALE_GEOMEAN_SWEEP);
      insert_message_real4(static_cast<float>(largest_change * kLn2));
      emit_message();
    }
    // A change below one power of two (ln 2 in natural-log units) cannot move
    // an exponent by more than one.
    if (largest_change < 1.0) break;
  }
}

}  // namespace

void scale_matrix() {
  const ScaleView s;
  const OneBased<double> rho = real_array(ARR_REDUCED_COSTS);
  for (int32_t p = 1; p <= nseq; ++p) rho[p] = 0.0;
  const int32_t method = icv(ic::IFSCAL);
  if (method & SCALE_MIN_MAX) min_max_sweeps(s, rho);
  if (method & SCALE_GEOMETRIC) geometric_sweeps(s, rho);
  for (int32_t r = 1; r <= nrow; ++r)
    s.work[r] = s.n_row(r) ? kNeutralScaleExponent : clamp_exponent(std::trunc(rho[r] + kNeutralScaleExponent));
  for (int32_t p = store.first_col; p <= nseq; ++p)
    s.work[p] = clamp_exponent(std::trunc(rho[p] + kNeutralScaleExponent));
}

// ---------------------------------------------------------------------------

void apply_scale_factors() {
  const ScaleView s;
  const OneBased<double> lower = real_array(ARR_LOWER);
  const OneBased<double> upper = real_array(ARR_UPPER);
  const OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  const OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  const OneBased<double> objective = real_array(ARR_OBJECTIVE);
  // Working bounds at or beyond 1e8 are treated as infinite by the optimisers.
  constexpr double kWorkingInfinity = 1e8;

  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t v = exponent_or_neutral(s.work[p]);
    const double f = scale_powers[v];
    if (v != kNeutralScaleExponent) {
      if (upper[p] != kInfinity) upper[p] /= f;
      if (lower[p] != -kInfinity) lower[p] /= f;
      if (work_upper && work_upper[p] < kWorkingInfinity) work_upper[p] /= f;
      if (work_lower && work_lower[p] > -kWorkingInfinity) work_lower[p] /= f;
    }
    for (int32_t k = s.col_start[p]; k < s.col_start[p + 1]; ++k) {
      const int32_t r = s.elem_row[k];
      if (s.in_rows(r)) s.elem_value[k] *= scale_powers[exponent_or_neutral(s.work[r])] * f;
    }
    if (objective[p] != 0.0) objective[p] *= f;
  }

  const OneBased<double> rhs = real_array(ARR_RHS);
  const OneBased<double> work_rhs = real_array(ARR_WORK_RHS);
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t v = exponent_or_neutral(s.work[i]);
    if (v == kNeutralScaleExponent) continue;
    const double f = scale_powers[v];
    if (work_rhs) work_rhs[i] *= f;
    if (rhs) rhs[i] *= f;
    if (upper[i] != 0.0 && upper[i] != kInfinity) upper[i] *= f;
  }

  dcv(kObjectiveScaleSlot) = 1.0;
  objective_scale_exponent = kNeutralScaleExponent;

  // Once the LP driver has run, the entity data belong to it.
  if (problem_flags & PF_DRIVER_SETUP) return;
  const OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  const OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  if (!type || !entity_column) return;
  const OneBased<int32_t> set_start = int_array(ARR_SET_START);
  const OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  const OneBased<double> member_ref = real_array(ARR_SET_MEMBER_REF);
  const OneBased<double> limit = real_array(ARR_SEMICONT_LIMIT);
  const OneBased<double> semicont_upper = real_array(ARR_SEMICONT_UPPER);
  for (int32_t k = 1; k <= nglent; ++k) {
    const int32_t t = type[k] & ENT_TYPE_MASK;
    if (t == ENT_INTEGER || t == ENT_BINARY || t == ENT_PARTIAL_INTEGER) continue;
    if (t == ENT_SET1 || t == ENT_SET2) {
      if (!set_start || !member_ref) continue;
      const int32_t set = entity_column[k];
      for (int32_t m = set_start[set] + 1; m <= set_start[set + 1]; ++m)
        member_ref[m] *= scale_powers[exponent_or_neutral(s.work[member_column[m]])];
    } else {
      const double inverse = scale_powers[128 - exponent_or_neutral(s.work[entity_column[k]])];
      if (limit) limit[k] *= inverse;
      if (semicont_upper) semicont_upper[k] *= inverse;
    }
  }
}

void scale_typed_entries(int32_t& error) {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return;
  const ScaleView s;
  auto exponent_at = [&](int32_t position) {
    return position >= 1 && position <= nseq ? exponent_or_neutral(s.work[position]) : kNeutralScaleExponent;
  };
  for (int32_t i = 1; i <= recurse_entry_count; ++i) {
    RecurseEntry& entry = entries[i - 1];
    int32_t e = 0;
    switch (entry.kind) {
      case RK_CV: {
        float tolerance;
        std::memcpy(&tolerance, &entry.a, sizeof tolerance);
        tolerance *= static_cast<float>(scale_powers[128 - exponent_at(entry.column)]);
        std::memcpy(&entry.a, &tolerance, sizeof tolerance);
        continue;
      }
      case RK_DV:
        e = exponent_at(entry.column) + exponent_at(entry.row) + exponent_at(entry.a) - exponent_at(entry.b) - 64;
        break;
      case RK_MU:
        e = exponent_at(entry.column) + exponent_at(entry.row) + exponent_at(entry.a) + exponent_at(entry.b) - 192;
        break;
      case RK_CL:
        e = exponent_at(entry.column) + exponent_at(entry.row) + exponent_at(entry.a) - 128;
        break;
      default:
        continue;
    }
    // The byte is signed: 127 and above do not fit with room to spare.
    if (e < 1 || e > 126) {
      begin_message(MSG_SCALE_TYPED_ENTRY);
      insert_message_int(i);
      emit_message();
      error = 1;
      return;
    }
    entry.scale = static_cast<int8_t>(e);
  }
}

void rescale_problem(const int32_t* row_exponents, const int32_t* col_exponents, int32_t given) {
  begin_body();
  if (!require_problem()) return;
  if (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    return;
  }
  if (!caller_exponents_valid(row_exponents, col_exponents, given)) return;
  if (!(problem_flags & PF_COLUMN_COPY)) {
    if (!(problem_flags & PF_ROW_COPY) || !(problem_flags & PF_WORK_ARRAYS)) {
      report_plain_error(MSG_NO_PROBLEM);
      return;
    }
    build_column_copy();
  }
  if (const int32_t missing = prepare_work_arrays()) {
    report_no_memory(missing);
    return;
  }
  free_factor_arrays();

  const ScaleView s;
  const int32_t first = store.first_col;
  for (int32_t p = 1; p <= nseq; ++p) s.work[p] = 128 - scale_exponent(s.status[p]);
  apply_scale_factors();
  unscale_typed_entries();
  clear_exponents(1, nrow);
  clear_exponents(first, nseq);

  if (given != 0) {
    for (int32_t p = 1; p <= nseq; ++p) s.work[p] = kNeutralScaleExponent;
    for (int32_t r = 1; r <= nrow; ++r) s.work[r] = row_exponents[r - 1] + kNeutralScaleExponent;
    for (int32_t p = first; p <= nseq; ++p) s.work[p] = col_exponents[p - first] + kNeutralScaleExponent;
    keep_positions_unscaled();
    apply_scale_factors();
    int32_t failed = 0;
    scale_typed_entries(failed);
    stamp_exponents(1, nrow);
    stamp_exponents(first, nseq);
    clear_scale_work();
    if (failed) status_code = STATUS_REPORTED;
  } else {
    // Fresh factors for the typed entries too: the undo above left them
    // neutral, and a load's scaling is no longer running to fill them.
    int32_t result = 0;
    int32_t failed = 0;
    run_scaling(result, failed, true);
    if (failed) status_code = STATUS_REPORTED;
  }
  problem_flags &= ~PF_ROW_COPY;
}

}  // namespace kl
