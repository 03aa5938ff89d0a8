// Name hashing: one shared table through which the readers add and find row
// and column names, listed names and integer keys, and the name table itself.
#ifndef KLSOL_RUNTIME_NAMES_H
#define KLSOL_RUNTIME_NAMES_H

#include <cstdint>

namespace kl {

extern int32_t name_hash_size;
extern int32_t store_new_names;

// Allocates an empty table of name_hash_size entries (storage of its own);
// returns false when the memory cannot be had.
bool allocate_name_hash();
void free_name_hash();
void reset_name_hash();

int32_t find_or_add_row_name(const char* name);
int32_t find_row_name(const char* name);
int32_t find_or_add_column_name(const char* name);
int32_t find_column_name(const char* name);
int32_t find_or_add_listed_name(const char* name);
int32_t find_listed_name(const char* name);
int32_t find_hash_key(int32_t key);
// -1 when n >= 1 and the first n characters are equal, else 0.
int32_t compare_chars(const char* a, const char* b, int32_t n);

}  // namespace kl

#endif
