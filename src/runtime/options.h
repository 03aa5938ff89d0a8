// The records through which exports and commands hand parameters to the
// shared bodies: the 26 option flags and the command line.
#ifndef KLSOL_RUNTIME_OPTIONS_H
#define KLSOL_RUNTIME_OPTIONS_H

#include <cstdint>
#include <string>

namespace kl {

// One flag per lower-case letter a..z (1 set, 0 not).
extern uint8_t option_flags[26];

inline bool option_set(char letter) { return option_flags[letter - 'a'] != 0; }

// The current command line or pending file-name argument. The argument is
// text[position-1 .. length-1] (position from 1).
struct CommandLine {
  int32_t position = 1;
  int32_t length = 0;
  std::string text;
};
extern CommandLine command_line;

// Sets the flag of every letter a..z in text; other characters are ignored.
void set_option_letters(const char* text);
void clear_option_letters();
// command_line := text, its length, position 1.
void set_command_argument(const char* text);
// The pending argument (empty when none is stored).
std::string command_argument();

}  // namespace kl

#endif
