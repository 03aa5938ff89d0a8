// The solution collection SOLFILE: both layouts against hand-made bytes for
// a small solved problem, record splitting and the packing thresholds of the
// matrix columns, and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/golden_bytes.h"
#include "files/solution_collection.h"
#include "files/solution_file.h"
#include "files/solved_fixture.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kltest::Bytes;

constexpr std::size_t kRecord = 4096;
constexpr std::size_t kOldRecord = 512;
const unsigned char kFF = 0xFF;

void set_name(int32_t position, const char* name) {
  char* table = static_cast<char*>(kl::array_cells[kl::ARR_NAME_TABLE]);
  char* field = table + static_cast<std::ptrdiff_t>(position - 1) * kl::name_words * 8;
  std::memset(field, ' ', 8);
  std::memcpy(field, name, std::strlen(name));
}

std::string attribute(int n) { return std::string(kl::character_attributes[n - 3000], 8); }

struct RecordView {
  std::string tag;
  int32_t used;
  std::string bytes;
};

std::vector<RecordView> records_of(const std::string& file, std::size_t size) {
  std::vector<RecordView> out;
  for (std::size_t at = 0; at + size <= file.size(); at += size) {
    RecordView r;
    r.tag = file.substr(at, 4);
    std::memcpy(&r.used, file.data() + at + 4, 4);
    r.bytes = file.substr(at, size);
    out.push_back(r);
  }
  return out;
}

int32_t int_at(const std::string& bytes, std::size_t offset) {
  int32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

class SolutionCollection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    // SOLFILE is written in the current directory.
    kept_directory_ = fs::current_path();
    fs::current_path(dir_.path());
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kltest::captured_lines().clear();
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
    fs::current_path(kept_directory_);
  }

  // The solved fixture (solved_fixture.h) named Cap, demand, Bal, x, Y,
  // with its solution file.
  void lay_fixture() {
    kltest::lay_solved_problem(dir_.file("tiny"), {0.5, 1e-6, -1.5, 0.0, 0.0});
    set_name(1, "Cap");
    set_name(2, "demand");
    set_name(3, "Bal");
    set_name(4, "x");
    set_name(5, "Y");
    kl::write_solution_file(kl::SOLUTION_AS_LEFT);
    ASSERT_EQ(kl::status_code, kl::STATUS_OK);
  }

  // m rows x1 + ... <= 1 over columns with the given entry counts (column
  // c has entries in rows 0 .. counts[c]-1), no costs; solved.
  void load_and_solve(int32_t m, const std::vector<int32_t>& counts) {
    std::vector<char> types(static_cast<std::size_t>(m), 'L');
    std::vector<double> rhs(static_cast<std::size_t>(m), 1.0);
    std::vector<int32_t> starts{0};
    std::vector<int32_t> rows;
    std::vector<double> values;
    for (int32_t count : counts) {
      for (int32_t i = 0; i < count; ++i) {
        rows.push_back(i);
        values.push_back(1.0);
      }
      starts.push_back(static_cast<int32_t>(rows.size()));
    }
    const std::size_t n = counts.size();
    std::vector<double> cost(n, 0.0), lower(n, 0.0), upper(n, 1.0);
    ASSERT_EQ(KLLOADPROB(dir_.file("big").c_str(), static_cast<int32_t>(n), m, types.data(), rhs.data(), nullptr,
                         cost.data(), starts.data(), nullptr, rows.data(), values.data(), lower.data(), upper.data()),
              0);
    ASSERT_EQ(KLMINIM(""), 0);
  }

  std::string solfile() const { return kltest::file_text(dir_.file("SOLFILE")); }

  kltest::TempDir dir_;
  fs::path kept_directory_;
};

// The SROW / SCOL entries of the fixture in the current layout.
Bytes current_entries(bool rows) {
  Bytes e;
  const auto name = [&e](const char* n) { e.text(n, 16); };
  const auto lower_marker = [&e] { e.raw({kFF, kFF, kFF, kFF, kFF, kFF, kFF, kFF}); };
  const auto upper_marker = [&e] { e.raw({kFF, kFF, kFF, kFF, kFF, kFF, kFF, 0x7F}); };
  if (rows) {
    name("Cap");
    e.text("UL", 2).zeros(2).f64(4.0).f64(0.0);
    lower_marker();
    e.f64(4.0).f64(-0.5);
    name("demand");
    e.text("BS", 2).zeros(2).f64(2.5).f64(1.5).f64(1.0);
    upper_marker();
    e.f64(-1e-6);
    name("Bal");
    e.text("EQ", 2).zeros(2).f64(1.0).f64(0.0).f64(1.0).f64(1.0).f64(1.5);
  } else {
    name("x");
    e.text("BS", 2).zeros(2).f64(2.5).f64(1.0).f64(0.0);
    upper_marker();
    e.f64(0.0);
    name("Y");
    e.text("BS", 2).zeros(2).f64(1.5).f64(2.0).f64(0.0).f64(3.0).f64(0.0);
  }
  return e;
}

