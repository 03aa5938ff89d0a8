#include "global/cut_rounds.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "factor/simplex_state.h"
#include "factor/starting_basis.h"
#include "factor/invert.h"
#include "global/clique_cuts.h"
#include "global/cut_rows.h"
#include "problem/cut_pool.h"
#include "global/gomory_cuts.h"
#include "global/knapsack_cuts.h"
#include "global/node_loop.h"
#include "global/node_store.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/factor_arrays.h"
#include "problem/loader.h"
#include "problem/matrix_storage.h"
#include "problem/scale_exponents.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/lp_driver.h"

namespace kl {

namespace {

// Row classes the separators read (set by the row classification at
// search start).
constexpr uint32_t kClassBinaryKnapsack = 0x400;
constexpr uint32_t kClassIntegerKnapsack = 0x800;
constexpr uint32_t kClassMixedInteger = 0x1000;
constexpr uint32_t kClassMixedBinary = 0x2000;
constexpr uint32_t kClassGubKnapsack = 0x20000;
constexpr uint32_t kClassVub = 0x200000;

constexpr int32_t kBoundRecordFlags = 8 | 16;
constexpr int32_t kSenseFlags = CUT_SENSE_E | CUT_SENSE_G | CUT_SENSE_L;
// Cuts of the single-row separators.
constexpr int32_t kCutTypeMir = 0x40;
constexpr int32_t kCutTypeCover = 0x80;
constexpr int32_t kCutTypeTopNode = 0x100;
constexpr int32_t kCutTypeVub = 16;
// A pure binary row goes to the lifted cover separator only above this
// length; shorter ones are left to the MIR separator.
constexpr int32_t kCoverMinBinaryItems = 2500;
constexpr double kRoundViolation = 1e-4;


bool is_stored(int32_t r) { return cut_record_field(r, CUT_FIELD_FIRST) >= 0; }

bool top_node() { return node_count < 2; }

uint32_t row_word(int32_t r) { return static_cast<uint32_t>(int_array(ARR_ROW_TYPE)[r]); }
uint32_t pos_word(int32_t p) { return static_cast<uint32_t>(int_array(ARR_POS_STATUS)[p]); }

// IFDBG and INOINV at 0 while a round works on internal indices.
struct InternalIndices {
  int32_t saved_base;
  int32_t saved_noinv;
  InternalIndices() : saved_base(icv(ic::IFDBG)), saved_noinv(icv(ic::INOINV)) {
    icv(ic::IFDBG) = 0;
    icv(ic::INOINV) = 0;
  }
  ~InternalIndices() {
    icv(ic::IFDBG) = saved_base;
    icv(ic::INOINV) = saved_noinv;
  }
  InternalIndices(const InternalIndices&) = delete;
  InternalIndices& operator=(const InternalIndices&) = delete;
};

void clear_record_flag(int32_t flag) {
  if (array_cells[ARR_CUT_RECORD] == nullptr) return;
  const int32_t last = stored_record_limit();
  for (int32_t r = 1; r <= last; ++r)
    if (is_stored(r)) cut_record_field(r, CUT_FIELD_FLAGS) &= ~flag;
}

// Stores one "L" cut over positions; on success adds the record flags and
// lists the record in single mode. True when the pool gained a cut.
bool store_row_cut(const std::vector<int32_t>& positions, const std::vector<double>& coefs, double rhs,
                   int32_t cut_type, int32_t record_flags, const CutListTarget& target) {
  std::vector<int32_t> cols;
  std::vector<double> vals;
  const double tiny = dcv(dc::ZTOLDA);
  for (size_t k = 0; k < positions.size(); ++k) {
    if (std::fabs(coefs[k]) <= tiny) continue;
    cols.push_back(positions[k]);
    vals.push_back(coefs[k]);
  }
  if (cols.empty()) return false;
  const bool single = target.single_call == 1;
  const int32_t type = single ? target.caller_cut_type : cut_type;
  const int32_t count_before = search_record.stored_cut_count;
  // storecut counts entries from the index base IFDBG.
  const int32_t first_entry = 1 - icv(ic::IFDBG);
  const int32_t start[2] = {first_entry, first_entry + static_cast<int32_t>(cols.size())};
  int32_t index = 0;
  status_code = STATUS_OK;
  storecut(1, 0, &type, "L", &rhs, start, &index, cols.data(), vals.data(), single ? 2 : 1);
  index += icv(ic::IFDBG);  // the record itself
  if (status_code != STATUS_OK) return false;
  if (search_record.stored_cut_count == count_before) return false;
  cut_record_field(index, CUT_FIELD_FLAGS) |= record_flags;
  if (single && target.list_count != nullptr && target.cut_list != nullptr &&
      *target.list_count < target.list_capacity) {
    int32_t* end = target.cut_list + *target.list_count;
    if (std::find(target.cut_list, end, index) == end) target.cut_list[(*target.list_count)++] = index;
  }
  return true;
}

bool row_has_side(int32_t r, int32_t side) { return (pos_word(r) & (side == 0 ? PS_FINITE_LOWER : PS_FINITE_UPPER)) != 0; }

// Items of one side of a row: shifted to lower bound 0 and complemented
// where the weight is not positive.
struct RowKnapsack {
  std::vector<int32_t> columns;  // negative: complemented
  std::vector<double> weights, values, ranges, lowers;
  double b = 0.0;
  bool general = false;
};

void build_row_knapsack(int32_t r, int32_t side, RowKnapsack& k) {
  const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  const OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  const OneBased<double> rhs = real_array(ARR_RHS);
  const OneBased<double> lower = real_array(ARR_LOWER);
  const OneBased<double> upper = real_array(ARR_UPPER);
  const OneBased<double> slo = real_array(ARR_WORK_LOWER);
  const OneBased<double> sup = real_array(ARR_WORK_UPPER);
  const OneBased<double> x = real_array(ARR_X);
  k = RowKnapsack{};
  k.b = side == 0 ? rhs[r] - lower[r] : upper[r] - rhs[r];
  for (int32_t e = start[r]; e < start[r + 1]; ++e) {
    const int32_t j = col[e];
    const double a = side == 0 ? val[e] : -val[e];
    const double L = slo[j];
    k.b -= a * L;
    if ((pos_word(j) & (PS_FIXED | PS_SEARCH_FIXED)) != 0) continue;
    const double u = sup[j] - L;
    double v = x[j] - L;
    if (a <= 0.0) {
      k.columns.push_back(-j);
      k.weights.push_back(-a);
      k.b += -a * u;
      v = u - v;
    } else {
      k.columns.push_back(j);
      k.weights.push_back(a);
    }
    k.values.push_back(v);
    k.ranges.push_back(u);
    k.lowers.push_back(L);
    if (u > 1.5) k.general = true;
  }
}

}  // namespace

int32_t cut_count_limit(int32_t spare_rows) {
  return std::min(spare_rows, std::max(50, static_cast<int32_t>(std::floor(0.4 * spare_rows))));
}

int32_t cover_method_of(int32_t selection) {
  if ((selection & 0xF) == 0) return -2;
  const bool mir = (selection & SEL_MIR) != 0;
  const bool cover = (selection & SEL_COVER) != 0;
  if (mir && cover) return -1;
  if (cover) return 0;
  if (mir) return 1;
  return -2;
}

void select_active_cuts(int32_t mode, int32_t n, const int32_t* list, double threshold, int32_t& violated,
                        int32_t& selected) {
  violated = 0;
  selected = 0;
  if (array_cells[ARR_CUT_RECORD] == nullptr) return;
  const int32_t limit = cut_count_limit(spare_rows_left);
  compute_duals();
  const int32_t last = stored_record_limit();
  const int32_t m0 = cut_row_model_rows();
  const OneBased<int32_t> row_list = int_array(ARR_CUT_ROW_LIST);
  for (int32_t k = 1; k <= cut_row_count; ++k) {
    if ((row_word(m0 + k) & RF_CUT) != 0) continue;
    const int32_t r = row_list[k];
    if (r >= 1 && r <= last && is_stored(r)) cut_record_field(r, CUT_FIELD_FLAGS) |= CUT_IN_LP;
  }
  std::vector<char> listed(static_cast<size_t>(last) + 1, 0);
  for (int32_t i = 0; i < n && list != nullptr; ++i)
    if (list[i] >= 1 && list[i] <= last) listed[static_cast<size_t>(list[i])] = 1;

  // Degradation rates of the basic columns, from the row prices.
  const OneBased<float> prices = float_array(ARR_ROW_PRICES);
  const OneBased<int32_t> cstart = int_array(ARR_COL_START);
  const OneBased<int32_t> crow = int_array(ARR_ELEM_ROW);
  const OneBased<double> cval = real_array(ARR_ELEM_VALUE);
  const OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const OneBased<double> x = real_array(ARR_X);
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<int32_t> pcol = int_array(ARR_CUT_ELEM_COLUMN);
  const OneBased<double> pval = real_array(ARR_CUT_ELEM_VALUE);
  const OneBased<double> prhs = real_array(ARR_CUT_RHS);
  const double sense = dcv(dc::SENSE_FACTOR);
  auto rates = [&](int32_t j, float& up, float& down) {
    const float t = static_cast<float>(sense * cost[j]);
    up = std::max(t, 0.0f);
    down = std::min(t, 0.0f);
    if ((problem_flags & PF_COLUMN_COPY) == 0 || !prices) return;
    for (int32_t e = cstart[j]; e < cstart[j + 1]; ++e) {
      const int32_t r = crow[e];
      if (r <= 0 || r > nrow) continue;
      const float a = static_cast<float>(cval[e]);
      const float wp = prices[r];
      const float wm = prices[nrow + r];
      up += a * (a >= 0.0f ? wp : wm);
      down += a * (a >= 0.0f ? wm : wp);
    }
    up = std::max(up, 0.0f);
    down = std::min(down, 0.0f);
  };

  struct Candidate {
    int32_t record;
    double score;
  };
  std::vector<Candidate> candidates;
  candidates.reserve(static_cast<size_t>(limit) + 1);
  for (int32_t r = 1; r <= last; ++r) {
    if (!is_stored(r)) continue;
    int32_t& flags = cut_record_field(r, CUT_FIELD_FLAGS);
    flags &= ~CUT_SELECTED;
    if ((flags & CUT_IN_LP) != 0) {
      flags &= ~CUT_IN_LP;
      continue;
    }
    const bool candidate = (mode == 2 && (flags & CUT_TOP_NODE) != 0) ||
                           (mode != 0 && (flags & CUT_NEW_IN_ROUND) != 0) || listed[static_cast<size_t>(r)] != 0;
    if (!candidate) continue;
    // A bound record is no cut: it never enters the LP as a row.
    if ((flags & kBoundRecordFlags) != 0 || (flags & kSenseFlags) == 0) continue;
    const int32_t first = cut_record_field(r, CUT_FIELD_FIRST);
    const int32_t length = cut_record_field(r, CUT_FIELD_LENGTH);
    double activity = 0.0, norm2 = 0.0;
    for (int32_t e = first; e < first + length; ++e) {
      const int32_t j = pcol[e];
      const double a = pval[e] * scale_powers[scale_exponent(status[j])];
      activity += a * x[j];
      norm2 += a * a;
    }
    double d = activity - prhs[r];
    if (norm2 > 0.0) d /= std::sqrt(norm2);
    if ((flags & CUT_SENSE_G) != 0) d = -d;
    if ((flags & CUT_SENSE_E) != 0) d = std::fabs(d);
    if (!(d > threshold)) continue;
    ++violated;
    double ratio = 1e20;
    for (int32_t e = first; e < first + length; ++e) {
      const int32_t j = pcol[e];
      if ((static_cast<uint32_t>(status[j]) & PS_BASIC) == 0) continue;
      const double b = pval[e];
      if (b == 0.0) continue;
      float up = 0.0f, down = 0.0f;
      rates(j, up, down);
      ratio = std::min(ratio, b > 0.0 ? -(down / b) : -(up / b));
    }
    candidates.push_back({r, ratio * d});
    if (static_cast<int32_t>(candidates.size()) > limit) {
      auto worst = candidates.begin();
      for (auto it = candidates.begin(); it != candidates.end(); ++it)
        if (it->score < worst->score) worst = it;
      candidates.erase(worst);
    }
  }
  int32_t budget = spare_elems_left;
  for (const Candidate& c : candidates) {
    const int32_t length = cut_record_field(c.record, CUT_FIELD_LENGTH);
    if (length > budget) continue;
    budget -= length;
    cut_record_field(c.record, CUT_FIELD_FLAGS) |= CUT_SELECTED;
    ++selected;
  }
}

void separate_row_cover_cut(int32_t cover_method, int32_t row, int32_t side, int32_t& result,
                            const CutListTarget& target) {
  result = 0;
  RowKnapsack k;
  build_row_knapsack(row, side, k);
  const int32_t n = static_cast<int32_t>(k.columns.size());
  if (n == 0) return;
  std::vector<double> coefs(static_cast<size_t>(n), 0.0);
  double cut_rhs = 0.0, efficacy = 0.0;
  int32_t outcome = -1;
  auto run_mir = [&]() {
    std::vector<int32_t> candidates(static_cast<size_t>(n)), marks(static_cast<size_t>(n));
    std::vector<double> keys(static_cast<size_t>(n));
    double b = k.b, factor = 0.0;
    int32_t found = 0;
    separate_mir_cut(n, 0, b, k.weights.data(), k.values.data(), k.ranges.data(), 0.0, found, cut_rhs, coefs.data(),
                     factor, efficacy, candidates.data(), marks.data(), keys.data());
    return found == 1;
  };
  auto run_cover = [&]() {
    std::vector<int32_t> order(static_cast<size_t>(n)), item_class(static_cast<size_t>(n));
    std::vector<double> keys(static_cast<size_t>(n)), table(static_cast<size_t>(kKnapsackTableSize) + 1);
    double gamma = 0.0;
    int32_t found = 0;
    separate_general_cover(n, k.b, k.columns.data(), k.weights.data(), k.values.data(), k.ranges.data(), 0.0, found,
                           cut_rhs, coefs.data(), gamma, efficacy, order.data(), table.data(), keys.data(),
                           item_class.data(), 0);
    return found == 1;
  };
  if (k.general) {
    if (cover_method == 1 || cover_method == -1) outcome = run_mir() ? 2 : -1;
    if (outcome != 2 && (cover_method == 0 || cover_method == -1)) outcome = run_cover() ? 1 : -1;
  } else {
    if (n > kCoverMinBinaryItems && (cover_method == 0 || cover_method == -1)) outcome = run_cover() ? 1 : -1;
    if (cover_method == 1 || (cover_method == -1 && outcome == -1)) outcome = run_mir() ? 2 : -1;
  }
  if (outcome <= 0) return;

  // Back to the row's columns.
  std::vector<int32_t> positions(static_cast<size_t>(n));
  double rhs = cut_rhs;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t c = k.columns[static_cast<size_t>(i)];
    double a = coefs[static_cast<size_t>(i)];
    if (c < 0) {
      rhs -= a * k.ranges[static_cast<size_t>(i)];
      a = -a;
    }
    rhs += a * k.lowers[static_cast<size_t>(i)];
    coefs[static_cast<size_t>(i)] = a;
    positions[static_cast<size_t>(i)] = std::abs(c);
  }
  const bool top = top_node();
  const int32_t type = (top ? kCutTypeTopNode : 0) + (outcome == 2 ? kCutTypeMir : kCutTypeCover) + (k.general ? 2 : 1);
  const int32_t flags = CUT_NEW_IN_ROUND | (top ? CUT_TOP_NODE : 0);
  if (store_row_cut(positions, coefs, rhs, type, flags, target)) result = outcome;
}

