// The search's node log: a detailed line per node (GPRINT 3 or more; at
// integer solutions only with GPRINT 2) or a compact line every |GPRINT|
// nodes and at every integer solution (GPRINT negative), each followed by
// the GL user entry, which may ask the search to stop.
//
// Interface summary:
//   print_node_log_line(stop)   writes the line the controls ask for; stop :=
//                               the GL entry's request (0 when no line)
//   report_search_sign(value)   the header: message 44 for a positive value,
//                               else 347
//   format_compact_node_line(), format_detailed_node_line()
//                               the line texts (tests read them)
// Objective values are shown in the caller's units.
#ifndef KLSOL_GLOBAL_NODE_LOG_H
#define KLSOL_GLOBAL_NODE_LOG_H

#include <cstdint>
#include <string>

namespace kl {

void print_node_log_line(int32_t& stop);
void report_search_sign(int32_t value);

// Counts the active nodes (non-zero ids of the table) into active_node_count.
void count_active_nodes();

std::string format_compact_node_line(bool integer_node);
std::string format_detailed_node_line();

// Lines written since start-up (tests read them).
extern int64_t node_log_lines_written;

}  // namespace kl

#endif
