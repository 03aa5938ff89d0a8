// The modeller's binary problem load through KLVORNIN: small files built
// here byte by byte, loaded in each supported version, and malformed keys,
// counts and files refused without harm.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "klsol32.h"
#include "problem/array_ids.h"
#include "problem/cut_manager.h"
#include "problem/search_state.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "support/library_session.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

// Little-endian 8-byte items.
struct Items {
  std::vector<unsigned char> bytes;
  void words(int32_t a, int32_t b) {
    put32(a);
    put32(b);
  }
  void real(double x) {
    uint64_t u = 0;
    std::memcpy(&u, &x, sizeof u);
    for (int k = 0; k < 8; ++k) bytes.push_back(static_cast<unsigned char>(u >> (8 * k)));
  }
  void chars(const std::string& s) {
    std::string t = s;
    t.resize(8, ' ');
    bytes.insert(bytes.end(), t.begin(), t.end());
  }
  void blank(int n) {
    for (int k = 0; k < n; ++k) words(0, 0);
  }
  void put32(int32_t v) {
    for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * k)));
  }
};

// Keys: rows COST 101 (N), C1 102 (L), C2 103 (G); columns X 201, Y 202,
// B 203; set S1 301; kinds 901..917.
struct Fixture {
  int32_t version = 12;
  int32_t rows = 3;
  int32_t row_key_2 = 102;
  int32_t reserved_x = 3;
  bool end_record = true;
  int32_t set_reference_key = 0;
  std::vector<std::vector<double>> extra;  // (first key, second key, value)

  Items sol() const {
    Items f;
    f.chars("MOD");
    f.words(rows, 3);
    f.blank(2);
    f.words(6, 0);  // elements, e1
    f.words(1, 0);  // e2, e3
    f.words(1, 0);  // sets, limit
    f.words(version << 24, 0);
    f.blank(2);
    f.chars("COST");
    f.chars("RHS");
    f.chars("BND");
    f.words(101, 901);
    for (int32_t d = 2; d <= 17; d += 2) f.words(900 + d, 901 + d);
    f.blank(10);
    const char* names[] = {"COST", "C1", "C2"};
    const int32_t codes[] = {8, 4, 2};
    const int32_t keys[] = {101, row_key_2, 103};
    for (int i = 0; i < 3; ++i) {
      f.chars(names[i]);
      f.words(codes[i], 0);
      f.blank(4);
      f.words(0, keys[i]);
      f.blank(1);
    }
    const char* columns[] = {"X", "Y", "B"};
    const int32_t reserved[] = {reserved_x, 2, 1};
    for (int j = 0; j < 3; ++j) {
      f.chars(columns[j]);
      f.blank(5);
      f.words(reserved[j], 201 + j);
      f.blank(1);
    }
    f.chars("S1");
    f.words(2, 1);
    f.words(0, 301);
    f.blank(1);
    f.words(set_reference_key, 0);
    f.blank(3);
    return f;
  }

  Items bif() const {
    Items f;
    auto record = [&](int32_t a, int32_t b, double v) {
      f.words(a, b);
      f.real(v);
    };
    record(201, 101, 1.0);
    record(201, 102, 1.0);
    record(201, 103, 1.0);
    record(202, 101, 2.0);
    record(202, 102, 1.0);
    record(203, 102, 1.0);
    record(901, 102, 4.0);
    record(901, 103, 1.0);
    record(201, 903, 3.0);
    record(203, 909, 0.0);
    record(301, 201, 1.0);
    record(301, 202, 2.0);
    for (const auto& e : extra) record(static_cast<int32_t>(e[0]), static_cast<int32_t>(e[1]), e[2]);
    if (end_record) record(0, 0, 0.0);
    return f;
  }
};

