// The output sink: the caller's output callback (plain or wide) and the
// option log file.
#include "runtime/sink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/callbacks.h"

namespace kl {

OptionLog option_log;

namespace {

std::FILE* log_file() { return static_cast<std::FILE*>(option_log.file); }

void close_log_file() {
  if (log_file() != nullptr) std::fclose(log_file());
  option_log.file = nullptr;
}

struct EmptyWideText {
  uint32_t byte_length = 0;
  uint16_t characters[2] = {0, 0};
};
constexpr EmptyWideText kEmptyWideText{};

// The wide form handed to UOPVB: a 32-bit byte length, the characters (one
// per byte of the text, the byte value as code point) and a terminating 0.
// Allocated here and freed after the call, so the host never owns it.
class WideText {
 public:
  WideText(const char* text, int32_t length) {
    const std::size_t count = static_cast<std::size_t>(length);
    block_ = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + (count + 1) * sizeof(uint16_t)));
    if (block_ == nullptr) return;
    block_[0] = static_cast<uint32_t>(count * sizeof(uint16_t));
    uint16_t* chars = characters();
    for (std::size_t k = 0; k < count; ++k) chars[k] = static_cast<unsigned char>(text[k]);
    chars[count] = 0;
  }
  ~WideText() { std::free(block_); }
  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;

  // Without memory the callback still gets a valid (empty) string.
  KLWideString get() const { return block_ != nullptr ? characters() : kEmptyWideText.characters; }

 private:
  uint16_t* characters() const { return reinterpret_cast<uint16_t*>(block_ + 1); }
  uint32_t* block_ = nullptr;
};

void call_output_entries(const char* text, int32_t length, int32_t kind) {
  if (user_entries.uop.enabled != 0) {
    if (kind == SINK_END_OF_CALL) {
      user_entries.uop.function(nullptr, 0, kind);
      return;
    }
    // The caller's buffer may have no room (or no right) for a terminator.
    const std::string copy(text, static_cast<std::size_t>(length));
    user_entries.uop.function(copy.c_str(), length, kind);
  } else if (user_entries.uopvb.enabled != 0) {
    const WideText wide(text, length);
    user_entries.uopvb.function(wide.get(), length, kind);
  }
}

void write_to_log(const char* text, int32_t length, int32_t kind) {
  if (option_log.state == LOG_NONE) return;
  if (option_log.state == LOG_CLOSED && !option_log.name.empty()) {
    option_log.file = std::fopen(option_log.name.c_str(), "a");
    option_log.state = option_log.file != nullptr ? LOG_OPEN : LOG_OPEN_FAILED;
  }
  if (kind == SINK_END_OF_CALL) {
    close_log_file();
    option_log.state = LOG_CLOSED;
    return;
  }
  if (option_log.state != LOG_OPEN) return;
  if (length > 0) std::fwrite(text, 1, static_cast<std::size_t>(length), log_file());
  std::fputc('\n', log_file());
  // A host that stops abruptly still finds every line sent so far.
  std::fflush(log_file());
}

}  // namespace

void write_to_sink(const char* text, int32_t length, int32_t kind) {
  if (text == nullptr || length < 0 || kind == SINK_END_OF_CALL) {
    text = "";
    length = 0;
  }
  call_output_entries(text, length, kind);
  write_to_log(text, length, kind);
}

void set_option_log_name(const char* name) {
  close_log_file();
  if (name != nullptr && name[0] != '\0') {
    option_log.name = name;
    option_log.state = LOG_CLOSED;
  } else {
    option_log.name.clear();
    option_log.state = LOG_NONE;
  }
}

void close_option_log() { set_option_log_name(nullptr); }

void write_message_text(const char* text, int32_t length) { write_to_sink(text, length, SINK_TEXT); }

void write_message_text_kind1(const char* text, int32_t length) { write_to_sink(text, length, SINK_ECHO); }

void write_message_line(int32_t kind, const char* text) {
  write_to_sink(text, text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0, kind);
}

void write_message_line_tilde(int32_t kind, const char* text) { write_message_line(kind, text); }

}  // namespace kl
