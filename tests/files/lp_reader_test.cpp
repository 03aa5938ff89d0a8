// The LP-format reader: the lexer over small files, and whole files read
// through KLINPUT, checked through the query exports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "files/lp_backend.h"
#include "files/lp_lexer.h"
#include "files/lp_reader.h"
#include "klsol32.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/text_io.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

constexpr double kInf = 1e20;

class LpReader : public kltest::LibrarySession {
 public:
  void SetUp() override {
    kltest::LibrarySession::SetUp();
    KLSETICV(KLIC_IFSCAL, 0);
  }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  int32_t load(const std::string& text, const std::string& name = "p.lp") {
    kltest::captured_lines().clear();
    return KLINPUT(write(name, text).c_str());
  }
  // Opens text as the current input file and reads its first line, as
  // read_lp_file starts.
  void lex(const std::string& text) {
    const std::string path = write("lex.lp", text);
    int32_t error = 0;
    kl::open_text_input(path.c_str(), error);
    ASSERT_EQ(error, 0);
    kl::lp_reset_reader_state();
    kl::error_number = 0;
    kl::status_code = 0;
    kl::lp_read_line();
    kl::lp_skip_to_significant();
    opened = true;
  }
  void TearDown() override {
    if (opened) kl::close_text_input();
    kltest::LibrarySession::TearDown();
  }

  static int32_t attribute(int32_t n) { return kltest::int_attribute_value(n); }
  static std::vector<double> columns_of(int32_t (*get)(double*, int32_t, int32_t)) {
    std::vector<double> v(static_cast<size_t>(attribute(KLIA_NCOLS)));
    if (!v.empty()) get(v.data(), 0, static_cast<int32_t>(v.size()) - 1);
    return v;
  }
  static std::vector<double> rows_of(int32_t (*get)(double*, int32_t, int32_t)) {
    std::vector<double> v(static_cast<size_t>(attribute(KLIA_NROW)));
    if (!v.empty()) get(v.data(), 0, static_cast<int32_t>(v.size()) - 1);
    return v;
  }
  static std::string row_types() {
    std::string t(static_cast<size_t>(attribute(KLIA_NROW)), ' ');
    if (!t.empty()) KLGETROWTYPE(t.data(), 0, static_cast<int32_t>(t.size()) - 1);
    return t;
  }
  static std::string column_types() {
    std::string t(static_cast<size_t>(attribute(KLIA_NCOLS)), ' ');
    if (!t.empty()) KLGETCOLTYPE(t.data(), 0, static_cast<int32_t>(t.size()) - 1);
    return t;
  }
  // Names of rows (type 1) or columns (type 2), trailing blanks dropped.
  static std::vector<std::string> names(int32_t type) {
    const int32_t n = attribute(type == 1 ? KLIA_NROW : KLIA_NCOLS);
    const size_t width = static_cast<size_t>(attribute(KLIA_NAMEWORDS)) * 8;
    std::vector<char> buffer(static_cast<size_t>(n) * (width + 1));
    std::vector<std::string> out;
    if (n == 0) return out;
    KLGETNAMES(type, buffer.data(), 0, n - 1);
    for (int32_t k = 0; k < n; ++k) {
      std::string name(buffer.data() + static_cast<size_t>(k) * (width + 1), width);
      name.erase(name.find_last_not_of(' ') + 1);
      out.push_back(name);
    }
    return out;
  }
  // Elements of column c as (row, value).
  static std::vector<std::pair<int32_t, double>> column(int32_t c) {
    int32_t count = 0;
    int32_t starts[2] = {};
    KLGETCOLS(starts, nullptr, nullptr, 0, &count, c, c);
    std::vector<int32_t> rows(static_cast<size_t>(count) + 1);
    std::vector<double> values(static_cast<size_t>(count) + 1);
    KLGETCOLS(starts, rows.data(), values.data(), count, &count, c, c);
    std::vector<std::pair<int32_t, double>> out;
    for (int32_t k = 0; k < count; ++k) out.emplace_back(rows[static_cast<size_t>(k)], values[static_cast<size_t>(k)]);
    return out;
  }
  // The first error reported since the last body began (or since lex).
  static bool saw(int32_t message) { return kl::error_number == message; }

