// The iteration log and the common stop test of the simplex engines.
#ifndef KLSOL_SIMPLEX_ITERATION_LOG_H
#define KLSOL_SIMPLEX_ITERATION_LOG_H

#include <cstdint>

namespace kl {

// ITRLOG values that print no periodic line, only the forced ones.
inline constexpr int32_t kQuietIterationLog = 6318472;

// Lines printed since the last header; the LP driver sets it to 0 at the
// start of every call.
extern int32_t log_line_counter;

// Prints the log line of the current iteration when force is 1 or itcnt is
// a multiple of |ITRLOG| (with a header before the first line and after
// every ITRHDG lines) and hands it to the iteration-log callback. Returns
// the callback's stop request (0 none).
int32_t iteration_log(int32_t force);

// 1 when the run must stop: a pending interrupt (read and cleared), or the
// time limit MAXTIM has passed; else 0.
int32_t check_stop_request();

// Records the start of the timed period (option r of the LP driver marks
// it with problem flag 0x2000; this routine leaves the flags alone).
void start_clock();
// Whole seconds since start_clock.
int32_t elapsed_seconds();

}  // namespace kl

#endif
