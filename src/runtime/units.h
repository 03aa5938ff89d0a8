// The unit file layer: a table of 20 units over low-level descriptors. A
// file of fixed-length records continues in part files NAME.1, NAME.2, ...
// when it grows past the largest size one part may hold.
#ifndef KLSOL_RUNTIME_UNITS_H
#define KLSOL_RUNTIME_UNITS_H

#include <cstdint>
#include <string>

namespace kl {

inline constexpr int kUnitCount = 20;
inline constexpr int kMaxParts = 50;  // part 0 (the file itself) to 49

enum UnitKind : int32_t {
  UNIT_FREE = 0,
  UNIT_WORDS = 2,    // stream, counts in 2-byte words
  UNIT_RECORDS = 3,  // fixed-length records
  UNIT_BYTES = 4,    // byte stream
};

struct Unit {
  int32_t kind = UNIT_FREE;
  int32_t open_flags = 0;
  int64_t record_length = 0;
  int64_t records_per_part = 0;
  int64_t bytes_per_part = 0;
  int32_t descriptor = -1;  // of the current part file
  int32_t parts[kMaxParts] = {};  // descriptors + 1 (0: not open)
  int64_t last_record = 0;  // last record of the current part file
  std::string name;
  int64_t position = 1;  // next record to read or write, from 1
};
extern Unit unit_table[kUnitCount];

// Largest part: 2^31 - 1 bytes. Tests lower it to exercise part files.
extern int64_t unit_part_bytes;

// Error cells: 0 success, 1 failure, negative for short transfers as noted.
void open_unit_read(const char* name, int32_t& unit, int64_t length, int32_t& error);
void open_unit_update(const char* name, int32_t& unit, int64_t length, int32_t& error);
void create_unit(const char* name, int32_t& unit, int64_t length, int32_t& error);
void open_unit_read_words(const char* name, int32_t& unit, int32_t& error);
void open_unit_update_words(const char* name, int32_t& unit, int32_t& error);
void create_unit_words(const char* name, int32_t& unit, int32_t& error);
void open_unit_read_bytes(const char* name, int32_t& unit, int32_t& error);
void create_unit_bytes(const char* name, int32_t& unit, int32_t& error);

// Record transfers (kind 3). A short transfer of k bytes gives -(k + 1).
void read_unit_record(int32_t unit, void* buffer, int32_t& error);
void write_unit_record(int32_t unit, const void* buffer, int32_t& error);
void read_unit_records(int32_t unit, void* buffer, int32_t count, int32_t& error);
void write_unit_records(int32_t unit, const void* buffer, int32_t count, int32_t& error);
void seek_unit_record(int32_t unit, int64_t record, int32_t& error);
void skip_unit_records(int32_t unit, int64_t n, int32_t& error);
void set_unit_record_length(int32_t unit, int64_t length);

// Stream transfers.
void read_unit_words(int32_t unit, void* buffer, int64_t n, int32_t& error);   // short: -(k + 1)
void write_unit_words(int32_t unit, const void* buffer, int64_t n, int32_t& error);
void read_unit_bytes(int32_t unit, void* buffer, int64_t n, int32_t& error);   // short: -k
void write_unit_bytes(int32_t unit, const void* buffer, int64_t n, int32_t& error);
void rewind_unit(int32_t unit, int32_t& error);
void seek_unit_byte(int32_t unit, int64_t offset, int32_t& error);
void seek_unit_end(int32_t unit);

void close_unit(int32_t unit, int32_t& error);
void close_all_units(int32_t& error);
// After a file error, before it is reported: every unit closed and the
// interrupt flag cleared.
void flush_message_output();
int32_t remove_file_parts(const char* name);
int32_t rename_file(const char* old_name, const char* new_name);

// Start-up: all units free (nothing is closed).
void reset_unit_table();

}  // namespace kl

#endif
