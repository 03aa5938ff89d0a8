// Text files over byte-stream units (a stack of two input files, one output
// file), console lines, and the small text utilities.
#ifndef KLSOL_RUNTIME_TEXT_IO_H
#define KLSOL_RUNTIME_TEXT_IO_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace kl {

inline constexpr int kTextInputDepth = 2;
inline constexpr int kTextInputBuffer = 32768;
inline constexpr int kTextOutputBuffer = 2048;
// Characters kept of one input line; callers' buffers hold this many.
inline constexpr int kTextLineMax = 201;
// Characters read of one console line from standard input.
inline constexpr int kConsoleLineMax = 131;
// Room first offered to the console entry for one line; a longer line is
// asked for again with room enough.
inline constexpr int32_t kConsoleEntryRoom = 256;

struct TextInputLevel {
  int32_t unit = -1;
  unsigned char buffer[kTextInputBuffer] = {};
  int32_t filled = 0;     // bytes in the buffer
  int32_t position = 0;   // next byte to take; -1 marks end of file
};
struct TextFileStack {
  int32_t depth = 0;
  TextInputLevel input[kTextInputDepth + 1];  // levels 1 and 2
  int32_t output_level = 0;
  int32_t output_unit = -1;
  unsigned char output[kTextOutputBuffer] = {};
  int32_t output_position = 0;
};
extern TextFileStack text_file_stack;

// Input. error: 0, 1 (cannot open), 2 (too deep).
// Closes a unit; a failure is reported (the unit and the error number).
// Returns false then.
bool close_unit_reporting(int32_t unit);

void open_text_input(const char* name, int32_t& error);
// line must hold kTextLineMax characters (not terminated); count gets the
// number kept. error 0, or -1 at end of file with count 0.
void read_text_line(char* line, int32_t& count, int32_t& error);
// The whole line, however long, without its line end (a carriage return
// anywhere in it is dropped). error as read_text_line.
void read_text_line_whole(std::string& line, int32_t& error);
void close_text_input();

// Output. Lines are written with a carriage return and a line feed.
void open_text_output(const char* name, int32_t& error);
void write_text_line(const char* text, int32_t n);
void close_text_output();
void copy_line_to_output_file(const char* text, int32_t n, int32_t& fault);

// Console: the console-input entry when registered (called with the room of
// its buffer in *length, asked again with more room when it reports a longer
// line, a negative length meaning the end of input), else ">" and standard
// input (at most kConsoleLineMax characters). False at the end of input (the
// caller decides what that means; only the console program ends the process).
bool read_console_text(std::string& raw);
// The same into a caller's buffer of capacity characters.
bool read_console_line(char* line, int32_t capacity, int32_t& length);
// The standard-input path of read_console_line over any pair of streams:
// prompt ">" on out, one line from in (at most kConsoleLineMax characters and
// never more than capacity; the rest of a longer line is discarded), its line
// feed and a carriage return before it removed. At the end of input it writes
// "?EOF on read: fatal" on out and returns false.
bool read_console_stream(std::FILE* in, std::FILE* out, char* line, int32_t capacity, int32_t& length);
// Page break in a printed report; stop := the length of the answer typed.
void report_search_status(int32_t section, int32_t& stop);

// Number fields. Each writes into field without a terminator.
void format_int_field(int32_t k, char* field);             // 12 characters
void format_int_2_digits(int32_t k, char* field);
void format_int_4_digits(int32_t k, char* field);
void format_int_zero_padded(int32_t k, int32_t n, char* field);
// Digits written right to left ending at end; count := their number.
void format_int_digits_backward(int32_t k, char* end, int32_t& count);
void format_hex8(uint32_t k, char* field);
int32_t parse_int_field(const char* field);
// Reads a field of LENDBL characters; a bad character sets status_code 32
// and gives 0.
double parse_real_field(const char* field);

// Text utilities.
void upper_case(char* text, int32_t n);
// path := directory, "/" unless it is empty or already ends in a separator,
// then name. Both "/" and "\" count as separators.
std::string make_path(const std::string& name, const std::string& directory);
void fill_blanks_200(char* buffer);
int32_t letter_class_index(char c);
// True when the variable is set; value receives it.
bool read_environment_text(const char* name, std::string& value);

// Start-up: depth 0, no output file.
void reset_text_files();

}  // namespace kl

#endif
