// The call frame shared by every export and body: the three process-global
// outcome words, the error report, and the end-of-call step.
#ifndef KLSOL_RUNTIME_FRAME_H
#define KLSOL_RUNTIME_FRAME_H

#include <cstdint>

namespace kl {

// Values of status_code. Bodies assign one value, never a combination.
enum StatusCode : int32_t {
  STATUS_OK = 0,
  STATUS_INVALID_DATA = 1,
  STATUS_FILE_ERROR = 2,
  STATUS_NO_FACTOR_MEMORY = 4,
  STATUS_FATAL = 8,
  STATUS_HASH_FULL = 16,
  STATUS_REPORTED = 32,
};

// The value every export returns (see StatusCode).
extern int32_t status_code;
// Message number of the last error.
extern int32_t error_number;
// Offending index, count or control number of the last error report.
extern int32_t error_value;

// True between a KLINITLZ that filled the tables and the next KLFREEXO.
// Exports other than the life-cycle and define-entry ones refuse to run on
// zeroed state while it is false.
extern bool library_initialised;

// Routine names printed as the first insert of error messages: 8 characters,
// blank padded (the two longer names have their own length).
namespace routine {
inline constexpr const char* kGeticv = "geticv  ";
inline constexpr const char* kGetdcv = "getdcv  ";
inline constexpr const char* kGetccv = "getccv  ";
inline constexpr const char* kGetipv = "getipv  ";
inline constexpr const char* kGetdpv = "getdpv  ";
inline constexpr const char* kGetcpv = "getcpv  ";
inline constexpr const char* kSeticv = "seticv  ";
inline constexpr const char* kSetdcv = "setdcv  ";
inline constexpr const char* kSetccv = "setccv  ";
inline constexpr const char* kSetprob = "setprob ";
inline constexpr const char* kChgcoltype = "chgcoltype";
inline constexpr const char* kChgrowtype = "chgrowtype";
}  // namespace routine

// Body entry: status_code := 0, error_number := 0.
void begin_body();

// The error report: error_number := n, error_value := value,
// status_code := 32, then message n with the routine name and the value.
// The name is printed with its own length (8, or 10 for the long names).
void report_error(int32_t n, int32_t value, const char* routine_name);

// Message n without inserts, then status_code := 32 (for example message 91).
void report_plain_error(int32_t n);

// Bodies that need a problem: message 91 and status 32 when none is loaded.
// Returns true when a problem is loaded.
bool require_problem();

// A call that could not finish because its body threw: message n (976 for
// an allocation failure, 977 for anything else) naming the export and, for
// 977, the reason; error_number n, error_value 0, status_code 32; then the
// end-of-call step. Never throws itself.
void report_call_failure(int32_t n, const char* export_name, const char* reason) noexcept;

// Closes the option log through the end-of-call signal to the sink and
// clears the sticky floating-point exception flags.
void end_of_call();

}  // namespace kl

#endif