std::string current_sequence(bool matrix) {
  const std::string a = attribute(3001);
  Bytes h;
  h.text("Vers2.00", 8).text(a, 8).blanks(8).text(a, 8).blanks(8);
  h.text(attribute(3003), 8).blanks(8).text(attribute(3004), 8).blanks(8).zeros(80);
  h.text("MIN ", 4).text("OPTM", 4).i32(3).f64(5.5).i32(3).i32(2).zeros(8);
  h.text(attribute(3005), 8).blanks(8).text(attribute(3002), 8).blanks(8);
  EXPECT_EQ(h.size() + 8, 228u);
  std::string s = kltest::collection_record("SHDR", h, kRecord);
  s += kltest::collection_record("SROW", current_entries(true), kRecord);
  s += kltest::collection_record("SCOL", current_entries(false), kRecord);
  if (matrix) {
    Bytes mh;
    mh.text(a, 8).blanks(8).i32(3).i32(2);
    s += kltest::collection_record("MHDR", mh, kRecord);
    Bytes mr;
    mr.text("Cap", 16).i32(1).text("demand", 16).i32(2).text("Bal", 16).i32(3);
    s += kltest::collection_record("MROW", mr, kRecord);
    // No objective row: the cost is an entry of row 0.
    Bytes mc;
    mc.text("x", 16).i32(4).i32(0).f64(1.0).i32(1).f64(1.0).i32(2).f64(1.0).i32(3).f64(1.0);
    mc.text("Y", 16).i32(3).i32(0).f64(2.0).i32(1).f64(1.0).i32(3).f64(-1.0);
    s += kltest::collection_record("MCOL", mc, kRecord);
  }
  s += kltest::collection_record("END ", Bytes{}, kRecord);
  return s;
}

std::string old_sequence(bool matrix) {
  const std::string a = attribute(3001);
  Bytes h;
  h.text(a, 8).text(a, 8).text(attribute(3003), 8).text(attribute(3004), 8).zeros(80);
  h.text("MIN ", 4).text("OPTM", 4).i32(3).f32(5.5f).i32(3).i32(2).zeros(4);
  h.text(attribute(3005), 8).text(attribute(3002), 8);
  EXPECT_EQ(h.size() + 8, 164u);
  std::string s = kltest::collection_record("SHDR", h, kOldRecord);
  Bytes rows;
  rows.text("Cap", 8).text("UL", 2).zeros(2).f32(4.0f).f32(0.0f).raw({kFF, kFF, kFF, kFF}).f32(4.0f).f32(-0.5f);
  rows.text("demand", 8).text("BS", 2).zeros(2).f32(2.5f).f32(1.5f).f32(1.0f).raw({kFF, kFF, kFF, 0x7F});
  rows.f32(-1e-6f);
  rows.text("Bal", 8).text("EQ", 2).zeros(2).f32(1.0f).f32(0.0f).f32(1.0f).f32(1.0f).f32(1.5f);
  s += kltest::collection_record("SROW", rows, kOldRecord);
  Bytes cols;
  cols.text("x", 8).text("BS", 2).zeros(2).f32(2.5f).f32(1.0f).f32(0.0f).raw({kFF, kFF, kFF, 0x7F}).f32(0.0f);
  cols.text("Y", 8).text("BS", 2).zeros(2).f32(1.5f).f32(2.0f).f32(0.0f).f32(3.0f).f32(0.0f);
  s += kltest::collection_record("SCOL", cols, kOldRecord);
  if (matrix) {
    Bytes mh;
    mh.text(a, 8).i32(3).i32(2);
    s += kltest::collection_record("MHDR", mh, kOldRecord);
    Bytes mr;
    mr.zeros(12).text("Cap", 8).i16(1).text("demand", 8).i16(2).text("Bal", 8).i16(3);
    s += kltest::collection_record("MROW", mr, kOldRecord);
    Bytes mc;
    mc.text("x", 8).i32(4).i32(0).f32(1.0f).i32(1).f32(1.0f).i32(2).f32(1.0f).i32(3).f32(1.0f);
    mc.text("Y", 8).i32(3).i32(0).f32(2.0f).i32(1).f32(1.0f).i32(3).f32(-1.0f);
    s += kltest::collection_record("MCOL", mc, kOldRecord);
  }
  s += kltest::collection_record("END ", Bytes{}, kOldRecord);
  return s;
}

