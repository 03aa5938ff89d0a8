// The save file through KLSAVE and KLRESTORE: an LP, a presolved LP left
// unfinished and an integer program stopped in mid-search come back with
// the same state and go on to the same optimum; files that are short,
// damaged or not save files are refused with the problem left as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_problem.h"
#include "problem/store.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/scripted_console.h"
#include "support/temp_dir.h"

namespace {

using kltest::ArrayProblem;
using kltest::int_attribute_value;

double double_attribute(int32_t n) {
  double v = 0.0;
  KLGETDPV(n, &v);
  return v;
}

// A transport problem: supplies s, demands d, costs varied.
ArrayProblem transport(int s, int d) {
  ArrayProblem p;
  for (int i = 0; i < s; ++i) p.row('L', 10.0 + 3 * i);
  for (int j = 0; j < d; ++j) p.row('G', 4.0 + j);
  for (int i = 0; i < s; ++i)
    for (int j = 0; j < d; ++j) p.column(1.0 + (i * 7 + j * 3) % 5, 0.0, 1e20, {{i, 1.0}, {s + j, 1.0}});
  return p;
}

// A knapsack with many nodes.
ArrayProblem knapsack(int n) {
  ArrayProblem p;
  p.row('L', 0.0);
  double capacity = 0.0;
  for (int j = 0; j < n; ++j) {
    const double w = 7.0 + (j * 37) % 23;
    const double v = 5.0 + (j * 53) % 29;
    capacity += w;
    p.column(-v, 0.0, 1.0, {{0, w}});
    p.entity('B', j);
  }
  p.rhs[0] = std::floor(capacity / 2.0) + 0.5;
  return p;
}

// What a caller sees of a problem: counts, data, a control and the
// objective value.
struct Visible {
  std::vector<int32_t> counts;
  std::vector<double> cost, lower, upper, rhs;
  int32_t itrlim = 0;
  double objective = 0.0;

