// Work files and the scratch file: record counts, round trips across
// records, update in place, and the failures each file reports.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/problem_name.h"
#include "klsol32.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/startup.h"
#include "runtime/units.h"
#include "runtime/work_files.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Item k of the test files: doubles at even k, word pairs at odd k, so both
// typed helpers cross record boundaries.
void put_test_item(kl::WorkFileBuffer& file, int32_t k, int32_t salt = 0) {
  if (k % 2 == 0) {
    kl::put_buffered_double(file, 0.5 * k + salt);
  } else {
    kl::put_buffered_words(file, k + salt, -k);
  }
}

void expect_test_item(kl::WorkFileBuffer& file, int32_t k, int32_t salt = 0) {
  int32_t read_error = -99;
  if (k % 2 == 0) {
    double x = 0.0;
    kl::get_buffered_double(file, x, read_error);
    EXPECT_EQ(x, 0.5 * k + salt) << "item " << k;
  } else {
    int32_t first = 0;
    int32_t second = 0;
    kl::get_buffered_words(file, first, second, read_error);
    EXPECT_EQ(first, k + salt) << "item " << k;
    EXPECT_EQ(second, -k) << "item " << k;
  }
  EXPECT_EQ(read_error, 0) << "item " << k;
}

void write_test_file(kl::WorkFileBuffer& file, const std::string& name, int32_t items) {
  int32_t error = -1;
  kl::open_buffered_file(file, name.c_str(), kl::WORK_WRITE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  for (int32_t k = 0; k < items; ++k) put_test_item(file, k);
  kl::close_buffered_file(file);
}

bool unit_in_use(int32_t unit) {
  return unit >= 0 && unit < kl::kUnitCount && kl::unit_table[unit].kind != kl::UNIT_FREE;
}

// The library started with its message file, so the reports reach the
// captured output.
class WorkFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);  // start-up removes the entry
    kltest::captured_lines().clear();
    kl::status_code = kl::STATUS_OK;
  }
  void TearDown() override {
    kl::close_work_file();
    kl::close_scratch_file();
    KLFREEXO();
    int32_t error = 0;
    kl::close_all_units(error);
    kl::reset_unit_table();
    KLDEFINEUOPENTRY(nullptr);
  }

  kltest::TempDir dir_;
};

TEST_F(WorkFiles, FileNamesKeepTheCaseAndTheProblemName) {
  ASSERT_TRUE(kl::set_problem_name("dir/Model"));
  EXPECT_EQ(kl::make_work_file_name(kl::EXT_LP), "dir/Model.lp");
  EXPECT_EQ(kl::make_work_file_name(kl::EXT_SOL), "dir/Model.sol");
  EXPECT_EQ(kl::make_work_file_name("so0"), "dir/Model.so0");
  EXPECT_EQ(kl::make_work_file_name(0), "");
  EXPECT_EQ(kl::make_work_file_name(kl::EXT_QPS + 1), "");
  EXPECT_EQ(kl::get_problem_name(), "dir/Model");
  EXPECT_EQ(kl::problem_name.length, 10);

  ASSERT_TRUE(kl::set_problem_name(""));
  EXPECT_EQ(kl::make_work_file_name(kl::EXT_LP), ".lp");
}

TEST_F(WorkFiles, ARecordHoldsExactly4096Items) {
  struct Case {
    int32_t items;
    std::uintmax_t bytes;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 32768}, Case{4096, 32768}, Case{4097, 65536}, Case{8193, 98304}}) {
    const std::string name = dir_.file("count" + std::to_string(c.items) + ".wrk");
    write_test_file(kl::work_file_buffer, name, c.items);
    EXPECT_EQ(fs::file_size(name), c.bytes) << c.items << " items";
  }
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
}

TEST_F(WorkFiles, ItemsComeBackInOrderAcrossRecordsAndSkips) {
  ASSERT_TRUE(kl::set_problem_name(dir_.file("Run7").c_str()));
  const std::string name = kl::make_work_file_name(kl::EXT_WRK);
  constexpr int32_t kItems = 2 * kl::kWorkRecordItems;
  write_test_file(kl::work_file_buffer, name, kItems);
  ASSERT_TRUE(fs::exists(dir_.file("Run7.wrk")));

  int32_t error = -1;
  kl::open_work_file(name.c_str(), kl::WORK_READ, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  for (int32_t k = 0; k < 3996; ++k) expect_test_item(kl::work_file_buffer, k);
  kl::skip_work_items(100);  // ends exactly at the end of the record
  for (int32_t k = 4096; k < 4200; ++k) expect_test_item(kl::work_file_buffer, k);
  kl::skip_work_items(3990);  // crosses into the last record
  for (int32_t k = 8190; k < kItems; ++k) expect_test_item(kl::work_file_buffer, k);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
  EXPECT_TRUE(kltest::text_lines().empty());

  // The file ends exactly at a record boundary: one more item is an error.
  kl::WorkItem item;
  int32_t read_error = 0;
  kl::get_work_item(item, read_error);
  EXPECT_NE(read_error, 0);
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains("Error reading the work file"));
  kl::close_work_file();
  EXPECT_EQ(kl::work_file_buffer.unit, -1);
}

