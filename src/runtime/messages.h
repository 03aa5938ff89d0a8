// The message system: numbered texts from the message file are copied into
// one shared line, filled at their "&" placeholders and emitted to the sink.
#ifndef KLSOL_RUNTIME_MESSAGES_H
#define KLSOL_RUNTIME_MESSAGES_H

#include <cstdint>
#include <string>

#include "klsol/message_ids.h"

namespace kl {

// Longest line: characters 1..255; position 256 holds the terminator.
inline constexpr int kMessageLineMax = 255;
// A run of limited messages prints this many lines, then goes silent.
inline constexpr int kRepeatLimit = 22;

// The one shared message line. Positions count from 1 (text[0] unused).
struct MessageLine {
  char text[kMessageLineMax + 2] = {};
  // Next free position; 1 for an empty line, 0 while no message file is open
  // (nothing is fetched or emitted then).
  int32_t length = 0;
  // Position from which the next insert searches for an "&".
  int32_t placeholder = 1;
  // Severity of the message in the line; 1 after each emission.
  int32_t severity = 1;
  // True while the line continues a fetched text that was wrapped at the
  // line's end: its first character is plain text, not a "~" or "." mark.
  bool continuation = false;
  // The "~" or "." mark of the fetched text that opens the line (0 for
  // none). Kept apart from the text, so an insert that happens to start
  // with one of these characters is printed, never taken as a mark.
  char lead_mark = 0;
  // Repeat rule: number of the last message started, its repeat counter, and
  // the IFPMSG level kept while a run of repeats is silenced.
  int32_t last_number = 0;
  int32_t repeat_count = 0;
  int32_t kept_level = 0;
  // echo: emitted lines go to the sink; copy: also to the open output text file.
  bool echo = true;
  bool copy = false;
  // Grows by 1 per "quit" at a pager stop; 8 after a message-file failure.
  int32_t fault_count = 0;
  // Inserted reals at or below this magnitude print as 0 (single precision).
  float zero_tolerance = 1e-5f;
  // status_code and error_number kept by suspend_messages.
  int32_t kept_status = 0;
  int32_t kept_error = 0;
};
extern MessageLine message_line;

// The open message file: its unit (-1 when closed), the index of byte
// positions (entry n, from 1, for message n; 0 for none; unsigned, so the
// file may reach 65535 bytes) and the decoded page held.
struct MessageFile {
  int32_t unit = -1;
  uint16_t index[1025] = {};
  unsigned char page[2048] = {};
  int32_t page_number = 0;  // 0: none held
  int32_t page_count = 0;   // pages in the file
};
extern MessageFile message_file;

// Starting a message copies its text into the line (at the pending "&" of a
// started message, else at its end). A number with no usable record (outside
// 1..1024, index entry 0 or past the file, record of another number) puts
// "?n message text missing: " there instead and leaves status_code and
// error_number alone; a seek or read failure of the file is a message-file
// failure (two lines of kind 4, fault count 8, status 8, error 278). Text
// past 255 characters is emitted and continues in a fresh line.
void begin_message(int32_t n);
// For warnings that may repeat: a run of one number prints kRepeatLimit
// lines, then is silent until another message starts (message 265 then
// counts the silenced ones).
void begin_message_limited(int32_t n);
void fetch_message_text(int32_t n);

// Inserts: each fills the next "&" from the placeholder position (or appends),
// overwriting its width, cut at position 255. An insert wider than the "&"
// and the blanks behind it pushes the rest of the line to the right (keeping
// one blank before a word that follows) instead of overwriting it;
// insert_message_int widens its field for values that need more than 6
// characters.

void insert_message_int(int32_t k);
void insert_message_value12(int32_t k);
void insert_message_value_suffix(int32_t k);
void insert_message_int2(int32_t k);
void insert_message_real(double x);
void insert_message_real4(float x);
void insert_message_chars(const char* s, int32_t n);
void insert_message_name8(const char* word);
void insert_message_code2(uint16_t code);
void insert_message_string(const char* s);
// The name of position j as stored in the names array (later issues).
void insert_message_vector_name(int32_t j);
void insert_message_name_pair(int32_t i, int32_t j);

void emit_message();

// 1: echo and copy on; 6: echo off, copy on; anything else: echo on, copy off.
void set_message_mode(int32_t m);
void suspend_messages();
void resume_messages();
void set_message_zero_tolerance(double x);

// Opens the message file: first library directory, then the second (or the
// current directory when that is empty). Returns 0, or 2 after sending the
// two built-in lines (the line then stays shut, length 0). path receives the
// name of the file opened (or last tried).
int32_t open_message_file(const char* name, std::string& path);
// Closes the message file's unit, forgets the page held and shuts the line
// (length 0), so later messages are dropped instead of failing.
void close_message_file();
// Message 1 checked against the version text, then the banner. On a
// mismatch status_code 8, error_number 278.
void print_startup_banner();
// The HELP command: message 200 with message 1, then 201, 202, ... until an
// empty text or a "quit" at a pager stop.
void help_command();

// Drops a started message that was not emitted (a body stopped half-way
// through one); an unopened line stays unopened.
void discard_message_line();

// Resets the line and the switches for start-up (length 0, echo on, copy off,
// fault count 0) and forgets the message file without closing it (the unit
// table is reset beside it).
void reset_message_state();

// The library's identification line (built in, not from the message file).
const char* library_identification();
// The version text message 1 must hold: "12.35 ".
inline constexpr const char* kVersionText = "12.35 ";

}  // namespace kl

#endif
