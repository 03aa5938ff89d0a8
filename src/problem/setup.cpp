#include "problem/setup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>

#include "factor/basis.h"
#include "factor/scaling.h"
#include "presolve/presolve_state.h"
#include "problem/cut_pool.h"
#include "problem/search_state.h"
#include "problem/loader.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

double bigm_fallback = 0.0;
int32_t has_semicont_columns = 0;

namespace {

constexpr int32_t kNameChars = 8;
// M_E after every load.
constexpr int32_t kDefaultEtaCapacity = 512000;
// Weights of the standard deviation in the big-M and penalty defaults.
constexpr double kPenaltySpread = 7.0;
constexpr double kBigmSpread = 10.0;
// CUTOFF default: no cut-off, in the direction of the objective.
constexpr double kNoCutoff = 1e40;
// IFINTP defaults: 7 for sparse problems that are mostly binary, else 1.
constexpr int32_t kIntegerPreprocessingSparseBinary = 7;
constexpr int32_t kIntegerPreprocessingDefault = 1;
constexpr float kSparseElementsPerRow = 5.0f;
constexpr float kMostlyBinaryShare = 0.8f;
// Defaults of controls the caller has not set.
constexpr int32_t kNodeSelectionDefault = 1;
constexpr int32_t kMaxBranchFailuresDefault = 10;
// A node record: 68-byte header, words of 16 two-bit fields.
constexpr int32_t kNodeHeaderBytes = 68;
constexpr int32_t kTwoBitFieldsPerWord = 16;
// NEXTRA estimate: per equality-row entry, plus a floor.
constexpr int64_t kFillPerEqualityEntry = 4;
constexpr int64_t kFillFloor = 5000;

// A fresh zero-filled block (an old one is released first); the failure code.
int32_t fresh_block(int32_t id, int64_t words) {
  if (array_cells[id] != nullptr) free_array(id, array_cells[id]);
  return allocate_array(id, array_cells[id], words > 0 ? words : 0);
}

int32_t entity_kind(int32_t e) { return int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK; }
bool is_set(int32_t e) {
  const int32_t kind = entity_kind(e);
  return kind == ENT_SET1 || kind == ENT_SET2;
}

char* set_name(int32_t k) {
  return name_array(ARR_SET_NAME) + static_cast<int64_t>(k - 1) * kNameChars;
}


void clear_cut_pool_counts() {
  cut_row_count = 0;
  search_record.stored_cut_count = 0;
  search_record.pool_elements_used = 0;
  search_record.saved_bound_count = 0;
  search_record.branch_bound_count = 0;
  search_record.cut_rows_added = 0;
  search_record.cut_rows_deleted = 0;
  search_record.cut_rows_loaded = 0;
}

// Ids 96, 98, 7 and 31, then the global-search arrays when needed.
int32_t allocate_setup_arrays() {
  const int64_t positions = static_cast<int64_t>(nseq) + icv(ic::NCXTRA);
  const int64_t rows = static_cast<int64_t>(nrow) + spare_rows_left;
  const struct {
    int32_t id;
    int64_t words;
  } blocks[] = {
      {ARR_WORK_UPPER, words_for_reals(positions)},
      {ARR_WORK_LOWER, words_for_reals(positions)},
      {ARR_RHS, words_for_reals(rows)},
      {ARR_WORK_RHS, words_for_reals(rows)},
  };
  for (const auto& block : blocks) {
    if (int32_t failure = fresh_block(block.id, block.words); failure != 0) return failure;
  }
  return 0;
}

int32_t allocate_search_arrays() {
  if (int32_t failure = alloc_cut_pool(); failure != 0) return failure;
  const int64_t positions = static_cast<int64_t>(nseq) + icv(ic::NCXTRA);
  const int64_t entities = static_cast<int64_t>(nglent) + icv(ic::NGXTRA);
  const struct {
    int32_t id;
    int64_t words;
  } blocks[] = {
      {ARR_VLB_REF, words_for_ints(positions)},
      {ARR_VUB_REF, words_for_ints(positions)},
      {ARR_ENTITY_ROOT_UPPER, entities},
      {ARR_ENTITY_ROOT_LOWER, entities},
  };
  for (const auto& block : blocks) {
    if (int32_t failure = fresh_block(block.id, block.words); failure != 0) return failure;
  }
  return 0;
}

// Keeps the matrix entries that survived the merge, in their order.
void compact_matrix() {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  const double tolerance = dcv(dc::ZTOLDA);
  int32_t kept = 0;
  int32_t begin = col_start[store.first_col];
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t end = col_start[p + 1];
    col_start[p] = kept + 1;
    for (int32_t k = begin; k < end; ++k) {
      if (elem_row[k] <= 0 || std::fabs(elem_value[k]) < tolerance) continue;
      ++kept;
      elem_row[kept] = elem_row[k];
      elem_value[kept] = elem_value[k];
    }
    begin = end;
  }
  col_start[nseq + 1] = kept + 1;
  const int32_t dropped = nelem - kept;
  spare_elems_left += dropped;
  nelem = kept;
  original_problem.nelem -= dropped;
}