TEST_F(SolutionCollection, CurrentLayoutMatchesHandMadeBytesAndAppends) {
  lay_fixture();
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 0x11), 0);
  ASSERT_EQ(KLOMNIOUT(), 0);
  const std::string one = current_sequence(true);
  EXPECT_EQ(solfile(), one) << kltest::first_difference(solfile(), one);
  // A second call appends a second complete sequence and changes nothing
  // already in the file.
  ASSERT_EQ(KLOMNIOUT(), 0);
  EXPECT_EQ(solfile(), one + one) << kltest::first_difference(solfile(), one + one);
}

TEST_F(SolutionCollection, OlderLayoutMatchesHandMadeBytes) {
  lay_fixture();
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 1), 0);
  ASSERT_EQ(KLOMNIOUT(), 0);
  EXPECT_EQ(solfile(), old_sequence(true)) << kltest::first_difference(solfile(), old_sequence(true));
  // OMNIMAT 0: the older layout without any matrix record.
  fs::remove(dir_.file("SOLFILE"));
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 0), 0);
  ASSERT_EQ(KLOMNIOUT(), 0);
  EXPECT_EQ(solfile(), old_sequence(false)) << kltest::first_difference(solfile(), old_sequence(false));
}

// When the last successive-LP pass still moved columns (attribute 1029), the
// older layout repeats the sequence under the name NONCVRGD; the current
// layout never does.
TEST_F(SolutionCollection, OlderLayoutRepeatsAnUnconvergedSequence) {
  lay_fixture();
  kl::int_attribute(kl::ATTR_OPTIMISER_1029) = 1;
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 0), 0);
  ASSERT_EQ(KLOMNIOUT(), 0);
  std::string second = old_sequence(false);
  second.replace(8, 8, "NONCVRGD");
  EXPECT_EQ(solfile(), old_sequence(false) + second) << kltest::first_difference(solfile(), old_sequence(false) + second);
  fs::remove(dir_.file("SOLFILE"));
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 0x10), 0);
  ASSERT_EQ(KLOMNIOUT(), 0);
  EXPECT_EQ(solfile(), current_sequence(false));
}

TEST_F(SolutionCollection, SenseAndSearchStatusWords) {
  lay_fixture();
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 0x10), 0);
  kl::dcv(kl::dc::SENSE_FACTOR) = -1.0;
  kl::global_status = 6;
  kl::status_letter = 'Z';
  kl::write_solution_file(kl::SOLUTION_AS_LEFT);
  ASSERT_EQ(KLOMNIOUT(), 0);
  const std::string file = solfile();
  ASSERT_GE(file.size(), kRecord);
  EXPECT_EQ(file.substr(160, 8), "MAX OPTM");
  // Global status 5 gives MINF; without a search the LP letter decides.
  kl::global_status = 5;
  ASSERT_EQ(KLOMNIOUT(), 0);
  kl::global_status = 0;
  ASSERT_EQ(KLOMNIOUT(), 0);
  const std::vector<RecordView> records = records_of(solfile(), kRecord);
  std::vector<std::string> words;
  for (const RecordView& r : records)
    if (r.tag == "SHDR") words.push_back(r.bytes.substr(164, 4));
  EXPECT_EQ(words, (std::vector<std::string>{"OPTM", "MINF", "FEAS"}));
}

// Rows fill SROW records of 68 entries (15 in the older layout); a full last
// record is not followed by an empty one.
TEST_F(SolutionCollection, SolutionRecordsSplitAtTheRecordSize) {
  struct Case {
    int32_t omnimat;
    int32_t rows;
    std::size_t size;
    std::vector<std::pair<std::string, int32_t>> records;
  };
  const std::vector<Case> cases = {
      {0x10, 68, kRecord, {{"SHDR", 228}, {"SROW", 4088}, {"SCOL", 68}, {"END ", 8}}},
      {0x10, 69, kRecord, {{"SHDR", 228}, {"SROW", 4088}, {"SROW", 68}, {"SCOL", 68}, {"END ", 8}}},
      {0, 15, kOldRecord, {{"SHDR", 164}, {"SROW", 488}, {"SCOL", 40}, {"END ", 8}}},
      {0, 16, kOldRecord, {{"SHDR", 164}, {"SROW", 488}, {"SROW", 40}, {"SCOL", 40}, {"END ", 8}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, OMNIMAT " + std::to_string(c.omnimat));
    fs::remove(dir_.file("SOLFILE"));
    load_and_solve(c.rows, {1});
    ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, c.omnimat), 0);
    ASSERT_EQ(KLOMNIOUT(), 0);
    const std::string file = solfile();
    ASSERT_EQ(file.size() % c.size, 0u);
    std::vector<std::pair<std::string, int32_t>> got;
    for (const RecordView& r : records_of(file, c.size)) got.emplace_back(r.tag, r.used);
    EXPECT_EQ(got, c.records);
  }
}

