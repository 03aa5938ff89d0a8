// Work files and the scratch file: streams of 8-byte items over a record
// unit of 32768 bytes, one record held in memory at a time.
#include "runtime/work_files.h"

#include <cstring>
#include <string>

#include "runtime/problem_name.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "runtime/startup.h"
#include "runtime/units.h"

namespace kl {

namespace {

constexpr WorkFileReports kWorkFileReports = {
    STATUS_OK, MSG_WORK_FILE_WRITE, MSG_WORK_FILE_READ, MSG_WORK_FILE_STEP_BACK, MSG_CLOSE_FAILED, true,
};
constexpr WorkFileReports kScratchFileReports = {
    STATUS_REPORTED, MSG_SCRATCH_WRITE, MSG_SCRATCH_READ, MSG_SCRATCH_STEP_BACK, MSG_SCRATCH_CLOSE, false,
};

// Error cell of a record read that met the end of the file with no byte.
constexpr int32_t kReadAtEnd = -1;
constexpr int32_t kTransferFailed = 1;

void report_code(int32_t message, int32_t code) {
  begin_message(message);
  insert_message_int(code);
  emit_message();
}

void report_name(int32_t message, const char* name) {
  begin_message(message);
  if (name != nullptr) insert_message_string(name);
  emit_message();
}

// The unit still belongs to this file: a unit closed by someone else and
// taken for another file must never be written or closed from here.
bool unit_is_ours(const WorkFileBuffer& file) {
  if (file.unit < 0 || file.unit >= kUnitCount) return false;
  const Unit& u = unit_table[file.unit];
  return u.kind == UNIT_RECORDS && u.record_length == kWorkRecordBytes && u.name == file.name;
}

// Back to the closed state; the record in hand stays as it is.
void forget_file(WorkFileBuffer& file) {
  file.unit = -1;
  file.position = 0;
  file.reading = false;
  file.writing = false;
  file.name.clear();
}

// A transfer that failed leaves the file unusable: its own unit is closed
// (never the others, the message file's among them) and the file forgotten,
// so later puts and the close do not write into the wrong place.
void abandon_file(WorkFileBuffer& file) {
  if (unit_is_ours(file)) {
    int32_t error = 0;
    close_unit(file.unit, error);
  }
  clear_interrupt();
  status_code = STATUS_FILE_ERROR;
  forget_file(file);
}

// Writes the record in hand, always whole. Returns false (reported, file
// abandoned) on failure.
bool write_record(WorkFileBuffer& file) {
  int32_t code = kTransferFailed;
  if (unit_is_ours(file)) write_unit_record(file.unit, file.words, code);
  if (code == 0) return true;
  // The report must reach the sink even while lines are only being copied.
  set_message_mode(0);
  report_code(file.reports->write_failed, code);
  abandon_file(file);
  return false;
}

// Reads the next record into the buffer. What the read did not deliver is
// zeroed. A failed read or a short record (a truncated file) is reported at
// once; the end of the file is reported only when an item past it is asked
// for, since update mode reads at the end of a file it is extending. In
// update mode the unit is put back at the record just read, so that the next
// write replaces it; a failed or short read did not advance the unit, so the
// step back goes to the record's number rather than one record back.
// Returns false when the file was abandoned.
bool read_record(WorkFileBuffer& file, bool step_back) {
  const int64_t record = unit_is_ours(file) ? unit_table[file.unit].position : 0;
  int32_t code = kTransferFailed;
  if (record > 0) read_unit_record(file.unit, file.words, code);
  int64_t bytes = 0;
  if (code == 0) {
    bytes = kWorkRecordBytes;
  } else if (code < 0) {
    bytes = -(static_cast<int64_t>(code) + 1);
  }
  std::memset(reinterpret_cast<unsigned char*>(file.words) + bytes, 0, static_cast<std::size_t>(kWorkRecordBytes - bytes));
  file.valid_words = static_cast<int32_t>(bytes / 4);
  file.read_error = code;
  file.end_reported = false;
  if (code != 0 && code != kReadAtEnd) {
    report_code(file.reports->read_failed, code);
    status_code = STATUS_FILE_ERROR;
  }
  if (!step_back || record <= 0) return true;
  int32_t error = 0;
  seek_unit_record(file.unit, record, error);
  if (error == 0) return true;
  report_code(file.reports->step_back_failed, error);
  abandon_file(file);
  return false;
}

// The buffer is used up: in write and update modes it goes to the file, in
// read and update modes the next record comes in. Returns false when the
// file was abandoned.
bool next_record(WorkFileBuffer& file) {
  if (file.writing && !write_record(file)) return false;
  if (file.reading && !read_record(file, file.writing)) return false;
  file.position = 0;
  return true;
}

bool is_valid_mode(int32_t mode) { return mode == WORK_READ || mode == WORK_WRITE || mode == WORK_UPDATE; }

// Opens the unit for mode; false when neither way of opening worked.
bool open_unit_for(WorkFileBuffer& file, const char* name, int32_t mode) {
  int32_t error = 1;
  switch (mode) {
    case WORK_READ:
      open_unit_read(name, file.unit, kWorkRecordBytes, error);
      break;
    case WORK_WRITE:
      create_unit(name, file.unit, kWorkRecordBytes, error);
      if (error != 0) open_unit_update(name, file.unit, kWorkRecordBytes, error);
      break;
    case WORK_UPDATE:
      open_unit_update(name, file.unit, kWorkRecordBytes, error);
      if (error != 0) create_unit(name, file.unit, kWorkRecordBytes, error);
      break;
    default:
      break;
  }
  if (error != 0) file.unit = -1;
  return error == 0;
}

}  // namespace

namespace {
WorkFileBuffer closed_file_reporting(const WorkFileReports& reports) {
  WorkFileBuffer file;
  file.reports = &reports;
  return file;
}
}  // namespace

WorkFileBuffer work_file_buffer = closed_file_reporting(kWorkFileReports);
WorkFileBuffer scratch_file_buffer = closed_file_reporting(kScratchFileReports);

WorkItem item_from_double(double x) {
  WorkItem item;
  static_assert(sizeof(item.words) == sizeof(double));
  std::memcpy(item.words, &x, sizeof x);
  return item;
}

WorkItem item_from_words(int32_t first, int32_t second) {
  WorkItem item;
  item.words[0] = first;
  item.words[1] = second;
  return item;
}

double item_double(const WorkItem& item) {
  double x = 0.0;
  std::memcpy(&x, item.words, sizeof x);
  return x;
}

std::string make_work_file_name(const char* extension) {
  const int32_t length = problem_name.length;
  if (extension == nullptr || length < 1 || problem_name.text.size() < static_cast<std::size_t>(length)) return "";
  std::string name = problem_name.text.substr(0, static_cast<std::size_t>(length));
  for (int k = 0; k < 3 && extension[k] != '\0' && extension[k] != ' '; ++k) name.push_back(extension[k]);
  return name;
}

std::string make_work_file_name(int extension_slot) {
  if (extension_slot < EXT_MAT || extension_slot > EXT_QPS) return "";
  return make_work_file_name(kFileExtensions[extension_slot]);
}

void open_buffered_file(WorkFileBuffer& file, const char* name, int32_t mode, int32_t& error) {
  error = WORK_OPEN_OK;
  if (file.unit >= 0) close_buffered_file(file);
  forget_file(file);
  file.read_error = 0;
  file.valid_words = 0;
  file.end_reported = false;

  if (name == nullptr || name[0] == '\0' || !is_valid_mode(mode)) {
    begin_message(MSG_BAD_FILE_MODE);
    emit_message();
    clear_interrupt();
    error = WORK_OPEN_WRITE_FAILED;
    return;
  }
  if (!open_unit_for(file, name, mode)) {
    if (mode == WORK_READ) {
      report_name(MSG_OPEN_READ_FAILED, name);
      if (file.reports->read_open_status != STATUS_OK) status_code = file.reports->read_open_status;
      error = WORK_OPEN_READ_FAILED;
    } else {
      report_name(MSG_OPEN_WRITE_FAILED, name);
      clear_interrupt();
      error = WORK_OPEN_WRITE_FAILED;
    }
    return;
  }
  file.name = name;
  file.reading = mode != WORK_WRITE;
  file.writing = mode != WORK_READ;
  // A step back that failed in update mode has abandoned the file again.
  if (file.reading && !read_record(file, file.writing)) error = WORK_OPEN_WRITE_FAILED;
  file.position = 0;
}

void get_buffered_item(WorkFileBuffer& file, WorkItem& item, int32_t& read_error) {
  item = WorkItem{};
  read_error = kTransferFailed;
  if (!file.reading || file.unit < 0) return;
  if (file.position >= kWorkRecordWords && !next_record(file)) return;
  std::memcpy(item.words, &file.words[file.position], sizeof item.words);
  const bool past_data = file.position + 2 > file.valid_words;
  file.position += 2;
  read_error = file.read_error;
  if (past_data && file.read_error == kReadAtEnd && !file.end_reported) {
    report_code(file.reports->read_failed, file.read_error);
    status_code = STATUS_FILE_ERROR;
    file.end_reported = true;
  }
}

void put_buffered_item(WorkFileBuffer& file, const WorkItem& item) {
  if (!file.writing || file.unit < 0) return;
  if (file.position >= kWorkRecordWords && !next_record(file)) return;
  std::memcpy(&file.words[file.position], item.words, sizeof item.words);
  file.position += 2;
}

void skip_buffered_items(WorkFileBuffer& file, int64_t n) {
  if (file.unit < 0 || n <= 0) return;
  int64_t position = file.position + 2 * n;
  while (position > kWorkRecordWords) {
    file.position = kWorkRecordWords;
    if (!next_record(file)) return;
    position -= kWorkRecordWords;
  }
  file.position = static_cast<int32_t>(position);
}

void pad_buffered_file(WorkFileBuffer& file, int64_t n) {
  const WorkItem zero;
  for (int64_t k = 0; k < n && file.writing; ++k) put_buffered_item(file, zero);
}

void close_buffered_file(WorkFileBuffer& file) {
  if (file.unit < 0) return;
  if (!unit_is_ours(file)) {
    forget_file(file);
    return;
  }
  if (file.writing && file.position > 0 && !write_record(file)) return;
  const int32_t unit = file.unit;
  int32_t error = 0;
  close_unit(unit, error);
  forget_file(file);
  if (error == 0) return;
  begin_message(file.reports->close_failed);
  insert_message_int(unit);
  if (file.reports->close_reports_code) insert_message_int(error);
  emit_message();
}

void put_buffered_double(WorkFileBuffer& file, double x) { put_buffered_item(file, item_from_double(x)); }

void put_buffered_words(WorkFileBuffer& file, int32_t first, int32_t second) {
  put_buffered_item(file, item_from_words(first, second));
}

void get_buffered_double(WorkFileBuffer& file, double& x, int32_t& read_error) {
  WorkItem item;
  get_buffered_item(file, item, read_error);
  x = item_double(item);
}

void get_buffered_words(WorkFileBuffer& file, int32_t& first, int32_t& second, int32_t& read_error) {
  WorkItem item;
  get_buffered_item(file, item, read_error);
  first = item.words[0];
  second = item.words[1];
}

void open_work_file(const char* name, int32_t mode, int32_t& error) {
  open_buffered_file(work_file_buffer, name, mode, error);
}
void get_work_item(WorkItem& item, int32_t& read_error) { get_buffered_item(work_file_buffer, item, read_error); }
void put_work_item(const WorkItem& item) { put_buffered_item(work_file_buffer, item); }
void skip_work_items(int64_t n) { skip_buffered_items(work_file_buffer, n); }
void pad_work_file(int64_t n) { pad_buffered_file(work_file_buffer, n); }
void close_work_file() { close_buffered_file(work_file_buffer); }

void open_scratch_file(const char* name, int32_t mode, int32_t& error) {
  open_buffered_file(scratch_file_buffer, name, mode, error);
}
void put_scratch_pair(int32_t first, int32_t second) { put_buffered_words(scratch_file_buffer, first, second); }
void pad_scratch_file(int64_t n) { pad_buffered_file(scratch_file_buffer, n); }
void close_scratch_file() { close_buffered_file(scratch_file_buffer); }

}  // namespace kl
