#include "files/lp_backend.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/load_support.h"
#include "files/lp_lexer.h"
#include "problem/add_rows_cols.h"
#include "problem/loader.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// Row type letters by kind: 1 <=, 2 >=, 3 =.
constexpr char kRowTypeLetters[] = "NLGE";

void report_column(int32_t n, const std::string& name) {
  begin_message(n);
  insert_message_string(name.c_str());
  emit_message();
}

bool is_integer_type(int32_t type) { return type == 'I' || type == 'B' || type == 'P'; }

// Columns whose upper bound lies below the lower one, as the set-up would
// find them after the loaded problem is given up: integer bounds rounded
// inward, a semi-continuous column checked with the lower bound 0.
bool bounds_consistent() {
  const lp_reader_state& s = lp_state;
  bool consistent = true;
  for (size_t j = 0; j < s.column_type.size(); ++j) {
    double lower = s.column_type[j] == 'S' ? 0.0 : s.column_lower[j];
    double upper = s.column_upper[j];
    if (is_integer_type(s.column_type[j])) {
      lower = round_integer_lower(lower);
      upper = round_integer_upper(upper);
    }
    if (upper >= lower) continue;
    report_column(MSG_LP_CROSSED_BOUNDS, s.columns[j]->name);
    status_code = STATUS_REPORTED;
    consistent = false;
  }
  return consistent;
}

// Set members are loaded in the order of their weights; members whose
// weights lie too close together fail the set-up, so they fail the read
// here, before the hand-over, unless IGNORE allows them.
bool set_spacing_acceptable() {
  const auto spacing_errors = [](bool report) {
    const lp_reader_state& s = lp_state;
    int32_t close = 0;
    for (size_t k = 0; k < s.set_records.size(); ++k) {
      const lp_row_record& set = s.set_records[k];
      std::vector<size_t> order(set.columns.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(),
                       [&set](size_t a, size_t b) { return set.coefficients[a] < set.coefficients[b]; });
      std::vector<double> refs;
      std::vector<std::string> names;
      for (size_t i : order) {
        refs.push_back(set.coefficients[i]);
        std::string name = s.columns[static_cast<size_t>(set.columns[i])]->name;
        name.resize(8, ' ');
        names.push_back(name);
      }
      // Sets are unnamed: the messages name them by number.
      std::string set_name = "S" + std::to_string(k + 1);
      set_name.resize(8, ' ');
      close += check_set_member_spacing(
          set_name.data(), refs.data(), static_cast<int32_t>(refs.size()),
          [&names](int32_t i) -> const char* { return names[static_cast<size_t>(i)].data(); }, report);
    }
    return close;
  };
  if (spacing_errors(false) == 0) return true;
  if (lp_state.errors + kSetReferenceErrorWeight <= icv(ic::IGNORE)) return true;
  spacing_errors(true);
  return false;
}

// The names of one table in entry order, each ended by a NUL.
bool lay_names(const std::vector<std::unique_ptr<lp_name_entry>>& entries, size_t first, int32_t bytes, std::vector<char>& buffer) {
  buffer.clear();
  buffer.reserve(static_cast<size_t>(bytes));
  for (size_t k = first; k < entries.size(); ++k) {
    buffer.insert(buffer.end(), entries[k]->name.begin(), entries[k]->name.end());
    buffer.push_back('\0');
  }
  return buffer.size() == static_cast<size_t>(bytes);
}

}  // namespace

void lp_set_column_bound(int32_t column, double value, int32_t kind) {
  lp_reader_state& s = lp_state;
  const size_t j = static_cast<size_t>(column);
  double& lower = s.column_lower[j];
  double& upper = s.column_upper[j];
  switch (kind) {
    case LP_BOUND_LOWER:
      lower = value;
      if (value == 0.0 && upper == kLpDefaultUpper) upper = kLpExplicitInfiniteUpper;
      break;
    case LP_BOUND_UPPER:
      upper = (value == kLpDefaultUpper && lower == 0.0) ? kLpExplicitInfiniteUpper : value;
      break;
    case LP_BOUND_FIXED:
      lower = value;
      upper = value;
      break;
    case LP_BOUND_BINARY:
      if (lower > 0.0) {
        lower = upper = 1.0;
      } else if (upper < 1.0) {
        lower = upper = 0.0;
      } else {
        lower = 0.0;
        upper = 1.0;
      }
      break;
    default:
      lower = -kLpDefaultUpper;
      upper = kLpDefaultUpper;
      break;
  }
}

void lp_alloc_column_arrays() {
  lp_reader_state& s = lp_state;
  const size_t n = static_cast<size_t>(s.column_count);
  s.column_type.assign(n, 0);
  s.column_limit.assign(n, 0.0);
  s.column_lower.assign(n, 0.0);
  s.column_upper.assign(n, kLpDefaultUpper);
}

