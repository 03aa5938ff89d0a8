// The binary solution file ("sol") and range file ("rng"): their layout, the
// writer of the solution file and the readers of both.
//
// Both files are sequences of 8-byte items moved through the work-file layer:
// a header of 32 items, then one record of 8 items per row (1..rows written)
// and one per structural column. Integers are 32-bit little-endian, reals
// IEEE doubles (singles in the range file), names 8 blank-padded characters.
// There is no magic number, length field or checksum, and nothing in the file
// depends on the host's pointer size.
//
// Header items (bytes 0-3 | bytes 4-7):
//   1  problem name (character attribute 3001)
//   2  rows written | columns (nseq - first_col + 1)
//   3  objective row position, 0 for none | byte 4 status_letter, byte 5 sense
//      code (1 minimise, 2 maximise), byte 6 search_started, byte 7 zero
//   4  itcnt | ninf
//   5  nelem | 0                                              (foreign)
//   6, 7  zero                                                (foreign)
//   8  byte 0 zero, byte 1 name_words - 1, byte 2 solution kind,
//      byte 3 VERNO / 100 | partial_integer_count
//   9  objval (double)          10  suminf (double)
//   11 objective row name (3003)   12 RHS set name (3004)
//   13 bound set name (3002)       14-22 zero                 (foreign)
//   23 range set name (3005)       24-32 zero                 (foreign)
// Foreign items are written (as above) only when the file is created anew
// (IFMEM bit 1); otherwise the file is updated in place and they keep what
// another writer stored there.
//
// Solution record of a row | of a column:
//   1  first 8 characters of the name
//   2  row type code (1 E, 2 G, 4 L, 8 N) | element count; then the record
//      status word (below)
//   3  slack value, negated for a G row | column value
//   4  0.0 | objective coefficient
//   5  lower limit of the row activity | lower bound
//   6  upper limit of the row activity | upper bound
//   7  foreign
//   8  dual value | reduced cost
// All values are unscaled; infinite limits are -1e20 and 1e20.
//
// Range record (rows 1..nrow, then the columns), written by ranging:
//   1, 2  as in the solution record
//   3  value of a basic position, else its dual value or reduced cost (double)
//   4  objective coefficient, 0.0 for a row (double)
//   5  two singles: solution items 5 and 6
//   6  two singles: activity range offsets (lower side, upper side)
//   7  two singles for a basic position: cost range offsets (down, up); zero
//      for a nonbasic one
//   8  two ints: the limiting positions as signed record numbers, 0 for none
//      (negative: the limit is reached at an upper bound)
#ifndef KLSOL_FILES_SOLUTION_FILE_H
#define KLSOL_FILES_SOLUTION_FILE_H

#include <cstdint>
#include <functional>
#include <vector>


