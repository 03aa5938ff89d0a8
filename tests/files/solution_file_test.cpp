// The binary solution and range files: the writer against a byte-exact
// fixture, reading records back, updates in place, truncated files and the
// report header.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/problem_name.h"
#include "factor/basis.h"
#include "factor/scaling.h"
#include "files/solution_file.h"
#include "problem/search_state.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/work_files.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kFileRecordBytes = 32768;

// File bytes built by hand, little-endian.
class Bytes {
 public:
  Bytes& i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) data_.push_back(static_cast<unsigned char>(u >> (8 * k)));
    return *this;
  }
  Bytes& pair(int32_t a, int32_t b) { return i32(a).i32(b); }
  Bytes& f32(float x) {
    uint32_t u = 0;
    std::memcpy(&u, &x, 4);
    return i32(static_cast<int32_t>(u));
  }
  Bytes& f64(double x) {
    uint64_t u = 0;
    std::memcpy(&u, &x, 8);
    for (int k = 0; k < 8; ++k) data_.push_back(static_cast<unsigned char>(u >> (8 * k)));
    return *this;
  }
  Bytes& name(const char* text) {
    for (int k = 0; k < 8; ++k) data_.push_back(static_cast<unsigned char>(text[k]));
    return *this;
  }
  Bytes& bytes(std::initializer_list<int> list) {
    for (int b : list) data_.push_back(static_cast<unsigned char>(b));
    return *this;
  }
  Bytes& zeros(int32_t items) {
    data_.insert(data_.end(), 8 * static_cast<std::size_t>(items), 0);
    return *this;
  }
  // Pads to whole records of the work file, as every such file is written.
  std::vector<unsigned char> padded(unsigned char fill = 0) const {
    std::vector<unsigned char> out = data_;
    const std::size_t whole = (out.size() + kFileRecordBytes - 1) / kFileRecordBytes * kFileRecordBytes;
    out.resize(whole, fill);
    return out;
  }
  const std::vector<unsigned char>& data() const { return data_; }

 private:
  std::vector<unsigned char> data_;
};

std::vector<unsigned char> file_bytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string& name, const std::vector<unsigned char>& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct RowSpec {
  const char* name;
  int32_t type;
  uint32_t status;
  double rhs, lower, upper, x, dual;
};
struct ColumnSpec {
  const char* name;
  uint32_t status;
  double cost, lower, upper, x, reduced_cost;
  int32_t elements;
};

template <class T>
T* allocate(int id, int64_t n) {
  const int64_t words = (n * static_cast<int64_t>(sizeof(T)) + 3) / 4;
  kl::free_array(id, kl::array_cells[id]);
  EXPECT_EQ(kl::allocate_array(id, kl::array_cells[id], words), 0);
  return static_cast<T*>(kl::array_cells[id]);
}

// A problem with a result, laid into the numbered arrays as a load and an
// optimisation would leave it.
void load_by_hand(const std::vector<RowSpec>& rows, int32_t spare_rows, const std::vector<ColumnSpec>& columns,
                  int32_t words_per_name) {
  const auto m = static_cast<int32_t>(rows.size());
  kl::nrow = m;
  kl::spare_rows_left = spare_rows;
  kl::store.first_col = m + spare_rows + 1;
  kl::nseq = kl::store.first_col - 1 + static_cast<int32_t>(columns.size());
  kl::name_words = words_per_name;
  const int64_t p = kl::nseq + 1;

  auto* type = allocate<int32_t>(kl::ARR_ROW_TYPE, m + spare_rows);
  auto* status = allocate<uint32_t>(kl::ARR_POS_STATUS, p);
  auto* start = allocate<int32_t>(kl::ARR_COL_START, p + 1);
  auto* cost = allocate<double>(kl::ARR_OBJECTIVE, p);
  auto* rhs = allocate<double>(kl::ARR_RHS, m + spare_rows);
  auto* lower = allocate<double>(kl::ARR_LOWER, p);
  auto* upper = allocate<double>(kl::ARR_UPPER, p);
  auto* x = allocate<double>(kl::ARR_X, p);
  auto* dj = allocate<double>(kl::ARR_REDUCED_COSTS, p);
  auto* names = allocate<char>(kl::ARR_NAME_TABLE, p * words_per_name * 8);
  std::memset(names, ' ', static_cast<std::size_t>(p * words_per_name * 8));

  auto set_name = [&](int32_t position, const char* name) {
    std::memcpy(names + (position - 1) * words_per_name * 8, name, std::strlen(name));
  };
  for (int32_t i = 1; i <= m; ++i) {
    const RowSpec& r = rows[static_cast<std::size_t>(i - 1)];
    set_name(i, r.name);
    type[i - 1] = r.type;
    status[i - 1] = r.status;
    rhs[i - 1] = r.rhs;
    lower[i - 1] = r.lower;
    upper[i - 1] = r.upper;
    x[i - 1] = r.x;
    dj[i - 1] = r.dual;
  }
  for (int32_t i = m + 1; i < kl::store.first_col; ++i) status[i - 1] = kl::PS_FIXED;
  int32_t next = 1;
  for (int32_t j = kl::store.first_col; j <= kl::nseq; ++j) {
    const ColumnSpec& c = columns[static_cast<std::size_t>(j - kl::store.first_col)];
    set_name(j, c.name);
    status[j - 1] = c.status;
    cost[j - 1] = c.cost;
    lower[j - 1] = c.lower;
    upper[j - 1] = c.upper;
    x[j - 1] = c.x;
    dj[j - 1] = c.reduced_cost;
    start[j - 1] = next;
    next += c.elements;
  }
  start[kl::nseq] = next;
  kl::nelem = next - 1;
  kl::problem_state = 1;
}

