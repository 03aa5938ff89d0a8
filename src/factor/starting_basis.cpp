#include "factor/starting_basis.h"

#include <algorithm>
#include <cmath>

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr uint32_t kNonbasicBits = PS_BASIC | PS_AT_UPPER | PS_NONBASIC_BETWEEN;  // 0x106
constexpr uint32_t kBoundSideBits = PS_AT_UPPER | PS_NONBASIC_BETWEEN;          // 0x104
constexpr uint32_t kInfeasibilityBits = RF_INFEAS_ABOVE | RF_INFEAS_BELOW;      // 0x30
constexpr int32_t kPrimalInfeasibleStatus = 2;                                  // lp_status

void set_value(int32_t variable, double value) {
  OneBased<double> x = real_array(ARR_X);
  if (x) x[variable] = value;
}

// The working right-hand side absorbs a shift d of the basic variable j, so
// that B x_B = working_rhs - N x_N still holds.
void absorb_shift(int32_t j, double d) {
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  if (!rhs) return;
  if (j < store.first_col) {
    rhs[j] += d;
    return;
  }
  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t k = start[j]; k < start[j + 1]; ++k) rhs[elem_row[k]] += d * elem_value[k];
}

void report_wrong_size(int32_t found) {
  begin_message(MSG_BASIS_WRONG_SIZE);
  insert_message_int(found);
  insert_message_int(nrow);
  emit_message();
}

// Costs of the basic variables, negated, into the work vector (state 1). In
// the primal's phase 1 without big-M the costs are 0, and rows marked
// infeasible carry the big-M penalty.
void load_basic_costs() {
  clear_work_vector();
  OneBased<double> x = work_vector();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  const double sense = dcv(dc::SENSE_FACTOR);
  const bool primal = algorithm_kind() == 0;
  const bool use_costs = !primal || ninf == 0 || bigm_mode == 1;
  for (int32_t i = 1; i <= factor.factor_dimension; ++i) {
    double value = use_costs ? -sense * cost[header[i]] : 0.0;
    if (primal) {
      if ((marks[i] & RF_INFEAS_BELOW) != 0) value += dcv(dc::BIGM);
      if ((marks[i] & RF_INFEAS_ABOVE) != 0) value -= dcv(dc::BIGM);
    }
    x[i] = value;
  }
  factor.work_vector_state = WV_CLEAR_ALL;
}

}  // namespace

int32_t algorithm_kind() { return lp_algorithm >= 3 ? lp_algorithm - 3 : lp_algorithm; }

void set_slack_basis() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t i = 1; i <= nrow + spare_rows_left; ++i) {
    header[i] = i;
    status[i] = static_cast<int32_t>((static_cast<uint32_t>(status[i]) & ~kNonbasicBits) | PS_BASIC);
  }
  for (int32_t j = store.first_col; j <= nseq; ++j)
    status[j] = static_cast<int32_t>(static_cast<uint32_t>(status[j]) & ~kNonbasicBits);
  problem_flags &= ~PF_FACTOR_VALID;
}

void set_basis_header() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t found = 0;
  for (int32_t i = 1; i <= nrow; ++i)
    if ((status[i] & PS_BASIC) != 0) ++found;
  for (int32_t j = store.first_col; j <= nseq; ++j)
    if ((status[j] & PS_BASIC) != 0) ++found;
  int32_t k = 0;
  for (int32_t i = 1; i <= nrow; ++i)
    if ((status[i] & PS_BASIC) != 0) header[++k] = i;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    if ((status[j] & PS_BASIC) == 0) continue;
    if (k < nrow) {
      header[++k] = j;
      continue;
    }
    status[j] &= ~PS_BASIC;
    if ((status[j] & PS_FREE) != 0) {
      status[j] |= PS_NONBASIC_BETWEEN;
      set_value(j, 0.0);
    }
  }
  for (int32_t i = 1; i <= nrow && k < nrow; ++i) {
    if ((status[i] & PS_BASIC) != 0) continue;
    status[i] = (status[i] & ~(PS_BASIC | PS_AT_UPPER)) | PS_BASIC;
    header[++k] = i;
  }
  if (found != nrow) report_wrong_size(found);
  problem_flags &= ~PF_FACTOR_VALID;
}

