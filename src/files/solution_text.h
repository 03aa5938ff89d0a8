// The solution as comma-separated text: a one-line header file ("hdr") and a
// values file ("asc") with one line per row and column, converted from the
// binary solution file (files/solution_file.h) and from the numbered copies
// the global search keeps of it.
//
// Every line is built by a small record builder: each field is appended with
// a trailing ",", and the line goes out without the last one, followed by
// CR LF. Reals take 12 characters (format_double_field); a real whose
// magnitude is at or below ZTOLPZ is written as zero.
//
// Header line, 14 fields: problem name (quoted), rows, columns, objective row
// position, status letter (quoted), sense code (1 minimise, 2 maximise, 3
// unknown), iterations, infeasibilities, objective value, sum of
// infeasibilities, objective row name and right-hand-side set name (quoted),
// header bytes 6 (global search started) and 7.
//
// Values line: the fields chosen by option letters, in this order:
//   s record number (rows 1..rows, then the columns numbered on)
//   n name (quoted)            t class letter C, N, L, G, E (quoted)
//   b state code (quoted)      a row activity or column value
//   c row slack or column cost l lower bound, clipped to -1e9
//   u upper bound, clipped to 1e9
//   d dual value or reduced cost
//   r right-hand side (rows only)
//   p the position's value from the analysis file ("ana", nseq doubles)
//   f the position's scale factor 2^(exponent - 64)
// Letter q keeps only the records whose activity or value exceeds ZTOLPZ in
// magnitude; e converts the numbered copies too. Without any field letter
// the fields s n t b a c l u d r are written. The character control ASCMSK
// selects records by name (match_name_mask).
#ifndef KLSOL_FILES_SOLUTION_TEXT_H
#define KLSOL_FILES_SOLUTION_TEXT_H

#include <cstdint>
#include <string>

namespace kl {

// Bounds in the text files never pass these magnitudes.
inline constexpr double kTextBoundLimit = 1e9;

// Widths of the fields of the text files.
inline constexpr int32_t kCsvIntWidthShort = 4;
inline constexpr int32_t kCsvIntWidthLong = 6;
inline constexpr int32_t kCsvRealWidth = 12;

// The line being built (without its CR LF); every field ends in ",".
struct CsvRecord {
  std::string line;
};

void csv_reset(CsvRecord& record);
// The value in 12 characters, of which the last width are taken; a value
// whose magnitude is at or below ZTOLPZ is written as zero.
void csv_add_real(CsvRecord& record, double value, int32_t width);
// The integer right-aligned in 6 characters, of which the last width are
// taken. A number that needs more than width characters is written whole,
// never cut to its last digits.
void csv_add_int(CsvRecord& record, int32_t value, int32_t width);
void csv_add_quoted_name(CsvRecord& record, const char* name);  // 8 characters
void csv_add_quoted_code(CsvRecord& record, const char* code);  // 2 characters
void csv_add_quoted_text(CsvRecord& record, const char* text, int32_t n);
// n characters with no separator after them.
void csv_add_text(CsvRecord& record, const char* text, int32_t n);
// Drops the last separator, writes the line into the open text output file
// and empties the record. A failed write sets status_code 2.
void csv_write_record(CsvRecord& record);

// Name mask of the values file, compared position by position with the
// 8-character name: "?" accepts any character, "+" an upper-case letter,
// "-" a lower-case letter, any other character only itself.
bool match_name_mask(const char* mask, const char* name);

// Reads the header of the binary file open as the work file and writes the
// header line into the open text file. A header that cannot be read: message
// 127 and no line; returns false.
bool write_ascii_header();

// Writes the values lines of the binary file open as the work file (its
// header already read) into the open text file. Option p first reads the
// analysis file named (the problem's, whatever name the text files take);
// when that fails (messages 66, 67 or 64) no line is written and status_code
// is 32. A record that cannot be read: message 122.
void write_ascii_solution(const std::string& analysis_file);

// Body of KLTOASC and of the text-conversion command. Converts the solution
// file ("sol" into "hdr" and "asc"), and under option e the numbered copies
// after it ("so0" into "hd0" and "as0", ...) until one is missing. A further
// word on the command line names the text files (the same name for every
// pass); the binary files are always those of the problem. When the solution
// file is missing and a problem is loaded, it is written first (kind 1, after
// factorising the basis when the factor is not valid). No solution file and
// no problem to write it from: message 91, status_code 32.
void write_solution_ascii();

// Name mask of the ranging file: only "?" is a wildcard; every other mask
// character must equal the name's.
bool match_range_name_mask(const char* mask, const char* name);

// Writes the ranging lines of the range file open as the work file (its
// header already read) into the open text file: the fields chosen by the
// letters s n t b a c (all of them when no letter is given), then always the
// lower activity limit, first unit cost, first cost limit (0 for rows), name
// and code ("UL" negative, "LL" positive) of the first limiting record, and
// the same five for the upper side. A record that cannot be read: message
// 122, status_code 32.
void write_ascii_ranging();

// Body of KLRTOASC: the header file ("hdr") and the ranging file ("rsc")
// from the range file ("rng"). A further word on the command line names the
// text files. No problem loaded or no range file: message 91, status_code 32.
void write_ranging_ascii();

}  // namespace kl

#endif