int32_t lp_load_parsed_problem() {
  lp_reader_state& s = lp_state;
  const int32_t rows = s.row_count;
  const int32_t columns = s.column_count;

  std::vector<char> row_types(static_cast<size_t>(rows));
  std::vector<double> rhs(static_cast<size_t>(rows));
  std::vector<int32_t> element_rows(static_cast<size_t>(s.element_total));
  std::vector<double> element_values(static_cast<size_t>(s.element_total));
  std::vector<int32_t> starts(static_cast<size_t>(columns));
  std::vector<int32_t> placed(static_cast<size_t>(columns), 0);

  std::vector<char> entity_letters;
  std::vector<int32_t> entity_columns;
  std::vector<double> entity_limits;
  for (int32_t j = 0; j < columns; ++j) {
    const int32_t type = s.column_type[static_cast<size_t>(j)];
    if (type == 0) continue;
    entity_letters.push_back(static_cast<char>(type));
    entity_columns.push_back(j);
    entity_limits.push_back(s.column_limit[static_cast<size_t>(j)]);
  }

  std::vector<char> set_types;
  std::vector<int32_t> set_starts(1, 0);
  std::vector<int32_t> set_members;
  std::vector<double> set_weights;
  for (const lp_row_record& set : s.set_records) {
    set_types.push_back(set.kind == 0 ? '1' : '2');
    set_members.insert(set_members.end(), set.columns.begin(), set.columns.end());
    set_weights.insert(set_weights.end(), set.coefficients.begin(), set.coefficients.end());
    set_starts.push_back(set_starts.back() + set.term_count);
  }

  std::vector<int32_t> quad_first;
  std::vector<int32_t> quad_second;
  std::vector<double> quad_values;
  for (const auto& [pair, value] : s.quadratic) {
    quad_first.push_back(pair.first - 1);
    quad_second.push_back(pair.second - 1);
    quad_values.push_back(value);
  }

  std::vector<double> objective(static_cast<size_t>(columns), 0.0);
  const lp_row_record& objective_row = s.row_records.front();
  for (size_t t = 0; t < objective_row.columns.size(); ++t) {
    objective[static_cast<size_t>(objective_row.columns[t])] = objective_row.coefficients[t];
  }

  // Column starts from the per-column counts, newest column first as the
  // entries are counted.
  int32_t remaining = s.element_total;
  int32_t walked = 0;
  for (int32_t j = columns - 1; j >= 0; --j) {
    remaining -= s.columns[static_cast<size_t>(j)]->row_count;
    starts[static_cast<size_t>(j)] = remaining;
    ++walked;
  }
  if ((columns > 0 && starts[0] != 0) || walked != columns) lp_error(LP_COLUMN_COUNT_GUARD, 1);

  for (int32_t k = 0; k < rows; ++k) {
    const lp_row_record& row = s.row_records[static_cast<size_t>(k) + 1];
    row_types[static_cast<size_t>(k)] = kRowTypeLetters[row.kind];
    rhs[static_cast<size_t>(k)] = row.rhs;
    for (size_t t = 0; t < row.columns.size(); ++t) {
      const size_t j = static_cast<size_t>(row.columns[t]);
      const size_t e = static_cast<size_t>(starts[j] + placed[j]);
      element_rows[e] = k;
      element_values[e] = row.coefficients[t];
      ++placed[j];
    }
  }

  std::vector<char> row_names;
  std::vector<char> column_names;
  if (!lay_names(s.rows, 1, s.row_name_bytes, row_names)) lp_error(LP_ROW_NAME_GUARD, 1);
  if (!lay_names(s.columns, 0, s.column_name_bytes, column_names)) lp_error(LP_COLUMN_NAME_GUARD, 1);

  // Checks the set-up would make after the loaded problem is given up.
  bool acceptable = bounds_consistent();
  if (!acceptable) {
    begin_message(MSG_LOAD_INCONSISTENT);
    emit_message();
  }
  acceptable = set_spacing_acceptable() && acceptable;
  if (!acceptable) {
    status_code = STATUS_REPORTED;
    return 1;
  }
  status_code = STATUS_OK;

  // The hand-over: from load_row_types on, the loaded problem is gone.
  icv(ic::NAMLEN) = std::max(s.longest_name, 8);
  const int32_t entities = static_cast<int32_t>(entity_letters.size());
  const int32_t sets = static_cast<int32_t>(set_types.size());
  nrow = rows;
  nseq = rows + icv(ic::NRXTRA) + columns;
  int_attribute(ATTR_NCOLS) = columns;
  nglent = entities + sets;
  nelem = s.element_total;
  size_cut_space();
  load_row_types(rows, row_types.data());
  if (status_code == 0) {
    load_problem_arrays(columns, rows, rhs.data(), nullptr, objective.data(), starts.data(), placed.data(),
                        element_rows.data(), element_values.data(), s.column_lower.data(), s.column_upper.data());
  }
  if (status_code == 0 && !quad_values.empty()) {
    loadqprb(static_cast<int32_t>(quad_values.size()), quad_first.data(), quad_second.data(), quad_values.data());
  }
  if (status_code == 0 && (entities > 0 || sets > 0)) {
    load_entity_types(entities, sets, entity_letters.data(), set_types.data());
    if (status_code == 0) {
      load_global_entities(entities, sets, entity_columns.data(), entity_limits.data(), set_starts.data(),
                           set_members.data(), set_weights.data());
    }
  }
  if (status_code == 0) finish_problem_load();
  if (status_code != 0) {
    const int32_t status = status_code;
    lp_error(LP_STORE_REFUSED, 0);
    status_code = status;
    return status;
  }
  if (objective_row.rhs != 0.0) dcv(kObjectiveConstantSlot) = -objective_row.rhs;

  // Names: a failure leaves a problem without its names, which is no problem
  // to keep.
  if (rows > 0) {
    addnames(1, row_names.data(), 0, rows - 1);
    if (status_code != 0) {
      lp_error(LP_ROW_NAMES_FAILED, 0);
      abandon_load();
      status_code = STATUS_REPORTED;
      return status_code;
    }
  }
  addnames(2, column_names.data(), 0, columns - 1);
  if (status_code != 0) {
    lp_error(LP_COLUMN_NAMES_FAILED, 0);
    abandon_load();
    status_code = STATUS_REPORTED;
    return status_code;
  }
  return 0;
}

void lp_free_reader_storage() {
  // The containers give their storage back; a new state holds nothing.
  lp_state = lp_reader_state();
}

}  // namespace kl
