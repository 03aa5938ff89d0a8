// The array registry: every numbered array of a problem is one block of
// 4-byte words, registered by array id and problem slot.
#ifndef KLSOL_RUNTIME_ARRAYS_H
#define KLSOL_RUNTIME_ARRAYS_H

#include <cstddef>
#include <cstdint>

namespace kl {

inline constexpr int kMaxArrayId = 99;  // ids 1..98 in use; row 99 is walked
inline constexpr int kSlotCount = 64;

// The current problem slot (1..64; 0 after KLFREEXO).
extern int32_t current_slot;

// Pointer cell of each array id of the working problem: every subsystem
// reads the array through it. Null when nothing is allocated.
extern void* array_cells[kMaxArrayId + 1];

// Registry tables, [id][slot]; slot 0 is never used.
extern void* array_registry[kMaxArrayId + 1][kSlotCount + 1];
extern void* saved_array_registry[kMaxArrayId + 1][kSlotCount + 1];

// A 1-based view of an array block: element k (from 1) is block[k - 1].
template <class T>
class OneBased {
 public:
  explicit OneBased(void* block) : base_(static_cast<T*>(block)) {}
  T& operator[](std::ptrdiff_t k) const { return base_[k - 1]; }
  T* data() const { return base_; }
  explicit operator bool() const { return base_ != nullptr; }

 private:
  T* base_;
};

// Word counts for n elements of each kind.
inline constexpr int64_t words_for_ints(int64_t n) { return n; }
inline constexpr int64_t words_for_reals(int64_t n) { return 2 * n; }

// Id 0 names a block kept outside the registry (its owner holds the only
// pointer). All routines below return an error: 0, or the array id when the memory
// could not be obtained. A block is zero-filled when new; growth keeps the
// contents and zero-fills the new tail.

// cell := a new block of n words (null for n = 0), registered for the
// current slot. The old block of the cell is not released.
int32_t allocate_array(int32_t id, void*& cell, int64_t n);
// As allocate_array, but the registry changes only when id > 0.
int32_t allocate_array_keep_old(int32_t id, void*& cell, int64_t n);
// Grows or shrinks the cell's block to n words (new block when null); n = 0
// releases it. On failure the cell keeps its old block.
int32_t allocate_or_grow_array(int32_t id, void*& cell, int64_t n);
// n = 0 releases the block. Otherwise resizes an existing block; when the
// larger block cannot be obtained the old block stays in the cell and the id
// is returned. A null cell stays null.
int32_t resize_array(int32_t id, void*& cell, int64_t n);
// Releases the block, cell := null, registry cell := null.
void free_array(int32_t id, void*& cell);
void* get_registered_array(int32_t id);
// Saved registry := the current block; then a block of old_n + extra_n words
// whose first old_n words are copied from the old one.
int32_t grow_array_keep_saved(int32_t id, void*& cell, int64_t old_n, int64_t extra_n);
// Exchanges the registry and the saved registry cell of (id, current slot);
// cell := the block now current.
void swap_saved_array(int32_t id, void*& cell);
// Size in 4-byte words of a block from this registry (0 for null).
int64_t block_words(const void* block);

// Frees every array id 1..99 registered for the slot in both tables and
// nulls their registry cells and the pointer cells; slot <= 0 does nothing.
void free_problem_registry(int32_t slot);

// Start-up: every cell null, current slot 1.
void reset_array_registry();

// Gives the large blocks kept for reuse back to the system (at shutdown).
void release_kept_mappings();

// Zero-filled pages straight from the system for a large block of `bytes`
// bytes (a released mapping of the same size is taken again, cleared where
// it was touched), or null; `unmap_pages` gives them back with the same
// size, kept for reuse within a limit. False from `large_blocks_mapped`
// means the build keeps every block on the heap (the sanitizers' builds).
bool large_blocks_mapped();
void* map_zero_pages(size_t bytes);
void unmap_pages(void* raw, size_t bytes);

// Test hook: make the next n block requests fail (0 to stop failing).
void fail_next_allocations(int32_t n);

}  // namespace kl

#endif
