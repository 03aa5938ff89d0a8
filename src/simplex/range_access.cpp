#include "simplex/range_access.h"

#include <cstdint>
#include <string>

#include "files/solution_file.h"
#include "klsol/message_ids.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

struct RangeTargets {
  double* upper_activity = nullptr;
  double* lower_activity = nullptr;
  double* upper_unit_cost = nullptr;
  double* lower_unit_cost = nullptr;
  double* upper_cost = nullptr;
  double* lower_cost = nullptr;
};

void set_if(double* target, int32_t k, double value) {
  if (target != nullptr) target[k] = value;
}

void fail_read() {
  begin_message(MSG_SOLUTION_FILE_ERROR);
  emit_message();
  error_number = MSG_SOLUTION_FILE_ERROR;
  status_code = STATUS_REPORTED;
}

bool open_range_file() {
  const std::string name = make_work_file_name("rng");
  int32_t error = 0;
  open_work_file(name.c_str(), WORK_READ, error);
  if (error == 0) return true;
  fail_read();
  return false;
}

// Reads count records from first_position on into the caller's arrays.
void read_records(int32_t first_position, int32_t count, const RangeTargets& to) {
  for (int32_t k = 0; k < count; ++k) {
    int32_t error = 0;
    read_solution_record(first_position + k, error);
    if (error != 0) {
      fail_read();
      return;
    }
    set_if(to.upper_activity, k, range_line.upper_activity);
    set_if(to.lower_activity, k, range_line.lower_activity);
    set_if(to.upper_unit_cost, k, range_line.unit_cost[1]);
    set_if(to.lower_unit_cost, k, range_line.unit_cost[0]);
    // The record's first cost limit is the one at which the activity
    // falls: the cost's upper end when minimising, its lower end when
    // maximising.
    const bool maximise = solution_header_copy.sense_code == SENSE_MAXIMISE;
    set_if(to.upper_cost, k, range_line.cost_limit[maximise ? 1 : 0]);
    set_if(to.lower_cost, k, range_line.cost_limit[maximise ? 0 : 1]);
  }
}

}  // namespace

void get_row_ranges(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                    double* lower_unit_cost) {
  begin_body();
  if (!open_range_file()) return;
  if (read_solution_header() != 0) {
    close_work_file();
    status_code = STATUS_REPORTED;
    return;
  }
  RangeTargets to;
  to.upper_activity = upper_activity;
  to.lower_activity = lower_activity;
  to.upper_unit_cost = upper_unit_cost;
  to.lower_unit_cost = lower_unit_cost;
  read_records(1, solution_header_copy.rows, to);
  close_work_file();
}

void get_column_ranges(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                       double* lower_unit_cost, double* upper_cost, double* lower_cost) {
  begin_body();
  if (!open_range_file()) return;
  int32_t status = 0;
  print_solution_header(status);
  if (status != 0) {
    close_work_file();
    status_code = STATUS_REPORTED;
    return;
  }
  skip_work_items(static_cast<int64_t>(kSolutionRecordItems) * solution_header_copy.rows);
  const RangeTargets to{upper_activity, lower_activity, upper_unit_cost, lower_unit_cost, upper_cost, lower_cost};
  read_records(solution_header_copy.first_col, solution_header_copy.columns, to);
  close_work_file();
}

}  // namespace kl
