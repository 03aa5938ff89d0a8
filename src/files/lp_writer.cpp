#include "files/lp_writer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "files/problem_writer_support.h"
#include "problem/array_ids.h"
#include "problem/matrix_storage.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/text_io.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

constexpr int32_t kNameChars = 8;
// Longest name a reader keeps whole, and the room left for "~" and a number.
constexpr size_t kLpNameMax = 64;
constexpr size_t kLpNameBase = 56;
// Line limits of the format: a piece is appended while the line and the
// piece stay below (or, for rows, at most) these lengths.
constexpr size_t kObjectiveLimit = 79;
constexpr size_t kQuadraticLimit = 78;
constexpr size_t kRowLimit = 79;
constexpr size_t kSetLimit = 80;
constexpr size_t kListLimit = 80;
constexpr size_t kIndent = 9;

// The 20 characters besides letters that may begin a name.
constexpr const char kNameSpecials[] = "!\"#$%&()/,;?@_`'{}|~";

// Words a reader may take for a keyword where a name stands.
constexpr const char* kKeywords[] = {
    "maximize", "maximum", "max", "minimize", "minimum", "min", "subject", "such", "st", "s.t.", "st.",
    "end", "bounds", "bound", "generals", "general", "gen", "integers", "integer", "int", "binaries",
    "binary", "bin", "partial", "p.i.", "semi", "s.c.", "infinity", "inf", "free", "sos", "semis"};

bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool special(char c) { return c != '\0' && std::strchr(kNameSpecials, c) != nullptr; }
bool name_char(char c) { return letter(c) || digit(c) || special(c) || c == '.'; }

// Sense keywords some readers also take in part ("maxim", "minimu"): no
// name may be such a beginning of three letters or more.
constexpr const char* kSenseWords[] = {"maximize", "maximum", "minimize", "minimum"};

bool is_keyword(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.size() >= 3 && std::any_of(std::begin(kSenseWords), std::end(kSenseWords),
                                       [&](const char* k) { return std::string(k).compare(0, lower.size(), lower) == 0; }))
    return true;
  return std::any_of(std::begin(kKeywords), std::end(kKeywords), [&](const char* k) { return lower == k; });
}

struct LpOptions {
  bool stored = false;
  bool generated = false;
  bool search_bounds = false;
};

struct LpWriter {
  LpOptions opt;
  std::vector<std::string> names;  // by position
  std::string objective_name;      // empty when the objective is no stored row
  std::string line;
  bool failed = false;
};

std::string number(double v) { return round_trip_number(v) + " "; }

void write_line(LpWriter& w, const std::string& text) {
  if (w.failed) return;
  write_text_line(text.data(), static_cast<int32_t>(text.size()));
  if (status_code != STATUS_OK) w.failed = true;
}

void flush(LpWriter& w) {
  write_line(w, w.line);
  w.line.clear();
}

// Appends a piece when the line stays within the limit (strictly below it
// unless at_most), else writes the line and starts the next with indent
// blanks and the piece.
void append(LpWriter& w, const std::string& piece, size_t limit, bool at_most, size_t indent) {
  const size_t n = w.line.size() + piece.size();
  if (w.line.empty() || (at_most ? n <= limit : n < limit)) {
    w.line += piece;
    return;
  }
  flush(w);
  w.line = std::string(indent, ' ') + piece;
}

// Sign and coefficient of a term: " - ", " " for the first term, " + "
// after it; the magnitude unless it is exactly 1.
std::string term(double v, bool first, const std::string& name) {
  std::string piece;
  if (v < 0.0) {
    piece = " - ";
  } else if (v > 0.0) {
    piece = first ? " " : " + ";
  }
  const double a = std::fabs(v);
  if (a != 1.0) piece += number(a);
  return piece + name;
}

