// Goals on objective (N) rows. The pre-emptive mode optimises each goal row
// in its own direction as soon as it is named, then turns it into a G row
// (maximised) or an L row (minimised) that keeps it within a percentage or
// a distance of the optimum found while the next goal is pursued. The
// weighted mode minimises one sum of the goal rows, each with its weight
// and negated when it is to be maximised.
//
// The value of a goal row is a x - r0, r0 its right-hand side before the
// run, as the objective of a problem file counts it.
#include <cmath>
#include <vector>

#include "console/goal_session.h"
#include "klsol/message_ids.h"
#include "problem/change_problem.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/lp_driver.h"

namespace kl {

namespace {

const std::vector<const char*> kDirections = {"max", "MAX", "min", "MIN"};
const std::vector<const char*> kToleranceKinds = {"P", "p", "D", "d"};

// The cost of every structural column: factor times the column's element in
// row (caller terms; no row when row is 0) plus, when add is set, the cost
// it has now; the objective constant: constant, as chgobj takes it.
void set_costs_from_row(int32_t row, double factor, bool add, double constant) {
  const int32_t count = ncols();
  std::vector<int32_t> columns(static_cast<std::size_t>(count) + 1);
  std::vector<double> costs(columns.size(), 0.0);
  for (int32_t k = 0; k < count; ++k) columns[static_cast<std::size_t>(k)] = caller_column(store.first_col + k);
  if (count > 0 && add) getobj(costs.data(), columns[0], columns[static_cast<std::size_t>(count) - 1], QUERY_CALLER_FORM);
  if (row > 0) {
    const int32_t r = caller_row(row);
    int32_t elements = 0;
    getrows(nullptr, nullptr, nullptr, 0, &elements, r, r, QUERY_CALLER_FORM);
    std::vector<int32_t> starts(2);
    std::vector<int32_t> row_columns(static_cast<std::size_t>(elements) + 1);
    std::vector<double> values(static_cast<std::size_t>(elements) + 1);
    getrows(starts.data(), row_columns.data(), values.data(), elements, &elements, r, r, QUERY_CALLER_FORM);
    for (int32_t e = 0; e < elements; ++e) {
      const int32_t k = row_columns[static_cast<std::size_t>(e)] - columns[0];
      costs[static_cast<std::size_t>(k)] += factor * values[static_cast<std::size_t>(e)];
    }
  }
  columns[static_cast<std::size_t>(count)] = -1;
  costs[static_cast<std::size_t>(count)] = constant;
  chgobj(count + 1, columns.data(), costs.data());
}

// The objective constant as chgobj gives it (the stored value negated).
double objective_constant() { return -dcv(kObjectiveConstantSlot); }

// Names a goal row and its direction; false when the list or the mode ends
// (stop tells which).
bool ask_objective_goal(GoalSession& session, bool weighted, Goal& goal, bool& stop) {
  stop = false;
  Reply reply = session.ask_row(GoalRowKind::kObjective, goal.row);
  if (reply == Reply::kAnswer && weighted) reply = session.ask_real("Weight?", true, goal.weight);
  int32_t direction = 0;
  if (reply == Reply::kAnswer) reply = session.ask_word("Max/Min?", kDirections, MSG_GOAL_BAD_DIRECTION, direction);
  if (reply != Reply::kAnswer) {
    stop = reply == Reply::kStop;
    return false;
  }
  goal.maximise = direction < 2;
  goal.original_rhs = row_rhs(goal.row);
  if (!session.add_goal(goal)) {
    stop = true;
    return false;
  }
  return true;
}

// The goal row keeps its value within the tolerance answered of z, the
// optimum just found. False when the list or the mode ends.
bool keep_goal_near(GoalSession& session, const Goal& goal, double z, bool& stop) {
  int32_t kind = 0;
  Reply reply = session.ask_word("Percentage[P]/Deviation[D]?", kToleranceKinds, MSG_GOAL_BAD_TOLERANCE_KIND, kind);
  double a = 0.0;
  if (reply == Reply::kAnswer) reply = session.ask_real("Value?", true, a);
  if (reply != Reply::kAnswer) {
    stop = reply == Reply::kStop;
    return false;
  }
  const double allowance = kind < 2 ? std::fabs(z) * a / 100.0 : a;
  const double target = goal.maximise ? z - allowance : z + allowance;
  const int32_t r = caller_row(goal.row);
  const char letter = goal.maximise ? 'G' : 'L';
  const double rhs = target + goal.original_rhs;
  chgrowtype(1, &r, &letter);
  if (status_code == STATUS_OK) chgrhs(1, &r, &rhs);
  stop = status_code != STATUS_OK;
  return !stop;
}

}  // namespace

void goal_preemptive_objectives(bool from_file, bool global_search) {
  GoalSession session(from_file, global_search);
  double last_objective = 0.0;
  bool stop = false;
  while (true) {
    Goal goal;
    if (!ask_objective_goal(session, false, goal, stop)) break;
    const int32_t k = static_cast<int32_t>(session.goals.size());
    if (k > 1) keep_solution_copy(k);
    set_costs_from_row(goal.row, 1.0, false, goal.original_rhs);
    const int32_t lp = session.run_lp(goal.maximise ? OPT_MAXIMISE : OPT_MINIMISE);
    if (lp == LP_UNBOUNDED) {
      begin_message(MSG_GOAL_UNBOUNDED);
      insert_message_vector_name(goal.row);
      emit_message();
      return;
    }
    if (lp != LP_OPTIMAL || !session.global_step(true)) return;
    last_objective = dcv(dc::OBJVAL);
    if (!keep_goal_near(session, goal, last_objective, stop)) break;
  }
  if (stop) return;
  const int32_t count = static_cast<int32_t>(session.goals.size());
  report_goal_count(count);
  if (count == 0) return;
  std::vector<double> slack;
  std::vector<double> x;
  if (!session.begin_report(slack, x)) return;
  for (int32_t k = 1; k <= count; ++k) {
    const Goal& goal = session.goals[static_cast<std::size_t>(k - 1)];
    const double target = row_rhs(goal.row) - goal.original_rhs;
    const double achieved = k == count ? last_objective : target - slack[static_cast<std::size_t>(goal.row - 1)];
    report_goal_line(k, goal.row, row_type(goal.row) == ROW_L ? '<' : '>', target, achieved);
  }
}

void goal_weighted_objectives(bool from_file, bool global_search) {
  GoalSession session(from_file, global_search);
  set_costs_from_row(0, 0.0, false, 0.0);
  bool stop = false;
  while (true) {
    Goal goal;
    if (!ask_objective_goal(session, true, goal, stop)) break;
    const double factor = (goal.maximise ? -1.0 : 1.0) * goal.weight;
    set_costs_from_row(goal.row, factor, true, objective_constant() + factor * goal.original_rhs);
  }
  if (stop) return;
  const int32_t count = static_cast<int32_t>(session.goals.size());
  if (count == 0) {
    report_goal_count(0);
    return;
  }
  const int32_t lp = session.run_lp(OPT_MINIMISE);
  if (lp == LP_UNBOUNDED) {
    goal_blank_lines(1);
    begin_message(MSG_GOAL_WEIGHTED_UNBOUNDED);
    emit_message();
    goal_blank_lines(1);
    return;
  }
  if (lp != LP_OPTIMAL || !session.global_step(false)) return;
  std::vector<double> slack;
  std::vector<double> x;
  if (!session.begin_report(slack, x)) return;
  for (int32_t k = 1; k <= count; ++k) {
    const Goal& goal = session.goals[static_cast<std::size_t>(k - 1)];
    begin_message(MSG_GOAL_WEIGHTED_LINE);
    insert_message_int(k);
    insert_message_int(goal.row);
    insert_message_chars(goal.maximise ? "max     " : "min     ", 8);
    insert_message_real(-slack[static_cast<std::size_t>(goal.row - 1)]);
    insert_message_vector_name(goal.row);
    emit_message();
  }
}

}  // namespace kl
