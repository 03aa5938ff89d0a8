#include "files/mps_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/lp_writer.h"
#include "files/problem_writer_support.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/number_fields.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

constexpr int32_t kNameChars = 8;
constexpr int32_t kFieldWidth = 12;
// Fixed columns of the first name field and of the second pair (name,
// value); the first pair's columns follow from the name width.
constexpr int32_t kNameColumn = 5;
constexpr int32_t kSecondPairName = 40;
constexpr int32_t kSecondPairValue = 50;
constexpr const char kObjectiveName[] = "__OBJ___";

struct MpsOptions {
  bool one_pair = false;
  bool exact = false;     // p
  bool compact = false;   // c
  bool stored = false;    // n
  bool generated = false;  // s
  bool search_bounds = false;  // b
};

// One file being written: the values in the caller's terms and the names
// as they go into the file.
struct MpsWriter {
  MpsOptions opt;
  int32_t name_chars = kNameChars;
  int32_t pair_name_column = 15;   // row name of the first pair
  int32_t pair_value_column = 25;  // its value
  double zero = 0.0;               // ZTOLZE
  std::vector<double> row_lo, row_hi;  // rows 1..nrow
  std::vector<double> col_lo, col_hi;  // by position
  std::vector<int32_t> entity_of;      // by position: its entity, 0 for none
  std::vector<uint8_t> left_out;       // by position, under option c
  std::vector<std::string> names;      // by position; entry 0: the objective when it is no stored row
  double objective_rhs = 0.0;
  bool objective_stored = false;
  int32_t objective_row = 0;
  std::vector<double> row_range;       // rows 1..nrow: the span of a ranged L row
  // Option p: numbers run as long as they need, so the fields are written
  // free, one blank apart, and the file reads with free fields.
  bool free_layout = false;
  std::string line;
  bool failed = false;

  const std::string& objective_name() const {
    return objective_stored ? names[static_cast<size_t>(objective_row)] : names[0];
  }
};

// The most digits of v that a 12-character field holds: the shortest text
// that reads back exactly when it fits, else the longest rounding that
// does (no leading zero before the point, no "+" or leading zeros in the
// exponent).
std::string twelve_character_number(double v) {
  std::string text = round_trip_number(v);
  for (int32_t digits = 17; text.size() > static_cast<size_t>(kFieldWidth) && digits >= 1; --digits) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
    text = buffer;
    const size_t zero = text.find("0.");
    if (zero == 0 || (zero == 1 && text[0] == '-')) text.erase(zero, 1);
    const size_t e = text.find('e');
    if (e != std::string::npos) {
      if (text[e + 1] == '+') text.erase(e + 1, 1);
      size_t d = text[e + 1] == '-' ? e + 2 : e + 1;
      while (d + 1 < text.size() && text[d] == '0') text.erase(d, 1);
    }
  }
  if (text.size() < static_cast<size_t>(kFieldWidth)) text.insert(0, static_cast<size_t>(kFieldWidth) - text.size(), ' ');
  return text;
}

std::string fixed_number(const MpsWriter& w, double v) {
  return w.opt.exact ? round_trip_number(v) : twelve_character_number(v);
}

// Puts a field at its column; a file of free fields takes the fields in
// turn, one blank apart.
void put(MpsWriter& w, int32_t column, const std::string& text) {
  if (w.free_layout) {
    w.line += " " + text;
    return;
  }
  const size_t at = static_cast<size_t>(column - 1);
  if (w.line.size() < at) w.line.resize(at, ' ');
  w.line.replace(at, std::min(text.size(), w.line.size() - at), text);
}

void put_name(MpsWriter& w, int32_t column, const std::string& name) {
  if (w.free_layout) {
    put(w, column, name);
    return;
  }
  std::string padded = name;
  if (padded.size() < static_cast<size_t>(w.name_chars)) padded.resize(static_cast<size_t>(w.name_chars), ' ');
  put(w, column, padded);
}

