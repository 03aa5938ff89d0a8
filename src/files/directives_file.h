// The directives file: branching priorities, directions and pseudo costs of
// global entities, and model-cut marks of rows, given by name.
#ifndef KLSOL_FILES_DIRECTIVES_FILE_H
#define KLSOL_FILES_DIRECTIVES_FILE_H

#include <cstdint>

namespace kl {

// Reads the open text input to its end. Every entity first gets the default
// directive (priority 500, no direction) and pseudo costs of RTOLPS x the
// objective scale, so a file replaces all earlier directives; model-cut
// marks made before stay. Lines that cannot be used are reported (142 code,
// 143 no match, 76 priority) and skipped; a bad number (314) stops the read
// with the status word the number parser left. command_line is left empty.
void read_directives();

// True when the reader would take this file in fixed fields (FREFMT and the
// names of the problem decide).
bool directives_fixed_format();

}  // namespace kl

#endif