void set_attribute(int n, const char* text) { std::memcpy(kl::character_attributes[n - 3000], text, 8); }

constexpr double kInf = 1e20;

// Four rows (N objective, L with a scaled slack, G outside its bounds, ranged
// E), one spare row, and four columns (scaled basic column outside its
// bounds with no lower bound, entity column at its upper bound, free column
// between its bounds, fixed column); long names, of which the files keep
// the first 8 characters.
void load_small_problem() {
  load_by_hand(
      {
          {"PROFIT", kl::ROW_N, 0x40000003u, 0.0, -kInf, kInf, 99.0, 0.0},
          {"CAPACITY_LONG_NM", kl::ROW_L, 0x41000200u, 8.0, 0.0, kInf, 0.0, 3.0},
          {"DEMAND", kl::ROW_G, 0x40000404u, 5.0, 0.0, kInf, -0.5, -1.5},
          {"BALANCE", kl::ROW_E, 0x40000652u, 3.0, 0.0, 2.0, 1.25, 0.0},
      },
      1,
      {
          {"X1", 0x3F000402u, 3.0, -kInf, 10.0, 24.0, 0.0, 2},
          {"X2_ENTITY_LONG", 0x40000684u, -1.0, 0.0, 5.0, 3.0, 2.0, 1},
          {"X3", 0x41000101u, 4.0, -kInf, kInf, 1.5, 0.25, 0},
          {"X4", 0x40000610u, 0.0, 7.0, 7.0, 7.0 - 1e-7, -1.0, 2},
      },
      2);
  kl::store.objective_row = 1;
  kl::itcnt = 7;
  kl::ninf = 0;
  kl::dcv(kl::dc::OBJVAL) = 12.5;
  kl::dcv(kl::dc::SUMINF) = 0.25;
  kl::dcv(kl::dc::SENSE_FACTOR) = -1.0;
  kl::dcv(kl::kObjectiveScaleSlot) = 1.0;
  kl::status_letter = 'O';
  kl::lp_algorithm = 1;
  kl::objective_scale_exponent = 63;  // objective unscale factor 2
  kl::partial_integer_count = 3;
  set_attribute(3001, "TINY    ");
  set_attribute(3002, "BND     ");
  set_attribute(3003, "PROFIT  ");
  set_attribute(3004, "RHS     ");
  set_attribute(3005, "RNG     ");
}

// Item numbers (from 1) that the writer leaves alone when it updates a file
// in place.
bool is_foreign_item(int32_t item) {
  if (item <= 32) return item == 5 || item == 6 || item == 7 || (item >= 14 && item <= 22) || item >= 24;
  return (item - 32 - 1) % 8 == 6;
}

