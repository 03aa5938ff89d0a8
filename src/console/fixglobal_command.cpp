#include "console/fixglobal_command.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

// The value of every entity column in the open solution file, scaled as the
// bounds are stored. False on a read error (message 122 given): nothing is
// fixed then, so no column is left half fixed.
bool read_entity_values(std::vector<std::pair<int32_t, double>>& values) {
  if (read_solution_header() != 0) return false;
  const int32_t rows = solution_header_copy.rows;
  return read_all_solution_lines([&](int32_t k, int32_t position) {
    if (k <= rows || (solution_line.status_word & PS_ENTITY) == 0) return;
    if (position < store.first_col || position > nseq) return;
    // The file holds the caller's value; the bounds are stored scaled.
    values.emplace_back(position, solution_line.value / std::ldexp(1.0, solution_line.exponent - kScaleBias));
  });
}

void fix_entity_columns(const std::vector<std::pair<int32_t, double>>& values) {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  for (const auto& [position, value] : values) {
    lower[position] = upper[position] = value;
    if (work_lower) work_lower[position] = value;
    if (work_upper) work_upper[position] = value;
    status[position] |= PS_FIXED | PS_BOTH_FINITE;
  }
}

}  // namespace

void fixglobal_command() {
  begin_body();
  if (!require_problem()) {
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  const std::string name = make_work_file_name("sol");
  int32_t error = 0;
  open_work_file(name.c_str(), WORK_READ, error);
  if (error != 0) {
    status_code = STATUS_REPORTED;
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  std::vector<std::pair<int32_t, double>> values;
  const bool read = read_entity_values(values);
  close_work_file();
  if (read) {
    fix_entity_columns(values);
    nglent = 0;
  } else {
    status_code = STATUS_REPORTED;
  }
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
