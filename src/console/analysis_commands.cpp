#include "console/analysis_commands.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "console/command_loop.h"
#include "console/control_words.h"
#include "factor/basis.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "problem/scale_exponents.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/options.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "runtime/units.h"
#include "runtime/work_files.h"
#include "simplex/kernel.h"

namespace kl {

const char double_attribute_names[] = "objval\0suminf\0dintsl\0";
const char integer_attribute_names[] = "nrow\0nseq\0nglent\0nsets\0nsosm\0nelem\0ninf\0nnegdj\0itcnt\0";

int32_t failed_assertions = 0;

namespace {

constexpr int32_t kNameWidth = 8;
// Smallest element value STATS starts from, so that an empty matrix shows it.
constexpr double kNoSmallestElement = 1e20;

// The meaningful text of the command line from its position.
std::string argument_text() {
  const int32_t first = command_line.position - 1;
  const int32_t last = std::min<int32_t>(command_line.length, static_cast<int32_t>(command_line.text.size()));
  if (first < 0 || first >= last) return std::string();
  return command_line.text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first));
}

// ---------------------------------------------------------------------------
// ANALYSE

// One record of the solution file as the analysis needs it.
struct AnalysedRecord {
  int32_t position = 0;
  int32_t row_type = 0;     // rows only
  int32_t exponent = kNeutralScaleExponent;
  double cost = 0.0;        // columns: the objective coefficient as given
};

// The variable named after the command word: a leading quote is skipped and
// the name ends before a quote, at 8 characters; blank padded.
std::string analysed_name() {
  std::string text = argument_text();
  if (!text.empty() && text[0] == '\'') text.erase(0, 1);
  std::string name;
  for (const char c : text) {
    if (c == '\'' || static_cast<int32_t>(name.size()) == kNameWidth) break;
    name.push_back(c);
  }
  name.resize(kNameWidth, ' ');
  return name;
}

// Every record of the open solution file. False after message 122 when the
// file cannot be read whole or is not the current problem's.
bool read_analysis_records(std::vector<AnalysedRecord>& records, std::vector<std::string>& names) {
  if (read_solution_header() != 0 || solution_header_copy.nseq != nseq ||
      solution_header_copy.first_col != store.first_col || solution_header_copy.rows > nrow) {
    begin_message(MSG_SOLUTION_FILE_ERROR);
    emit_message();
    return false;
  }
  return read_all_solution_lines([&](int32_t, int32_t position) {
    AnalysedRecord record;
    record.position = position;
    record.row_type = position < store.first_col ? solution_line.first_int & ROW_TYPE_MASK : 0;
    record.exponent = solution_line.exponent == 0 ? kNeutralScaleExponent : solution_line.exponent;
    record.cost = solution_line.cost;
    records.push_back(record);
    names.emplace_back(solution_line.name, kNameWidth);
  });
}

// The factor of a column or row position: its stored value times the factor
// is its value as given (2^(e-64) for a column, 2^(64-e) for a row, whose
// stored slack is the row's scaled activity).
double position_factor(const AnalysedRecord& record) {
  const double f = scale_powers[static_cast<std::size_t>(record.exponent)];
  return record.position >= store.first_col ? f : 1.0 / f;
}

// Column analysis of the nonbasic position of record q: the solved column
// B^-1 a_q in the terms of the problem as given, spread by position.
void column_analysis(const std::vector<AnalysedRecord>& records, const AnalysedRecord& q,
                     std::vector<double>& out) {
  OneBased<double> w = work_vector();
  const double inverse = 1.0 / position_factor(q);
  if (q.position < store.first_col) {
    // The report shows a G row's slack negated: its column is -e_i.
    clear_work_vector();
    w[q.position] = q.row_type == ROW_G ? -inverse : inverse;
    factor.work_vector_state = WV_CLEAR_ALL;
  } else {
    unpack_column(q.position);
    sparsify_work_vector(dcv(dc::ZTETA));
    OneBased<int32_t> list = work_list();
    for (int32_t n = 1; n <= factor.work_vector_count; ++n) w[list[n]] *= inverse;
  }
  basis_solve_work_vector();

  std::vector<double> alpha(static_cast<std::size_t>(nseq) + 1, 0.0);
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  for (int32_t i = 1; i <= nrow; ++i) alpha[static_cast<std::size_t>(header[i])] = w[i];
  for (const AnalysedRecord& k : records) {
    if (k.position < store.first_col) continue;
    double& entry = out[static_cast<std::size_t>(k.position - 1)];
    if (k.position == q.position) {
      entry = -k.cost;
    } else if ((int_array(ARR_POS_STATUS)[k.position] & PS_BASIC) != 0) {
      entry = k.cost * alpha[static_cast<std::size_t>(k.position)] * position_factor(k);
    }
  }
  clear_work_vector();
  factor.work_vector_state = WV_CLEAR_ALL;
}

