// Sorting utilities: pairs by descending real key, records by a pair of int
// keys, and a byte copy.
#ifndef KLSOL_FACTOR_SORTING_H
#define KLSOL_FACTOR_SORTING_H

#include <cstdint>

namespace kl {

// Shell sort (gaps 2^k - 1, ..., 3, 1) of n pairs into descending key order,
// each index moving with its key; equal keys keep their order within a gap
// chain. keys and indices hold n elements each.
void sort_pairs_descending(double* keys, int32_t* indices, const int32_t& n);

// Sorts n records of record_size bytes (8 or 16) into ascending order of
// (second int, first int). Not re-entrant: one sort at a time.
void sort_records_by_pair(void* records, int32_t n, int32_t record_size);

// Copies n bytes, first byte first; nothing when n <= 0.
void copy_bytes(const void* source, const int32_t& n, void* destination);

}  // namespace kl

#endif
