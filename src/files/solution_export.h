// The sectioned export of the solution file ("sfs") and of the range file
// ("sfr"): a self-describing binary file whose sections announce their field
// names and field types before their fixed-length records.
//
// One byte stream; integers 32-bit little-endian, reals IEEE singles or
// doubles, characters blank padded:
//   title "NAME" and 12 blanks;
//   header section: card (name "SOLUTION" or "RANGE   ", 21, 0), 21 field
//     names of 8 characters, 21 descriptors (type 1 integer, 2 characters,
//     3 real; length), the 200-byte header record, and the end-of-section
//     record "$ENDSEC$" padded with blanks to 200 bytes;
//   data sections, each: card (name, n, 0), n names, n descriptors, records
//     of n 8-byte fields, end-of-section record of n x 8 bytes;
//   end record "ENDATA" and 10 blanks.
//
// Header record: DATANAME, PROBNAME, OBJ, RHS, PARAMROW, CHROW, PARAMCOL,
// CHCOL, BOUNDS, RANGES (8 characters each), FUNCTION, PARAMVAL, PERTURBN
// (singles), ITERNO, ROWS, COLUMNS (ints), METHOD, TARGET, STATUS, FLAGS (4
// characters), TITLE (80). FUNCTION is the objective value of an optimal
// solution, else the sum of infeasibilities; COLUMNS counts the structural
// columns of the file; STATUS is OPTM, NFES or NOPT for the status letters
// O, N and U, and 4 blanks for any other.
//
// Solution export: sections RSECTION (rows) and CSECTION (columns) with the
// fields chosen by option letters, in the order a ACTIVITY, c SLACK / ICOST,
// l LLIMIT, u ULIMIT, d DUALACT / RCOST, s NUMBER, b STATUS, n NAME (all
// eight when no letter is set); records whose names match the mask ASCMSK
// ("?" matches any character). Limits are clipped to -1e9 and 1e9; duals and
// reduced costs are negated for a maximisation.
//
// Ranging export: SECTION1 nonbasic rows, SECTION2 nonbasic columns,
// SECTION3 basic rows, SECTION4 basic columns (basic by the status word's
// basic bit), every record: LOACT1, UPACT2, (columns: UNCOST1, UNCOST2),
// UPCOST1, LOCOST2, LIMPROC1, LIMPROC2, AT1, AT2, NAME.
#ifndef KLSOL_FILES_SOLUTION_EXPORT_H
#define KLSOL_FILES_SOLUTION_EXPORT_H

#include <cstdint>

namespace kl {

// Write the export of the solution file (range file) open as the work file,
// header not yet read, into the word-stream unit. status is nonzero after a
// failure (message given, status_code 32): header unreadable (4), a record
// unreadable (122 for the solution file, 4 for the range file), a short write
// (83). The export then lacks its end record.
void write_psx_solution(int32_t unit, int32_t& status);
void write_psx_ranging(int32_t unit, int32_t& status);

}  // namespace kl

#endif
