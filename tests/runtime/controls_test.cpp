#include "runtime/controls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/options.h"
#include "runtime/problem_name.h"
#include "runtime/frame.h"

namespace kl {
namespace {

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(integer_attributes, 0, sizeof integer_attributes);
    std::memset(barrier_int_attributes, 0, sizeof barrier_int_attributes);
    std::memset(barrier_double_attributes, 0, sizeof barrier_double_attributes);
    std::memset(character_attributes, ' ', sizeof character_attributes);
    set_control_startup_values();
    set_search_control_defaults();
    set_control_defaults();
    status_code = 0;
    error_number = 0;
    error_value = 0;
  }

  static std::string character_control(int n) { return std::string(character_controls[n], 8); }

  static void expect_report(int32_t number, int32_t value) {
    EXPECT_EQ(status_code, STATUS_REPORTED);
    EXPECT_EQ(error_number, number);
    EXPECT_EQ(error_value, value);
  }
};

// Values copied from the control list, independent of the generated table.
TEST_F(ControlsTest, StartupValuesMatchTheControlList) {
  const std::vector<std::pair<int, int32_t>> ints = {
      {1, 4},      {7, 2147483645}, {9, 100},    {10, 35},   {14, -1},   {28, -100}, {35, 1},
      {42, 0},     {43, -1},        {61, 1235},  {65, 8},    {66, 7},    {77, 511},  {91, 676},
      {99, 163},   {111, 687},      {120, 90000}, {131, -1}, {137, -1},  {142, 2047}, {143, 1791},
      {145, -1},   {146, 4},        {147, 0}};
  for (auto [n, value] : ints) EXPECT_EQ(integer_controls[n], value) << "integer control " << n;

  const std::vector<std::pair<int, double>> doubles = {
      {1, 1e-9},  {9, 5e-6},   {12, -9.999999747378752e-06}, {29, 128.0}, {31, 1e-15}, {48, 26000000.0},
      {53, 0.33}, {57, 52000000.0}, {58, 1e18}, {62, 1e20}, {71, -10.0}, {81, 1e30}};
  for (auto [n, value] : doubles) EXPECT_EQ(double_controls[n], value) << "double control " << n;

  EXPECT_EQ(double_controls[dc::SENSE_FACTOR], 1.0);
  EXPECT_EQ(double_controls[dc::PLUS_INFINITY], 1e20);
  EXPECT_EQ(double_controls[dc::MINUS_INFINITY], -1e20);
  EXPECT_EQ(double_controls[dc::PLUS_INFINITY_2], 1e20);

  EXPECT_EQ(character_control(cc::RHSNAM), "        ");
  EXPECT_EQ(character_control(cc::ASCMSK), "????????");
  EXPECT_EQ(character_control(cc::VERSION), "  12.35 ");

  for (int n = 1; n <= kIntControlCount; ++n) {
    EXPECT_EQ(integer_set_flags[n], n == 66 ? -2 : 0) << "set-flag of integer control " << n;
  }
}

std::vector<std::string> words_of(const char* list) {
  std::vector<std::string> words;
  for (const char* p = list; *p != '\0'; p += std::strlen(p) + 1) words.emplace_back(p);
  return words;
}

TEST_F(ControlsTest, NameListsHoldEveryControlAndHideTheInternalOnes) {
  const auto ints = words_of(control_name_lists.integer_names);
  const auto doubles = words_of(control_name_lists.double_names);
  const auto chars = words_of(control_name_lists.character_names);
  ASSERT_EQ(ints.size(), 147u);
  ASSERT_EQ(doubles.size(), 81u);
  ASSERT_EQ(chars.size(), 8u);
  EXPECT_EQ(ints[0], "M_R");
  EXPECT_EQ(ints[8], "ITRLOG");
  EXPECT_EQ(ints[146], "IFFSTR");
  EXPECT_EQ(doubles[80], "VALCUT");
  EXPECT_EQ(chars[7], "VERSION");
  // A typed name never starts with code 3, so these three are reachable by
  // number only.
  EXPECT_EQ(ints[41], "\x03IFMEM");
  EXPECT_EQ(ints[64], "\x03");
  EXPECT_EQ(ints[65], "\x03");
  for (const auto& w : ints) EXPECT_NE(w, "IFMEM");
}

