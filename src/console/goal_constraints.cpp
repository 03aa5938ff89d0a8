// Goals on constraint rows. Each goal row gets deviation columns that
// measure its violation: an L row an excess column (coefficient -1), a G row
// a shortfall column (+1), an E or range row both (+1 then -1). The
// objective becomes the deviations: pre-emptively those of one goal after
// the other, each goal met fixing its deviations at zero; weighted, the sum
// of all deviations times their goals' weights.
#include <cstdio>
#include <string>
#include <vector>

#include "console/goal_session.h"
#include "console/goal_command.h"
#include "klsol/message_ids.h"
#include "problem/add_rows_cols.h"
#include "problem/change_problem.h"
#include "problem/queries.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/lp_driver.h"

namespace kl {

namespace {

// Collects the goals; false when the mode ends (a wrong answer from the
// goal file, an interrupt, too many goals).
bool collect_constraint_goals(GoalSession& session, bool weighted) {
  while (true) {
    Goal goal;
    Reply reply = session.ask_row(GoalRowKind::kConstraint, goal.row);
    if (reply == Reply::kEnd) return true;
    if (reply == Reply::kStop) return false;
    if (weighted) {
      reply = session.ask_real("Weight?", true, goal.weight);
      if (reply == Reply::kEnd) return true;
      if (reply == Reply::kStop) return false;
    }
    if (!session.add_goal(goal)) return false;
  }
}

// Every structural column's cost to 0; the objective constant too.
void clear_objective() {
  const int32_t count = ncols();
  std::vector<int32_t> columns(static_cast<std::size_t>(count) + 1);
  std::vector<double> zeros(columns.size(), 0.0);
  for (int32_t k = 0; k < count; ++k) columns[static_cast<std::size_t>(k)] = caller_column(store.first_col + k);
  columns[static_cast<std::size_t>(count)] = -1;
  chgobj(count + 1, columns.data(), zeros.data());
}

// Appends the deviation columns of every goal, named prefix, the goal
// number in four digits and "+" (an excess, coefficient -1) or "-" (a
// shortfall, +1); each costs its goal's weight when weighted, else 0. False
// after message 316 when they cannot be added.
bool add_deviation_columns(GoalSession& session, const char* prefix, bool weighted) {
  std::vector<double> costs;
  std::vector<int32_t> starts;
  std::vector<int32_t> rows;
  std::vector<double> values;
  std::string names;
  const int32_t base = icv(ic::IFDBG);
  int32_t next = nseq + 1;
  for (std::size_t k = 0; k < session.goals.size(); ++k) {
    Goal& goal = session.goals[k];
    const int32_t type = row_type(goal.row);
    if (type == ROW_G) {
      goal.deviation_signs = {1.0};
    } else if (type == ROW_L && !is_range_row(goal.row)) {
      goal.deviation_signs = {-1.0};
    } else {
      goal.deviation_signs = {1.0, -1.0};
    }
    goal.first_deviation = next;
    goal.deviation_count = static_cast<int32_t>(goal.deviation_signs.size());
    next += goal.deviation_count;
    for (const double sign : goal.deviation_signs) {
      starts.push_back(static_cast<int32_t>(rows.size()) + 1 - base);
      rows.push_back(caller_row(goal.row));
      values.push_back(sign);
      costs.push_back(weighted ? goal.weight : 0.0);
      char name[16];
      std::snprintf(name, sizeof name, "%s%04d%c", prefix, static_cast<int>(k + 1), sign > 0 ? '-' : '+');
      names.append(name);
      names.push_back('\0');
    }
  }
  const int32_t count = static_cast<int32_t>(costs.size());
  const int32_t first = ncols() + 1 - base;
  std::vector<double> lower(costs.size(), 0.0);
  std::vector<double> upper(costs.size(), kInfinity);
  addcol(count, count, costs.data(), starts.data(), rows.data(), values.data(), lower.data(), upper.data());
  if (status_code == STATUS_OK) addnames(2, names.data(), first, first + count - 1);
  if (status_code != STATUS_OK) {
    begin_message(MSG_GOAL_NO_COLUMN_ROOM);
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  }
  return true;
}

// The cost of every deviation column: 1 for those of the goal pursued
// (index current), 0 for the others.
void cost_deviations_of(const GoalSession& session, std::size_t current) {
  std::vector<int32_t> columns;
  std::vector<double> costs;
  for (std::size_t k = 0; k < session.goals.size(); ++k) {
    const Goal& goal = session.goals[k];
    for (int32_t d = 0; d < goal.deviation_count; ++d) {
      columns.push_back(caller_column(goal.first_deviation + d));
      costs.push_back(k == current ? 1.0 : 0.0);
    }
  }
  columns.push_back(-1);
  costs.push_back(0.0);
  chgobj(static_cast<int32_t>(columns.size()), columns.data(), costs.data());
}

// A goal met keeps its deviations at zero for the goals after it.
void fix_deviations(const Goal& goal) {
  std::vector<int32_t> columns;
  for (int32_t d = 0; d < goal.deviation_count; ++d) columns.push_back(caller_column(goal.first_deviation + d));
  const std::vector<char> letters(columns.size(), 'B');
  const std::vector<double> zeros(columns.size(), 0.0);
  chgbds(static_cast<int32_t>(columns.size()), columns.data(), letters.data(), zeros.data());
}

// Message 311 and a line per goal: its target and the value its row
// reaches without the deviations.
void report_constraint_goals(GoalSession& session) {
  std::vector<double> slack;
  std::vector<double> x;
  if (!session.begin_report(slack, x)) return;
  for (std::size_t k = 0; k < session.goals.size(); ++k) {
    const Goal& goal = session.goals[k];
    const double b = row_rhs(goal.row);
    const double v = slack[static_cast<std::size_t>(goal.row - 1)];
    // The row's activity is b - v with the deviations in; taking them out
    // leaves what the structural columns reach.
    double achieved = b - v;
    for (int32_t d = 0; d < goal.deviation_count; ++d) {
      const double value = x[static_cast<std::size_t>(goal.first_deviation + d - store.first_col)];
      achieved -= goal.deviation_signs[static_cast<std::size_t>(d)] * value;
    }
    const int32_t number = static_cast<int32_t>(k) + 1;
    const int32_t type = row_type(goal.row);
    if (type == ROW_G) {
      report_goal_line(number, goal.row, '>', b, achieved);
    } else if (type == ROW_L) {
      report_goal_line(number, goal.row, '<', b, achieved);
      if (is_range_row(goal.row)) {
        double range = 0.0;
        const int32_t r = caller_row(goal.row);
        getrng(&range, r, r, QUERY_CALLER_FORM);
        report_goal_line(number, goal.row, '>', b - range, achieved);
      }
    } else {
      report_goal_line(number, goal.row, '=', b, achieved);
    }
  }
}

}  // namespace

void goal_preemptive_constraints(bool from_file, bool global_search) {
  GoalSession session(from_file, global_search);
  dcv(dc::DINTSL) = 0.0;
  if (!collect_constraint_goals(session, false)) return;
  const int32_t count = static_cast<int32_t>(session.goals.size());
  report_goal_count(count);
  if (count == 0) return;
  clear_objective();
  if (!add_deviation_columns(session, "Dev", false)) return;
  bool all_met = true;
  for (std::size_t k = 0; k < session.goals.size(); ++k) {
    const Goal& goal = session.goals[k];
    if (k > 0) keep_solution_copy(static_cast<int32_t>(k) + 1);
    cost_deviations_of(session, k);
    if (session.run_lp(OPT_MINIMISE) != LP_OPTIMAL) return;
    if (!session.global_step(true)) return;
    if (!constraint_goal_met(dcv(dc::OBJVAL), row_rhs(goal.row))) {
      goal_blank_lines(3);
      begin_message(MSG_GOAL_NOT_MET);
      insert_message_int(static_cast<int32_t>(k) + 1);
      insert_message_int(goal.row);
      emit_message();
      all_met = false;
      break;
    }
    fix_deviations(goal);
  }
  if (all_met) {
    goal_blank_lines(3);
    begin_message(MSG_GOAL_ALL_MET);
    emit_message();
  }
  report_constraint_goals(session);
}

void goal_weighted_constraints(bool from_file, bool global_search) {
  GoalSession session(from_file, global_search);
  if (!collect_constraint_goals(session, true)) return;
  clear_objective();
  if (!session.goals.empty() && !add_deviation_columns(session, "DEV", true)) return;
  const int32_t count = static_cast<int32_t>(session.goals.size());
  report_goal_count(count);
  if (count == 0) return;
  if (session.run_lp(OPT_MINIMISE) != LP_OPTIMAL) return;
  if (!session.global_step(false)) return;
  report_constraint_goals(session);
}

}  // namespace kl