// Column entities into increasing column order, with reduced_costs (cleared
// over its first nseq ints by the caller) as the map column -> entity.
void sort_column_entities() {
  OneBased<int32_t> entity_of_column = reduced_costs_as_int_scratch();
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  for (int32_t e = nsets + 1; e <= nglent; ++e) entity_of_column[entity_column[e]] = e;
  const int word_ids[] = {ARR_ENTITY_TYPE, ARR_ENTITY_COLUMN, ARR_DIRECTIVE_WORD, ARR_PSEUDO_COST_DOWN,
                         ARR_PSEUDO_COST_UP};
  const int real_ids[] = {ARR_SEMICONT_LIMIT, ARR_SEMICONT_UPPER};
  int32_t slot = nsets;
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t t = entity_of_column[j];
    if (t == 0) continue;
    ++slot;
    if (slot == t) continue;
    // Entity slot (placed later, on a later column) and entity t swap places.
    for (int id : word_ids) {
      if (array_cells[id] != nullptr) std::swap(word_array(id)[slot], word_array(id)[t]);
    }
    for (int id : real_ids) {
      if (array_cells[id] != nullptr) std::swap(array_of<double>(id)[slot], array_of<double>(id)[t]);
    }
    entity_of_column[entity_column[t]] = t;
    entity_of_column[j] = slot;
  }
  std::memset(entity_of_column.data(), 0, static_cast<size_t>(nseq) * sizeof(int32_t));
}

int32_t node_record_length() {
  const int64_t others = static_cast<int64_t>(nglent) - binary_count;
  const int64_t positions = static_cast<int64_t>(nseq) + icv(ic::NCXTRA);
  int64_t bytes = kNodeHeaderBytes + 4 * ((binary_count + kTwoBitFieldsPerWord - 1) / kTwoBitFieldsPerWord) +
                  8 * others + 4 * ((positions + kTwoBitFieldsPerWord - 1) / kTwoBitFieldsPerWord);
  bytes = (bytes + 7) / 8 * 8;
  return static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX - 7));
}

// Defaults that depend on the problem, for controls the caller has not set.
void set_unset_control_defaults() {
  auto unset_int = [](int n) { return integer_set_flags[n] == 0; };
  if (unset_int(ic::NDSEL1)) icv(ic::NDSEL1) = kNodeSelectionDefault;
  if (unset_int(ic::IPHSF)) icv(ic::IPHSF) = 0;
  if (unset_int(ic::MAXNBF)) icv(ic::MAXNBF) = kMaxBranchFailuresDefault;
  if (unset_int(ic::IFINTP)) {
    const bool sparse = static_cast<float>(nelem) < kSparseElementsPerRow * static_cast<float>(nrow);
    const bool mostly_binary = static_cast<float>(binary_count) > kMostlyBinaryShare * static_cast<float>(ncols());
    icv(ic::IFINTP) = sparse && mostly_binary ? kIntegerPreprocessingSparseBinary : kIntegerPreprocessingDefault;
  }
  if (double_set_flags[dc::CUTOFF] == 0) dcv(dc::CUTOFF) = dcv(dc::SENSE_FACTOR) * kNoCutoff;
}