// Row analysis of the basic position of record p: row i of the inverse (i
// its basis position) in the terms of the problem as given, times each
// row's right-hand side. False after message 71 when p is not basic.
bool row_analysis(const AnalysedRecord& p, const std::string& name, std::vector<double>& out) {
  OneBased<int32_t> header = int_array(ARR_BASIS_HEADER);
  int32_t basis_position = 0;
  for (int32_t i = 1; i <= nrow && basis_position == 0; ++i)
    if (header[i] == p.position) basis_position = i;
  if (basis_position == 0) {
    begin_message(MSG_ANALYSE_NOT_BASIC);
    insert_message_name8(name.c_str());
    emit_message();
    return false;
  }
  OneBased<double> w = work_vector();
  clear_work_vector();
  w[basis_position] = position_factor(p);
  factor.work_vector_state = WV_CLEAR_ALL;
  basis_btran_work_vector();
  OneBased<double> rhs = real_array(ARR_RHS);
  for (int32_t r = 1; r <= nrow; ++r) out[static_cast<std::size_t>(r - 1)] = w[r] * rhs[r];
  clear_work_vector();
  factor.work_vector_state = WV_CLEAR_ALL;
  return true;
}

// A fresh factor of the current basis with the log quiet; ITRLOG is put back
// whatever happens. False when the factorisation failed.
bool factorise_for_analysis() {
  const int32_t kept_itrlog = icv(ic::ITRLOG);
  icv(ic::ITRLOG) = 0;
  invert_current_basis();
  icv(ic::ITRLOG) = kept_itrlog;
  return status_code == STATUS_OK && (problem_flags & PF_FACTOR_VALID) != 0;
}

void write_analysis_file(const std::vector<double>& out) {
  const std::string file = make_work_file_name("ana");
  int32_t unit = -1;
  int32_t error = 0;
  create_unit_words(file.c_str(), unit, error);
  if (error != 0) {
    begin_message(MSG_OPEN_WRITE_FAILED);
    insert_message_string(file.c_str());
    emit_message();
    return;
  }
  write_unit_words(unit, out.data(), 4 * static_cast<int64_t>(out.size()), error);
  if (error != 0) {
    begin_message(MSG_WRITE_FAILED);
    emit_message();
    status_code = STATUS_FILE_ERROR;
  }
  close_unit_reporting(unit);
}

// ---------------------------------------------------------------------------
// STATS

int32_t stats_class(int32_t count) {
  for (int32_t i = 0; i < static_cast<int32_t>(stats_bounds.size()); ++i)
    if (count <= stats_bounds[static_cast<std::size_t>(i)]) return i;
  return kStatsClassCount - 1;
}

// ---------------------------------------------------------------------------
// ASSERT

enum class Relation { kEqual, kGreater, kGreaterEqual, kLess, kLessEqual };

// The relation at the position; the position moves after it. False for
// anything else, a single "=" included.
bool read_relation(Relation& relation) {
  const std::string text = argument_text();
  struct Form {
    const char* text;
    Relation relation;
  } const forms[] = {
      {"==", Relation::kEqual}, {">=", Relation::kGreaterEqual}, {"<=", Relation::kLessEqual},
      {">", Relation::kGreater}, {"<", Relation::kLess},
  };
  for (const Form& form : forms) {
    const std::size_t n = std::strlen(form.text);
    if (text.compare(0, n, form.text) == 0) {
      relation = form.relation;
      command_line.position += static_cast<int32_t>(n);
      return true;
    }
  }
  return false;
}

template <class T>
bool holds(Relation relation, T value, T wanted) {
  switch (relation) {
    case Relation::kEqual:
      return value == wanted;
    case Relation::kGreater:
      return value > wanted;
    case Relation::kGreaterEqual:
      return value >= wanted;
    case Relation::kLess:
      return value < wanted;
    case Relation::kLessEqual:
      break;
  }
  return value <= wanted;
}

void report_unknown() {
  begin_message(MSG_UNKNOWN_COMMAND);
  emit_message();
}

// The real after the relation, read from a field of LENDBL characters.
// False after message 314 (status word left at 0).
bool read_real_value(double& x) {
  const std::string value = argument_text();
  const int32_t width = std::max<int32_t>(icv(ic::LENDBL), 1);
  std::string field = value;
  field.resize(static_cast<std::size_t>(std::max<int32_t>(width, static_cast<int32_t>(value.size()))), ' ');
  status_code = STATUS_OK;
  x = static_cast<int32_t>(value.size()) > width ? 0.0 : parse_real_field(field.c_str());
  if (status_code != STATUS_OK || static_cast<int32_t>(value.size()) > width) {
    status_code = STATUS_OK;
    begin_message(MSG_BAD_REAL_VALUE);
    insert_message_string(value.c_str());
    emit_message();
    return false;
  }
  return true;
}

void test_double_attribute(int32_t n) {
  const double value = dcv(dslot::kObjval + n - 1);
  if (command_line.position > command_line.length) {
    insert_message_real(value);
    emit_message();
    return;
  }
  Relation relation = Relation::kEqual;
  if (!read_relation(relation)) {
    report_unknown();
    return;
  }
  double wanted = 0.0;
  if (!read_real_value(wanted)) return;
  const bool ok = relation == Relation::kEqual ? std::fabs(value - wanted) < dcv(dc::ZTOLPZ)
                                               : holds(relation, value, wanted);
  if (ok) return;
  ++failed_assertions;
  begin_message(MSG_ASSERTION_FAILED);
  insert_message_real(value);
  emit_message();
}