  kltest::TempDir dir;
  bool opened = false;
};

// ---------------------------------------------------------------------------
// Lexer

TEST_F(LpReader, NumbersAreReadWholeAndExactly) {
  struct Case {
    const char* text;
    bool sign;
    int result;
    double value;
    const char* rest;  // the name read after the number, "" for none
  };
  const Case cases[] = {
      {"2x", false, 2, 2.0, "x"},
      {".5 y", false, 2, 0.5, "y"},
      {"5. y", false, 2, 5.0, "y"},
      {". y", false, 2, 0.0, "y"},
      {"- x", true, 0, -1.0, "x"},
      {"- 3 x", true, 2, -3.0, "x"},
      {"+x", true, 0, 1.0, "x"},
      {"-0 x", true, 2, -0.0, "x"},
      {"0.1 x", false, 2, 0.1, "x"},
      {"123456789.123456789 x", false, 2, 123456789.123456789, "x"},
      {"2.2250738585072014e-308 x", false, 2, 2.2250738585072014e-308, "x"},
      {"1.7976931348623157E+308 x", false, 2, 1.7976931348623157e308, "x"},
      {"4.35e2 x", false, 2, 435.0, "x"},
      // A blank ends a number: a value at the end of one line never runs
      // into the coefficient at the head of the next.
      {"5\n 2 x", false, 2, 5.0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    lex(c.text);
    double value = 99.0;
    EXPECT_EQ(kl::lp_read_number(value, c.sign), c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(std::signbit(value), std::signbit(c.value));
    std::string name;
    kl::lp_read_name(name);
    EXPECT_EQ(name, c.rest);
    EXPECT_EQ(kl::lp_state.errors, 0);
    kl::close_text_input();
    opened = false;
  }
  lex("5 2 x");
  double value = 0.0;
  kl::lp_read_number(value, false);
  kl::lp_read_number(value, false);
  EXPECT_EQ(value, 2.0);
}

TEST_F(LpReader, MalformedNumbersAreSevereErrors) {
  lex("1e x");
  double value = 0.0;
  EXPECT_EQ(kl::lp_read_number(value, false), 0);
  EXPECT_TRUE(saw(521));
  EXPECT_EQ(kl::lp_state.errors, kl::kLpSevereErrorWeight);
  kl::close_text_input();
  lex("1e999 x");
  EXPECT_EQ(kl::lp_read_number(value, false), 0);
  EXPECT_TRUE(saw(534));
  EXPECT_TRUE(std::isfinite(value));
}

TEST_F(LpReader, NamesKeywordsAndComments) {
  lex("Max max integer1 \\ a comment\n integers x.y!\xFF z");
  EXPECT_EQ(kl::lp_match_keyword(kl::kLpSenseKeywords), 2);  // "max", any case
  std::string name;
  ASSERT_EQ(kl::lp_read_name(name), 1);
  EXPECT_EQ(name, "Max");
  ASSERT_EQ(kl::lp_read_name(name), 1);
  EXPECT_EQ(name, "max");
  EXPECT_EQ(kl::lp_match_keyword(kl::kLpSectionKeywords), -1);  // integer1 is a name
  ASSERT_EQ(kl::lp_read_name(name), 1);
  EXPECT_EQ(name, "integer1");
  // The comment ran to the end of its line.
  EXPECT_EQ(kl::lp_match_keyword(kl::kLpSectionKeywords), 6);
  EXPECT_TRUE(kl::lp_token_begins_line());
  kl::lp_skip_keyword("integers");
  ASSERT_EQ(kl::lp_read_name(name), 1);
  EXPECT_EQ(name, "x.y!");
  // The byte 0xFF reads as the end of the file.
  EXPECT_TRUE(kl::lp_at_end_of_file());
  EXPECT_EQ(kl::lp_read_name(name), 0);
  kl::close_text_input();

  lex(std::string(70, 'a') + " b");
  ASSERT_EQ(kl::lp_read_name(name), 1);
  EXPECT_EQ(name, std::string(64, 'a'));
  EXPECT_TRUE(saw(530));
  EXPECT_EQ(kl::lp_state.errors, 1);
  ASSERT_EQ(kl::lp_read_name(name), 1);
  EXPECT_EQ(name, "b");
}

TEST_F(LpReader, NameTablesAndHash) {
  // A byte sum beyond 32 bits still lands in a bucket.
  const std::string wide(400, '\xFE');
  const int32_t bucket = kl::lp_name_hash(wide.data(), static_cast<int32_t>(wide.size()));
  EXPECT_GE(bucket, 0);
  EXPECT_LT(bucket, kl::kLpHashBuckets);
  EXPECT_EQ(kl::lp_name_hash("abcd", 4), static_cast<int32_t>(0x64636261u % 5003u));

  kl::lp_reset_reader_state();
  EXPECT_EQ(kl::lp_lookup_name("objective", 1, nullptr), 0);
  EXPECT_EQ(kl::lp_lookup_name("r1", 1, nullptr), -1);
  EXPECT_EQ(kl::lp_lookup_name("r1", 1, nullptr), -1);  // found, not entered again
  EXPECT_EQ(kl::lp_lookup_name("r1", 0, nullptr), 1);   // rows and columns apart
  EXPECT_EQ(kl::lp_lookup_name("R1", 0, nullptr), 2);   // case-sensitive
  EXPECT_EQ(kl::lp_lookup_name("zz", 2, nullptr), 0);   // look-up only
  EXPECT_EQ(kl::lp_state.column_count, 2);
  EXPECT_EQ(kl::lp_state.row_count, 1);
  // The objective's name is not counted in the row-name bytes, but in the
  // longest name.
  EXPECT_EQ(kl::lp_state.row_name_bytes, 3);
  EXPECT_EQ(kl::lp_state.column_name_bytes, 6);
  EXPECT_EQ(kl::lp_state.longest_name, 16);
  kl::lp_free_reader_storage();
}

// ---------------------------------------------------------------------------
// Whole files

struct FileCase {
  const char* what;
  const char* text;
  int32_t message;  // expected message of a failed read, 0 for a load
  std::string rows;  // row types
  std::vector<double> objective;
  std::vector<double> rhs;
};

TEST_F(LpReader, GrammarTable) {
  const FileCase cases[] = {
      {"max alone, then subject to: empty objective", "max\nsubject to\n c: x + y <= 1\nend\n", 0, "L", {0, 0}, {1}},
      {"a lone number before the first term", "max 3\n x + y\nst\n c: x <= 1\nend\n", 0, "L", {3, 1}, {1}},
      {"the first coefficient keeps every digit", "max 0.12345678901234567\n x\nst\n c: x <= 1\nend\n", 0, "L",
       {0.12345678901234567}, {1}},
      {"a comment inside a statement", "MINIMIZE\n x + \\ y\n 2 y\ns.t.\n c: x <= 1\nEnd\n", 0, "L", {1, 2}, {1}},
      {"the other constraint keywords", "minimum\n x\nsuch that\n c: x <= 1\nend\n", 0, "L", {1}, {1}},
      {"two rows on one line", "min\n x\nst\n c1: x + y <= 3 c2: x - y >= 1\nend\n", 0, "LG", {1, 0}, {3, 1}},
      {"<, = and >", "min\n x\nst\n x + y < 3\n x - y = 1\n y > 0\nend\n", 0, "LEG", {1, 0}, {3, 1, 0}},
      {"=< is no relation", "min\n x\nst\n c: x =< 3\nend\n", 507, "", {}, {}},
      {"a column twice sums", "min\n x + x\nst\n c: x + y + y <= 3\nend\n", 0, "L", {2, 0}, {3}},
      {"x - x removes the term", "min\n x - x + y\nst\n c: y <= 3\nend\n", 0, "L", {0, 1}, {3}},
      {"rows whose terms cancel or are zero stay as empty rows",
       "min\n x\nst\n c: x - x <= 1\n d: 0 x >= 5\n e: = 2\nend\n", 0, "LGE", {1}, {1, 5, 2}},
      {"a set without members", "min\n x\nst\n c: x <= 1\n s: = S1\nend\n", 508, "", {}, {}},
      {"a constraint without relation", "min\n x\nst\n c: x + y\nend\n", 509, "", {}, {}},
      {"a constant on the left moves right", "min\n x\nst\n c: x + 2 <= 5\n d: 3 + x - 1 >= 4\nend\n", 0, "LG",
       {1}, {3, 2}},
      {"a quadratic part in a constraint", "min\n x\nst\n c: x + [ x ^ 2 ] <= 5\nend\n", 506, "", {}, {}},
      {"an exponent other than 2", "min\n x + [ x ^ 3 ]\nst\n c: x <= 5\nend\n", 533, "", {}, {}},
      {"a duplicate row name", "min\n x\nst\n c: x <= 1\n c: x >= 0\nend\n", 529, "", {}, {}},
      {"an unknown column in the bounds", "min\n x\nst\n c: x <= 1\nbounds\n y <= 1\nend\n", 506, "", {}, {}},
      {"a bounds section at the end of the file", "min\n x\nst\n c: x <= 1\nbounds\n x <= 1\n", 514, "", {}, {}},
      {"a word that is not free", "min\n x\nst\n c: x <= 1\nbounds\n x fee\nend\n", 512, "", {}, {}},
      {"bin : starts the binaries section", "min\n x\nst\n c: x <= 1\n bin : x + y <= 1\nend\n", 506, "", {}, {}},
      {"text where a bound is expected", "min\n x\nst\n c: x <= 1\nbounds\n x <= 1\n<= 3\nend\n", 514, "", {}, {}},
      {"an empty file", "", 501, "", {}, {}},
      {"comments only", "\\ nothing\n\n   \\ here\n", 502, "", {}, {}},
      {"no sense keyword", " x + y\nst\n c: x <= 1\nend\n", 502, "", {}, {}},
      {"an integer section at the end of the file",
       "min\n x\nst\n c: x + y <= 4\nbounds\n y <= 3\ngenerals\n y\n", 0, "L", {1, 0}, {4}},
      {"a semi-continuous section at the end of the file", "min\n x\nst\n c: x + y <= 4\nsemi continuous\n y > 1\n",
       0, "L", {1, 0}, {4}},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t status = load(c.text);
    if (c.message != 0) {
      EXPECT_EQ(status, KL_STATUS_REPORTED);
      EXPECT_TRUE(saw(c.message));
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(row_types(), c.rows);
    EXPECT_EQ(columns_of(KLGETOBJ), c.objective);
    EXPECT_EQ(rows_of(KLGETRHS), c.rhs);
  }
}

TEST_F(LpReader, LinesOfAnyLength) {
  std::string text = "min\n";
  std::vector<double> costs;
  for (int k = 0; k < 300; ++k) {
    text += " + " + std::to_string(k + 1) + " x" + std::to_string(k);
    costs.push_back(k + 1);
  }
  text += "\nst\n c: x0 <= 1\nend\n";
  ASSERT_GT(text.find('\n', 4), 2000u);
  ASSERT_EQ(load(text), 0);
  EXPECT_EQ(columns_of(KLGETOBJ), costs);
}

TEST_F(LpReader, ObjectiveConstants) {
  struct Case {
    const char* text;
    double constant;
  };
  const Case cases[] = {
      {"max 2 x + 5\nst\n c: x <= 1\nend\n", 5.0},
      {"max 2 x - 5\nsubject to\n c: x <= 1\nend\n", -5.0},
      {"min\n obj: 3 + x - 1\nst\n c: x >= 1\nend\n", 2.0},
      {"min\n x\nst\n c: x >= 1\nend\n", 0.0},
      {"min 7\nsubject to\n c: x >= 1\nend\n", 7.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(load(c.text), 0);
    EXPECT_EQ(kl::dcv(kl::kObjectiveConstantSlot), c.constant);
    ASSERT_EQ(KLMINIM(""), 0);
    double x = 0.0;
    ASSERT_EQ(KLSOLUTION(&x, nullptr, nullptr, nullptr), 0);
    EXPECT_DOUBLE_EQ(kltest::objective_value(), columns_of(KLGETOBJ)[0] * x + c.constant);
  }
}

TEST_F(LpReader, ColumnsRowsAndNames) {
  ASSERT_EQ(load("min\n 2 b + a\nst\n x: a + c <= 1\n a - b >= 0\n third: c + 0 a = 2\n"
                 " + a >= -1\nend\n"),
            0);
  // Columns in order of first appearance, the objective's first; rows in
  // input order; unnamed rows numbered.
  EXPECT_EQ(names(2), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(names(1), (std::vector<std::string>{"x", "C0000002", "third", "C0000004"}));
  EXPECT_EQ(column(0), (std::vector<std::pair<int32_t, double>>{{1, -1.0}}));
  EXPECT_EQ(column(1), (std::vector<std::pair<int32_t, double>>{{0, 1.0}, {1, 1.0}, {3, 1.0}}));
  EXPECT_EQ(column(2), (std::vector<std::pair<int32_t, double>>{{0, 1.0}, {2, 1.0}}));
  int32_t namlen = 0;
  KLGETICV(KLIC_NAMLEN, &namlen);
  EXPECT_EQ(namlen, 8);

  // A column only in the objective has no elements; a long name widens
  // NAMLEN to a multiple of 8.
  ASSERT_EQ(load("min\n x + a_rather_long_column_name\nst\n c: x >= 1\nend\n"), 0);
  EXPECT_TRUE(column(1).empty());
  KLGETICV(KLIC_NAMLEN, &namlen);
  EXPECT_EQ(namlen, 32);
  EXPECT_EQ(names(2)[1], "a_rather_long_column_name");
}

TEST_F(LpReader, BoundsAndTypes) {
  ASSERT_EQ(load("min\n a + b + c + d + e + f + g + h + i + j\nst\n c1: a + b + c + d + e + f + g + h + i + j >= 1\n"
                 "bounds\n"
                 " -inf <= a <= +inf\n"
                 " b free\n"
                 " c = 2.5\n"
                 " 1 <= d <= 4\n"
                 " 3 >= e\n"
                 " f >= -2\n"
                 " -0 <= g <= 1\n"
                 " h >= 0\n"
                 " i <= infinity\n"
                 "generals\n g h i j\n"
                 "end\n"),
            0);
  EXPECT_EQ(columns_of(KLGETBDL), (std::vector<double>{-kInf, -kInf, 2.5, 1, 0, -2, 0, 0, 0, 0}));
  // The store keeps infinite integer bounds as INTMAX.
  int32_t intmax_control = 0;
  KLGETICV(KLIC_INTMAX, &intmax_control);
  const double intmax = intmax_control;
  EXPECT_EQ(columns_of(KLGETBDU), (std::vector<double>{kInf, kInf, 2.5, 4, 3, kInf, 1, intmax, intmax, 1}));
  // A general integer whose bounds no statement touched is a binary; x >= 0
  // or x <= inf keeps it general.
  EXPECT_EQ(column_types(), "CCCCCCIIIB");

  // The order of the sections does not matter.
  ASSERT_EQ(load("min\n x + y\nst\n c: x + y >= 1\ngenerals\n x y\nbounds\n x <= 10\nend\n"), 0);
  EXPECT_EQ(column_types(), "IB");
  EXPECT_EQ(columns_of(KLGETBDU), (std::vector<double>{10, 1}));

  // Binaries: a lower bound above 0 fixes at 1, an upper bound below 1 at 0;
  // a free general stays general.
  ASSERT_EQ(load("min\n x + y + z\nst\n c: x + y + z >= 1\nbounds\n x >= 2\n y <= 0.5\n z free\n"
                 "binaries\n x y\ngenerals\n z\nend\n"),
            0);
  EXPECT_EQ(column_types(), "BBI");
  EXPECT_EQ(columns_of(KLGETBDL), (std::vector<double>{1, 0, -intmax}));
  EXPECT_EQ(columns_of(KLGETBDU), (std::vector<double>{1, 0, intmax}));

  // Crossed bounds are refused before the hand-over.
  EXPECT_EQ(load("min\n x\nst\n c: x >= 1\nbounds\n x >= 2\n x <= 1\nend\n"), KL_STATUS_REPORTED);
  EXPECT_TRUE(saw(536));
}

TEST_F(LpReader, EntitiesSetsAndQuadratic) {
  ASSERT_EQ(load("min\n x + y + z + w + [ x ^ 2 + 2 x * y - 3 z * z ]\nst\n c: x + y + z + w >= 1\n"
                 " s: 1 x + 2 y + 3 z = S1\n"
                 " t: 2 z + 1 w = S2\n"
                 "partial integers\n y > 3\n"
                 "semi continuous\n w > 2\n"
                 "end\n"),
            0);
  EXPECT_EQ(attribute(KLIA_NROW), 1);
  EXPECT_EQ(attribute(KLIA_NSETS), 2);
  double q = 0.0;
  KLGETQOBJ(0, 0, &q);
  EXPECT_EQ(q, 1.0);
  KLGETQOBJ(0, 1, &q);
  EXPECT_EQ(q, 1.0);
  KLGETQOBJ(2, 2, &q);
  EXPECT_EQ(q, -3.0);
  int32_t entities = 0;
  int32_t sets = 0;
  char types[4] = {};
  int32_t cols[4] = {};
  double limits[4] = {};
  char set_types[2] = {};
  int32_t set_starts[3] = {};
  int32_t set_columns[5] = {};
  double set_refs[5] = {};
  ASSERT_EQ(KLGETGLOBAL(&entities, &sets, types, cols, limits, set_types, set_starts, set_columns, set_refs), 0);
  ASSERT_EQ(entities, 2);
  EXPECT_EQ(std::string(types, 2), "PS");
  EXPECT_EQ(cols[0], 1);
  EXPECT_EQ(cols[1], 3);
  ASSERT_EQ(sets, 2);
  EXPECT_EQ(std::string(set_types, 2), "12");
  EXPECT_EQ(set_starts[1] - set_starts[0], 3);
  EXPECT_EQ(set_starts[2] - set_starts[1], 2);
}

TEST_F(LpReader, IgnoreCountsTheNonFatalErrors) {
  const std::string text = "min\n x\nst\n c: x <= 1\nbounds\n y <= 1\n x <= 1\nend\n";
  EXPECT_EQ(load(text), KL_STATUS_REPORTED);
  EXPECT_TRUE(saw(506));
  EXPECT_TRUE(kltest::any_line_contains("1 errors, more than IGNORE allows"));
  KLSETICV(KLIC_IGNORE, 1);
  EXPECT_EQ(load(text), 0);
  EXPECT_EQ(columns_of(KLGETBDU), (std::vector<double>{1}));
  // A malformed number weighs 10000.
  EXPECT_EQ(load("min\n x\nst\n c: x <= 1e\nend\n"), KL_STATUS_REPORTED);
}

// A failed read, fatal or past IGNORE or refused before the hand-over,
// leaves the problem loaded before it with its data, and the next read
// starts afresh.
TEST_F(LpReader, AFailedReadLeavesThePreviousProblem) {
  const std::string good = "max\n x + 2 y\nst\n c: x + y <= 4\nend\n";
  const char* const bad[] = {
      "",
      "min\n x\nst\n c: x <= 1\nbounds\n x <= 1\n",
      "min\n x\nst\n c: x <= 1\n d: x <= 1\n d: x <= 2\nend\n",
      "min\n x\nst\n c: x <= 1\nbounds\n x >= 3\n x <= 2\nend\n",
      "min\n x\nst\n s: 1 x + 1 y = S1\nend\n",
      "min\n x\nst\n c: x <= 1\n garbage here\n",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    ASSERT_EQ(load(good), 0);
    ASSERT_EQ(KLMAXIM(""), 0);
    const int32_t state = kl::problem_state;
    EXPECT_EQ(load(text, "bad.lp"), KL_STATUS_REPORTED);
    EXPECT_EQ(kl::problem_state, state);
    EXPECT_EQ(attribute(KLIA_NROW), 1);
    EXPECT_EQ(columns_of(KLGETOBJ), (std::vector<double>{1, 2}));
    EXPECT_EQ(names(2), (std::vector<std::string>{"x", "y"}));
    ASSERT_EQ(KLMAXIM(""), 0);
    EXPECT_EQ(kltest::objective_value(), 8.0);
    EXPECT_EQ(kl::lp_state.columns.size(), 0u);
    EXPECT_EQ(kl::lp_state.row_records.size(), 0u);
  }
}

// Storage runs out in the loaders, after the hand-over: the read fails
// with the loaders' message and message 516, no problem is left, and the
// next read loads.
TEST_F(LpReader, NoMemoryAfterTheHandOver) {
  const std::string good = "max\n x + 2 y\nst\n c: x + y <= 4\nend\n";
  ASSERT_EQ(load(good), 0);
  kl::fail_next_allocations(1);
  EXPECT_EQ(load(good), KL_STATUS_REPORTED);
  kl::fail_next_allocations(0);
  EXPECT_TRUE(kltest::any_line_contains("LP problem refused by the problem store"));
  EXPECT_EQ(kl::problem_state, 0);
  EXPECT_EQ(kl::lp_state.columns.size(), 0u);
  ASSERT_EQ(load(good), 0);
  ASSERT_EQ(KLMAXIM(""), 0);
  EXPECT_EQ(kltest::objective_value(), 8.0);
}

// The forms the library's own LP writer produces read back as meant: the
// constant before the first term, a ranged row's unnamed second line, sets
// after their comment, "x <= inf" keeping a general integer, and the type
// sections; an objective without terms is written as the line "0".
TEST_F(LpReader, TheWritersFormsReadBack) {
  ASSERT_EQ(load("\\Problem name: p \n\nMinimize\nobj: 5 + 3 x - y + 2.5 z + w\n\nSubject To\n"
                 "r1:      x + y <= 4\n         x + y >= 1\nr2:      - x + 2 z = 0\n"
                 "\n\\Special Ordered Sets\ns1:      x + 2 y + 3 z = S1\n"
                 "\nBounds\n w <= 9\n y <= inf\n -1 <= z <= 7\n"
                 "\nIntegers\ny \n\nBinaries\nz \n\nPartial Integers\nw > 2\n\nEnd\n"),
            0);
  EXPECT_EQ(kl::dcv(kl::kObjectiveConstantSlot), 5.0);
  EXPECT_EQ(row_types(), "LGE");
  EXPECT_EQ(names(1), (std::vector<std::string>{"r1", "C0000002", "r2"}));
  EXPECT_EQ(names(2), (std::vector<std::string>{"x", "y", "z", "w"}));
  EXPECT_EQ(column_types(), "CIBP");
  EXPECT_EQ(attribute(KLIA_NSETS), 1);

  ASSERT_EQ(load("\\Problem name: p \n\nMinimize\n\n0\n\nSubject To\nr1:      x + y <= 4\n\nBounds\n\nEnd\n"), 0);
  EXPECT_EQ(columns_of(KLGETOBJ), (std::vector<double>{0, 0}));
  EXPECT_EQ(kl::dcv(kl::kObjectiveConstantSlot), 0.0);
}

}  // namespace
