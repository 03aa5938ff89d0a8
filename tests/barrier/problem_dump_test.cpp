#include "barrier/problem_dump.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>
#include <string>
#include <utility>
#include <vector>

#include "klsol32.h"
#include "runtime/controls.h"
#include "support/library_session.h"
#include "support/temp_dir.h"

namespace {

constexpr double kInf = 1e20;

std::string name_of(char prefix, int32_t index) {
  char name[kl::kBarrierDumpNameLength + 1];
  kl::format_barrier_dump_name(prefix, index, name);
  return name;
}

TEST(BarrierDumpNames, EightCharactersAndUniqueBeyondTenMillion) {
  EXPECT_EQ(name_of('R', 5), "R------5");
  EXPECT_EQ(name_of('R', 1234), "R---1234");
  EXPECT_EQ(name_of('C', 7), "C------7");
  EXPECT_EQ(name_of('C', 9999999), "C9999999");
  // Ten million and its multiples lost their first digit and met one name.
  EXPECT_NE(name_of('R', 10000000), name_of('R', 20000000));
  EXPECT_NE(name_of('R', 10000000), name_of('R', 1));
  std::set<std::string> names;
  std::vector<int32_t> indices;
  for (int32_t base : {1, 9999000, 10000000, 19999000, 20000000, 99999000, 100000000, 2147482000}) {
    for (int32_t k = 0; k < 1000; ++k) indices.push_back(base + k);
  }
  for (int32_t k = 2147483647; k > 2147483000; --k) indices.push_back(k);
  for (int32_t index : indices) {
    const std::string name = name_of('R', index);
    ASSERT_EQ(name.size(), 8u) << index;
    EXPECT_EQ(name.find(' '), std::string::npos) << index;
    EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name << " for " << index;
  }
  // The decimal names never carry the mark of the wide ones.
  for (int32_t index : {1, 42, 9999999}) EXPECT_NE(name_of('R', index)[1], 'X');
  EXPECT_EQ(name_of('R', 10000000)[1], 'X');
}

// A problem in the dump's terms, 1-based, with row indices 1..m.
struct DumpProblem {
  int32_t m = 0, n = 0;
  std::vector<int32_t> state, start{0, 1}, index{0}, quad_start;
  std::vector<double> value{0.0}, cost{0.0}, rhs{0.0}, lower{0.0}, upper{0.0}, quad_diag{0.0};
  double constant = 0.0;
  int32_t quad_nz = 0;

  void add_row(double b, double l, double u) {
    ++m;
    rhs.push_back(b);
    row_bounds.emplace_back(l, u);
  }
  void add_column(double c, double l, double u, const std::vector<std::pair<int32_t, double>>& entries) {
    ++n;
    cost.push_back(c);
    col_bounds.emplace_back(l, u);
    for (const auto& [i, a] : entries) {
      index.push_back(i);
      value.push_back(a);
    }
    start.push_back(static_cast<int32_t>(index.size()));
  }
  // Diagonal by column; below-diagonal entries (j, c > j, value).
  void set_quadratic(const std::vector<double>& diagonal, const std::vector<std::tuple<int32_t, int32_t, double>>& below) {
    quad_diag.assign(1, 0.0);
    quad_diag.insert(quad_diag.end(), diagonal.begin(), diagonal.end());
    quad_start.assign(static_cast<size_t>(n) + 2, 0);
    int32_t e = static_cast<int32_t>(index.size());
    for (int32_t j = 1; j <= n; ++j) {
      quad_start[static_cast<size_t>(j)] = e;
      for (const auto& [col, other, q] : below) {
        if (col != j) continue;
        index.push_back(other);
        value.push_back(q);
        ++e;
      }
    }
    quad_start[static_cast<size_t>(n) + 1] = e;
    quad_nz = e - static_cast<int32_t>(start.back());
  }
  void write() {
    lower.assign(1, 0.0);
    upper.assign(1, 0.0);
    for (const auto& [l, u] : col_bounds) {
      lower.push_back(l);
      upper.push_back(u);
    }
    for (const auto& [l, u] : row_bounds) {
      lower.push_back(l);
      upper.push_back(u);
    }
    state.resize(static_cast<size_t>(n + m) + 1, 0);
    if (quad_diag.size() == 1) quad_diag.assign(static_cast<size_t>(n) + 1, 0.0);
    kl::write_qps_dump(m, n, start.back() - 1, quad_nz > 0 || has_diagonal() ? n : 0, quad_nz, state.data(),
                       state.data() + n, start.data(), index.data(), value.data(),
                       quad_start.empty() ? nullptr : quad_start.data(), quad_diag.data(), cost.data(), constant,
                       rhs.data(), upper.data(), lower.data());
  }
  bool has_diagonal() const {
    for (double d : quad_diag) {
      if (d != 0.0) return true;
    }
    return false;
  }

