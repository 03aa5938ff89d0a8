#include "barrier/barrier_params.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/barrier_system.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "runtime/frame.h"

namespace {

TEST(BarrierParams, DefaultsKeepDimensionsAndReadBackPacked) {
  kl::barrier_params p;
  p.col_count = 7;
  p.row_count = 3;
  p.factor_space = 999;
  p.print_word = -1;
  p.ORDERING = 3;
  p.scaling_methods = 0;
  std::strcpy(p.message_buffer, "kept");
  kl::set_barrier_defaults(p);
  EXPECT_EQ(p.col_count, 7);
  EXPECT_EQ(p.row_count, 3);
  EXPECT_EQ(p.factor_space, 999);
  EXPECT_EQ(p.print_word, -1);
  EXPECT_STREQ(p.message_buffer, "kept");
  EXPECT_EQ(p.ORDERING, 0);
  EXPECT_EQ(kl::smethod1(p), 2);
  EXPECT_EQ(kl::smethod2(p), 0);
  EXPECT_EQ(kl::spasses1(p), 5);
  EXPECT_EQ(kl::spasses2(p), 0);
  EXPECT_EQ(p.REGULARIZE, 27);
  EXPECT_DOUBLE_EQ(p.TPIV2, 1e-8);
}

using BarrierLog = kltest::LibrarySession;

TEST_F(BarrierLog, PrintWordSignChoosesTheRoutine) {
  struct Case {
    int32_t word;
    size_t detail_lines;
    size_t line_lines;
  };
  for (const Case c : {Case{0, 0, 0}, Case{-1, 0, 1}, Case{5, 1, 0}}) {
    kl::barrier_params p;
    p.print_word = c.word;
    std::strcpy(p.message_buffer, "barrier log text");
    kltest::captured_lines().clear();
    kl::log_barrier_detail(p);
    EXPECT_EQ(kltest::captured_lines().size(), c.detail_lines) << c.word;
    kltest::captured_lines().clear();
    kl::log_barrier_line(p);
    EXPECT_EQ(kltest::captured_lines().size(), c.line_lines) << c.word;
    EXPECT_EQ(p.print_word, c.word);
    if (c.line_lines + c.detail_lines > 0) {
      kltest::captured_lines().clear();
      if (c.word > 0) kl::log_barrier_detail(p); else kl::log_barrier_line(p);
      ASSERT_FALSE(kltest::captured_lines().empty());
      EXPECT_TRUE(kltest::any_line_contains("barrier log text"));
    }
  }
}

TEST_F(BarrierLog, SpaceFailureIsMessage251) {
  kl::barrier_params p;
  p.factor_space = 1234;
  kl::report_barrier_space_failure(p, kl::BARRIER_SPACE_SHORT);
  ASSERT_FALSE(kltest::captured_lines().empty());
  EXPECT_EQ(kl::error_number, 251);
  EXPECT_TRUE(kltest::any_line_contains("not enough memory for the factor"));
  EXPECT_TRUE(kltest::any_line_contains("1234"));
}

TEST_F(BarrierLog, SystemFixtureLaysOutAnMpsMatrix) {
  const std::string path = kltest::data_file("netlib/afiro.mps");
  if (path.empty()) GTEST_SKIP() << "KLSOL_DATA has no netlib/afiro.mps";
  const kltest::SparseColumns a = kltest::read_mps_columns(path);
  ASSERT_GT(a.cols_count, 0);
  kltest::BarrierSystem s = kltest::make_barrier_system(a);
  EXPECT_EQ(s.params.matrix_nz, static_cast<int32_t>(a.rows.size()));
  for (int32_t j = 1; j <= s.n(); ++j)
    for (int32_t e = s.matrix_start[j]; e <= s.matrix_end[j]; ++e) {
      EXPECT_GT(s.factor_index[e], s.n());
      EXPECT_LE(s.factor_index[e], s.n() + s.m());
    }
}

}  // namespace