// What the writer must produce for load_small_problem with kind 1, fresh.
Bytes small_problem_fixture() {
  Bytes b;
  b.name("TINY    ").pair(4, 4);
  b.i32(1).bytes({'O', 2, 0, 0});
  b.pair(7, 0).pair(5, 0).zeros(2);
  b.bytes({0, 1, 1, 12}).i32(3);
  b.f64(12.5).f64(0.25).name("PROFIT  ").name("RHS     ").name("BND     ").zeros(9).name("RNG     ").zeros(9);
  // Rows: name, (type, status word), value, 0, lower, upper, foreign, dual.
  b.name("PROFIT  ").pair(8, 0x00400003).f64(-12.5).f64(0).f64(0).f64(0).zeros(1).f64(0);
  b.name("CAPACITY").pair(4, 0x00410200).f64(0).f64(0).f64(-kInf).f64(4).zeros(1).f64(12);
  b.name("DEMAND  ").pair(2, 0x00400440).f64(0.5).f64(0).f64(5).f64(kInf).zeros(1).f64(-3);
  b.name("BALANCE ").pair(1, 0x00400612).f64(1.25).f64(0).f64(1).f64(3).zeros(1).f64(0);
  // Columns: name, (elements, status word), value, cost, lower, upper, foreign, reduced cost.
  b.name("X1      ").pair(2, 0x003F0442).f64(12).f64(6).f64(-kInf).f64(5).zeros(1).f64(0);
  b.name("X2_ENTIT").pair(1, 0x00400684).f64(3).f64(-1).f64(0).f64(3).zeros(1).f64(4);
  b.name("X3      ").pair(0, 0x00410101).f64(3).f64(2).f64(-kInf).f64(kInf).zeros(1).f64(0.25);
  b.name("X4      ").pair(2, 0x00400610).f64(7).f64(0).f64(7).f64(7).zeros(1).f64(-2);
  return b;
}

class SolutionFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    KLDEFINEUOPENTRY(kltest::capture_plain);
    kltest::captured_lines().clear();
    kl::status_code = kl::STATUS_OK;
    kl::icv(kl::ic::IFMEM) = 0;
    kl::cut_row_count = 0;
    kl::problem_flags = kl::PF_LOADED;
    kl::global_search_started = 0;
    kl::solution_header_copy = kl::SolutionHeaderCopy{};
    kl::status_letter = ' ';
    kl::partial_integer_count = 0;
    kl::objective_scale_exponent = 64;
    kl::dcv(kl::kObjectiveScaleSlot) = 1.0;
    ASSERT_TRUE(kl::set_problem_name(dir_.file("tiny").c_str()));
    sol_ = dir_.file("tiny.sol");
  }
  void TearDown() override {
    kl::close_work_file();
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }

  void open_for_reading(const std::string& name) {
    int32_t error = -1;
    kl::open_work_file(name.c_str(), kl::WORK_READ, error);
    ASSERT_EQ(error, kl::WORK_OPEN_OK);
  }

  kltest::TempDir dir_;
  std::string sol_;
};

TEST_F(SolutionFile, FreshFileMatchesTheLayoutByteForByte) {
  load_small_problem();
  kl::icv(kl::ic::IFMEM) = 1;
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
  EXPECT_EQ(file_bytes(sol_), small_problem_fixture().padded());
}

// Without IFMEM bit 1 the file is updated in place: what another writer put
// into the foreign items stays, everything else is rewritten.
TEST_F(SolutionFile, UpdateInPlaceKeepsForeignItems) {
  load_small_problem();
  constexpr unsigned char kOld = 0xAB;
  write_bytes(sol_, std::vector<unsigned char>(kFileRecordBytes, kOld));

  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);

  std::vector<unsigned char> expected = small_problem_fixture().padded(kOld);
  const auto items = static_cast<int32_t>(small_problem_fixture().data().size() / 8);
  for (int32_t item = 1; item <= items; ++item)
    if (is_foreign_item(item)) std::memset(&expected[8 * static_cast<std::size_t>(item - 1)], kOld, 8);
  EXPECT_EQ(file_bytes(sol_), expected);

  // A missing file is created; its foreign items are zero.
  fs::remove(sol_);
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  std::vector<unsigned char> fresh = small_problem_fixture().padded();
  std::memset(&fresh[8 * 4], 0, 8);  // item 5 is foreign too
  EXPECT_EQ(file_bytes(sol_), fresh);
}

