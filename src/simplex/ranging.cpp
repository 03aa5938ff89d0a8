#include "simplex/ranging.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <utility>

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/scaling.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/work_files.h"
#include "simplex/basic_values.h"
#include "simplex/kernel.h"
#include "factor/simplex_state.h"

namespace kl {

RangeResults range_results;

namespace {

uint32_t status_of(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }
bool is_row(int32_t p) { return p <= nrow; }
bool is_position(int32_t p) { return p <= nrow || p >= store.first_col; }
int32_t row_type_of(int32_t p) { return int_array(ARR_ROW_TYPE)[p] & ROW_TYPE_MASK; }
bool finite_lower(double l) { return l > -kInfiniteBound; }
bool finite_upper(double u) { return u < kInfiniteBound; }

// A nonbasic position at its upper bound can only decrease; a fixed one is
// ranged in its column's own direction, like one at its lower bound.
bool moves_down(int32_t p) {
  const uint32_t s = status_of(p);
  return (s & PS_AT_UPPER) != 0 && (s & PS_FIXED) == 0;
}

// Rows that have a record in the solution file: the search's cut rows follow
// the model rows and the solution writer leaves them out.
int32_t rows_in_file() { return std::max(0, nrow - std::max(0, cut_row_count)); }

int32_t position_of_record(int32_t record) {
  const int32_t rows = rows_in_file();
  return record <= rows ? record : store.first_col + (record - rows - 1);
}

void send_error(int32_t message) {
  begin_message(message);
  emit_message();
  error_number = message;
  status_code = STATUS_REPORTED;
}

void reset_results() {
  const size_t positions = static_cast<size_t>(nseq) + 1;
  const size_t rows = static_cast<size_t>(nrow) + 1;
  RangeResults& r = range_results;
  r.step_up.assign(positions, 0.0f);
  r.step_down.assign(positions, 0.0f);
  r.limit_up.assign(positions, 0);
  r.limit_down.assign(positions, 0);
  r.cost_down.assign(rows, static_cast<float>(kRangeInfinity));
  r.cost_up.assign(rows, static_cast<float>(kRangeInfinity));
  r.change_down.assign(rows, 0.0f);
  r.change_up.assign(rows, 0.0f);
  r.limiter_down.assign(rows, 0);
  r.limiter_up.assign(rows, 0);
}

// The solved column of position k in its direction of movement: minus the
// column when k sits at its upper bound (it can only decrease), else the
// column itself.
void solve_direction(int32_t k, bool decreasing) {
  unpack_column(k);
  if (decreasing) {
    OneBased<double> w = work_vector();
    OneBased<int32_t> list = work_list();
    for (int32_t n = 1; n <= factor.work_vector_count; ++n) w[list[n]] = -w[list[n]];
  }
  basis_solve_work_vector();
}

// Room of basic row value x above its lower bound l and below its upper
// bound u. A value outside its bound within the feasibility tolerance sits
// at the bound: its room is zero, not negative, or a step would point the
// wrong way and the range come out inverted.
double room_above(double x, double l) { return std::max(x - l, 0.0); }
double room_below(double x, double u) { return std::min(x - u, 0.0); }

// Ratio test of one direction; the comparisons are strict so that among
// equal ratios the earliest basis row stays.
struct Ratios {
  double up = kRangeInfinity;
  double down = -kRangeInfinity;
  int32_t limit_up = 0;  // +row: reached at a lower bound, -row: at an upper
  int32_t limit_down = 0;
};

Ratios ratio_tests(OneBased<double> alpha, OneBased<double> x, double tolerance) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  Ratios r;
  for (int32_t i = 1; i <= nrow; ++i) {
    const int32_t v = header[i];
    if ((status_of(v) & PS_FREE) != 0) continue;
    const double a = alpha[i];
    const double above = room_above(x[i], lower[v]);
    const double below = room_below(x[i], upper[v]);
    if (a > tolerance) {
      if (finite_lower(lower[v]) && a * r.up > above) {
        r.up = above / a;
        r.limit_up = i;
      }
      if (finite_upper(upper[v]) && a * r.down < below) {
        r.down = below / a;
        r.limit_down = -i;
      }
    } else if (a < -tolerance) {
      if (finite_lower(lower[v]) && a * r.down > above) {
        r.down = above / a;
        r.limit_down = i;
      }
      if (finite_upper(upper[v]) && a * r.up < below) {
        r.up = below / a;
        r.limit_up = -i;
      }
    }
  }
  return r;
}

// The upward step of k when basis row skip is left out of the ratio test:
// how far the basic variable of that row moves once its cost limit is reached
// and it is about to leave.
double step_without_row(int32_t skip, double range_of_k, OneBased<double> alpha, OneBased<double> x,
                        double tolerance) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  double t = range_of_k;
  for (int32_t r = 1; r <= nrow; ++r) {
    if (r == skip) continue;
    const int32_t v = header[r];
    if ((status_of(v) & PS_FREE) != 0) continue;
    const double a = alpha[r];
    const double above = room_above(x[r], lower[v]);
    const double below = room_below(x[r], upper[v]);
    if (a > tolerance && finite_lower(lower[v]) && t * a > above) t = above / a;
    if (a < -tolerance && finite_upper(upper[v]) && t * a < below) t = below / a;
  }
  return t;
}