  static Visible take() {
    Visible v;
    for (int32_t n : std::initializer_list<int32_t>{KLIA_NROW, KLIA_NSEQ, KLIA_NGLENT, KLIA_NELEM, KLIA_LPSTATUS, KLIA_GLSTATUS, KLIA_NODES,
                      KLIA_ACTIVENODES, 1026})
      v.counts.push_back(int_attribute_value(n));
    // A restored problem has no factorisation yet: its basis is refactorised
    // at the next use.
    v.counts.back() &= ~(kl::PF_LU_ARRAYS | kl::PF_FACTOR_VALID | kl::PF_SOLUTION_CURRENT | kl::PF_ROW_LISTS);
    const int32_t cols = int_attribute_value(1018);
    const int32_t rows = int_attribute_value(KLIA_NROW);
    v.cost.resize(static_cast<size_t>(cols));
    v.lower.resize(static_cast<size_t>(cols));
    v.upper.resize(static_cast<size_t>(cols));
    v.rhs.resize(static_cast<size_t>(rows));
    if (cols > 0) {
      KLGETOBJ(v.cost.data(), 0, cols - 1);
      KLGETBDL(v.lower.data(), 0, cols - 1);
      KLGETBDU(v.upper.data(), 0, cols - 1);
    }
    if (rows > 0) KLGETRHS(v.rhs.data(), 0, rows - 1);
    KLGETICV(KLIC_ITRLIM, &v.itrlim);
    v.objective = double_attribute(KLDA_OBJVAL);
    return v;
  }
};

void expect_same(const Visible& a, const Visible& b) {
  EXPECT_EQ(a.counts, b.counts);
  EXPECT_EQ(a.cost, b.cost);
  EXPECT_EQ(a.lower, b.lower);
  EXPECT_EQ(a.upper, b.upper);
  EXPECT_EQ(a.rhs, b.rhs);
  EXPECT_EQ(a.itrlim, b.itrlim);
  EXPECT_EQ(a.objective, b.objective);
}

std::vector<char> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put_file(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

uint32_t crc32(const char* data, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t k = 0; k < n; ++k) {
    c ^= static_cast<uint8_t>(data[k]);
    for (int b = 0; b < 8; ++b) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

// A save file cut to its first payload_bytes of payload, with a header that
// agrees (size and checksum): only the reader's own bounds can refuse it.
std::vector<char> consistent_prefix(const std::vector<char>& file, size_t payload_bytes) {
  std::vector<char> out(file.begin(), file.begin() + 32 + static_cast<std::ptrdiff_t>(payload_bytes));
  for (int k = 0; k < 8; ++k) out[16 + k] = static_cast<char>(static_cast<uint64_t>(payload_bytes) >> (8 * k));
  const uint32_t crc = crc32(out.data() + 32, payload_bytes);
  for (int k = 0; k < 4; ++k) out[24 + k] = static_cast<char>(crc >> (8 * k));
  return out;
}

class SaveFile : public kltest::LibrarySession {
 protected:
  kltest::TempDir dir;
  std::string name(const std::string& stem) const { return dir.file(stem); }
};

// An optimal LP: save, change bounds, a control and even the whole problem,
// restore: the same data, counts and objective, and a re-solve from the
// restored basis takes no iteration.
TEST_F(SaveFile, LpRestoresItsStateAndOptimum) {
  const ArrayProblem p = transport(3, 4);
  ASSERT_EQ(p.load(name("lp").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  const Visible before = Visible::take();
  ASSERT_EQ(KLSAVE(), 0);
  EXPECT_TRUE(std::filesystem::exists(name("lp.svf")));

  const int32_t col = 0;
  const char letter = 'U';
  const double bound = 0.5;
  ASSERT_EQ(KLCHGBDS(1, &col, &letter, &bound), 0);
  KLSETICV(KLIC_ITRLIM, 17);
  ASSERT_EQ(KLMINIM(""), 0);

  ASSERT_EQ(KLRESTORE(), 0);
  expect_same(before, Visible::take());
  KLSETICV(KLIC_ITRLIM, before.itrlim);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(double_attribute(KLDA_OBJVAL), before.objective, 1e-9);

  // Another problem loaded under the same name is replaced whole.
  ASSERT_EQ(transport(2, 2).load(name("lp").c_str()), 0);
  ASSERT_EQ(KLRESTORE(), 0);
  expect_same(before, Visible::take());
}

// An LP stopped by the iteration limit is left presolved: it restores
// presolved with its original problem behind it, so that the next solve
// goes on and postsolves to the optimum of the problem as loaded.
TEST_F(SaveFile, PresolvedLpRestoresPresolvedAndPostsolves) {
  const ArrayProblem p = transport(4, 5);
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(p.load(name("ref").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const double optimum = double_attribute(KLDA_OBJVAL);

  KLSETICV(KLIC_IFPRES, 1);
  ASSERT_EQ(p.load(name("pre").c_str()), 0);
  KLSETICV(KLIC_ITRLIM, 1);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_NE(int_attribute_value(1026) & kl::PF_PRESOLVED_LP, 0);
  const Visible before = Visible::take();
  ASSERT_EQ(KLSAVE(), 0);

  // The solve goes on and gives the presolved form up; the restore brings it back.
  KLSETICV(KLIC_ITRLIM, 100000);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(int_attribute_value(1026) & kl::PF_PRESOLVED_LP, 0);
  ASSERT_EQ(KLRESTORE(), 0);
  EXPECT_NE(int_attribute_value(1026) & kl::PF_PRESOLVED_LP, 0);
  expect_same(before, Visible::take());

  KLSETICV(KLIC_ITRLIM, 100000);
  kltest::captured_lines().clear();
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_FALSE(kltest::any_line_contains("Presolved problem"));
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(int_attribute_value(1026) & (kl::PF_PRESOLVED_LP | kl::PF_PRESOLVED_GLOBAL), 0);
  EXPECT_NEAR(double_attribute(KLDA_OBJVAL), optimum, 1e-9);
}

// A search stopped by MAXNOD, saved, continued to its end, restored: the
// restored search continues from the saved nodes to the same optimum.
TEST_F(SaveFile, StoppedSearchContinuesAfterRestore) {
  const ArrayProblem p = knapsack(25);
  KLSETICV(KLIC_IFPRES, 0);
  KLSETICV(KLIC_MAXNOD, 15);
  ASSERT_EQ(p.load_global(name("mip").c_str()), 0);
  ASSERT_EQ(KLMINIM("g"), 0);
  const int32_t stopped = int_attribute_value(KLIA_GLSTATUS);
  ASSERT_TRUE(stopped == 3 || stopped == 4) << stopped;
  const Visible before = Visible::take();
  const double bound = double_attribute(KLDA_BESTBOUND);
  const double incumbent = double_attribute(KLDA_DINTSL);
  ASSERT_EQ(KLSAVE(), 0);

  KLSETICV(KLIC_MAXNOD, 100000000);
  ASSERT_EQ(KLGLOBAL(), 0);
  ASSERT_EQ(int_attribute_value(KLIA_GLSTATUS), 6);
  const double optimum = double_attribute(KLDA_DINTSL);
  const int32_t nodes = int_attribute_value(KLIA_NODES);

  ASSERT_EQ(KLRESTORE(), 0);
  Visible after = Visible::take();
  after.itrlim = before.itrlim;
  expect_same(before, after);
  EXPECT_EQ(double_attribute(KLDA_BESTBOUND), bound);
  EXPECT_EQ(double_attribute(KLDA_DINTSL), incumbent);
  int32_t maxnod = 0;
  KLGETICV(KLIC_MAXNOD, &maxnod);
  EXPECT_EQ(maxnod, 15);

  KLSETICV(KLIC_MAXNOD, 100000000);
  ASSERT_EQ(KLGLOBAL(), 0);
  EXPECT_EQ(int_attribute_value(KLIA_GLSTATUS), 6);
  EXPECT_NEAR(double_attribute(KLDA_DINTSL), optimum, 1e-9);
  EXPECT_EQ(int_attribute_value(KLIA_NODES), nodes);
}

// Short, damaged and foreign files: message and status 32, and the problem
// loaded before is untouched and still solves.
TEST_F(SaveFile, BadFilesLeaveTheProblemIntact) {
  ASSERT_EQ(transport(3, 4).load(name("bad").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(KLSAVE(), 0);
  const std::vector<char> good = file_bytes(name("bad.svf"));
  ASSERT_GT(good.size(), 64u);

  ASSERT_EQ(transport(2, 3).load(name("bad").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const Visible current = Visible::take();

  struct Case {
    const char* what;
    std::vector<char> bytes;
    int32_t message;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, 1021});
  cases.push_back({"header only", std::vector<char>(good.begin(), good.begin() + 20), 1022});
  cases.push_back({"truncated", std::vector<char>(good.begin(), good.end() - 9), 1022});
  std::vector<char> flipped = good;
  flipped[flipped.size() / 2] ^= 0x10;
  cases.push_back({"a byte changed", flipped, 1022});
  std::vector<char> longer = good;
  longer.push_back('x');
  cases.push_back({"bytes after the end", longer, 1022});
  std::vector<char> version = good;
  version[8] = 9;
  cases.push_back({"another version", version, 1021});
  ASSERT_EQ(consistent_prefix(good, good.size() - 32), good) << "the test's checksum is the file's";
  cases.push_back({"payload cut short, header agreeing", consistent_prefix(good, (good.size() - 32) / 2), 1022});
  cases.push_back({"last bytes missing, header agreeing", consistent_prefix(good, good.size() - 32 - 3), 1022});
  cases.push_back({"records only, header agreeing", consistent_prefix(good, 200), 1022});
  const std::string text = "NAME          OTHER\nROWS\n N  COST\nENDATA\n";
  cases.push_back({"an MPS file", std::vector<char>(text.begin(), text.end()), 1021});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put_file(name("bad.svf"), c.bytes);
    kltest::captured_lines().clear();
    EXPECT_EQ(KLRESTORE(), 32);
    EXPECT_EQ(int_attribute_value(1023), c.message);
    expect_same(current, Visible::take());
  }
  std::filesystem::remove(name("bad.svf"));
  EXPECT_EQ(KLRESTORE(), 32);
  EXPECT_EQ(int_attribute_value(1023), 5);
  expect_same(current, Visible::take());
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_NEAR(double_attribute(KLDA_OBJVAL), current.objective, 1e-9);

  // The good file still restores.
  put_file(name("bad.svf"), good);
  ASSERT_EQ(KLRESTORE(), 0);
  EXPECT_EQ(int_attribute_value(KLIA_NROW), 7);
}

// A later session restores into a library that has no problem yet, under
// the name KLSETPROB gives, and re-solves without an iteration.
TEST_F(SaveFile, NewSessionRestoresUnderTheNameGiven) {
  ASSERT_EQ(transport(3, 4).load(name("run").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const Visible before = Visible::take();
  ASSERT_EQ(KLSAVE(), 0);
  KLFREEXO();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  ASSERT_EQ(KLSETPROB(name("run").c_str()), 0);
  ASSERT_EQ(KLRESTORE(), 0);
  expect_same(before, Visible::take());
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0);
  EXPECT_NEAR(double_attribute(KLDA_OBJVAL), before.objective, 1e-9);
}

// The console commands: SAVE, a bound changed, RESTORE, and the solve
// after it finds the saved problem's optimum without an iteration.
TEST_F(SaveFile, ConsoleSaveAndRestore) {
  ASSERT_EQ(transport(3, 4).load(name("con").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const Visible before = Visible::take();
  kltest::console_lines() = {"SAVE", "QUIT"};
  KLCONTROL(kltest::scripted_console);
  const int32_t col = 1;
  const char letter = 'L';
  const double bound = 3.0;
  ASSERT_EQ(KLCHGBDS(1, &col, &letter, &bound), 0);
  kltest::captured_lines().clear();
  kltest::console_lines() = {"RESTORE", "MINIM", "QUIT"};
  KLCONTROL(kltest::scripted_console);
  EXPECT_FALSE(kltest::any_line_contains("not available"));
  EXPECT_EQ(int_attribute_value(KLIA_ITCNT), 0);
  Visible after = Visible::take();
  EXPECT_EQ(after.lower, before.lower);
  EXPECT_NEAR(after.objective, before.objective, 1e-9);
}

// A save that cannot be written (its directory is gone) gives message 5
// and status 32; a save file already there is left whole.
TEST_F(SaveFile, FailedSaveKeepsTheEarlierFile) {
  ASSERT_EQ(transport(2, 2).load(name("keep").c_str()), 0);
  ASSERT_EQ(KLSAVE(), 0);
  const std::vector<char> earlier = file_bytes(name("keep.svf"));
  std::filesystem::create_directory(name("keep.svf~"));  // the partial file cannot be created
  EXPECT_EQ(KLSAVE(), 32);
  EXPECT_EQ(int_attribute_value(1023), 5);
  EXPECT_EQ(file_bytes(name("keep.svf")), earlier);
  std::filesystem::remove(name("keep.svf~"));
  ASSERT_EQ(KLSETPROB(name("gone/keep").c_str()), 0);
  EXPECT_EQ(KLSAVE(), 32);
  EXPECT_EQ(int_attribute_value(1023), 5);
}

TEST_F(SaveFile, SaveNeedsAProblem) {
  EXPECT_EQ(KLSAVE(), 32);
  EXPECT_EQ(int_attribute_value(1023), 91);
}

}  // namespace
