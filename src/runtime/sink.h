// The output sink: every text of the library leaves through write_to_sink,
// to the caller's output callback and to the option log file.
#ifndef KLSOL_RUNTIME_SINK_H
#define KLSOL_RUNTIME_SINK_H

#include <cstdint>
#include <string>

namespace kl {

// Kinds seen by the output callbacks.
enum SinkKind : int32_t {
  SINK_END_OF_CALL = -1,  // no text, length 0
  SINK_TEXT = 0,          // prompts and report texts
  SINK_ECHO = 1,          // echoed command lines, built-in file-error line
  SINK_BUILTIN_FAILURE = 4,
};

// Option log state.
enum OptionLogState : int32_t {
  LOG_NONE = -1,         // no log named
  LOG_CLOSED = 0,        // named, closed; the next text opens it for appending
  LOG_OPEN_FAILED = 1,   // named, the last open failed
  LOG_OPEN = 2,
};

struct OptionLog {
  std::string name;
  void* file = nullptr;  // std::FILE*
  int32_t state = LOG_NONE;
};
extern OptionLog option_log;

// Sends length characters of text (not necessarily terminated) with a kind.
// The callback receives a terminated copy; the caller's buffer is not written.
void write_to_sink(const char* text, int32_t length, int32_t kind);

// Body of KLSETOPTLOG: a name sets the log (opened by the next text); null or
// empty closes it and stops logging.
void set_option_log_name(const char* name);
void close_option_log();

void write_message_text(const char* text, int32_t length);        // kind 0
void write_message_text_kind1(const char* text, int32_t length);  // kind 1
void write_message_line(int32_t kind, const char* text);          // terminated text
void write_message_line_tilde(int32_t kind, const char* text);

}  // namespace kl

#endif
