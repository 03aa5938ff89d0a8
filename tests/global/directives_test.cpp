// Directives by array, model-cut marks and the directives file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/search_state.h"
#include "problem/store.h"
#include "problem/array_problem.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace kltest {
namespace {

// Three integer columns X1, X2, XY, one continuous C, and a set of type 1
// over X1 and X2 named S1.
class DirectivesTest : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    ArrayProblem p;
    p.row('L', 10.0);
    p.row('G', 1.0);
    p.row('N', 0.0);
    p.column(1.0, 0.0, 5.0, {{0, 1.0}, {2, 1.0}});
    p.column(2.0, 0.0, 5.0, {{0, 1.0}, {1, 1.0}, {2, 2.0}});
    p.column(1.0, 0.0, 5.0, {{1, 1.0}, {2, 1.0}});
    p.column(1.0, 0.0, 5.0, {{0, 1.0}});
    p.entity('I', 0);
    p.entity('I', 1);
    p.entity('I', 2);
    p.set('1', {{0, 1.0}, {1, 2.0}});
    ASSERT_EQ(p.load_global("dirtest"), 0);
    ASSERT_EQ(KLADDNAMES(2, "X1\0X2\0XY\0C\0", 0, 3), 0);
    ASSERT_EQ(KLADDNAMES(1, "R1\0R2\0OBJ\0", 0, 2), 0);
    ASSERT_EQ(kl::nglent, 4);
  }

  struct Directives {
    int32_t n = 0;
    std::vector<int32_t> columns = std::vector<int32_t>(4), priorities = std::vector<int32_t>(4);
    std::string directions = std::string(4, ' ');
    std::vector<double> up = std::vector<double>(4), down = std::vector<double>(4);
  };
  Directives get() {
    Directives d;
    EXPECT_EQ(KLGETDIR(&d.n, d.columns.data(), d.priorities.data(), d.directions.data(), d.up.data(), d.down.data()),
              0);
    return d;
  }
  // Entity numbers by name: 1 X1, 2 X2, 3 XY, 4 the set (the store keeps
  // its own entity order).
  static int32_t entity(int32_t k) {
    for (int32_t e = 1; e <= kl::nglent; ++e) {
      const int32_t type = kl::int_array(kl::ARR_ENTITY_TYPE)[e] & kl::ENT_TYPE_MASK;
      const int32_t where = kl::int_array(kl::ARR_ENTITY_COLUMN)[e];
      if (k == 4 ? type == kl::ENT_SET1 : (type != kl::ENT_SET1 && where == kl::col_from_caller(k - 1))) return e;
    }
    return 0;
  }
  int32_t word(int32_t k) { return kl::int_array(kl::ARR_DIRECTIVE_WORD)[entity(k)]; }
  // Directives in the order X1, X2, XY, set, whatever the entity order.
  Directives by_name(const Directives& d) {
    Directives out = d;
    for (int32_t k = 1; k <= 4; ++k) {
      const size_t from = static_cast<size_t>(entity(k) - 1);
      const size_t to = static_cast<size_t>(k - 1);
      out.columns[to] = d.columns[from];
      out.priorities[to] = d.priorities[from];
      out.directions[to] = d.directions[from];
      out.up[to] = d.up[from];
      out.down[to] = d.down[from];
    }
    return out;
  }
  bool printed(const std::string& text) {
    for (const CapturedLine& line : captured_lines())
      if (line.text.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(DirectivesTest, LoadAndReadBack) {
  const int32_t columns[] = {2, -1, 0};
  const int32_t priorities[] = {3, 7, 1000};
  const double up[] = {1.5, 2.5, 3.5};
  const double down[] = {0.25, 0.5, 0.75};
  ASSERT_EQ(KLLOADDIR(3, columns, priorities, "UDN", up, down), 0);
  const Directives d = by_name(get());
  EXPECT_EQ(d.n, 4);
  // Entities in order: X1, X2, XY, then the set (named by minus its number).
  EXPECT_EQ(d.columns, (std::vector<int32_t>{0, 1, 2, -1}));
  EXPECT_EQ(d.priorities, (std::vector<int32_t>{1000, 500, 3, 7}));
  EXPECT_EQ(d.directions, "NNUD");
  EXPECT_DOUBLE_EQ(d.up[2], 1.5);
  EXPECT_DOUBLE_EQ(d.down[3], 0.5);
  EXPECT_DOUBLE_EQ(d.up[0], 3.5);
  EXPECT_EQ(word(3), 3 * 16 + 1);
  EXPECT_EQ(word(4), 7 * 16 + 2);
}

TEST_F(DirectivesTest, AllEntitiesInOrderAndDefaults) {
  ASSERT_EQ(KLLOADDIR(-1, nullptr, nullptr, "DDDD", nullptr, nullptr), 0);
  for (int32_t e = 1; e <= 4; ++e) EXPECT_EQ(word(e), 8002);
  // Loading again without priorities or directions resets them to 500 / none.
  const int32_t columns[] = {0};
  ASSERT_EQ(KLLOADDIR(1, columns, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(word(1), 8000);
  const int32_t priorities[] = {500};
  ASSERT_EQ(KLLOADDIR(1, columns, priorities, "U", nullptr, nullptr), 0);
  const Directives d = by_name(get());
  EXPECT_EQ(d.priorities[0], 500);
  EXPECT_EQ(d.directions[0], 'U');
}

TEST_F(DirectivesTest, PriorityOutOfRangeIsReportedAndDefaulted) {
  const int32_t columns[] = {0, 1, 2};
  const int32_t priorities[] = {1001, -1, 0};
  ASSERT_EQ(KLLOADDIR(3, columns, priorities, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(word(1), 8000);
  EXPECT_EQ(word(2), 8000);
  EXPECT_EQ(word(3), 0);
  EXPECT_TRUE(printed("Priority of X1"));
  EXPECT_TRUE(printed("Priority of X2"));
}

TEST_F(DirectivesTest, ArrayErrors) {
  struct Case {
    int32_t column;
    const char* direction;
    int32_t status;
    int32_t error;
  };
  const Case cases[] = {
      {0, "u", 32, 409},   // lower case is not a direction
      {0, "X", 32, 409},
      {9, "U", 32, 405},   // beyond the last column
      {-3, "U", 0, 0},     // no such set: reported (247) and skipped
      {3, "U", 0, 0},      // C is not an entity: reported and skipped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    const int32_t columns[] = {c.column};
    EXPECT_EQ(KLLOADDIR(1, columns, nullptr, c.direction, nullptr, nullptr), c.status);
    EXPECT_EQ(kl::error_number, c.error);
  }
  EXPECT_TRUE(printed("Column C"));
  // Items before a bad direction stay stored.
  const int32_t columns[] = {1, 2};
  EXPECT_EQ(KLLOADDIR(2, columns, nullptr, "Dz", nullptr, nullptr), 32);
  EXPECT_EQ(word(2), 8002);
}

TEST_F(DirectivesTest, ModelCutsAreMarkedAndCounted) {
  kl::model_cut_count = 0;
  const int32_t rows[] = {0, 1, 0};
  ASSERT_EQ(KLMODELCUTS(3, rows), 0);
  EXPECT_EQ(kl::model_cut_count, 3);
  EXPECT_NE(kl::int_array(kl::ARR_ROW_TYPE)[1] & kl::RF_MODEL_CUT, 0);
  EXPECT_NE(kl::int_array(kl::ARR_ROW_TYPE)[2] & kl::RF_MODEL_CUT, 0);
  const int32_t bad[] = {2, 7};
  EXPECT_EQ(KLMODELCUTS(2, bad), 32);
  EXPECT_EQ(kl::error_number, 402);
  EXPECT_EQ(kl::model_cut_count, 4);
}

TEST(DirectivesNoProblem, RefusedWithoutEntities) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_EQ(KLLOADDIR(-1, nullptr, nullptr, nullptr, nullptr, nullptr), 32);
  EXPECT_EQ(kl::error_number, 91);
  ArrayProblem p;
  p.row('L', 1.0);
  p.column(1.0, 0.0, 1.0, {{0, 1.0}});
  ASSERT_EQ(p.load("lp"), 0);
  EXPECT_EQ(KLLOADDIR(-1, nullptr, nullptr, nullptr, nullptr, nullptr), 32);
  EXPECT_EQ(kl::error_number, 128);
  EXPECT_EQ(KLDIRECTIVES(nullptr), 0);  // message 128, status unchanged
  EXPECT_EQ(kl::error_number, 128);
  KLFREEXO();
}

class DirectivesFileTest : public DirectivesTest {
 protected:
  void SetUp() override {
    DirectivesTest::SetUp();
    ASSERT_EQ(KLSETPROB(dir_.file("dirtest").c_str()), 0);
  }
  int32_t read(const std::string& text, int32_t frefmt = 1) {
    std::ofstream(dir_.file("dirtest.dir")) << text;
    kl::icv(kl::ic::FREFMT) = frefmt;
    captured_lines().clear();
    return KLDIRECTIVES(nullptr);
  }
  float up_cost(int32_t k) { return kl::float_array(kl::ARR_PSEUDO_COST_UP)[entity(k)]; }
  float down_cost(int32_t k) { return kl::float_array(kl::ARR_PSEUDO_COST_DOWN)[entity(k)]; }
  TempDir dir_;
};

TEST_F(DirectivesFileTest, EmptyFileSetsDefaults) {
  const int32_t columns[] = {0};
  const int32_t priorities[] = {3};
  ASSERT_EQ(KLLOADDIR(1, columns, priorities, "U", nullptr, nullptr), 0);
  ASSERT_EQ(read(""), 0);
  const float expected = static_cast<float>(kl::dcv(kl::dc::RTOLPS) * kl::dcv(kl::kObjectiveScaleSlot));
  for (int32_t e = 1; e <= 4; ++e) {
    EXPECT_EQ(word(e), 8000);
    EXPECT_EQ(up_cost(e), expected);
    EXPECT_EQ(down_cost(e), expected);
  }
}

TEST_F(DirectivesFileTest, PrioritiesDirectionsAndCosts) {
  ASSERT_EQ(read(" PR X1 10\n"
                 " UP X1\n"
                 " DN X2\n"
                 " PR X2 10\n"
                 " PR XY 1000.9\n"
                 " PR SS* 0\n"  // sets loaded by array are named SSVVVVV1 ...

                 " PU * 2.5\n"
                 " PD X? 0.5\n"),
            0);
  EXPECT_EQ(word(1), 161);
  EXPECT_EQ(word(2), 162);
  EXPECT_EQ(word(3), 16000);
  EXPECT_EQ(word(4), 0);
  for (int32_t e = 1; e <= 4; ++e) EXPECT_EQ(up_cost(e), 2.5f);
  // "X?" matches the two-character names only: X1, X2, XY, not the set.
  EXPECT_EQ(down_cost(1), 0.5f);
  EXPECT_EQ(down_cost(3), 0.5f);
  EXPECT_NE(down_cost(4), 0.5f);
}

TEST_F(DirectivesFileTest, BadLinesAreReportedAndSkipped) {
  ASSERT_EQ(read("NAME\n"
                 " PR X1 1001\n"
                 " PR X2 -1\n"
                 " PR NOPE 5\n"
                 " ZZ X1\n"
                 " PR XY 4\n"
                 "ENDATA\n"),
            0);
  EXPECT_EQ(word(1), 8000);
  EXPECT_EQ(word(2), 8000);
  EXPECT_EQ(word(3), 64);
  EXPECT_TRUE(printed("code NA on line      1;"));
  EXPECT_TRUE(printed("Priority of X1"));
  EXPECT_TRUE(printed("matches NOPE     on line      4;"));
  EXPECT_TRUE(printed("code ZZ on line      5;"));
  EXPECT_TRUE(printed("code EN on line      7;"));
}

TEST_F(DirectivesFileTest, BadNumberStopsTheRead) {
  EXPECT_EQ(read(" PR X1 7\n PR X2 1x5\n PR XY 9\n"), 32);
  EXPECT_EQ(word(1), 112);
  EXPECT_EQ(word(2), 8000);
  EXPECT_EQ(word(3), 8000);
}

TEST_F(DirectivesFileTest, ModelCutsByRowName) {
  kl::model_cut_count = 0;
  ASSERT_EQ(read(" MC R2\n PR X1 5\n MC R2\n"), 0);
  EXPECT_EQ(kl::model_cut_count, 2);
  EXPECT_NE(kl::int_array(kl::ARR_ROW_TYPE)[2] & kl::RF_MODEL_CUT, 0);
  EXPECT_EQ(kl::int_array(kl::ARR_ROW_TYPE)[1] & kl::RF_MODEL_CUT, 0);
  EXPECT_EQ(word(1), 80);
}

TEST_F(DirectivesFileTest, FixedFields) {
  // Code in columns 2-3, name from column 5, value in columns 25-39.
  ASSERT_EQ(read(" PR X1                  12\n"
                 " DN XY\n",
                 0),
            0);
  EXPECT_EQ(word(1), 192);
  EXPECT_EQ(word(3), 8002);
}

TEST_F(DirectivesFileTest, FileThatDoesNotOpen) {
  kl::icv(kl::ic::FREFMT) = 1;
  EXPECT_EQ(KLDIRECTIVES(dir_.file("missing.dir").c_str()), 32);
  // The problem name is kept.
  char name[512] = {};
  ASSERT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), dir_.file("dirtest"));
}

}  // namespace
}  // namespace kltest
