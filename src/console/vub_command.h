// The ?VUB command: variable-upper-bound cuts x_j <= u x_k that the current
// LP solution violates go into the cut pool.
#ifndef KLSOL_CONSOLE_VUB_COMMAND_H
#define KLSOL_CONSOLE_VUB_COMMAND_H

#include <cstdint>

namespace kl {

// counter := the cuts stored. The links are the variable upper bounds that
// the search's start-up found (row_classes.h); the violation is read at the
// LP solution. Message 11 when the last LP is not optimal. The scan stops
// quietly when the cuts stored so far would use up the spare rows or spare
// elements. Each cut: type 16, sense L, rhs 0, pool flags 0x300.
void vub_command(int32_t& counter);

}  // namespace kl

#endif
