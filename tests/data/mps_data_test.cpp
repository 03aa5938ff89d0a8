// The MPS reader over the shared problem sets: every file loads, with the
// counts a separate scan of the file finds, and a few files are checked
// line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/setup.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/data_dir.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

constexpr double kInf = 1e20;

struct Counts {
  int32_t rows = 0;
  int32_t columns = 0;
  int32_t elements = 0;
  int32_t entities = 0;
  int32_t quadratic = 0;  // both triangles, the diagonal once
};

std::string text_at(const std::string& line, size_t column, size_t width) {
  if (line.size() < column) return std::string();
  std::string s = line.substr(column - 1, width);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// Counts of a fixed-field MPS file, found by its columns alone: rows, the
// column names of COLUMNS, the nonzero values there, the columns inside
// marker blocks or with integer bound types, and the QUADOBJ lines (each
// lists one triangle). Everything after the first ENDATA is ignored.
Counts scan_fixed_mps(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Counts n;
  std::string line, section, last_column;
  bool in_block = false;
  std::set<std::string> entity_columns;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '*') continue;
    if (line[0] != ' ') {
      section = line.substr(0, line.find(' '));
      if (section == "ENDATA") break;
      continue;
    }
    if (section == "ROWS") {
      ++n.rows;
    } else if (section == "COLUMNS") {
      const std::string name = line.substr(4, 8);
      if (text_at(line, 15, 8) == "'MARKER'") {
        in_block = text_at(line, 40, 8) == "'INTORG'";
        continue;
      }
      if (name != last_column) {
        ++n.columns;
        last_column = name;
        if (in_block) entity_columns.insert(name);
      }
      for (size_t value_column : {25u, 50u}) {
        const std::string value = text_at(line, value_column, 12);
        if (!value.empty() && std::strtod(value.c_str(), nullptr) != 0.0) ++n.elements;
      }
    } else if (section == "BOUNDS") {
      const std::string type = line.substr(1, 2);
      if (type == "BV" || type == "UI" || type == "LI" || type == "SC" || type == "SI" || type == "PI") {
        entity_columns.insert(line.substr(14, 8));
      }
    } else if (section == "QUADOBJ") {
      n.quadratic += text_at(line, 5, 8) == text_at(line, 15, 8) ? 1 : 2;
    }
  }
  n.entities = static_cast<int32_t>(entity_columns.size());
  return n;
}

class MpsData : public kltest::LibrarySession {
 public:
  static int32_t attribute(int32_t n) {
    int32_t value = 0;
    KLGETIPV(n, &value);
    return value;
  }
  static Counts loaded_counts() {
    return Counts{attribute(1001), attribute(1018), attribute(1006), attribute(1003), attribute(1030)};
  }
  static void expect_counts(const Counts& loaded, const Counts& expected) {
    EXPECT_EQ(loaded.rows, expected.rows);
    EXPECT_EQ(loaded.columns, expected.columns);
    EXPECT_EQ(loaded.elements, expected.elements);
    EXPECT_EQ(loaded.entities, expected.entities);
    EXPECT_EQ(loaded.quadratic, expected.quadratic);
  }
  // Every file of the folder with the extension loads, with the counts of
  // the scan.
  static void load_folder(const std::string& folder, const std::string& extension, int32_t expected_files) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() == extension) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(static_cast<int32_t>(files.size()), expected_files);
    for (const std::string& file : files) {
      SCOPED_TRACE(file);
      ASSERT_EQ(KLINPUT(file.c_str()), 0);
      expect_counts(loaded_counts(), scan_fixed_mps(file));
    }
  }
  static std::vector<double> values(int32_t (*get)(double*, int32_t, int32_t), int32_t count) {
    std::vector<double> v(static_cast<size_t>(count));
    get(v.data(), 0, count - 1);
    return v;
  }
  // Index of the row (type 1) or column (type 2) of that name, -1 if none.
  static int32_t index_of(int32_t type, const std::string& name) {
    const int32_t count = attribute(type == 1 ? 1001 : 1018);
    const size_t length = static_cast<size_t>(8 * attribute(1028));
    std::vector<char> names(static_cast<size_t>(count) * (length + 1));
    KLGETNAMES(type, names.data(), 0, count - 1);
    std::string padded = name;
    padded.resize(length, ' ');
    for (int32_t k = 0; k < count; ++k) {
      if (std::string(names.data() + static_cast<size_t>(k) * (length + 1), length) == padded) return k;
    }
    return -1;
  }
  static std::vector<std::pair<int32_t, double>> column(int32_t c) {
    int32_t count = 0;
    int32_t starts[2] = {};
    KLGETCOLS(starts, nullptr, nullptr, 0, &count, c, c);
    std::vector<int32_t> rows(static_cast<size_t>(count) + 1);
    std::vector<double> v(static_cast<size_t>(count) + 1);
    KLGETCOLS(starts, rows.data(), v.data(), count, &count, c, c);
    std::vector<std::pair<int32_t, double>> out;
    for (int32_t k = 0; k < count; ++k) out.emplace_back(rows[static_cast<size_t>(k)], v[static_cast<size_t>(k)]);
    return out;
  }
};

