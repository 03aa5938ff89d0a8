// The analysis commands of the console: ANALYSE (an analysis vector of one
// variable into NAME.ana), STATS (statistics of the matrix) and ASSERT (a
// problem attribute tested against a value, so that command files can check
// their results). None of them changes the problem or its solution.
#ifndef KLSOL_CONSOLE_ANALYSIS_COMMANDS_H
#define KLSOL_CONSOLE_ANALYSIS_COMMANDS_H

#include <array>
#include <cstdint>

namespace kl {

// Upper limits of the element-count classes of STATS: class i holds counts
// above the limit of class i - 1 (above -1 for class 0) up to its own; class
// kStatsClassCount - 1 holds the counts above the last limit.
inline constexpr std::array<int32_t, 10> stats_bounds = {0, 1, 2, 5, 10, 50, 100, 500, 1000, 10000};
inline constexpr int32_t kStatsClassCount = 11;

// Attribute names ASSERT matches, lower case, in attribute order from 2001
// (doubles) and from 1001 (integers), in the form match_name reads.
extern const char double_attribute_names[];
extern const char integer_attribute_names[];

// ANALYSE name [-a]: reads the variable's record from NAME.sol, factorises
// the current basis and writes one double per position 1..nseq to NAME.ana.
// Without -a (the variable must be nonbasic): the cost of every basic column
// times its entry in the variable's solved column, and minus the variable's
// own cost (0 for the rows and the other columns). With -a (the variable
// must be basic): the entry of each row in the variable's row of the inverse
// times the row's right-hand side (0 for the columns). Both vectors are in
// the terms of the problem as given, whatever its scaling. Messages 91, 268
// (a presolved problem), 127 (name not in the file), 72 (basic without -a),
// 71 (not basic with -a), 122, 66 and 64 end the command without a status;
// a failed write of NAME.ana is message 83 with status 2.
void analyse_command();

// STATS: messages 540 to 544, the largest and smallest absolute element
// value of the matrix as given and the number of rows and of columns by
// element count. Message 91 and status 32 without a problem.
void stats_command();

// ASSERT name, ASSERT name relation value: shows the attribute, or tests it
// (== within ZTOLPZ for a double attribute, exactly otherwise; >, >=, <, <=
// exactly). A failed test prints message 10 with the value and sets no
// status; it counts in failed_assertions. Unknown names and relations, and
// integer values that are not integers, are message 21; a bad real 314.
void assert_command();

// Failed ASSERT tests since the command loop started (it resets the count);
// the loop's exit code tells a script about them (console/command_loop.h).
extern int32_t failed_assertions;

}  // namespace kl

#endif
