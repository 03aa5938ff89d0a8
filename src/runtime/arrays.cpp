// The array registry: blocks of 4-byte words with a hidden size header, and
// the per-slot tables that record which block belongs to which array id.
#include "runtime/arrays.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <new>
#include <vector>

#include <sys/mman.h>

namespace kl {

int32_t current_slot = 1;
void* array_cells[kMaxArrayId + 1];
void* array_registry[kMaxArrayId + 1][kSlotCount + 1];
void* saved_array_registry[kMaxArrayId + 1][kSlotCount + 1];

namespace {

constexpr int64_t kWordBytes = 4;
// The header keeps the payload 16-byte aligned, so a block can hold doubles
// and be read with vector loads.
constexpr size_t kHeaderBytes = 16;
constexpr int64_t kMaxWords = static_cast<int64_t>((SIZE_MAX - kHeaderBytes) / kWordBytes);

int32_t failing_requests = 0;

// Large blocks come straight from the system as fresh zero pages: a freed
// large block that the C heap kept would otherwise be cleared word by word
// on every reuse, and the factor's blocks are released and requested again
// on every change of the row count. Only the pages a solve touches cost
// anything then. From 64 KB on: the presolve's copies of the matrix carry
// a reserve for fill-in that is mostly never written, and clearing it on
// the heap faulted in every page of it. The sanitizers track heap blocks only, so they keep the
// heap for every size.
#if defined(__SANITIZE_ADDRESS__)
#define KLSOL_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define KLSOL_HEAP_ONLY 1
#endif
#endif
#ifdef KLSOL_HEAP_ONLY
constexpr size_t kMappedBlockBytes = SIZE_MAX;
#else
constexpr size_t kMappedBlockBytes = size_t{64} * 1024;
#endif

struct BlockHeader {
  int64_t words;
  // 0 for a heap block; for a mapping of its own, 1 + the header's offset
  // from the start of the mapping.
  int64_t mapped;
};
static_assert(sizeof(BlockHeader) <= kHeaderBytes);

BlockHeader* header_of(void* block) {
  return reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(block) - kHeaderBytes);
}
const BlockHeader* header_of(const void* block) {
  return reinterpret_cast<const BlockHeader*>(static_cast<const unsigned char*>(block) - kHeaderBytes);
}
void* payload_of(void* raw) { return static_cast<unsigned char*>(raw) + kHeaderBytes; }

bool request_refused(int64_t words) {
  if (words <= 0 || words > kMaxWords) return true;
  if (failing_requests > 0) {
    --failing_requests;
    return true;
  }
  return false;
}

size_t bytes_for(int64_t words) { return kHeaderBytes + static_cast<size_t>(words) * kWordBytes; }

// Released mappings kept for the next request of the same size: the factor
// releases and requests its blocks of one size again around every presolve
// and postsolve, and a fresh mapping costs its address-space set-up, page
// tables and a fault per page touched each time. A kept mapping is cleared
// when it is taken again, and only in the pages some earlier user touched.
struct KeptMapping {
  void* raw = nullptr;
  size_t bytes = 0;
};
constexpr int kKeptMappings = 48;
constexpr size_t kKeptBytesLimit = size_t{64} * 1024 * 1024;
constexpr size_t kPageBytes = 4096;
KeptMapping kept_mappings[kKeptMappings];
size_t kept_bytes = 0;

size_t mapping_bytes(size_t bytes) { return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes; }

// Zeroes the pages of a kept mapping that are in memory; the others read as
// zero already. Without the residency list the whole mapping is cleared.
void clear_resident_pages(void* raw, size_t bytes) {
  auto* base = static_cast<unsigned char*>(raw);
  const size_t pages = bytes / kPageBytes;
  std::vector<unsigned char> resident;
  try {
    resident.resize(pages);
  } catch (const std::bad_alloc&) {
    std::memset(base, 0, bytes);
    return;
  }
  if (mincore(raw, bytes, resident.data()) != 0) {
    std::memset(base, 0, bytes);
    return;
  }
  for (size_t p = 0; p < pages; ++p) {
    if ((resident[p] & 1) != 0) std::memset(base + p * kPageBytes, 0, kPageBytes);
  }
}

}  // namespace

bool large_blocks_mapped() { return kMappedBlockBytes != SIZE_MAX; }

void* map_zero_pages(size_t bytes) {
  bytes = mapping_bytes(bytes);
  for (KeptMapping& kept : kept_mappings) {
    if (kept.raw != nullptr && kept.bytes == bytes) {
      void* raw = kept.raw;
      kept = KeptMapping{};
      kept_bytes -= bytes;
      clear_resident_pages(raw, bytes);
      return raw;
    }
  }
  void* raw = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return raw == MAP_FAILED ? nullptr : raw;
}

void unmap_pages(void* raw, size_t bytes) {
  bytes = mapping_bytes(bytes);
  if (kept_bytes + bytes <= kKeptBytesLimit) {
    for (KeptMapping& kept : kept_mappings) {
      if (kept.raw != nullptr) continue;
      kept = KeptMapping{raw, bytes};
      kept_bytes += bytes;
      return;
    }
  }
  munmap(raw, bytes);
}