  std::vector<std::pair<double, double>> row_bounds, col_bounds;
};

// Runs in a fresh current directory, where the dump lands.
class BarrierDump : public kltest::LibrarySessionInDir {
 protected:
  std::string dump_text() const {
    std::ifstream in(dir_.file(kl::kBarrierDumpFileName), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dump_path() const { return dir_.file(kl::kBarrierDumpFileName); }
};

TEST_F(BarrierDump, LayoutOfASmallProblem) {
  DumpProblem p;
  p.add_row(4.0, 0.0, 0.0);     // equality
  p.add_row(1.0, 0.0, kInf);    // at least
  p.add_row(6.0, -kInf, 0.0);   // at most
  p.add_column(1.0, 0.0, kInf, {{1, 1.0}, {2, 2.0}, {3, 3.0}});
  p.add_column(0.0, -kInf, kInf, {{1, -1.0}});
  p.add_column(0.0, 1.0, 5.0, {});
  p.add_column(-2.0, -kInf, 3.0, {{3, 0.5}});
  p.constant = 5.0;
  p.write();
  EXPECT_EQ(dump_text(),
            "NAME        KORIP\n"
            "ROWS\n"
            " N  OBJ.FUNC\n"
            " E  R------1\n"
            " G  R------2\n"
            " L  R------3\n"
            "COLUMNS\n"
            "    C------1  OBJ.FUNC    1.0000e+00   R------1    1.0000e+00\n"
            "    C------1  R------2    2.0000e+00   R------3    3.0000e+00\n"
            "    C------2  R------1   -1.0000e+00\n"
            "    C------3  OBJ.FUNC    0.0000e+00\n"
            "    C------4  OBJ.FUNC   -2.0000e+00   R------3    5.0000e-01\n"
            "RHS\n"
            "    RHS       OBJ.FUNC   -5.0000e+00\n"
            "    RHS       R------1    4.0000e+00\n"
            "    RHS       R------2    1.0000e+00\n"
            "    RHS       R------3    6.0000e+00\n"
            "RANGES\n"
            "BOUNDS\n"
            " FR BOUNDS    C------2\n"
            " LO BOUNDS    C------3    1.0000e+00\n"
            " UP BOUNDS    C------3    5.0000e+00\n"
            " MI BOUNDS    C------4\n"
            " UP BOUNDS    C------4    3.0000e+00\n"
            "ENDATA\n");
}

// The row interval [low, high] the library holds for row r (0-based).
std::pair<double, double> row_interval(int32_t r) {
  char type = 0;
  double rhs = 0.0, range = 0.0;
  KLGETROWTYPE(&type, r, r);
  KLGETRHS(&rhs, r, r);
  KLGETRNG(&range, r, r);
  switch (type) {
    case 'E': return {rhs, rhs};
    case 'G': return {rhs, kInf};
    case 'L': return {-kInf, rhs};
    case 'R': return {rhs - range, rhs};
    default: return {-kInf, kInf};
  }
}

// Dumped and read back through the library's own reader, a problem keeps
// its matrix, bounds, costs, constant and quadratic terms; removed rows and
// columns are left out.
TEST_F(BarrierDump, ReadsBackThroughTheLibrary) {
  DumpProblem p;
  // Barrier rows a x - slack = b, slack in [l, u]: a x in [b + l, b + u].
  p.add_row(3.0, -1.0, -1.0);    // a x = 2
  p.add_row(1.0, 0.5, kInf);     // a x >= 1.5
  p.add_row(4.0, -kInf, 2.0);    // a x <= 6
  p.add_row(2.0, -3.0, 1.0);     // -1 <= a x <= 3
  p.add_row(9.0, 0.0, 0.0);      // removed below
  p.add_column(1.5, 0.0, kInf, {{1, 1.0}, {2, 2.0}, {4, -0.5}, {5, 7.0}});
  p.add_column(-2.0, -kInf, kInf, {{1, 3.0}, {3, 1.25}});
  p.add_column(0.0, -5.0, 0.0, {{2, -1.0}, {3, 4.0}, {4, 2.0}});
  p.add_column(3.0, -kInf, 4.0, {{4, 6.0}});
  p.add_column(0.25, 2.0, 2.5, {{1, -2.0}, {3, 1.0}, {4, 1.0}});
  p.add_column(8.0, 0.0, 1.0, {{2, 1.0}});  // removed below
  p.set_quadratic({2.0, 0.0, 1.0, 0.0, 0.5, 0.0}, {{1, 2, 0.5}, {2, 4, -1.0}, {3, 5, 0.25}});
  p.constant = 2.5;
  p.state.assign(static_cast<size_t>(p.n + p.m) + 1, 0);
  p.state[6] = -3;
  p.state[static_cast<size_t>(p.n + 5)] = -2;
  p.write();

  const std::string text = dump_text();
  EXPECT_EQ(text.find("R------5"), std::string::npos);
  EXPECT_EQ(text.find("C------6  "), std::string::npos);

  KLSETICV(KLIC_IFSCAL, 0);
  KLSETICV(KLIC_IFNRW, -1);
  ASSERT_EQ(KLINPUT(dump_path().c_str()), 0) << text;
  ASSERT_EQ(kltest::int_attribute_value(1001), 4);
  ASSERT_EQ(kltest::int_attribute_value(1018), 5);

  const std::pair<double, double> rows[] = {{2.0, 2.0}, {1.5, kInf}, {-kInf, 6.0}, {-1.0, 3.0}};
  for (int32_t r = 0; r < 4; ++r) {
    const auto [low, high] = row_interval(r);
    EXPECT_DOUBLE_EQ(low, rows[r].first) << "row " << r + 1;
    EXPECT_DOUBLE_EQ(high, rows[r].second) << "row " << r + 1;
  }

  std::vector<int32_t> starts(6);
  int32_t count = 0;
  KLGETCOLS(starts.data(), nullptr, nullptr, 0, &count, 0, 4);
  std::vector<int32_t> row_index(static_cast<size_t>(count));
  std::vector<double> entries(static_cast<size_t>(count));
  KLGETCOLS(starts.data(), row_index.data(), entries.data(), count, &count, 0, 4);
  for (int32_t j = 1; j <= 5; ++j) {
    std::vector<std::pair<int32_t, double>> expected, read;
    for (int32_t k = p.start[static_cast<size_t>(j)]; k < p.start[static_cast<size_t>(j) + 1]; ++k) {
      if (p.index[static_cast<size_t>(k)] != 5) expected.emplace_back(p.index[static_cast<size_t>(k)] - 1, p.value[static_cast<size_t>(k)]);
    }
    for (int32_t k = starts[static_cast<size_t>(j) - 1]; k < starts[static_cast<size_t>(j)]; ++k) {
      read.emplace_back(row_index[static_cast<size_t>(k)], entries[static_cast<size_t>(k)]);
    }
    EXPECT_EQ(read, expected) << "column " << j;
  }

  double costs[5], low[5], high[5];
  KLGETOBJ(costs, 0, 4);
  KLGETBDL(low, 0, 4);
  KLGETBDU(high, 0, 4);
  for (int32_t j = 1; j <= 5; ++j) {
    const size_t k = static_cast<size_t>(j);
    EXPECT_EQ(costs[j - 1], p.cost[k]) << "column " << j;
    EXPECT_EQ(low[j - 1], p.lower[k] <= -kInf ? -kInf : p.lower[k]) << "column " << j;
    // The upper bound 0 of column 3 is written and read back.
    EXPECT_EQ(high[j - 1], p.upper[k] >= kInf ? kInf : p.upper[k]) << "column " << j;
  }
  EXPECT_EQ(kl::dcv(kl::kObjectiveConstantSlot), 2.5);

  double q[5][5] = {};
  for (int32_t i = 0; i < 5; ++i) {
    for (int32_t j = 0; j < 5; ++j) KLGETQOBJ(i, j, &q[i][j]);
  }
  const double expected_q[5][5] = {{2.0, 0.5, 0, 0, 0},
                                   {0.5, 0, 0, -1.0, 0},
                                   {0, 0, 1.0, 0, 0.25},
                                   {0, -1.0, 0, 0, 0},
                                   {0, 0, 0.25, 0, 0.5}};
  for (int32_t i = 0; i < 5; ++i) {
    for (int32_t j = 0; j < 5; ++j) EXPECT_EQ(q[i][j], expected_q[i][j]) << i << "," << j;
  }
}

TEST_F(BarrierDump, AFileThatCannotBeCreatedIsSkipped) {
  std::filesystem::create_directory(kl::kBarrierDumpFileName);
  DumpProblem p;
  p.add_row(1.0, 0.0, kInf);
  p.add_column(1.0, 0.0, kInf, {{1, 1.0}});
  p.write();
  EXPECT_TRUE(std::filesystem::is_directory(kl::kBarrierDumpFileName));
}

}  // namespace