void separate_vub_cuts(int32_t row, int32_t& stored, const CutListTarget& target) {
  stored = 0;
  const OneBased<int32_t> start = int_array(ARR_ROW_COPY_START);
  const OneBased<int32_t> col = int_array(ARR_ROW_COPY_COL);
  const OneBased<double> val = real_array(ARR_ROW_COPY_VAL);
  const OneBased<double> rhs = real_array(ARR_RHS);
  const OneBased<double> slo = real_array(ARR_WORK_LOWER);
  const OneBased<double> sup = real_array(ARR_WORK_UPPER);
  const OneBased<double> x = real_array(ARR_X);
  const double ztolis = dcv(dc::ZTOLIS);
  const bool has_le = row_has_side(row, 0);
  const bool has_ge = row_has_side(row, 1);
  double s = 1.0;
  if (has_ge && !has_le) {
    s = -1.0;
  } else if (has_ge && has_le) {
    double t = rhs[row];
    for (int32_t e = start[row]; e < start[row + 1]; ++e) {
      const int32_t j = col[e];
      const double a = val[e];
      if ((pos_word(j) & PS_BINARY) != 0) {
        if (a > 0.0) t -= a;
      } else if (a < 0.0) {
        t -= a * sup[j];
      }
    }
    s = std::fabs(t) <= ztolis ? 1.0 : -1.0;
  }
  int32_t y = 0;
  double ay = 0.0;
  for (int32_t e = start[row]; e < start[row + 1] && y == 0; ++e)
    if ((pos_word(col[e]) & PS_BINARY) != 0) {
      y = col[e];
      ay = val[e];
    }
  if (y == 0) return;
  const bool y_complemented = s * ay >= 0.0;
  const double yv = y_complemented ? 1.0 - x[y] : x[y];
  if (yv < ztolis || yv > 1.0 - ztolis) return;
  const bool top = top_node();
  for (int32_t e = start[row]; e < start[row + 1]; ++e) {
    const int32_t j = col[e];
    if ((pos_word(j) & PS_BINARY) != 0 || slo[j] < 0.0) continue;
    double c = s * val[e];
    const double U = sup[j];
    const bool x_complemented = c <= 0.0;
    double xv = x[j];
    if (x_complemented) {
      xv = U - x[j];
      c = -c;
    }
    if (xv - yv * U < kRoundViolation) continue;
    // c x' - c U y' <= 0 in the original columns.
    double cx = c, cy = -c * U, cut_rhs = 0.0;
    if (x_complemented) {
      cx = -c;
      cut_rhs -= c * U;
    }
    if (y_complemented) {
      cy = c * U;
      cut_rhs += c * U;
    }
    std::vector<int32_t> positions = {j, y};
    std::vector<double> coefs = {cx, cy};
    if (j > y) {
      std::swap(positions[0], positions[1]);
      std::swap(coefs[0], coefs[1]);
    }
    // The bound U is the node's: a cut made below the top node holds only
    // in the node's subtree, so it must not be offered again elsewhere.
    const int32_t flags = CUT_NEW_IN_ROUND | (top ? CUT_TOP_NODE : 0);
    if (store_row_cut(positions, coefs, cut_rhs, kCutTypeVub, flags, target)) ++stored;
  }
}