void choose_names(LpWriter& w) {
  w.names.assign(static_cast<size_t>(nseq) + 1, std::string());
  const int32_t objective_row = store.objective_row;
  if (w.opt.generated) {
    for (int32_t i = 1; i <= nrow; ++i) w.names[static_cast<size_t>(i)] = "R" + std::to_string(i);
    for (int32_t j = store.first_col; j <= nseq; ++j) w.names[static_cast<size_t>(j)] = "C" + std::to_string(j);
    return;
  }
  std::vector<std::string> rows;
  for (int32_t i = 1; i <= nrow; ++i) rows.push_back(position_name(i));
  WrittenNames written_rows;
  written_rows.build(rows, lp_name_acceptable, lp_name_rewritten);
  for (int32_t i = 1; i <= nrow; ++i) w.names[static_cast<size_t>(i)] = written_rows[static_cast<size_t>(i - 1)];
  std::vector<std::string> columns;
  for (int32_t j = store.first_col; j <= nseq; ++j) columns.push_back(position_name(j));
  WrittenNames written_columns;
  written_columns.build(columns, lp_name_acceptable, lp_name_rewritten);
  for (size_t k = 0; k < columns.size(); ++k)
    w.names[static_cast<size_t>(store.first_col) + k] = written_columns[k];
  if (objective_row >= 1 && objective_row <= nrow) w.objective_name = w.names[static_cast<size_t>(objective_row)];
  report_rewritten_names(written_rows.rewritten() + written_columns.rewritten(),
                         written_rows.rewritten() > 0 ? written_rows.first_rewritten()
                                                      : written_columns.first_rewritten());
}

// Columns that no written row holds (no entries, or entries in free rows
// only): they stand in the objective with a zero coefficient, which enters
// them, or the file would lose them and their bounds would name unknown
// columns.
std::vector<uint8_t> columns_without_rows() {
  std::vector<uint8_t> alone(static_cast<size_t>(nseq) + 1, 1);
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> col_start = int_array(ARR_COL_START);
  OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
  OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    for (int32_t k = col_start[j]; k < col_start[j + 1]; ++k) {
      const int32_t i = elem_row[k];
      if (i >= 1 && i <= nrow && elem_value[k] != 0.0 && (row_type[i] & ROW_TYPE_MASK) != ROW_N) {
        alone[static_cast<size_t>(j)] = 0;
        break;
      }
    }
  }
  return alone;
}

void write_objective(LpWriter& w) {
  OneBased<double> cost = real_array(ARR_OBJECTIVE);
  const double constant = written_objective_constant();
  bool first = true;
  bool any = false;
  bool any_cost = false;
  for (int32_t j = store.first_col; j <= nseq && !any_cost; ++j) any_cost = cost[j] != 0.0;
  // An objective of zero terms alone would be no objective for a reader.
  const std::vector<uint8_t> alone = any_cost ? columns_without_rows() : std::vector<uint8_t>();
  for (int32_t j = store.first_col; j <= nseq && !w.failed; ++j) {
    if (cost[j] == 0.0) continue;
    std::string piece;
    if (first) {
      if (!w.objective_name.empty()) piece = w.objective_name + ":";
      if (constant != 0.0) {
        piece += " " + round_trip_number(constant);
        first = false;
      }
    }
    piece += term(cost[j] * inverse_scale_of(j, w.opt.stored), first, w.names[static_cast<size_t>(j)]);
    first = false;
    any = true;
    append(w, piece, kObjectiveLimit, false, 0);
  }
  for (int32_t j = store.first_col; any && j <= nseq && !w.failed; ++j)
    if (cost[j] == 0.0 && alone[static_cast<size_t>(j)] != 0)
      append(w, " + 0 " + w.names[static_cast<size_t>(j)], kObjectiveLimit, false, 0);
  bool quadratic = false;
  if (nqelem > 0) {
    OneBased<int32_t> upper_start = int_array(ARR_QUAD_UPPER_START);
    OneBased<int32_t> index = int_array(ARR_QUAD_INDEX);
    OneBased<double> value = real_array(ARR_QUAD_VALUES);
    bool first_square = true;
    for (int32_t j = store.first_col; upper_start && j <= nseq && !w.failed; ++j) {
      for (int32_t k = upper_start[j]; k < upper_start[j + 1]; ++k) {
        const int32_t i = index[k];
        const double q = value[k];
        if (i < j || i > nseq || q == 0.0) continue;
        std::string piece;
        if (!quadratic) piece = any ? " + [" : "[";
        quadratic = true;
        if (q < 0.0) {
          piece += " - ";
        } else {
          piece += first_square ? " " : " + ";
        }
        first_square = false;
        const double a = i == j ? std::fabs(q) : 2.0 * std::fabs(q);
        if (a != 1.0) piece += number(a);
        piece += w.names[static_cast<size_t>(j)];
        piece += i == j ? std::string("^2") : " * " + w.names[static_cast<size_t>(i)];
        append(w, piece, kQuadraticLimit, false, 0);
      }
    }
    if (quadratic) w.line += " ]";
  }
  flush(w);
  if (!any && !quadratic) write_line(w, "0");
}