namespace {

void* stamp(void* raw, int64_t words) {
  auto* header = static_cast<BlockHeader*>(raw);
  header->words = words;
  header->mapped = 0;
  return payload_of(raw);
}

// Where a mapped block's header goes in its mapping: the payload is placed
// so that its first and last words sit as far from a page boundary as they
// can. The eta file fills its arrays from both ends, and a tiny problem then
// touches one page at each end of each array instead of a page at the
// bottom and two across the boundary at the top; on a machine where a fault
// on a fresh page is dear, those faults are most of a tiny solve's cost.
size_t mapped_header_offset(int64_t words) {
  const size_t tail = static_cast<size_t>(words) * kWordBytes % kPageBytes;
  const size_t centred = (kPageBytes - tail) / 2 / kHeaderBytes * kHeaderBytes;
  return centred >= kHeaderBytes ? centred - kHeaderBytes : 0;
}

size_t mapped_bytes(size_t header_offset, int64_t words) { return mapping_bytes(header_offset + bytes_for(words)); }

void* stamp_mapped(void* raw, size_t header_offset, int64_t words) {
  auto* header = reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(raw) + header_offset);
  header->words = words;
  header->mapped = static_cast<int64_t>(header_offset) + 1;
  return payload_of(header);
}

// A mapped block's mapping: its start and length.
void* mapping_of(BlockHeader* header) { return reinterpret_cast<unsigned char*>(header) - (header->mapped - 1); }
size_t mapping_length(const BlockHeader* header) {
  return mapped_bytes(static_cast<size_t>(header->mapped - 1), header->words);
}

// A mapped block of n words, zero-filled, or null.
void* new_mapped_block(int64_t words) {
  const size_t offset = mapped_header_offset(words);
  void* raw = map_zero_pages(mapped_bytes(offset, words));
  return raw == nullptr ? nullptr : stamp_mapped(raw, offset, words);
}

// A zero-filled heap block of n words, or null.
void* new_heap_block(int64_t words) {
  void* raw = std::calloc(1, bytes_for(words));
  return raw == nullptr ? nullptr : stamp(raw, words);
}

// A zero-filled block of n words, or null.
void* new_block(int64_t words) {
  if (request_refused(words)) return nullptr;
  return bytes_for(words) >= kMappedBlockBytes ? new_mapped_block(words) : new_heap_block(words);
}

void release_block(void* block) {
  if (block == nullptr) return;
  BlockHeader* header = header_of(block);
  if (header->mapped != 0) {
    unmap_pages(mapping_of(header), mapping_length(header));
  } else {
    std::free(header);
  }
}

// A block of n words holding what fits of the old one, the tail zero; null
// on failure, the old block then untouched.
void* reallocate_block(void* block, int64_t words) {
  BlockHeader* header = header_of(block);
  const int64_t old_words = header->words;
  const bool old_mapped = header->mapped != 0;
  if (request_refused(words)) return nullptr;
  const size_t bytes = bytes_for(words);
  const bool mapped = bytes >= kMappedBlockBytes;
  void* raw = nullptr;
  if (old_mapped && mapped) {
    // The pages a mapping gains are zero already; the header keeps its place.
    // A shrink keeps the words after the new end on the last page it
    // keeps, which a later growth would hand back: clear them now.
    if (words < old_words) {
      auto* from = static_cast<unsigned char*>(block) + words * kWordBytes;
      auto* old_end = static_cast<unsigned char*>(block) + old_words * kWordBytes;
      const auto page_end = (reinterpret_cast<uintptr_t>(from) / kPageBytes + 1) * kPageBytes;
      auto* to = std::min(old_end, reinterpret_cast<unsigned char*>(page_end));
      std::memset(from, 0, static_cast<size_t>(to - from));
    }
    const size_t offset = static_cast<size_t>(header->mapped - 1);
    raw = mremap(mapping_of(header), mapping_length(header), mapped_bytes(offset, words), MREMAP_MAYMOVE);
    if (raw == MAP_FAILED) return nullptr;
    return stamp_mapped(raw, offset, words);
  }
  if (old_mapped != mapped) {
    void* grown = mapped ? new_mapped_block(words) : new_heap_block(words);
    if (grown == nullptr) return nullptr;
    const int64_t kept = std::min(old_words, words);
    std::memcpy(grown, block, static_cast<size_t>(kept) * kWordBytes);
    release_block(block);
    return grown;
  }
  raw = std::realloc(header, bytes);
  if (raw == nullptr) return nullptr;
  void* grown = stamp(raw, words);
  if (words > old_words) {
    std::memset(static_cast<unsigned char*>(grown) + old_words * kWordBytes, 0,
                static_cast<size_t>(words - old_words) * kWordBytes);
  }
  return grown;
}

bool slot_valid(int32_t slot) { return slot >= 1 && slot <= kSlotCount; }