namespace kl {

inline constexpr int32_t kSolutionHeaderItems = 32;
inline constexpr int32_t kSolutionRecordItems = 8;

// Argument of write_solution_file, kept in byte 2 of header item 8.
enum SolutionKind : int32_t {
  SOLUTION_NO_BASIS = 0,     // no classification: every record reads "??"
  SOLUTION_RECOMPUTED = 1,   // values recomputed from a fresh factorisation
  SOLUTION_AS_LEFT = 2,      // values as the optimiser or postsolve left them
};

// Bits of the record status word. The low 16 bits are those of the
// position's pos_status word (PS_*), except RS_OUTSIDE_BOUNDS, which the
// writer sets itself; bits 16-23 hold the scale exponent byte (64 = none).
inline constexpr int32_t RS_OUTSIDE_BOUNDS = 0x40;
inline constexpr int32_t kRecordExponentShift = 16;

// Sense code of header item 3.
enum SenseCode : int32_t {
  SENSE_MINIMISE = 1,
  SENSE_MAXIMISE = 2,
  SENSE_UNKNOWN = 3,  // anything else read from a file
};

// Class of a record's position.
enum PositionClass : int32_t {
  CLASS_COLUMN = 0,  // also a row of no known type
  CLASS_N_ROW = 1,
  CLASS_L_ROW = 2,
  CLASS_G_ROW = 3,
  CLASS_E_ROW = 4,
};

// State of a record's position; the reports show it by its two-letter code.
enum RecordState : int32_t {
  STATE_UNKNOWN = 0,     // "??"
  STATE_AT_LOWER = 1,    // "LL"
  STATE_INFEASIBLE = 2,  // "**"
  STATE_BASIC = 3,       // "BS"
  STATE_AT_UPPER = 4,    // "UL"
  STATE_BETWEEN = 5,     // "SB"
};
// Two characters, no terminator: "??", "LL", "**", "BS", "UL", "SB" by state.
const char* state_code(int32_t state);
inline constexpr const char* kEqualityCode = "EQ";  // replaces the code of an E row

// Everything read from a file header (read_solution_header). Reading a header
// never touches the problem's counts, names or outcome words: the report
// writers take the file's values from here.
struct SolutionHeaderCopy {
  char problem_name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  int32_t rows = 0;      // rows in the file: records 1..rows are rows
  int32_t columns = 0;   // column records that follow them
  // Positions of the file's columns in the current numbering:
  // first_col = rows + spare_rows_left + 1, nseq = first_col - 1 + columns.
  int32_t first_col = 1;
  int32_t nseq = 0;
  int32_t objective_row = 0;  // 0: none
  char status_letter = ' ';
  int32_t sense_code = SENSE_UNKNOWN;  // 1 or 2; 3 for any other byte
  int32_t search_byte = 0;             // byte 6 of item 3
  int32_t reserved_byte = 0;           // byte 7 of item 3
  int32_t itcnt = 0;
  int32_t ninf = 0;
  int32_t name_words = 1;      // byte 1 of item 8, plus 1
  int32_t solution_kind = 0;   // byte 2 of item 8
  int32_t version = 0;         // byte 3 of item 8
  int32_t partial_integer_count = 0;
  double objective_value = 0.0;
  double sum_infeasibilities = 0.0;
  char objective_name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char rhs_name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char bound_name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char range_name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  // Second int of item 14 and both ints of item 15: a modeller's file keeps
  // its kind keys there. Carried (the save file keeps them), never written.
  int32_t spare_words[3] = {0, 0, 0};
};
extern SolutionHeaderCopy solution_header_copy;

// One solution record as read_solution_status leaves it.
struct SolutionLine {
  char name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  int32_t position_class = CLASS_COLUMN;
  char class_letter = 'C';     // "C", "N", "L", "G", "E"
  int32_t state = STATE_UNKNOWN;
  char code[2] = {'?', '?'};   // state code, "EQ" for an E row not infeasible
  int32_t first_int = 0;       // row type code, or the column's element count
  int32_t status_word = 0;     // with the at-upper bit of an L row flipped
  int32_t exponent = 64;       // bits 16-23 of the status word
  double value = 0.0;          // item 3: column value, or the row's stored slack
  double activity = 0.0;       // row activity; 0 for a column
  double slack = 0.0;          // row slack as reported
  double rhs = 0.0;            // row right-hand side
  double lower = 0.0;          // item 5
  double upper = 0.0;          // item 6
  double cost = 0.0;           // item 4
  double dual = 0.0;           // dual value or reduced cost, sign as reported
};
extern SolutionLine solution_line;

// One range record as read_range_record leaves it. The six derived limits are
// single precision, as the file holds the offsets.
struct RangeLine {
  char name[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  int32_t position_class = CLASS_COLUMN;
  char class_letter = 'C';
  int32_t state = STATE_UNKNOWN;
  char code[2] = {'?', '?'};
  int32_t first_int = 0;
  int32_t status_word = 0;
  int32_t exponent = 64;
  double activity = 0.0;      // value of the position (row: its activity)
  double slack = 0.0;         // row value the activity was derived from
  double rhs = 0.0;           // row right-hand side
  double cost = 0.0;          // item 4
  double reduced_cost = 0.0;  // nonbasic: item 3
  double lower = 0.0;         // item 5, first single
  double upper = 0.0;         // item 5, second single
  float lower_activity = 0.0f;
  float upper_activity = 0.0f;
  float unit_cost[2] = {0.0f, 0.0f};   // lower, upper unit cost
  float cost_limit[2] = {0.0f, 0.0f};  // first, second cost limit
  int32_t limiting[2] = {0, 0};        // signed record numbers, 0 for none
};
extern RangeLine range_line;

// Writes the solution file of the current problem and solution (the problem
// name with the extension "sol"). Does nothing while IFMEM has bit 4. Creates
// the file anew when IFMEM has bit 1, else updates it in place (creating it
// when missing). Open failure: status_code 32 after the work-file layer's
// message. A write failure: message 122, the file is closed, status_code stays
// as the work-file layer set it (2).
void write_solution_file(int32_t kind);

// Reads the 32 header items of the solution or range file open as the work
// file (read mode) into solution_header_copy. Returns 0, or the nonzero read
// error of the work-file layer (which has reported it; status_code 2); on a
// failure solution_header_copy is left as it was.
int32_t read_solution_header();

// read_solution_header, then the report header as messages 123 to 126. status
// is nonzero (after message 4) when the header could not be read.
void print_solution_header(int32_t& status);

// Reads the next solution record, that of position (rows 1..rows of the
// header, columns from its first_col), into solution_line. error is nonzero
// when the work file reported an error; solution_line is then unchanged.
void read_solution_status(int32_t position, int32_t& error);

// Reads the next range record into range_line. error: 0, or nonzero on a
// work-file error (range_line unchanged).
void read_range_record(int32_t position, int32_t& error);
// Position of record k of the file whose header solution_header_copy holds
// (records count the rows, then the columns).
int32_t solution_record_position(int32_t k);
// Every range record of the open range file, by record number (1..rows +
// columns; element 0 unused): a report line names limiting records that may
// come later in the file. False after message 122 on a read error.
bool read_all_range_lines(std::vector<RangeLine>& lines);
// Reads every solution record of the open file whose header
// solution_header_copy holds, calling visit(k, position) with solution_line
// filled for record k. False after message 122 at the first read error
// (the status word as the work-file layer left it).
bool read_all_solution_lines(const std::function<void(int32_t, int32_t)>& visit);
// The range-record reader under the name the ranging queries use.
inline void read_solution_record(int32_t position, int32_t& status) { read_range_record(position, status); }

// Copies the 8 bytes of a double into an 8-character name.
void copy_double_to_name8(double value, char* name);

// Outcome words of the last optimisation that the header records, besides
// status_letter and lp_algorithm (simplex/simplex_state.h) and
// objective_scale_exponent (problem/scale_exponents.h). partial_integer_count belongs
// to the MPS reader; it is defined here until the reader declares it.
extern int32_t partial_integer_count;

}  // namespace kl

#endif