void normalise_status_flags() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  inequality_row_count = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((row_type[i] & (ROW_G | ROW_L)) != 0) ++inequality_row_count;
    int32_t s = status[i];
    if ((s & PS_BASIC) != 0) continue;
    if ((s & PS_AT_UPPER) != 0) {
      if ((s & PS_FINITE_UPPER) == 0) s &= ~PS_AT_UPPER;
    } else if ((s & PS_FREE) == 0 && (s & PS_FINITE_LOWER) == 0 && (s & PS_FINITE_UPPER) != 0) {
      s |= PS_AT_UPPER;
    }
    status[i] = s;
  }
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    uint32_t s = static_cast<uint32_t>(status[j]);
    if ((s & PS_BASIC) != 0) {
      s &= ~PS_NONBASIC_BETWEEN;
    } else if ((s & PS_FREE) != 0) {
      s = (s & ~kBoundSideBits) | PS_NONBASIC_BETWEEN;
    } else if ((s & PS_AT_UPPER) != 0) {
      s &= ~PS_NONBASIC_BETWEEN;
      if ((s & PS_FINITE_UPPER) == 0) {
        s &= ~PS_AT_UPPER;
        if ((s & PS_FINITE_LOWER) == 0) {
          s |= PS_NONBASIC_BETWEEN;
          set_value(j, 0.0);
        }
      }
    } else if ((s & PS_NONBASIC_BETWEEN) != 0) {
      const double value = x ? x[j] : 0.0;
      if (value > upper[j])
        s = (s & ~kBoundSideBits) | PS_AT_UPPER;
      else if (value < lower[j])
        s &= ~kBoundSideBits;
    } else if ((s & PS_FINITE_LOWER) == 0 && (s & PS_FINITE_UPPER) != 0) {
      s |= PS_AT_UPPER;
    }
    status[j] = static_cast<int32_t>(s);
  }
}

void check_basic_feasibility() {
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<int32_t> marks = int_array(ARR_ROW_TYPE);
  if (!values || !marks) return;
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  previous_ninf = ninf;
  ninf = 0;
  double& suminf = dcv(dc::SUMINF);
  suminf = 0.0;
  low_value_count = 0;
  const double t = dcv(dc::ZTOLZE);
  const double shift_limit = dcv(dc::ZTOLZS);
  const bool shifting = algorithm_kind() == 0 && previous_ninf == 0 && perturbation_phase > 2;
  auto shift_onto = [&](int32_t i, int32_t j, double bound) {
    absorb_shift(j, bound - values[i]);
    values[i] = bound;
    shift_count = std::max(shift_count, 1) + 1;
    marks[i] &= ~kInfeasibilityBits;
  };
  auto mark_infeasible = [&](int32_t i, uint32_t bit, double amount) {
    ++ninf;
    marks[i] = static_cast<int32_t>((static_cast<uint32_t>(marks[i]) & ~kInfeasibilityBits) | bit);
    suminf += amount;
  };
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t j = header[i];
    if ((status[j] & PS_FREE) != 0) {
      marks[i] = static_cast<int32_t>((static_cast<uint32_t>(marks[i]) & ~kInfeasibilityBits) | RF_FREE_BASIC);
      continue;
    }
    marks[i] &= ~RF_FREE_BASIC;
    const double value = values[i];
    if ((status[j] & PS_FINITE_LOWER) != 0 && value <= lower[j] - t) {
      if (shifting && value > lower[j] - shift_limit)
        shift_onto(i, j, lower[j]);
      else
        mark_infeasible(i, RF_INFEAS_BELOW, lower[j] - value);
      continue;
    }
    if (value < t) ++low_value_count;
    if ((status[j] & PS_FINITE_UPPER) != 0 && value > upper[j] + t) {
      if (shifting && value <= upper[j] + shift_limit)
        shift_onto(i, j, upper[j]);
      else
        mark_infeasible(i, RF_INFEAS_ABOVE, value - upper[j]);
      continue;
    }
    marks[i] &= ~kInfeasibilityBits;
  }
  if (perturbation_phase == 1 && ninf == 0) perturbation_phase = 3;
  if (icv(ic::IFMSG) > 2) {
    begin_message(MSG_BASIC_FEASIBILITY_DEBUG);
    insert_message_int(itcnt);
    insert_message_real(dcv(dslot::kDebugValue111));
    insert_message_real(suminf);
    insert_message_real(dcv(dc::OBJVAL));
    emit_message();
  }
}

