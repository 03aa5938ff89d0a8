// The message system: fetching numbered texts from the paged message file
// into the shared line, filling their placeholders, and emitting the line.
#include "runtime/messages.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "runtime/number_fields.h"
#include "page_code.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/platform.h"
#include "runtime/sink.h"
#include "runtime/startup.h"
#include "runtime/text_io.h"
#include "runtime/units.h"

namespace kl {

MessageLine message_line;
MessageFile message_file;

namespace {

constexpr int32_t kPageBytes = static_cast<int32_t>(kMessagePageBytes);
// Fault count after a message-file failure, and its growth on a wrong version.
constexpr int32_t kUnreadableFaults = 8;
constexpr int32_t kWrongVersionFaults = 2;
constexpr const char* kFileNotFoundText = "?0:error - message file not found";
constexpr const char* kCheckEnvironmentText = "check environment variable KALMIR set correctly";
constexpr const char* kWrongVersionText = "?1:wrong version of message file";
constexpr const char* kUnreadableText = "?2:error - message file could not be read";
constexpr int kVersionLength = 6;

enum class FetchResult {
  kFetched,
  kSkipped,  // output level 0 or below, or no file open: nothing done
  kMissing,  // no usable record: a fallback text went into the line
  kFailed,   // the file could not be read: message-file failure reported
};

bool line_usable() { return icv(ic::IFPMSG) > 0 && message_line.length > 0; }

void clear_line() {
  message_line.length = 1;
  message_line.placeholder = 1;
  message_line.severity = 1;
  message_line.continuation = false;
  message_line.lead_mark = 0;
  message_line.text[1] = '\0';
}

// Drops a started message; an unopened line (length 0) stays unopened.
void discard_line() {
  if (message_line.length > 0) clear_line();
}

// Position of the pending "&" from the placeholder on, else the end of the line.
int32_t insertion_point() {
  for (int32_t k = message_line.placeholder; k < message_line.length; ++k)
    if (message_line.text[k] == '&') return k;
  return message_line.length;
}

// Writes up to width characters at position b, cut at the end of the line;
// returns the position after the last character written.
int32_t write_into_line(int32_t b, const char* chars, int32_t width) {
  int32_t room = kMessageLineMax + 1 - b;
  int32_t count = width < room ? width : room;
  if (count < 0) count = 0;
  if (count > 0) std::memcpy(&message_line.text[b], chars, static_cast<std::size_t>(count));
  const int32_t end = b + count;
  if (end > message_line.length) {
    message_line.length = end;
    message_line.text[end] = '\0';
  }
  return end;
}

// Room of the placeholder at b: the "&" and the blanks behind it, less one
// blank kept between the insert and a word that follows (a template that
// wrote a blank there meant them apart). Unlimited at the end of the line.
int32_t placeholder_room(int32_t b) {
  if (b >= message_line.length) return kMessageLineMax + 1;
  int32_t end = b + 1;
  while (end < message_line.length && message_line.text[end] == ' ') ++end;
  int32_t room = end - b;
  if (room > 1 && end < message_line.length && std::isalnum(static_cast<unsigned char>(message_line.text[end])))
    --room;
  return room;
}

// An insert wider than its placeholder pushes the text behind the field to
// the right, so that a long number or name never overwrites the words after
// it; what passes position 255 is cut.
void make_room_for_insert(int32_t b, int32_t width) {
  const int32_t room = placeholder_room(b);
  if (width <= room) return;
  const int32_t from = b + room;
  const int32_t to = std::min(b + width, kMessageLineMax + 1);
  const int32_t moved = std::min(message_line.length - from, kMessageLineMax + 1 - to);
  if (moved > 0) std::memmove(&message_line.text[to], &message_line.text[from], static_cast<std::size_t>(moved));
  message_line.length = to + std::max(moved, 0);
  message_line.text[message_line.length] = '\0';
}

// The common step of every insert: at the pending "&" (or the end of the
// line), widened when the insert needs more room than the field left.
int32_t insert_at_placeholder(const char* chars, int32_t width) {
  const int32_t b = insertion_point();
  make_room_for_insert(b, width);
  return write_into_line(b, chars, width);
}

void place_insert(const char* chars, int32_t width) {
  if (icv(ic::IFPMSG) <= 0 || message_line.length <= 0 || width <= 0) return;
  message_line.placeholder = insert_at_placeholder(chars, width);
}

void report_message_file_failure() {
  clear_line();
  write_to_sink(library_identification(), static_cast<int32_t>(std::strlen(library_identification())),
                SINK_BUILTIN_FAILURE);
  write_to_sink(kUnreadableText, static_cast<int32_t>(std::strlen(kUnreadableText)), SINK_BUILTIN_FAILURE);
  message_line.fault_count = kUnreadableFaults;
  status_code = STATUS_FATAL;
  error_number = MSG_MESSAGE_FILE_UNUSABLE;
  // The page buffer may hold a partial read.
  message_file.page_number = 0;
}

// Makes the page held the decoded page number page. False on a seek or read
// failure, or for a page past the end of the file.
bool hold_page(int32_t page) {
  if (page == message_file.page_number) return true;
  if (message_file.unit < 0 || page < 1 || page > message_file.page_count) return false;
  int32_t error = 0;
  seek_unit_record(message_file.unit, page, error);
  if (error == 0) read_unit_record(message_file.unit, message_file.page, error);
  if (error != 0) {
    message_file.page_number = 0;
    return false;
  }
  code_message_page(message_file.page);
  message_file.page_number = page;
  return true;
}

// Walks the bytes of a record, page after page.
class RecordReader {
 public:
  explicit RecordReader(uint32_t position)
      : page_(static_cast<int32_t>((position - 1) / kPageBytes) + 1),
        offset_(static_cast<int32_t>((position - 1) % kPageBytes)) {}
  bool next(unsigned char& byte) {
    if (offset_ == kPageBytes) {
      ++page_;
      offset_ = 0;
    }
    if (!hold_page(page_)) return false;
    byte = message_file.page[offset_++];
    return true;
  }

