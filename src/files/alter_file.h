// The ALTER file: a list of changes applied to the loaded problem, read from
// an MPS-like text (NAME, COLUMNS, BOUNDS, ENDATA) or as triplets (row,
// column, value) from a file or from the console with prompts.
//
// Every change goes through the change bodies of the problem store
// (problem/change_problem.h), so each drops exactly the derived data it
// makes stale: the row copy, the factor, the row lists and the current
// solution follow the change, and the next solve starts from the basis as it
// stands. A presolved problem must be postsolved before (alter_command).
#ifndef KLSOL_FILES_ALTER_FILE_H
#define KLSOL_FILES_ALTER_FILE_H

#include <cstdint>

namespace kl {

// The column-wise matrix and the row copy are both valid afterwards.
void alter_prepare();

// Applies the changes of the open text input (from_file not 0; the caller
// closes it) or of the console (from_file 0). Status 32 after a bad line
// (153), after a change the store refused, or when an element is needed and
// no spare element is left (415, which ends the run). Names not found (98
// rows, 6 columns), an unknown row type letter (171), a bound change on a
// global entity (181) and crossed bounds (18) drop their change only.
void alter(int32_t from_file);

}  // namespace kl

#endif