int32_t drop_nonbinding_cut_rows() {
  const int32_t before = cut_row_count;
  status_code = STATUS_OK;
  delcut(1, 0, -1, 0.0, -1, nullptr);
  status_code = STATUS_OK;
  const int32_t gone = before - cut_row_count;
  if (gone > 0) {
    build_column_copy();
    invert_basis();
  }
  return gone;
}

bool resolve_after_cut_rows(int32_t& outcome) {
  if ((problem_flags & PF_SOLUTION_CURRENT) != 0) return true;
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  free_factor_arrays();
  optimise_lp(OPT_REOPTIMISE);
  if (lp_status == LP_OPTIMAL) return true;
  node_cut_list_state.current_cut_list = -1;
  outcome = COVER_ROUND_NOT_OPTIMAL;
  return false;
}

void report_round_changes(double objective_before, int32_t elements_before, int32_t cut_rows_before) {
  emit_message();  // a separating line
  begin_message(MSG_COVER_ROUND_OBJECTIVE);
  insert_message_real(objval);
  insert_message_real(objval - objective_before);
  emit_message();
  begin_message(MSG_COVER_ROUND_ELEMENTS);
  insert_message_int(nelem);
  insert_message_int(nelem - elements_before);
  emit_message();
  begin_message(MSG_COVER_ROUND_CUT_ROWS);
  insert_message_int(cut_row_count);
  insert_message_int(cut_row_count - cut_rows_before);
  emit_message();
}