void flush(MpsWriter& w) {
  if (w.failed || w.line.empty()) {
    w.line.clear();
    return;
  }
  const size_t end = w.line.find_last_not_of(' ');
  const int32_t n = end == std::string::npos ? 0 : static_cast<int32_t>(end + 1);
  write_text_line(w.line.data(), n);
  if (status_code != STATUS_OK) w.failed = true;
  w.line.clear();
}

void write_plain(MpsWriter& w, const char* text) {
  w.line = text;
  flush(w);
}

// Pairs of a section line: the first at the pair columns, the second at
// columns 40 and 50 in two-pair mode. slot counts the pairs on the line.
struct PairLine {
  int32_t slot = 0;
};

void add_pair(MpsWriter& w, PairLine& pl, const std::string& head_name, const std::string& name, double value) {
  if (pl.slot == 0) {
    w.line.clear();
    put(w, kNameColumn, head_name);
    put_name(w, w.pair_name_column, name);
    put(w, w.pair_value_column, fixed_number(w, value));
    pl.slot = 1;
    if (w.opt.one_pair) {
      flush(w);
      pl.slot = 0;
    }
    return;
  }
  put_name(w, kSecondPairName, name);
  put(w, kSecondPairValue, fixed_number(w, value));
  flush(w);
  pl.slot = 0;
}

void end_pairs(MpsWriter& w, PairLine& pl) {
  if (pl.slot != 0) flush(w);
  pl.slot = 0;
}

bool is_free_row(int32_t i) { return (int_array(ARR_POS_STATUS)[i] & PS_FREE) != 0; }

bool row_written(const MpsWriter& w, int32_t i) {
  return i == w.objective_row || !w.opt.compact || !is_free_row(i);
}

// The file reads with free fields when its numbers or names overrun the
// fixed fields: no name may then hold a blank.
bool free_field_name(const std::string& name) {
  return !name.empty() && name.find_first_of(" \t") == std::string::npos;
}
bool fixed_field_name(const std::string& name) { return !name.empty(); }
std::string blanks_to_underscores(const std::string& name) {
  if (name.empty()) return "_";
  std::string out = name;
  for (char& c : out)
    if (c == ' ' || c == '\t') c = '_';
  return out;
}

// Names of the rows (with the objective's when it is not stored) and of
// the columns, each space made distinct and readable.
void choose_names(MpsWriter& w) {
  w.names.assign(static_cast<size_t>(nseq) + 1, std::string());
  if (w.opt.generated) {
    w.names[0] = kObjectiveName;
    for (int32_t p = 1; p <= nseq; ++p) w.names[static_cast<size_t>(p)] = make_generated_name(p);
    return;
  }
  const bool free_fields = w.opt.exact || w.name_chars > kNameChars;
  const WrittenNames::Acceptable acceptable = free_fields ? free_field_name : fixed_field_name;
  std::vector<std::string> rows;
  std::vector<int32_t> row_position;
  if (!w.objective_stored) {
    rows.push_back(kObjectiveName);
    row_position.push_back(0);
  }
  for (int32_t i = 1; i <= nrow; ++i) {
    rows.push_back(position_name(i));
    row_position.push_back(i);
  }
  WrittenNames written_rows;
  written_rows.build(rows, acceptable, blanks_to_underscores);
  for (size_t k = 0; k < rows.size(); ++k) w.names[static_cast<size_t>(row_position[k])] = written_rows[k];
  std::vector<std::string> columns;
  for (int32_t j = store.first_col; j <= nseq; ++j) columns.push_back(position_name(j));
  WrittenNames written_columns;
  written_columns.build(columns, acceptable, blanks_to_underscores);
  for (size_t k = 0; k < columns.size(); ++k)
    w.names[static_cast<size_t>(store.first_col) + k] = written_columns[k];
  const int32_t rewritten = written_rows.rewritten() + written_columns.rewritten();
  report_rewritten_names(rewritten, written_rows.rewritten() > 0 ? written_rows.first_rewritten()
                                                                   : written_columns.first_rewritten());
}