TEST_F(MpsData, TheScanAgreesWithPublishedSizes) {
  KLTEST_REQUIRE_DATA(afiro, "netlib/afiro.mps");
  expect_counts(scan_fixed_mps(afiro), Counts{28, 32, 88, 0, 0});
  KLTEST_REQUIRE_DATA(cvxqp, "qp/cvxqp1_s.qps");
  // 178 entries of which 30 are explicit zero costs; Q: 100 diagonal and 286 pairs.
  expect_counts(scan_fixed_mps(cvxqp), Counts{51, 100, 148, 0, 100 + 2 * 286});
}

TEST_F(MpsData, NetlibFilesLoad) {
  KLTEST_REQUIRE_DATA(folder, "netlib");
  load_folder(folder, ".mps", 66);
}

TEST_F(MpsData, MiplibFilesLoad) {
  KLTEST_REQUIRE_DATA(folder, "miplib3");
  load_folder(folder, ".mps", 15);
}

TEST_F(MpsData, InfeasibleFilesLoad) {
  KLTEST_REQUIRE_DATA(folder, "infeas");
  load_folder(folder, ".mps", 22);
}

TEST_F(MpsData, QuadraticFilesLoad) {
  KLTEST_REQUIRE_DATA(folder, "qp");
  load_folder(folder, ".qps", 18);
}

TEST_F(MpsData, SampleFilesLoad) {
  for (const char* name : {"afiro", "exmip1", "hello", "p0033", "tp3"}) {
    KLTEST_REQUIRE_DATA(file, std::string("sample/") + name + ".mps");
    SCOPED_TRACE(file);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    expect_counts(loaded_counts(), scan_fixed_mps(file));
  }
}

// afiro, as its lines give it: the objective row last, the matrix with the
// objective entries, the right-hand sides, default bounds.
TEST_F(MpsData, AfiroMatchesItsLines) {
  KLTEST_REQUIRE_DATA(file, "netlib/afiro.mps");
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  const int32_t cost = index_of(1, "COST");
  EXPECT_EQ(cost, 27);
  const int32_t x01 = index_of(2, "X01");
  const int32_t x02 = index_of(2, "X02");
  EXPECT_EQ(column(x01), (std::vector<std::pair<int32_t, double>>{{index_of(1, "X48"), 0.301},
                                                                  {index_of(1, "R09"), -1.0},
                                                                  {index_of(1, "R10"), -1.06},
                                                                  {index_of(1, "X05"), 1.0}}));
  EXPECT_EQ(column(x02), (std::vector<std::pair<int32_t, double>>{
                             {index_of(1, "X21"), -1.0}, {index_of(1, "R09"), 1.0}, {cost, -0.4}}));
  const std::vector<double> objective = values(KLGETOBJ, 32);
  EXPECT_EQ(objective[static_cast<size_t>(x02)], -0.4);
  EXPECT_EQ(objective[static_cast<size_t>(x01)], 0.0);
  std::vector<double> rhs(28, 0.0);
  const std::pair<const char*, double> given[] = {{"X50", 310.0}, {"X51", 300.0}, {"X05", 80.0}, {"X17", 80.0},
                                                  {"X27", 500.0}, {"R23", 44.0},  {"X40", 500.0}};
  for (const auto& [row, value] : given) rhs[static_cast<size_t>(index_of(1, row))] = value;
  EXPECT_EQ(values(KLGETRHS, 28), rhs);
  EXPECT_EQ(values(KLGETBDL, 32), std::vector<double>(32, 0.0));
  EXPECT_EQ(values(KLGETBDU, 32), std::vector<double>(32, kInf));
  EXPECT_DOUBLE_EQ(kl::dcv(kl::kObjectiveConstantSlot), 0.0);
}