TEST_F(SolutionFile, NoFileWhileIfmemBit4IsSet) {
  load_small_problem();
  kl::icv(kl::ic::IFMEM) = 4 | 1;
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  EXPECT_FALSE(fs::exists(sol_));

  write_bytes(sol_, {1, 2, 3});
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  EXPECT_EQ(file_bytes(sol_), (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
}

TEST_F(SolutionFile, CutRowsAreLeftOutUnlessPresolved) {
  struct Case {
    int32_t flags;
    int32_t rows_written;
  };
  for (const Case& c : {Case{kl::PF_LOADED, 3}, Case{kl::PF_LOADED | kl::PF_PRESOLVED_GLOBAL, 4},
                        Case{kl::PF_LOADED | kl::PF_PRESOLVED_LP, 4}}) {
    load_small_problem();
    kl::cut_row_count = 1;
    kl::problem_flags = c.flags;
    kl::icv(kl::ic::IFMEM) = 1;
    kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
    ASSERT_EQ(kl::status_code, kl::STATUS_OK);

    open_for_reading(sol_);
    ASSERT_EQ(kl::read_solution_header(), 0);
    EXPECT_EQ(kl::solution_header_copy.rows, c.rows_written) << c.flags;
    int32_t error = 0;
    for (int32_t i = 1; i <= c.rows_written; ++i) kl::read_solution_status(i, error);
    kl::read_solution_status(kl::solution_header_copy.first_col, error);
    ASSERT_EQ(error, 0);
    EXPECT_EQ(std::string(kl::solution_line.name, 8), "X1      ") << c.flags;
    kl::close_work_file();
  }
}

TEST_F(SolutionFile, OpenFailureSetsStatus32) {
  load_small_problem();
  ASSERT_TRUE(kl::set_problem_name(dir_.file("missing/tiny").c_str()));
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  EXPECT_EQ(kl::status_code, kl::STATUS_REPORTED);
  EXPECT_TRUE(kltest::any_line_contains("missing/tiny.sol"));
}

// The device that is always full takes the place of the file: every record
// write fails, the last one only when the file is closed.
TEST_F(SolutionFile, WriteFailureIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  load_small_problem();
  fs::create_symlink("/dev/full", sol_);
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains("Error writing the work file"));
  EXPECT_TRUE(kltest::any_line_contains("Error reading or writing the solution or range file"));
  EXPECT_EQ(kl::work_file_buffer.unit, -1);
}

// Reading the header fills its own record and leaves the problem's counts,
// names and outcome words alone.
TEST_F(SolutionFile, HeaderReadsIntoItsOwnRecord) {
  load_small_problem();
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  kl::nrow = 40;
  kl::nseq = 90;
  kl::store.first_col = 45;
  kl::itcnt = 70;
  kl::spare_rows_left = 2;

  open_for_reading(sol_);
  ASSERT_EQ(kl::read_solution_header(), 0);
  const kl::SolutionHeaderCopy& h = kl::solution_header_copy;
  EXPECT_EQ(std::string(h.problem_name, 8), "TINY    ");
  EXPECT_EQ(h.rows, 4);
  EXPECT_EQ(h.columns, 4);
  EXPECT_EQ(h.first_col, 7);  // after the current problem's spare rows
  EXPECT_EQ(h.nseq, 10);
  EXPECT_EQ(h.objective_row, 1);
  EXPECT_EQ(h.status_letter, 'O');
  EXPECT_EQ(h.sense_code, kl::SENSE_MAXIMISE);
  EXPECT_EQ(h.itcnt, 7);
  EXPECT_EQ(h.name_words, 2);
  EXPECT_EQ(h.solution_kind, kl::SOLUTION_RECOMPUTED);
  EXPECT_EQ(h.version, 12);
  EXPECT_EQ(h.partial_integer_count, 3);
  EXPECT_EQ(h.objective_value, 12.5);
  EXPECT_EQ(h.sum_infeasibilities, 0.25);
  EXPECT_EQ(std::string(h.objective_name, 8), "PROFIT  ");
  EXPECT_EQ(std::string(h.rhs_name, 8), "RHS     ");
  EXPECT_EQ(std::string(h.bound_name, 8), "BND     ");
  EXPECT_EQ(kl::nrow, 40);
  EXPECT_EQ(kl::nseq, 90);
  EXPECT_EQ(kl::store.first_col, 45);
  EXPECT_EQ(kl::itcnt, 70);
}

TEST_F(SolutionFile, RecordsReadBackWithTheirStatesAndActivities) {
  load_small_problem();
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  open_for_reading(sol_);
  ASSERT_EQ(kl::read_solution_header(), 0);

  struct Expected {
    const char* name;
    char letter;
    const char* code;
    int32_t state;
    double activity, slack, rhs, dual;
  };
  // Maximisation: row duals keep their sign, reduced costs are negated.
  const std::vector<Expected> expected = {
      {"PROFIT  ", 'N', "BS", kl::STATE_BASIC, 12.5, -12.5, 0, 0},
      {"CAPACITY", 'L', "UL", kl::STATE_AT_UPPER, 4, 0, 4, 12},  // slack at 0: activity at its upper limit
      {"DEMAND  ", 'G', "**", kl::STATE_INFEASIBLE, 5.5, -0.5, 5, -3},
      {"BALANCE ", 'E', "EQ", kl::STATE_BASIC, 1.75, 1.25, 3, 0},
      {"X1      ", 'C', "**", kl::STATE_INFEASIBLE, 0, 0, 0, -0.0},
      {"X2_ENTIT", 'C', "UL", kl::STATE_AT_UPPER, 0, 0, 0, -4},
      {"X3      ", 'C', "SB", kl::STATE_BETWEEN, 0, 0, 0, -0.25},
      {"X4      ", 'C', "LL", kl::STATE_AT_LOWER, 0, 0, 0, 2},
  };
  const std::vector<int32_t> positions = {1, 2, 3, 4, 6, 7, 8, 9};
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const Expected& e = expected[k];
    int32_t error = -1;
    kl::read_solution_status(positions[k], error);
    ASSERT_EQ(error, 0) << e.name;
    const kl::SolutionLine& line = kl::solution_line;
    EXPECT_EQ(std::string(line.name, 8), e.name);
    EXPECT_EQ(line.class_letter, e.letter) << e.name;
    EXPECT_EQ(std::string(line.code, 2), e.code) << e.name;
    EXPECT_EQ(line.state, e.state) << e.name;
    EXPECT_EQ(line.activity, e.activity) << e.name;
    EXPECT_EQ(line.slack, e.slack) << e.name;
    EXPECT_EQ(line.rhs, e.rhs) << e.name;
    EXPECT_EQ(line.dual, e.dual) << e.name;
  }
  EXPECT_EQ(kl::solution_line.value, 7.0);
  EXPECT_EQ(kl::solution_line.first_int, 2);
  EXPECT_EQ(kl::solution_line.exponent, 64);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
}