void generate_lifted_cover_cuts(int32_t max_aggregation, int32_t single_call, int32_t caller_cut_type,
                                int32_t list_capacity, int32_t& list_count, int32_t* cut_list, int32_t selection,
                                int32_t max_rounds, int32_t& round_number, int32_t& cuts_found,
                                int32_t& vub_cuts_found, int32_t& rows_added, int32_t& rows_removed,
                                int32_t& outcome) {
  InternalIndices internal;
  cuts_found = 0;
  vub_cuts_found = 0;
  rows_added = 0;
  rows_removed = 0;
  outcome = COVER_ROUND_NORMAL;
  const int32_t cover_method = cover_method_of(selection);
  const bool single = single_call == 1;
  if (single) max_rounds = 1;
  const CutListTarget target{single_call, caller_cut_type, list_capacity, &list_count, cut_list};
  const int32_t prtcut = icv(ic::PRTCUT);
  const OneBased<int32_t> row_list = int_array(ARR_CUT_ROW_LIST);
  (void)row_list;

  for (int32_t round = 1; round <= max_rounds; ++round) {
    measure_integer_infeasibilities();
    if (search.fractional_count == 0) {
      outcome = COVER_ROUND_INTEGER;
      return;
    }
    const double objective_before = objval;
    ++cut_round_counter;
    ++round_number;
    if (!single && (prtcut > 2 || (prtcut > 1 && top_node()))) {
      begin_message(MSG_COVER_ROUND_START);
      insert_message_int(round_number);
      emit_message();
    }
    int32_t covers = 0, mirs = 0, gubs = 0, cliques = 0, vubs = 0;
    auto count_cover_result = [&](int32_t result) {
      if (result == 1) ++covers;
      if (result == 2) ++mirs;
    };
    auto count_aggregated = [&](int32_t stored) {
      if (cover_method == 0)
        covers += stored;
      else
        mirs += stored;
    };
    if (cover_method != -2 || (selection & SEL_VUB) != 0) {
      const int32_t model_rows = cut_row_model_rows();
      for (int32_t r = 1; r <= model_rows; ++r) {
        const uint32_t cls = row_word(r);
        if (((selection & SEL_BINARY_KNAPSACK) && (cls & kClassBinaryKnapsack)) ||
            ((selection & SEL_INTEGER_KNAPSACK) && (cls & kClassIntegerKnapsack))) {
          for (int32_t side = 0; side <= 1; ++side) {
            if (!row_has_side(r, side)) continue;
            int32_t result = 0;
            separate_row_cover_cut(cover_method, r, side, result, target);
            count_cover_result(result);
          }
        }
        if ((selection & SEL_BINARY_KNAPSACK) && (cls & kClassGubKnapsack)) {
          for (int32_t side = 0; side <= 1; ++side) {
            if (!row_has_side(r, side)) continue;
            int32_t result = 0;
            if (cover_method != 1) {
              separate_row_gub_cover_cut(r, side, result, single_call, caller_cut_type, list_capacity, list_count,
                                         cut_list);
              if (result == 1) ++gubs;
            }
            if (result != 1) {
              separate_row_cover_cut(cover_method, r, side, result, target);
              count_cover_result(result);
            }
          }
        }
        if (cls & kClassVub) {
          int32_t stored = 0;
          if (selection & SEL_VUB) {
            separate_vub_cuts(r, stored, target);
            vubs += stored;
          }
          if ((selection & SEL_MIXED_BINARY) && stored == 0) {
            int32_t aggregated = 0;
            separate_aggregated_row_cut(max_aggregation, cover_method, (selection & SEL_AGGREGATE) != 0 ? 1 : 0, r,
                                        aggregated, target);
            count_aggregated(aggregated);
          }
        }
        if (((selection & SEL_MIXED_BINARY) && (cls & kClassMixedBinary)) ||
            ((selection & SEL_MIXED_INTEGER) && (cls & kClassMixedInteger))) {
          int32_t aggregated = 0;
          separate_aggregated_row_cut(max_aggregation, cover_method, (selection & SEL_AGGREGATE) != 0 ? 1 : 0, r,
                                      aggregated, target);
          count_aggregated(aggregated);
        }
      }
    }
    if ((selection & SEL_CLIQUE) && !single) {
      // The clique search keeps its scratch to itself and gives the LP
      // status back, so nothing is left to clear here.
      generate_clique_cuts(cliques, single_call, caller_cut_type, list_capacity, list_count, cut_list);
    }
    cuts_found += covers + mirs + gubs + cliques;
    vub_cuts_found += vubs;
    if (single) return;

    const int32_t elements_before = nelem;
    const int32_t cut_rows_before = cut_row_count;
    int32_t removed = 0;
    if (selection & SEL_DROP_NONBINDING) removed += drop_nonbinding_cut_rows();
    int32_t violated = 0, selected = 0;
    select_active_cuts(1, 0, nullptr, kRoundViolation, violated, selected);
    const int32_t rows_before_load = cut_row_count;
    if (selected > 0) {
      status_code = STATUS_OK;
      loadcut(0, CUT_RULE_COMMON_BIT, -1, nullptr, LOAD_SELECTED);
    }
    status_code = STATUS_OK;
    const int32_t added = cut_row_count - rows_before_load;
    rows_added += added;
    rows_removed += removed;
    if (!resolve_after_cut_rows(outcome)) return;
    if ((selection & SEL_DROP_NONBINDING) && round == max_rounds) {
      const int32_t gone = drop_nonbinding_cut_rows();
      rows_removed += gone;
      if (gone > 0 && !resolve_after_cut_rows(outcome)) return;
    }
    if (prtcut > 2 || top_node()) {
      if (prtcut <= 1) {
        begin_message(MSG_MODEL_CUT_ROUND);
        insert_message_int(cut_round_counter);
        insert_message_real(objval);
        insert_message_chars("K", 1);
        insert_message_int(added);
        insert_message_int(removed);
        insert_message_int(search_elapsed_seconds());
        emit_message();
      } else {
        const int32_t counts[5] = {cliques, covers, gubs, mirs, vubs};
        const int32_t ids[5] = {MSG_COVER_ROUND_CLIQUES, MSG_COVER_ROUND_COVERS, MSG_COVER_ROUND_GUB_COVERS,
                                MSG_COVER_ROUND_MIRS, MSG_COVER_ROUND_VUBS};
        for (int i = 0; i < 5; ++i) {
          if (counts[i] <= 0) continue;
          begin_message(ids[i]);
          insert_message_int(counts[i]);
          emit_message();
        }
        begin_message(MSG_COVER_ROUND_ROWS);
        insert_message_int(added);
        insert_message_int(removed);
        emit_message();
        if (added > 0 || removed > 0) report_round_changes(objective_before, elements_before, cut_rows_before);
      }
    }
    if (spare_elems_left < 51 || spare_rows_left == 0) {
      outcome = COVER_ROUND_NO_SPACE;
      return;
    }
    if (added == 0) return;
  }
}

