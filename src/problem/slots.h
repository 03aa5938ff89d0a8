// Problem slots: up to 64 problems held at once, one per registry column.
//
// A slot owns every array registered under it (both registry tables) and,
// once its problem has been put aside, a save buffer holding the problem's
// scalar records: the counts and store scalars, the double store (controls
// and internal values), all three control tables with their set-flags, the
// character attributes, the search and solution-file records, the work-file
// units and names, and the whole problem name. Controls therefore belong to
// the slot. Exactly one slot is current; switching exchanges the records and
// the pointer cells. The solver work arrays, the row lists and the factor do
// not move with a slot: they are freed before a switch and rebuilt after.
#ifndef KLSOL_PROBLEM_SLOTS_H
#define KLSOL_PROBLEM_SLOTS_H

#include <cstdint>

#include "runtime/arrays.h"

namespace kl {

// Lower bound of the fixed part of a save buffer in words; the problem name
// follows the fixed part, so a buffer is as long as its name needs.
inline constexpr int kSaveBufferWords = 967;

// Save buffer of each slot, null when the slot's problem was never put aside.
// Kept outside the registry (blocks of id 0) so that freeing a slot's factor
// arrays cannot release it.
extern void* slot_save_buffer[kSlotCount + 1];

// Class of each array id for the slot switch: 2 for ids 1..9, 3 for 21..25,
// 55 and 74, -2 for 28..30, 1 otherwise.
extern int32_t array_slot_class[kMaxArrayId + 1];

// Ids of the arrays that belong to a problem and move with its slot (both
// registry tables); everything else is derived and rebuilt after a switch.
inline constexpr int kPersistentIdCount = 52;
extern const int32_t kPersistentIds[kPersistentIdCount];

// Before the current problem's arrays are replaced: the column copy made the
// master again, then the factor, row lists and solver work arrays freed.
void release_slot_derived_arrays();
// After a problem's persistent arrays became current: the solver work
// arrays, the row copy and a cleared work vector, no valid factor. False
// after message 20 (status 32).
bool rebuild_slot_work_arrays();

// Start-up: no save buffers, slot 1 current, the class table filled.
void reset_problem_slots();

// Routine name of the slot messages.
namespace routine {
inline constexpr const char* kSavmat = "savmat  ";
inline constexpr const char* kResmat = "resmat  ";
inline constexpr const char* kCpymat = "cpymat  ";
inline constexpr const char* kDelmat = "delmat  ";
}  // namespace routine

// Modes of switch_matrix_slot.
enum SlotSwitchMode : int32_t {
  SLOT_SAVE = 1,
  SLOT_RESTORE = 2,
};

// Body of KLSAVMAT: puts the current problem aside in its own slot and makes
// the first slot without a save buffer current (an empty problem). *slot :=
// the slot holding the problem. When every slot already holds a saved
// problem nothing changes: message 420, status 32, *slot := 0. No problem:
// message 91, status 32.
void save_matrix_slot(int32_t* slot);
// Body of KLRESMAT: makes slot s current again, putting the current problem
// aside when its slot has a save buffer and discarding it otherwise. s
// outside 1..64 or never saved: message 421, status 32. s current: nothing.
void restore_matrix_slot(int32_t s);
// Body of KLCPYMAT: puts the current problem aside and continues with a copy
// of it (arrays, records and controls) in a free slot; *slot := the slot of
// the original. When the original's basis was factorised, the copy starts
// factorised on the same basis. The export names the copy afterwards. No
// problem (message 91), no free slot (message 420) or no memory for the
// copied arrays (message 20): status 32, *slot := 0, and the current problem
// stays current and unchanged. No memory for the copy's solver work arrays
// afterwards: message 20, status 32, the copy current without them.
void copy_matrix_slot(int32_t* slot);
// Body of KLDELMAT: frees slot s (its save buffer and every array registered
// for it); the current problem loses its factorisation. s above 64 or
// negative, or the current slot (its arrays are in use): message 421,
// status 32. A slot without a save buffer: nothing happens.
void delete_matrix_slot(int32_t s);

// The switch: mode SLOT_SAVE (any mode other than SLOT_RESTORE) as
// save_matrix_slot, SLOT_RESTORE as restore_matrix_slot(*slot).
void switch_matrix_slot(int32_t* slot, int32_t mode);
// Copies the current problem's scalar records into the current slot's save
// buffer (allocated or resized as needed); name_flag 1 also keeps the
// problem name. Returns 0, or -1 when the buffer cannot be had.
int32_t save_problem_blocks(int32_t name_flag);
// Duplicates every array of source_slot (both registry tables) into the
// current slot. Returns 0, or the id of an array that could not be copied
// (what was copied is freed again).
int32_t copy_slot_arrays(int32_t source_slot);
// Frees every array registered for the current slot.
void free_current_problem_arrays();
// Points the cell of every array at the current slot's registry entry.
void reload_array_cells();

// The first slot 1..64 without a save buffer other than the current one, or
// 0 when there is none.
int32_t first_free_slot();

}  // namespace kl

#endif
