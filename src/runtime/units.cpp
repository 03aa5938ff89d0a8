// The unit file layer: numbered units over POSIX descriptors, with record
// files continued in part files NAME.1, NAME.2, ... past the size of one part file.
#include "runtime/units.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/platform.h"

namespace kl {

Unit unit_table[kUnitCount];
int64_t unit_part_bytes = 2147483647;

namespace {

constexpr mode_t kCreateMode = 0666;
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC;
constexpr int kUpdateFlags = O_RDWR | O_CLOEXEC;
constexpr int kCreateFlags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;

Unit* unit_in_use(int32_t unit) {
  if (unit < 0 || unit >= kUnitCount) return nullptr;
  Unit& u = unit_table[unit];
  if (u.kind == UNIT_FREE || u.descriptor < 0) return nullptr;
  return &u;
}

int open_descriptor(const std::string& name, int flags) {
  int fd;
  do {
    fd = (flags & O_CREAT) != 0 ? ::open(name.c_str(), flags, kCreateMode) : ::open(name.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string part_file_name(const std::string& name, int64_t part) {
  return name + "." + std::to_string(part);
}

// A free unit is taken before the file is opened, so a full table never
// leaves an open descriptor behind.
void open_unit(const char* name, int32_t& unit, int flags, int32_t kind, int64_t length, int32_t& error) {
  error = 1;
  if (name == nullptr || length < 0) return;
  int32_t free_unit = -1;
  for (int32_t i = 0; i < kUnitCount; ++i) {
    if (unit_table[i].kind == UNIT_FREE) {
      free_unit = i;
      break;
    }
  }
  if (free_unit < 0) return;
  const int fd = open_descriptor(name, flags);
  if (fd < 0) return;

  Unit& u = unit_table[free_unit];
  u = Unit{};
  u.kind = kind;
  u.open_flags = flags;
  u.record_length = length;
  u.records_per_part = length > 0 ? unit_part_bytes / length : 0;
  u.bytes_per_part = u.records_per_part * length;
  u.last_record = u.records_per_part > 0 ? u.records_per_part : INT64_MAX;
  u.name = name;
  u.descriptor = fd;
  u.parts[0] = fd + 1;
  u.position = 1;
  unit = free_unit;
  error = 0;
}

// Reads or writes until all n bytes moved, the end of the file, or a failure.
// Returns the bytes moved, or -1 when the first system call failed.
int64_t transfer_all(int fd, void* buffer, int64_t n, bool writing) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  int64_t done = 0;
  while (done < n) {
    const ssize_t r = writing ? ::write(fd, bytes + done, static_cast<size_t>(n - done))
                              : ::read(fd, bytes + done, static_cast<size_t>(n - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (r == 0) break;
    done += r;
  }
  return done;
}

int64_t part_of_record(const Unit& u, int64_t record) {
  return u.records_per_part > 0 ? (record - 1) / u.records_per_part : 0;
}

// Switches to the record's part file, opening it when needed; its
// offset is left to the caller. Returns 0, or 1 when that part lies past the
// last one allowed or cannot be opened.
int32_t switch_unit_part(Unit& u, int64_t record, int64_t& record_within_part) {
  const int64_t part = part_of_record(u, record);
  if (record < 1 || part >= kMaxParts) return 1;
  if (u.parts[part] == 0) {
    const int fd = open_descriptor(part_file_name(u.name, part), u.open_flags);
    if (fd < 0) return 1;
    u.parts[part] = fd + 1;
  }
  u.descriptor = u.parts[part] - 1;
  u.position = record;
  u.last_record = u.records_per_part > 0 ? u.records_per_part * (part + 1) : INT64_MAX;
  record_within_part = record - part * u.records_per_part;
  return 0;
}

int32_t position_unit_at(Unit& u, int64_t record) {
  int64_t within = 0;
  if (switch_unit_part(u, record, within) != 0) return 1;
  if (::lseek(u.descriptor, static_cast<off_t>((within - 1) * u.record_length), SEEK_SET) < 0) return 1;
  return 0;
}

// One read or write of bytes at the current offset, then the position steps
// on by one record. Crossing into the next part starts that part at its
// beginning, whatever offset an earlier pass left in its descriptor. When the
// next part cannot be opened the transfer just made still counts; the next
// transfer retries the switch and fails if that part file is still unavailable.
void record_transfer(int32_t unit, void* buffer, int64_t bytes, bool writing, int32_t& error) {
  error = 1;
  Unit* u = unit_in_use(unit);
  if (u == nullptr || buffer == nullptr || bytes <= 0) return;
  if (u->position > u->last_record && position_unit_at(*u, u->position) != 0) return;
  const int64_t moved = transfer_all(u->descriptor, buffer, bytes, writing);
  if (moved < 0) return;
  if (moved < bytes) {
    error = static_cast<int32_t>(-(moved + 1));
    return;
  }
  error = 0;
  ++u->position;
  if (u->position > u->last_record) position_unit_at(*u, u->position);
}

}  // namespace

void open_unit_read(const char* name, int32_t& unit, int64_t length, int32_t& error) {
  open_unit(name, unit, kReadFlags, UNIT_RECORDS, length, error);
}
void open_unit_update(const char* name, int32_t& unit, int64_t length, int32_t& error) {
  open_unit(name, unit, kUpdateFlags, UNIT_RECORDS, length, error);
}
void create_unit(const char* name, int32_t& unit, int64_t length, int32_t& error) {
  open_unit(name, unit, kCreateFlags, UNIT_RECORDS, length, error);
}
void open_unit_read_words(const char* name, int32_t& unit, int32_t& error) {
  open_unit(name, unit, kReadFlags, UNIT_WORDS, 0, error);
}
void open_unit_update_words(const char* name, int32_t& unit, int32_t& error) {
  open_unit(name, unit, kUpdateFlags, UNIT_WORDS, 0, error);
}
void create_unit_words(const char* name, int32_t& unit, int32_t& error) {
  open_unit(name, unit, kCreateFlags, UNIT_WORDS, 0, error);
}
void open_unit_read_bytes(const char* name, int32_t& unit, int32_t& error) {
  open_unit(name, unit, kReadFlags, UNIT_BYTES, 0, error);
}
void create_unit_bytes(const char* name, int32_t& unit, int32_t& error) {
  open_unit(name, unit, kCreateFlags, UNIT_BYTES, 0, error);
}

void read_unit_record(int32_t unit, void* buffer, int32_t& error) {
  const Unit* u = unit_in_use(unit);
  record_transfer(unit, buffer, u != nullptr ? u->record_length : 0, false, error);
}

void write_unit_record(int32_t unit, const void* buffer, int32_t& error) {
  const Unit* u = unit_in_use(unit);
  record_transfer(unit, const_cast<void*>(buffer), u != nullptr ? u->record_length : 0, true, error);
}

void read_unit_records(int32_t unit, void* buffer, int32_t count, int32_t& error) {
  const Unit* u = unit_in_use(unit);
  record_transfer(unit, buffer, u != nullptr ? u->record_length * count : 0, false, error);
}

void write_unit_records(int32_t unit, const void* buffer, int32_t count, int32_t& error) {
  const Unit* u = unit_in_use(unit);
  record_transfer(unit, const_cast<void*>(buffer), u != nullptr ? u->record_length * count : 0, true, error);
}

void seek_unit_record(int32_t unit, int64_t record, int32_t& error) {
  error = 1;
  Unit* u = unit_in_use(unit);
  if (u == nullptr) return;
  error = position_unit_at(*u, record);
}

// Works with part-file arithmetic so that a step back across a part
// boundary (the work files step back one record after each block read)
// lands in the right part.
void skip_unit_records(int32_t unit, int64_t n, int32_t& error) {
  error = 1;
  Unit* u = unit_in_use(unit);
  if (u == nullptr) return;
  error = position_unit_at(*u, u->position + n);
}

void set_unit_record_length(int32_t unit, int64_t length) {
  if (unit < 0 || unit >= kUnitCount || length < 0) return;
  unit_table[unit].record_length = length;
}

void read_unit_words(int32_t unit, void* buffer, int64_t n, int32_t& error) {
  error = 1;
  const Unit* u = unit_in_use(unit);
  if (u == nullptr || n < 0 || (buffer == nullptr && n > 0)) return;
  const int64_t moved = transfer_all(u->descriptor, buffer, 2 * n, false);
  if (moved < 0) return;
  error = moved == 2 * n ? 0 : static_cast<int32_t>(-(moved + 1));
}

void write_unit_words(int32_t unit, const void* buffer, int64_t n, int32_t& error) {
  error = 1;
  const Unit* u = unit_in_use(unit);
  if (u == nullptr || n < 0 || (buffer == nullptr && n > 0)) return;
  if (transfer_all(u->descriptor, const_cast<void*>(buffer), 2 * n, true) == 2 * n) error = 0;
}

void read_unit_bytes(int32_t unit, void* buffer, int64_t n, int32_t& error) {
  error = 1;
  const Unit* u = unit_in_use(unit);
  if (u == nullptr || n < 0 || (buffer == nullptr && n > 0)) return;
  if (n == 0) {
    error = 0;
    return;
  }
  const int64_t moved = transfer_all(u->descriptor, buffer, n, false);
  if (moved <= 0) return;
  error = moved == n ? 0 : static_cast<int32_t>(-moved);
}

void write_unit_bytes(int32_t unit, const void* buffer, int64_t n, int32_t& error) {
  error = 1;
  const Unit* u = unit_in_use(unit);
  if (u == nullptr || n < 0 || (buffer == nullptr && n > 0)) return;
  if (transfer_all(u->descriptor, const_cast<void*>(buffer), n, true) == n) error = 0;
}

void rewind_unit(int32_t unit, int32_t& error) { seek_unit_byte(unit, 0, error); }

void seek_unit_byte(int32_t unit, int64_t offset, int32_t& error) {
  error = 1;
  const Unit* u = unit_in_use(unit);
  if (u == nullptr) return;
  if (::lseek(u->descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0) error = 0;
}

void seek_unit_end(int32_t unit) {
  const Unit* u = unit_in_use(unit);
  if (u != nullptr) ::lseek(u->descriptor, 0, SEEK_END);
}

// Every open part is closed, not only those up to the first gap: a seek can
// open part 3 while parts 1 and 2 were never touched.
void close_unit(int32_t unit, int32_t& error) {
  error = 0;
  if (unit < 0 || unit >= kUnitCount) return;
  Unit& u = unit_table[unit];
  if (u.kind == UNIT_FREE) return;
  for (int32_t& part : u.parts) {
    if (part == 0) continue;
    if (::close(part - 1) != 0) error = 1;
    part = 0;
  }
  u = Unit{};
}

void close_all_units(int32_t& error) {
  error = 0;
  for (int32_t i = 0; i < kUnitCount; ++i) {
    if (unit_table[i].kind == UNIT_FREE) continue;
    int32_t e = 0;
    close_unit(i, e);
    if (e != 0) error = e;
  }
}

void flush_message_output() {
  int32_t error = 0;
  close_all_units(error);
  clear_interrupt();
}

int32_t remove_file_parts(const char* name) {
  if (name == nullptr) return -1;
  int32_t result = std::remove(name);
  for (int32_t part = 1; part < kMaxParts && result == 0; ++part) {
    result = std::remove(part_file_name(name, part).c_str());
  }
  return result;
}

int32_t rename_file(const char* old_name, const char* new_name) {
  if (old_name == nullptr || new_name == nullptr) return -1;
  return std::rename(old_name, new_name);
}

void reset_unit_table() {
  for (Unit& u : unit_table) u = Unit{};
}

}  // namespace kl
