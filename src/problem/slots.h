// Problem slots: up to 64 problems held at once, one per registry column.
#ifndef KLSOL_PROBLEM_SLOTS_H
#define KLSOL_PROBLEM_SLOTS_H

#include <cstdint>

#include "runtime/arrays.h"

namespace kl {

inline constexpr int kSaveBufferWords = 967;

// Save buffer of each slot, null when the slot's problem was never put aside.
// Kept outside the registry (blocks of id 0) so that freeing a slot's factor
// arrays cannot release it.
extern void* slot_save_buffer[kSlotCount + 1];

// Class of each array id for the slot switch: 2 for ids 1..9, 3 for 21..25,
// 55 and 74, -2 for 28..30, 1 otherwise.
extern int32_t array_slot_class[kMaxArrayId + 1];

// Start-up: no save buffers, slot 1 current, the class table filled.
void reset_problem_slots();

}  // namespace kl

#endif