// A problem loaded through the export, with a result filled in by hand: the
// records carry the loader's names, row types, limits and element counts.
TEST_F(SolutionFile, LoadedProblemReadsBackRecordByRecord) {
  ASSERT_EQ(KLSETICV(KLIC_IFSCAL, 0), 0);
  const char types[] = {'L', 'G', 'R'};
  const double rhs[] = {4, 1, 6};
  const double ranges[] = {0, 0, 2};
  const double cost[] = {1, 2};
  const int32_t starts[] = {0, 2, 4};
  const int32_t rows[] = {0, 1, 1, 2};
  const double values[] = {1, 1, 1, 1};
  const double lower[] = {0, 0};
  const double upper[] = {kInf, 3};
  ASSERT_EQ(KLLOADPROB(dir_.file("loaded").c_str(), 2, 3, types, rhs, ranges, cost, starts, nullptr, rows, values,
                       lower, upper),
            0);
  ASSERT_EQ(kl::store.first_col, 4);
  kl::OneBased<int32_t> status = kl::int_array(kl::ARR_POS_STATUS);
  kl::OneBased<double> x = kl::real_array(kl::ARR_X);
  kl::OneBased<double> dj = kl::real_array(kl::ARR_REDUCED_COSTS);
  ASSERT_TRUE(x && dj);
  status[3] &= ~kl::PS_BASIC;  // the ranged row's slack at its lower bound
  status[4] |= kl::PS_BASIC;
  status[5] |= kl::PS_AT_UPPER;
  const double result[] = {2.5, -3.5, 0.0, 1.5, 3.0};  // slacks, then columns
  const double duals[] = {0.0, 0.0, -1.0, 0.0, -1.0};
  for (int32_t p = 1; p <= 5; ++p) {
    x[p] = result[p - 1];
    dj[p] = duals[p - 1];
  }
  kl::dcv(kl::dc::OBJVAL) = 7.5;
  kl::dcv(kl::dc::SENSE_FACTOR) = 1.0;
  kl::status_letter = 'O';
  kl::write_solution_file(kl::SOLUTION_AS_LEFT);
  ASSERT_EQ(kl::status_code, kl::STATUS_OK);

  ASSERT_TRUE(fs::exists(dir_.file("loaded.sol")));
  open_for_reading(dir_.file("loaded.sol"));
  ASSERT_EQ(kl::read_solution_header(), 0);
  EXPECT_EQ(kl::solution_header_copy.rows, 3);
  EXPECT_EQ(kl::solution_header_copy.columns, 2);
  EXPECT_EQ(kl::solution_header_copy.objective_row, 0);
  EXPECT_EQ(kl::solution_header_copy.sense_code, kl::SENSE_MINIMISE);
  EXPECT_EQ(std::string(kl::solution_header_copy.problem_name, 8), "loaded  ");

  struct Expected {
    int32_t position;
    char letter;
    const char* code;
    int32_t first_int;
    double value, activity, lower, upper, dual;
  };
  // Minimisation: row duals are reported negated.
  const Expected expected[] = {
      {1, 'L', "BS", kl::ROW_L, 2.5, 1.5, -kInf, 4, -0.0},
      {2, 'G', "BS", kl::ROW_G, 3.5, 4.5, 1, kInf, -0.0},
      {3, 'L', "UL", kl::ROW_L, 0.0, 6, 4, 6, 1},
      {4, 'C', "BS", 2, 1.5, 0, 0, kInf, 0},
      {5, 'C', "UL", 2, 3.0, 0, 0, 3, -1},
  };
  for (const Expected& e : expected) {
    int32_t error = -1;
    kl::read_solution_status(e.position, error);
    ASSERT_EQ(error, 0);
    const kl::SolutionLine& line = kl::solution_line;
    EXPECT_EQ(std::string(line.name, 8), "VVVVVVV" + std::to_string(e.position));
    EXPECT_EQ(line.class_letter, e.letter) << e.position;
    EXPECT_EQ(std::string(line.code, 2), e.code) << e.position;
    EXPECT_EQ(line.first_int, e.first_int) << e.position;
    EXPECT_EQ(line.value, e.value) << e.position;
    EXPECT_EQ(line.activity, e.activity) << e.position;
    EXPECT_EQ(line.lower, e.lower) << e.position;
    EXPECT_EQ(line.upper, e.upper) << e.position;
    EXPECT_EQ(line.dual, e.dual) << e.position;
  }
}

