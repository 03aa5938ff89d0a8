#include "barrier/driver.h"
#include "runtime/arrays.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "barrier/parameter_file.h"
#include "runtime/controls.h"
#include "runtime/platform.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

using kl::barrier_params;
using kl::dc::TOLCOMP;
using kl::icv;
namespace ic = kl::ic;

constexpr double kInfinity = 1e20;
constexpr int32_t kLowerBit = 0x200;
constexpr int32_t kUpperBit = 0x400;

// The system as the tests set it: blocks counted, refused on demand; fixed
// memory figures and cache reading.
struct FakeSystem {
  int64_t taken = 0;
  int64_t released = 0;
  std::vector<std::size_t> refused;  // sizes of refused requests, in order
  std::function<bool(std::size_t)> refuse = [](std::size_t) { return false; };
  bool memory_known = true;
  uint64_t total = uint64_t{16} << 30;
  uint64_t available = uint64_t{8} << 30;
  int32_t cache_kb = 1024;
  int32_t cache_reads = 0;
};

FakeSystem* fake = nullptr;

void* fake_take(std::size_t bytes) {
  if (fake->refuse(bytes)) {
    fake->refused.push_back(bytes);
    return nullptr;
  }
  ++fake->taken;
  return std::calloc(1, bytes);
}
void fake_release(void* base) {
  ++fake->released;
  std::free(base);
}
bool fake_memory(uint64_t& total, uint64_t& available) {
  total = fake->total;
  available = fake->available;
  return fake->memory_known;
}
int32_t fake_cache() {
  ++fake->cache_reads;
  return fake->cache_kb;
}

// The library started (controls at their start-up values, messages
// captured), the fake system in place, and a private current directory so
// that no parameter file is found unless a test writes one.
class BarrierDriver : public kltest::LibrarySession {
 protected:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    fake = &system;
    kl::barrier_platform() = kl::BarrierPlatform{fake_take, fake_release, fake_memory, fake_cache};
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    home = here;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(home.c_str()), 0);
    kl::reset_barrier_platform();
    fake = nullptr;
    kltest::LibrarySession::TearDown();
  }
  FakeSystem system;
  kltest::TempDir dir;
  std::string home;
};

// ---------------------------------------------------------------------------
// The record: defaults, controls, crossover flag, cache detection.

struct ParamsCase {
  const char* what;
  bool quadratic;
  int32_t crossover_flag;
  std::function<void(FakeSystem&)> set;  // controls and the fake system
  std::function<void(const barrier_params&, const FakeSystem&)> check;
};

