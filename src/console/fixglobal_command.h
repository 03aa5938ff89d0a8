// FIXGLOBAL: every global entity column fixed at its value in the problem's
// solution file; the problem is continuous from then on (nglent 0).
#ifndef KLSOL_CONSOLE_FIXGLOBAL_COMMAND_H
#define KLSOL_CONSOLE_FIXGLOBAL_COMMAND_H

namespace kl {

// Message 91 without a problem, 268 for a presolved one, 122 on a read
// error of the solution file (status 32 each); an open failure reports
// through the work-file layer and sets status 32.
void fixglobal_command();

}  // namespace kl

#endif
