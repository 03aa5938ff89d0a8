// Bodies of the commands the command loop runs that no other subsystem
// owns: the two ends of a session (QUIT, STOP), the crash switch (?RASH),
// the refactorisation (INVERT) and the commands that do nothing.
#ifndef KLSOL_CONSOLE_COMMAND_HANDLERS_H
#define KLSOL_CONSOLE_COMMAND_HANDLERS_H

#include <cstdint>

namespace kl {

// Exit codes of STOP: they tell the outcome of the last optimisation.
enum StopExitCode : int32_t {
  STOP_LP_UNFINISHED = 63,      // status letter Z
  STOP_LP_OPTIMAL = 64,         // O
  STOP_LP_INFEASIBLE = 65,      // N
  STOP_LP_UNBOUNDED = 66,       // U
  STOP_SEARCH_FINISHED = 67,    // global_status 6
  STOP_SEARCH_STATUS_4 = 68,    // global_status 4
  STOP_SEARCH_OTHER = 69,       // global_status 3, or above 6
  STOP_SEARCH_STATUS_5 = 70,    // global_status 5
  STOP_LP_OTHER = 99,           // any other letter (none yet, a cut-off, ...)
};

// The STOP exit code for a global_status and an LP status letter.
int32_t stop_exit_code(int32_t search_status, char letter);

// ?RASH: the next optimisation builds its own starting basis (IFNBAS := 0,
// message 57). Message 91 without a problem.
void crash_command();

// STOP: removes the global search's work files unless they are kept, and
// returns the exit code of the last outcome (stop_exit_code).
int32_t stop_command();

// QUIT: removes the global search's work files unless they are kept. The
// message file stays open: the library runs on until KLFREEXO.
void quit_command();

// ?OUT, USER, OBJECTIVE, SIZE: accepted, and do nothing.
void out_command();
void user_command();
void objective_command();
void size_command();

// OUTPUT: writes the problem as an MPS or LP-format file (files/mps_writer.h)
// with the command's option letters, after freeing the factorisation arrays
// (a presolved problem keeps its factor, which postsolve reads).
void output_command();

// INVERT: refactorises the current basis and recomputes the duals, the
// values and the objective as the end of an optimisation would, then
// rewrites the solution file (unless a global search is under way). Stops
// at the first step that sets the status word; the user's IQUIET, the
// forced-algorithm choice and the problem's presolve and search flags are
// put back on every way out. Message 91 without a
// problem; message 268 for a presolved problem.
void invert_command();

}  // namespace kl

#endif