// How far a basic variable with entry a moves when the entering variable
// steps t. An unlimited step is an unlimited move: taken as a number, the
// infinite bound would turn a small entry into a large but finite answer.
float basic_move(double a, double t) {
  if (t >= kRangeInfinity) return static_cast<float>(a > 0.0 ? -kRangeInfinity : kRangeInfinity);
  return static_cast<float>(-(a * t));
}

// Signed record number of the variable basic in basis row |limit|.
int32_t limiting_record(int32_t limit) {
  if (limit == 0) return 0;
  const int32_t p = int_array(ARR_BASIS_HEADER)[std::abs(limit)];
  int32_t value = range_record_number(p);
  if (is_row(p) && row_type_of(p) == ROW_G) value = -value;
  return limit < 0 ? -value : value;
}

void range_nonbasic(int32_t k, OneBased<double> x, double tolerance) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const bool fixed = (status_of(k) & PS_FIXED) != 0;
  const bool decreasing = moves_down(k);
  solve_direction(k, decreasing);
  OneBased<double> alpha = work_vector();

  double d = decreasing ? -cost[k] : cost[k];
  for (int32_t i = 1; i <= nrow; ++i) d -= alpha[i] * cost[header[i]];

  const Ratios ratios = ratio_tests(alpha, x, tolerance);
  RangeResults& r = range_results;
  r.step_up[k] = static_cast<float>(ratios.up);
  r.step_down[k] = static_cast<float>(ratios.down);
  r.limit_up[k] = limiting_record(ratios.limit_up);
  r.limit_down[k] = limiting_record(ratios.limit_down);

  if (!fixed) {
    const int32_t j = range_record_number(k);
    const double range_of_k =
        finite_lower(lower[k]) && finite_upper(upper[k]) ? upper[k] - lower[k] : kRangeInfinity;
    const double t_up = std::min(ratios.up, range_of_k);
    // At an optimum no direction improves the objective; a reduced cost of
    // the wrong sign within the optimality tolerance (dual degeneracy) is a
    // zero one. Taken as it is, it would put a cost limit on the wrong side
    // of the cost and invert the range.
    d = std::max(d * sense_factor, 0.0);
    const auto move = [&](int32_t i) {
      const double t = std::abs(ratios.limit_up) == i ? step_without_row(i, range_of_k, alpha, x, tolerance) : t_up;
      return basic_move(alpha[i], t);
    };
    for (int32_t i = 1; i <= nrow; ++i) {
      const double a = alpha[i];
      if (a > tolerance && a * r.cost_up[i] > d) {
        r.cost_up[i] = static_cast<float>(d / a);
        r.limiter_up[i] = j;
        r.change_up[i] = move(i);
      } else if (a < -tolerance && -(a * r.cost_down[i]) > d) {
        r.cost_down[i] = static_cast<float>(-d / a);
        r.limiter_down[i] = j;
        r.change_down[i] = move(i);
      }
    }
  }
  clear_work_vector();
}

