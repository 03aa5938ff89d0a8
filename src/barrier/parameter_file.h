// The barrier's parameter file: a plain text file of "KEY value" lines that
// changes the tunables of `barrier_params` without touching the library's
// controls. The driver reads it after the defaults and the control
// overrides, so every key found in it wins over both.
//
// Syntax, line by line (a line ends at a line feed or at the end of the
// file; a carriage return is ordinary white space):
// - "!" starts a comment that runs to the end of the line;
// - "=" counts as a blank;
// - only the first 80 characters before any comment are kept;
// - the first word is the key, the second the value, further words are
//   ignored;
// - nothing is applied before a line whose key is "BEGIN_OPT"; a line whose
//   key is "END_OPT" ends the reading;
// - keys are the capitalised fields of `barrier_params`, the packed keys
//   SMETHOD1, SMETHOD2, SPASSES1, SPASSES2, and ITERLOG (which writes
//   `print_word`), matched case-sensitively; a key given twice keeps its
//   last value;
// - the value "YES" is 1 and "NO" is 0; any other value is read as a number
//   after every d or D in it has become e (1d-8 reads as 1e-8); an int key
//   takes the number truncated toward zero.
//
// Lines that cannot be applied as written are reported, one warning each,
// and ignored: an unknown key, a key without a value, a value that is not a
// number (or not finite for an int key, or beyond the range of an int). A
// value outside its key's range (see `barrier_parameter_range`) is limited
// to the range and reported. A missing file changes nothing and says nothing.
#ifndef KLSOL_BARRIER_PARAMETER_FILE_H
#define KLSOL_BARRIER_PARAMETER_FILE_H

#include <cstdint>

#include "barrier/barrier_params.h"

namespace kl {

// The name the driver opens, in the process's current directory.
inline constexpr const char* kBarrierParameterFileName = "kalmir.par";

// Characters of a line kept before the rest is dropped.
inline constexpr int32_t kBarrierParameterLineLimit = 80;

// Applies the file `file_name` to `params`. No result: an unreadable file
// leaves the record as it was.
void read_barrier_parameter_file(barrier_params& params, const char* file_name);

// The range a key's value is limited to. Returns false for a name that is
// not a key.
bool barrier_parameter_range(const char* key, double& low, double& high);

}  // namespace kl

#endif
