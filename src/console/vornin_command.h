// The VORNIN command and the body of KLVORNIN.
#ifndef KLSOL_CONSOLE_VORNIN_COMMAND_H
#define KLSOL_CONSOLE_VORNIN_COMMAND_H

namespace kl {

// Loads the problem the modeller wrote as NAME.sol and NAME.bif; an
// argument on the command line becomes the problem name for good. The
// files are checked whole before the current problem is replaced, so a
// load that fails on them leaves it as it was.
void vornin_command();

}  // namespace kl

#endif
