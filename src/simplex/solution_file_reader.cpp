#include "simplex/solution_file_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "files/solution_file.h"
#include "problem/store.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/work_files.h"

namespace kl {

namespace {

// Header items read (from 1) and record items (from 1).
constexpr int32_t kItemCounts = 2;
constexpr int32_t kItemOutcome = 3;
constexpr int32_t kItemFormat = 8;
constexpr int32_t kRecordWords = 2;
constexpr int32_t kRecordValue = 3;
constexpr int32_t kRecordLower = 5;
constexpr int32_t kRecordUpper = 6;
constexpr int32_t kRecordDual = 8;
constexpr int kSenseByte = 5;
constexpr int kKindByte = 2;

// The item's bytes in file order: the writer builds them little-endian and
// the work-file layer stores them as they lie in memory.
struct ItemBytes {
  unsigned char bytes[8] = {};
};

int32_t int_at(const ItemBytes& item, int offset) {
  uint32_t u = 0;
  for (int k = 0; k < 4; ++k) u |= static_cast<uint32_t>(item.bytes[offset + k]) << (8 * k);
  return static_cast<int32_t>(u);
}

double double_of(const ItemBytes& item) {
  uint64_t u = 0;
  for (int k = 0; k < 8; ++k) u |= static_cast<uint64_t>(item.bytes[k]) << (8 * k);
  double x = 0.0;
  static_assert(sizeof x == sizeof u);
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// n items into items[0..n-1]; false when the work file reported an error
// (it may have left status 2 and its own message).
bool read_items(ItemBytes* items, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    WorkItem work;
    int32_t read_error = 0;
    get_work_item(work, read_error);
    if (read_error != 0) return false;
    static_assert(sizeof work.words == sizeof items[k].bytes);
    std::memcpy(items[k].bytes, work.words, sizeof work.words);
  }
  return true;
}

void report_file_failure() {
  begin_message(MSG_SOLUTION_FILE_ERROR);
  emit_message();
  error_number = MSG_SOLUTION_FILE_ERROR;
  status_code = STATUS_FILE_ERROR;
}

bool presolved() { return (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0; }

}  // namespace

int32_t expected_file_rows() {
  if (presolved()) return original_problem.nrow;
  return std::max(0, nrow - std::max(0, cut_row_count));
}

int32_t expected_file_columns() {
  if (presolved()) return original_problem.nseq - original_problem.first_col + 1;
  return nseq - store.first_col + 1;
}

bool SolutionFileReader::open(int32_t expected_rows, int32_t expected_columns) {
  close();
  int32_t error = 0;
  open_work_file(make_work_file_name(EXT_SOL).c_str(), WORK_READ, error);
  if (error != WORK_OPEN_OK) {
    report_file_failure();
    return false;
  }
  open_ = true;
  ItemBytes header[kSolutionHeaderItems];
  if (!read_items(header, kSolutionHeaderItems)) {
    close();
    report_file_failure();
    return false;
  }
  rows_ = int_at(header[kItemCounts - 1], 0);
  columns_ = int_at(header[kItemCounts - 1], 4);
  sense_code_ = header[kItemOutcome - 1].bytes[kSenseByte];
  solution_kind_ = header[kItemFormat - 1].bytes[kKindByte];
  // A file of other dimensions is the solution of another problem (or of
  // this one before an edit): its records would not fit the caller's arrays.
  if (rows_ != expected_rows || columns_ != expected_columns) {
    close();
    report_file_failure();
    return false;
  }
  return true;
}

bool SolutionFileReader::next(SolutionFileRecord& record) {
  ItemBytes items[kSolutionRecordItems];
  if (!open_ || !read_items(items, kSolutionRecordItems)) {
    close();
    report_file_failure();
    return false;
  }
  record.type_word = int_at(items[kRecordWords - 1], 0);
  record.status_word = int_at(items[kRecordWords - 1], 4);
  record.value = double_of(items[kRecordValue - 1]);
  record.lower = double_of(items[kRecordLower - 1]);
  record.upper = double_of(items[kRecordUpper - 1]);
  record.dual = double_of(items[kRecordDual - 1]);
  return true;
}

void SolutionFileReader::close() {
  if (!open_) return;
  open_ = false;
  close_work_file();
}

}  // namespace kl
