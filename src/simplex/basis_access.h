// Setting and reading the basis: the bodies of KLLOADBASIS/KLILOADBASIS and
// KLGETBASIS/KLIGETBASIS.
//
// Status codes at the interface, one per row (its slack) and one per column:
// 0 non-basic at its lower bound, 1 basic, 2 non-basic at its upper bound
// (pos_status bits PS_BASIC and PS_AT_UPPER). A G row's slack lies in
// [-inf, 0], so a non-basic G row reads 2.
#ifndef KLSOL_SIMPLEX_BASIS_ACCESS_H
#define KLSOL_SIMPLEX_BASIS_ACCESS_H

#include <cstdint>

namespace kl {

enum BasisCode : int32_t {
  BASIS_AT_LOWER = 0,
  BASIS_BASIC = 1,
  BASIS_AT_UPPER = 2,
};

// form 0 for the plain exports, 1 for the I-forms.
enum AccessForm : int32_t {
  FORM_PLAIN = 0,
  FORM_INTERNAL = 1,
};

namespace routine {
inline constexpr const char* kLdbasis = "ldbasis ";
}  // namespace routine

// Basic variables the last ldbasis placed in the header (for the basis
// check of the next optimisation).
extern int32_t loaded_basic_count;

// Body of KLLOADBASIS / KLILOADBASIS. Every code is checked before anything
// changes: a bad row code is message 410, a bad column code 411, each with
// the caller's index and the code (error value: the index). Rows read: all,
// or all but the cut rows when IFMEM has bit 0x10 and the form is plain;
// the others are put at a finite bound and made basic while header slots are
// left. Basic columns beyond the free slots stay non-basic. The factor and
// the solution are no longer current afterwards; IFNBAS := 1 keeps the basis
// for the next optimisation. A presolved problem refuses the plain form (266).
void ldbasis(const int32_t* row_status, const int32_t* column_status, int32_t form);

// Body of KLGETBASIS / KLIGETBASIS; a null array is skipped. The plain form
// reads the solution file unless IFMEM has bit 8 (message 429 when the file
// holds no basis; 122 with status 2 when it cannot be opened or read whole).
// Otherwise the status words answer (429 after a run that left no basis).
void get_basis(int32_t* row_status, int32_t* column_status, int32_t form);

}  // namespace kl

#endif