TEST_F(SolutionFile, KindZeroReadsEveryRecordAsUnknown) {
  load_small_problem();
  kl::write_solution_file(kl::SOLUTION_NO_BASIS);
  open_for_reading(sol_);
  ASSERT_EQ(kl::read_solution_header(), 0);
  for (int32_t p : {1, 2, 3, 4, 6, 7, 8, 9}) {
    int32_t error = -1;
    kl::read_solution_status(p, error);
    ASSERT_EQ(error, 0);
    EXPECT_EQ(kl::solution_line.state, kl::STATE_UNKNOWN) << p;
    EXPECT_EQ(std::string(kl::solution_line.code, 2), p == 4 ? "EQ" : "??") << p;
  }
  // Without a classification the objective row keeps its stored value.
  kl::close_work_file();
  open_for_reading(sol_);
  ASSERT_EQ(kl::read_solution_header(), 0);
  int32_t error = -1;
  kl::read_solution_status(1, error);
  EXPECT_EQ(kl::solution_line.value, 99.0);
}

// A problem large enough that its solution file takes two records of the
// work file.
void load_large_problem(int32_t rows) {
  std::vector<RowSpec> row_specs;
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(rows));
  for (int32_t i = 1; i <= rows; ++i) names.push_back("R" + std::to_string(i));
  for (int32_t i = 0; i < rows; ++i)
    row_specs.push_back({names[static_cast<std::size_t>(i)].c_str(), kl::ROW_L, 0x40000202u, 1.0, 0.0, kInf, 0.5, 0.0});
  load_by_hand(row_specs, 0, {{"C1", 0x40000200u, 1.0, 0.0, 1.0, 0.0, 1.0, 0}}, 1);
  kl::status_letter = 'O';
  kl::objective_scale_exponent = 64;
}

