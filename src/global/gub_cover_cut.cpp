// GUB cover cuts on one side of a binary knapsack row whose columns overlap
// set rows: the row's columns are grouped by set rows, each group rewritten
// so that its weights are nonnegative, the cover found and lifted
// (gub_cover.cpp), and the cut mapped back to the row's columns and stored.
// Also the store of a separated row cut shared by the row separators.
#include <cmath>
#include <cstdint>
#include <vector>

#include "global/knapsack_cuts.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"

namespace kl {

namespace {

// Row classes of the set rows (kept in the row_type word).
constexpr int32_t kSetRowLessSide = 0x8000;
constexpr int32_t kSetRowGreaterSide = 0x80000;
// Cut type of a GUB cover cut outside single mode.
constexpr int32_t kGubCoverCutType = 0x81;
constexpr int32_t kSingleCallMode = 1;

bool column_fixed(int32_t status) { return (status & (PS_FIXED | PS_SEARCH_FIXED)) != 0; }

bool is_set_row(int32_t row_type) { return (row_type & (kSetRowLessSide | kSetRowGreaterSide)) != 0; }

// Set rows holding column j, with the sign its column takes in them.
template <class Visit>
void for_each_set_row(int32_t j, Visit visit) {
  const OneBased<int32_t> start = int_array(ARR_COL_START);
  const OneBased<int32_t> row = int_array(ARR_ELEM_ROW);
  const OneBased<double> value = real_array(ARR_ELEM_VALUE);
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t k = start[j]; k < start[j + 1]; ++k) {
    const int32_t r = row[k];
    if (r < 1 || r > nrow || !is_set_row(row_type[r])) continue;
    visit(r, value[k]);
  }
}

}  // namespace

void prepare_cut_row(int32_t n, const int32_t* row_columns, int32_t& marked, int32_t& group_count,
                     int32_t* members, int32_t* group_starts, int32_t& inconsistent) {
  const OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const OneBased<double> x = real_array(ARR_X);
  const double ztolis = dcv(dc::ZTOLIS);
  group_count = 0;
  inconsistent = 0;
  marked = 0;
  group_starts[0] = 0;

  // Per model row: still a candidate set row, members and fractional
  // members among the row's columns not yet grouped.
  std::vector<char> row_open(static_cast<size_t>(nrow) + 1, 0);
  std::vector<int32_t> member_count(static_cast<size_t>(nrow) + 1, 0);
  std::vector<int32_t> fractional_count(static_cast<size_t>(nrow) + 1, 0);
  for (int32_t r = 1; r <= nrow; ++r) row_open[static_cast<size_t>(r)] = is_set_row(row_type[r]) ? 1 : 0;
  std::vector<char> column_open(static_cast<size_t>(n), 0);
  for (int32_t e = 0; e < n; ++e) {
    if (column_fixed(status[row_columns[e]])) continue;
    column_open[static_cast<size_t>(e)] = 1;
    ++marked;
  }
  auto count_column = [&](int32_t e, int32_t step) {
    const int32_t j = row_columns[e];
    const bool fractional = x[j] > ztolis && x[j] < 1.0 - ztolis;
    for_each_set_row(j, [&](int32_t r, double) {
      member_count[static_cast<size_t>(r)] += step;
      if (fractional) fractional_count[static_cast<size_t>(r)] += step;
    });
  };
  for (int32_t e = 0; e < n; ++e)
    if (column_open[static_cast<size_t>(e)] != 0) count_column(e, 1);

  int32_t placed = 0;
  for (;;) {
    int32_t winner = 0;
    for (int32_t r = 1; r <= nrow; ++r) {
      if (row_open[static_cast<size_t>(r)] == 0) continue;
      if (member_count[static_cast<size_t>(r)] < 2) {
        row_open[static_cast<size_t>(r)] = 0;
        continue;
      }
      if (winner == 0 || fractional_count[static_cast<size_t>(r)] > fractional_count[static_cast<size_t>(winner)] ||
          (fractional_count[static_cast<size_t>(r)] == fractional_count[static_cast<size_t>(winner)] &&
           member_count[static_cast<size_t>(r)] > member_count[static_cast<size_t>(winner)]))
        winner = r;
    }
    if (winner == 0) break;
    row_open[static_cast<size_t>(winner)] = 0;
    const bool greater_side = (row_type[winner] & kSetRowLessSide) == 0;
    for (int32_t e = 0; e < n; ++e) {
      if (column_open[static_cast<size_t>(e)] == 0) continue;
      double coefficient = 0.0;
      bool inside = false;
      for_each_set_row(row_columns[e], [&](int32_t r, double v) {
        if (r != winner) return;
        inside = true;
        coefficient = v;
      });
      if (!inside) continue;
      // The column enters its set row complemented when its coefficient
      // has the sign of the row's negated terms.
      const bool complemented = greater_side ? coefficient > 0.0 : coefficient < 0.0;
      members[placed++] = complemented ? -(e + 1) : e + 1;
      column_open[static_cast<size_t>(e)] = 0;
      count_column(e, -1);
    }
    group_starts[++group_count] = placed;
  }
  if (group_count == 0) return;
  for (int32_t e = 0; e < n; ++e) {
    if (column_open[static_cast<size_t>(e)] == 0) continue;
    members[placed++] = e + 1;
    group_starts[++group_count] = placed;
  }
  if (placed != marked) inconsistent = 1;
}

