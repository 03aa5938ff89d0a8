#include "problem/slots.h"

#include <initializer_list>

namespace kl {

void* slot_save_buffer[kSlotCount + 1] = {};
int32_t array_slot_class[kMaxArrayId + 1] = {};

void reset_problem_slots() {
  for (void*& buffer : slot_save_buffer) buffer = nullptr;
  for (int id = 0; id <= kMaxArrayId; ++id) array_slot_class[id] = 1;
  for (int id = 1; id <= 9; ++id) array_slot_class[id] = 2;
  for (int id : {21, 22, 23, 24, 25, 55, 74}) array_slot_class[id] = 3;
  for (int id : {28, 29, 30}) array_slot_class[id] = -2;
  current_slot = 1;
}

}  // namespace kl
