// The problem name: the stem of every file the library names for the
// current problem. The stored text ends in "." and the length counts it.
#ifndef KLSOL_RUNTIME_PROBLEM_NAME_H
#define KLSOL_RUNTIME_PROBLEM_NAME_H

#include <cstdint>
#include <string>

namespace kl {

// Longest stem accepted: callers read the name back into 512-character
// buffers, so a longer one is refused.
inline constexpr int kProblemNameMax = 511;

struct ProblemName {
  // The stem, ".", then whatever a later step put after it (an extension).
  std::string text;
  int32_t length = 0;  // stem + 1
  std::string kept_text;
  int32_t kept_length = 0;
};
extern ProblemName problem_name;

// text := name + "."; the command-line argument is emptied. Returns false
// (nothing changed) when the name is longer than kProblemNameMax.
bool set_problem_name(const char* name);
// The stem without its ".".
std::string get_problem_name();
void save_problem_name();
void restore_problem_name();
// Start-up value "$$$$$$$$".
void reset_problem_name();

// Takes the command-line argument (position to length) as the problem
// name. An extension after the last "." that follows the last separator
// ("/" or a backslash) stays in the text behind the stem: the length covers the
// stem and its "." and the result is that length. Without an extension "."
// is appended and the result is 0. An argument longer than kProblemNameMax
// is refused with message 600 and status 32, the name unchanged; result -1.
int32_t parse_problem_name();
// The PROBLEM command: the new name is the stem of the argument; message 3
// when an extension was left out.
void problem_command();

}  // namespace kl

#endif
