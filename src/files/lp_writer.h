// The LP-format writer: the current problem as an LP-format text file named
// after the problem with the extension "lp" (option letter l of KLOUTPUT
// and OUTPUT). The objective is written under "Minimize" as it stands, the
// rows under "Subject To" (a ranged row as a second, unnamed row with ">="),
// special ordered sets as rows "= S1" or "= S2", then the bounds and the
// lists of integer, binary, partial-integer, semi-continuous and
// semi-integer columns. Free rows (type N) are not written.
//
// Numbers are the shortest text that reads back as the same double, with
// or without the precision flag. Names that an LP reader could not take
// back are written in another form (message 1010): every character outside
// letters, digits, the full stop and !"#$%&()/,;?@_`'{}|~ becomes "_"; a
// name that would begin with a digit or a full stop (a reader takes it for
// a number), or that is a keyword of the format, gets "_" in front; a name
// is cut to 56 characters; a name then taken gets "~" and a number. A
// number is always followed by a blank, so a name beginning with e or E is
// never read as its exponent.
#ifndef KLSOL_FILES_LP_WRITER_H
#define KLSOL_FILES_LP_WRITER_H

#include <cstdint>
#include <string>

namespace kl {

// stored: the stored (scaled) values; generated: names "R%d" for rows and
// "C%d" for columns (with the position number); precision: kept for the
// option letter p (numbers read back exactly either way); search_bounds:
// the bounds of the global search while one runs. The problem name may be
// taken from the command line. Failures are the text layer's (messages 66
// and 83, status 2).
void write_lp_file(int32_t stored, int32_t generated, int32_t precision, int32_t search_bounds);

// Whether an LP reader takes the name as it stands, and the form it is
// written in otherwise (before it is made distinct).
bool lp_name_acceptable(const std::string& name);
std::string lp_name_rewritten(const std::string& name);

}  // namespace kl

#endif