// flugpl: marker blocks around integer columns, LO and UP bounds on them.
TEST_F(MpsData, FlugplEntitiesAndBounds) {
  KLTEST_REQUIRE_DATA(file, "miplib3/flugpl.mps");
  ASSERT_EQ(KLINPUT(file.c_str()), 0);
  EXPECT_EQ(attribute(1003), 11);
  std::string types(18, ' ');
  KLGETCOLTYPE(types.data(), 0, 17);
  const int32_t stm1 = index_of(2, "STM1");
  const int32_t anm1 = index_of(2, "ANM1");
  const int32_t stm2 = index_of(2, "STM2");
  const int32_t ue1 = index_of(2, "UE1");
  EXPECT_EQ(types[static_cast<size_t>(stm1)], 'C');
  EXPECT_EQ(types[static_cast<size_t>(anm1)], 'I');
  EXPECT_EQ(types[static_cast<size_t>(stm2)], 'I');
  EXPECT_EQ(types[static_cast<size_t>(ue1)], 'C');
  const std::vector<double> lower = values(KLGETBDL, 18);
  const std::vector<double> upper = values(KLGETBDU, 18);
  EXPECT_EQ(lower[static_cast<size_t>(stm1)], 0.0);
  EXPECT_EQ(upper[static_cast<size_t>(stm1)], kInf);
  EXPECT_EQ(upper[static_cast<size_t>(anm1)], 18.0);
  EXPECT_EQ(lower[static_cast<size_t>(stm2)], 57.0);
  EXPECT_EQ(upper[static_cast<size_t>(stm2)], 75.0);
  EXPECT_EQ(column(anm1), (std::vector<std::pair<int32_t, double>>{
                              {index_of(1, "KOSTEN"), 1500.0}, {index_of(1, "STD1"), -100.0}, {index_of(1, "ANZ2"), 1.0}}));
}

// The objective constant is minus the objective row's right-hand side.
TEST_F(MpsData, ObjectiveConstants) {
  const std::pair<const char*, double> cases[] = {
      {"netlib/e226.mps", 7.113}, {"qp/hs21.qps", -100.0}, {"qp/hs35.qps", 9.0}, {"netlib/grow7.mps", 0.0}};
  for (const auto& [name, constant] : cases) {
    KLTEST_REQUIRE_DATA(file, name);
    SCOPED_TRACE(file);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    EXPECT_DOUBLE_EQ(kl::dcv(kl::kObjectiveConstantSlot), constant);
  }
  double q = 0.0;
  KLGETQOBJ(0, 0, &q);
  EXPECT_EQ(q, 0.0);  // grow7 has no quadratic part
  KLTEST_REQUIRE_DATA(hs21, "qp/hs21.qps");
  ASSERT_EQ(KLINPUT(hs21.c_str()), 0);
  KLGETQOBJ(0, 0, &q);
  EXPECT_DOUBLE_EQ(q, 0.02);
  KLGETQOBJ(1, 1, &q);
  EXPECT_DOUBLE_EQ(q, 2.0);
}

// Names with blanks in them, names that are right-aligned numbers and
// quoted names are kept as the file gives them.
TEST_F(MpsData, NamesAreKept) {
  struct Case {
    const char* file;
    std::vector<std::string> rows;
    std::vector<std::string> columns;
  };
  const Case cases[] = {
      {"netlib/forplan.mps", {"A$ 4-8 1", "DEDO3 1R"}, {"A   21 1", "DEDO3 11"}},
      {"infeas/mondou2.mps", {"       1", "     312"}, {"       1", "     313"}},
      {"netlib/standgub.mps", {"'EGROUP'", "'ENDX'"}, {}},
  };
  for (const Case& c : cases) {
    KLTEST_REQUIRE_DATA(file, c.file);
    SCOPED_TRACE(file);
    ASSERT_EQ(KLINPUT(file.c_str()), 0);
    for (const std::string& row : c.rows) EXPECT_GE(index_of(1, row), 0) << row;
    for (const std::string& column : c.columns) EXPECT_GE(index_of(2, column), 0) << column;
  }
}

// share2qp: the LP share2b, then a second NAME and a QUADOBJ after the first
// ENDATA, which the reader does not read.
TEST_F(MpsData, ReadingStopsAtTheFirstEndata) {
  KLTEST_REQUIRE_DATA(share2b, "netlib/share2b.mps");
  KLTEST_REQUIRE_DATA(share2qp, "sample/share2qp.mps");
  ASSERT_EQ(KLINPUT(share2qp.c_str()), 0);
  expect_counts(loaded_counts(), scan_fixed_mps(share2b));
  EXPECT_EQ(attribute(1030), 0);
}

// spec_sections: "SOS" and "CSECTION" are no sections of this reader.
TEST_F(MpsData, UnknownSectionsAreRefused) {
  KLTEST_REQUIRE_DATA(file, "sample/spec_sections.mps");
  EXPECT_EQ(KLINPUT(file.c_str()), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 153);
  EXPECT_TRUE(kltest::any_line_contains("line 39 of"));
  EXPECT_TRUE(kltest::any_line_contains("line 50 of"));
  double value = 0.0;
  EXPECT_EQ(KLGETOBJ(&value, 0, 0), KL_STATUS_REPORTED);
}

}  // namespace