// A cut file gives a read error where the data end, with the work file's
// message and status 2; the record read last before it stays as it was.
TEST_F(SolutionFile, TruncatedFileGivesAReadErrorNotPartialData) {
  constexpr int32_t kRows = 600;  // 32 + 8 x 601 items: two records
  load_large_problem(kRows);
  kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
  ASSERT_EQ(kl::status_code, kl::STATUS_OK);
  std::vector<unsigned char> whole = file_bytes(sol_);
  ASSERT_EQ(whole.size(), 2u * kFileRecordBytes);

  // Records 1..508 fill the first record of the file; the cut falls inside
  // record 510.
  constexpr int32_t kLastWhole = (4096 - 32) / 8;
  whole.resize(kFileRecordBytes + 8 * 8 + 20);
  write_bytes(sol_, whole);

  open_for_reading(sol_);
  ASSERT_EQ(kl::read_solution_header(), 0);
  ASSERT_EQ(kl::solution_header_copy.rows, kRows);
  int32_t error = 0;
  int32_t position = 1;
  for (; position <= kRows; ++position) {
    kl::read_solution_status(position, error);
    if (error != 0) break;
  }
  EXPECT_EQ(position, kLastWhole + 1);
  EXPECT_NE(error, 0);
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_TRUE(kltest::any_line_contains("Error reading the work file"));
  EXPECT_EQ(std::string(kl::solution_line.name, 8), "R" + std::to_string(kLastWhole) + "    ");
  kl::close_work_file();

  // Cut inside the header: the header is not taken.
  kl::status_code = kl::STATUS_OK;
  kl::solution_header_copy = kl::SolutionHeaderCopy{};
  whole.resize(100);
  write_bytes(sol_, whole);
  int32_t open_error = -1;
  kl::open_work_file(sol_.c_str(), kl::WORK_READ, open_error);
  EXPECT_NE(kl::read_solution_header(), 0);
  EXPECT_EQ(kl::status_code, kl::STATUS_FILE_ERROR);
  EXPECT_EQ(kl::solution_header_copy.rows, 0);
}

// A range file built by hand: a basic L row, a G row at its lower limit, an
// L row whose slack is at its upper bound, a column at its upper bound and an
// infeasible basic column.
Bytes range_file(int32_t sense_code) {
  Bytes b;
  b.name("TINY    ").pair(3, 2).i32(0).bytes({'O', sense_code, 0, 0}).pair(4, 0).zeros(3);
  b.bytes({0, 0, 1, 12}).i32(0).f64(3.0).f64(0).zeros(22);
  b.name("R1      ").pair(4, 0x00400002).f64(1.5).f64(0).f32(-1e20f).f32(10).f32(-0.5f).f32(2).f32(0.25f).f32(0.75f).pair(3, -4);
  b.name("R2      ").pair(2, 0x00400000).f64(2).f64(0).f32(5).f32(1e20f).f32(-1).f32(3).zeros(1).pair(0, 5);
  b.name("R3      ").pair(4, 0x00400004).f64(-1).f64(0).f32(2).f32(10).f32(0).f32(1).zeros(1).pair(0, 0);
  b.name("C1      ").pair(1, 0x00400004).f64(-1.5).f64(4).f32(0).f32(6).f32(-2).f32(0).zeros(1).pair(-1, 2);
  b.name("C2      ").pair(3, 0x00400042).f64(3.25).f64(1).f32(0).f32(5).f32(-1).f32(1).f32(1).f32(2).pair(4, 0);
  return b;
}

