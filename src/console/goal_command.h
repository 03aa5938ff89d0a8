// Goal programming: optimising the current problem against several goals,
// each a constraint row to satisfy as well as possible or an objective (N)
// row to maximise or minimise, either pre-emptively (one goal after the
// other, each goal met kept while the next is pursued) or weighted (one LP
// over the weighted sum). The body of the GOAL command and of KLGOAL.
//
// The answers come from the goal file NAME.gol (one answer a line, no
// prompt written) or from the console (a prompt, then a console line):
//   1. "Archimedian[A]/Pre-emptive[P]?"  A weighted, P pre-emptive;
//   2. "Constraints[C]/Objectives[O]?"   the kind of goal rows;
//   3. per goal "Row?" and, by mode, "Weight?", "Max/Min?",
//      "Percentage[P]/Deviation[D]?", "Value?"; an empty answer or the end
//      of the goal file ends the list of goals.
// Single-word answers are whole blank-padded 8-character words in either
// case ("a", "P"; not "Pre-emptive"), "max"/"MAX" and "min"/"MIN" as typed.
// A wrong answer gets its message; the console asks again, the goal file
// ends the run with status 32.
//
// The run changes the current problem and leaves it changed: the objective
// is replaced, deviation columns are added for constraint goals, and a
// pre-emptive objective goal becomes a G or L row that keeps it near its
// optimum. Presolve is off for the run's LPs and IFPRES is put back.
//
// Options (option_flags, cleared at the start): f copies every message of
// the run to NAME.grp; o shows the optimiser's output (otherwise IQUIET is 1
// for the run); l solves LP relaxations only (otherwise a problem with
// global entities gets a global search after each LP).
#ifndef KLSOL_CONSOLE_GOAL_COMMAND_H
#define KLSOL_CONSOLE_GOAL_COMMAND_H

#include <cstdint>
#include <string>

namespace kl {

// Argument of goal_command.
enum GoalCallMode : int32_t {
  GOAL_FROM_COMMAND = 0,  // the GOAL command: the goal file named after it, else the console
  GOAL_FROM_EXPORT = 1,   // KLGOAL: always the goal file of the problem name
};

// Most goals in one run.
inline constexpr int32_t kGoalLimit = 100;

// Runs one goal-programming mode as chosen by the answers. Refuses without
// a problem (message 91) and while the problem is presolved, which is only
// left so by an optimisation that has not finished (message 268); both with
// status 32 and nothing changed.
void goal_command(int32_t mode);

// The first row whose whole name field equals answer (blank padded to the
// name length, case kept); -1 when none does.
int32_t find_row_by_name(const std::string& answer);

// True when a pre-emptive constraint goal counts as met: the sum of its
// deviations, objective of the LP that minimised them, is zero within the
// primal feasibility tolerance ZTOLZE, relative to the goal row's
// right-hand side b (the deviations measure the row's violation, whose
// rounding error grows with the size of its terms).
bool constraint_goal_met(double deviation_sum, double rhs);

}  // namespace kl

#endif