// MCOL packing: a column starts in the record in hand only while at most
// 4060 bytes (496) are filled; the record goes out after the entry that
// fills 4084 bytes (508), and the column goes on under its name with a new
// count. Rows beyond 204 (49) entries go on in a second MROW record.
TEST_F(SolutionCollection, MatrixPackingThresholds) {
  struct Case {
    int32_t omnimat;
    std::vector<int32_t> counts;
    std::size_t size;
    // (used length, first column's count in the record) of each MCOL record
    std::vector<std::pair<int32_t, int32_t>> mcol;
    std::vector<int32_t> mrow;
  };
  const std::vector<Case> cases = {
      // 336 entries fill 8 + 20 + 4032 = 4060: the next column starts here,
      // its first entry reaches 4092 and sends the record.
      {0x11, {336, 2}, kRecord, {{4092, 336}, {40, 1}}, {4088, 2648}},
      // 337 entries fill 4072: the next column starts a new record.
      {0x11, {337, 2}, kRecord, {{4072, 337}, {52, 2}}, {4088, 2668}},
      // 338 entries reach 4084: cut off, 2 more under the same name.
      {0x11, {340}, kRecord, {{4084, 338}, {52, 2}}, {4088, 2728}},
      // Older packed layout: 61 entries reach 508, the rest follows.
      {0x01, {63}, kOldRecord, {{508, 61}, {36, 2}}, {510, 160}},
      // Older unpacked layout: one record per column, 61 entries at most.
      {0x02, {63, 1}, kOldRecord, {{508, 61}, {36, 2}, {28, 1}}, {510, 160}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("OMNIMAT " + std::to_string(c.omnimat) + ", first column " + std::to_string(c.counts[0]));
    fs::remove(dir_.file("SOLFILE"));
    int32_t m = 0;
    for (int32_t k : c.counts) m = std::max(m, k);
    load_and_solve(m, c.counts);
    ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, c.omnimat), 0);
    ASSERT_EQ(KLOMNIOUT(), 0);
    std::vector<std::pair<int32_t, int32_t>> mcol;
    std::vector<int32_t> mrow;
    const bool old = c.size == kOldRecord;
    const std::size_t count_at = old ? 16 : 24;
    for (const RecordView& r : records_of(solfile(), c.size)) {
      if (r.tag == "MCOL") mcol.emplace_back(r.used, int_at(r.bytes, count_at));
      if (r.tag == "MROW") mrow.push_back(r.used);
    }
    EXPECT_EQ(mcol, c.mcol);
    EXPECT_EQ(mrow, c.mrow);
  }
}

TEST_F(SolutionCollection, OlderLayoutRefusesRowPositionsBeyond16Bits) {
  const int32_t m = kl::kOldLayoutMaxRow + 1;
  std::vector<char> types(static_cast<std::size_t>(m), 'L');
  std::vector<double> rhs(static_cast<std::size_t>(m), 1.0);
  const double cost[] = {0.0}, lower[] = {0.0}, upper[] = {1.0};
  const int32_t starts[] = {0, 1};
  const int32_t rows[] = {0};
  const double values[] = {1.0};
  ASSERT_EQ(KLLOADPROB(dir_.file("tall").c_str(), 1, m, types.data(), rhs.data(), nullptr, cost, starts, nullptr,
                       rows, values, lower, upper),
            0);
  ASSERT_EQ(KLSETICV(KLIC_OMNIMAT, 1), 0);
  EXPECT_EQ(KLOMNIOUT(), 32);
  EXPECT_TRUE(kltest::any_line_contains("32767"));
  EXPECT_FALSE(fs::exists(dir_.file("SOLFILE")));
}

TEST_F(SolutionCollection, Failures) {
  // No problem.
  EXPECT_EQ(KLOMNIOUT(), 32);
  EXPECT_FALSE(fs::exists(dir_.file("SOLFILE")));
  // No solution file yet: nothing is created.
  kltest::lay_solved_problem(dir_.file("fresh"), {0.5, 1e-6, -1.5, 0.0, 0.0});
  EXPECT_EQ(KLOMNIOUT(), 32);
  EXPECT_FALSE(fs::exists(dir_.file("SOLFILE")));
  // SOLFILE that can be neither opened nor created.
  kl::write_solution_file(kl::SOLUTION_AS_LEFT);
  fs::create_directory(dir_.file("SOLFILE"));
  kltest::captured_lines().clear();
  EXPECT_EQ(KLOMNIOUT(), 32);
  EXPECT_TRUE(kltest::any_line_contains("Error reading or writing"));
}

}  // namespace