TEST_F(ControlsTest, OutOfRangeNumbersAreReportedAndNothingIsWritten) {
  struct Case {
    const char* what;
    int32_t n;
    std::function<void(int32_t)> call;
  };
  int32_t int_out = -77;
  double double_out = -77.0;
  char text_out[9] = "unset";
  const std::vector<Case> cases = {
      {"geticv 0", 0, [&](int32_t n) { geticv(n, &int_out); }},
      {"geticv 148", 148, [&](int32_t n) { geticv(n, &int_out); }},
      {"getdcv 82", 82, [&](int32_t n) { getdcv(n, &double_out); }},
      {"getccv 9", 9, [&](int32_t n) { getccv(n, text_out); }},
      {"seticv 148", 148, [&](int32_t n) { seticv(n, 5); }},
      {"setdcv 0", 0, [&](int32_t n) { setdcv(n, 5.0); }},
      {"setccv 9", 9, [&](int32_t n) { setccv(n, "X"); }},
      {"getipv 1000", 1000, [&](int32_t n) { getipv(n, &int_out); }},
      {"getipv 1032", 1032, [&](int32_t n) { getipv(n, &int_out); }},
      {"getipv 3006", 3006, [&](int32_t n) { getipv(n, &int_out); }},
      {"getdpv 3001", 3001, [&](int32_t n) { getdpv(n, &double_out); }},
      {"getdpv 2009", 2009, [&](int32_t n) { getdpv(n, &double_out); }},
      {"getdpv 4006", 4006, [&](int32_t n) { getdpv(n, &double_out); }},
      {"getcpv 2001", 2001, [&](int32_t n) { getcpv(n, text_out); }},
      {"getcpv 3006", 3006, [&](int32_t n) { getcpv(n, text_out); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    status_code = 0;
    c.call(c.n);
    expect_report(412, c.n);
  }
  EXPECT_EQ(int_out, -77);
  EXPECT_EQ(double_out, -77.0);
  EXPECT_STREQ(text_out, "unset");
}

TEST_F(ControlsTest, NullOutputIsReportedInsteadOfWritten) {
  geticv(9, nullptr);
  expect_report(601, 9);
  getdpv(2001, nullptr);
  expect_report(601, 2001);
  setccv(1, nullptr);
  expect_report(601, 1);
  EXPECT_EQ(character_control(1), "        ");
}

TEST_F(ControlsTest, ControlWithNegativeSetFlagIsRefused) {
  double_set_flags[dc::ZTOLDA] = -1;
  character_set_flags[cc::OBJNAM] = -1;
  const std::vector<std::function<void()>> refused = {
      [] { seticv(66, 3); }, [] { setdcv(dc::ZTOLDA, 0.5); }, [] { setccv(cc::OBJNAM, "OBJ"); }};
  for (const auto& call : refused) {
    error_value = 1234;
    call();
    EXPECT_EQ(status_code, STATUS_REPORTED);
    EXPECT_EQ(error_number, 180);
    EXPECT_EQ(error_value, 1234);
  }
  int32_t v = 0;
  geticv(66, &v);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(integer_set_flags[66], -2);
  EXPECT_EQ(double_controls[dc::ZTOLDA], 1e-9);
  EXPECT_EQ(character_control(cc::OBJNAM), "        ");
}

TEST_F(ControlsTest, SetStoresValueAndSetFlagAndClearsThePreviousError) {
  status_code = STATUS_REPORTED;
  error_number = 412;
  seticv(ic::ITRLOG, 0);
  EXPECT_EQ(status_code, 0);
  EXPECT_EQ(error_number, 0);
  setdcv(dc::ZTOLPZ, 0.25);
  int32_t i = -1;
  double d = -1;
  geticv(ic::ITRLOG, &i);
  getdcv(dc::ZTOLPZ, &d);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(d, 0.25);
  EXPECT_EQ(integer_set_flags[ic::ITRLOG], 1);
  EXPECT_EQ(double_set_flags[dc::ZTOLPZ], 1);
}

TEST_F(ControlsTest, CharacterControlsArePaddedCutAndReadBackTrimmed) {
  char out[9];
  setccv(cc::RHSNAM, "AB");
  EXPECT_EQ(character_control(cc::RHSNAM), "AB      ");
  EXPECT_EQ(character_set_flags[cc::RHSNAM], 1);
  getccv(cc::RHSNAM, out);
  EXPECT_STREQ(out, "AB");

  setccv(cc::RHSNAM, "ABCDEFGHIJ");
  EXPECT_EQ(character_control(cc::RHSNAM), "ABCDEFGH");
  getccv(cc::RHSNAM, out);
  EXPECT_STREQ(out, "ABCDEFGH");

  getccv(cc::BNDNAM, out);
  EXPECT_STREQ(out, "");
  getccv(cc::VERSION, out);
  EXPECT_STREQ(out, "  12.35");
}

TEST_F(ControlsTest, DefaultsResetOrdinaryControlsAndKeepTheExcepted) {
  seticv(ic::ITRLOG, 0);
  seticv(ic::IFPMSG, 0);
  seticv(ic::M_R, 999);
  seticv(ic::PRTCUT, 3);
  seticv(ic::CUT2, 5);
  seticv(ic::INOINV, 6);
  seticv(ic::SSV001, 7);
  setdcv(dc::ADDCUT, 1.0);
  setdcv(dc::VALCUT, 2.0);
  setdcv(dc::CUTOFF, 3.0);
  setccv(cc::RHSNAM, "RHS");
  setccv(cc::VERSION, "OTHER");
  double_controls[dc::DINTSL] = 9.0;
  double_controls[dc::SENSE_FACTOR] = -1.0;
  set_option_letters("xyz");
  set_problem_name("afiro");

  set_control_defaults();

  EXPECT_EQ(integer_controls[ic::ITRLOG], 100);
  EXPECT_EQ(integer_controls[ic::PRTCUT], 0);
  EXPECT_EQ(integer_controls[ic::SSV001], 90000);
  EXPECT_EQ(integer_controls[ic::IFPMSG], 0);
  EXPECT_EQ(integer_controls[ic::M_R], 999);
  EXPECT_EQ(integer_controls[ic::CUT2], 5);
  EXPECT_EQ(integer_controls[ic::INOINV], 6);
  EXPECT_EQ(double_controls[dc::ADDCUT], -9.999999747378752e-06);
  EXPECT_EQ(double_controls[dc::VALCUT], 2.0);
  EXPECT_EQ(double_controls[dc::CUTOFF], 3.0);
  EXPECT_EQ(character_control(cc::RHSNAM), "        ");
  EXPECT_EQ(character_control(cc::VERSION), "OTHER   ");
  EXPECT_EQ(double_controls[dc::DINTSL], 0.0);
  EXPECT_EQ(double_controls[dc::SENSE_FACTOR], 1.0);

  // The capacities keep their set-flags; every other flag is cleared.
  EXPECT_EQ(integer_set_flags[ic::M_R], 1);
  EXPECT_EQ(integer_set_flags[ic::ITRLOG], 0);
  EXPECT_EQ(integer_set_flags[ic::IFPMSG], 0);
  EXPECT_EQ(integer_set_flags[66], -2);
  EXPECT_EQ(double_set_flags[dc::VALCUT], 0);
  EXPECT_EQ(character_set_flags[cc::VERSION], 0);

  for (char letter = 'a'; letter <= 'z'; ++letter) EXPECT_FALSE(option_set(letter)) << letter;
  EXPECT_EQ(get_problem_name(), "$$$$$$$$");
}

TEST_F(ControlsTest, SearchDefaultsRestoreOnlyTheCutStrategyBlock) {
  integer_controls[ic::MAXNBF] = 1;
  integer_controls[ic::LOCAL] = 2;
  integer_controls[ic::LDGLOB] = 3;
  integer_controls[ic::SSV001] = 4;
  integer_controls[ic::IDBDC] = 5;
  double_controls[dc::VALCUT] = 6.0;
  set_search_control_defaults();
  EXPECT_EQ(integer_controls[ic::MAXNBF], 10);
  EXPECT_EQ(integer_controls[ic::LOCAL], 1);
  EXPECT_EQ(integer_controls[ic::LDGLOB], 0);
  EXPECT_EQ(integer_controls[ic::SSV001], 4);
  EXPECT_EQ(integer_controls[ic::IDBDC], 5);
  EXPECT_EQ(double_controls[dc::VALCUT], 1e30);
}

TEST_F(ControlsTest, GetipvHandsOutThePreviousCallsOutcomeOnce) {
  int32_t v = -1;
  geticv(0, &v);
  getipv(1025, &v);
  EXPECT_EQ(v, STATUS_REPORTED);
  EXPECT_EQ(status_code, 0);
  getipv(1025, &v);
  EXPECT_EQ(v, 0);

  geticv(148, &v);
  getipv(1023, &v);
  EXPECT_EQ(v, 412);
}

TEST_F(ControlsTest, AttributesAreReadFromTheirStores) {
  integer_attributes[1] = 3;   // nrow
  integer_attributes[2] = 10;  // nseq
  integer_attributes[19] = 2;  // spare rows
  integer_attributes[31] = 44;
  barrier_int_attributes[5] = 1;
  int32_t i = 0;
  getipv(1018, &i);
  EXPECT_EQ(i, 5);
  getipv(1031, &i);
  EXPECT_EQ(i, 44);
  getipv(3005, &i);
  EXPECT_EQ(i, 1);

  double_controls[dc::OBJVAL] = 12.5;
  barrier_double_attributes[1] = -4.0;
  double d = 0;
  getdpv(2001, &d);
  EXPECT_EQ(d, 12.5);
  getdpv(2008, &d);
  EXPECT_EQ(d, 1.0);
  getdpv(4001, &d);
  EXPECT_EQ(d, -4.0);

  std::memcpy(character_attributes[2], "BND00001", 8);
  std::memcpy(character_attributes[1], "AFIRO   ", 8);
  char out[9];
  getcpv(3002, out);
  EXPECT_STREQ(out, "BND00001");
  getcpv(3001, out);
  EXPECT_STREQ(out, "AFIRO");
  EXPECT_EQ(status_code, 0);
}

}  // namespace
}  // namespace kl
