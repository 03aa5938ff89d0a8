// Branching directives by array and the marking of model cuts.
#include "global/directives.h"

#include <cstring>

#include "klsol/message_ids.h"
#include "problem/array_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {
namespace {

constexpr const char* kLoaddir = "loaddir ";
constexpr const char* kModelCuts = "modelcut";

bool presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

bool is_set_entity(int32_t e) {
  const int32_t type = int_array(ARR_ENTITY_TYPE)[e] & ENT_TYPE_MASK;
  return type == ENT_SET1 || type == ENT_SET2;
}

// The entity of set number s, 0 when there is none.
int32_t entity_of_set(int32_t s) {
  for (int32_t e = 1; e <= nglent; ++e)
    if (is_set_entity(e) && int_array(ARR_ENTITY_COLUMN)[e] == s) return e;
  return 0;
}

// The column entity on position p, 0 when the column is not one.
int32_t entity_of_column(int32_t p) {
  if ((int_array(ARR_POS_STATUS)[p] & PS_ENTITY) == 0) return 0;
  for (int32_t e = 1; e <= nglent; ++e)
    if (!is_set_entity(e) && int_array(ARR_ENTITY_COLUMN)[e] == p) return e;
  return 0;
}

void report_not_entity(int32_t c, int32_t p) {
  begin_message(MSG_DIRECTIVE_NOT_ENTITY);
  if (c >= 0) {
    insert_message_vector_name(p);
  } else {
    insert_message_int(c);
  }
  emit_message();
}

// The 8-character text message 76 shows before the priority: the entity's
// column or set name.
void report_bad_priority(int32_t e, int32_t priority) {
  begin_message(MSG_PRIORITY_OUT_OF_RANGE);
  const int32_t where = int_array(ARR_ENTITY_COLUMN)[e];
  if (is_set_entity(e)) {
    insert_message_name8(name_array(ARR_SET_NAME) + static_cast<size_t>(where - 1) * 8 * name_words);
  } else {
    insert_message_vector_name(where);
  }
  insert_message_int(priority);
  emit_message();
}

}  // namespace

void loaddir(int32_t n, const int32_t* columns, const int32_t* priorities, const char* directions,
             const double* up_costs, const double* down_costs, int32_t internal_form) {
  begin_body();
  if (!require_problem()) return;
  if (nglent <= 0) {
    report_plain_error(MSG_NO_GLOBAL_ENTITIES);
    return;
  }
  if (presolved() && internal_form == 0) {
    report_plain_error(MSG_DIRECTIVES_PRESOLVED);
    return;
  }
  const int32_t count = n < 0 ? nglent : n;
  if (n >= 0 && columns == nullptr && count > 0) {
    // Without columns no item can name an entity.
    report_error(MSG_COLUMN_INDEX_INVALID, 0, kLoaddir);
    return;
  }
  OneBased<int32_t> word = int_array(ARR_DIRECTIVE_WORD);
  OneBased<float> up_cost = float_array(ARR_PSEUDO_COST_UP);
  OneBased<float> down_cost = float_array(ARR_PSEUDO_COST_DOWN);
  for (int32_t i = 1; i <= count; ++i) {
    const size_t k = static_cast<size_t>(i - 1);
    int32_t e = 0;
    if (n < 0) {
      e = i;
    } else {
      const int32_t c = columns[k];
      int32_t p = 0;
      if (c < 0) {
        if (-c <= nsets) e = entity_of_set(-c);
      } else {
        p = col_from_caller(c);
        if (p < store.first_col || p > nseq) {
          report_error(MSG_COLUMN_INDEX_INVALID, c, kLoaddir);
          return;
        }
        e = entity_of_column(p);
      }
      if (e == 0) {
        report_not_entity(c, p);
        continue;
      }
    }
    int32_t priority = kDefaultPriority;
    if (priorities != nullptr) {
      priority = priorities[k];
      if (static_cast<uint32_t>(priority) > static_cast<uint32_t>(kMaxPriority)) {
        report_bad_priority(e, priority);
        priority = kDefaultPriority;
      }
    }
    int32_t direction = DIRECTION_NONE;
    if (directions != nullptr) {
      switch (directions[k]) {
        case 'U': direction = DIRECTION_UP; break;
        case 'D': direction = DIRECTION_DOWN; break;
        case 'N': direction = DIRECTION_NONE; break;
        default:
          error_number = MSG_BAD_DIRECTION;
          error_value = i - icv(ic::IFDBG);
          status_code = STATUS_REPORTED;
          begin_message(MSG_BAD_DIRECTION);
          insert_message_chars(kLoaddir, 8);
          insert_message_int(i - icv(ic::IFDBG));
          insert_message_chars(&directions[k], 1);
          emit_message();
          return;
      }
    }
    word[e] = priority * 16 + direction;
    if (up_costs != nullptr) up_cost[e] = static_cast<float>(up_costs[k]);
    if (down_costs != nullptr) down_cost[e] = static_cast<float>(down_costs[k]);
  }
}

void get_directives(int32_t* n, int32_t* columns, int32_t* priorities, char* directions, double* up_costs,
                    double* down_costs) {
  begin_body();
  if (problem_state < 1 || nglent <= 0) {
    report_plain_error(MSG_NO_PROBLEM);
    return;
  }
  if (n != nullptr) *n = nglent;
  const OneBased<int32_t> word = int_array(ARR_DIRECTIVE_WORD);
  for (int32_t e = 1; e <= nglent; ++e) {
    const size_t k = static_cast<size_t>(e - 1);
    if (priorities != nullptr) priorities[k] = directive_priority(word[e]);
    if (directions != nullptr) {
      const int32_t d = directive_direction(word[e]);
      directions[k] = d == DIRECTION_UP ? 'U' : d == DIRECTION_DOWN ? 'D' : 'N';
    }
    if (up_costs != nullptr) up_costs[k] = float_array(ARR_PSEUDO_COST_UP)[e];
    if (down_costs != nullptr) down_costs[k] = float_array(ARR_PSEUDO_COST_DOWN)[e];
    if (columns != nullptr) {
      const int32_t where = int_array(ARR_ENTITY_COLUMN)[e];
      columns[k] = is_set_entity(e) ? -where : col_to_caller(where);
    }
  }
}

void mark_model_cuts(int32_t n, const int32_t* rows) {
  begin_body();
  if (!require_problem()) return;
  if (nglent <= 0) {
    report_plain_error(MSG_NO_GLOBAL_ENTITIES);
    return;
  }
  if (presolved()) {
    report_plain_error(MSG_PROBLEM_PRESOLVED);
    return;
  }
  if (n > 0 && rows == nullptr) {
    report_error(MSG_ROW_INDEX_INVALID, 0, kModelCuts);
    return;
  }
  OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t given = rows[i - 1];
    const int32_t r = row_from_caller(given);
    if (r < 1 || r > nrow) {
      report_error(MSG_ROW_INDEX_INVALID, given, kModelCuts);
      return;
    }
    row_type[r] |= static_cast<int32_t>(RF_MODEL_CUT);
    ++model_cut_count;
  }
}

}  // namespace kl
