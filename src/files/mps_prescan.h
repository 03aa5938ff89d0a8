// MPS files: the line and field rules both passes share, the diagnostics
// that say where, and the first pass (the pre-scan) that decides between
// fixed and free fields and counts what the main pass will read.
//
// Columns of a line are counted from 1. Fixed fields start at columns 2, 5,
// 15, 25, 40 and 50 (field 1 is the type, 2 a name, 3 a name, 4 a number,
// 5 a name, 6 a number); free fields are the blank- or tab-separated tokens,
// numbered from the first field of the section (MpsSectionLayout).
#ifndef KLSOL_FILES_MPS_PRESCAN_H
#define KLSOL_FILES_MPS_PRESCAN_H

#include <cstdint>
#include <string>

namespace kl {

enum MpsSection : int32_t {
  MPS_NONE = 0,
  MPS_NAME,
  MPS_ROWS,
  MPS_COLUMNS,
  MPS_RHS,
  MPS_ENDATA,
  MPS_BOUNDS,
  MPS_SETS,
  MPS_RANGES,
  MPS_RECURSE,
  MPS_VUB,
  MPS_QMATRIX,
  MPS_QUADOBJ,
};

struct MpsSectionLayout {
  const char* keyword;  // the whole header word
  int32_t first_field;  // free fields: field of a data line's first token
  int32_t last_field;   // free fields: the last field kept; the rest of the line is ignored
};
const MpsSectionLayout& mps_section_layout(int32_t section);
// The section named by the first four characters of a header line (a
// three-character header counts as followed by a blank); MPS_NONE when none.
int32_t mps_section_of_header(const char* line, int32_t length);

// Longest name or number a line may hold: a longer token cannot be kept
// whole, and the read fails rather than cut it.
inline constexpr int32_t kMpsTokenMax = 200;
// Fixed-field lines are cut after this column (unless a token runs on).
inline constexpr int32_t kMpsFixedCut = 61;
inline constexpr int32_t kMpsFieldCount = 6;
// The sentinel (entry 7) lies beyond any fixed line, which is cut at column
// kMpsFixedCut or, with wide names, a little past the longest name.
inline constexpr int32_t kMpsFixedFieldStart[kMpsFieldCount + 2] = {0, 2, 5, 15, 25, 40, 50, 200};
// Characters of a fixed number field that may hold its leading blanks.
inline constexpr int32_t kMpsNumberFieldWidth = 12;
// Longest name a file can give.
inline constexpr int32_t kMpsNameMax = kMpsTokenMax;

// One line in a buffer that is blank beyond its end: a field that starts
// past the line reads as empty, and names read past it stop at the NUL
// after the last character. The buffer grows with the longest line read, so
// a line of any length is held whole.
struct MpsLine {
  // Blanks kept behind the text: a name of kMpsNameMax characters read
  // from the last column, and the sentinel field start, stay inside.
  static constexpr int32_t kTailRoom = kMpsNameMax + 112;
  MpsLine() { reserve(kMpsFixedFieldStart[kMpsFieldCount + 1]); }
  MpsLine(const MpsLine&) = delete;
  MpsLine& operator=(const MpsLine&) = delete;

  char* text = nullptr;
  int32_t length = 0;
  // Start column of fields 1..6 and the sentinel 7.
  int32_t field_start[kMpsFieldCount + 2] = {};
  // Free fields: the number of tokens kept (the first field's included).
  int32_t token_count = 0;

  // Characters the buffer holds (the line and the blanks behind it).
  int32_t capacity() const { return static_cast<int32_t>(buffer_.size()); }
  // Room for a line of n characters; the buffer is all blanks afterwards.
  void reserve(int32_t n);
  char* column(int32_t c) { return text + c - 1; }
  const char* column(int32_t c) const { return text + c - 1; }
  char* field(int32_t k) { return column(field_start[k]); }
  const char* field(int32_t k) const { return column(field_start[k]); }
  bool reaches(int32_t k) const { return field_start[k] <= length; }