// One row: prefix, terms, then the relation and the right-hand side.
void write_row(LpWriter& w, int32_t i, const char* relation, const std::string& prefix, double rhs) {
  OneBased<int32_t> row_start = int_array(ARR_ROW_COPY_START);
  OneBased<int32_t> row_col = int_array(ARR_ROW_COPY_COL);
  OneBased<double> row_val = real_array(ARR_ROW_COPY_VAL);
  const size_t indent = prefix.size() >= kIndent || prefix.find(':') == std::string::npos ? kIndent : prefix.size();
  const double f = inverse_scale_of(i, w.opt.stored);
  w.line.clear();
  std::string pending = prefix;
  bool first = true;
  for (int32_t k = row_start[i]; k < row_start[i + 1] && !w.failed; ++k) {
    const int32_t j = row_col[k];
    if (j < store.first_col || j > nseq || row_val[k] == 0.0) continue;
    pending += term(row_val[k] * f * inverse_scale_of(j, w.opt.stored), first, w.names[static_cast<size_t>(j)]);
    first = false;
    append(w, pending, kRowLimit, true, indent);
    pending.clear();
  }
  // A row without terms holds one of coefficient 0: other readers take no
  // row of no terms at all, and a zero term adds nothing.
  if (first && store.first_col <= nseq) pending += " 0 " + w.names[static_cast<size_t>(store.first_col)];
  const std::string closing = pending + " " + relation + " " + number(rhs);
  append(w, closing, kRowLimit, true, indent);
  flush(w);
}

void write_rows(LpWriter& w) {
  write_line(w, "");
  write_line(w, "Subject To");
  if ((problem_flags & PF_ROW_COPY) == 0) build_row_copy();
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> rhs = real_array(ARR_RHS);
  OneBased<double> upper = real_array(ARR_UPPER);
  for (int32_t i = 1; i <= nrow && !w.failed; ++i) {
    const std::string prefix = w.opt.generated ? "R" + std::to_string(i) + " : " : w.names[static_cast<size_t>(i)] + ":";
    const double f = inverse_scale_of(i, w.opt.stored);
    const double r = rhs[i] * f;
    switch (row_type[i] & ROW_TYPE_MASK) {
      case ROW_E:
        write_row(w, i, "=", prefix, r);
        break;
      case ROW_G:
        write_row(w, i, ">=", prefix, r);
        break;
      case ROW_L:
        write_row(w, i, "<=", prefix, r);
        if ((status[i] & PS_FINITE_UPPER) != 0 && upper[i] < kWriterInfinity) {
          const std::string second = w.opt.generated ? "L" + std::to_string(i) + " : " : std::string(kIndent, ' ');
          write_row(w, i, ">=", second, r - upper[i] * f);
        }
        break;
      default:
        break;
    }
  }
}

