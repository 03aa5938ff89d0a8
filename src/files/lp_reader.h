// The LP-format reader: an objective introduced by a sense keyword, rows and
// special ordered sets after a constraints keyword, then sections of bounds,
// general integers, binaries, partial integers and semi-continuous columns
// in any order, until "end" or the end of the file. Line ends are blanks, a
// backslash starts a comment, keywords match in any case, names are
// case-sensitive. The sense keyword only introduces the objective; the
// optimising call chooses the direction.
//
// What this reader makes of the text where a literal reading would load a
// wrong model:
// - A constant on the left of a constraint moves to the right-hand side
//   (x + 2 <= 5 is x <= 3); constants in the objective are its constant.
// - A constraint whose terms are all zero or cancel is an empty row, not
//   dropped: 0 x >= 5 keeps the problem infeasible.
// - The objective may be empty: a constraints or section keyword that
//   begins its line ends the objective ("max" then "subject to").
// - A general integer without bounds of its own is a binary (a bound
//   statement such as x >= 0 or x <= inf keeps it general); the rule is
//   applied once every section has been read, so the order of the bounds
//   and generals sections does not matter.
// - Every non-fatal error counts against IGNORE (a malformed number weighs
//   10000); past IGNORE nothing is loaded.
#ifndef KLSOL_FILES_LP_READER_H
#define KLSOL_FILES_LP_READER_H

#include <cstdint>
#include <string>

#include "files/lp_lexer.h"

namespace kl {

// Reads the current input text file. Returns 0 when the problem was
// loaded, 1 when the read failed before the problem store was touched (the
// previous problem is still loaded), or the status word of the store when
// it refused the problem. The caller has set IFDBG to 1.
int32_t read_lp_file();

// The grammar's pieces, for the tests.
int32_t lp_read_row_terms();
void lp_read_quadratic(double factor);
int32_t lp_read_bounds();
int32_t lp_read_integer_section(char letter);
void lp_read_limited_section(char letter);
void lp_default_objective();
void lp_store_row(const std::string& name, int32_t term_count, int32_t kind, double rhs);
void lp_store_set(const std::string& name, int32_t term_count, int32_t kind);
void lp_add_term(const lp_name_entry* column, double coefficient, int32_t& term_count);
void lp_add_quadratic_term(const lp_name_entry* first, const lp_name_entry* second, double value);

// Keyword lists (null-terminated), in the order they are matched.
extern const char* const kLpSenseKeywords[];
extern const char* const kLpConstraintKeywords[];
extern const char* const kLpSectionKeywords[];
extern const char* const kLpInfinityKeywords[];

}  // namespace kl

#endif
