// The basis file ("bss"): which structural columns are basic, each paired
// with a nonbasic row it replaces, and which rows and columns sit at their
// upper bounds; and the compact basis file, one status character per row
// and column.
//
// Standard records (names in the MPS name fields):
//   "NAME          " + problem name   optional header
//   " XU " column, row   the column is basic in place of the row, which is
//   " XL " column, row   nonbasic at its upper (XU) or lower (XL) bound
//   " UL " column        the column is nonbasic at its upper bound
//   "ENDATA"             optional end
// What no record names keeps the all-slack state: rows basic, structural
// columns at their lower bounds. The j-th basic column in position order is
// paired with the j-th nonbasic row in row order.
//
// Option z exchanges XU and XL for two-sided rows (both bounds finite), in
// both directions.
//
// Compact file: line 1 holds the problem name in columns 1-8, nrow in the
// field of columns 9-20 and nseq - nrow in the field of columns 22-33
// (column 21 holds the record separator); then 80 status characters a line
// for rows 1..nrow and the structural columns: "3" basic, "2" nonbasic at
// upper, anything else (written "1") nonbasic at lower.
//
// Both writers and readers work on the current problem as it stands: the
// caller makes the original problem current first when it is presolved.
#ifndef KLSOL_FILES_BASIS_FILE_H
#define KLSOL_FILES_BASIS_FILE_H

#include <cstdint>

namespace kl {

// Writes the standard basis file into the open text output. Rows and
// columns of the current problem; option z as above. When the numbers of
// nonbasic rows and basic columns differ no pair can describe the basis:
// message 50, no pairs and no "ENDATA", status 32. A write error stops the
// writing with the text layer's status.
void write_basis_file(bool exchange_two_sided);

// Reads the open text input as a standard basis file into the statuses and
// the basis header. Fixed fields unless FREFMT asks for free ones (or is -1
// with names of more than one word). Lines that name nothing known, or put
// a variable at an infinite bound, are reported and skipped. On success
// IFNBAS := 1 and the factor and solution are no longer current. A read
// error: message 9 and status 32, and the basis is as it was. command_line
// is left empty.
void read_basis_file(bool exchange_two_sided);

// Writes the compact basis file into the open text output.
void write_compact_basis();

// Reads the open text input as a compact basis file. Nothing changes until
// the whole file has been read and its counts match the problem: counts of
// another problem give message 186, a line that cannot be read (or a file
// that ends early) message 9; both leave the statuses and IFNBAS as they
// were and set status 32. On success the statuses are replaced and
// IFNBAS := 1. command_line is left empty.
void read_compact_basis();

}  // namespace kl

#endif