bool store_separated_cut(int32_t count, const int32_t* positions, const double* coefs, double rhs, int32_t cut_type,
                         int32_t record_flags, int32_t single_call, int32_t caller_cut_type, int32_t list_capacity,
                         int32_t& list_count, int32_t* cut_list) {
  const double ztolda = dcv(dc::ZTOLDA);
  std::vector<int32_t> kept_positions;
  std::vector<double> kept_coefs;
  for (int32_t k = 0; k < count; ++k) {
    if (std::fabs(coefs[k]) <= ztolda) continue;
    kept_positions.push_back(positions[k]);
    kept_coefs.push_back(coefs[k]);
  }
  // Every coefficient dropped: nothing is left to cut with.
  if (kept_positions.empty()) return false;
  const bool single = single_call == kSingleCallMode;
  const int32_t type = single ? caller_cut_type : cut_type;
  const int32_t base = icv(ic::IFDBG);
  const int32_t length = static_cast<int32_t>(kept_positions.size());
  // storecut reads entry e of a cut at columns[e + IFDBG - 1].
  const int32_t start[2] = {1 - base, 1 - base + length};
  int32_t index = 0;
  const int32_t stored_before = search_record.stored_cut_count;
  status_code = 0;
  storecut(1, 0, &type, "L", &rhs, start, &index, kept_positions.data(), kept_coefs.data(), single ? 2 : 1);
  if (status_code == 0) {
    cut_record_field(index + base, CUT_FIELD_FLAGS) |= record_flags;
    if (single) {
      bool listed = false;
      for (int32_t k = 0; k < list_count; ++k) listed = listed || cut_list[k] == index;
      if (!listed && list_count < list_capacity) cut_list[list_count++] = index;
    }
  }
  return search_record.stored_cut_count != stored_before;
}