TEST_F(BarrierDriver, RecordFromDefaultsControlsAndCache) {
  const std::vector<ParamsCase> cases = {
      {"linear, every control at its default", false, 1, [](FakeSystem&) {},
       [](const barrier_params& p, const FakeSystem& s) {
         EXPECT_EQ(p.MAXITER, 200);
         EXPECT_EQ(p.PUSHFACT, 4);
         EXPECT_EQ(p.ORDERING, 0);
         EXPECT_EQ(p.NUMPROC, 1);
         EXPECT_EQ(p.L1_CACHE, -1);
         EXPECT_EQ(p.TRABS, 1e-15);
         EXPECT_EQ(p.TFEAS1, 1e-8);
         EXPECT_EQ(p.TFEAS2, 1e-8);
         EXPECT_EQ(p.TSDIR, 1e-10);
         EXPECT_EQ(p.TOPT1, 1e-9);
         EXPECT_EQ(p.REGULARIZE, 27);
         EXPECT_EQ(p.PRESOLV, 0);
         EXPECT_EQ(p.scaling_methods, 0);
         EXPECT_EQ(p.print_word, -1);
         EXPECT_EQ(p.objective_sense, -1);
         EXPECT_EQ(p.L2_CACHE, 1024);
         EXPECT_EQ(s.cache_reads, 1);
         EXPECT_EQ(icv(ic::CACHE_SIZE), 1024);
       }},
      {"quadratic, no crossover", true, 0, [](FakeSystem&) {},
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_DOUBLE_EQ(p.TOPT1, 1e-8);
         EXPECT_EQ(p.REGULARIZE, 59);
         EXPECT_EQ(p.PRESOLV, 354);
       }},
      {"quadratic with the crossover asked for", true, 1, [](FakeSystem&) {},
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_DOUBLE_EQ(p.TOPT1, 1e-8);
         EXPECT_EQ(p.REGULARIZE, 27);
         EXPECT_EQ(p.PRESOLV, 354);
       }},
      // Its answer is final: the gap keeps the linear tolerance.
      {"linear without crossover", false, 0, [](FakeSystem&) {},
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_DOUBLE_EQ(p.TOPT1, 1e-9);
         EXPECT_EQ(p.REGULARIZE, 59);
         EXPECT_EQ(p.PRESOLV, 0);
       }},
      {"quadratic with the presolve switched off", true, 0, [](FakeSystem&) { icv(ic::IFPRES) = 0; },
       [](const barrier_params& p, const FakeSystem&) { EXPECT_EQ(p.PRESOLV, 0); }},
      {"TOLCOMP replaces the loosened tolerance", true, 0, [](FakeSystem&) { kl::dcv(TOLCOMP) = 3e-7; },
       [](const barrier_params& p, const FakeSystem&) { EXPECT_EQ(p.TOPT1, 3e-7); }},
      {"TOLCOMP at the zero tolerance leaves it", false, 1, [](FakeSystem&) { kl::dcv(TOLCOMP) = 1e-35; },
       [](const barrier_params& p, const FakeSystem&) { EXPECT_EQ(p.TOPT1, 1e-9); }},
      {"CACHE_SIZE 16 turns the blocking off", false, 1, [](FakeSystem&) { icv(ic::CACHE_SIZE) = 16; },
       [](const barrier_params& p, const FakeSystem& s) {
         EXPECT_EQ(p.L2_CACHE, 0);
         EXPECT_EQ(s.cache_reads, 0);
         EXPECT_EQ(icv(ic::CACHE_SIZE), 16);
       }},
      {"CACHE_SIZE 256 is taken as given", false, 1, [](FakeSystem&) { icv(ic::CACHE_SIZE) = 256; },
       [](const barrier_params& p, const FakeSystem& s) {
         EXPECT_EQ(p.L2_CACHE, 256);
         EXPECT_EQ(s.cache_reads, 0);
       }},
      {"a 1280 KB cache is blocked for as 1024", false, 1, [](FakeSystem& s) { s.cache_kb = 1280; },
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_EQ(p.L2_CACHE, 1024);
         EXPECT_EQ(icv(ic::CACHE_SIZE), 1024);
       }},
      {"a cache above the table is blocked for as 2048", false, 1, [](FakeSystem& s) { s.cache_kb = 32768; },
       [](const barrier_params& p, const FakeSystem&) { EXPECT_EQ(p.L2_CACHE, 2048); }},
      {"a cache below the table turns the blocking off", false, 1, [](FakeSystem& s) { s.cache_kb = 64; },
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_EQ(p.L2_CACHE, 0);
         EXPECT_EQ(icv(ic::CACHE_SIZE), 0);
       }},
      {"an unknown cache keeps 512 and says so", false, 1, [](FakeSystem& s) { s.cache_kb = -1; },
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_EQ(p.L2_CACHE, 512);
         EXPECT_EQ(icv(ic::CACHE_SIZE), 512);
         EXPECT_TRUE(kltest::any_line_contains("Unable to determine CACHE_SIZE, assuming 512"));
       }},
      {"an unknown cache is silent without the log", false, 1,
       [](FakeSystem& s) {
         s.cache_kb = -1;
         icv(ic::PRLEV) = 0;
       },
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_EQ(p.print_word, 0);
         EXPECT_EQ(p.L2_CACHE, 512);
         EXPECT_FALSE(kltest::any_line_contains("Unable to determine"));
       }},
      {"IQUIET silences the barrier", false, 1, [](FakeSystem&) { icv(ic::IQUIET) = 1; },
       [](const barrier_params& p, const FakeSystem&) { EXPECT_EQ(p.print_word, 0); }},
      {"controls copied in", false, 1,
       [](FakeSystem&) {
         icv(ic::MAXITER) = 17;
         icv(ic::PUSH_CHOLESKY) = 0;
         icv(ic::BORDER) = 2;
         icv(ic::DENSECOL) = 40;
         icv(ic::NPROCS) = 2;
         kl::dcv(kl::dc::TOLPIV) = 1e-12;
         kl::dcv(kl::dc::TOLPRIMAL) = 1e-7;
         kl::dcv(kl::dc::TOLDUAL) = 1e-6;
         kl::dcv(kl::dc::TOLIMP) = 1e-9;
       },
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_EQ(p.MAXITER, 17);
         EXPECT_EQ(p.PUSHFACT, 0);
         EXPECT_EQ(p.ORDERING, 2);
         EXPECT_EQ(p.SETLAM, -1);
         EXPECT_EQ(p.LAM, -40.0);
         EXPECT_EQ(p.NUMPROC, 2);
         EXPECT_EQ(p.L1_CACHE, 0);
         EXPECT_EQ(p.TRABS, 1e-12);
         EXPECT_EQ(p.TFEAS1, 1e-7);
         EXPECT_EQ(p.TFEAS2, 1e-6);
         EXPECT_EQ(p.TSDIR, 1e-9);
       }},
      {"negative controls keep the record's own values", false, 1,
       [](FakeSystem&) {
         icv(ic::MAXITER) = -1;
         icv(ic::BORDER) = -1;
       },
       [](const barrier_params& p, const FakeSystem&) {
         EXPECT_EQ(p.MAXITER, 199);
         EXPECT_EQ(p.ORDERING, 0);
       }},
  };
  for (const ParamsCase& c : cases) {
    SCOPED_TRACE(c.what);
    kl::set_control_defaults();
    kltest::captured_lines().clear();
    system = FakeSystem{};
    c.set(system);
    barrier_params p;
    p.col_count = 3;
    p.row_count = 2;
    p.quad_col_count = c.quadratic ? 3 : 0;
    kl::build_barrier_params(p, c.crossover_flag, -1, nullptr);
    c.check(p, system);
  }
}

