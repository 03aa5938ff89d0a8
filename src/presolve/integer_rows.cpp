// Rows over integer columns: integer columns with working bounds [0, 1]
// become binaries, binary coefficients of one-sided rows are strengthened
// (or the row proves redundant and is dropped), and rows made only of
// integer columns are divided by the common divisor of their coefficients
// with the right-hand side rounded to the integer it allows.
#include "presolve/integer_rows.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "presolve/activity.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// Row-type flag of rows whose coefficients the divisor step leaves alone.
constexpr int32_t kRowKeepsCoefficients = 0x10000;
// Below this a remainder of the divisor search counts as none, and a
// divisor as too small to use.
constexpr double kDivisorStep = 0.001;
// A final remainder above this means the magnitudes share no divisor.
constexpr double kDivisorRemainder = 1e-10;

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }

bool row_live(int32_t i) {
  return i >= 1 && i <= nrow && (status_of(i) & PS_FREE) == 0 && (int_array(ARR_ROW_TYPE)[i] & ROW_N) == 0;
}

void drop_row(int32_t i) {
  int_array(ARR_POS_STATUS)[i] =
      static_cast<int32_t>((status_of(i) | PS_FREE) & ~static_cast<uint32_t>(PS_BOTH_FINITE));
  real_array(ARR_LOWER)[i] = -kInfinity;
  real_array(ARR_UPPER)[i] = kInfinity;
}

// The coefficient a of a binary column in row i, strengthened where the
// row's one finite activity bound allows.
void strengthen_binary_entry(int32_t i, double& a) {
  const double ztolda = dcv(dc::ZTOLDA);
  const double ztolze = dcv(dc::ZTOLZE);
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> activity_max = real_array(ARR_WORK_UPPER);
  OneBased<double> activity_min = real_array(ARR_WORK_LOWER);
  const int32_t type = int_array(ARR_ROW_TYPE)[i];
  const double b = rhs[i];
  auto settle_rhs = [&](double t) { rhs[i] = std::fabs(t) < ztolze ? 0.0 : t; };
  if ((type & ROW_L) != 0 && presolve_activity.max_infinite[static_cast<size_t>(i)] == 0 &&
      (status_of(i) & PS_FINITE_UPPER) == 0) {
    const double maxact = activity_max[i];
    if (a <= 0.0) {
      const double d = b - maxact;
      if (d < -ztolda && a < d) {
        a = d;
        ++presolve_state.rounded_bounds;
      }
    } else if (const double t = maxact - a; t < b) {
      const double d = maxact - b;
      if (d >= ztolze) {
        activity_max[i] = maxact + d - a;
        a = d;
        settle_rhs(t);
        ++presolve_state.rounded_bounds;
      } else {
        drop_row(i);
      }
    }
  } else if ((type & ROW_G) != 0 && presolve_activity.min_infinite[static_cast<size_t>(i)] == 0) {
    const double minact = activity_min[i];
    if (a >= 0.0) {
      const double d = b - minact;
      if (ztolda < d && d < a) {
        a = d;
        ++presolve_state.rounded_bounds;
      }
    } else if (const double t = minact - a; t > b) {
      const double d = minact - b;
      if (d <= -ztolze) {
        activity_min[i] = minact + d - a;
        a = d;
        settle_rhs(t);
        ++presolve_state.rounded_bounds;
      } else {
        drop_row(i);
      }
    }
  }
}

void binaries_and_coefficients() {
  // Strengthening reads the rows' activity bounds; without them it waits.
  const bool activities = presolve_activity.max_infinite.size() > static_cast<size_t>(nrow) &&
                          presolve_activity.min_infinite.size() > static_cast<size_t>(nrow);
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> value = real_array(ARR_ELEM_VALUE);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t j = entity_column[e];
    const int32_t kind = entity_type[e] & ENT_TYPE_MASK;
    if ((kind != ENT_INTEGER && kind != ENT_BINARY) || (status_of(j) & PS_FIXED) != 0) continue;
    if (real_array(ARR_WORK_LOWER)[j] != 0.0 || real_array(ARR_WORK_UPPER)[j] != 1.0) continue;
    if (kind == ENT_INTEGER) {
      entity_type[e] = (entity_type[e] & ~ENT_TYPE_MASK) | ENT_BINARY;
      int_array(ARR_ENTITY_ROOT_UPPER)[e] = 1;
      int_array(ARR_ENTITY_ROOT_LOWER)[e] = 0;
      ++binary_count;
      int_array(ARR_POS_STATUS)[j] = static_cast<int32_t>(status_of(j) | PS_BINARY);
    }
    for (int32_t k = col_start[j]; k < col_start[j + 1] && activities; ++k) {
      if (!row_live(elem_row[k])) continue;
      strengthen_binary_entry(elem_row[k], value[k]);
    }
  }
}