class ModellerLoad : public kltest::LibrarySession {
 protected:
  int32_t load(const Fixture& fixture) {
    write("mod.sol", fixture.sol());
    write("mod.bif", fixture.bif());
    kltest::captured_lines().clear();
    return KLVORNIN(dir.file("mod").c_str());
  }
  void write(const std::string& name, const Items& items) {
    std::ofstream out(dir.file(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(items.bytes.data()), static_cast<std::streamsize>(items.bytes.size()));
  }
  static bool said(const std::string& text) { return kltest::any_line_contains(text); }
  void expect_the_problem() {
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NROW), 3);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NCOLS), 3);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NGLENT), 2);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_NSETS), 1);
    double upper[3] = {};
    ASSERT_EQ(KLGETBDU(upper, 0, 2), 0);
    EXPECT_EQ(upper[0], 3.0);
    EXPECT_EQ(upper[2], 1.0);
    double rhs[3] = {};
    ASSERT_EQ(KLGETRHS(rhs, 0, 2), 0);
    EXPECT_EQ(rhs[1], 4.0);
    EXPECT_EQ(rhs[2], 1.0);
    // min x + 2y, x + y + b <= 4, x >= 1, x <= 3: optimum 1.
    ASSERT_EQ(KLMINIM(""), 0);
    EXPECT_NEAR(kltest::objective_value(), 1.0, 1e-9);
  }
  kltest::TempDir dir;
};

TEST_F(ModellerLoad, EachSupportedVersionLoadsTheProblem) {
  for (int32_t version : {12, 11, 13}) {
    Fixture f;
    f.version = version;
    EXPECT_EQ(load(f), 0) << version;
    EXPECT_EQ(said("differs from version"), version != 12) << version;
    expect_the_problem();
  }
  // The right-hand-side vector keeps its name: ALTER finds it.
  ASSERT_EQ(load(Fixture{}), 0);
  std::ofstream(dir.file("mod.alt")) << "C2\nRHS\n2\n";
  ASSERT_EQ(KLALTER(dir.file("mod").c_str()), 0);
  ASSERT_EQ(KLMINIM(""), 0);
  EXPECT_NEAR(kltest::objective_value(), 2.0, 1e-9);
}

