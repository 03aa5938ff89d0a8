// What the four goal-programming modes share: the questions and their
// answers, the goal list, the LP runs with presolve off, the global search
// after an LP, the row and column values of the last solution, and the
// report lines. Internal to goal programming (goal_command.h is the
// interface).
#ifndef KLSOL_CONSOLE_GOAL_SESSION_H
#define KLSOL_CONSOLE_GOAL_SESSION_H

#include <cstdint>
#include <string>
#include <vector>

namespace kl {

// One goal of a run. Rows are positions (1..nrow).
struct Goal {
  int32_t row = 0;
  double weight = 1.0;        // weighted modes: the absolute value answered
  bool maximise = false;      // objective goals
  double original_rhs = 0.0;  // pre-emptive objective goals: r0, caller terms
  int32_t first_deviation = 0;  // constraint goals: position of the first deviation column
  int32_t deviation_count = 0;  // 1 or 2
  std::vector<double> deviation_signs;  // their coefficients in the goal row, +1 or -1
};

// How a question ended.
enum class Reply {
  kAnswer,  // a valid answer
  kEnd,     // an empty answer or the end of the input: the list ends
  kStop,    // a wrong answer from the goal file, or an interrupt: the mode ends
};

// Kind of goal row a mode accepts.
enum class GoalRowKind { kConstraint, kObjective };

// The questions and their answers.
class GoalDialogue {
 public:
  explicit GoalDialogue(bool from_file) : from_file_(from_file) {}

  bool from_file() const { return from_file_; }

  // The next answer: from the goal file, or after the prompt from the
  // console. False at the end of the input.
  bool ask(const char* prompt, std::string& answer);
  // A single-word question: choice receives the index in words of the
  // answer matched (each word compared as a blank-padded 8-character word).
  // Any other answer: an interrupt pending ends the mode quietly; otherwise
  // message wrong_message, then the question again (console) or the end of
  // the mode (goal file, status 32).
  Reply ask_word(const char* prompt, const std::vector<const char*>& words, int32_t wrong_message, int32_t& choice);
  // A real number; the absolute value when absolute is set. A bad number
  // gets message 314, then as ask_word.
  Reply ask_real(const char* prompt, bool absolute, double& value);
  // A wrong answer from the goal file ends the mode: status 32.
  Reply stop_on_file_error();

 protected:
  bool from_file_;
};

// One run of a mode.
class GoalSession : public GoalDialogue {
 public:
  // Keeps IFPRES and CUTOFF and switches presolve off; no row is the
  // objective row from now on.
  GoalSession(bool from_file, bool global_search);
  // Puts IFPRES back.
  ~GoalSession();
  GoalSession(const GoalSession&) = delete;
  GoalSession& operator=(const GoalSession&) = delete;

  // "Row?": a row of the kind wanted that is not yet a goal. Messages 127
  // (no such row), 301 (already a goal), 305 (an N row as constraint goal),
  // 309 (another row as objective goal).
  Reply ask_row(GoalRowKind kind, int32_t& row);
  // Adds a goal; false after message 318 when it would be the 101st.
  bool add_goal(const Goal& goal);

  // One LP (OPT_MAXIMISE or OPT_MINIMISE) with IQUIET kept around it and
  // no forced algorithm; returns lp_status.
  int32_t run_lp(int32_t optimise_mode);
  // The global search after an optimal LP when the run asks for it and the
  // problem has global entities; with take_best, objval becomes the value
  // of the best integer solution. False when the search found no integer
  // solution (the mode then ends without report).
  bool global_step(bool take_best);
  // The slack (b - a x) of every row and the value of every structural
  // column of the last solution, caller terms. False after its message.
  bool read_solution(std::vector<double>& slack, std::vector<double>& x);
  // An empty line and message 311, then read_solution.
  bool begin_report(std::vector<double>& slack, std::vector<double>& x);

  std::vector<Goal> goals;

 private:
  bool global_search_;
  int32_t kept_presolve_;
  double kept_cutoff_;
};

// Caller's row and column indices of positions.
int32_t caller_row(int32_t row);
int32_t caller_column(int32_t position);
// The goal row's right-hand side in caller terms.
double row_rhs(int32_t row);
int32_t row_type(int32_t row);
// True for an L row whose slack has a finite upper bound (a range row).
bool is_range_row(int32_t row);

// Before goal k (from 2) is pursued: the solution of the goals before it
// kept as numbered solution file k (only when IPKEEP is 2 or more).
void keep_solution_copy(int32_t k);

// An empty line, also in the report file while messages are copied.
void goal_blank_lines(int32_t count);
// Message 303 between empty lines.
void report_goal_count(int32_t count);
// Message 312: goal k (from 1), its row, the relation, target and achieved value.
void report_goal_line(int32_t k, int32_t row, char relation, double target, double achieved);

// The four modes; the arguments as GoalSession's constructor.
void goal_preemptive_constraints(bool from_file, bool global_search);
void goal_weighted_constraints(bool from_file, bool global_search);
void goal_preemptive_objectives(bool from_file, bool global_search);
void goal_weighted_objectives(bool from_file, bool global_search);

}  // namespace kl

#endif
