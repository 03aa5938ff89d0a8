// The ALTER command and the body of KLALTER.
#ifndef KLSOL_CONSOLE_ALTER_COMMAND_H
#define KLSOL_CONSOLE_ALTER_COMMAND_H

namespace kl {

// Applies the changes of NAME.alt (NAME from the command line; an extension
// given there is dropped with message 3, and the bare stem is tried when
// NAME.alt will not open) or, without an argument, of the console
// triplets. A problem presolved for an LP optimisation is postsolved first
// (message 263); one presolved for the global search is left alone (268,
// status 0). Without a problem, or when neither file opens: 91, status 32.
// The problem name is the same afterwards.
void alter_command();

}  // namespace kl

#endif
