#include "console/goal_session.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "console/goal_command.h"
#include "factor/simplex_state.h"
#include "global/node_loop.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/queries.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "runtime/sink.h"
#include "runtime/text_io.h"
#include "simplex/lp_driver.h"
#include "simplex/solution_access.h"
#include "simplex/solution_file_reader.h"

namespace kl {

namespace {

// Width of a single-word answer.
constexpr std::size_t kWordWidth = 8;

std::string padded(const std::string& text, std::size_t width) {
  std::string out = text.substr(0, std::min(text.size(), width));
  out.resize(width, ' ');
  return out;
}

bool blank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

void emit_row_name_message(int32_t message, int32_t row) {
  begin_message(message);
  insert_message_vector_name(row);
  emit_message();
}

}  // namespace

int32_t caller_row(int32_t row) { return row_to_caller(row); }
int32_t caller_column(int32_t position) { return col_to_caller(position); }

double row_rhs(int32_t row) {
  double value = 0.0;
  const int32_t r = caller_row(row);
  getrhs(&value, r, r, QUERY_CALLER_FORM);
  return value;
}

int32_t row_type(int32_t row) { return int_array(ARR_ROW_TYPE)[row] & ROW_TYPE_MASK; }

bool is_range_row(int32_t row) {
  return row_type(row) == ROW_L && (static_cast<uint32_t>(int_array(ARR_POS_STATUS)[row]) & PS_FINITE_UPPER) != 0;
}

void goal_blank_lines(int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    write_message_text("", 0);
    int32_t fault = 0;
    if (message_line.copy) copy_line_to_output_file("", 0, fault);
  }
}

void keep_solution_copy(int32_t k) {
  const int32_t kept_count = solution_count;
  solution_count = k;
  write_solution_copy();
  solution_count = kept_count;
}

void report_goal_count(int32_t count) {
  goal_blank_lines(1);
  begin_message(MSG_GOAL_COUNT);
  insert_message_int(count);
  emit_message();
  goal_blank_lines(1);
}

void report_goal_line(int32_t k, int32_t row, char relation, double target, double achieved) {
  begin_message(MSG_GOAL_REPORT_LINE);
  insert_message_int(k);
  insert_message_int(row);
  insert_message_chars(&relation, 1);
  insert_message_real(target);
  insert_message_real(achieved);
  insert_message_vector_name(row);
  emit_message();
}

int32_t find_row_by_name(const std::string& answer) {
  const int32_t length = 8 * name_words;
  const char* table = name_array(ARR_NAME_TABLE);
  if (table == nullptr || length <= 0) return -1;
  const std::string wanted = padded(answer, static_cast<std::size_t>(length));
  for (int32_t i = 1; i <= nrow; ++i) {
    if (std::memcmp(table + static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(length), wanted.data(),
                    static_cast<std::size_t>(length)) == 0)
      return i;
  }
  return -1;
}

bool constraint_goal_met(double deviation_sum, double rhs) {
  return deviation_sum <= dcv(dc::ZTOLZE) * (1.0 + std::fabs(rhs));
}

GoalSession::GoalSession(bool from_file, bool global_search)
    : GoalDialogue(from_file),
      global_search_(global_search && nglent > 0),
      kept_presolve_(icv(ic::IFPRES)),
      kept_cutoff_(dcv(dc::CUTOFF)) {
  icv(ic::IFPRES) = 0;
  store.objective_row = -2;
}

GoalSession::~GoalSession() { icv(ic::IFPRES) = kept_presolve_; }

bool GoalDialogue::ask(const char* prompt, std::string& answer) {
  answer.clear();
  if (from_file_) {
    char line[kTextLineMax];
    int32_t count = 0;
    int32_t error = 0;
    read_text_line(line, count, error);
    if (error != 0) return false;
    answer.assign(line, static_cast<std::size_t>(count));
  } else {
    write_message_text(prompt, static_cast<int32_t>(std::strlen(prompt)));
    char line[kTextLineMax] = {};
    int32_t length = 0;
    if (!read_console_line(line, kTextLineMax - 1, length) || length < 0) return false;
    answer.assign(line, static_cast<std::size_t>(std::min(length, kTextLineMax - 1)));
  }
  // A carriage return left by a file written elsewhere is no part of the answer.
  answer.erase(std::remove(answer.begin(), answer.end(), '\r'), answer.end());
  return true;
}

Reply GoalDialogue::stop_on_file_error() {
  status_code = STATUS_REPORTED;
  return Reply::kStop;
}

Reply GoalDialogue::ask_word(const char* prompt, const std::vector<const char*>& words, int32_t wrong_message,
                             int32_t& choice) {
  while (true) {
    std::string answer;
    if (!ask(prompt, answer)) return Reply::kEnd;
    const std::string word = padded(answer, kWordWidth);
    for (std::size_t k = 0; k < words.size(); ++k) {
      if (word == padded(words[k], kWordWidth)) {
        choice = static_cast<int32_t>(k);
        return Reply::kAnswer;
      }
    }
    if (poll_interrupt() != 0) return Reply::kStop;
    begin_message(wrong_message);
    emit_message();
    if (from_file_) return stop_on_file_error();
  }
}

