// The MPS writer: the body of KLOUTPUT and of the OUTPUT command. It writes
// the current problem as a fixed-field MPS file named after the problem with
// the extension "mat", or, with option letter l, as an LP-format file
// (files/lp_writer.h).
//
// Numbers go into the 12-character fields with as many digits as fit: the
// shortest text that reads back exactly when it fits, else the longest
// rounding that does (10 or 11 significant digits).
//
// Option letters: o one (row, value) pair per line; p numbers that read
// back exactly (the shortest text that does), one pair per line, in free
// fields (one blank apart), as the numbers do not fit the fixed ones; c leave
// out fixed columns and free rows, their share moved into the right-hand
// sides and the objective constant; n the stored (scaled) values; s
// generated names "VVVVVVVV" with the position number; b the bounds of the
// global search while one runs.
//
// Names the file could not carry back are written in another form (message
// 1010): an empty name becomes "_"; when the file reads with free fields
// (option p, or names longer than 8 characters) every blank of a name
// becomes "_"; a name that is then taken, or that a row or column already
// bears, gets "~" and a number. The objective written as "__OBJ___" when it
// is not a stored row counts among the row names.
#ifndef KLSOL_FILES_MPS_WRITER_H
#define KLSOL_FILES_MPS_WRITER_H

#include <cstdint>
#include <string>

namespace kl {

// The body. Status 32 with message 91 without a problem; the text layer's
// messages and status 2 when the file cannot be opened or written.
void write_mps_file();

// "VVVVVVVV" with the position number in its last characters.
std::string make_generated_name(int32_t position);

}  // namespace kl

#endif
