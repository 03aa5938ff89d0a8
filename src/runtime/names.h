// Name hashing: one shared table through which the problem-file readers add
// and find row and column names, listed names and integer keys.
//
// The table (name_hash) has entries 1..name_hash_size, each a pair
// (next, value): value is the number a key stands for (0: entry free), next
// the following entry of the same chain (0: end). A key's home entry comes
// from its hash; a taken home entry sends the key to the lowest free entry,
// linked at the end of the home entry's chain (coalesced chaining).
//
// Keys are compared against their stores by value v:
// - row and column names: name_table (array id 27), the name of position v;
//   a value below store.first_col is a row, any other a column;
// - listed names: the name list, slot v (written by the caller before the add);
// - integer keys: the key list, entry v.
// Each store is storage of its own (never a numbered array of the problem),
// so freeing the factor or the solver work arrays cannot release it.
//
// A reader: sets name_hash_size, allocate_name_hash, reset_name_hash, adds
// and finds (testing status_code after every add), free_name_hash.
#ifndef KLSOL_RUNTIME_NAMES_H
#define KLSOL_RUNTIME_NAMES_H

#include <cstdint>

namespace kl {

// Entries of the table; set before allocate_name_hash.
extern int32_t name_hash_size;
// 1 (the start-up value): adding a row or column name also writes the name
// into name_table at the value it receives. Readers that only look names up
// set it to 0 for their read.
extern int32_t store_new_names;

// Allocates an empty table of name_hash_size entries (storage of its own,
// replacing any table left behind); returns false when the memory cannot be
// had or the size is not positive.
bool allocate_name_hash();
void free_name_hash();
// Empties the table: every entry free, values handed out from 1 again.
void reset_name_hash();

// Results: the value of the name; a new value when absent (the find_or_add
// routines) or 0 (the find routines). A full table makes an add report
// message 114 and status 16 and return 0: every caller tests status_code
// after each add. All return 0 while no table is allocated.
int32_t find_or_add_row_name(const char* name);
int32_t find_row_name(const char* name);
int32_t find_or_add_column_name(const char* name);
int32_t find_column_name(const char* name);
// The name is in practice listed_name_slot(v) of the value v about to be
// handed out, filled by the caller.
int32_t find_or_add_listed_name(const char* name);
int32_t find_listed_name(const char* name);
int32_t find_hash_key(int32_t key);
// The internal form of a name: its characters up to the NUL (or the first
// length of a fixed field without one), blank padded to length; nothing
// after the NUL is read.
void build_name_key(const char* name, char* key, int32_t length);
// -1 when n >= 1 and the first n characters are equal, else 0.
int32_t compare_chars(const char* a, const char* b, int32_t n);

// The name list: count slots of 8 x name_words characters each, blank
// padded. allocate_name_list returns false when the memory cannot be had.
bool allocate_name_list(int32_t count);
void free_name_list();
// Slot v (1-based) of the name list; null outside 1..count.
char* listed_name_slot(int32_t v);

// The key list: count integer keys; entry v holds the key of value v.
bool allocate_key_list(int32_t count);
void free_key_list();
// Key of value v; 0 outside the list.
int32_t listed_key(int32_t v);

// Shutdown: frees the table, the name list and the key list.
void free_name_stores();

// The numbers behind the routines, for the readers' diagnostics and tests.
int32_t name_hash_next_free_entry();
int32_t name_hash_next_value();
// Home entry of a row or column name, of a listed name, of an integer key.
int32_t row_column_home_entry(const char* name);
int32_t listed_name_home_entry(const char* name);
int32_t key_home_entry(int32_t key);

}  // namespace kl

#endif