Reply GoalDialogue::ask_real(const char* prompt, bool absolute, double& value) {
  while (true) {
    std::string answer;
    if (!ask(prompt, answer)) return Reply::kEnd;
    const int32_t kept_status = status_code;
    status_code = STATUS_OK;
    const std::string field = padded(answer, static_cast<std::size_t>(std::max(icv(ic::LENDBL), 16)));
    const double parsed = parse_real_field(field.c_str());
    const bool bad = status_code != STATUS_OK || !std::isfinite(parsed);
    status_code = kept_status;
    if (!bad) {
      value = absolute ? std::fabs(parsed) : parsed;
      return Reply::kAnswer;
    }
    begin_message(MSG_BAD_REAL_VALUE);
    insert_message_string(answer.c_str());
    emit_message();
    if (from_file_) return stop_on_file_error();
  }
}

Reply GoalSession::ask_row(GoalRowKind kind, int32_t& row) {
  while (true) {
    std::string answer;
    if (!ask("Row?", answer) || blank(answer)) return Reply::kEnd;
    const std::string name = padded(answer, static_cast<std::size_t>(8 * name_words));
    row = find_row_by_name(name);
    if (row < 0) {
      begin_message(MSG_ASCII_HEADER_UNREADABLE);
      insert_message_string((": row " + name).c_str());
      emit_message();
    } else if (std::any_of(goals.begin(), goals.end(), [&](const Goal& g) { return g.row == row; })) {
      emit_row_name_message(MSG_GOAL_ROW_REPEATED, row);
    } else if (kind == GoalRowKind::kConstraint && row_type(row) == ROW_N) {
      emit_row_name_message(MSG_GOAL_ROW_IS_OBJECTIVE, row);
    } else if (kind == GoalRowKind::kObjective && row_type(row) != ROW_N) {
      emit_row_name_message(MSG_GOAL_ROW_NOT_OBJECTIVE, row);
    } else {
      return Reply::kAnswer;
    }
    if (from_file_) return stop_on_file_error();
  }
}

bool GoalSession::add_goal(const Goal& goal) {
  if (static_cast<int32_t>(goals.size()) >= kGoalLimit) {
    begin_message(MSG_GOAL_TOO_MANY);
    emit_message();
    status_code = STATUS_REPORTED;
    return false;
  }
  goals.push_back(goal);
  return true;
}

int32_t GoalSession::run_lp(int32_t optimise_mode) {
  const int32_t kept_quiet = icv(ic::IQUIET);
  if (lp_algorithm >= kAlgorithmForcedOffset) lp_algorithm -= kAlgorithmForcedOffset;
  optimise_lp(optimise_mode);
  icv(ic::IQUIET) = kept_quiet;
  return lp_status;
}

bool GoalSession::global_step(bool take_best) {
  if (!global_search_) return true;
  const int32_t kept_quiet = icv(ic::IQUIET);
  const int32_t kept_gprint = icv(ic::GPRINT);
  const int32_t kept_ipkeep = icv(ic::IPKEEP);
  global_search_started = 0;
  if (kept_quiet == 1) icv(ic::GPRINT) = 0;
  dcv(dc::CUTOFF) = kept_cutoff_;
  // Numbered solution files belong to the goals, not to the search.
  if (take_best) icv(ic::IPKEEP) = 0;
  run_global_command();
  if (take_best) dcv(dc::OBJVAL) = dcv(dc::DINTSL);
  icv(ic::IQUIET) = kept_quiet;
  icv(ic::GPRINT) = kept_gprint;
  icv(ic::IPKEEP) = kept_ipkeep;
  const int32_t kept_status = status_code;
  status_code = STATUS_OK;
  reset_global_search(1);
  if (status_code == STATUS_OK) status_code = kept_status;
  return global_status != MIP_RUNNING_NO_SOLUTION && global_status != MIP_FINISHED_NO_SOLUTION;
}

bool GoalSession::read_solution(std::vector<double>& slack, std::vector<double>& x) {
  slack.assign(static_cast<std::size_t>(std::max(expected_file_rows(), 1)), 0.0);
  x.assign(static_cast<std::size_t>(std::max(expected_file_columns(), 1)), 0.0);
  get_solution(x.data(), slack.data(), nullptr, nullptr);
  return status_code == STATUS_OK;
}

bool GoalSession::begin_report(std::vector<double>& slack, std::vector<double>& x) {
  goal_blank_lines(1);
  begin_message(MSG_GOAL_REPORT_HEAD);
  emit_message();
  return read_solution(slack, x);
}

}  // namespace kl