TEST_F(SolutionFile, RangeRecordsDeriveLimitsForEitherSense) {
  struct Expected {
    const char* code;
    double activity;
    float lower_activity, upper_activity;
    float unit_cost[2];
    float cost_limit[2];
    int32_t limiting[2];
  };
  struct Case {
    int32_t sense;
    std::vector<Expected> records;
  };
  const float inf = 1e20f;
  const std::vector<Case> cases = {
      {1,
       {
           {"BS", 8.5, 8.0f, 10.5f, {0.25f, 0.75f}, {0.25f, -0.75f}, {3, -4}},
           {"LL", 5, 4.0f, 8.0f, {2, -2}, {inf, -2}, {0, 5}},
           {"LL", 2, 2.0f, 3.0f, {-1, 1}, {inf, 1}, {0, 0}},
           {"UL", 6, 4.0f, 6.0f, {1.5f, -1.5f}, {5.5f, -inf}, {-1, 2}},
           {"**", 3.25, 2.25f, 4.25f, {1, 2}, {2, -1}, {4, 0}},
       }},
      {2,
       {
           {"BS", 8.5, 8.0f, 10.5f, {0.25f, 0.75f}, {-0.25f, 0.75f}, {3, -4}},
           {"LL", 5, 4.0f, 8.0f, {2, -2}, {-inf, 2}, {0, 5}},
           {"LL", 2, 2.0f, 3.0f, {-1, 1}, {-inf, -1}, {0, 0}},
           {"UL", 6, 4.0f, 6.0f, {1.5f, -1.5f}, {2.5f, inf}, {-1, 2}},
           {"**", 3.25, 2.25f, 4.25f, {1, 2}, {0, 3}, {4, 0}},
       }},
  };
  const std::string rng = dir_.file("tiny.rng");
  kl::spare_rows_left = 0;
  for (const Case& c : cases) {
    write_bytes(rng, range_file(c.sense).padded());
    open_for_reading(rng);
    ASSERT_EQ(kl::read_solution_header(), 0);
    for (int32_t k = 0; k < 5; ++k) {
      const Expected& e = c.records[static_cast<std::size_t>(k)];
      int32_t error = -1;
      kl::read_solution_record(k + 1, error);
      ASSERT_EQ(error, 0);
      const kl::RangeLine& line = kl::range_line;
      const std::string where = "sense " + std::to_string(c.sense) + " record " + std::to_string(k + 1);
      EXPECT_EQ(std::string(line.code, 2), e.code) << where;
      EXPECT_EQ(line.activity, e.activity) << where;
      EXPECT_EQ(line.lower_activity, e.lower_activity) << where;
      EXPECT_EQ(line.upper_activity, e.upper_activity) << where;
      EXPECT_EQ(line.unit_cost[0], e.unit_cost[0]) << where;
      EXPECT_EQ(line.unit_cost[1], e.unit_cost[1]) << where;
      EXPECT_EQ(line.cost_limit[0], e.cost_limit[0]) << where;
      EXPECT_EQ(line.cost_limit[1], e.cost_limit[1]) << where;
      EXPECT_EQ(line.limiting[0], e.limiting[0]) << where;
      EXPECT_EQ(line.limiting[1], e.limiting[1]) << where;
    }
    kl::close_work_file();
  }
}

TEST_F(SolutionFile, ReportHeaderLines) {
  struct Case {
    char letter;
    double sense_factor;
    std::vector<std::string> wanted;
  };
  const std::vector<Case> cases = {
      {'O', -1.0, {"TINY", "PROFIT", "Maximisation", "solution is", "optimal", "7 iterations", "12.500000"}},
      {'N', 1.0, {"Minimisation", "problem is", "infeasible", "Infeasibilities", ".250000"}},
      {'U', 1.0, {"problem is", "unbounded"}},
      {'C', 1.0, {"problem is", "unfinished"}},
  };
  for (const Case& c : cases) {
    load_small_problem();
    kl::status_letter = c.letter;
    kl::dcv(kl::dc::SENSE_FACTOR) = c.sense_factor;
    kl::write_solution_file(kl::SOLUTION_RECOMPUTED);
    kltest::captured_lines().clear();
    open_for_reading(sol_);
    int32_t status = -1;
    kl::print_solution_header(status);
    EXPECT_EQ(status, 0);
    for (const std::string& text : c.wanted) EXPECT_TRUE(kltest::any_line_contains(text)) << c.letter << ": " << text;
    EXPECT_EQ(kltest::any_line_contains("Infeasibilities"), c.letter == 'N') << c.letter;
    kl::close_work_file();
  }

  // An empty file has no header to print.
  write_bytes(sol_, {});
  kltest::captured_lines().clear();
  open_for_reading(sol_);
  int32_t status = 0;
  kl::print_solution_header(status);
  EXPECT_NE(status, 0);
  EXPECT_TRUE(kltest::any_line_contains("header of the solution or range file cannot be read"));
}

}  // namespace