// Crossed bounds: message 18 per column; free columns become nonbasic at 0.
bool check_column_bounds() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  bool consistent = true;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if ((status[p] & PS_FREE) != 0) status[p] |= PS_NONBASIC_BETWEEN;
    if (upper[p] >= lower[p]) continue;
    begin_message(MSG_LOAD_CROSSED_BOUNDS);
    insert_message_name8(position_name(p));
    emit_message();
    consistent = false;
  }
  return consistent;
}

void clear_spare_rows() {
  for (int32_t i = nrow + 1; i <= nrow + spare_rows_left; ++i) {
    real_array(ARR_LOWER)[i] = 0.0;
    real_array(ARR_UPPER)[i] = 0.0;
    real_array(ARR_WORK_UPPER)[i] = 0.0;
    real_array(ARR_WORK_RHS)[i] = 0.0;
    real_array(ARR_BASIC_UPPER)[i] = 0.0;
    int_array(ARR_BASIS_HEADER)[i] = 0;
  }
}

}  // namespace

void record_original_problem() {
  original_problem.nrow = nrow;
  original_problem.nseq = nseq;
  original_problem.first_col = store.first_col;
  original_problem.nelem = nelem;
  original_problem.nqelem = nqelem;
  original_problem.nglent = nglent;
  original_problem.objective_row = store.objective_row;
  original_problem.spare_rows = spare_rows_left;
  original_problem.spare_cols = spare_cols_left;
  original_problem.spare_elems = spare_elems_left;
  original_problem.presolved_nrow = nrow;
  original_problem.presolved_nseq = nseq;
  original_problem.presolve_nglent = nglent;
  original_problem.presolve_nsets = nsets;
  original_problem.presolve_nsosm = nsosm;
}

char* position_name(int32_t position) {
  return name_array(ARR_NAME_TABLE) +
         static_cast<int64_t>(position - 1) * name_words * kNameChars;
}

void setup_loaded_problem(int32_t mode, int32_t& error_count, int32_t& failure_code) {
  failure_code = 0;
  has_semicont_columns = 0;
  record_original_problem();
  dcv(kObjectiveScaleSlot) = 1.0;
  objective_scale_exponent = kNeutralScaleExponent;
  icv(ic::M_E_) = kDefaultEtaCapacity;
  clear_cut_pool_counts();

  if ((failure_code = allocate_setup_arrays()) != 0) return;
  copy_work_to_rhs();
  if (has_ube_entry() != 0 || nglent > 0) {
    if ((failure_code = allocate_search_arrays()) != 0) return;
  }

  int32_t equality_entries = 0;
  int32_t duplicate_failure = 0;
  check_duplicate_matrix_entries(equality_entries, duplicate_failure);
  error_count += duplicate_failure;
  int32_t estimate = 0;
  estimate_int_work(equality_entries, estimate);
  fill_capacity = icv(ic::NEXTRA);

  binary_count = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    if (entity_kind(e) == ENT_BINARY) ++binary_count;
  }

  if ((failure_code = alloc_solver_work_arrays()) != 0) return;
  mark_set_members();

  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p) status[p] |= static_cast<int32_t>(kDefaultScaleWord);
  int32_t scale_error = 0;
  scale_problem(error_count, scale_error);
  // Error 1 is the typed entries, already counted in error_count; anything
  // above is the id of an array scaling could not have.
  if (scale_error > 1) {
    failure_code = scale_error;
    return;
  }

  set_bigm_defaults();
  print_problem_statistics();
  icv(ic::IFNBAS) = 0;

  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (upper[p] == lower[p]) status[p] |= PS_FIXED;
  }
  dcv(kSecondObjectiveConstantSlot) = 0.0;
  dcv(kObjectiveScaleSlot) = 1.0;

  if (nglent > 0) {
    int32_t reference_errors = 0;
    check_set_reference_values(1, reference_errors);
    if (reference_errors > 0) error_count += kSetReferenceErrorWeight;
  }
  set_entity_root_bounds();
  if (icv(ic::IFNRW) == 0) store.objective_row = -2;

  if (mode != 0 && !check_column_bounds()) {
    failure_code = kSetupCrossedBounds;
    return;
  }

  reset_presolve_state();
  count_binary_entities();
  node_record_bytes = node_record_length();
  node_records_per_entity_block =
      static_cast<int32_t>((8 * (static_cast<int64_t>(nglent) + icv(ic::NGXTRA)) - 1) / node_record_bytes + 1);
  problem_flags |= PF_COLUMN_COPY;
  set_unset_control_defaults();
  itcnt = 0;
  clear_spare_rows();
}