TEST_F(BarrierDriver, ParameterFileOverridesTheControls) {
  std::ofstream("kalmir.par") << "BEGIN_OPT\nPRESOLV 0\nL2_CACHE 128\nTOPT1 1e-6\nEND_OPT\n";
  barrier_params p;
  p.col_count = 2;
  p.quad_col_count = 2;
  kl::build_barrier_params(p, 0, 1, kl::kBarrierParameterFileName);
  EXPECT_EQ(p.PRESOLV, 0);
  EXPECT_EQ(p.L2_CACHE, 128);
  EXPECT_EQ(p.TOPT1, 1e-6);
  EXPECT_EQ(p.REGULARIZE, 59);
}

// ---------------------------------------------------------------------------
// Blocks, budget and factor-space ladder.

TEST(BarrierBlocks, AlignedInsideTheirBlockAndRefusedCleanly) {
  for (std::size_t size : {std::size_t{1}, std::size_t{8}, std::size_t{33}, std::size_t{1000}, std::size_t{1} << 20}) {
    void* base = nullptr;
    void* block = kl::alloc_aligned_block(size, &base);
    ASSERT_NE(block, nullptr);
    const auto at = reinterpret_cast<std::uintptr_t>(block);
    const auto from = reinterpret_cast<std::uintptr_t>(base);
    EXPECT_EQ(at % 32, 0u);
    EXPECT_GE(at, from);
    EXPECT_LE(at + size, from + size + 31);
    static_cast<char*>(block)[size - 1] = 1;
    kl::free_aligned_block(base);
  }
  void* unaligned = kl::alloc_aligned_block(64, nullptr);
  ASSERT_NE(unaligned, nullptr);
  kl::free_aligned_block(unaligned);
  void* base = &base;
  EXPECT_EQ(kl::alloc_aligned_block(static_cast<std::size_t>(-1), &base), nullptr);
  EXPECT_EQ(base, nullptr);
  kl::free_aligned_block(nullptr);
}

// Every block reads as zero, also when taken again at the size of one just
// written and released (large blocks are pages the library keeps for the
// next request of their size): sizes below and above the mapping threshold,
// one not a whole number of pages.
TEST(BarrierBlocks, TakenAgainAfterUseStillZero) {
  kl::reset_barrier_platform();
  for (std::size_t size : {std::size_t{4000}, std::size_t{70000}, (std::size_t{3} << 20) + 12}) {
    SCOPED_TRACE("size " + std::to_string(size));
    for (int round = 0; round < 3; ++round) {
      void* base = nullptr;
      auto* block = static_cast<unsigned char*>(kl::alloc_aligned_block(size, &base));
      ASSERT_NE(block, nullptr);
      for (std::size_t k = 0; k < size; k += 509) ASSERT_EQ(block[k], 0) << "byte " << k << " round " << round;
      ASSERT_EQ(block[size - 1], 0);
      for (std::size_t k = static_cast<std::size_t>(round); k < size; k += 1021) block[k] = 0xa5;
      block[0] = block[size - 1] = 0xff;
      kl::free_aligned_block(base);
    }
  }
  kl::release_kept_mappings();
}