// Signs and sides turned from the solver's orientation to that of the file,
// which ranges the value of a column and the activity of a row. A slack moves
// against its row's activity (activity = rhs - slack), and a position that
// moves down was ranged along minus its column: each turns the steps over
// once, so a slack at its upper bound (a G row, or a ranged row at its lower
// limit) is turned twice and stays as it is.
void orient_results() {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  RangeResults& r = range_results;
  for (int32_t i = 1; i <= nrow; ++i) {
    if (!is_row(header[i])) continue;
    std::swap(r.cost_down[i], r.cost_up[i]);
    const float b1 = r.change_down[i];
    r.change_down[i] = -r.change_up[i];
    r.change_up[i] = -b1;
    std::swap(r.limiter_down[i], r.limiter_up[i]);
  }
  for (int32_t p = 1; p <= nseq; ++p) {
    if (!is_position(p)) continue;
    if ((status_of(p) & PS_BASIC) != 0 || is_row(p) == moves_down(p)) continue;
    const float up = r.step_up[p];
    r.step_up[p] = -r.step_down[p];
    r.step_down[p] = -up;
    std::swap(r.limit_up[p], r.limit_down[p]);
  }
  fix_range_signs(r.limiter_down.data() + 1, nrow);
  fix_range_signs(r.limiter_up.data() + 1, nrow);
  fix_range_signs(r.limit_up.data() + 1, nseq);
  fix_range_signs(r.limit_down.data() + 1, nseq);
  for (int32_t i = 1; i <= nrow; ++i) r.limit_down[header[i]] = i;
}

// ---------------------------------------------------------------------------
// The range file.

int32_t float_word(double x) { return std::bit_cast<int32_t>(static_cast<float>(x)); }

// An unlimited step or cost range stays unlimited whatever the position's
// scale: multiplied out, it would read as a large finite number.
int32_t unscaled_word(double factor, float x) {
  return float_word(std::fabs(x) >= kRangeInfinity ? static_cast<double>(x) : factor * x);
}

struct SolutionRecord {
  WorkItem items[kSolutionRecordItems];
};

// Reads n items; false (message 122, status 32 unless the work-file layer
// set its own) when the file ends early or cannot be read.
bool read_items(WorkItem* items, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    int32_t error = 0;
    get_work_item(items[k], error);
    if (error != 0) {
      if (status_code == STATUS_OK) send_error(MSG_SOLUTION_FILE_ERROR);
      return false;
    }
  }
  return true;
}

void put_item(const WorkItem& item) { put_scratch_pair(item.words[0], item.words[1]); }

void write_range_record(int32_t p, const SolutionRecord& sol, double objective_factor) {
  const RangeResults& r = range_results;
  const int32_t e = scale_exponent(static_cast<int32_t>(static_cast<uint32_t>(sol.items[1].words[1]) << 8));
  const bool row = is_row(p);
  const double f = row ? scale_powers[2 * kNeutralScaleExponent - e] : scale_powers[e];
  const double g = objective_factor * (row ? scale_powers[e] : scale_powers[2 * kNeutralScaleExponent - e]);
  const bool basic = (status_of(p) & PS_BASIC) != 0;

  put_item(sol.items[0]);
  put_item(sol.items[1]);
  put_item(basic ? sol.items[2] : sol.items[7]);
  put_item(sol.items[3]);
  put_scratch_pair(float_word(item_double(sol.items[4])), float_word(item_double(sol.items[5])));
  if (!basic) {
    put_scratch_pair(unscaled_word(f, r.step_down[p]), unscaled_word(f, r.step_up[p]));
    put_scratch_pair(0, 0);
    put_scratch_pair(r.limit_down[p], r.limit_up[p]);
    return;
  }
  const int32_t i = r.limit_down[p];  // basis row of a basic position
  put_scratch_pair(unscaled_word(f, r.change_up[i]), unscaled_word(f, r.change_down[i]));
  put_scratch_pair(unscaled_word(g, r.cost_up[i]), unscaled_word(g, r.cost_down[i]));
  put_scratch_pair(r.limiter_up[i], r.limiter_down[i]);
}

}  // namespace

int32_t range_record_number(int32_t position) {
  const int32_t rows = rows_in_file();
  if (is_row(position)) return position <= rows ? position : 0;
  return rows + (position - store.first_col + 1);
}

