#include "runtime/frame.h"

#include <cstring>

#include "problem/store.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "runtime/sink.h"

namespace kl {

int32_t status_code = 0;
int32_t error_number = 0;
int32_t error_value = 0;
bool library_initialised = false;

void begin_body() {
  status_code = STATUS_OK;
  error_number = 0;
}

void report_error(int32_t n, int32_t value, const char* routine_name) {
  error_number = n;
  error_value = value;
  status_code = STATUS_REPORTED;
  begin_message(n);
  insert_message_chars(routine_name, static_cast<int32_t>(std::strlen(routine_name)));
  insert_message_int(value);
  emit_message();
}

void report_plain_error(int32_t n) {
  begin_message(n);
  emit_message();
  status_code = STATUS_REPORTED;
}

bool require_problem() {
  if (problem_state >= 1) return true;
  report_plain_error(MSG_NO_PROBLEM);
  return false;
}

void report_call_failure(int32_t n, const char* export_name, const char* reason) noexcept {
  error_number = n;
  error_value = 0;
  status_code = STATUS_REPORTED;
  try {
    // The body may have stopped in the middle of a message of its own.
    discard_message_line();
    begin_message(n);
    insert_message_string(export_name);
    if (reason != nullptr) insert_message_string(reason);
    emit_message();
    end_of_call();
  } catch (...) {
    // With no memory left even for the message, the status word still says it.
  }
  error_number = n;
  status_code = STATUS_REPORTED;
}

void end_of_call() {
  write_to_sink(nullptr, 0, SINK_END_OF_CALL);
  clear_fpu_flags();
}

}  // namespace kl