void separate_row_gub_cover_cut(int32_t row, int32_t side, int32_t& result, int32_t single_call,
                                int32_t caller_cut_type, int32_t list_capacity, int32_t& list_count,
                                int32_t* cut_list) {
  result = KNAPSACK_NO_CUT;
  const OneBased<int32_t> copy_start = int_array(ARR_ROW_COPY_START);
  const OneBased<int32_t> copy_col = int_array(ARR_ROW_COPY_COL);
  const OneBased<double> copy_val = real_array(ARR_ROW_COPY_VAL);
  const int32_t first = copy_start[row];
  const int32_t n = copy_start[row + 1] - first;
  if (n <= 0) return;
  const int32_t* row_columns = &copy_col[first];
  std::vector<int32_t> members(static_cast<size_t>(n));
  std::vector<int32_t> group_starts(static_cast<size_t>(n) + 1);
  int32_t marked = 0;
  int32_t group_count = 0;
  int32_t inconsistent = 0;
  prepare_cut_row(n, row_columns, marked, group_count, members.data(), group_starts.data(), inconsistent);
  if (group_count == 0 || inconsistent != 0) return;

  const OneBased<double> lp_values = real_array(ARR_X);
  const OneBased<double> lower = real_array(ARR_LOWER);
  const double sign = side == 0 ? 1.0 : -1.0;
  double b = side == 0 ? real_array(ARR_RHS)[row] : real_array(ARR_UPPER)[row] - real_array(ARR_RHS)[row];
  for (int32_t e = 0; e < n; ++e) b -= sign * copy_val[first + e] * lower[row_columns[e]];

  // Items, group by group; a member entering its set row complemented is
  // complemented here too, so that every group reads "at most one at 1".
  const int32_t item_count = group_starts[static_cast<size_t>(group_count)];
  std::vector<int32_t> columns(static_cast<size_t>(item_count));
  std::vector<double> weights(static_cast<size_t>(item_count));
  std::vector<double> values(static_cast<size_t>(item_count));
  std::vector<char> complemented(static_cast<size_t>(item_count), 0);
  for (int32_t i = 0; i < item_count; ++i) {
    const int32_t e = std::abs(members[static_cast<size_t>(i)]) - 1;
    const int32_t j = row_columns[e];
    const double a = sign * copy_val[first + e];
    columns[static_cast<size_t>(i)] = j;
    if (members[static_cast<size_t>(i)] < 0) {
      weights[static_cast<size_t>(i)] = -a;
      values[static_cast<size_t>(i)] = 1.0 - lp_values[j];
      b += -a;
      complemented[static_cast<size_t>(i)] = 1;
    } else {
      weights[static_cast<size_t>(i)] = a;
      values[static_cast<size_t>(i)] = lp_values[j];
    }
  }

  // A group whose lightest member weighs w_min <= 0 is rewritten through
  // its slack 1 - sum x: every weight becomes nonnegative.
  std::vector<int32_t> slack_item(static_cast<size_t>(group_count), -1);
  for (int32_t g = 0; g < group_count; ++g) {
    const int32_t begin = group_starts[static_cast<size_t>(g)];
    const int32_t end = group_starts[static_cast<size_t>(g) + 1];
    int32_t lightest = begin;
    double sum = 0.0;
    for (int32_t i = begin; i < end; ++i) {
      sum += values[static_cast<size_t>(i)];
      if (weights[static_cast<size_t>(i)] < weights[static_cast<size_t>(lightest)]) lightest = i;
    }
    const double w_min = weights[static_cast<size_t>(lightest)];
    if (w_min > 0.0) continue;
    b -= w_min;
    for (int32_t i = begin; i < end; ++i)
      if (i != lightest) weights[static_cast<size_t>(i)] -= w_min;
    weights[static_cast<size_t>(lightest)] = -w_min;
    columns[static_cast<size_t>(lightest)] = -columns[static_cast<size_t>(lightest)];
    values[static_cast<size_t>(lightest)] = 1.0 - sum;
    slack_item[static_cast<size_t>(g)] = lightest;
  }

  std::vector<double> coefs(static_cast<size_t>(item_count));
  std::vector<int32_t> group_order(static_cast<size_t>(group_count));
  std::vector<double> group_keys(static_cast<size_t>(group_count));
  std::vector<double> table(static_cast<size_t>(kKnapsackTableSize) + 1);
  std::vector<int32_t> item_flags(static_cast<size_t>(item_count));
  int32_t found = KNAPSACK_NO_CUT;
  double cut_rhs = 0.0;
  double efficacy = 0.0;
  // The table is 1-based.
  separate_gub_cover(group_count, group_starts.data(), item_count, b, columns.data(), weights.data(), values.data(),
                     found, cut_rhs, coefs.data(), efficacy, group_order.data(), group_keys.data(),
                     table.data(), item_flags.data());
  if (found != KNAPSACK_CUT_FOUND) return;

  // Back through the slacks, then through the complementation.
  for (int32_t g = 0; g < group_count; ++g) {
    const int32_t s = slack_item[static_cast<size_t>(g)];
    if (s < 0) continue;
    const double c_s = coefs[static_cast<size_t>(s)];
    cut_rhs -= c_s;
    for (int32_t i = group_starts[static_cast<size_t>(g)]; i < group_starts[static_cast<size_t>(g) + 1]; ++i)
      if (i != s) coefs[static_cast<size_t>(i)] -= c_s;
    coefs[static_cast<size_t>(s)] = -c_s;
  }
  std::vector<int32_t> positions(static_cast<size_t>(item_count));
  for (int32_t i = 0; i < item_count; ++i) {
    positions[static_cast<size_t>(i)] = row_columns[std::abs(members[static_cast<size_t>(i)]) - 1];
    if (complemented[static_cast<size_t>(i)] == 0) continue;
    cut_rhs -= coefs[static_cast<size_t>(i)];
    coefs[static_cast<size_t>(i)] = -coefs[static_cast<size_t>(i)];
  }

  const int32_t record_flags = CUT_NEW_IN_ROUND | (search_node_count < 2 ? CUT_TOP_NODE : 0);
  if (store_separated_cut(item_count, positions.data(), coefs.data(), cut_rhs, kGubCoverCutType, record_flags,
                          single_call, caller_cut_type, list_capacity, list_count, cut_list))
    result = KNAPSACK_CUT_FOUND;
}

}  // namespace kl
