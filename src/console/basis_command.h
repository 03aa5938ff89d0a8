// The BASISIN and BASISOUT commands and the bodies of KLBASISIN and
// KLBASISOUT.
#ifndef KLSOL_CONSOLE_BASIS_COMMAND_H
#define KLSOL_CONSOLE_BASIS_COMMAND_H

#include <cstdint>

namespace kl {

enum BasisFileMode : int32_t {
  BASIS_FILE_READ = 1,
  BASIS_FILE_WRITE = 2,
};

// Reads (mode 1) or writes (mode 2) the basis file NAME.bss of the current
// problem, or the file named with its extension on the command line. Option
// letters: t the compact form, c alone no file at all, z the exchanged
// bounds of two-sided rows (standard form). The writer of a presolved
// problem writes the original problem's basis and leaves the presolved
// problem current as it was. Without a problem: message 91, status 32. The
// problem name is the same afterwards.
void basis_file_command(int32_t mode);

// BASISIN: refuses a presolved problem (message 266, status 0).
void basisin_command();
// BASISOUT.
void basisout_command();

}  // namespace kl

#endif
