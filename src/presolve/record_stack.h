// The presolve record stack: two parallel stacks (ints in array 29, doubles
// in array 28) of the records postsolve undoes newest first. Capacity M_S
// bounds both tops alike.
#ifndef KLSOL_PRESOLVE_RECORD_STACK_H
#define KLSOL_PRESOLVE_RECORD_STACK_H

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kl {

// Record types; the type is the last int pushed.
enum PresolveRecordType : int32_t {
  REC_COLUMN_SINGLETON = 1,
  REC_FORCING_ROW = 2,
  REC_ROW_SINGLETON = 3,
  REC_COLUMN_AT_BOUND = 4,
  REC_DOMINATED_COLUMN = 5,
  REC_COLUMN_ELIMINATION = 6,
  REC_FIXED_COLUMN = 7,
  REC_DUPLICATE_ROW = 8,
  REC_DUPLICATE_COLUMN = 9,
  REC_DUPLICATE_COLUMN_BASIC = 10,
  REC_BOUND_CHANGE = 11,
  REC_ENTITY_SPLIT = 12,
  // A row of integer columns divided by the common divisor of its
  // coefficients: ints (row, 13), real (divisor). Its dual comes back
  // divided by it.
  REC_ROW_DIVISION = 13,
};

// Entries in use on each stack; entry k counts from 1.
extern int32_t presolve_int_top;
extern int32_t presolve_real_top;

// Enlarges both stacks by request + M_S + M_S/4 + nseq entries. 0 on
// success (M_S then holds the new capacity); 1 when the caller fixed M_S;
// the failing array id when memory ran out. Contents are kept either way.
int32_t grow_presolve_stack(int32_t request);
// The same, also naming the arrays of the two stacks (28 reals, 29 ints).
int32_t grow_presolve_stack_ids(int32_t request, int32_t& real_id, int32_t& int_id);

// Room for n_ints more ints and n_reals more doubles, growing when needed.
// False when the growth was refused: the pusher abandons its reduction.
bool reserve_presolve_record(int32_t n_ints, int32_t n_reals);

// Writers above the tops; the room must have been reserved.
void push_presolve_int(int32_t value);
void push_presolve_real(double value);

// A record assembled in full, then pushed in one go: ints and reals in push
// order (the type is the caller's last int). False when the stack could not
// grow; nothing is pushed then.
struct PresolveRecord {
  std::vector<int32_t> ints;
  std::vector<double> reals;
  void clear() {
    ints.clear();
    reals.clear();
  }
};
bool push_presolve_record(const PresolveRecord& record);
bool push_presolve_record(std::initializer_list<int32_t> ints, std::initializer_list<double> reals);

// Readers for postsolve: the entry at the top, then lower the top by one.
int32_t pop_presolve_int();
double pop_presolve_real();
// The int at the top without popping it (the type of the newest record).
int32_t top_presolve_int();

// Both tops to 0 (the stacks keep their storage).
void clear_presolve_stack();

}  // namespace kl

#endif