void clear_mark_bits() {
  if (marks_exist == 0) return;
  marks_exist = 0;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t i = 1; i <= nrow; ++i) status[i] &= ~PS_MARK;
  for (int32_t j = store.first_col; j <= nseq; ++j) status[j] &= ~PS_MARK;
}

void compute_duals() {
  OneBased<double> y = work_vector();
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const bool factor_valid = (problem_flags & PF_FACTOR_VALID) != 0;
  if (factor_valid) {
    clear_work_vector();
    const double sense = dcv(dc::SENSE_FACTOR);
    for (int32_t i = 1; i <= factor.factor_dimension; ++i) y[i] = -sense * cost[header[i]];
    factor.work_vector_state = WV_CLEAR_ALL;
    basis_btran_work_vector();
  }
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> index = int_array(ARR_FACTOR_INDEX);
  OneBased<float> pairs = float_array(ARR_ROW_PRICES);
  const double g = dcv(dc::RTOLPS) * dcv(kObjectiveScaleSlot);
  const double drop = dcv(dc::ZTETA);
  const bool permuted = factor.factor_permuted != 0 && index;
  for (int32_t i = 1; i <= nrow; ++i) {
    const double s = scale_power(2 * kNeutralScaleExponent - scale_exponent(status[i]));
    const double lower_bound = (status[i] & PS_FINITE_UPPER) != 0 ? -g * s : 0.0;
    const double upper_bound = (status[i] & PS_FINITE_LOWER) != 0 ? g * s : 0.0;
    // Without a valid factor there are no duals to speak of: they count as 0.
    double dual = factor_valid ? y[permuted ? index[i] : i] : 0.0;
    if (std::fabs(dual) < drop) dual = 0.0;
    pairs[i] = static_cast<float>(std::max(dual, upper_bound));
    pairs[nrow + i] = static_cast<float>(std::min(dual, lower_bound));
  }
}

void invert_current_basis() {
  const int32_t quiet = icv(ic::IQUIET);
  icv(ic::IQUIET) = 1;
  factor.factor_permuted = 0;
  set_basis_header();
  invert_basis(InvertReason::kRecompute);
  icv(ic::IQUIET) = quiet;
}

void reinvert_and_recompute() {
  if ((problem_flags & PF_NO_BASIS) != 0 || nqelem > 0) return;
  if ((problem_flags & PF_FACTOR_VALID) == 0) {
    invert_current_basis();
    if ((problem_flags & PF_FACTOR_VALID) == 0) return;
  }
  load_basic_costs();
  basis_btran_work_vector();

  OneBased<double> y = work_vector();
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
  const bool permuted = factor.factor_permuted != 0 && rows;
  for (int32_t k = 1; k <= nrow; ++k) d[permuted ? rows[k] : k] = y[k];

  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> values = real_array(ARR_BASIC_VALUES);
  OneBased<double> x = real_array(ARR_X);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t i = 1; i <= nrow; ++i) x[header[i]] = values[i];
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((status[i] & PS_BASIC) != 0) continue;
    if ((status[i] & PS_AT_UPPER) != 0)
      x[i] = upper[i];
    else if ((status[i] & PS_NONBASIC_BETWEEN) == 0)
      x[i] = 0.0;
  }
  const bool infeasible = lp_status == kPrimalInfeasibleStatus;
  const double bigm = dcv(dc::BIGM);
  if (infeasible && algorithm_kind() == 0 && dcv(dc::ZTETA) <= bigm)
    for (int32_t i = 1; i <= nrow; ++i) d[i] /= bigm;

  OneBased<int32_t> start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const double sense = dcv(dc::SENSE_FACTOR);
  const bool with_costs = !(infeasible && bigm_mode == 0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    double dj = 0.0;
    for (int32_t k = start[j]; k < start[j + 1]; ++k) dj += d[elem_row[k]] * elem_value[k];
    if (with_costs) dj += sense * cost[j];
    d[j] = dj;
    uint32_t s = static_cast<uint32_t>(status[j]);
    if ((s & PS_BASIC) != 0) {
      d[j] = 0.0;
      continue;
    }
    if ((s & PS_FIXED) != 0) {
      s = dj < 0.0 ? (s | PS_AT_UPPER) : (s & ~PS_AT_UPPER);
      status[j] = static_cast<int32_t>(s);
    }
    if ((s & PS_NONBASIC_BETWEEN) != 0) continue;
    x[j] = (s & PS_AT_UPPER) != 0 ? upper[j] : lower[j];
  }
}

}  // namespace kl
