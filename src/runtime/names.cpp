// Name hashing with coalesced chaining over one shared table.
#include "runtime/names.h"

#include <cstring>
#include <string>

#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

int32_t name_hash_size = 0;
int32_t store_new_names = 1;

namespace {

// One entry of the table.
struct HashEntry {
  int32_t next;
  int32_t value;
};

// The table: entry e (1-based) is table_block[e - 1]; its storage is a block
// kept outside the registry, owned here alone.
void* table_block = nullptr;
int32_t table_entries = 0;  // entries of the block allocated
// Every entry below it is taken and it is itself free, or it exceeds the
// size when every entry is taken.
int32_t next_free_entry = 1;
// The value the next new key receives.
int32_t next_value = 1;

void* name_list_block = nullptr;
int32_t name_list_count = 0;
int32_t name_list_slot_bytes = 0;
void* key_list_block = nullptr;
int32_t key_list_count = 0;

// The key in its internal form: 8 x name_words characters, blank padded.
std::string name_key;

HashEntry& entry(int32_t e) { return static_cast<HashEntry*>(table_block)[e - 1]; }

int32_t key_length() { return 8 * (name_words > 0 ? name_words : 1); }

void make_key(const char* name) {
  name_key.resize(static_cast<std::size_t>(key_length()));
  build_name_key(name, name_key.data(), key_length());
}

// Entries in use: name_hash_size, never more than the block holds.
int32_t table_size() {
  if (name_hash_size <= 0) return 0;
  return name_hash_size < table_entries ? name_hash_size : table_entries;
}

// (|h| mod size) + 1, with |h| taken unsigned so that h = -2^31 has one;
// 0 while there is no table.
int32_t home_of(int32_t h) {
  const int32_t size = table_size();
  if (size == 0) return 0;
  const uint32_t magnitude = h < 0 ? 0u - static_cast<uint32_t>(h) : static_cast<uint32_t>(h);
  return static_cast<int32_t>(magnitude % static_cast<uint32_t>(size)) + 1;
}

// h := 10 h + d in 32-bit two's complement, wrapping.
uint32_t shift_in(uint32_t h, int32_t d) { return h * 10u + static_cast<uint32_t>(d); }

int32_t char_digit(char c) { return static_cast<int32_t>(static_cast<signed char>(c)) - '0'; }

// The V of default names adds nothing, so VVVVVV12 hashes to 12.
int32_t row_column_hash(const std::string& key) {
  const std::size_t words = key.size() / 8;
  uint32_t h = 0;
  for (std::size_t j = 0; j < 8; ++j) {
    int32_t column_sum = 0;
    for (std::size_t w = 0; w < words; ++w) {
      const char c = key[w * 8 + j];
      if (c != 'V') column_sum += char_digit(c);
    }
    h = shift_in(h, column_sum);
  }
  return static_cast<int32_t>(h);
}

int32_t listed_name_hash(const std::string& key) {
  uint32_t h = 0;
  for (char c : key) h = shift_in(h, char_digit(c));
  return static_cast<int32_t>(h);
}

int32_t key_hash(int32_t key) {
  const uint32_t bits = static_cast<uint32_t>(key);
  return static_cast<int16_t>(static_cast<uint16_t>((bits & 0xffffu) + (bits >> 16)));
}

// Name slot v of name_table, or null beyond its block.
const char* name_table_slot(int32_t v) {
  const char* block = name_array(ARR_NAME_TABLE);
  const int64_t slot_bytes = key_length();
  if (block == nullptr || v < 1 || v * slot_bytes > block_words(block) * 4) return nullptr;
  return block + (v - 1) * slot_bytes;
}

enum class KeyKind { kRow, kColumn, kListed, kInteger };

bool kind_accepts(KeyKind kind, int32_t v) {
  if (kind == KeyKind::kRow) return v < store.first_col;
  if (kind == KeyKind::kColumn) return v >= store.first_col;
  return true;
}

bool key_matches(KeyKind kind, int32_t v, int32_t integer_key) {
  if (!kind_accepts(kind, v)) return false;
  switch (kind) {
    case KeyKind::kInteger:
      return v <= key_list_count && listed_key(v) == integer_key;
    case KeyKind::kListed: {
      const char* slot = listed_name_slot(v);
      return slot != nullptr && name_list_slot_bytes == key_length() &&
             compare_chars(name_key.data(), slot, key_length()) != 0;
    }
    default: {
      const char* slot = name_table_slot(v);
      return slot != nullptr && compare_chars(name_key.data(), slot, key_length()) != 0;
    }
  }
}

// The key has been given value v: keep it in its store.
void store_key(KeyKind kind, int32_t v, int32_t integer_key) {
  if (kind == KeyKind::kInteger) {
    if (v <= key_list_count) static_cast<int32_t*>(key_list_block)[v - 1] = integer_key;
  } else if (kind != KeyKind::kListed && store_new_names == 1) {
    if (char* slot = const_cast<char*>(name_table_slot(v))) std::memcpy(slot, name_key.data(), name_key.size());
  }
}

void advance_next_free_entry() {
  do {
    ++next_free_entry;
  } while (next_free_entry <= table_size() && entry(next_free_entry).value != 0);
}

void report_table_full() {
  begin_message(MSG_NAME_HASH_FULL);
  insert_message_int(table_size());
  emit_message();
  status_code = STATUS_HASH_FULL;
}

// Lookup and addition for every kind: returns the value of the key, a new
// value when add is true and the key is absent, else 0.
int32_t find_key(KeyKind kind, int32_t home, int32_t integer_key, bool add) {
  if (home == 0) return 0;
  int32_t e = home;
  if (entry(e).value == 0) {
    if (!add) return 0;
  } else {
    while (true) {
      if (key_matches(kind, entry(e).value, integer_key)) return entry(e).value;
      if (entry(e).next == 0) break;
      e = entry(e).next;
    }
    if (!add) return 0;
    // Full only when no entry is left: the add that takes the last one
    // still keeps its key.
    if (next_free_entry > table_size()) {
      report_table_full();
      return 0;
    }
    entry(e).next = next_free_entry;
    e = next_free_entry;
  }
  entry(e).value = next_value;
  if (e == next_free_entry) advance_next_free_entry();
  store_key(kind, next_value, integer_key);
  return next_value++;
}

int32_t find_name(KeyKind kind, const char* name, bool add) {
  if (table_size() == 0) return 0;
  make_key(name);
  const int32_t hash = kind == KeyKind::kListed ? listed_name_hash(name_key) : row_column_hash(name_key);
  return find_key(kind, home_of(hash), 0, add);
}

bool allocate_store(void*& block, int32_t& count, int32_t new_count, int64_t words) {
  free_array(0, block);
  count = 0;
  if (new_count <= 0 || allocate_array(0, block, words) != 0) return false;
  count = new_count;
  return true;
}

}  // namespace