void write_sets(LpWriter& w) {
  if (nsets <= 0) return;
  write_line(w, "");
  write_line(w, "\\Special Ordered Sets");
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
    std::string name = set_name(s);
    if (!lp_name_acceptable(name)) name = lp_name_rewritten(name);
    w.line.clear();
    std::string pending = w.opt.generated ? "S" + std::to_string(s) + " : " : name + ":";
    bool first = true;
    for (int32_t m = set_start[s] + 1; m <= set_start[s + 1]; ++m) {
      const int32_t p = member_column[m];
      pending += term(member_ref[m] * inverse_scale_of(p, w.opt.stored), first, w.names[static_cast<size_t>(p)]);
      first = false;
      append(w, pending, kSetLimit, false, kIndent);
      pending.clear();
    }
    append(w, pending + (type == ENT_SET1 ? " = S1" : " = S2"), kSetLimit, false, kIndent);
    flush(w);
  }
}

struct ColumnCounts {
  int32_t integers = 0;
  int32_t binaries = 0;
  int32_t partial = 0;
  int32_t semicontinuous = 0;
  int32_t semi_integers = 0;
};

void write_bounds(LpWriter& w, ColumnCounts& counts) {
  write_line(w, "");
  write_line(w, "Bounds");
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  const bool search = w.opt.search_bounds && (problem_flags & PF_SEARCH_RUNNING) != 0 &&
                      array_cells[ARR_WORK_LOWER] != nullptr && array_cells[ARR_WORK_UPPER] != nullptr;
  OneBased<double> lower = search ? real_array(ARR_WORK_LOWER) : real_array(ARR_LOWER);
  OneBased<double> upper = search ? real_array(ARR_WORK_UPPER) : real_array(ARR_UPPER);
  const double intmax = icv(ic::INTMAX);
  for (int32_t j = store.first_col; j <= nseq && !w.failed; ++j) {
    const uint32_t s = static_cast<uint32_t>(status[j]);
    const double g = scale_of(j, w.opt.stored);
    const double l = lower[j] <= -kWriterInfinity ? -kInfinity : lower[j] * g;
    const double u = upper[j] >= kWriterInfinity ? kInfinity : upper[j] * g;
    const std::string& name = w.names[static_cast<size_t>(j)];
    if (l == u) {
      write_line(w, " " + name + " = " + round_trip_number(u));
      continue;
    }
    if ((s & PS_BINARY) != 0) {
      ++counts.binaries;
      continue;
    }
    const bool integer = (s & PS_INTEGER) != 0;
    const bool semicontinuous = (s & PS_SEMICONTINUOUS) != 0;
    if ((s & PS_PARTIAL_INTEGER) != 0) {
      ++counts.partial;
    } else if (semicontinuous) {
      ++(integer ? counts.semi_integers : counts.semicontinuous);
    } else if (integer) {
      ++counts.integers;
    }
    // A general integer at 0 whose upper bound is infinite (or INTMAX, the
    // integer form of it) states that bound: a reader takes an integer
    // column without bounds for a binary.
    const bool general_integer = integer && !semicontinuous && (s & PS_PARTIAL_INTEGER) == 0;
    const bool unbounded_integer = general_integer && (u >= kWriterInfinity || u == intmax);
    if (u >= kWriterInfinity) {
      if (l == 0.0) {
        if (unbounded_integer) write_line(w, " " + name + " <= inf");
      } else if (l > -kWriterInfinity) {
        write_line(w, " " + name + " >= " + round_trip_number(l));
      } else {
        write_line(w, " " + name + " free");
      }
      continue;
    }
    if ((s & PS_PARTIAL_INTEGER) != 0 && u == intmax) continue;
    std::string piece = " ";
    if (l <= -kWriterInfinity) {
      piece += "-inf <= ";
    } else if (l != 0.0) {
      piece += number(l) + "<= ";
    }
    piece += name;
    if (unbounded_integer) {
      if (l == 0.0) piece += " <= inf";
    } else {
      piece += " <= " + round_trip_number(u);
    }
    if (piece != " " + name) write_line(w, piece);
  }
}