 private:
  int32_t page_;
  int32_t offset_;
};

// The byte position of message n, or 0 when the index gives no record that
// could lie in the file (the record's number and severity must fit).
uint32_t record_position(int32_t n) {
  if (n < 1 || n > kMessageIndexEntries) return 0;
  const uint32_t position = message_file.index[n];
  const uint32_t file_bytes = static_cast<uint32_t>(message_file.page_count) * kMessagePageBytes;
  if (position <= kMessagePageBytes || position + 2 > file_bytes) return 0;
  return position;
}

// A message whose text cannot be found still shows which one was meant, and
// its inserts follow; the outcome of the call is not touched.
void put_missing_text(int32_t n, int32_t b) {
  char text[48];
  const int written = std::snprintf(text, sizeof text, "?%d message text missing: ", static_cast<int>(n));
  write_into_line(b, text, written);
}

FetchResult fetch_text(int32_t n) {
  if (!line_usable()) return FetchResult::kSkipped;
  const int32_t b = insertion_point();
  const uint32_t position = record_position(n);
  if (position == 0) {
    put_missing_text(n, b);
    return FetchResult::kMissing;
  }
  RecordReader reader(position);
  unsigned char low = 0, high = 0, severity = 0;
  if (!reader.next(low) || !reader.next(high) || !reader.next(severity)) {
    report_message_file_failure();
    return FetchResult::kFailed;
  }
  if ((low | (high << 8)) != n) {
    put_missing_text(n, b);
    return FetchResult::kMissing;
  }
  if (b == 1) message_line.severity = severity;
  if ((message_line.severity == 3 && status_code == STATUS_OK) || message_line.severity > 3) error_number = n;

  int32_t k = b;
  for (;;) {
    unsigned char c = 0;
    if (!reader.next(c)) {
      report_message_file_failure();
      return FetchResult::kFailed;
    }
    if (c == '\n') break;
    if (k > kMessageLineMax) {
      // A full line goes out and the text carries on in a fresh one, so no
      // character is lost; the continuation is plain text (severity 1).
      message_line.length = kMessageLineMax + 1;
      message_line.text[kMessageLineMax + 1] = '\0';
      emit_message();
      message_line.continuation = true;
      k = 1;
    }
    if (k == 1 && !message_line.continuation && (c == '~' || c == '.')) message_line.lead_mark = static_cast<char>(c);
    message_line.text[k++] = static_cast<char>(c);
  }
  if (k > message_line.length) {
    message_line.length = k;
    message_line.text[k] = '\0';
  }
  return FetchResult::kFetched;
}

// Step (1) of begin_message: end a silenced run of repeats.
void close_repeat_run() {
  if (message_line.repeat_count < kRepeatLimit) return;
  icv(ic::IFPMSG) = message_line.kept_level;
  const int32_t silenced = message_line.repeat_count - kRepeatLimit;
  message_line.repeat_count = 0;
  if (silenced > 0) {
    fetch_text(MSG_REPEATS_SUPPRESSED);
    insert_message_int(silenced);
    emit_message();
  }
}

FetchResult start_message(int32_t n) {
  close_repeat_run();
  message_line.last_number = n;
  message_line.repeat_count = 0;
  return fetch_text(n);
}

// Sends one piece of the line to the sink and to the output text file.
void send_piece(const char* piece, bool tilde) {
  if (message_line.echo) {
    if (tilde)
      write_message_line_tilde(message_line.severity, piece);
    else
      write_message_line(message_line.severity, piece);
  }
  if (message_line.copy && message_line.fault_count == 0) {
    int32_t fault = 0;
    copy_line_to_output_file(piece, static_cast<int32_t>(std::strlen(piece)), fault);
  }
}

void send_line() {
  const bool lead = !message_line.continuation;
  if (lead && message_line.lead_mark == '.') {
    if (pager_prompt() == 1) ++message_line.fault_count;
    return;
  }
  // The line is terminated at its length, and every NUL inside it ends a
  // piece, so each piece can be sent in place.
  int32_t k = 1;
  bool tilde = lead && message_line.lead_mark == '~';
  if (tilde) k = 2;
  for (;;) {
    const char* piece = &message_line.text[k];
    send_piece(piece, tilde);
    tilde = false;
    k += static_cast<int32_t>(std::strlen(piece)) + 1;
    if (k >= message_line.length + 1) break;
  }
}

void copy_name(int32_t j, std::string& name) {
  name.clear();
  const int32_t words = name_words;
  const char* table = name_array(ARR_NAME_TABLE);
  if (table == nullptr || words <= 0 || j < 1) return;
  const std::size_t width = static_cast<std::size_t>(words) * 8;
  name.assign(table + static_cast<std::size_t>(j - 1) * width, width);
}

}  // namespace

void begin_message(int32_t n) { start_message(n); }

void begin_message_limited(int32_t n) {
  if (n == message_line.last_number) {
    ++message_line.repeat_count;
    if (message_line.repeat_count == kRepeatLimit) {
      message_line.kept_level = icv(ic::IFPMSG);
      icv(ic::IFPMSG) = -1;
    }
    if (message_line.repeat_count >= kRepeatLimit) return;
  } else {
    close_repeat_run();
    message_line.last_number = n;
    message_line.repeat_count = 0;
  }
  fetch_text(n);
}

void fetch_message_text(int32_t n) { fetch_text(n); }

void insert_message_int(int32_t k) {
  char field[12] = {};
  const int32_t width = format_int_field6(k, field);
  place_insert(field, width);
}

void insert_message_value12(int32_t k) {
  char field[12] = {};
  format_int_field(k, field);
  place_insert(field, 12);
}

void insert_message_value_suffix(int32_t k) {
  char field[12] = {};
  format_int_field(k, field);
  place_insert(field + 3, 9);
}

void insert_message_int2(int32_t k) {
  char field[2] = {};
  format_int_2_digits(k, field);
  place_insert(field, 2);
}

void insert_message_real(double x) {
  if (icv(ic::IFPMSG) <= 0) return;
  char field[12] = {};
  if (std::fabs(x) <= static_cast<double>(message_line.zero_tolerance)) x = 0.0;
  format_double_field(x, field);
  place_insert(field, 12);
}

void insert_message_real4(float x) {
  if (icv(ic::IFPMSG) <= 0) return;
  char field[12] = {};
  if (std::fabs(x) <= message_line.zero_tolerance) x = 0.0f;
  format_float_field(x, field);
  place_insert(field, 12);
}

void insert_message_chars(const char* s, int32_t n) {
  if (s == nullptr) return;
  place_insert(s, n);
}

void insert_message_name8(const char* word) {
  if (word == nullptr) return;
  place_insert(word, 8);
}

void insert_message_code2(uint16_t code) {
  const char chars[2] = {static_cast<char>(code & 0xFF), static_cast<char>(code >> 8)};
  place_insert(chars, 2);
}

void insert_message_string(const char* s) {
  if (s == nullptr || icv(ic::IFPMSG) <= 0 || message_line.length <= 0) return;
  const std::size_t n = std::strlen(s);
  const int32_t width = n > static_cast<std::size_t>(kMessageLineMax) ? kMessageLineMax : static_cast<int32_t>(n);
  if (width <= 0) return;
  const int32_t end = insert_at_placeholder(s, width);
  if (end > kMessageLineMax) message_line.placeholder = kMessageLineMax + 1;
}

void insert_message_vector_name(int32_t j) {
  std::string name;
  copy_name(j, name);
  place_insert(name.data(), static_cast<int32_t>(name.size()));
}

void insert_message_name_pair(int32_t i, int32_t j) {
  std::string first, second;
  copy_name(i, first);
  copy_name(j, second);
  const std::size_t last = first.find_last_not_of(' ');
  first.erase(last == std::string::npos ? 0 : last + 1);
  const std::string pair = first + " and " + second;
  place_insert(pair.data(), static_cast<int32_t>(pair.size()));
}

void emit_message() {
  if (message_line.length <= 0) return;
  if (icv(ic::IFPMSG) > 0) send_line();
  clear_line();
}

void set_message_mode(int32_t m) {
  message_line.echo = m != 6;
  message_line.copy = m == 1 || m == 6;
}

void suspend_messages() {
  icv(ic::IFPMSG) -= 1;
  message_line.kept_status = status_code;
  message_line.kept_error = error_number;
}

void resume_messages() {
  if (icv(ic::IFPMSG) == 0) {
    status_code = message_line.kept_status;
    error_number = message_line.kept_error;
  }
  icv(ic::IFPMSG) += 1;
}

void set_message_zero_tolerance(double x) { message_line.zero_tolerance = static_cast<float>(x); }

namespace {

bool try_open(const std::string& path) {
  int32_t unit = -1;
  int32_t error = 0;
  open_unit_read(path.c_str(), unit, kPageBytes, error);
  if (error != 0 || unit < 0) return false;
  message_file.unit = unit;
  return true;
}

bool read_index_page(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
  if (ec || bytes < kMessagePageBytes) return false;
  message_file.page_count = static_cast<int32_t>((bytes + kMessagePageBytes - 1) / kMessagePageBytes);
  if (!hold_page(1)) return false;
  for (int n = 1; n <= kMessageIndexEntries; ++n)
    message_file.index[n] = static_cast<uint16_t>(message_file.page[2 * (n - 1)] |
                                                  (message_file.page[2 * (n - 1) + 1] << 8));
  return true;
}

}  // namespace

int32_t open_message_file(const char* name, std::string& path) {
  close_message_file();
  clear_line();
  suspend_messages();
  const std::string file_name = name != nullptr ? name : "";
  path = make_path(file_name, library_directory.first);
  bool opened = try_open(path);
  if (!opened) {
    path = make_path(file_name, library_directory.second);
    opened = try_open(path);
  }
  const bool ready = opened && read_index_page(path);
  resume_messages();
  if (ready) return 0;
  close_message_file();
  write_to_sink(kFileNotFoundText, static_cast<int32_t>(std::strlen(kFileNotFoundText)), SINK_BUILTIN_FAILURE);
  write_to_sink(kCheckEnvironmentText, static_cast<int32_t>(std::strlen(kCheckEnvironmentText)),
                SINK_BUILTIN_FAILURE);
  return 2;
}

void close_message_file() {
  if (message_file.unit >= 0) {
    int32_t error = 0;
    close_unit(message_file.unit, error);
  }
  message_file.unit = -1;
  message_file.page_number = 0;
  message_file.page_count = 0;
  std::memset(message_file.index, 0, sizeof message_file.index);
  // Without a file nothing can be fetched: the line goes back to its
  // unopened state so later messages are dropped rather than failing.
  message_line.length = 0;
  message_line.placeholder = 1;
  message_line.continuation = false;
}

void print_startup_banner() {
  const FetchResult fetched = start_message(1);
  if (fetched == FetchResult::kFailed) return;
  if (fetched == FetchResult::kMissing) {
    report_message_file_failure();
    return;
  }
  const int32_t length = message_line.length > 0 ? message_line.length - 1 : 0;
  const int32_t compared = length < kVersionLength ? length : kVersionLength;
  const bool equal = std::memcmp(&message_line.text[1], kVersionText, static_cast<std::size_t>(compared)) == 0;
  const char first = compared > 0 ? message_line.text[1] : ' ';
  discard_line();
  if (equal) {
    insert_message_string(library_identification());
    emit_message();
    start_message(MSG_BANNER);
    emit_message();
    return;
  }
  if (first != ' ' && (first < '0' || first > '9')) {
    report_message_file_failure();
    return;
  }
  write_to_sink(kWrongVersionText, static_cast<int32_t>(std::strlen(kWrongVersionText)), SINK_BUILTIN_FAILURE);
  message_line.fault_count += kWrongVersionFaults;
  status_code = STATUS_FATAL;
  error_number = MSG_MESSAGE_FILE_UNUSABLE;
}

void help_command() {
  const FetchResult head = start_message(MSG_HELP_HEAD);
  if (head == FetchResult::kMissing) emit_message();
  if (head != FetchResult::kFetched) {
    discard_line();
    return;
  }
  fetch_text(1);
  emit_message();
  for (int32_t k = MSG_HELP_HEAD + 1; k <= kMessageIndexEntries; ++k) {
    // A missing page ends the help like its closing empty text would.
    if (start_message(k) != FetchResult::kFetched || message_line.length <= 1) {
      discard_line();
      return;
    }
    emit_message();
    if (message_line.fault_count != 0) return;
  }
}

void discard_message_line() { discard_line(); }

void reset_message_state() {
  message_line = MessageLine{};
  // The unit table is reset beside this at start-up; a unit number kept
  // from before would name someone else's file.
  message_file = MessageFile{};
}

const char* library_identification() { return "klsol32 optimiser library, version 12.35"; }

}  // namespace kl
