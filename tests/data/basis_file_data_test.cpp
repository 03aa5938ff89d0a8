// Netlib problems through the basis file: the optimal basis written, read
// into the problem loaded afresh, re-solves in no iteration (in the standard
// form, with option z on both sides, and in the compact form); the basis a
// presolved problem writes is the one its original problem writes with the
// same statuses, and it too re-solves in no iteration. The problem files are
// copied into the test's own directory, beside which the basis files go.
#include <gtest/gtest.h>

#include <cstdio>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-7 * (1.0 + std::fabs(b)); }

class NetlibBasisFile : public kltest::LibrarySessionOf<::testing::TestWithParam<std::string>> {
 protected:
  kltest::TempDir dir;
};

TEST_P(NetlibBasisFile, BasisOutInResolvesWithoutIterations) {
  const std::string name = GetParam();
  KLTEST_REQUIRE_DATA(source, "netlib/" + name + ".mps");
  std::filesystem::copy_file(source, dir.file(name + ".mps"));
  const std::string stem = dir.file(name);
  const std::string plain = dir.file("plain");
  const std::string presolved = dir.file("presolved");
  const std::string unpresolved = dir.file("unpresolved");

  // Without presolve.
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  ASSERT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  const double optimum = kltest::objective_value();
  ASSERT_EQ(KLBASISOUT(plain.c_str(), nullptr), 0);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLBASISIN(plain.c_str(), nullptr), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0) << "without presolve";
  EXPECT_TRUE(near(kltest::objective_value(), optimum)) << kltest::objective_value() << " vs " << optimum;

  // Written and read with option z, the basis is the same.
  ASSERT_EQ(KLBASISOUT(plain.c_str(), "z"), 0);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLBASISIN(plain.c_str(), "z"), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0) << "with option z on both sides";

  // The compact form too.
  ASSERT_EQ(KLBASISOUT(plain.c_str(), "t"), 0);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLBASISIN(plain.c_str(), "t"), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0) << "from the compact file";
  EXPECT_TRUE(near(kltest::objective_value(), optimum)) << kltest::objective_value() << " vs " << optimum;

  // With presolve. A solve that ends at its iteration limit is left
  // presolved; with the limit at the iterations the whole solve takes, the
  // presolved problem is left at its optimum. It writes the basis of the
  // original problem, and stays presolved.
  KLSETICV(KLIC_IFPRES, 1);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  const int32_t iterations = kltest::int_attribute_value(KLIA_ITCNT);
  int32_t limit = 0;
  KLGETICV(KLIC_ITRLIM, &limit);
  KLSETICV(KLIC_ITRLIM, iterations);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  // The counts of the original problem, which the caller's arrays take.
  const int32_t rows = kltest::int_attribute_value(KLIA_NROW);
  const int32_t columns = kltest::int_attribute_value(1018);
  KLMINIM("");
  KLSETICV(KLIC_ITRLIM, limit);
  const int32_t flags = kltest::int_attribute_value(1026);
  if ((flags & 0x2) == 0) {
    // The solve reached its optimum within the limit and was postsolved
    // (etamacro): no presolved form is left to write from.
    std::printf("%s: the presolved half does not apply, the solve was postsolved at its end\n", GetParam().c_str());
    return;
  }
  ASSERT_EQ(KLBASISOUT(presolved.c_str(), nullptr), 0);
  EXPECT_EQ(kltest::int_attribute_value(1026), flags) << "the problem stays presolved";
  std::vector<int32_t> row_status(static_cast<size_t>(rows)), column_status(static_cast<size_t>(columns));
  ASSERT_EQ(KLGETBASIS(row_status.data(), column_status.data()), 0);
  KLSETICV(KLIC_IFPRES, 0);
  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLLOADBASIS(row_status.data(), column_status.data()), 0);
  ASSERT_EQ(KLBASISOUT(unpresolved.c_str(), nullptr), 0);
  EXPECT_EQ(file_text(presolved + ".bss"), file_text(unpresolved + ".bss"))
      << "the presolved write equals the write of the original problem with the same basis";
  EXPECT_NE(file_text(presolved + ".bss").find(" X"), std::string::npos) << "the basis has basic columns";

  ASSERT_EQ(KLINPUT(stem.c_str()), 0);
  ASSERT_EQ(KLBASISIN(presolved.c_str(), nullptr), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), 1);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_ITCNT), 0) << "from the basis a presolved problem wrote";
  EXPECT_TRUE(near(kltest::objective_value(), optimum)) << kltest::objective_value() << " vs " << optimum;
}

INSTANTIATE_TEST_SUITE_P(Netlib, NetlibBasisFile, ::testing::ValuesIn(kltest::mps_problems("netlib")),
                         kltest::problem_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(NetlibBasisFile);

}  // namespace
