// The console front end: command lines read from the command file
// kl-run.ini and then from the console, reduced, matched against the table
// of 44 command names and run; a word that names no command is a control
// word (console/control_words.h).
//
// The loop never ends the process: it returns the exit code for the caller
// (KLCONTROL hands it back, the console program exits with it).
#ifndef KLSOL_CONSOLE_COMMAND_LOOP_H
#define KLSOL_CONSOLE_COMMAND_LOOP_H

#include <cstdint>
#include <string>

namespace kl {

inline constexpr int32_t kCommandCount = 44;
// A reduced command is blank-filled up to this many characters, so that
// fixed-width fields read after it find blanks rather than stale text.
inline constexpr int32_t kCommandFillWidth = 80;

// Exit codes the loop returns besides the status word.
inline constexpr int32_t kExitQuit = 0;
inline constexpr int32_t kExitEndOfInput = 16;
// Added to the exit code when an ASSERT of the session failed: 100 after
// QUIT, 164 after STOP on an optimal LP, 116 at the end of input, and so on.
// Every other exit code is below 100.
inline constexpr int32_t kExitAssertionFailed = 100;

// Bits of the status word that end the loop; 32 alone (an error already
// reported by a message) does not.
inline constexpr int32_t kStatusEndsLoop = 0x1f;

// The command names in table order, each ended by NUL, the list ended by an
// empty name. A command's index is its place in the list, from 1.
extern const char command_names[];

// Runs the loop: kl-run.ini (current directory, else the first library
// directory; silent when missing), then the console. Returns the exit code:
// 0 after QUIT, the STOP code after STOP, 16 at the end of console input,
// else the status word that ended the loop; plus kExitAssertionFailed when
// an ASSERT failed during the loop.
int32_t run_command_loop();

// Leaves the next command in command_line (position 1, reduced, blank-
// filled) and its option letters in option_flags. Returns false at the end
// of console input.
bool read_command_line();

// Reduces one raw line into command_line and option_flags: blanks outside
// quotes are dropped, "-letters" after a blank set option flags. Returns the
// reduced length (0: nothing to run). Option flags are not cleared first.
int32_t reduce_command_line(const char* raw, int32_t n);

// Matches the text of command_line from its position against a name list
// in the form of command_names. An upper-case letter of a name matches
// either case in the text; every other character must be equal, and the
// whole name must lie within the meaningful text. The first name that
// matches wins (so it is a prefix of the word typed): the position moves
// after it and index := its number. No match: index := 0, position kept.
// Returns index.
int32_t match_name(const char* names, int32_t& index);

// The name of command k (1..kCommandCount), "" outside.
std::string command_name(int32_t k);

}  // namespace kl

#endif
