// The main pass of the MPS reader. It reads the open file line by line into
// scratch storage of its own (MpsRead) and only at ENDATA, when the file has
// read without more errors than IGNORE allows, replaces the loaded problem
// with what it read and runs the common set-up. A file that fails to read
// therefore leaves the problem loaded before it as it was.
//
// Scratch storage is indexed by position as the problem store is: rows
// 1..rows, spare rows up to first_col - 1, columns first_col..last_position.
// Matrix elements carry the row number under which they will be stored
// (the row map: with IFNRW < 0 the N rows are dropped and the other rows
// renumbered).
#ifndef KLSOL_FILES_MPS_READER_H
#define KLSOL_FILES_MPS_READER_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "files/mps_prescan.h"
#include "problem/matrix_storage.h"

namespace kl {

// The capacity controls in force for one read (M_R, M_C, M_M, NGEMAX and the
// spare counts); the limits the messages 73, 120, 52, 107 and 363 guard.
struct MpsCapacity {
  int32_t max_rows = 0;      // M_R
  int32_t max_columns = 0;   // M_C (column positions)
  int64_t max_elements = 0;  // M_M
  int32_t max_entities = 0;  // NGEMAX
  int32_t max_quadratic = 0;  // M_Q
  int32_t max_recurse = 0;   // NRCRMX
  int32_t spare_rows = 0;    // NRXTRA
  int32_t spare_columns = 0;  // NCXTRA
  int32_t spare_elements = 0;  // NMXTRA
  int32_t spare_entities = 0;  // NGXTRA
};

struct QuadraticTriplet {
  int32_t first;   // the smaller position
  int32_t second;  // the larger position
  double value;
};

// Everything one read builds before it replaces the loaded problem.
struct MpsProblem {
  int32_t name_chars = 8;  // name_words x 8
  int32_t rows = 0;        // rows read, N rows included
  int32_t first_col = 0;   // rows + spare rows + 1, once ROWS has ended
  int32_t last_position = 0;

  // Per position, entry 0 unused.
  std::vector<int32_t> row_type;  // rows and spare rows
  std::vector<int32_t> status;
  std::vector<double> lower;
  std::vector<double> upper;
  std::vector<double> cost;
  std::vector<int32_t> col_start;  // columns: first element (from 1)
  std::vector<int32_t> entity_of;  // columns: their entity number, 0 for none
  std::vector<double> rhs;         // rows
  std::vector<double> range;       // rows: the RANGES value
  std::vector<uint8_t> has_range;  // rows
  std::vector<int32_t> row_map;    // rows: the row number the matrix uses, 0 for a dropped N row
  std::vector<char> names;         // name_chars per position
  std::unordered_map<std::string, int32_t> row_index;
  std::unordered_map<std::string, int32_t> column_index;

  // Matrix elements in column order, from 1 (entry 0 unused).
  std::vector<int32_t> elem_row;
  std::vector<double> elem_value;

  // Global entities from 1 (entry 0 unused): type word, column position or
  // set number, semi-continuous limit.
  std::vector<int32_t> entity_type;
  std::vector<int32_t> entity_column;
  std::vector<double> semicont_limit;

  // Sets from 1: members set_start[k] + 1 .. set_start[k + 1] (entry 0 unused
  // in the member lists); the reference row (-1 for none) and the name.
  std::vector<int32_t> set_start;
  std::vector<int32_t> set_row;
  std::vector<std::string> set_name;
  std::vector<int32_t> member_column;
  std::vector<double> member_ref;

  std::vector<QuadraticTriplet> quadratic;  // over all quadratic sections, checked
  std::vector<RecurseEntry> recurse;
  int32_t first_cv_entry = 0;
  int32_t cv_entry_count = 0;
  int32_t first_sb_entry = 0;
  int32_t sb_entry_count = 0;
  int32_t last_cv_entry = 0;
  int32_t last_sb_entry = 0;
  int32_t partial_integer_count = 0;
  int32_t quadratic_sections = 0;
  int32_t vub_lines = 0;

  int32_t objective_row = 0;            // 0 when none
  int32_t objective_constant_row = 0;   // the N row named by OBCNAM, 0 when none
  // Problem, bound vector, objective row, right-hand-side vector and range
  // vector names (character attributes 3001 to 3005).
  char model_names[5][8] = {};

  int32_t columns() const { return first_col > 0 ? last_position - first_col + 1 : 0; }
  int32_t elements() const { return static_cast<int32_t>(elem_row.size()) - 1; }
  int32_t entities() const { return static_cast<int32_t>(entity_type.size()) - 1; }
  int32_t sets() const { return static_cast<int32_t>(set_row.size()) - 1; }
  int32_t members() const { return static_cast<int32_t>(member_column.size()) - 1; }
  char* name(int32_t position) { return names.data() + static_cast<size_t>(position - 1) * name_chars; }
};

// The state of one main pass.
struct MpsRead {
  MpsProblem p;
  MpsCapacity capacity;
  MpsLine line;
  bool free = false;        // free fields (FREFMT not 0)
  bool wide_fixed = false;  // fixed fields with names longer than 8 characters
  int32_t errors = 0;       // compared with IGNORE at the end
  bool stopped = false;     // a stopping error: the read ends as failed
  int32_t section = MPS_NONE;
  bool rows_read = false;
  bool columns_read = false;
  bool bounds_read = false;
  bool in_integer_block = false;
  int32_t current_column = 0;  // position of the column being read, 0 before the first
  double current_cost = 0.0;
  char rhs_vector[8] = {};
  char range_vector[8] = {};
  char bound_vector[8] = {};
  std::string previous_set_name;
  bool quadratic_full_matrix = false;  // QMATRIX (both triangles given) or QUADOBJ
  size_t quadratic_section_start = 0;  // first triplet of the section being read
  int32_t quadratic_count = 0;          // triplets read so far, over all sections
};

// Body of the main pass. result: 0 on success (status word 0), else 1 or
// the id of an array that could not be allocated (status word 32).
void read_mps_file(int32_t& result);

// Shared by the section readers.

// Message 153 (limited) with where, error count + 1, and the line echoed.
void mps_bad_line(MpsRead& r);
// A malformed number: error count + 10000, then as mps_bad_line.
void mps_bad_number(MpsRead& r);
// A stopping error: the read ends as failed.
void mps_stop(MpsRead& r);
// Message n with an optional count and where (name first when given).
void mps_report(int32_t n, const char* name, int32_t name_length, bool limited);
void mps_report_count(int32_t n, int64_t count, const char* name, int32_t name_length);
// Message n with the name in a field of the line and where.
void mps_report_field(const MpsRead& r, int32_t n, const char* field, bool limited);
// The line as a plain output line.
void mps_echo_line(const MpsLine& line);

// Name key of a field, name_chars characters.
std::string mps_field_key(const MpsRead& r, const char* field);
// Positions by name, 0 when absent.
int32_t mps_find_row(const MpsRead& r, const char* field);
int32_t mps_find_column(const MpsRead& r, const char* field);
// A column's position, else a row's, else 0.
int32_t mps_find_position(const MpsRead& r, const char* field);
// The value of field k; false (and the bad-number accounting) when malformed.
bool mps_read_value(MpsRead& r, int32_t k, double& value);

// Bounds of a position, keeping the finite-bound and free flags.
void mps_set_lower(MpsProblem& p, int32_t position, double value);
void mps_set_upper(MpsProblem& p, int32_t position, double value);

}  // namespace kl

#endif
