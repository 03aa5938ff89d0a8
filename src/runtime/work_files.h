// Work files: binary files of 8-byte items read and written through one
// buffered record of 8192 words, and a second such file, the scratch file.
// Both are instances of one buffered record type; they differ only in the
// messages they report and in the status of a failed open for reading.
#ifndef KLSOL_RUNTIME_WORK_FILES_H
#define KLSOL_RUNTIME_WORK_FILES_H

#include <cstdint>
#include <string>

namespace kl {

// One record of a work file: 8192 words, 32768 bytes, 4096 items. The word
// count is even, so an item never straddles two records.
inline constexpr int32_t kWorkRecordWords = 8192;
inline constexpr int64_t kWorkRecordBytes = 4 * kWorkRecordWords;
inline constexpr int32_t kWorkRecordItems = kWorkRecordWords / 2;

enum WorkFileMode : int32_t {
  WORK_READ = 1,    // existing file, read only
  WORK_WRITE = 2,   // created or truncated (an existing file opened when that fails)
  WORK_UPDATE = 3,  // existing file read and rewritten in place (created when missing)
};

// Values of the error cell of open_work_file / open_scratch_file.
enum WorkOpenError : int32_t {
  WORK_OPEN_OK = 0,
  WORK_OPEN_READ_FAILED = 1,   // mode 1: the file cannot be opened
  WORK_OPEN_WRITE_FAILED = 2,  // modes 2 and 3 cannot open or create; or a bad mode or no name
};

// An item: 8 bytes, two consecutive words of the record (little endian on
// disk, as the host stores them). It holds one double, two ints or 8
// characters.
struct WorkItem {
  int32_t words[2] = {0, 0};
};
WorkItem item_from_double(double x);
WorkItem item_from_words(int32_t first, int32_t second);
double item_double(const WorkItem& item);

// The messages and the one status that set the two files apart.
struct WorkFileReports {
  int32_t read_open_status;  // status_code after a failed open for reading (0: left alone)
  int32_t write_failed;      // insert: the unit layer's error code
  int32_t read_failed;       // insert: the unit layer's error code
  int32_t step_back_failed;  // insert: the unit layer's error code
  int32_t close_failed;      // insert: the unit number
  bool close_reports_code;   // the close message also takes the close's error code
};

// A buffered work file. Closed: unit -1, both switches off.
struct WorkFileBuffer {
  int32_t unit = -1;
  // One record of the file; words [0, valid_words) came from the file when
  // the record was read, the rest is zero (or what puts stored there).
  int32_t words[kWorkRecordWords] = {};
  // Index (from 0) of the next word to use; even, 0 to kWorkRecordWords.
  int32_t position = 0;
  // Error cell of the last record read: 0, 1 for a failed read, -(k + 1) for
  // a short read of k bytes (-1 at the end of the file).
  int32_t read_error = 0;
  // Words of the buffer that the last record read delivered.
  int32_t valid_words = 0;
  // The end of the file met by the last record read has been reported (it
  // is reported once, at the first item asked for past it).
  bool end_reported = false;
  bool reading = false;  // modes 1 and 3
  bool writing = false;  // modes 2 and 3
  // Name the unit was opened under: a unit closed behind this file's back
  // (and perhaps reused for another file) is not taken for this one.
  std::string name;
  const WorkFileReports* reports = nullptr;
};
extern WorkFileBuffer work_file_buffer;
extern WorkFileBuffer scratch_file_buffer;

// File name of the current problem: its stem, ".", and the extension of the
// file-name table by its slot number (a third character that is blank is
// dropped: "lp " gives ".lp"). Case is kept as given. The problem name is
// not changed. An unknown slot gives "".
std::string make_work_file_name(int extension_slot);
// The same with an extension of up to three characters given by the caller
// (for extensions outside the table, such as "so0").
std::string make_work_file_name(const char* extension);

// The routines over either file. Failures are reported here (messages,
// status_code 2 for transfer failures); the caller only ends its operation.

// Opens name in mode (WorkFileMode); error receives a WorkOpenError. A file
// still open in this buffer is closed first (written out as by
// close_buffered_file). Modes 1 and 3 read the first record.
void open_buffered_file(WorkFileBuffer& file, const char* name, int32_t mode, int32_t& error);
// The next item; read_error := the error cell of the record it came from
// (nonzero: the item is not data of the file). An item past the end of the
// file is reported once per record; a closed file gives read error 1.
void get_buffered_item(WorkFileBuffer& file, WorkItem& item, int32_t& read_error);
// Stores the item at the position; ignored while the file is not open for writing.
void put_buffered_item(WorkFileBuffer& file, const WorkItem& item);
// Moves n items forward; in update mode the skipped items keep their stored bytes.
void skip_buffered_items(WorkFileBuffer& file, int64_t n);
// put_buffered_item n times with a zero item.
void pad_buffered_file(WorkFileBuffer& file, int64_t n);
// Writes the record in hand (whole) when writing and the position is above
// 0, then closes the unit. Closing a closed file does nothing.
void close_buffered_file(WorkFileBuffer& file);

void put_buffered_double(WorkFileBuffer& file, double x);
void put_buffered_words(WorkFileBuffer& file, int32_t first, int32_t second);
void get_buffered_double(WorkFileBuffer& file, double& x, int32_t& read_error);
void get_buffered_words(WorkFileBuffer& file, int32_t& first, int32_t& second, int32_t& read_error);

// The work file.
void open_work_file(const char* name, int32_t mode, int32_t& error);
void get_work_item(WorkItem& item, int32_t& read_error);
void put_work_item(const WorkItem& item);
void skip_work_items(int64_t n);
void pad_work_file(int64_t n);
void close_work_file();

// The scratch file (a failed open for reading also sets status_code 32).
void open_scratch_file(const char* name, int32_t mode, int32_t& error);
void put_scratch_pair(int32_t first, int32_t second);
void pad_scratch_file(int64_t n);
void close_scratch_file();

}  // namespace kl

#endif
