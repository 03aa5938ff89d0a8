// The unit file layer: record files across part files, the unit table's
// limits, short transfers and the removal of part files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/units.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kRecord = 16;

struct Record {
  int64_t number;
  int64_t check;
};
static_assert(sizeof(Record) == kRecord);

Record record_for(int64_t n) { return {n, n * 7919}; }

int open_descriptor_count() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class Units : public ::testing::Test {
 protected:
  void SetUp() override {
    int32_t error = 0;
    kl::close_all_units(error);
    kl::reset_unit_table();
    kept_part_bytes_ = kl::unit_part_bytes;
  }
  void TearDown() override {
    int32_t error = 0;
    kl::close_all_units(error);
    kl::reset_unit_table();
    kl::unit_part_bytes = kept_part_bytes_;
  }

  // A created record file of n records with the given records per part.
  int32_t create_records(const std::string& name, int64_t per_part, int64_t n) {
    kl::unit_part_bytes = per_part * kRecord;
    int32_t unit = -1, error = 1;
    kl::create_unit(name.c_str(), unit, kRecord, error);
    EXPECT_EQ(error, 0);
    for (int64_t i = 1; i <= n; ++i) {
      const Record r = record_for(i);
      kl::write_unit_record(unit, &r, error);
      EXPECT_EQ(error, 0) << "record " << i;
    }
    return unit;
  }

  kltest::TempDir dir_;
  int64_t kept_part_bytes_ = 0;
};