// The common divisor of the magnitudes by the remainder chain, 0 when
// there is none.
double common_divisor(const std::vector<double>& magnitudes) {
  double g = magnitudes[0];
  for (size_t k = 1; k < magnitudes.size(); ++k) {
    double big = std::max(g, magnitudes[k]);
    double small = std::min(g, magnitudes[k]);
    if (small <= 0.0) return 0.0;
    double r = big - std::trunc(big / small) * small;
    while (r > kDivisorStep) {
      const double next = small - std::trunc(small / r) * r;
      small = r;
      r = next;
    }
    if (r > kDivisorRemainder) return 0.0;
    g = small;
  }
  return g;
}

// An equality row of integer columns whose right-hand side is no integer
// multiple of their divisor: no integer point meets it.
int32_t equality_infeasible(int32_t i, double t) {
  if (icv(ic::IFPRES) < 0) {
    // The conflict is passed over; the search finds no integer point.
    presolve_state.conflict_stop = 1;
    return PRESOLVE_DONE;
  }
  presolve_state.unbounded_position = i;
  if (icv(ic::IFMSG) >= 2) {
    begin_message(MSG_OUTCOME_INFEASIBLE);
    insert_message_int(i);
    insert_message_real(t);
    emit_message();
  }
  return PRESOLVE_INFEASIBLE;
}

// Divides a row of integer columns by the common divisor of its
// coefficients and rounds its limits to the integers they allow. The
// tolerance ZTOLIS applies on both sides of zero, so a limit that lies just
// past an integer through rounding noise never cuts that integer off. An
// equality row keeps its rhs when that is an integer multiple of the
// divisor, and proves the problem infeasible when it is not. Each division
// leaves a record, so that postsolve gives the row its own dual back.
int32_t divide_integer_rows() {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> value = real_array(ARR_ELEM_VALUE);
  OneBased<double> rhs = real_array(ARR_WORK_RHS);
  OneBased<double> upper = real_array(ARR_UPPER);
  const double ztolze = dcv(dc::ZTOLZE);
  const double ztolis = dcv(dc::ZTOLIS);
  std::vector<int32_t> elements;
  std::vector<double> magnitudes;
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((row_type[i] & (ROW_N | kRowKeepsCoefficients)) != 0 || (status_of(i) & PS_FREE) != 0) continue;
    elements.clear();
    magnitudes.clear();
    bool all_integer = true;
    for (int32_t k = presolve_row_copy.start[i]; k < presolve_row_copy.start[i + 1]; ++k) {
      const int32_t j = presolve_row_copy.column[k];
      if (j <= 0) break;
      if ((status_of(j) & PS_FIXED) != 0) continue;
      if ((status_of(j) & PS_INTEGER_OR_BINARY) == 0) {
        all_integer = false;
        break;
      }
      elements.push_back(presolve_row_copy.element[k]);
      magnitudes.push_back(std::fabs(value[presolve_row_copy.element[k]]));
    }
    if (!all_integer || elements.empty()) continue;
    const double g = common_divisor(magnitudes);
    if (g <= kDivisorStep || std::fabs(g - 1.0) <= ztolze) continue;
    const double t = rhs[i] / g;
    const bool equality = (row_type[i] & ROW_TYPE_MASK) == ROW_E;
    if (equality && std::fabs(t - std::nearbyint(t)) > ztolis) {
      const int32_t outcome = equality_infeasible(i, t);
      if (outcome != PRESOLVE_DONE || presolve_state.conflict_stop != 0) return outcome;
      continue;
    }
    if (!push_presolve_record({i, REC_ROW_DIVISION}, {g})) return PRESOLVE_STACK_CAPACITY;
    for (int32_t k : elements) value[k] /= g;
    if (equality) {
      rhs[i] = std::nearbyint(t);
    } else if ((status_of(i) & PS_FINITE_LOWER) == 0) {
      rhs[i] = std::ceil(t - ztolis);
    } else {
      rhs[i] = std::floor(t + ztolis);
      if ((status_of(i) & PS_FINITE_UPPER) != 0) {
        const double range = upper[i] / g - t + rhs[i];
        upper[i] = range > 0.0 ? std::floor(range + ztolis) : range;
      }
    }
  }
  return PRESOLVE_DONE;
}

}  // namespace

int32_t presolve_integer_rows() {
  binaries_and_coefficients();
  return divide_integer_rows();
}

}  // namespace kl