void fix_range_signs(int32_t* list, int32_t length) {
  const int32_t records = rows_in_file() + (nseq - store.first_col + 1);
  for (int32_t n = 0; n < length; ++n) {
    const int32_t record = std::abs(list[n]);
    if (record == 0 || record > records) continue;
    const int32_t p = position_of_record(record);
    const bool flip = is_row(p) ? row_type_of(p) != ROW_G : (status_of(p) & PS_AT_UPPER) != 0;
    if (flip) list[n] = -list[n];
  }
}

void write_range_file() {
  double objective_factor = scale_powers[2 * kNeutralScaleExponent - objective_scale_exponent];
  if (sense_factor != 0.0) objective_factor /= std::fabs(sense_factor);

  const std::string solution_name = make_work_file_name("sol");
  int32_t error = 0;
  open_work_file(solution_name.c_str(), WORK_READ, error);
  if (error != 0) {
    send_error(MSG_SOLUTION_FILE_ERROR);
    return;
  }
  WorkItem header[kSolutionHeaderItems];
  if (!read_items(header, kSolutionHeaderItems)) {
    close_work_file();
    return;
  }
  // A file of another problem (or of another row count) would put ranges on
  // the wrong names: it must hold exactly one record per model row and column.
  if (header[1].words[0] != rows_in_file() || header[1].words[1] != nseq - store.first_col + 1) {
    close_work_file();
    send_error(MSG_SOLUTION_FILE_ERROR);
    return;
  }
  const std::string range_name = make_work_file_name("rng");
  open_scratch_file(range_name.c_str(), WORK_WRITE, error);
  if (error != 0) {
    close_work_file();
    send_error(MSG_SOLUTION_FILE_ERROR);
    return;
  }
  for (const WorkItem& item : header) put_item(item);

  const auto copy_position = [&](int32_t p) {
    SolutionRecord sol;
    if (!read_items(sol.items, kSolutionRecordItems)) return false;
    write_range_record(p, sol, objective_factor);
    return status_code == STATUS_OK;
  };
  bool ok = true;
  const int32_t rows = rows_in_file();
  for (int32_t p = 1; p <= rows && ok; ++p) ok = copy_position(p);
  for (int32_t p = store.first_col; p <= nseq && ok; ++p) ok = copy_position(p);
  close_scratch_file();
  close_work_file();
}

void range_analysis() {
  reset_results();
  const double tolerance = dcv(dc::ZTOLPV);
  // The basic values in the factor's order, fresh from the new factor.
  compute_basic_values();
  std::vector<double> values(real_array(ARR_BASIC_VALUES).data(), real_array(ARR_BASIC_VALUES).data() + nrow);
  const OneBased<double> x(values.data());
  for (int32_t k = 1; k <= nseq; ++k) {
    if (!is_position(k) || (status_of(k) & PS_BASIC) != 0) continue;
    range_nonbasic(k, x, tolerance);
  }
  orient_results();
  write_range_file();
}

void range_problem() {
  begin_body();
  if (!require_problem()) return;
  if (status_letter != kLetterOptimal) {
    // Number 11 is the one fixed for "not optimal"; its text is the LP
    // driver's.
    send_error(MSG_LAST_LP_NOT_FINISHED);
  } else if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    send_error(MSG_RANGE_PRESOLVED);
  } else if ((problem_flags & PF_NO_BASIS) != 0) {
    // The barrier's point without a crossover: ranges are a basis's.
    send_error(MSG_NO_BASIS_AVAILABLE);
  } else {
    // The factor is built and solved as the primal does (the dual's factor
    // is kept in its own row numbering).
    const int32_t saved_algorithm = lp_algorithm;
    lp_algorithm = kAlgorithmPrimal;
    const int32_t saved_log = icv(ic::ITRLOG);
    icv(ic::ITRLOG) = 0;
    set_basis_header();
    // The analysis reads the solved columns by basis row: a factor the dual
    // left renumbered would pair them with the wrong basic variables.
    factor.factor_permuted = 0;
    invert_basis(InvertReason::kRecompute);
    icv(ic::ITRLOG) = saved_log;
    if (status_code != STATUS_OK || (problem_flags & PF_FACTOR_VALID) == 0) {
      lp_algorithm = saved_algorithm;
      if (status_code == STATUS_OK) status_code = STATUS_REPORTED;
      return;
    }
    range_analysis();
    lp_algorithm = saved_algorithm;
  }
  if (status_code == STATUS_OK && icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