TEST_F(BarrierDriver, MemoryBudget) {
  struct Case {
    const char* what;
    int32_t memmax, intmax;
    bool known;
    uint64_t total, available, budget;
  };
  const uint64_t gb = uint64_t{1} << 30;
  const Case cases[] = {
      {"64 MB", 64, 2147483645, true, 16 * gb, 8 * gb, 67108864},
      {"4096 MB and more are taken as megabytes", 5000, 2147483645, true, gb, gb, uint64_t{5000} << 20},
      {"from the system: available less the headroom", 0, 2147483645, true, 16 * gb, 8 * gb, 8 * gb - 4096000},
      {"from the system: never above physical", 0, 2147483645, true, 2 * gb, 8 * gb, 2 * gb},
      {"from the system: nearly nothing available", 0, 2147483645, true, 2 * gb, 1000, 2 * gb},
      {"from the system: unknown", 0, 2147483645, false, 0, 0, 0},
      {"negative MEMMAX leaves it to INTMAX", -1, 2147483645, true, 16 * gb, 8 * gb, 2147483645},
      {"MEMMAX not below INTMAX", 100000, 100000, true, 16 * gb, 8 * gb, 100000},
      {"INTMAX below 1024 bytes", 1, 1000, true, 16 * gb, 8 * gb, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    system.memory_known = c.known;
    system.total = c.total;
    system.available = c.available;
    EXPECT_EQ(kl::barrier_memory_budget(c.memmax, c.intmax), c.budget);
  }
}

TEST(BarrierFactorSpace, RatioAndLadder) {
  // Plenty of memory from the system: capped at 100; with MEMMAX not.
  EXPECT_EQ(kl::initial_factor_ratio(int64_t{1} << 40, 1000, 0), 100.0);
  EXPECT_DOUBLE_EQ(kl::initial_factor_ratio(67108864 / 12, 1000, 64), (5592405.0 - 10240.0) / 1001.0);
  EXPECT_EQ(kl::initial_factor_ratio(10300, 1000, 64), 2.1);
  std::vector<double> ladder;
  for (double r = 5.5; r > 0.0; r = kl::next_factor_ratio(r)) ladder.push_back(r);
  EXPECT_EQ(ladder, (std::vector<double>{5.5, 4.5, 3.5, 2.5, 2.1}));
  ladder.clear();
  for (double r = 3.0; r > 0.0; r = kl::next_factor_ratio(r)) ladder.push_back(r);
  EXPECT_EQ(ladder, (std::vector<double>{3.0, 2.1}));
  EXPECT_EQ(kl::factor_space_at(3, 5.5), 10256);
  EXPECT_EQ(kl::factor_space_at(int64_t{1} << 40, 100.0), kl::factor_space_at(int64_t{1} << 41, 100.0));
  EXPECT_GT(kl::factor_space_at(int64_t{1} << 40, 100.0), 0);
}

// ---------------------------------------------------------------------------
// A small problem in the library's layout: rows at positions 1..m, columns
// from first_col on; arrays "from the first column on" and "by position"
// used 1-based.
struct LibraryFixture {
  int32_t m = 0, first = 0, last = 0;
  std::vector<int32_t> col_start, elem_row, col_status, quad_start, quad_index;
  std::vector<double> elem_value, quad_value, rhs, objective, lower_cols, upper_cols, lower_pos, upper_pos;
  int32_t sense = 1;
  double constant = 0.0;

  // The caller's values by position, lent as the barrier's x (all zero
  // when empty).
  std::vector<double> start;
  // Outputs and lent arrays.
  std::vector<double> values, row_duals, reduced, working, work, row_vec, dual_copy, position_values;
  std::vector<int32_t> classes, col_start_work;
  int32_t quad_cols = -7, quad_nz = -7, status = -99, flag = -1;
  double objective_value = -99.0;

  int32_t n() const { return last - first + 1; }

  void run() {
    const std::size_t size = static_cast<std::size_t>(last) + 2;
    values.assign(size, 0.0);
    for (std::size_t k = 0; k < start.size() && k < size; ++k) values[k] = start[k];
    row_duals.assign(size, 0.0);
    reduced.assign(size, 0.0);
    working.assign(size, 0.0);
    work.assign(size, 0.0);
    row_vec.assign(size, 0.0);
    dual_copy.assign(size, 0.0);
    position_values.assign(size, 0.0);
    classes.assign(size, 0);
    col_start_work.assign(size, 0);
    const double inf = kInfinity;
    const int32_t icrash = 2, block_size = 0;
    kl::run_barrier(&m, &first, &last, &quad_cols, &quad_nz, col_start.data(), elem_row.data(), elem_value.data(),
                    quad_start.empty() ? nullptr : quad_start.data(), quad_index.data(), quad_value.data(),
                    rhs.data(), objective.data(), &sense, &constant, lower_cols.data(), lower_pos.data(),
                    upper_cols.data(), upper_pos.data(), values.data(), row_duals.data(), reduced.data(),
                    working.data(), work.data(), row_vec.data(), dual_copy.data(), classes.data(),
                    col_start_work.data(), position_values.data(), &inf, &status, &objective_value, nullptr,
                    &block_size, &flag, &icrash, col_status.data());
  }
};

// maximise 3 x1 + 2 x2 + x3 + 7
//   r1: x1 + x2 + x3 <= 4       library slack rhs - a x in [0, inf)
//   r2: 1 <= x1 - x2 <= 2       rhs 2, slack in [0, 1]
//   r3: x1 + 3 x2 <= 10         slack 4 at the optimum
//   0 <= x1 <= 5, x2 >= 0 (its upper-bound cell holds 0.5 without the
//   finite-upper bit, so it must be ignored), 0 <= x3 <= 10.
// Optimum x = (3, 1, 0), value 11 + 7; row duals 2.5, 0.5, 0; the reduced
// cost of x3 is 1 - 2.5.
LibraryFixture small_lp() {
  LibraryFixture f;
  f.m = 3;
  f.first = 4;
  f.last = 6;
  // Elements numbered from 5 on, to show that col_start carries the
  // library's element numbers.
  f.col_start = {0, 5, 8, 11, 12};
  f.elem_row = {0, 0, 0, 0, 0, 1, 2, 3, 1, 2, 3, 1};
  f.elem_value = {0, 0, 0, 0, 0, 1, 1, 1, 1, -1, 3, 1};
  f.col_status = {0, kLowerBit | kUpperBit, kLowerBit, kLowerBit | kUpperBit};
  f.objective = {0, 3, 2, 1};
  f.lower_cols = {0, 0, 0, 0};
  f.upper_cols = {0, 5, 0.5, 10};
  f.rhs = {0, 4, 2, 10};
  f.lower_pos = {0, 0, 0, 0, 0, 0, 0};
  f.upper_pos = {0, kInfinity, 1, kInfinity, 5, kInfinity, 10};
  f.sense = -1;
  f.constant = 7.0;
  return f;
}

// Q = [2 1 .5; 1 2 0; .5 0 0] on three columns, the third fixed at 1 (so
// removed before the iterations, its coupling with x1 a linear term);
// linear part (-2, -2, 0.5); one row x1 + x2 <= 1 (library slack
// 1 - x1 - x2 in [0, inf)). The minimum is at x = (0.25, 0.75, 1) with
// value -0.5625 and row dual -0.25; the reduced cost of x3 is
// 0.5 + 0.5 x1 = 0.625. The library stores both triangles; taking the
// upper one too changes the optimum.
LibraryFixture small_qp(int32_t sense) {
  LibraryFixture f;
  f.m = 1;
  f.first = 2;
  f.last = 4;
  f.col_start = {0, 1, 2, 3, 3};
  f.elem_row = {0, 1, 1};
  f.elem_value = {0, 1, 1};
  f.col_status = {0, kLowerBit, kLowerBit, kLowerBit | kUpperBit};
  f.lower_cols = {0, 0, 0, 1};
  f.upper_cols = {0, kInfinity, kInfinity, 1};
  f.rhs = {0, 1};
  f.lower_pos = {0, 0, 0, 0, 1};
  f.upper_pos = {0, kInfinity, kInfinity, kInfinity, 1};
  // Quadratic lists by position: the row has none.
  f.quad_start = {0, 1, 1, 4, 6, 7};
  f.quad_index = {0, 2, 3, 4, 2, 3, 2};
  const double s = sense;  // maximising the negated objective is the same problem
  f.quad_value = {0, 2 * s, 1 * s, 0.5 * s, 1 * s, 2 * s, 0.5 * s};
  f.objective = {0, -2 * s, -2 * s, 0.5 * s};
  f.sense = sense;
  return f;
}

// Residuals of the returned point in the library's own terms.
struct Check {
  double primal = 0.0, dual = 0.0, gap = 0.0, objective = 0.0;
};

Check recompute(const LibraryFixture& f) {
  const int32_t n = f.n();
  Check c;
  std::vector<double> x(static_cast<std::size_t>(n) + 1), qx(static_cast<std::size_t>(n) + 1, 0.0);
  for (int32_t j = 1; j <= n; ++j) x[j] = f.values[f.first + j - 1];
  if (!f.quad_start.empty()) {
    for (int32_t j = 1; j <= n; ++j) {
      const int32_t p = f.first + j - 1;
      for (int32_t k = f.quad_start[p]; k < f.quad_start[p + 1]; ++k) qx[j] += f.quad_value[k] * x[f.quad_index[k] - f.first + 1];
    }
  }
  c.objective = f.constant;
  for (int32_t j = 1; j <= n; ++j) c.objective += (f.objective[j] + 0.5 * qx[j]) * x[j];
  // Rows: the library's slack rhs - a x, within the row's bounds.
  std::vector<double> activity(static_cast<std::size_t>(f.m) + 1, 0.0);
  for (int32_t j = 1; j <= n; ++j)
    for (int32_t k = f.col_start[j]; k < f.col_start[j + 1]; ++k) activity[f.elem_row[k]] += f.elem_value[k] * x[j];
  for (int32_t i = 1; i <= f.m; ++i) {
    const double slack = f.rhs[i] - activity[i];
    c.primal = std::max(c.primal, std::fabs(slack - f.values[i]));
    c.primal = std::max(c.primal, f.lower_pos[i] - slack);
    if (f.upper_pos[i] < 1e19) c.primal = std::max(c.primal, slack - f.upper_pos[i]);
    // Dual of the row: it may push only against a bound that holds.
    const double y = f.reduced[i];
    c.gap += std::fabs(y) * std::min(std::fabs(slack - f.lower_pos[i]),
                                     f.upper_pos[i] < 1e19 ? std::fabs(f.upper_pos[i] - slack) : 1e300);
  }
  // Columns: d = c + Qx - A'y, in the caller's sense.
  for (int32_t j = 1; j <= n; ++j) {
    double d = f.objective[j] + qx[j];
    for (int32_t k = f.col_start[j]; k < f.col_start[j + 1]; ++k) d -= f.elem_value[k] * f.reduced[f.elem_row[k]];
    const double returned = f.reduced[f.first + j - 1];
    c.dual = std::max(c.dual, std::fabs(d - returned));
    const double lo = (f.col_status[j] & kLowerBit) ? f.lower_cols[j] : -kInfinity;
    const double hi = (f.col_status[j] & kUpperBit) ? f.upper_cols[j] : kInfinity;
    c.primal = std::max({c.primal, lo - x[j], x[j] - hi});
    c.gap += std::fabs(returned) * std::min(std::fabs(x[j] - lo), std::fabs(hi - x[j]));
  }
  return c;
}

TEST_F(BarrierDriver, SmallLinearProgramRoundTrip) {
  LibraryFixture f = small_lp();
  f.run();
  ASSERT_EQ(f.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(f.status);
  EXPECT_EQ(f.flag, 1);
  EXPECT_EQ(f.quad_cols, 0);
  EXPECT_EQ(f.quad_nz, 0);
  // Columns at their positions, rows holding the library's slack.
  EXPECT_NEAR(f.values[4], 3.0, 1e-6);
  EXPECT_NEAR(f.values[5], 1.0, 1e-6);
  EXPECT_NEAR(f.values[6], 0.0, 1e-6);
  EXPECT_NEAR(f.values[1], 0.0, 1e-6);
  EXPECT_NEAR(f.values[2], 0.0, 1e-6);
  EXPECT_NEAR(f.values[3], 4.0, 1e-6);
  // Row duals and reduced costs in the caller's (maximising) sense.
  EXPECT_NEAR(f.reduced[1], 2.5, 1e-6);
  EXPECT_NEAR(f.reduced[2], 0.5, 1e-6);
  EXPECT_NEAR(f.reduced[3], 0.0, 1e-6);
  EXPECT_NEAR(f.reduced[6], -1.5, 1e-6);
  for (int32_t i = 1; i <= f.m; ++i) EXPECT_EQ(f.row_duals[i], f.reduced[i]);
  for (int32_t k = 1; k <= f.last; ++k) EXPECT_EQ(f.position_values[k], f.values[k]);
  EXPECT_NEAR(f.objective_value, 18.0, 1e-6);
  const Check c = recompute(f);
  EXPECT_LT(c.primal, 1e-7);
  EXPECT_LT(c.dual, 1e-7);
  EXPECT_LT(c.gap, 1e-6);
  EXPECT_NEAR(c.objective, f.objective_value, 1e-6);
  EXPECT_TRUE(kltest::any_line_contains("Barrier starts"));
  EXPECT_TRUE(kltest::any_line_contains("Barrier time:"));
  EXPECT_EQ(system.taken, system.released);
}

TEST_F(BarrierDriver, SmallQuadraticProgramRoundTrip) {
  for (int32_t sense : {1, -1}) {
    SCOPED_TRACE(sense == 1 ? "minimising" : "maximising");
    LibraryFixture f = small_qp(sense);
    f.run();
    ASSERT_EQ(f.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(f.status);
    EXPECT_EQ(f.flag, 0);
    EXPECT_EQ(f.quad_cols, 3);
    EXPECT_EQ(f.quad_nz, 6);
    EXPECT_NEAR(f.values[2], 0.25, 1e-6);
    EXPECT_NEAR(f.values[3], 0.75, 1e-6);
    EXPECT_NEAR(f.values[4], 1.0, 1e-12);
    EXPECT_NEAR(f.values[1], 0.0, 1e-6);
    EXPECT_NEAR(f.objective_value, -0.5625 * sense, 1e-6);
    EXPECT_NEAR(f.reduced[1], -0.25 * sense, 1e-6);
    // The reduced costs include the Qx term: c + Qx - a'y, also for the
    // removed column.
    EXPECT_NEAR(f.reduced[2], 0.0, 1e-6);
    EXPECT_NEAR(f.reduced[3], 0.0, 1e-6);
    EXPECT_NEAR(f.reduced[4], 0.625 * sense, 1e-6);
    EXPECT_EQ(f.classes[2], 0);
    EXPECT_EQ(f.classes[3], 0);
    EXPECT_EQ(f.classes[4], 0);
    const Check c = recompute(f);
    EXPECT_LT(c.primal, 1e-7);
    EXPECT_LT(c.dual, 1e-7);
    EXPECT_LT(c.gap, 1e-6);
    EXPECT_NEAR(c.objective, f.objective_value, 1e-6);
    EXPECT_EQ(system.taken, system.released);
  }
}

// The same problem with Q negated (a concave minimisation, a convex
// maximisation) and with Q = [1 2; 2 1] (indefinite): refused before any
// solve, everything taken released.
TEST_F(BarrierDriver, NonConvexQuadraticRefusedBeforeAnySolve) {
  for (int32_t sense : {1, -1}) {
    for (const bool indefinite : {false, true}) {
      SCOPED_TRACE(std::string(sense == 1 ? "minimising" : "maximising") + (indefinite ? ", indefinite" : ", negated"));
      LibraryFixture f = small_qp(sense);
      const double s = sense;
      if (indefinite) {
        f.quad_value = {0, 1 * s, 2 * s, 2 * s, 1 * s};
      } else {
        for (double& v : f.quad_value) v = -v;
      }
      kltest::captured_lines().clear();
      f.run();
      EXPECT_EQ(f.status, kl::BARRIER_NOT_CONVEX) << kl::barrier_status_text(f.status);
      EXPECT_FALSE(kltest::any_line_contains("Barrier starts"));
      EXPECT_TRUE(kltest::any_line_contains("Quadratic objective not convex"));
      EXPECT_EQ(system.taken, system.released);
    }
  }
}

TEST_F(BarrierDriver, QuadraticStartsWithoutEntriesRunAsLinear) {
  LibraryFixture f = small_lp();
  f.quad_start.assign(static_cast<std::size_t>(f.last) + 2, 1);
  f.quad_index = {0};
  f.quad_value = {0.0};
  f.run();
  EXPECT_EQ(f.quad_cols, 0);
  EXPECT_EQ(f.flag, 1);
  EXPECT_EQ(f.status, kl::BARRIER_OPTIMAL);
  EXPECT_NEAR(f.objective_value, 18.0, 1e-6);
}

// The budget runs out before the reserve: reported as a shortage (status
// -2, so the caller's message says why), never the silent 0 of a user stop.
TEST_F(BarrierDriver, BudgetBelowTheReserveIsAShortage) {
  struct Case {
    const char* what;
    bool quadratic;
    std::function<void(FakeSystem&)> set;
  };
  const Case cases[] = {
      {"INTMAX of 100000 bytes", false, [](FakeSystem&) {
         icv(ic::INTMAX) = 100000;
         icv(ic::MEMMAX) = 100000;
       }},
      {"the system has next to nothing", true, [](FakeSystem& s) {
         s.total = 12 * 10240;
         s.available = uint64_t{8} << 30;
       }},
      {"the system does not say", false, [](FakeSystem& s) { s.memory_known = false; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kl::set_control_defaults();
    system = FakeSystem{};
    c.set(system);
    LibraryFixture f = c.quadratic ? small_qp(1) : small_lp();
    f.run();
    EXPECT_EQ(f.status, kl::BARRIER_SPACE_SHORT);
    EXPECT_EQ(f.flag, c.quadratic ? 0 : 1);
    EXPECT_EQ(f.quad_cols, c.quadratic ? 3 : 0);
    EXPECT_EQ(f.quad_nz, c.quadratic ? 6 : 0);
    EXPECT_EQ(f.objective_value, -99.0);
    for (double v : f.values) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(system.taken, system.released);
  }
}

// Budget for exactly 5.5 factor entries per matrix entry (3 entries + 1):
// 10240 + 22 entries of 12 bytes. Factor blocks refused from some rung on.
TEST_F(BarrierDriver, FactorSpaceLadder) {
  auto space_requests = [](const FakeSystem& s) {
    std::vector<int32_t> spaces;
    for (std::size_t bytes : s.refused)
      if ((bytes - 31) % 8 == 0 && bytes > 40000 && (bytes - 31) / 8 > 10240) spaces.push_back(static_cast<int32_t>((bytes - 31) / 8 - 1));
    return spaces;
  };
  LibraryFixture probe = small_lp();
  const int32_t nz = probe.col_start[probe.n() + 1] - probe.col_start[1];
  ASSERT_EQ(nz, 7);
  // Seven entries: 5.5 x 8 = 44 entries over the reserve.
  const uint64_t budget = 12 * (10240 + 44);

  system.total = budget;
  system.refuse = [](std::size_t bytes) { return bytes > 40000; };
  icv(ic::MEMMAX) = 0;
  LibraryFixture f = small_lp();
  f.run();
  EXPECT_EQ(f.status, kl::BARRIER_SPACE_SHORT);
  const std::vector<int32_t> expected = {kl::factor_space_at(nz, 5.5), kl::factor_space_at(nz, 4.5),
                                         kl::factor_space_at(nz, 3.5), kl::factor_space_at(nz, 2.5),
                                         kl::factor_space_at(nz, 2.1)};
  EXPECT_EQ(space_requests(system), expected);
  EXPECT_EQ(system.taken, system.released);

  // Refused at the first two rungs, then had: the solve runs at the third.
  system = FakeSystem{};
  system.total = budget;
  std::vector<std::size_t> refused_sizes;
  for (double ratio : {5.5, 4.5}) {
    const std::size_t entries = static_cast<std::size_t>(kl::factor_space_at(nz, ratio)) + 1;
    refused_sizes.push_back(entries * 4 + 31);
    refused_sizes.push_back(entries * 8 + 31);
  }
  system.refuse = [refused_sizes](std::size_t bytes) {
    return std::find(refused_sizes.begin(), refused_sizes.end(), bytes) != refused_sizes.end();
  };
  LibraryFixture g = small_lp();
  g.run();
  EXPECT_EQ(g.status, kl::BARRIER_OPTIMAL);
  EXPECT_NEAR(g.objective_value, 18.0, 1e-6);
  EXPECT_EQ(system.taken, system.released);
}

// Any refused work array: status -2, nothing copied or solved, every
// block given back.
TEST_F(BarrierDriver, RefusedWorkArraysReleaseEverything) {
  // Count the requests of a run that succeeds.
  LibraryFixture probe = small_lp();
  probe.run();
  ASSERT_EQ(probe.status, kl::BARRIER_OPTIMAL);
  const int64_t requests = system.taken;
  ASSERT_GT(requests, 30);
  // The factor blocks at the first rung (ratio 100 of 7 entries).
  const std::size_t entries = static_cast<std::size_t>(kl::factor_space_at(7, 100.0)) + 1;
  const std::vector<std::size_t> factor_blocks = {entries * 4 + 31, entries * 8 + 31};
  for (int64_t refused = 0; refused < requests; ++refused) {
    SCOPED_TRACE(refused);
    system = FakeSystem{};
    int64_t seen = 0;
    system.refuse = [&seen, refused](std::size_t) { return seen++ == refused; };
    LibraryFixture f = small_lp();
    f.run();
    ASSERT_EQ(system.refused.size(), 1u);
    if (std::find(factor_blocks.begin(), factor_blocks.end(), system.refused[0]) != factor_blocks.end()) {
      // A refused factor space is tried again one rung lower.
      EXPECT_EQ(f.status, kl::BARRIER_OPTIMAL);
    } else {
      EXPECT_EQ(f.status, kl::BARRIER_SPACE_SHORT);
      for (double v : f.values) EXPECT_EQ(v, 0.0);
    }
    EXPECT_EQ(system.taken, system.released);
  }
}

// Stopped without convergence: below the library's own iteration limit the
// status says so (5); at the limit it stays 1.
TEST_F(BarrierDriver, StoppedBelowTheIterationLimit) {
  icv(ic::MAXITER) = 2;
  LibraryFixture at_limit = small_lp();
  at_limit.run();
  EXPECT_EQ(at_limit.status, kl::BARRIER_STOPPED);

  icv(ic::MAXITER) = 200;
  std::ofstream("kalmir.par") << "BEGIN_OPT\nMAXITER 2\nEND_OPT\n";
  LibraryFixture below = small_lp();
  below.run();
  EXPECT_EQ(below.status, kl::BARRIER_ITERATION_LIMIT);
}

// An interrupt stops the iterations: never reported as an optimum.
TEST_F(BarrierDriver, InterruptIsNotAnOptimum) {
  kl::interrupt_flag = 1;
  LibraryFixture f = small_lp();
  f.run();
  kl::clear_interrupt();
  EXPECT_NE(f.status, kl::BARRIER_OPTIMAL);
  EXPECT_EQ(system.taken, system.released);
}

// A negative SMETHOD starts from the caller's values, which the library
// keeps by position: columns at first_col.., rows (the library's slack) at
// 1..m. The barrier wants column j at j and minus the slack at n + i.
TEST(BarrierStart, NegativeSmethodMovesTheStartToBarrierPositions) {
  struct Case {
    int32_t n, m, first_col;
  };
  for (const Case c : {Case{3, 3, 4}, Case{2, 0, 1}, Case{1, 4, 5}, Case{4, 2, 6}}) {
    SCOPED_TRACE(testing::Message() << "n " << c.n << " m " << c.m << " first " << c.first_col);
    const std::size_t size = static_cast<std::size_t>(std::max(c.first_col + c.n, c.n + c.m + 1)) + 1;
    std::vector<double> x(size, -99.0), scratch(static_cast<std::size_t>(c.m) + 1, 0.0);
    for (int32_t i = 1; i <= c.m; ++i) x[i] = 100.0 + i;                   // row i's library slack
    for (int32_t j = 1; j <= c.n; ++j) x[c.first_col + j - 1] = 10.0 * j;  // column j
    kl::move_start_to_barrier_positions(x.data(), scratch.data(), c.n, c.m, c.first_col);
    for (int32_t j = 1; j <= c.n; ++j) EXPECT_EQ(x[j], 10.0 * j) << "column " << j;
    for (int32_t i = 1; i <= c.m; ++i) EXPECT_EQ(x[c.n + i], -(100.0 + i)) << "row " << i;
  }
}

// End to end: started from the caller's optimum, laid out by position, the
// run stays at it; read from the wrong places the start would put x1 at
// the library's slack of r1 (0) and x3 at 1.
TEST_F(BarrierDriver, NegativeSmethodStartsFromTheCallersValues) {
  std::ofstream("kalmir.par") << "BEGIN_OPT\nSMETHOD -1\nEND_OPT\n";
  LibraryFixture f = small_lp();
  f.start = {0, 0.0, 0.0, 4.0, 3.0, 1.0, 0.0};
  f.run();
  ASSERT_EQ(f.status, kl::BARRIER_OPTIMAL) << kl::barrier_status_text(f.status);
  EXPECT_NEAR(f.values[4], 3.0, 1e-6);
  EXPECT_NEAR(f.values[5], 1.0, 1e-6);
  EXPECT_NEAR(f.values[6], 0.0, 1e-6);
  EXPECT_NEAR(f.values[3], 4.0, 1e-6);
  EXPECT_NEAR(f.objective_value, 18.0, 1e-6);
  // From the optimum itself one step suffices; a start read from the wrong
  // places takes the five of a cold start.
  EXPECT_LE(kl::barrier_int_attributes[1], 2);
}

TEST_F(BarrierDriver, QuietRunPrintsNothing) {
  icv(ic::IQUIET) = 1;
  LibraryFixture f = small_lp();
  f.run();
  EXPECT_EQ(f.status, kl::BARRIER_OPTIMAL);
  EXPECT_FALSE(kltest::any_line_contains("Barrier starts"));
  EXPECT_FALSE(kltest::any_line_contains("Barrier time:"));
}

}  // namespace
