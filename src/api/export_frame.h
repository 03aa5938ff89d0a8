// The frame every export runs its body in.
#ifndef KLSOL_API_EXPORT_FRAME_H
#define KLSOL_API_EXPORT_FRAME_H

#include <cstdint>
#include <exception>
#include <new>

#include "runtime/options.h"
#include "klsol/message_ids.h"
#include "runtime/frame.h"

namespace kl {

// Exports that need the library started return 8 before KLINITLZ (and after
// KLFREEXO) instead of running on zeroed state.
inline bool refused_before_start() {
  if (library_initialised) return false;
  status_code = STATUS_FATAL;
  return true;
}

// A body that threw: the report, and the option letters of the call are
// cleared as its normal end would have.
inline void abandon_call(int32_t n, const char* export_name, const char* reason) noexcept {
  report_call_failure(n, export_name, reason);
  clear_option_letters();
}

// Runs body (which returns the export's result) so that nothing it throws
// crosses the C boundary: an allocation failure is message 976, anything
// else message 977, both naming the export; the export then returns 32.
template <class Body>
int32_t guard_export(const char* export_name, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    abandon_call(MSG_CALL_NO_MEMORY, export_name, nullptr);
  } catch (const std::exception& e) {
    abandon_call(MSG_CALL_FAILED, export_name, e.what());
  } catch (...) {
    abandon_call(MSG_CALL_FAILED, export_name, "unknown exception");
  }
  return status_code;
}

// The plain export: refused before start-up, else the body (which leaves its
// outcome in status_code) under guard_export; returns status_code.
template <class Body>
int32_t run_export(const char* export_name, Body&& body) noexcept {
  if (refused_before_start()) return status_code;
  return guard_export(export_name, [&]() -> int32_t {
    body();
    return status_code;
  });
}

// The same for exports whose body returns the export's result itself.
template <class Body>
int32_t run_export_returning(const char* export_name, Body&& body) noexcept {
  if (refused_before_start()) return status_code;
  return guard_export(export_name, body);
}

}  // namespace kl

#endif
