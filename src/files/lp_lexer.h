// The bottom layer of the LP-format reader: the reader's state, the stream
// of significant characters (blanks, line ends and comments passed over),
// names, numbers and keywords, the row and column name tables, and the
// error report with the place in the file.
//
// All reader storage is owned by lp_reader_state through standard
// containers, so nothing is left behind whatever way a read ends. A fatal
// error throws LpFatalError, which read_lp_file alone catches: the problem
// store has not been touched by then, so the previously loaded problem stays.
//
// Lines are read whole, however long. Numbers are read as whole tokens and
// converted once, so a value written with enough digits reads back exactly.
#ifndef KLSOL_FILES_LP_LEXER_H
#define KLSOL_FILES_LP_LEXER_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kl {

inline constexpr int32_t kLpHashBuckets = 5003;
inline constexpr int32_t kLpNameMax = 64;
inline constexpr unsigned char kLpEndOfFile = 0xFF;
// Weight of an error that makes the read fail unless IGNORE allows that
// much: a malformed or out-of-range number.
inline constexpr int32_t kLpSevereErrorWeight = 10000;

// Error codes; the message is 501 + code.
enum LpErrorCode : int32_t {
  LP_EMPTY_FILE = 0,
  LP_NO_SENSE = 1,
  LP_OBJECTIVE_DROPPED = 2,
  LP_NO_COLUMNS = 3,
  LP_TEXT_OUT_OF_PLACE = 4,
  LP_NAME_EXPECTED = 5,
  LP_NO_RELATION_VALUE = 6,
  LP_ROW_WITHOUT_TERMS = 7,
  LP_ROW_WITHOUT_RELATION = 8,
  LP_BOUND_VALUE_EXPECTED = 9,
  LP_FIXED_VALUE_EXPECTED = 10,
  LP_NOT_FREE = 11,
  LP_BOUND_RELATION_EXPECTED = 12,
  LP_BAD_BOUND_STATEMENT = 13,
  LP_BOUND_NUMBER_RELATION = 14,
  LP_STORE_REFUSED = 15,
  LP_ROW_NAMES_FAILED = 16,
  LP_COLUMN_NAMES_FAILED = 17,
  LP_NO_MEMORY = 18,
  LP_END_IN_STATEMENT = 19,
  LP_EXPONENT_DIGITS = 20,
  LP_COLUMN_COUNT_GUARD = 25,
  LP_ROW_NAME_GUARD = 26,
  LP_COLUMN_NAME_GUARD = 27,
  LP_DUPLICATE_ROW = 28,
  LP_NAME_TOO_LONG = 29,
  LP_LIMIT_RELATION = 30,
  LP_QUADRATIC_OPERATOR = 31,
  LP_QUADRATIC_EXPONENT = 32,
  LP_NUMBER_RANGE = 33,
};

// Thrown by a fatal lp_error; caught by read_lp_file only.
struct LpFatalError {
  int32_t code;
};

// One entered name.
struct lp_name_entry {
  std::string name;
  // Columns 1, 2, ... in order of first appearance; rows 0 for the
  // objective, then -1, -2, ... in order.
  int32_t index = 0;
  // Columns: stored constraint rows with a non-zero term of the column.
  int32_t row_count = 0;
  lp_name_entry* chain = nullptr;  // next entry of the same bucket
};

// A stored row or set. Rows: kind 0 objective, 1 <=, 2 >=, 3 =; sets: kind
// 0 type 1, 1 type 2.
struct lp_row_record {
  int32_t term_count = 0;
  int32_t kind = 0;
  std::vector<int32_t> columns;  // 0-based, ascending
  std::vector<double> coefficients;
  // Objective: minus the sum of its constant terms; sets: 0.
  double rhs = 0.0;
};

struct lp_reader_state {
  // Lexer.
  std::string line;  // the current line; "\xFF" at end of file
  int32_t position = 0;
  int32_t line_number = 0;
  std::string name;  // the last name read
  std::vector<lp_name_entry*> row_table;
  std::vector<lp_name_entry*> column_table;
  // Entries in order of entry. Every container here is empty without
  // storage when default-made, so that releasing the state after a failed
  // allocation allocates nothing.
  std::vector<std::unique_ptr<lp_name_entry>> rows;
  std::vector<std::unique_ptr<lp_name_entry>> columns;
  int32_t row_count = -1;  // -1 until the objective is entered
  int32_t column_count = 0;
  int32_t row_name_bytes = 0;
  int32_t column_name_bytes = 0;
  int32_t longest_name = 0;
  // Non-fatal errors, compared with IGNORE before the problem is handed over.
  int64_t errors = 0;

  // Grammar.
  std::map<int32_t, double> terms;  // current row: 1-based column -> coefficient
  int32_t element_total = 0;
  int32_t typed_count = 0;
  int32_t set_count = 0;
  int32_t set_member_total = 0;
  std::vector<lp_row_record> row_records;  // the objective first
  std::vector<lp_row_record> set_records;
  // Quadratic objective: (first, second) 1-based columns, first <= second.
  std::map<std::pair<int32_t, int32_t>, double> quadratic;

  // Back end: per column, 0-based.
  std::vector<int32_t> column_type;  // 0 or 'I', 'B', 'P', 'S'
  std::vector<double> column_limit;
  std::vector<double> column_lower;
  std::vector<double> column_upper;
};

extern lp_reader_state lp_state;

// Empties the state for a new read: tables, counters, lists, line.
void lp_reset_reader_state();

// Lexer.
unsigned char lp_current_char();
bool lp_at_end_of_file();
void lp_read_line();
// Passes blanks, line ends and comments from the position on.
void lp_skip_to_significant();
int lp_next_char();
void lp_next_statement_line(int force);
// True when every character before the position on its line is a blank.
bool lp_token_begins_line();
int lp_read_name(std::string& name);
int lp_read_number(double& value, bool sign_flag);
int lp_match_keyword(const char* const* keywords);
void lp_skip_keyword(const char* keyword);
int lp_compare_nocase(const char* a, const char* b, int n);
int lp_char_in_set(const char* set, char c);
int32_t lp_name_hash(const char* name, int32_t length);
// Mode bit 1: row table, else column table; bit 2: look up only. Returns
// the entry's index, 0 when a look-up finds nothing.
int32_t lp_lookup_name(const std::string& name, int mode, lp_name_entry** entry);
// Message 501 + code with the place; a fatal one throws LpFatalError.
// Non-fatal ones count against IGNORE (a malformed number heavily).
void lp_error(int32_t code, int fatal);

}  // namespace kl

#endif