void test_integer_attribute(int32_t n) {
  const int32_t value = integer_attributes[n];
  if (command_line.position > command_line.length) {
    insert_message_value12(value);
    emit_message();
    return;
  }
  Relation relation = Relation::kEqual;
  int32_t wanted = 0;
  if (!read_relation(relation) || !parse_integer_text(argument_text(), wanted)) {
    report_unknown();
    return;
  }
  if (holds(relation, value, wanted)) return;
  ++failed_assertions;
  begin_message(MSG_ASSERTION_FAILED);
  insert_message_value12(value);
  emit_message();
}

}  // namespace

void analyse_command() {
  if (problem_state <= 0) {
    begin_message(MSG_NO_PROBLEM);
    emit_message();
    return;
  }
  // The solution file holds the problem as loaded; a presolved problem's
  // positions and basis are not those of its records.
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    begin_message(MSG_PROBLEM_PRESOLVED);
    emit_message();
    return;
  }
  int32_t error = 0;
  open_work_file(make_work_file_name(EXT_SOL).c_str(), WORK_READ, error);
  if (error != WORK_OPEN_OK) return;
  const std::string name = analysed_name();
  std::vector<AnalysedRecord> records;
  std::vector<std::string> names;
  const bool read = read_analysis_records(records, names);
  close_work_file();
  if (!read) return;
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) {
    begin_message(MSG_ASCII_HEADER_UNREADABLE);
    insert_message_string((": " + name).c_str());
    emit_message();
    return;
  }
  const AnalysedRecord analysed = records[static_cast<std::size_t>(found - names.begin())];
  const bool row_form = option_set('a');
  if (!row_form && (int_array(ARR_POS_STATUS)[analysed.position] & PS_BASIC) != 0) {
    begin_message(MSG_ANALYSE_BASIC);
    insert_message_name8(name.c_str());
    emit_message();
    return;
  }
  if (!factorise_for_analysis()) return;

  std::vector<double> out(static_cast<std::size_t>(nseq), 0.0);
  if (row_form) {
    if (!row_analysis(analysed, name, out)) return;
  } else {
    column_analysis(records, analysed, out);
  }
  write_analysis_file(out);
}

void stats_command() {
  begin_body();
  if (!require_problem()) return;

  std::array<int32_t, kStatsClassCount> row_counts{};
  std::array<int32_t, kStatsClassCount> column_counts{};
  double largest = 0.0;
  double smallest = kNoSmallestElement;
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  // Row lengths are counted from the columns: the row-wise copy needs the
  // solver's work arrays, which a problem only read in does not have yet.
  std::vector<int32_t> row_length(static_cast<std::size_t>(nrow) + 1, 0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    ++column_counts[static_cast<std::size_t>(stats_class(col_start[j + 1] - col_start[j]))];
    // The values of the matrix as given: the stored ones carry the scaling.
    const double column_factor = scale_powers[static_cast<std::size_t>(scale_exponent(status[j]))];
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      ++row_length[static_cast<std::size_t>(elem_row[k])];
      const double row_factor = scale_powers[static_cast<std::size_t>(scale_exponent(status[elem_row[k]]))];
      const double a = std::fabs(elem_value[k]) / (row_factor * column_factor);
      largest = std::max(largest, a);
      smallest = std::min(smallest, a);
    }
  }
  for (int32_t i = 1; i <= nrow; ++i)
    ++row_counts[static_cast<std::size_t>(stats_class(row_length[static_cast<std::size_t>(i)]))];

  begin_message(MSG_STATS_HEAD);
  emit_message();
  begin_message(MSG_STATS_LARGEST);
  insert_message_real(largest);
  emit_message();
  begin_message(MSG_STATS_SMALLEST);
  insert_message_real(smallest);
  emit_message();
  emit_message();
  begin_message(MSG_STATS_CLASS_HEAD);
  emit_message();
  for (int32_t c = 0; c < kStatsClassCount; ++c) {
    const std::size_t i = static_cast<std::size_t>(c);
    if (row_counts[i] == 0 && column_counts[i] == 0) continue;
    begin_message(MSG_STATS_CLASS);
    insert_message_int(c == 0 ? 0 : stats_bounds[i - 1] + 1);
    if (i < stats_bounds.size()) {
      insert_message_int(stats_bounds[i]);
    } else {
      insert_message_chars(" ", 1);
    }
    insert_message_int(row_counts[i]);
    insert_message_int(column_counts[i]);
    emit_message();
  }
}

void assert_command() {
  set_message_zero_tolerance(0.0);
  int32_t n = 0;
  if (match_name(double_attribute_names, n) > 0) {
    test_double_attribute(n);
  } else if (match_name(integer_attribute_names, n) > 0) {
    test_integer_attribute(n);
  } else {
    report_unknown();
  }
  set_message_zero_tolerance(dcv(dc::ZTOLPZ));
}

}  // namespace kl