bool allocate_name_hash() {
  free_name_hash();
  if (name_hash_size <= 0 || allocate_array(0, table_block, words_for_ints(2 * int64_t{name_hash_size})) != 0)
    return false;
  table_entries = name_hash_size;
  reset_name_hash();
  return true;
}

void free_name_hash() {
  free_array(0, table_block);
  table_entries = 0;
}

void reset_name_hash() {
  next_free_entry = 1;
  next_value = 1;
  // Cleared here so that a reset table always behaves as an empty one.
  if (table_block != nullptr) std::memset(table_block, 0, sizeof(HashEntry) * static_cast<std::size_t>(table_entries));
}

int32_t find_or_add_row_name(const char* name) { return find_name(KeyKind::kRow, name, true); }
int32_t find_row_name(const char* name) { return find_name(KeyKind::kRow, name, false); }
int32_t find_or_add_column_name(const char* name) { return find_name(KeyKind::kColumn, name, true); }
int32_t find_column_name(const char* name) { return find_name(KeyKind::kColumn, name, false); }
int32_t find_or_add_listed_name(const char* name) { return find_name(KeyKind::kListed, name, true); }
int32_t find_listed_name(const char* name) { return find_name(KeyKind::kListed, name, false); }

int32_t find_hash_key(int32_t key) {
  return find_key(KeyKind::kInteger, home_of(key_hash(key)), key, true);
}

void build_name_key(const char* name, char* key, int32_t length) {
  int32_t i = 0;
  if (name != nullptr)
    for (; i < length && name[i] != '\0'; ++i) key[i] = name[i];
  for (; i < length; ++i) key[i] = ' ';
}

int32_t compare_chars(const char* a, const char* b, int32_t n) {
  if (n < 1) return 0;
  return std::memcmp(a, b, static_cast<std::size_t>(n)) == 0 ? -1 : 0;
}

bool allocate_name_list(int32_t count) {
  name_list_slot_bytes = key_length();
  if (!allocate_store(name_list_block, name_list_count, count, int64_t{count} * name_list_slot_bytes / 4)) return false;
  std::memset(name_list_block, ' ', static_cast<std::size_t>(int64_t{count} * name_list_slot_bytes));
  return true;
}

void free_name_list() {
  free_array(0, name_list_block);
  name_list_count = 0;
}

char* listed_name_slot(int32_t v) {
  if (name_list_block == nullptr || v < 1 || v > name_list_count) return nullptr;
  return static_cast<char*>(name_list_block) + int64_t{v - 1} * name_list_slot_bytes;
}

bool allocate_key_list(int32_t count) {
  return allocate_store(key_list_block, key_list_count, count, words_for_ints(count));
}

void free_key_list() {
  free_array(0, key_list_block);
  key_list_count = 0;
}

int32_t listed_key(int32_t v) {
  if (key_list_block == nullptr || v < 1 || v > key_list_count) return 0;
  return static_cast<int32_t*>(key_list_block)[v - 1];
}

void free_name_stores() {
  free_name_hash();
  free_name_list();
  free_key_list();
}

int32_t name_hash_next_free_entry() { return next_free_entry; }
int32_t name_hash_next_value() { return next_value; }

int32_t row_column_home_entry(const char* name) {
  make_key(name);
  return home_of(row_column_hash(name_key));
}

int32_t listed_name_home_entry(const char* name) {
  make_key(name);
  return home_of(listed_name_hash(name_key));
}

int32_t key_home_entry(int32_t key) { return home_of(key_hash(key)); }

}  // namespace kl