void check_duplicate_matrix_entries(int32_t& equality_entries, int32_t& failure_code) {
  equality_entries = 0;
  failure_code = 0;
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  // The row marks live in the first nrow entries of col_start, which no
  // column uses: mark[r] is the element that row r last met.
  int32_t* mark = col_start.data();
  std::memset(mark, 0, static_cast<size_t>(nrow) * sizeof(int32_t));
  bool merged = false;
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    const int32_t begin = col_start[p];
    for (int32_t k = begin; k < col_start[p + 1]; ++k) {
      const int32_t r = elem_row[k];
      int32_t& first = mark[r - 1];
      if (first < begin) {
        if ((row_type[r] & ROW_E) != 0) ++equality_entries;
        first = k;
        continue;
      }
      begin_message_limited(MSG_LOAD_DUPLICATE_ELEMENT);
      insert_message_name8(position_name(p));
      insert_message_name8(position_name(r));
      emit_message();
      // Every value of the position is summed into the first entry; only
      // the total decides whether the entry stays (compact_matrix).
      elem_value[first] += elem_value[k];
      elem_value[k] = 0.0;
      elem_row[k] = -1;
      merged = true;
    }
  }
  if (merged) compact_matrix();
  std::memset(mark, 0, static_cast<size_t>(nrow) * sizeof(int32_t));
}

void estimate_int_work(int32_t equality_entries, int32_t& estimate) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  int32_t inequalities = 0;
  for (int32_t i = 1; i <= nrow; ++i) {
    if ((row_type[i] & ROW_E) == 0) ++inequalities;
  }
  inequality_row_count = inequalities;
  if (integer_set_flags[ic::NEXTRA] > 0) {
    estimate = icv(ic::NEXTRA);
    return;
  }
  const int64_t fill = kFillPerEqualityEntry * equality_entries;
  int64_t value = fill > 0 ? fill + kFillFloor : fill;
  if (value > 0 && value < nrow) value = nrow;
  estimate = static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
  icv(ic::NEXTRA) = estimate;
}

