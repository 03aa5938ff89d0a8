// Control words: NAME shows a control, NAME=value sets it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/command_loop.h"
#include "console/control_words.h"
#include "klsol32.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

class ControlWords : public kltest::LibrarySession {
 protected:
  // Runs one control word as the command loop would; returns unknown.
  int32_t word(const std::string& line) {
    kltest::captured_lines().clear();
    kl::reduce_command_line(line.data(), static_cast<int32_t>(line.size()));
    kl::status_code = kl::STATUS_OK;
    int32_t unknown = -1;
    kl::set_or_show_control(unknown);
    return unknown;
  }

  std::string only_line() {
    const auto lines = kltest::text_lines();
    return lines.size() == 1 ? lines[0].text : "<" + std::to_string(lines.size()) + " lines>";
  }

  static std::string rhsnam() { return std::string(kl::character_controls[kl::cc::RHSNAM], 8); }
};

TEST_F(ControlWords, IntegerValues) {
  struct Case {
    const char* line;
    int32_t value;      // the control afterwards
    const char* refusal;  // message of a refused value, or ""
  } cases[] = {
      {"itrlog=50", 50, ""},
      {"ITRLOG = -7", -7, ""},
      {"ITRLOG=+8", 8, ""},
      {"ITRLOG=", 0, ""},
      {"ITRLOG=-2147483648", INT32_MIN, ""},
      {"ITRLOG=12X", 100, "Not a valid integer, control unchanged: ITRLOG=12X"},
      {"ITRLOG=2147483648", 100, "Not a valid integer"},
      {"ITRLOG=-", 100, "Not a valid integer"},
      {"ITRLOG='5'", 100, "Not a valid integer"},
  };
  for (const auto& c : cases) {
    kl::icv(kl::ic::ITRLOG) = 100;
    const int32_t flag = kl::integer_set_flags[kl::ic::ITRLOG];
    EXPECT_EQ(word(c.line), 0) << c.line;
    EXPECT_EQ(kl::icv(kl::ic::ITRLOG), c.value) << c.line;
    EXPECT_EQ(kl::status_code, kl::STATUS_OK) << c.line;
    if (c.refusal[0] == '\0') {
      EXPECT_TRUE(kltest::text_lines().empty()) << c.line;
      EXPECT_EQ(kl::integer_set_flags[kl::ic::ITRLOG], flag + 1) << c.line;
    } else {
      EXPECT_NE(only_line().find(c.refusal), std::string::npos) << c.line << ": " << only_line();
      EXPECT_EQ(kl::integer_set_flags[kl::ic::ITRLOG], flag) << c.line;
    }
  }
}

TEST_F(ControlWords, DoubleValues) {
  const std::string too_long = "ZTOLPV=0." + std::string(30, '0') + "1";
  struct Case {
    std::string line;
    double value;
    const char* refusal;
  } cases[] = {
      {"ZTOLPV=1e-7", 1e-7, ""},
      {"ztolpv = 1.5D+2", 150.0, ""},
      {"ztolpv = -1.5D+2", 0.5, "Control value out of range, control unchanged: ztolpv=-1.5D+2 (allowed: 0 or above)"},
      {"ZTOLPV=1e999", 0.5, "Not a valid real number"},
      {"ZTOLPV=", 0.0, ""},
      {"ZTOLPV=abc", 0.5, "Not a valid real number, control unchanged: ZTOLPV=abc"},
      {"ZTOLPV=1.2.3", 0.5, "Not a valid real number"},
      {too_long, 0.5, "Value longer than"},
  };
  for (const auto& c : cases) {
    kl::dcv(kl::dc::ZTOLPV) = 0.5;
    const int32_t flag = kl::double_set_flags[kl::dc::ZTOLPV];
    EXPECT_EQ(word(c.line), 0) << c.line;
    EXPECT_DOUBLE_EQ(kl::dcv(kl::dc::ZTOLPV), c.value) << c.line;
    EXPECT_EQ(kl::status_code, kl::STATUS_OK) << c.line;
    if (c.refusal[0] == '\0') {
      EXPECT_EQ(kl::double_set_flags[kl::dc::ZTOLPV], flag + 1) << c.line;
    } else {
      EXPECT_NE(only_line().find(c.refusal), std::string::npos) << c.line << ": " << only_line();
      EXPECT_EQ(kl::double_set_flags[kl::dc::ZTOLPV], flag) << c.line;
    }
  }
}

TEST_F(ControlWords, CharacterValues) {
  struct Case {
    const char* line;
    const char* value;
  } cases[] = {
      {"RHSNAM=B1", "B1      "},
      {"rhsnam=b1", "b1      "},
      {"RHSNAM=", "        "},
      {"RHSNAM='B1'", "        "},  // the copy stops at the first quote
      {"RHSNAM=ABCDEFGHIJ", "ABCDEFGH"},
      {"RHSNAM = R H S", "RHS     "},
  };
  for (const auto& c : cases) {
    std::memcpy(kl::character_controls[kl::cc::RHSNAM], "OLDVALUE", 8);
    EXPECT_EQ(word(c.line), 0) << c.line;
    EXPECT_EQ(rhsnam(), c.value) << c.line;
  }
}

TEST_F(ControlWords, NameAloneShowsTheValue) {
  kl::icv(kl::ic::ITRLOG) = -42;
  EXPECT_EQ(word("ITRLOG"), 0);
  EXPECT_EQ(only_line(), "         -42");
  std::memcpy(kl::character_controls[kl::cc::RHSNAM], "B1      ", 8);
  EXPECT_EQ(word("rhsnam"), 0);
  EXPECT_EQ(only_line(), "'B1      '");
  // A real below ZTOLPZ is still shown as it is; the zero tolerance of the
  // messages is ZTOLPZ again afterwards.
  kl::dcv(kl::dc::ZTOLPZ) = 1e-3;
  kl::dcv(kl::dc::ZTOLPV) = 1e-9;
  EXPECT_EQ(word("ZTOLPV"), 0);
  EXPECT_NE(only_line().find("1.00000E-09"), std::string::npos) << only_line();
  EXPECT_FLOAT_EQ(kl::message_line.zero_tolerance, 1e-3f);
  EXPECT_EQ(word("ZTOLPZ=2e-4"), 0);
  EXPECT_FLOAT_EQ(kl::message_line.zero_tolerance, 2e-4f);
}

TEST_F(ControlWords, UnknownNamesAreLeftToTheCaller) {
  kl::icv(kl::ic::ITRLOG) = 100;
  for (const char* line : {"ITRLOGX=5", "NOSUCH", "ITRLOG5", "ITRLOG-5"}) {
    EXPECT_EQ(word(line), 1) << line;
    EXPECT_TRUE(kltest::text_lines().empty()) << line;
  }
  EXPECT_EQ(kl::icv(kl::ic::ITRLOG), 100);
}

TEST_F(ControlWords, UnsettableControlIsShownButNotSet) {
  kl::icv(kl::ic::ITRLOG) = 100;
  kl::integer_set_flags[kl::ic::ITRLOG] = -1;
  EXPECT_EQ(word("ITRLOG=5"), 0);
  EXPECT_EQ(only_line(), "This control cannot be set");
  EXPECT_EQ(kl::icv(kl::ic::ITRLOG), 100);
  EXPECT_EQ(kl::integer_set_flags[kl::ic::ITRLOG], -1);
  EXPECT_EQ(kl::status_code, kl::STATUS_OK);
  EXPECT_EQ(word("ITRLOG"), 0);
  EXPECT_EQ(only_line(), "         100");
}

}  // namespace
