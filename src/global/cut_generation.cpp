// Bodies of the cut generation exports.
#include "global/cut_generation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "global/clique_cuts.h"
#include "global/cut_rounds.h"
#include "global/cut_rows.h"
#include "global/gomory_cuts.h"
#include "global/knapsack_cuts.h"
#include "global/node_cut_lists.h"
#include "global/node_loop.h"
#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/array_ids.h"
#include "problem/cut_store.h"
#include "problem/factor_arrays.h"
#include "problem/matrix_storage.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "factor/simplex_state.h"
#include "simplex/lp_driver.h"

namespace kl {
namespace {

constexpr const char* kGenKnapsackName = "KLGENKNPCUT";
constexpr const char* kGenGomoryName = "KLGENGOMCUT";
constexpr const char* kGenCliqueName = "KLGENCLQCUT";
constexpr const char* kLoadBestName = "KLLOADBESTCUT";
constexpr const char* kSepCutName = "KLSEPCUT";
constexpr const char* kGomoryName = "KLGOMORY";
constexpr const char* kLiftCoversName = "KLLIFTCOVERS";
constexpr int32_t kRoutineChars = 10;
// Rows KLLIFTCOVERS lets the aggregated-row separator combine in one pass,
// as many as the node cut round allows.
constexpr int32_t kSingleModeAggregation = 6;

// The generators read the LP solution, the basis and the search's bound
// copies: a problem with a current optimal solution is needed. The bound
// copies of the columns equal the bounds whenever a search keeps them;
// outside a search they are made so here.
bool ready_for_generation() {
  if (!require_problem()) return false;
  if ((problem_flags & PF_SOLUTION_CURRENT) == 0 || lp_status != LP_OPTIMAL || !real_array(ARR_X) ||
      !int_array(ARR_BASIS_HEADER)) {
    report_plain_error(MSG_SOLUTION_NOT_CURRENT);
    error_number = MSG_SOLUTION_NOT_CURRENT;
    return false;
  }
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  if (!work_lower || !work_upper) {
    report_plain_error(MSG_SOLUTION_NOT_CURRENT);
    error_number = MSG_SOLUTION_NOT_CURRENT;
    return false;
  }
  if ((problem_flags & PF_SEARCH_RUNNING) == 0) {
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    for (int32_t p = store.first_col; p <= nseq; ++p) {
      work_lower[p] = lower[p];
      work_upper[p] = upper[p];
    }
  }
  set_nonbasic_values();
  return true;
}

// The caller's list arguments: a count cell always, a list when it has
// room for anything.
bool list_arguments_valid(int32_t capacity, const int32_t* count, const int32_t* list, int32_t capacity_argument,
                          const char* name) {
  if (!require_argument(count, capacity_argument + 1, name)) return false;
  if (capacity < 0) {
    report_count_error(capacity_argument, 0, capacity, name);
    return false;
  }
  if (capacity > 0 && !require_argument(list, capacity_argument + 2, name)) return false;
  return true;
}

// Runs a single-mode generator with IFDBG 0 (internal record numbers) and
// the status word cleared of the pool's growth failures, which leave the
// cut unlisted.
template <class Generator>
void run_single(int32_t* count, Generator generator) {
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  *count = 0;
  generator();
  icv(ic::IFDBG) = base;
}

void report_bad_record(int32_t entry, int32_t value) {
  error_number = MSG_CUT_RECORD_INVALID;
  error_value = value;
  status_code = STATUS_REPORTED;
  begin_message(MSG_CUT_RECORD_INVALID);
  insert_message_chars(kLoadBestName, kRoutineChars);
  insert_message_int(entry);
  insert_message_int(value);
  emit_message();
}

bool is_stored_cut(int32_t record) {
  if (record < 1 || record > icv(ic::MXCPOL) || array_cells[ARR_CUT_RECORD] == nullptr) return false;
  return cut_record_field(record, CUT_FIELD_FIRST) >= 0;
}

// Re-solves when the LP has no current solution; false when it is not
// optimal afterwards.
bool resolve_if_needed() {
  if ((problem_flags & PF_SOLUTION_CURRENT) != 0) return true;
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  optimise_lp(OPT_REOPTIMISE);
  if (lp_status != LP_OPTIMAL) {
    node_cut_list_state.current_cut_list = -1;
    return false;
  }
  return true;
}

// The caller hears of a delcut failure through the status word, so unlike
// the cut rounds this keeps it.
int32_t delete_nonbinding_rows() {
  const int32_t before = cut_row_count;
  delcut(1, 0, -1, 0.0, -1, nullptr);
  return before - cut_row_count;
}

// Outside a search the re-solves after loading cuts compare against no
// cutoff: the search's cutoff (0 unless a search set it) would report an
// optimal LP as "not better than the cutoff".
struct NoCutoffOutsideSearch {
  bool active = (problem_flags & PF_SEARCH_RUNNING) == 0;
  double saved = lp_driver.search_cutoff;
  NoCutoffOutsideSearch() {
    if (active) lp_driver.search_cutoff = (sense_factor < 0.0 ? -1.0 : 1.0) * 1e300;
  }
  ~NoCutoffOutsideSearch() {
    if (active) lp_driver.search_cutoff = saved;
  }
};

}  // namespace

void generate_knapsack_cut(int32_t selection, int32_t max_aggregation, int32_t type, int32_t capacity,
                           int32_t* count, int32_t* list) {
  begin_body();
  if (!list_arguments_valid(capacity, count, list, 4, kGenKnapsackName) || !ready_for_generation()) return;
  run_single(count, [&] {
    int32_t rounds = 0, round_number = 0, found = 0, vub_found = 0, added = 0, removed = 0, outcome = 0;
    generate_lifted_cover_cuts(max_aggregation, 1, type, capacity, *count, list, selection, rounds, round_number,
                               found, vub_found, added, removed, outcome);
  });
  status_code = STATUS_OK;
}

void generate_gomory_cut(int32_t type, int32_t capacity, int32_t* count, int32_t* list) {
  begin_body();
  if (!list_arguments_valid(capacity, count, list, 2, kGenGomoryName) || !ready_for_generation()) return;
  run_single(count, [&] {
    int32_t rounds = 0, round_number = 0, found = 0, added = 0, removed = 0, outcome = 0;
    generate_gomory_cuts(1, type, capacity, *count, list, 0, rounds, round_number, found, added, removed, outcome);
  });
  status_code = STATUS_OK;
}

void generate_clique_cut(int32_t type, int32_t capacity, int32_t* count, int32_t* list) {
  begin_body();
  if (!list_arguments_valid(capacity, count, list, 2, kGenCliqueName) || !ready_for_generation()) return;
  run_single(count, [&] {
    int32_t found = 0;
    generate_clique_cuts(found, 1, type, capacity, *count, list);
  });
  status_code = STATUS_OK;
}

void load_best_cuts(int32_t mode, int32_t delete_level, int32_t count, const int32_t* list, int32_t* violated,
                    int32_t* loaded, int32_t* deleted) {
  begin_body();
  if (!require_problem()) return;
  if (!require_argument(violated, 5, kLoadBestName) || !require_argument(loaded, 6, kLoadBestName) ||
      !require_argument(deleted, 7, kLoadBestName))
    return;
  if (count < 0) {
    report_count_error(3, 0, count, kLoadBestName);
    return;
  }
  if (count > 0 && !require_argument(list, 4, kLoadBestName)) return;
  *violated = 0;
  *loaded = 0;
  *deleted = 0;
  if (!real_array(ARR_X) || !int_array(ARR_BASIS_HEADER)) {
    report_plain_error(MSG_SOLUTION_NOT_CURRENT);
    error_number = MSG_SOLUTION_NOT_CURRENT;
    return;
  }
  // Every listed number must name a stored cut: a stale number would load
  // whatever the record holds now.
  for (int32_t n = 0; n < count; ++n)
    if (!is_stored_cut(list[n])) {
      report_bad_record(n + 1, list[n]);
      return;
    }
  NoCutoffOutsideSearch no_cutoff;
  const int32_t base = icv(ic::IFDBG);
  icv(ic::IFDBG) = 0;
  // The node loop learns from this mark that the LP's cut rows no longer
  // match the node's cut list, also when the rows were re-solved here.
  struct Restore {
    int32_t base;
    int32_t* loaded;
    int32_t* deleted;
    ~Restore() {
      icv(ic::IFDBG) = base;
      if (*loaded + *deleted > 0) node_cut_list_state.cut_rows_changed = 1;
    }
  } restore{base, loaded, deleted};

  if (delete_level >= 1) {
    const int32_t removed = delete_nonbinding_rows();
    if (status_code != STATUS_OK) return;
    *deleted = removed;
    if (removed > 0) build_column_copy();
  }
  int32_t selected = 0;
  select_active_cuts(mode, count, list, 0.0, *violated, selected);
  if (*violated > 0) {
    const int32_t before = cut_row_count;
    loadcut(0, CUT_RULE_COMMON_BIT, -1, nullptr, LOAD_SELECTED);
    *loaded = cut_row_count - before;
  }
  status_code = STATUS_OK;
  if (!resolve_if_needed()) return;
  if (delete_level >= 2) {
    const int32_t removed = delete_nonbinding_rows();
    if (status_code != STATUS_OK) return;
    *deleted += removed;
    if (removed > 0 && !resolve_if_needed()) return;
  }
}

void separate_user_knapsack(int32_t type, int32_t n, const double* a, const double* u, const double* x, double b,
                            double s, int32_t* result, double* coefs, double* rhs, double* continuous) {
  begin_body();
  if (!require_argument(result, 8, kSepCutName)) return;
  if (n < 0) {
    report_count_error(2, 0, n, kSepCutName);
    return;
  }
  if (n > kUserKnapsackItems) {
    *result = -1;
    return;
  }
  if (n > 0 && (!require_argument(a, 3, kSepCutName) || !require_argument(u, 4, kSepCutName) ||
                !require_argument(x, 5, kSepCutName) || !require_argument(coefs, 9, kSepCutName)))
    return;
  if (!require_argument(rhs, 10, kSepCutName) || !require_argument(continuous, 11, kSepCutName)) return;
  for (int32_t j = 0; j < n; ++j)
    if (a[j] < 0.0) {
      *result = -2;
      return;
    }
  *result = 0;
  if (n == 0) return;
  // The separators work on copies: they change weights and values while
  // they run.
  std::vector<double> weights(a, a + n), ranges(u, u + n), values(x, x + n);
  std::vector<double> cut(static_cast<size_t>(n), 0.0), keys(static_cast<size_t>(n), 0.0);
  std::vector<int32_t> work1(static_cast<size_t>(n), 0), work2(static_cast<size_t>(n), 0);
  double capacity = b, cut_rhs = 0.0, factor = 0.0, efficacy = 0.0;
  int32_t found = 0;
  if (type == 1) {
    separate_mir_cut(n, 1, capacity, weights.data(), values.data(), ranges.data(), s, found, cut_rhs, cut.data(),
                     factor, efficacy, work1.data(), work2.data(), keys.data());
    found = found == 1 ? 1 : 0;
  } else {
    std::vector<int32_t> columns(static_cast<size_t>(n), 0);
    for (int32_t j = 0; j < n; ++j) columns[static_cast<size_t>(j)] = j + 1;
    std::vector<double> table(static_cast<size_t>(kKnapsackTableSize) + 1, 0.0);
    separate_general_cover(n, capacity, columns.data(), weights.data(), values.data(), ranges.data(), s, found,
                           cut_rhs, cut.data(), factor, efficacy, work1.data(), table.data(), keys.data(),
                           work2.data(), 1);
    found = found == KNAPSACK_CUT_FOUND ? 1 : 0;
  }
  *result = found;
  if (found != 1) return;
  std::copy(cut.begin(), cut.end(), coefs);
  *rhs = cut_rhs;
  *continuous = factor;
}

void run_gomory_export(int32_t mode, int32_t type, int32_t* count) {
  begin_body();
  if (!require_argument(count, 3, kGomoryName) || !ready_for_generation()) return;
  NoCutoffOutsideSearch no_cutoff;
  const bool top = search_node_count <= 1;
  int32_t listed = 0, round_number = 0, found = 0, added = 0, removed = 0, outcome = 0;
  const int32_t before = search_record.stored_cut_count;
  if (mode == 1) {
    generate_gomory_cuts(1, type, 0, listed, nullptr, 0, 1, round_number, found, added, removed, outcome);
    *count = search_record.stored_cut_count - before;
  } else {
    generate_gomory_cuts(0, 0, 0, listed, nullptr, top ? icv(ic::ICSLCT) : icv(ic::ITSLCT),
                         top ? icv(ic::NITGOM) : icv(ic::NTRGOM), round_number, found, added, removed, outcome);
    *count = found;
    if (added + removed > 0) node_cut_list_state.cut_rows_changed = 1;
  }
  status_code = STATUS_OK;
}

void run_lift_covers_export(int32_t mode, int32_t type, int32_t* count) {
  begin_body();
  if (!require_argument(count, 3, kLiftCoversName) || !ready_for_generation()) return;
  NoCutoffOutsideSearch no_cutoff;
  const bool top = search_node_count <= 1;
  int32_t listed = 0, round_number = 0, found = 0, vub_found = 0, added = 0, removed = 0, outcome = 0;
  const int32_t before = search_record.stored_cut_count;
  if (mode == 1) {
    generate_lifted_cover_cuts(kSingleModeAggregation, 1, type, 0, listed, nullptr, top ? icv(ic::ICSLCT) : icv(ic::ITSLCT), 1,
                               round_number, found, vub_found, added, removed, outcome);
    *count = search_record.stored_cut_count - before;
  } else {
    generate_lifted_cover_cuts(0, 0, 0, 0, listed, nullptr, top ? icv(ic::ICSLCT) : icv(ic::ITSLCT),
                               top ? icv(ic::NITCOV) : icv(ic::NTRCOV), round_number, found, vub_found, added,
                               removed, outcome);
    *count = found + vub_found;
    if (added + removed > 0) node_cut_list_state.cut_rows_changed = 1;
  }
  status_code = STATUS_OK;
}

}  // namespace kl
