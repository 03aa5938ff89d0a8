// Control words: a command line whose first word names no command shows a
// control (NAME) or sets it (NAME=value).
#ifndef KLSOL_CONSOLE_CONTROL_WORDS_H
#define KLSOL_CONSOLE_CONTROL_WORDS_H

#include <cstdint>
#include <string>

namespace kl {

// Reads the control word at the position of command_line (the name lists
// are searched in the order character, double, integer; the first match
// decides). NAME alone prints the value on a line of its own; NAME=value
// sets it and counts the setting in the control's set-flag. A control that
// may not be set answers message 180; a value that does not read whole as
// the control's type (message 314, 701), does not fit its field (702) or
// lies outside the control's range (974) leaves the control unchanged.
// Those refusals leave the status word at 0.
// unknown := 1 when the word names no control or the name is followed by
// anything but "=" (the caller reports it), else 0. Afterwards the message
// zero tolerance is ZTOLPZ.
void set_or_show_control(int32_t& unknown);

// x := the value of an optional sign and decimal digits (empty reads as 0).
// False, x unchanged, for any other character or a value outside int32.
bool parse_integer_text(const std::string& value, int32_t& x);

}  // namespace kl

#endif
