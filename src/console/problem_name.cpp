#include "console/problem_name.h"

#include <cstring>

#include "console/options.h"

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

}  // namespace kl