// Every refusal leaves the problem loaded before it as it was.
TEST_F(ModellerLoad, MalformedFilesAreRefused) {
  struct Case {
    const char* what;
    Fixture f;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({"too old", Fixture{}, "too old"});
  cases.back().f.version = 10;
  cases.push_back({"duplicate row key", Fixture{}, "file of type SOL"});
  cases.back().f.row_key_2 = 101;
  cases.push_back({"more rows than records", Fixture{}, "invalid count"});
  cases.back().f.rows = 1000;
  cases.push_back({"negative row count", Fixture{}, "invalid count"});
  cases.back().f.rows = -1;
  cases.push_back({"no end record", Fixture{}, "file of type BIF"});
  cases.back().f.end_record = false;
  for (const Case& c : cases) {
    Fixture good;
    ASSERT_EQ(load(good), 0);
    EXPECT_NE(load(c.f), 0) << c.what;
    EXPECT_TRUE(said(c.message)) << c.what;
    expect_the_problem();
  }
}

// Records that cannot be applied are rejected one by one; past IGNORE the
// load reports 32 with the problem loaded.
TEST_F(ModellerLoad, BadRecordsAreRejected) {
  struct Case {
    const char* what;
    std::vector<double> record;
    int32_t reserved_x;
  };
  const Case cases[] = {
      {"unknown first key", {777, 102, 1.0}, 3},
      {"unknown second key", {201, 777, 1.0}, 3},
      {"beyond the reservation", {202, 103, 1.0}, 3},
      {"element given twice", {201, 102, 5.0}, 4},
      {"free after an upper bound", {201, 906, 0.0}, 3},
      {"MN", {202, 905, 1.0}, 3},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.reserved_x = c.reserved_x;
    f.extra.push_back(c.record);
    EXPECT_EQ(load(f), 32) << c.what;
    EXPECT_TRUE(said("Record rejected")) << c.what;
    expect_the_problem();
    ASSERT_EQ(KLSETICV(kl::ic::IGNORE, 1), 0);
    EXPECT_EQ(load(f), 0) << c.what;
    ASSERT_EQ(KLSETICV(kl::ic::IGNORE, 0), 0);
  }
}

// Directives reach the entity they name; one for a continuous column is
// dropped with message 247.
TEST_F(ModellerLoad, DirectivesOfEntities) {
  Fixture f;
  f.extra = {{203, 912, 7.0}, {203, 914, 0.0}, {201, 912, 3.0}};
  ASSERT_EQ(load(f), 0);
  EXPECT_TRUE(said("is not a global entity"));
  int32_t n = 0;
  int32_t columns[4] = {};
  int32_t priorities[4] = {};
  char directions[4] = {};
  ASSERT_EQ(KLGETDIR(&n, columns, priorities, directions, nullptr, nullptr), 0);
  bool found = false;
  for (int32_t k = 0; k < n; ++k) {
    if (columns[k] != 2) continue;
    found = true;
    EXPECT_EQ(priorities[k], 7);
    EXPECT_EQ(directions[k], 'D');
  }
  EXPECT_TRUE(found);
}

// The set keeps its name, its reference row and its members' reference
// values in weight order, as a set read from an MPS file does.
TEST_F(ModellerLoad, SetNamesAndReferenceRows) {
  Fixture f;
  f.set_reference_key = 102;
  ASSERT_EQ(load(f), 0);
  EXPECT_EQ(std::string(kl::name_array(kl::ARR_SET_NAME), 8), "S1      ");
  EXPECT_EQ(kl::int_array(kl::ARR_SET_WORD)[1], 2);
  kl::OneBased<double> ref = kl::real_array(kl::ARR_SET_MEMBER_REF);
  EXPECT_EQ(ref[1], 1.0);
  EXPECT_EQ(ref[2], 2.0);
  // A set-to-row record names the reference row too; no reference row at all
  // is -1.
  f.extra = {{301, 103, 0.0}};
  ASSERT_EQ(load(f), 0);
  EXPECT_EQ(kl::int_array(kl::ARR_SET_WORD)[1], 3);
  ASSERT_EQ(load(Fixture{}), 0);
  EXPECT_EQ(kl::int_array(kl::ARR_SET_WORD)[1], -1);
  EXPECT_EQ(std::string(kl::name_array(kl::ARR_SET_NAME), 8), "S1      ");
}

// Directive records whose first key is a set reach the set's entity.
TEST_F(ModellerLoad, DirectivesOfSets) {
  Fixture f;
  f.extra = {{301, 912, 9.0}, {301, 913, 0.0}};
  ASSERT_EQ(load(f), 0);
  int32_t n = 0;
  int32_t columns[4] = {};
  int32_t priorities[4] = {};
  char directions[4] = {};
  ASSERT_EQ(KLGETDIR(&n, columns, priorities, directions, nullptr, nullptr), 0);
  bool found = false;
  for (int32_t k = 0; k < n; ++k) {
    if (columns[k] != -1) continue;
    found = true;
    EXPECT_EQ(priorities[k], 9);
    EXPECT_EQ(directions[k], 'U');
  }
  EXPECT_TRUE(found);
}

int32_t cms_calls = 0;
void count_cms() { ++cms_calls; }

// The caller's cut manager hears that a searched problem is replaced, and
// only then.
TEST_F(ModellerLoad, ReplacingASearchedProblemCallsTheEndEntry) {
  cms_calls = 0;
  ASSERT_EQ(KLDEFINECMSENTRY(count_cms), 0);
  ASSERT_EQ(load(Fixture{}), 0);
  EXPECT_EQ(cms_calls, 0);
  kl::node_cut_lists_in_use = 1;
  ASSERT_EQ(load(Fixture{}), 0);
  kl::node_cut_lists_in_use = 0;
  EXPECT_EQ(cms_calls, 1);
  expect_the_problem();
}

// A capacity the user fixed too small for the file refuses it, and the
// problem loaded before stays.
TEST_F(ModellerLoad, FixedCapacitiesTooSmall) {
  struct Case {
    int control;
    int32_t value;
    const char* message;
  };
  const Case cases[] = {
      {kl::ic::M_R, 2, "More rows than M_R"},
      {kl::ic::M_C, 5, "More columns than M_C"},
      {kl::ic::M_M, 1, "Matrix element space exhausted"},
      {kl::ic::NGEMAX, 1, "More global entities than NGEMAX"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(load(Fixture{}), 0);
    const int32_t kept = kl::icv(c.control);
    const int32_t kept_flag = kl::integer_set_flags[c.control];
    kl::icv(c.control) = c.value;
    kl::integer_set_flags[c.control] = -1;
    EXPECT_EQ(load(Fixture{}), 32) << c.message;
    EXPECT_TRUE(said(c.message)) << c.message;
    // Fixed large enough, the same file loads.
    kl::icv(c.control) = 100000;
    EXPECT_EQ(load(Fixture{}), 0) << c.message;
    kl::icv(c.control) = kept;
    kl::integer_set_flags[c.control] = kept_flag;
    expect_the_problem();
  }
}

TEST_F(ModellerLoad, MissingFiles) {
  EXPECT_EQ(KLVORNIN(dir.file("none").c_str()), 32);
  EXPECT_TRUE(said("file of type SOL"));
}

}  // namespace
