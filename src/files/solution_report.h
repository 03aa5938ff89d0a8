// The printed solution report: the last solution read back from the binary
// solution file (files/solution_file.h) and printed page by page, either
// through the numbered-message output (message 108 per line, with a pager
// prompt at each page break) or into the print file named after the problem
// (extension "prt").
//
// The report: the header lines of print_solution_header, heading kind 3 and
// one line per row, heading kind 4 and one line per column; NLINES - 2 lines
// a page, headings of kind 1 (rows) and 2 (columns) at each page break.
//
// Line of the print file (positions from 1):
//   2 class letter (N, L, G, E; C for a column)   4-9 record number
//   12-19 name    22-23 state code
//   26-37 activity (row) or value (column)
//   40-51 slack (row) or objective coefficient (column)
//   54-65 dual value (row) or reduced cost (column)
//   68-79 right-hand side (row); 68-75 blank (column)
// Everything else is blank; a row line has 80 characters, a column line 76.
// Reals of magnitude below ZTOLPZ print as zero.
#ifndef KLSOL_FILES_SOLUTION_REPORT_H
#define KLSOL_FILES_SOLUTION_REPORT_H

#include <cstdint>
#include <string>

namespace kl {

inline constexpr int32_t kPrintRowLineLength = 80;
inline constexpr int32_t kPrintColumnLineLength = 76;

// Where print_results sends the report.
enum PrintMode : int32_t {
  PRINT_SOLUTION_FILE = -1,   // the print file ("prt")
  PRINT_SOLUTION_SCREEN = 0,  // the message output
  PRINT_RANGING_SCREEN = 1,   // the message output
  PRINT_RANGING_FILE = 2,     // the ranging print file ("rrt")
};

// Heading kinds of the solution report (report_search_status).
enum SolutionHeading : int32_t {
  HEADING_ROW_PAGE = 1,
  HEADING_COLUMN_PAGE = 2,
  HEADING_ROWS = 3,
  HEADING_COLUMNS = 4,
};

// True while a report goes into a text file: message lines are then routed
// into it (message mode 6) and page breaks ask no question.
extern bool print_to_file;

// The line of the print file for the record in solution_line, record number
// k of the file.
std::string format_print_line(int32_t k);

// Prints the report from the binary file open as the work file, into the
// print file when print_to_file is set, else through the message output.
// Stops when the pager says so. A header that cannot be read: message 4; a
// record that cannot be read: message 122.
void print_solution_listing();

// Prints the solution file of the problem in the given mode. Clears the
// status word at entry and prints at message level 1 whatever IFPMSG is,
// putting IFPMSG back at the end. No solution file: the work-file layer's
// message and status_code 32. A print file that cannot be opened: message 80
// and status_code 32.
void print_results(int32_t mode);

// Prints the ranging report from the range file open as the work file:
// three lines a record (message 26 for a row, 25 for a column, then an
// empty line), NLINES - 4 lines a page. Line one: class letter, name,
// activity, lower activity limit, first unit cost, for a column the first
// cost limit, and the first limiting record's name with "UL" (negative) or
// "LL" (positive). Line two: state code, record number, slack (row) or cost
// (column), and the upper side likewise. Headings 4s+3 and 4s+4 before the
// rows and the columns, 4s+1 and 4s+2 at page breaks, s the sense code. A
// record that cannot be read: message 122, status_code 32.
void write_fixed_ranging_print();

// Body of KLFRPRINT and the FRPRINT command.
void print_ranging_file();
// Body of the RPRINT command.
void print_ranging_screen();

// Body of KLFPRINT and the FPRINT command.
void print_solution_file();
// Body of the PRINT command.
void print_solution_screen();

}  // namespace kl

#endif