void write_list(LpWriter& w, const char* title, uint32_t wanted, uint32_t excluded) {
  write_line(w, "");
  write_line(w, title);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  w.line.clear();
  for (int32_t j = store.first_col; j <= nseq && !w.failed; ++j) {
    const uint32_t s = static_cast<uint32_t>(status[j]);
    if ((s & wanted) == 0 || (s & excluded) != 0) continue;
    const std::string piece = w.names[static_cast<size_t>(j)] + " ";
    if (!w.line.empty() && w.line.size() + piece.size() >= kListLimit) flush(w);
    w.line += piece;
  }
  if (!w.line.empty()) flush(w);
}

void write_limited(LpWriter& w, const char* title, int32_t wanted_type, bool semi_integer) {
  write_line(w, "");
  write_line(w, title);
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<int32_t> entity_type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> entity_column = int_array(ARR_ENTITY_COLUMN);
  OneBased<double> limit = real_array(ARR_SEMICONT_LIMIT);
  for (int32_t e = 1; e <= nglent && !w.failed; ++e) {
    const int32_t word = entity_type[e];
    if ((word & ENT_TYPE_MASK) != wanted_type) continue;
    const int32_t j = entity_column[e];
    if (j < store.first_col || j > nseq) continue;
    const uint32_t s = static_cast<uint32_t>(status[j]);
    const std::string& name = w.names[static_cast<size_t>(j)];
    if (wanted_type == ENT_PARTIAL_INTEGER) {
      write_line(w, name + " > " + std::to_string(word >> 4));
      continue;
    }
    const bool integer = (s & PS_INTEGER) != 0;
    if (semi_integer ? (s & PS_SEMICONTINUOUS) == 0 : integer) continue;
    write_line(w, name + " > " + round_trip_number(limit[e] * scale_of(j, w.opt.stored)));
  }
}

void write_file(LpWriter& w) {
  write_line(w, "\\Problem name: " + std::string(character_attributes[1], kNameChars) + " ");
  write_line(w, "");
  write_line(w, "Minimize");
  write_objective(w);
  if (!w.failed) write_rows(w);
  if (!w.failed) write_sets(w);
  ColumnCounts counts;
  if (!w.failed) write_bounds(w, counts);
  if (!w.failed && counts.integers > 0) write_list(w, "Integers", PS_INTEGER, PS_BINARY | PS_SEMICONTINUOUS);
  if (!w.failed && counts.binaries > 0) write_list(w, "Binaries", PS_BINARY, 0);
  if (!w.failed && counts.partial > 0) write_limited(w, "Partial Integers", ENT_PARTIAL_INTEGER, false);
  if (!w.failed && counts.semicontinuous > 0) write_limited(w, "Semi Continuous", ENT_SEMICONTINUOUS, false);
  if (!w.failed && counts.semi_integers > 0) write_limited(w, "Semi Integers", ENT_INTEGER, true);
  write_line(w, "");
  write_line(w, "End");
}

}  // namespace

bool lp_name_acceptable(const std::string& name) {
  if (name.empty() || name.size() > kLpNameMax) return false;
  const char first = name[0];
  if (!(letter(first) || special(first))) return false;
  if (!std::all_of(name.begin(), name.end(), name_char)) return false;
  return !is_keyword(name);
}

std::string lp_name_rewritten(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (!name_char(c)) c = '_';
  if (out.empty() || !(letter(out[0]) || special(out[0])) || is_keyword(out))
    out.insert(out.begin(), '_');
  if (out.size() > kLpNameBase) out.resize(kLpNameBase);
  return out;
}

void write_lp_file(int32_t stored, int32_t generated, int32_t precision, int32_t search_bounds) {
  // Every number reads back exactly, so full precision changes nothing.
  (void)precision;
  if (command_argument().find_first_not_of(' ') != std::string::npos) problem_command();
  if (status_code != STATUS_OK) return;
  int32_t error = 0;
  open_text_output(make_work_file_name("lp").c_str(), error);
  if (error != 0) return;
  LpWriter w;
  w.opt.stored = stored != 0;
  w.opt.generated = generated != 0;
  w.opt.search_bounds = search_bounds != 0;
  choose_names(w);
  write_file(w);
  close_text_output();
}

}  // namespace kl