// Registry cell of (id, current slot), or null when the id or the slot has
// no cell (after KLFREEXO the current slot is 0).
void** registry_cell(void* (&table)[kMaxArrayId + 1][kSlotCount + 1], int32_t id) {
  if (id < 1 || id > kMaxArrayId || !slot_valid(current_slot)) return nullptr;
  return &table[id][current_slot];
}

void record(int32_t id, void* block) {
  if (void** cell = registry_cell(array_registry, id)) *cell = block;
}

// Failure code of an id; an id of 0 still has to read as a failure.
int32_t failure_code(int32_t id) { return id != 0 ? id : -1; }

// A fresh block for the cell (null for n = 0); the registry follows when asked.
int32_t fresh_block(int32_t id, void*& cell, int64_t n, bool register_it) {
  int32_t error = 0;
  cell = nullptr;
  if (n != 0) {
    cell = new_block(n);
    if (cell == nullptr) error = failure_code(id);
  }
  if (register_it) record(id, cell);
  return error;
}

// Resizes the cell's block to n words (n = 0 releases it). A null cell gets a
// new block only when asked. A refused request keeps the old block: nulling
// the cell would lose the array's contents and leak the block.
int32_t resize_block(int32_t id, void*& cell, int64_t n, bool allocate_when_null) {
  int32_t error = 0;
  if (n == 0) {
    release_block(cell);
    cell = nullptr;
  } else if (cell != nullptr || allocate_when_null) {
    void* block = cell != nullptr ? reallocate_block(cell, n) : new_block(n);
    if (block != nullptr) {
      cell = block;
    } else {
      error = failure_code(id);
    }
  }
  record(id, cell);
  return error;
}

}  // namespace

int32_t allocate_array(int32_t id, void*& cell, int64_t n) { return fresh_block(id, cell, n, true); }

int32_t allocate_array_keep_old(int32_t id, void*& cell, int64_t n) { return fresh_block(id, cell, n, id > 0); }

int32_t allocate_or_grow_array(int32_t id, void*& cell, int64_t n) { return resize_block(id, cell, n, true); }

int32_t resize_array(int32_t id, void*& cell, int64_t n) { return resize_block(id, cell, n, false); }

void free_array(int32_t id, void*& cell) {
  release_block(cell);
  cell = nullptr;
  record(id, nullptr);
}

void* get_registered_array(int32_t id) {
  void** cell = registry_cell(array_registry, id);
  return cell != nullptr ? *cell : nullptr;
}

int32_t grow_array_keep_saved(int32_t id, void*& cell, int64_t old_n, int64_t extra_n) {
  void** current = registry_cell(array_registry, id);
  void** saved = registry_cell(saved_array_registry, id);
  void* old_block = current != nullptr ? *current : cell;
  void* grown = nullptr;
  // The new block is obtained before any table changes, so a refusal leaves
  // the cell, the registry and the saved table exactly as they were.
  if (allocate_array_keep_old(0, grown, old_n + extra_n) != 0) return failure_code(id);
  if (saved != nullptr) *saved = old_block;
  cell = grown;
  record(id, grown);
  if (old_block != nullptr && grown != nullptr) {
    int64_t copy = old_n < block_words(old_block) ? old_n : block_words(old_block);
    if (copy > block_words(grown)) copy = block_words(grown);
    if (copy > 0) std::memcpy(grown, old_block, static_cast<size_t>(copy) * kWordBytes);
  }
  return 0;
}

void swap_saved_array(int32_t id, void*& cell) {
  void** current = registry_cell(array_registry, id);
  void** saved = registry_cell(saved_array_registry, id);
  if (current == nullptr || saved == nullptr) return;
  void* parked = *saved;
  *saved = *current;
  *current = parked;
  cell = parked;
}

int64_t block_words(const void* block) { return block != nullptr ? header_of(block)->words : 0; }

void free_problem_registry(int32_t slot) {
  if (!slot_valid(slot)) return;
  // A block may sit in both tables (grow_array_keep_saved and swaps put it
  // there); each is released once.
  void* released[2 * kMaxArrayId];
  int released_count = 0;
  for (int id = 1; id <= kMaxArrayId; ++id) {
    for (void** entry : {&array_registry[id][slot], &saved_array_registry[id][slot]}) {
      void* block = *entry;
      *entry = nullptr;
      if (block == nullptr || std::find(released, released + released_count, block) != released + released_count) {
        continue;
      }
      released[released_count++] = block;
      release_block(block);
    }
    if (slot == current_slot) array_cells[id] = nullptr;
  }
}

void release_kept_mappings() {
  for (KeptMapping& kept : kept_mappings) {
    if (kept.raw != nullptr) munmap(kept.raw, kept.bytes);
    kept = KeptMapping{};
  }
  kept_bytes = 0;
}

void reset_array_registry() {
  release_kept_mappings();
  std::memset(array_cells, 0, sizeof array_cells);
  std::memset(array_registry, 0, sizeof array_registry);
  std::memset(saved_array_registry, 0, sizeof saved_array_registry);
  current_slot = 1;
}

void fail_next_allocations(int32_t n) { failing_requests = n > 0 ? n : 0; }

}  // namespace kl