TEST_F(WorkFiles, UpdateRewritesRecordsInPlace) {
  const std::string name = dir_.file("update.wrk");
  constexpr int32_t kItems = 3 * kl::kWorkRecordItems;
  write_test_file(kl::work_file_buffer, name, kItems);
  constexpr int32_t kSalt = 1000000;

  // Get 10, put 10: the first record goes back in place.
  int32_t error = -1;
  kl::open_work_file(name.c_str(), kl::WORK_UPDATE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  for (int32_t k = 0; k < 10; ++k) expect_test_item(kl::work_file_buffer, k);
  for (int32_t k = 10; k < 20; ++k) put_test_item(kl::work_file_buffer, k, kSalt);
  kl::close_work_file();
  EXPECT_EQ(fs::file_size(name), 3u * 32768u);

  // Puts across the boundary of records 2 and 3, after skipping to them.
  kl::open_work_file(name.c_str(), kl::WORK_UPDATE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  kl::skip_work_items(2 * kl::kWorkRecordItems - 6);
  for (int32_t k = 2 * kl::kWorkRecordItems - 6; k < 2 * kl::kWorkRecordItems + 6; ++k) {
    put_test_item(kl::work_file_buffer, k, kSalt);
  }
  kl::close_work_file();
  EXPECT_EQ(fs::file_size(name), 3u * 32768u);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);

  kl::open_work_file(name.c_str(), kl::WORK_READ, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  for (int32_t k = 0; k < kItems; ++k) {
    const bool rewritten = (k >= 10 && k < 20) || (k >= 2 * kl::kWorkRecordItems - 6 && k < 2 * kl::kWorkRecordItems + 6);
    expect_test_item(kl::work_file_buffer, k, rewritten ? kSalt : 0);
  }
}

TEST_F(WorkFiles, UpdateCreatesAMissingFile) {
  const std::string name = dir_.file("fresh.wrk");
  int32_t error = -1;
  kl::open_work_file(name.c_str(), kl::WORK_UPDATE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  for (int32_t k = 0; k < kl::kWorkRecordItems + 3; ++k) put_test_item(kl::work_file_buffer, k);
  kl::close_work_file();
  EXPECT_EQ(fs::file_size(name), 2u * 32768u);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
  EXPECT_TRUE(kltest::text_lines().empty());

  kl::open_work_file(name.c_str(), kl::WORK_READ, error);
  for (int32_t k = 0; k < kl::kWorkRecordItems + 3; ++k) expect_test_item(kl::work_file_buffer, k);
}

// A second open closes the first file, written out, instead of leaving its
// unit behind.
TEST_F(WorkFiles, ReopeningWritesOutAndClosesThePreviousFile) {
  const std::string first = dir_.file("first.wrk");
  int32_t error = -1;
  kl::open_work_file(first.c_str(), kl::WORK_WRITE, error);
  const int32_t first_unit = kl::work_file_buffer.unit;
  for (int32_t k = 0; k < 5; ++k) put_test_item(kl::work_file_buffer, k);
  kl::open_work_file(dir_.file("second.wrk").c_str(), kl::WORK_WRITE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  EXPECT_EQ(fs::file_size(first), 32768u);
  EXPECT_EQ(kl::work_file_buffer.unit, first_unit);  // the freed unit is taken again
  kl::close_work_file();
  EXPECT_FALSE(unit_in_use(first_unit));
}

// A unit closed behind the file's back and taken by another file is left to
// that file.
TEST_F(WorkFiles, CloseLeavesAUnitReusedByAnotherFile) {
  int32_t error = -1;
  kl::open_work_file(dir_.file("lost.wrk").c_str(), kl::WORK_WRITE, error);
  const int32_t unit = kl::work_file_buffer.unit;
  kl::close_unit(unit, error);
  int32_t other = -1;
  kl::create_unit_bytes(dir_.file("other.bin").c_str(), other, error);
  ASSERT_EQ(other, unit);
  put_test_item(kl::work_file_buffer, 0);
  kl::close_work_file();
  EXPECT_TRUE(unit_in_use(other));
  EXPECT_EQ(fs::file_size(dir_.file("other.bin")), 0u);
  kl::close_unit(other, error);
}

// The two files differ only in their messages and one status.
struct FileCase {
  const char* label;
  kl::WorkFileBuffer* file;
  const char* read_text;
  const char* write_text;
  int32_t failed_read_open_status;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.label << " file"; }

class BothFiles : public WorkFiles, public ::testing::WithParamInterface<FileCase> {};

const FileCase kFileCases[] = {
    {"work", &kl::work_file_buffer, "Error reading the work file", "Error writing the work file", kl::STATUS_OK},
    {"scratch", &kl::scratch_file_buffer, "Error reading the scratch file", "Error writing the scratch file",
     kl::STATUS_REPORTED},
};

INSTANTIATE_TEST_SUITE_P(WorkAndScratch, BothFiles, ::testing::ValuesIn(kFileCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_P(BothFiles, ATruncatedFileGivesTheReadError) {
  kl::WorkFileBuffer& file = *GetParam().file;
  const std::string name = dir_.file("cut.wrk");
  write_test_file(file, name, kl::kWorkRecordItems + 1);
  fs::resize_file(name, 32768 + 100);

  int32_t error = -1;
  kl::open_buffered_file(file, name.c_str(), kl::WORK_READ, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  for (int32_t k = 0; k < kl::kWorkRecordItems; ++k) expect_test_item(file, k);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);

  kl::WorkItem item;
  int32_t read_error = 0;
  kl::get_buffered_item(file, item, read_error);
  EXPECT_EQ(read_error, -101);  // 100 bytes of the record arrived
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains(GetParam().read_text));
  EXPECT_TRUE(kltest::any_line_contains("-101"));
}

TEST_P(BothFiles, OpenFailuresAreReported) {
  kl::WorkFileBuffer& file = *GetParam().file;
  const std::string missing = dir_.file("missing.wrk");
  int32_t error = 0;
  kl::open_buffered_file(file, missing.c_str(), kl::WORK_READ, error);
  EXPECT_EQ(error, kl::WORK_OPEN_READ_FAILED);
  EXPECT_EQ(kl::status_code, GetParam().failed_read_open_status);
  EXPECT_TRUE(kltest::any_line_contains("Cannot open file for reading"));
  EXPECT_TRUE(kltest::any_line_contains(missing));
  EXPECT_EQ(file.unit, -1);

  const std::string unwritable = dir_.file("no/such/dir.wrk");
  for (int32_t mode : {kl::WORK_WRITE, kl::WORK_UPDATE}) {
    kltest::captured_lines().clear();
    kl::open_buffered_file(file, unwritable.c_str(), mode, error);
    EXPECT_EQ(error, kl::WORK_OPEN_WRITE_FAILED) << "mode " << mode;
    EXPECT_TRUE(kltest::any_line_contains("Cannot open file: " + unwritable)) << "mode " << mode;
  }

  struct BadOpen {
    const char* name;
    int32_t mode;
  };
  const std::string good = dir_.file("good.wrk");
  for (const BadOpen& bad : {BadOpen{good.c_str(), 0}, BadOpen{good.c_str(), 4}, BadOpen{nullptr, kl::WORK_WRITE}}) {
    kltest::captured_lines().clear();
    kl::open_buffered_file(file, bad.name, bad.mode, error);
    EXPECT_EQ(error, kl::WORK_OPEN_WRITE_FAILED) << "mode " << bad.mode;
    EXPECT_TRUE(kltest::any_line_contains("Invalid file mode")) << "mode " << bad.mode;
    EXPECT_EQ(file.unit, -1);
  }
  EXPECT_FALSE(fs::exists(good));
}

// A failed write closes that file's unit only: the message file and any
// other open file stay usable.
TEST_P(BothFiles, AWriteFailureClosesOnlyItsOwnUnit) {
  kl::WorkFileBuffer& file = *GetParam().file;
  kl::WorkFileBuffer& other = &file == &kl::work_file_buffer ? kl::scratch_file_buffer : kl::work_file_buffer;
  int32_t error = -1;
  kl::open_buffered_file(other, dir_.file("other.wrk").c_str(), kl::WORK_WRITE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  kl::open_buffered_file(file, "/dev/full", kl::WORK_WRITE, error);
  ASSERT_EQ(error, kl::WORK_OPEN_OK);
  const int32_t full_unit = file.unit;

  for (int32_t k = 0; k < 2 * kl::kWorkRecordItems + 1; ++k) put_test_item(file, k);
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains(GetParam().write_text));
  EXPECT_EQ(kltest::text_lines().size(), 1u);  // reported once, not per later put
  EXPECT_EQ(file.unit, -1);
  EXPECT_FALSE(unit_in_use(full_unit));
  EXPECT_TRUE(unit_in_use(kl::message_file.unit));
  EXPECT_TRUE(unit_in_use(other.unit));

  kl::close_buffered_file(file);  // nothing left to write or close
  EXPECT_EQ(kltest::text_lines().size(), 1u);
  put_test_item(other, 0);
  kl::close_buffered_file(other);
  EXPECT_EQ(fs::file_size(dir_.file("other.wrk")), 32768u);
}

}  // namespace
