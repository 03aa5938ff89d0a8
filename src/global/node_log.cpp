#include "global/node_log.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "factor/simplex_state.h"
#include "global/node_store.h"
#include "global/search_driver.h"
#include "klsol/message_ids.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

int64_t node_log_lines_written = 0;

namespace {

// A node count from this value on prints in the wide form.
constexpr int32_t kWideNodeCount = 1000000;
constexpr int32_t kNameWidth = 8;

std::string shown(double internal) {
  char text[32];
  std::snprintf(text, sizeof text, "%12.6g", caller_objective(internal));
  return text;
}

// The 8-character name of the branching entity: the column's own name, "Set"
// and the set number, or "Usr" and the user object's number.
std::string branch_entity_name(int32_t entity) {
  char field[kNameWidth + 1];
  std::memset(field, ' ', kNameWidth);
  field[kNameWidth] = '\0';
  const auto label = [&](const char* prefix, int32_t number) {
    std::memcpy(field, prefix, 3);
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%d", number);
    // More digits than fit overwrite the leading letters.
    const int start = n >= kNameWidth ? 0 : kNameWidth - n;
    std::memcpy(field + start, digits + (n > kNameWidth ? n - kNameWidth : 0),
                static_cast<std::size_t>(kNameWidth - start));
  };
  if (entity > nglent) {
    label("Usr", entity - nglent - icv(ic::IFDBG));
    return field;
  }
  OneBased<int32_t> type = int_array(ARR_ENTITY_TYPE);
  OneBased<int32_t> column = int_array(ARR_ENTITY_COLUMN);
  if (!type || !column) return field;
  const int32_t kind = type[entity] & ENT_TYPE_MASK;
  if (kind == ENT_SET1 || kind == ENT_SET2) {
    label("Set", column[entity]);
    return field;
  }
  int32_t p = column[entity];
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
    if (map) p = map[p];
  }
  const char* name = position_name(p);
  if (name != nullptr) std::memcpy(field, name, kNameWidth);
  return field;
}

}  // namespace

void count_active_nodes() {
  active_node_count = occupied_active_slots();
}

void report_search_sign(int32_t value) {
  begin_message(value > 0 ? MSG_NODE_LOG_HEADER : MSG_NODE_LOG_COMPACT_HEADER);
  emit_message();
}

std::string format_compact_node_line(bool integer_node) {
  char text[200];
  const char mark = integer_node ? '*' : ' ';
  std::string incumbent = solution_count > 0 ? shown(dintsl) : std::string(12, ' ');
  const char* count_format = node_count >= kWideNodeCount ? "%12d" : "%9d";
  char count[24];
  std::snprintf(count, sizeof count, count_format, node_count);
  int n = std::snprintf(text, sizeof text, " %c%s %5d %s %s %8d %5d %c", mark, count, solution_count,
                        incumbent.c_str(), shown(best_bound).c_str(), active_node_count, search_elapsed_seconds(),
                        mark);
  std::string line(text, static_cast<std::size_t>(n));
  if (icv(ic::IFMSG) > 0 && solution_count > 0 && std::fabs(best_bound) >= dcv(dc::ZTETA)) {
    const double g = std::fabs(dintsl - best_bound) / std::fabs(best_bound) * 100.0;
    const double whole = std::trunc(g);
    char gap[48];
    std::snprintf(gap, sizeof gap, " %.0f.%02d%%", whole, static_cast<int>(std::trunc((g - whole) * 100.0)));
    line += gap;
  }
  return line;
}

std::string format_detailed_node_line() {
  char text[220];
  const double estimate = node_header.bound + sense_factor * node_header.degradation;
  std::string branch = "   ";
  if (search.fractional_count != 0 && node_header.branch_entity != 0) {
    char tail[64];
    const double value = node_header.branch_value;
    const int32_t kind = node_header.branch_entity <= nglent
                             ? (int_array(ARR_ENTITY_TYPE)[node_header.branch_entity] & ENT_TYPE_MASK)
                             : 0;
    const double shown_value = (kind == ENT_SET1 || kind == ENT_SET2) ? node_header.set_split_value : value;
    std::snprintf(tail, sizeof tail, "%12.5g %c", shown_value, node_header.first_direction == 1 ? 'L' : 'U');
    branch = branch_entity_name(node_header.branch_entity) + tail;
  }
  const int n = std::snprintf(text, sizeof text, "%8d %8d %s %s %6d %8d %s", node_count, node_header.node_number,
                              shown(objval).c_str(), shown(estimate).c_str(), search.fractional_count,
                              active_node_count, branch.c_str());
  return std::string(text, static_cast<std::size_t>(n));
}

void print_node_log_line(int32_t& stop) {
  stop = 0;
  count_active_nodes();
  const int32_t gprint = icv(ic::GPRINT);
  const bool integer_node = lp_status == 1 && search.fractional_count == 0;
  if (gprint < 0) {
    if (!integer_node && node_count % gprint != 0) return;
    if (search.log_line_counter == 0) report_search_sign(gprint);
    ++search.log_line_counter;
    if (search.log_line_counter == icv(ic::ITRHDG)) search.log_line_counter = 0;
    const std::string line = format_compact_node_line(integer_node);
    begin_message(MSG_NODE_LOG_COMPACT_LINE);
    insert_message_string(line.c_str());
    emit_message();
  } else {
    switch (lp_status) {
      case 2:
        begin_message(MSG_NODE_LOG_INFEASIBLE);
        insert_message_int(node_count);
        insert_message_int(node_header.node_number);
        emit_message();
        break;
      case 3:
      case 6:
        begin_message(MSG_NODE_LOG_CUT_OFF);
        insert_message_int(node_count);
        insert_message_int(node_header.node_number);
        if (lp_status == 3)
          insert_message_real(caller_objective(objval));
        else
          insert_message_chars(" ", 1);
        emit_message();
        break;
      case 5:
        return;
      default: {
        const std::string line = format_detailed_node_line();
        begin_message(MSG_NODE_LOG_LINE);
        insert_message_string(line.c_str());
        emit_message();
        break;
      }
    }
  }
  ++node_log_lines_written;
  // The callback sees the search clock and mip_status as they stand.
  invoke_gl_entry(stop);
  if (icv(ic::IFPMSG) > 0) end_of_call();
}

}  // namespace kl
