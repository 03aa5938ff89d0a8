// The DIRECTIVES command and the body of KLDIRECTIVES.
#ifndef KLSOL_CONSOLE_DIRECTIVES_COMMAND_H
#define KLSOL_CONSOLE_DIRECTIVES_COMMAND_H

namespace kl {

// Reads NAME.DIR (or the file named with its extension on the command line)
// into the directives of the current problem. Without a problem (91),
// without global entities (128) or while presolved (287) it reads nothing
// and leaves the status word alone; a file that will not open gives 32.
// The problem name is the same afterwards.
void directives_command();

}  // namespace kl

#endif
