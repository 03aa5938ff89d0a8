// ?PSXSOL and ?PSXRNG: the problem's binary solution file (NAME.sol) or range
// file (NAME.rng) turned into the sectioned export NAME.sfs or NAME.sfr
// (files/solution_export.h).
#ifndef KLSOL_CONSOLE_PSX_COMMAND_H
#define KLSOL_CONSOLE_PSX_COMMAND_H

#include <cstdint>

namespace kl {

enum PsxKind : int32_t {
  PSX_SOLUTION = 0,
  PSX_RANGING = 1,
};

// A binary file that does not open ends the command after the work-file
// layer's message, with nothing created; an export file that cannot be
// created gives message 66 and status 32. The export file is closed in every
// case.
void psx_command(int32_t kind);

}  // namespace kl

#endif
