// Branching directives and model cuts.
//
// Interface summary (all indices 1-based inside the library):
//   loaddir(n, columns, priorities, directions, up, down, internal_form)
//       body of KLLOADDIR (internal_form 0) and KLILOADDIR (1). Every array
//       may be null; n < 0 means every entity in order (columns unread).
//       Writes directive_word (array 12) and the pseudo costs (15 down,
//       16 up). Errors: status 32 with messages 91, 128, 287, 405, 409;
//       message 247 skips an item, message 76 stores priority 500.
//   get_directives(n, columns, priorities, directions, up, down)
//       body of KLGETDIR; every output may be null.
//   mark_model_cuts(n, rows)
//       body of KLMODELCUTS: sets row_type bit 0x40000 and counts the marks
//       in model_cut_count (problem/search_state.h).
//   directive_priority(word), directive_direction(word)
//       the two parts of a directive word (priority x 16 + direction).
#ifndef KLSOL_GLOBAL_DIRECTIVES_H
#define KLSOL_GLOBAL_DIRECTIVES_H

#include <cstdint>

namespace kl {

// Low four bits of a directive word: which child is dived into first.
enum DirectiveDirection : int32_t {
  DIRECTION_NONE = 0,  // the estimates decide
  DIRECTION_UP = 1,
  DIRECTION_DOWN = 2,
  DIRECTION_MASK = 0xF,
};
inline constexpr int32_t kDefaultPriority = 500;
inline constexpr int32_t kMaxPriority = 1000;

inline int32_t directive_priority(int32_t word) { return word / 16; }
inline int32_t directive_direction(int32_t word) { return word & DIRECTION_MASK; }

void loaddir(int32_t n, const int32_t* columns, const int32_t* priorities, const char* directions,
             const double* up_costs, const double* down_costs, int32_t internal_form);
void get_directives(int32_t* n, int32_t* columns, int32_t* priorities, char* directions, double* up_costs,
                    double* down_costs);
void mark_model_cuts(int32_t n, const int32_t* rows);

}  // namespace kl

#endif