 private:
  std::string buffer_;
};

// The file being read, for the diagnostics.
struct MpsSource {
  std::string file_name;
  int32_t line_number = 0;  // every line read counts, comments and blank lines too
};
extern MpsSource mps_source;

// "line N of FILE", and "NAME, line N of FILE" with the name's trailing
// blanks dropped (at most length characters, up to a NUL).
std::string mps_where();
std::string mps_where(const char* name, int32_t length);

enum MpsLineKind : int32_t {
  MPS_LINE_DATA = 0,
  MPS_LINE_HEADER = 1,
  MPS_LINE_END = 2,     // end of the file
  MPS_LINE_FAILED = 3,  // read error, or a token longer than kMpsTokenMax (reported)
};

// Reads lines until one is neither empty nor a comment ("*" first) and
// returns its kind. Lines of any length are read whole. cut > 0 cuts the
// line after that column (extended to the end of a token that runs across
// it); trailing blanks and tabs are dropped and a NUL put after the last
// character. A header line of three characters gets a blank as its fourth.
// Comments are echoed when asked. A token longer than kMpsTokenMax, too
// long to be kept as a name or a number, fails the line (message 971).
int32_t read_mps_line(MpsLine& line, int32_t cut, bool echo_comments);

// Field starts of a fixed-field line.
void set_fixed_fields(MpsLine& line);
// Splits a free-field data line into the fields of the layout: the k-th
// token starts field first + k - 1; the line is cut after the last field's
// token; a NUL ends every token from field 2 on; fields not found start
// past the line. With move_type, the first token's first two characters
// are moved to columns 2 and 3 (so " UP " matches as in fixed fields).
void split_free_fields(MpsLine& line, const MpsSectionLayout& layout, bool move_type);

// The number in a field. lead: characters that may hold leading blanks
// (an all-blank lead gives 0); limit: characters the number may run to.
// The number is read whole, in the C locale, with "d" or "D" accepted for
// the exponent; false when the token is not a finite number or runs past
// the limit.
bool parse_mps_number(const char* field, int32_t lead, int32_t limit, double& value);
// The number of field k of a data line, fixed or free (by FREFMT).
bool parse_mps_field(const MpsLine& line, int32_t k, double& value);

// Names of 8 characters (vector names): -1 when the field holds the name,
// else 0. Fixed fields compare 8 characters (a NUL counting as a blank);
// free fields compare the token and require the name to end there.
int32_t mps_names_equal(const char* field, const char* name);
// Copies the field's name into an 8-character name: 8 characters (fixed),
// or the token padded with blanks (free).
void mps_copy_name(const char* field, char* name);
// The name key of a field: n characters up to a NUL (or a blank or tab when
// stop_at_blank), padded with blanks.
void mps_name_key(const char* field, int32_t n, bool stop_at_blank, char* key);

// What the pre-scan counts. positions = rows + NRXTRA + columns.
struct MpsPrescan {
  int32_t rows = 0;
  int32_t positions = 0;
  int32_t entities = 0;
  int32_t sets = 0;
  int32_t set_members = 0;
  int32_t elements = 0;
  int32_t element_space = 0;
  int32_t recurse_entries = 0;
  int32_t quadratic_entries = 0;
  int32_t quadratic_sections = 0;
  int32_t vub_lines = 0;
};
extern MpsPrescan mps_prescan;

// The first pass over the open text file. FREFMT -1 becomes 0 or 1 from
// what the lines look like (below -1: 0; above 1: 1); NAMLEN grows to the
// longest name. The counts go into mps_prescan; the loaded problem is not
// touched. status: 0, or 1 when the file ended before ENDATA (message 152)
// or could not be read. spare_count: new column names met in quadratic
// sections (no caller uses it).
void prescan_mps_file(int32_t& status, int32_t& spare_count);

}  // namespace kl

#endif
