#include "factor/sorting.h"

#include <cstring>

namespace kl {

void sort_pairs_descending(double* keys, int32_t* indices, const int32_t& n) {
  if (n < 2) return;
  int32_t h = 1;
  while (2 * h <= n) h *= 2;
  for (h = h - 1; h >= 1; h = (h - 1) / 2) {
    for (int32_t i = h; i < n; ++i) {
      const double key = keys[i];
      const int32_t index = indices[i];
      int32_t j = i - h;
      while (j >= 0 && keys[j] < key) {
        keys[j + h] = keys[j];
        indices[j + h] = indices[j];
        j -= h;
      }
      keys[j + h] = key;
      indices[j + h] = index;
    }
  }
}

namespace {

// Largest record the swap buffer holds.
constexpr int32_t kMaxRecordSize = 16;
// Ranges of at most this many records + 1 are insertion sorted.
constexpr int32_t kInsertionSortSpan = 10;

// The parameters of the sort in progress.
struct RecordSort {
  unsigned char* base = nullptr;
  int32_t size = 0;
};
RecordSort sort_state;

unsigned char* record(int32_t k) { return sort_state.base + static_cast<int64_t>(k) * sort_state.size; }

void keys_of(int32_t k, int32_t& first, int32_t& second) {
  std::memcpy(&first, record(k), 4);
  std::memcpy(&second, record(k) + 4, 4);
}

bool before(int32_t a, int32_t b) {
  int32_t a1, a2, b1, b2;
  keys_of(a, a1, a2);
  keys_of(b, b1, b2);
  return a2 < b2 || (a2 == b2 && a1 < b1);
}

void swap_records(int32_t a, int32_t b) {
  if (a == b) return;
  unsigned char buffer[kMaxRecordSize];
  std::memcpy(buffer, record(a), sort_state.size);
  std::memcpy(record(a), record(b), sort_state.size);
  std::memcpy(record(b), buffer, sort_state.size);
}

void insertion_sort(int32_t lo, int32_t hi) {
  for (int32_t i = lo + 1; i <= hi; ++i)
    for (int32_t k = i; k > lo && before(k, k - 1); --k) swap_records(k, k - 1);
}

void quicksort(int32_t lo, int32_t hi) {
  while (lo <= hi) {
    if (lo + kInsertionSortSpan >= hi) {
      insertion_sort(lo, hi);
      return;
    }
    const int32_t mid = lo + (hi - lo) / 2;
    if (before(mid, lo)) swap_records(lo, mid);
    if (before(hi, lo)) swap_records(lo, hi);
    if (before(hi, mid)) swap_records(mid, hi);
    swap_records(mid, hi - 1);
    const int32_t pivot = hi - 1;
    int32_t i = lo;
    int32_t k = hi - 1;
    for (;;) {
      while (before(++i, pivot)) {
      }
      while (before(pivot, --k)) {
      }
      if (i >= k) break;
      swap_records(i, k);
    }
    swap_records(i, hi - 1);
    quicksort(lo, i - 1);
    lo = i + 1;
  }
}

}  // namespace

void sort_records_by_pair(void* records, int32_t n, int32_t record_size) {
  if (records == nullptr || n < 2 || record_size < 8 || record_size > kMaxRecordSize) return;
  sort_state = {static_cast<unsigned char*>(records), record_size};
  quicksort(0, n - 1);
  sort_state = {};
}

void copy_bytes(const void* source, const int32_t& n, void* destination) {
  if (n <= 0) return;
  const auto* from = static_cast<const unsigned char*>(source);
  auto* to = static_cast<unsigned char*>(destination);
  for (int32_t k = 0; k < n; ++k) to[k] = from[k];
}

}  // namespace kl