// Row activity limits and column bounds in the caller's terms.
void compute_limits(MpsWriter& w) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  const bool search = w.opt.search_bounds && (problem_flags & PF_SEARCH_RUNNING) != 0 &&
                      array_cells[ARR_WORK_LOWER] != nullptr && array_cells[ARR_WORK_UPPER] != nullptr;
  OneBased<double> column_lower = search ? real_array(ARR_WORK_LOWER) : lower;
  OneBased<double> column_upper = search ? real_array(ARR_WORK_UPPER) : upper;
  w.row_lo.assign(static_cast<size_t>(nrow) + 1, 0.0);
  w.row_hi.assign(static_cast<size_t>(nrow) + 1, 0.0);
  w.row_range.assign(static_cast<size_t>(nrow) + 1, 0.0);
  for (int32_t i = 1; i <= nrow; ++i) {
    const double f = inverse_scale_of(i, w.opt.stored);
    double r = f * rhs[i];
    if (std::fabs(r) <= w.zero) r = 0.0;
    double lo = r;
    double hi = r;
    switch (row_type[i] & ROW_TYPE_MASK) {
      case ROW_G:
        hi = kInfinity;
        break;
      case ROW_L:
        lo = upper[i] >= kWriterInfinity ? -kInfinity : r - f * upper[i];
        // The range as stored: the difference of the limits need not give
        // it back to the last digit.
        w.row_range[static_cast<size_t>(i)] = f * upper[i];
        break;
      default:
        break;
    }
    w.row_lo[static_cast<size_t>(i)] = lo;
    w.row_hi[static_cast<size_t>(i)] = hi;
  }
  w.col_lo.assign(static_cast<size_t>(nseq) + 1, 0.0);
  w.col_hi.assign(static_cast<size_t>(nseq) + 1, 0.0);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const double g = scale_of(j, w.opt.stored);
    double lo = column_lower[j] <= -kWriterInfinity ? -kInfinity : g * column_lower[j];
    double hi = column_upper[j] >= kWriterInfinity ? kInfinity : g * column_upper[j];
    if (std::fabs(lo) <= w.zero) lo = 0.0;
    if (std::fabs(hi) <= w.zero) hi = 0.0;
    w.col_lo[static_cast<size_t>(j)] = lo;
    w.col_hi[static_cast<size_t>(j)] = hi;
  }
  w.entity_of.assign(static_cast<size_t>(nseq) + 1, 0);
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  for (int32_t e = 1; e <= nglent; ++e) {
    const int32_t type = entity_type[e] & ENT_TYPE_MASK;
    if (type == ENT_SET1 || type == ENT_SET2) continue;
    const int32_t c = entity_column[e];
    if (c >= store.first_col && c <= nseq) w.entity_of[static_cast<size_t>(c)] = e;
  }
}

// Option c: a fixed column leaves the file and its value moves into the
// row limits and the objective constant. A column with quadratic terms
// stays, as its share of the objective is not a constant.
void leave_out_fixed_columns(MpsWriter& w) {
  w.left_out.assign(static_cast<size_t>(nseq) + 1, 0);
  if (!w.opt.compact) return;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const uint32_t s = static_cast<uint32_t>(status[j]);
    if ((s & PS_FIXED) == 0 || (s & PS_QUADRATIC) != 0) continue;
    w.left_out[static_cast<size_t>(j)] = 1;
    const double v = w.col_lo[static_cast<size_t>(j)];
    if (v == 0.0) continue;
    const double g = inverse_scale_of(j, w.opt.stored);
    w.objective_rhs -= v * g * cost[j];
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      if (i < 1 || i > nrow || i == w.objective_row) continue;
      const double a = elem_value[k] * inverse_scale_of(i, w.opt.stored) * g;
      double& lo = w.row_lo[static_cast<size_t>(i)];
      double& hi = w.row_hi[static_cast<size_t>(i)];
      if (lo > -kWriterInfinity) lo -= v * a;
      if (hi < kWriterInfinity) hi -= v * a;
    }
  }
}