bool node_cut_round_due(bool top, int32_t depth) {
  if (top) return icv(ic::NITCOV) + icv(ic::NITGOM) != 0 && icv(ic::ICSLCT) != 0;
  const int32_t freq = icv(ic::CUTFREQ);
  return freq != 0 && depth % freq == 0 && depth <= icv(ic::CUTDEPTH) && icv(ic::NTRCOV) + icv(ic::NTRGOM) != 0 &&
         icv(ic::ITSLCT) != 0;
}

void generate_node_cuts() {
  if (icv(ic::CUTSTRAT) == 0 || icv(ic::MXCPOL) == 0) return;
  if (array_cells[ARR_CUT_RECORD] == nullptr || array_cells[ARR_WORK_UPPER] == nullptr) return;
  const bool top = node_count <= 1;
  const int32_t depth = node_header.depth;
  if (!node_cut_round_due(top, depth)) return;
  InternalIndices internal;
  const int32_t prtcut = icv(ic::PRTCUT);
  if (prtcut >= 0 && (top || prtcut >= 3)) {
    begin_message(MSG_CUT_ROUNDS_START);
    emit_message();
  }
  const double objective_before = objval;
  const int32_t rows_before = nrow;
  const int32_t elements_before = nelem;
  if (top) {
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<double> slo = real_array(ARR_WORK_LOWER);
    OneBased<double> sup = real_array(ARR_WORK_UPPER);
    for (int32_t r = 1; r <= nrow; ++r) {
      slo[r] = lower[r];
      sup[r] = upper[r];
    }
  }
  if (icv(ic::ITSLCT) & SEL_TOP_CUTS_AGAIN) {
    const int32_t last = stored_record_limit();
    for (int32_t r = 1; r <= last; ++r)
      if (is_stored(r) && (cut_record_field(r, CUT_FIELD_FLAGS) & CUT_TOP_NODE) != 0)
        cut_record_field(r, CUT_FIELD_FLAGS) |= CUT_NEW_IN_ROUND;
  }
  const int32_t cover_passes = top ? icv(ic::NITCOV) : icv(ic::NTRCOV);
  const int32_t gomory_passes = top ? icv(ic::NITGOM) : icv(ic::NTRGOM);
  int32_t selection = top ? icv(ic::ICSLCT) : icv(ic::ITSLCT);
  if (icv(ic::CUTSTRAT) == -1 && cut_space_mode == 1) selection &= ~SEL_AGGREGATE;

  int32_t cuts_found = 0, vub_cuts_found = 0, gomory_cuts = 0;
  int32_t cover_rounds = 0, gomory_rounds = 0;
  int32_t changed = 0;
  int32_t outcome = COVER_ROUND_NORMAL;
  auto report_no_space = [&]() {
    if (prtcut >= 2 || (top && prtcut >= 0)) {
      begin_message(MSG_CUT_SPACE_EXHAUSTED);
      emit_message();
    }
  };
  if (cover_passes > 0) {
    int32_t list_count = 0, added = 0, removed = 0;
    generate_lifted_cover_cuts(0, 0, 0, 0, list_count, nullptr, selection, cover_passes, cover_rounds, cuts_found,
                               vub_cuts_found, added, removed, outcome);
    changed += added + removed;
    if (outcome == COVER_ROUND_NO_SPACE) report_no_space();
  }
  if (outcome != COVER_ROUND_NO_SPACE && outcome != COVER_ROUND_NOT_OPTIMAL && gomory_passes > 0 &&
      lp_status == LP_OPTIMAL) {
    int32_t list_count = 0, added = 0, removed = 0, gomory_outcome = 0;
    generate_gomory_cuts(0, 0, 0, list_count, nullptr, selection, gomory_passes, gomory_rounds, gomory_cuts, added,
                         removed, gomory_outcome);
    changed += added + removed;
    if (gomory_outcome == COVER_ROUND_NO_SPACE) report_no_space();
  }
  if (changed > 0) node_cut_list_state.cut_rows_changed = 1;

  const int32_t rows_added = nrow - rows_before;
  const int32_t elements_added = nelem - elements_before;
  if (top || prtcut >= 3) {
    if (prtcut > 0) {
      const int32_t ids[3] = {MSG_CUT_ROUNDS_COVERS, MSG_CUT_ROUNDS_VUBS, MSG_CUT_ROUNDS_GOMORY};
      const int32_t counts[3] = {cuts_found, vub_cuts_found, gomory_cuts};
      const int32_t passes[3] = {cover_rounds, cover_rounds, gomory_rounds};
      for (int i = 0; i < 3; ++i) {
        begin_message(ids[i]);
        insert_message_int(counts[i]);
        insert_message_int(passes[i]);
        emit_message();
      }
      begin_message(MSG_CUT_ROUNDS_ROWS);
      insert_message_int(nrow);
      insert_message_int(rows_added);
      emit_message();
      begin_message(MSG_CUT_ROUNDS_ELEMENTS);
      insert_message_int(nelem);
      insert_message_int(elements_added);
      emit_message();
      begin_message(MSG_CUT_ROUNDS_OBJECTIVE);
      insert_message_real(objval);
      insert_message_real(objval - objective_before);
      emit_message();
    } else if (prtcut == 0) {
      begin_message(MSG_CUT_ROUNDS_CUT_ROWS);
      insert_message_int(cut_row_count);
      emit_message();
      begin_message(MSG_CUT_ROUNDS_POOL);
      insert_message_int(search_record.stored_cut_count);
      insert_message_int(search_record.pool_elements_used);
      emit_message();
    }
  } else if (prtcut == 1 || prtcut == 2) {
    begin_message(MSG_CUT_ROUNDS_TREE_NODE);
    insert_message_int(rows_added);
    insert_message_int(0);
    insert_message_real(objval - objective_before);
    insert_message_int(depth);
    emit_message();
  }
  clear_record_flag(CUT_NEW_IN_ROUND);
}

}  // namespace kl