TEST_F(Units, RecordsContinueInPartFilesAndReadBackAcrossParts) {
  const std::string name = dir_.file("WORK.DAT");
  const int32_t unit = create_records(name, 3, 8);
  EXPECT_EQ(fs::file_size(name), 3 * kRecord);
  EXPECT_EQ(fs::file_size(name + ".1"), 3 * kRecord);
  EXPECT_EQ(fs::file_size(name + ".2"), 2 * kRecord);
  EXPECT_FALSE(fs::exists(name + ".3"));

  // Back to record 1, then a sequential pass: each part must be entered at
  // its start although its descriptor was left at its end by the writes.
  int32_t error = 1;
  kl::seek_unit_record(unit, 1, error);
  ASSERT_EQ(error, 0);
  for (int64_t i = 1; i <= 8; ++i) {
    Record r{};
    kl::read_unit_record(unit, &r, error);
    ASSERT_EQ(error, 0) << "record " << i;
    EXPECT_EQ(r.number, i);
    EXPECT_EQ(r.check, record_for(i).check);
  }
  Record r{};
  kl::read_unit_record(unit, &r, error);
  EXPECT_EQ(error, -1);  // nothing left: a short read of 0 bytes

  // Random access, and a step back across a part boundary.
  kl::seek_unit_record(unit, 5, error);
  ASSERT_EQ(error, 0);
  kl::read_unit_record(unit, &r, error);
  EXPECT_EQ(r.number, 5);
  kl::seek_unit_record(unit, 4, error);
  kl::read_unit_record(unit, &r, error);
  EXPECT_EQ(r.number, 4);
  kl::skip_unit_records(unit, -3, error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(kl::unit_table[unit].position, 2);
  kl::read_unit_record(unit, &r, error);
  EXPECT_EQ(r.number, 2);

  // Overwrite record 4 (first of part 1) in place and read it back.
  kl::seek_unit_record(unit, 4, error);
  const Record changed{44, 0};
  kl::write_unit_record(unit, &changed, error);
  ASSERT_EQ(error, 0);
  kl::seek_unit_record(unit, 4, error);
  kl::read_unit_record(unit, &r, error);
  EXPECT_EQ(r.number, 44);
  EXPECT_EQ(fs::file_size(name + ".1"), 3 * kRecord);
}

TEST_F(Units, ReadOnlyUnitMeetsTheEndOfAFullLastPartOnTheNextRead) {
  const std::string name = dir_.file("FULL.DAT");
  int32_t unit = create_records(name, 3, 6);
  int32_t error = 1;
  kl::close_unit(unit, error);
  ASSERT_EQ(error, 0);
  // The writer opened part 2 on stepping past record 6; without it the
  // reader finds no part after the sixth record.
  ASSERT_TRUE(fs::remove(name + ".2"));

  kl::open_unit_read(name.c_str(), unit, kRecord, error);
  ASSERT_EQ(error, 0);
  Record r{};
  for (int64_t i = 1; i <= 6; ++i) {
    kl::read_unit_record(unit, &r, error);
    EXPECT_EQ(error, 0) << "record " << i;  // record 6 itself was read whole
    EXPECT_EQ(r.number, i);
  }
  kl::read_unit_record(unit, &r, error);
  EXPECT_EQ(error, 1);  // part file 2 does not exist
}

TEST_F(Units, MultiRecordTransferAdvancesByOne) {
  const std::string name = dir_.file("MULTI.DAT");
  int32_t unit = create_records(name, 100, 0);
  std::vector<Record> block;
  for (int64_t i = 1; i <= 4; ++i) block.push_back(record_for(i));
  int32_t error = 1;
  kl::write_unit_records(unit, block.data(), 4, error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(kl::unit_table[unit].position, 2);
  EXPECT_EQ(kl::unit_table[unit].record_length, kRecord);
  std::vector<Record> back(4);
  kl::seek_unit_record(unit, 1, error);
  kl::read_unit_records(unit, back.data(), 4, error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(back[3].number, 4);
}

TEST_F(Units, PartsPastTheLastAllowedAreRefused) {
  const std::string name = dir_.file("MANY.DAT");
  const int32_t unit = create_records(name, 1, 0);
  int32_t error = 0;
  kl::seek_unit_record(unit, kl::kMaxParts + 1, error);
  EXPECT_EQ(error, 1);
  kl::seek_unit_record(unit, kl::kMaxParts, error);
  ASSERT_EQ(error, 0);
  const Record r = record_for(kl::kMaxParts);
  kl::write_unit_record(unit, &r, error);
  EXPECT_EQ(error, 0);  // the last record allowed is written
  kl::write_unit_record(unit, &r, error);
  EXPECT_EQ(error, 1);
  EXPECT_TRUE(fs::exists(name + "." + std::to_string(kl::kMaxParts - 1)));
  EXPECT_FALSE(fs::exists(name + "." + std::to_string(kl::kMaxParts)));
}

TEST_F(Units, CloseReleasesPartsOpenedOutOfOrder) {
  const int before = open_descriptor_count();
  const std::string name = dir_.file("GAPS.DAT");
  const int32_t unit = create_records(name, 2, 0);
  int32_t error = 1;
  kl::seek_unit_record(unit, 7, error);  // part 3; parts 1 and 2 untouched
  ASSERT_EQ(error, 0);
  EXPECT_EQ(open_descriptor_count(), before + 2);
  kl::close_unit(unit, error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(kl::unit_table[unit].kind, kl::UNIT_FREE);
  EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(Units, TwentyFirstOpenFailsWithoutLeakingADescriptor) {
  const std::string name = dir_.file("ANY.TXT");
  write_file(name, "x");
  std::vector<int32_t> units;
  for (int i = 0; i < kl::kUnitCount; ++i) {
    int32_t unit = -1, error = 1;
    kl::open_unit_read_bytes(name.c_str(), unit, error);
    ASSERT_EQ(error, 0);
    EXPECT_EQ(unit, i);  // the lowest free unit
    units.push_back(unit);
  }
  const int before = open_descriptor_count();
  int32_t unit = -7, error = 0;
  kl::open_unit_read_bytes(name.c_str(), unit, error);
  EXPECT_EQ(error, 1);
  EXPECT_EQ(unit, -7);
  EXPECT_EQ(open_descriptor_count(), before);

  kl::close_unit(units[5], error);
  kl::open_unit_read_bytes(name.c_str(), unit, error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(unit, 5);
}

TEST_F(Units, OpeningAMissingFileFailsAndRecordsNothing) {
  int32_t unit = -1, error = 0;
  kl::open_unit_read(dir_.file("NONE.DAT").c_str(), unit, kRecord, error);
  EXPECT_EQ(error, 1);
  for (const kl::Unit& u : kl::unit_table) EXPECT_EQ(u.kind, kl::UNIT_FREE);
}

TEST_F(Units, ShortStreamReadsReportTheBytesRead) {
  const std::string name = dir_.file("FIVE.BIN");
  write_file(name, "abcde");
  int32_t unit = -1, error = 1;
  kl::open_unit_read_words(name.c_str(), unit, error);
  ASSERT_EQ(error, 0);
  char buffer[8] = {};
  kl::read_unit_words(unit, buffer, 2, error);
  EXPECT_EQ(error, 0);
  kl::read_unit_words(unit, buffer, 2, error);
  EXPECT_EQ(error, -2);  // one byte read
  EXPECT_EQ(buffer[0], 'e');
  kl::read_unit_words(unit, buffer, 2, error);
  EXPECT_EQ(error, -1);  // none

  int32_t bytes_unit = -1;
  kl::open_unit_read_bytes(name.c_str(), bytes_unit, error);
  kl::read_unit_bytes(bytes_unit, buffer, 3, error);
  EXPECT_EQ(error, 0);
  kl::read_unit_bytes(bytes_unit, buffer, 3, error);
  EXPECT_EQ(error, -2);
  kl::read_unit_bytes(bytes_unit, buffer, 3, error);
  EXPECT_EQ(error, 1);
  kl::seek_unit_byte(bytes_unit, 1, error);
  kl::read_unit_bytes(bytes_unit, buffer, 2, error);
  EXPECT_EQ(std::string(buffer, 2), "bc");
  kl::rewind_unit(bytes_unit, error);
  kl::read_unit_bytes(bytes_unit, buffer, 1, error);
  EXPECT_EQ(buffer[0], 'a');
}

TEST_F(Units, StreamWritesAppendAtTheEnd) {
  const std::string name = dir_.file("OUT.BIN");
  int32_t unit = -1, error = 1;
  kl::create_unit_words(name.c_str(), unit, error);
  ASSERT_EQ(error, 0);
  kl::write_unit_words(unit, "abcd", 2, error);
  EXPECT_EQ(error, 0);
  kl::close_unit(unit, error);
  kl::open_unit_update_words(name.c_str(), unit, error);
  ASSERT_EQ(error, 0);
  kl::seek_unit_end(unit);
  kl::write_unit_words(unit, "ef", 1, error);
  kl::close_unit(unit, error);
  std::ifstream in(name, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abcdef");

  kl::open_unit_read_bytes(name.c_str(), unit, error);
  kl::write_unit_bytes(unit, "zz", 2, error);
  EXPECT_EQ(error, 1);  // opened read-only
}

TEST_F(Units, RemoveFilePartsStopsAtTheFirstMissingPart) {
  const std::string name = dir_.file("BIG.DAT");
  for (const char* suffix : {"", ".1", ".2", ".4"}) write_file(name + suffix, "x");
  EXPECT_NE(kl::remove_file_parts(name.c_str()), 0);
  EXPECT_FALSE(fs::exists(name));
  EXPECT_FALSE(fs::exists(name + ".1"));
  EXPECT_FALSE(fs::exists(name + ".2"));
  EXPECT_TRUE(fs::exists(name + ".4"));

  const std::string single = dir_.file("ONE.DAT");
  write_file(single, "x");
  EXPECT_NE(kl::remove_file_parts(single.c_str()), 0);  // stops at the missing part 1
  EXPECT_FALSE(fs::exists(single));
}

TEST_F(Units, RenameAndCloseAll) {
  const std::string name = dir_.file("OLD.DAT");
  write_file(name, "x");
  EXPECT_EQ(kl::rename_file(name.c_str(), dir_.file("NEW.DAT").c_str()), 0);
  EXPECT_TRUE(fs::exists(dir_.file("NEW.DAT")));
  EXPECT_NE(kl::rename_file(name.c_str(), dir_.file("X.DAT").c_str()), 0);

  const int before = open_descriptor_count();
  int32_t unit = -1, error = 1;
  kl::open_unit_read_bytes(dir_.file("NEW.DAT").c_str(), unit, error);
  kl::open_unit_read_bytes(dir_.file("NEW.DAT").c_str(), unit, error);
  kl::close_all_units(error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(open_descriptor_count(), before);
  for (const kl::Unit& u : kl::unit_table) EXPECT_EQ(u.kind, kl::UNIT_FREE);
}

}  // namespace