void write_rows(MpsWriter& w) {
  write_plain(w, "ROWS");
  if (!w.objective_stored) {
    w.line = " N";
    put(w, kNameColumn, w.names[0]);
    flush(w);
  }
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t i = 1; i <= nrow && !w.failed; ++i) {
    if (!row_written(w, i)) continue;
    const char* type = " N";
    switch (row_type[i] & ROW_TYPE_MASK) {
      case ROW_L:
        type = " L";
        break;
      case ROW_G:
        type = " G";
        break;
      case ROW_E:
        type = " E";
        break;
      default:
        break;
    }
    w.line = type;
    put(w, kNameColumn, w.names[static_cast<size_t>(i)]);
    flush(w);
  }
}

void write_columns(MpsWriter& w) {
  write_plain(w, "COLUMNS");
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  for (int32_t j = store.first_col; j <= nseq && !w.failed; ++j) {
    if (w.left_out[static_cast<size_t>(j)] != 0) continue;
    const std::string& name = w.names[static_cast<size_t>(j)];
    const double g = inverse_scale_of(j, w.opt.stored);
    PairLine pl;
    bool any = false;
    if (cost[j] != 0.0) {
      add_pair(w, pl, name, w.objective_name(), cost[j] * g);
      any = true;
    }
    for (int32_t k = col_start[j]; k < col_start[j + 1] && !w.failed; ++k) {
      const int32_t i = elem_row[k];
      if (i < 1 || i > nrow || i == w.objective_row || !row_written(w, i)) continue;
      add_pair(w, pl, name, w.names[static_cast<size_t>(i)], elem_value[k] * inverse_scale_of(i, w.opt.stored) * g);
      any = true;
    }
    // A column without entries is still declared, so that its bounds and
    // its place are read back.
    if (!any) add_pair(w, pl, name, w.objective_name(), 0.0);
    end_pairs(w, pl);
  }
}

void write_sets(MpsWriter& w) {
  if (nsets <= 0) return;
  write_plain(w, "SETS");
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<int32_t> set_start = int_array(ARR_SET_START);
  OneBased<int32_t> member_column = int_array(ARR_SET_MEMBER_COLUMN);
  OneBased<double> member_ref = real_array(ARR_SET_MEMBER_REF);
  for (int32_t e = 1; e <= nglent && !w.failed; ++e) {
    const int32_t type = entity_type[e] & ENT_TYPE_MASK;
    if (type != ENT_SET1 && type != ENT_SET2) continue;
    const int32_t s = entity_column[e];
    if (s < 1 || s > nsets) continue;
    char set_label[kNameChars];
    std::memset(set_label, 'S', sizeof set_label);
    format_int_field8(s, set_label);
    w.line = type == ENT_SET1 ? " S1" : " S2";
    put(w, kNameColumn, std::string(set_label, kNameChars));
    bool header_open = true;
    int32_t slot = 0;
    for (int32_t m = set_start[s] + 1; m <= set_start[s + 1] && !w.failed; ++m) {
      const int32_t p = member_column[m];
      const std::string& name = w.names[static_cast<size_t>(p)];
      const double ref = member_ref[m] * inverse_scale_of(p, w.opt.stored);
      if (header_open) {
        header_open = false;
        if (w.opt.one_pair) {
          flush(w);
        } else {
          put_name(w, kSecondPairName, name);
          put(w, kSecondPairValue, fixed_number(w, ref));
          flush(w);
          continue;
        }
      }
      if (w.opt.one_pair || slot == 0) {
        // The set's name leads a member line: free fields read the members
        // from the second token on.
        w.line.clear();
        put(w, kNameColumn, std::string(set_label, kNameChars));
        put_name(w, w.pair_name_column, name);
        put(w, w.pair_value_column, fixed_number(w, ref));
        slot = 1;
        if (w.opt.one_pair) {
          flush(w);
          slot = 0;
        }
      } else {
        put_name(w, kSecondPairName, name);
        put(w, kSecondPairValue, fixed_number(w, ref));
        flush(w);
        slot = 0;
      }
    }
    if (header_open || slot != 0) flush(w);
  }
}