void check_set_reference_values(int32_t, int32_t& error_count) {
  error_count = 0;
  if (array_cells[ARR_REDUCED_COSTS] != nullptr) {
    std::memset(array_cells[ARR_REDUCED_COSTS], 0, static_cast<size_t>(nseq) * sizeof(int32_t));
  }
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  has_semicont_columns = 0;
  bool out_of_order = false;
  int32_t previous_column = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    if (is_set(e)) continue;
    const int32_t c = entity_column[e];
    if (c < previous_column) out_of_order = true;
    previous_column = c;
    if ((status[c] & PS_SEMICONTINUOUS) == 0) continue;
    has_semicont_columns = 1;
    real_array(ARR_SEMICONT_UPPER)[e] = upper[c];
    // A positive lower bound is the semi-continuous limit: the column is 0
    // or at least that much.
    if (lower[c] != 0.0) {
      if (lower[c] > -kInfinity) real_array(ARR_SEMICONT_LIMIT)[e] = lower[c];
      lower[c] = 0.0;
      status[c] = (status[c] | PS_FINITE_LOWER) & ~static_cast<int32_t>(PS_FREE);
    }
  }

  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<double> member_ref = real_array(ARR_SET_MEMBER_REF);
  int32_t k = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    if (!is_set(e)) continue;
    ++k;
    const int32_t first = set_start[k] + 1;
    error_count += check_set_member_spacing(
        set_name(k), &member_ref[first], set_start[k + 1] - set_start[k],
        [&](int32_t i) -> const char* { return position_name(member_column[first + i]); }, true);
  }
  if (out_of_order) sort_column_entities();
}

int32_t check_set_member_spacing(const char* set_name8, const double* refs, int32_t count,
                                 const std::function<const char*(int32_t)>& member_name, bool report) {
  const double spacing = dcv(dc::ZTOLST);
  int32_t close = 0;
  double previous = -kInfinity;
  for (int32_t i = 0; i < count; ++i) {
    if (refs[i] - previous < spacing) {
      ++close;
      if (report) {
        begin_message_limited(MSG_LOAD_SET_REFS_TOO_CLOSE);
        insert_message_name8(set_name8);
        insert_message_name8(member_name(i));
        emit_message();
      }
    }
    previous = refs[i];
  }
  return close;
}

void mark_set_members() {
  if (nsets <= 0 || array_cells[ARR_SET_START] == nullptr) return;
  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  int32_t k = 0;
  for (int32_t e = 1; e <= nglent && k < nsets; ++e) {
    if (!is_set(e)) continue;
    ++k;
    for (int32_t m = set_start[k] + 1; m <= set_start[k + 1]; ++m) status[member_column[m]] |= PS_ENTITY;
  }
}

void print_problem_statistics() {
  begin_message(MSG_LOAD_STATISTICS);
  emit_message();
  const std::pair<int32_t, int32_t> lines[] = {
      {MSG_LOAD_STATS_ROWS, nrow}, {MSG_LOAD_STATS_COLUMNS, ncols()}, {MSG_LOAD_STATS_ELEMENTS, nelem}};
  const int32_t spares[] = {spare_rows_left, spare_cols_left, spare_elems_left};
  for (int k = 0; k < 3; ++k) {
    begin_message(lines[k].first);
    insert_message_value12(lines[k].second);
    insert_message_int(spares[k]);
    emit_message();
  }
  if (file_quadratic_entry_count > 0) {
    begin_message(MSG_LOAD_STATS_QUADRATIC);
    insert_message_value12(file_quadratic_entry_count);
    insert_message_int(nqelem);
    emit_message();
  }
  begin_message(MSG_LOAD_STATS_ENTITIES);
  insert_message_value12(nglent);
  insert_message_int(nsets);
  insert_message_int(nsosm);
  emit_message();
}

