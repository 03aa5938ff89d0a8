// The solution collection "SOLFILE": one binary file in the current
// directory to which every KLOMNIOUT (console OMNIOUT) appends the solution
// of the current problem, and optionally its matrix, read back from the
// problem's binary solution file (files/solution_file.h) so that it always
// matches the last solution written.
//
// The file is a sequence of fixed-size records. Each opens with a four-letter
// tag and the used length in bytes (including these 8 bytes); the bytes past
// the used length are zero. Integers are 32-bit little-endian, names blank
// padded. One call appends SHDR, SROW..., SCOL..., then with OMNIMAT bits 0-1
// MHDR, MROW..., MCOL..., and last "END ".
//
// Current layout (OMNIMAT bit 4 set): 4096-byte records, reals as doubles,
// the header marked "Vers2.00".
//   SHDR (228): 8 "Vers2.00", 16 name A, 24 blanks, 32 name A, 40 blanks,
//     48 objective row name (16), 64 RHS set name, 72 blanks, 80 zero (80),
//     160 sense word, 164 status word, 168 itcnt, 172 objective value,
//     180 rows, 184 columns, 188 zero (8), 196 range set name, 204 blanks,
//     212 bound set name, 220 blanks.
//   SROW, SCOL: up to 68 entries of 60 bytes: name (16), state code (2),
//     zero (2), activity or value, slack (rows) or cost (columns), lower,
//     upper, dual value or reduced cost. An infinite lower bound is written as
//     the marker FF x 8, an infinite upper one as FF x 7 then 7F.
//   MHDR (32): name A, blanks, rows, columns.
//   MROW: up to 204 entries of 20 bytes: name (16), row position.
//   MCOL: per column its name (16), an entry count and the entries (row
//     position, unscaled coefficient), the objective coefficient first as an
//     entry of the objective row; a column cut off at the end of a record
//     continues in the next one under its name with a new count.
// Older layout (OMNIMAT bit 4 clear): 512-byte records, reals as singles,
// 8-byte names, MROW row positions as 16-bit values. A problem whose row
// positions do not fit 16 bits is refused when the matrix is asked for, so
// that no record ever holds a truncated position.
// Name A is the character control DATNAM, else the problem name.
#ifndef KLSOL_FILES_SOLUTION_COLLECTION_H
#define KLSOL_FILES_SOLUTION_COLLECTION_H

#include <cstdint>

namespace kl {

inline constexpr const char* kSolutionCollectionName = "SOLFILE";

// Record sizes and packing limits of the two layouts.
inline constexpr int32_t kCollectionRecordBytes = 4096;
inline constexpr int32_t kOldCollectionRecordBytes = 512;
// Largest row position the older layout's 16-bit MROW field holds.
inline constexpr int32_t kOldLayoutMaxRow = 32767;

// OMNIMAT bits read by the writer.
inline constexpr int32_t kOmnimatMatrixBits = 0x3;
inline constexpr int32_t kOmnimatPackedColumns = 0x1;  // older layout: MCOL packed
inline constexpr int32_t kOmnimatCurrentLayout = 0x10;

// Appends the current problem's solution (and matrix) to SOLFILE. Status 32
// after message 91 without a problem, 122 when SOLFILE cannot be opened or
// created, 81 on a short write (the records written so far stay), 761 when
// the older layout cannot hold the problem's row positions (nothing
// written). A presolved problem is written in original terms.
void append_solfile();

}  // namespace kl

#endif