std::string vector_name(const char* kept, const char* fallback) {
  std::string name(kept, kNameChars);
  if (name.find_first_not_of(' ') == std::string::npos) return fallback;
  // Vector names go into a name field of their own: a blank inside one
  // would split it when the file reads with free fields.
  name.erase(name.find_last_not_of(' ') + 1);
  for (char& c : name)
    if (c == ' ') c = '_';
  return name;
}

void write_rhs(MpsWriter& w) {
  write_plain(w, "RHS");
  const std::string vector = vector_name(character_attributes[4], "RHS00001");
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  PairLine pl;
  if (std::fabs(w.objective_rhs) > w.zero) add_pair(w, pl, vector, w.objective_name(), w.objective_rhs);
  for (int32_t i = 1; i <= nrow && !w.failed; ++i) {
    if (i == w.objective_row || !row_written(w, i)) continue;
    const bool greater = (row_type[i] & ROW_TYPE_MASK) == ROW_G;
    const double v = greater ? w.row_lo[static_cast<size_t>(i)] : w.row_hi[static_cast<size_t>(i)];
    if (std::fabs(v) > w.zero) add_pair(w, pl, vector, w.names[static_cast<size_t>(i)], v);
  }
  end_pairs(w, pl);
}

void write_ranges(MpsWriter& w) {
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  const std::string vector = vector_name(character_attributes[5], "RNG00001");
  PairLine pl;
  bool header = false;
  for (int32_t i = 1; i <= nrow && !w.failed; ++i) {
    if (i == w.objective_row || !row_written(w, i) || (row_type[i] & ROW_TYPE_MASK) != ROW_L) continue;
    const double lo = w.row_lo[static_cast<size_t>(i)];
    if (lo <= -kWriterInfinity) continue;
    if (!header) {
      write_plain(w, "RANGES");
      header = true;
    }
    add_pair(w, pl, vector, w.names[static_cast<size_t>(i)], w.row_range[static_cast<size_t>(i)]);
  }
  end_pairs(w, pl);
}

void bound_line(MpsWriter& w, const char* type, const std::string& vector, int32_t j, const double* value) {
  w.line = type;
  put(w, kNameColumn, vector);
  put_name(w, w.pair_name_column, w.names[static_cast<size_t>(j)]);
  if (value != nullptr) put(w, w.pair_value_column, fixed_number(w, *value));
  flush(w);
}

void write_bounds(MpsWriter& w) {
  write_plain(w, "BOUNDS");
  const std::string vector = vector_name(character_attributes[2], "BOUND001");
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<double> semicont_limit = real_array(ARR_SEMICONT_LIMIT);
  const double intmax = icv(ic::INTMAX);
  for (int32_t j = store.first_col; j <= nseq && !w.failed; ++j) {
    if (w.left_out[static_cast<size_t>(j)] != 0) continue;
    const uint32_t s = static_cast<uint32_t>(status[j]);
    const int32_t e = w.entity_of[static_cast<size_t>(j)];
    const int32_t type = e > 0 ? entity_type[e] & ENT_TYPE_MASK : 0;
    const bool semicontinuous = e > 0 && (s & PS_SEMICONTINUOUS) != 0;
    double lo = w.col_lo[static_cast<size_t>(j)];
    const double hi = w.col_hi[static_cast<size_t>(j)];
    if (semicontinuous) lo = semicont_limit[e] * scale_of(j, w.opt.stored);
    if (!semicontinuous && std::fabs(hi - lo) <= w.zero) {
      bound_line(w, " FX", vector, j, &lo);
      continue;
    }
    if (lo <= -kWriterInfinity && hi >= kWriterInfinity) {
      bound_line(w, " FR", vector, j, nullptr);
    } else if (std::fabs(lo) > w.zero) {
      const double v = lo <= -kWriterInfinity ? -kInfinity : lo;
      bound_line(w, " LO", vector, j, &v);
    }
    if (e > 0) {
      switch (type) {
        case ENT_INTEGER: {
          // An integer column's upper bound never lies beyond INTMAX, the
          // largest the reader takes: an unbounded one is written so.
          const double v = std::min(hi, intmax);
          bound_line(w, semicontinuous ? " SI" : " UI", vector, j, &v);
          break;
        }
        case ENT_SEMICONTINUOUS:
          bound_line(w, " SC", vector, j, &hi);
          break;
        case ENT_BINARY:
          bound_line(w, " BV", vector, j, nullptr);
          break;
        case ENT_PARTIAL_INTEGER: {
          const double limit = static_cast<double>(entity_type[e] >> 4);
          bound_line(w, " PI", vector, j, &limit);
          // PI sets no bound: an upper bound below the integer infinity
          // follows as a bound of its own, or it would be lost.
          if (hi < intmax) bound_line(w, " UP", vector, j, &hi);
          break;
        }
        default:
          break;
      }
    } else if (hi < kWriterInfinity) {
      bound_line(w, " UP", vector, j, &hi);
    }
  }
}