void set_bigm_defaults() {
  icv(ic::IFBIGM) = 1;
  bigm_mode = 1;
  // Group 0: columns with other than one matrix entry; group 1: singletons.
  struct Moments {
    double count = 0, sum = 0, sum_squares = 0;
    void add(double c) {
      count += 1;
      sum += std::fabs(c);
      sum_squares += c * c;
    }
  } groups[2];
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  for (int32_t p = store.first_col; p <= nseq; ++p) {
    if (cost[p] == 0.0) continue;
    groups[col_start[p + 1] - col_start[p] == 1 ? 1 : 0].add(cost[p]);
  }
  auto mean_and_variance = [](const Moments& m) {
    const double mean = m.sum / m.count;
    return std::make_pair(mean, m.sum_squares / m.count - mean * mean);
  };
  if (groups[0].count > 0) {
    const auto [mean, variance] = mean_and_variance(groups[0]);
    dcv(dc::PENLTY) = variance > 0 ? mean + kPenaltySpread * std::sqrt(variance) : mean;
  }
  const Moments both{groups[0].count + groups[1].count, groups[0].sum + groups[1].sum,
                     groups[0].sum_squares + groups[1].sum_squares};
  if (both.count > 0) {
    const auto [mean, variance] = mean_and_variance(both);
    dcv(dc::BIGM) = (variance > 0 ? mean + kBigmSpread * std::sqrt(variance) : mean) * dcv(dc::RSP001);
    if (groups[0].count == 0) dcv(dc::PENLTY) = dcv(dc::BIGM);
  } else {
    dcv(dc::BIGM) = 1.0;
    dcv(dc::PENLTY) = dcv(dc::BIGM);
  }
  bigm_fallback = std::max(dcv(dc::BIGM) * dcv(dc::ZSP002), dcv(dc::ZSP003));
}

void set_entity_root_bounds() {
  if (nglent <= 0) return;
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<int32_t> root_upper = int_array(ARR_ENTITY_ROOT_UPPER);
  OneBased<int32_t> root_lower = int_array(ARR_ENTITY_ROOT_LOWER);
  const double tolerance = dcv(dc::ZTOLIS);
  const int32_t intmax = icv(ic::INTMAX);
  int32_t k = 0;
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t c = entity_column[e];
    switch (entity_kind(e)) {
      case ENT_SEMICONTINUOUS:
        root_upper[e] = upper[c] > 1.0 - tolerance ? 1 : 0;
        root_lower[e] = lower[c] > tolerance ? 1 : 0;
        break;
      case ENT_SET1:
      case ENT_SET2: {
        float_array(ARR_ENTITY_ROOT_UPPER)[e] = static_cast<float>(kInfinity);
        float_array(ARR_ENTITY_ROOT_LOWER)[e] = static_cast<float>(-kInfinity);
        ++k;
        OneBased<int32_t> set_start = int_array(ARR_SET_START);
        for (int32_t m = set_start[k] + 1; m <= set_start[k + 1]; ++m) {
          real_array(ARR_SET_MEMBER_UPPER)[m] = upper[int_array(ARR_SET_MEMBER_COLUMN)[m]];
        }
        break;
      }
      default:
        if ((status[c] & PS_FINITE_UPPER) != 0 && upper[c] <= intmax) {
          root_upper[e] = static_cast<int32_t>(round_integer_upper(upper[c]));
        } else {
          root_upper[e] = intmax;
          upper[c] = intmax;
          status[c] = (status[c] | PS_FINITE_UPPER) & ~static_cast<int32_t>(PS_FREE);
        }
        root_lower[e] = static_cast<int32_t>(round_integer_lower(lower[c]));
        break;
    }
  }
}

void copy_name8(const char* source, char* destination) { std::memcpy(destination, source, kNameChars); }

int32_t equal_name8(const char* a, const char* b) { return std::memcmp(a, b, kNameChars) == 0 ? -1 : 0; }

void match_records_to_matrix() {
  RecurseEntry* entries = recurse_entries();
  if (entries == nullptr) return;
  for (int32_t i = 0; i < recurse_entry_count; ++i) {
    RecurseEntry& entry = entries[i];
    if (entry.kind == RK_BX) {
      entry.element = find_in_column(entry.column, entry.row);
    } else if (entry.kind == RK_SB) {
      real_array(ARR_LOWER)[entry.column] = -real_array(ARR_UPPER)[entry.column];
    }
  }
}

void member_reference_from_row(int32_t row, int32_t position) {
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  double value = 0.0;
  for (int32_t k = col_start[position]; k < col_start[position + 1]; ++k) {
    if (elem_row[k] != row) continue;
    value = real_array(ARR_ELEM_VALUE)[k];
    break;
  }
  real_array(ARR_SET_MEMBER_REF)[nsosm] = value;
}

}  // namespace kl
