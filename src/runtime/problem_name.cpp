#include "runtime/problem_name.h"

#include <cstring>

#include "runtime/options.h"
#include "klsol/message_ids.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

ProblemName problem_name;

bool set_problem_name(const char* name) {
  const char* stem = name != nullptr ? name : "";
  const std::size_t n = std::strlen(stem);
  if (n > static_cast<std::size_t>(kProblemNameMax)) return false;
  problem_name.text.assign(stem, n);
  problem_name.text.push_back('.');
  problem_name.length = static_cast<int32_t>(n + 1);
  command_line.position = 1;
  command_line.length = 0;
  return true;
}

std::string get_problem_name() {
  if (problem_name.length <= 1) return std::string();
  return problem_name.text.substr(0, static_cast<std::size_t>(problem_name.length - 1));
}

void save_problem_name() {
  problem_name.kept_text = problem_name.text;
  problem_name.kept_length = problem_name.length;
}

void restore_problem_name() {
  problem_name.text = problem_name.kept_text;
  problem_name.length = problem_name.kept_length;
  command_line.length = command_line.position - 1;
}

void reset_problem_name() {
  // The stored text keeps the final "." like every other name, so a work
  // file named before any load still gets a proper extension.
  problem_name.text = "$$$$$$$$.";
  problem_name.length = 9;
}

namespace {

// Routine name printed by message 600 for the PROBLEM command.
constexpr const char* kProblemRoutine = "problem ";

}  // namespace

int32_t parse_problem_name() {
  const std::string argument = command_argument();
  if (argument.size() > static_cast<std::size_t>(kProblemNameMax)) {
    report_error(MSG_NAME_TOO_LONG, kProblemNameMax, kProblemRoutine);
    return -1;
  }
  // Only a "." behind the last separator starts an extension: a dot in a
  // directory name belongs to the stem.
  const std::size_t cut = argument.find_last_of("/\\.");
  if (cut != std::string::npos && argument[cut] == '.') {
    problem_name.text = argument;
    problem_name.length = static_cast<int32_t>(cut + 1);
    return problem_name.length;
  }
  problem_name.text = argument + ".";
  problem_name.length = static_cast<int32_t>(argument.size() + 1);
  return 0;
}

void problem_command() {
  begin_body();
  const std::string argument = command_argument();
  if (parse_problem_name() > 0) {
    begin_message(MSG_PROBLEM_EXTENSION_DROPPED);
    insert_message_string(argument.c_str());
    emit_message();
  }
}

}  // namespace kl