// The quadratic objective, one triangle (the diagonal and each pair once).
void write_quadratic(MpsWriter& w) {
  if (nqelem <= 0) return;
  OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
  OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
  OneBased<double> value = real_array(ARR_QUAD_VALUES);
  if (!upper_start || !index || !value) return;
  write_plain(w, "QUADOBJ");
  for (int32_t j = store.first_col; j <= nseq && !w.failed; ++j) {
    for (int32_t k = upper_start[j]; k < upper_start[j + 1] && !w.failed; ++k) {
      const int32_t i = index[k];
      if (i < j || i > nseq || value[k] == 0.0) continue;
      w.line.clear();
      put_name(w, kNameColumn, w.names[static_cast<size_t>(j)]);
      put_name(w, w.pair_name_column, w.names[static_cast<size_t>(i)]);
      put(w, w.pair_value_column, fixed_number(w, value[k]));
      flush(w);
    }
  }
}

void write_file(MpsWriter& w) {
  w.line = "NAME";
  put(w, 15, std::string(character_attributes[1], kNameChars));
  flush(w);
  write_rows(w);
  if (!w.failed) write_columns(w);
  if (!w.failed) write_sets(w);
  if (!w.failed) write_rhs(w);
  if (!w.failed) write_ranges(w);
  if (!w.failed) write_bounds(w);
  if (!w.failed) write_quadratic(w);
  if (!w.failed) write_plain(w, "ENDATA");
}

}  // namespace

std::string make_generated_name(int32_t position) {
  char name[kNameChars];
  std::memset(name, 'V', sizeof name);
  format_int_field8(position, name);
  return std::string(name, kNameChars);
}

void write_mps_file() {
  begin_body();
  if (!require_problem()) {
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  save_problem_name();
  MpsOptions opt;
  opt.exact = option_set('p');
  opt.one_pair = option_set('o') || opt.exact;
  opt.compact = option_set('c');
  opt.stored = option_set('n');
  opt.generated = option_set('s');
  opt.search_bounds = option_set('b');
  if (option_set('l')) {
    write_lp_file(opt.stored ? 1 : 0, opt.generated ? 1 : 0, opt.exact ? 1 : 0, opt.search_bounds ? 1 : 0);
    restore_problem_name();
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  MpsWriter w;
  w.opt = opt;
  w.free_layout = opt.exact;
  w.name_chars = opt.generated ? kNameChars : kNameChars * std::max(name_words, 1);
  if (w.name_chars > kNameChars) w.opt.one_pair = true;
  w.pair_name_column = w.name_chars + 7;
  w.pair_value_column = w.pair_name_column + w.name_chars + 2;
  w.zero = dcv(dc::ZTOLZE);
  w.objective_row = store.objective_row >= 1 && store.objective_row <= nrow ? store.objective_row : 0;
  w.objective_stored = w.objective_row > 0;
  w.objective_rhs = -written_objective_constant();
  compute_limits(w);
  leave_out_fixed_columns(w);

  if (command_argument().find_first_not_of(' ') != std::string::npos) problem_command();
  int32_t error = 0;
  if (status_code == STATUS_OK) open_text_output(make_work_file_name(EXT_MAT).c_str(), error);
  if (status_code == STATUS_OK && error == 0) {
    choose_names(w);
    write_file(w);
    close_text_output();
  }
  restore_problem_name();
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
