// Start-up, shutdown and the export frame, driven through the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "klsol32.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/platform.h"
#include "runtime/startup.h"
#include "support/message_file_builder.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace {

class LifeCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    KLFREEXO();
    unsetenv("KALMIR");
    kltest::captured_lines().clear();
    KLDEFINEUOPVBENTRY(nullptr);
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPVBENTRY(nullptr);
    KLDEFINEUOPENTRY(nullptr);
  }
};

TEST_F(LifeCycle, StartsWithIndexBaseOneAndStartupControls) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  int32_t value = -5;
  EXPECT_EQ(KLGETICV(KLIC_IFDBG, &value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(KLGETICV(KLIC_ITRLOG, &value), 0);
  EXPECT_EQ(value, 100);
  char version[9] = {};
  EXPECT_EQ(KLGETCCV(KLCC_VERSION, version), 0);
  EXPECT_STREQ(version, "  12.35");
  char name[512] = {};
  EXPECT_EQ(KLGETPROB(name), 0);
  EXPECT_STREQ(name, "$$$$$$$$");
}

TEST_F(LifeCycle, ExportsBeforeStartupAreRefused) {
  int32_t value = 0;
  double real = 0;
  char text[512] = {};
  EXPECT_EQ(KLGETICV(KLIC_ITRLOG, &value), KL_STATUS_FATAL);
  EXPECT_EQ(KLSETICV(KLIC_ITRLOG, 5), KL_STATUS_FATAL);
  EXPECT_EQ(KLGETDCV(KLDC_ZTOLPV, &real), KL_STATUS_FATAL);
  EXPECT_EQ(KLGETIPV(KLIA_NROW, &value), KL_STATUS_FATAL);
  EXPECT_EQ(KLSETPROB("x"), KL_STATUS_FATAL);
  EXPECT_EQ(KLGETPROB(text), KL_STATUS_FATAL);
  // These never report a status.
  EXPECT_EQ(KLSETDEFAULT(), 0);
  EXPECT_EQ(KLFREEXO(), 0);
  EXPECT_EQ(KLDEFINEILENTRY(nullptr), 0);
}

TEST_F(LifeCycle, WideEntrySurvivesStartupAndSeesTheBanner) {
  KLDEFINEUOPVBENTRY(kltest::capture_wide);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  auto lines = kltest::text_lines();
  ASSERT_GE(lines.size(), 2u);
  for (const auto& line : lines) EXPECT_TRUE(line.wide) << line.text;
  EXPECT_NE(lines[0].text.find("12.35"), std::string::npos) << lines[0].text;
}

TEST_F(LifeCycle, MissingMessageFileSendsBuiltinLinesAsKind4) {
  kltest::TempDir first, second;
  KLDEFINEUOPVBENTRY(kltest::capture_wide);
  kl::library_directory.first = first.path();
  kl::library_directory.second = second.path();
  kl::initialise_library();
  EXPECT_EQ(kl::status_code, KL_STATUS_FATAL);
  EXPECT_EQ(kl::error_number, 278);
  auto lines = kltest::text_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].kind, 4);
  EXPECT_EQ(lines[0].text, "?0:error - message file not found");
  EXPECT_EQ(lines[1].kind, 4);
  EXPECT_EQ(lines[1].text, "check environment variable KALMIR set correctly");
}

// A host with no output entry and no option log would see status 8 and
// nothing else: it gets one line on standard error naming the file and where
// it was looked for. A host with an entry gets the built-in lines only.
TEST_F(LifeCycle, MissingMessageFileTellsAHostWithoutEntriesOnStandardError) {
  kltest::TempDir first, second;
  for (const bool wide_entry : {false, true}) {
    SCOPED_TRACE(wide_entry ? "wide entry" : "no entry");
    KLDEFINEUOPVBENTRY(wide_entry ? kltest::capture_wide : nullptr);
    kl::library_directory.first = first.path();
    kl::library_directory.second = second.path();
    testing::internal::CaptureStderr();
    kl::initialise_library();
    const std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(kl::status_code, KL_STATUS_FATAL);
    if (wide_entry) {
      EXPECT_EQ(text, "");
      continue;
    }
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find("kl-run.msg"), std::string::npos) << text;
    EXPECT_NE(text.find(first.path()), std::string::npos) << text;
    EXPECT_NE(text.find(second.path()), std::string::npos) << text;
  }
}

TEST_F(LifeCycle, WrongVersionFailsStartupWithError278) {
  kltest::TempDir dir;
  ASSERT_TRUE(kltest::MessageFileBuilder().add(1, 1, "12.34 ").add(59, 1, "banner").write(dir.file("kl-run.msg")));
  KLDEFINEUOPVBENTRY(kltest::capture_wide);
  EXPECT_EQ(KLINITLZ(dir.path().c_str(), nullptr), KL_STATUS_FATAL);
  EXPECT_TRUE(kltest::any_line_contains("?1:wrong version of message file"));
  int32_t value = 0;
  EXPECT_EQ(KLGETIPV(KLIA_ERRORCODE, &value), 0);
  EXPECT_EQ(value, 278);
  EXPECT_EQ(KLGETICV(KLIC_IFDBG, &value), 0);
  EXPECT_EQ(value, 1);
}

TEST_F(LifeCycle, MessageFileFromKalmirBeforeTheModuleDirectory) {
  kltest::TempDir dir;
  ASSERT_TRUE(kltest::MessageFileBuilder()
                  .add(1, 1, "12.35 ")
                  .add(59, 1, "banner from KALMIR")
                  .write(dir.file("kl-run.msg")));
  setenv("KALMIR", dir.path().c_str(), 1);
  KLDEFINEUOPVBENTRY(kltest::capture_wide);
  EXPECT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_TRUE(kltest::any_line_contains("banner from KALMIR"));
  // A directory argument wins over KALMIR; the module's own file is found
  // second when the argument holds none.
  kltest::TempDir empty;
  kltest::captured_lines().clear();
  EXPECT_EQ(KLINITLZ(empty.path().c_str(), nullptr), 0);
  EXPECT_FALSE(kltest::any_line_contains("banner from KALMIR"));
  EXPECT_TRUE(kltest::any_line_contains("Linear, quadratic"));
  unsetenv("KALMIR");
}

TEST_F(LifeCycle, DirectoryRules) {
  std::string module;
  ASSERT_TRUE(kl::module_directory(module));
  struct Case {
    const char* argument;
    const char* kalmir;
    std::string first;
    std::string second;
  };
  const Case cases[] = {
      {"/tmp/given", nullptr, "/tmp/given", module},
      {"/tmp/given", "/tmp/kalmir", "/tmp/given", module},
      {nullptr, "/tmp/kalmir", "/tmp/kalmir", module},
      {"", "/tmp/kalmir", "/tmp/kalmir", module},
      {nullptr, nullptr, module, ""},
      {"", nullptr, module, ""},
  };
  for (const Case& c : cases) {
    if (c.kalmir != nullptr)
      setenv("KALMIR", c.kalmir, 1);
    else
      unsetenv("KALMIR");
    kl::set_library_directory(c.argument, c.argument != nullptr);
    EXPECT_EQ(kl::library_directory.first, c.first) << (c.argument ? c.argument : "(null)");
    EXPECT_EQ(kl::library_directory.second, c.second) << (c.argument ? c.argument : "(null)");
  }
  unsetenv("KALMIR");
}

TEST_F(LifeCycle, FreeAndStartAgain) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  void* cell = nullptr;
  ASSERT_EQ(kl::allocate_array(7, cell, 100), 0);
  kl::array_cells[7] = cell;
  EXPECT_EQ(KLFREEXO(), 0);
  EXPECT_EQ(kl::array_cells[7], nullptr);
  EXPECT_EQ(kl::current_slot, 0);
  int32_t value = 0;
  EXPECT_EQ(KLGETICV(KLIC_ITRLOG, &value), KL_STATUS_FATAL);
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_EQ(kl::current_slot, 1);
  EXPECT_EQ(KLGETICV(KLIC_ITRLOG, &value), 0);
  EXPECT_EQ(value, 100);
}

TEST_F(LifeCycle, StartingAgainWithoutShutdownSaysWhatWasDropped) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  const char types[] = {'L'};
  const double rhs[] = {1.0}, cost[] = {1.0}, values[] = {1.0}, lower[] = {0.0}, upper[] = {1.0};
  const int32_t starts[] = {0, 1}, rows[] = {0};
  ASSERT_EQ(KLLOADPROB("kept", 1, 1, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper), 0);
  kltest::captured_lines().clear();
  EXPECT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_TRUE(kltest::any_line_contains("Started again without a shutdown"));
  double objective[1] = {};
  EXPECT_EQ(KLGETOBJ(objective, 0, 0), KL_STATUS_REPORTED);

  // A start after a shutdown is an ordinary one.
  KLFREEXO();
  kltest::captured_lines().clear();
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_FALSE(kltest::any_line_contains("Started again"));
}

TEST_F(LifeCycle, ShutdownRestoresTheHostFloatingPointEnvironment) {
  ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  KLFREEXO();
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(FE_TONEAREST);
}

TEST_F(LifeCycle, BadControlNumbersAreReportedWithTheRoutineName) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  int32_t value = 0;
  double real = 0;
  char text[16] = {};
  struct Case {
    int32_t status;
    int32_t number;
    const char* routine;
  };
  const Case cases[] = {
      {KLGETICV(0, &value), 0, "geticv"},   {KLGETICV(148, &value), 148, "geticv"},
      {KLSETICV(148, 1), 148, "seticv"},    {KLGETDCV(82, &real), 82, "getdcv"},
      {KLSETDCV(0, 1.0), 0, "setdcv"},      {KLGETCCV(9, text), 9, "getccv"},
      {KLSETCCV(9, "A"), 9, "setccv"},      {KLGETIPV(1032, &value), 1032, "getipv"},
      {KLGETDPV(3001, &real), 3001, "getdpv"}, {KLGETCPV(3006, text), 3006, "getcpv"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, KL_STATUS_REPORTED) << c.routine;
    EXPECT_TRUE(kltest::any_line_contains(c.routine)) << c.routine;
  }
  // The error number and status of the last call, read back by KLGETIPV.
  KLGETICV(148, &value);
  EXPECT_EQ(KLGETIPV(KLIA_ERRORCODE, &value), 0);
  EXPECT_EQ(value, 412);
  KLGETICV(148, &value);
  EXPECT_EQ(KLGETIPV(KLIA_STATUS, &value), 0);
  EXPECT_EQ(value, 32);
  EXPECT_EQ(KLGETIPV(KLIA_STATUS, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(kl::error_value, 148);
}

TEST_F(LifeCycle, ControlsThroughTheExports) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  int32_t value = 0;
  EXPECT_EQ(KLSETICV(66, 1), KL_STATUS_REPORTED);
  int32_t error = 0;
  KLGETIPV(KLIA_ERRORCODE, &error);
  EXPECT_EQ(error, 180);
  EXPECT_EQ(KLGETICV(66, &value), 0);
  EXPECT_EQ(value, 7);

  char text[9] = {};
  EXPECT_EQ(KLSETCCV(KLCC_RHSNAM, "AB"), 0);
  EXPECT_EQ(KLGETCCV(KLCC_RHSNAM, text), 0);
  EXPECT_STREQ(text, "AB");
  EXPECT_EQ(KLSETCCV(KLCC_RHSNAM, "ABCDEFGHIJ"), 0);
  EXPECT_EQ(KLGETCCV(KLCC_RHSNAM, text), 0);
  EXPECT_STREQ(text, "ABCDEFGH");
  EXPECT_EQ(KLSETCCV(KLCC_RHSNAM, nullptr), 0);
  EXPECT_EQ(KLGETCCV(KLCC_RHSNAM, text), 0);
  EXPECT_STREQ(text, "");

  EXPECT_EQ(KLSETICV(KLIC_ITRLOG, 0), 0);
  EXPECT_EQ(KLSETICV(KLIC_IFPMSG, 0), 0);
  EXPECT_EQ(KLSETICV(KLIC_M_R, 2), 0);
  EXPECT_EQ(KLSETDEFAULT(), 0);
  KLGETICV(KLIC_ITRLOG, &value);
  EXPECT_EQ(value, 100);
  KLGETICV(KLIC_IFPMSG, &value);
  EXPECT_EQ(value, 0);
  KLGETICV(KLIC_M_R, &value);
  EXPECT_EQ(value, 2);
}

// Values the code would loop on, overflow with or size a huge allocation by
// are refused, and the control keeps its value.
TEST_F(LifeCycle, ControlValuesOutsideTheirRangeAreRefused) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct DoubleCase {
    int32_t control;
    double value;
    int32_t error;
  };
  const DoubleCase doubles[] = {
      {KLDC_ZTOLZE, -1e-6, 974}, {KLDC_ZTCOST, -1e-6, 974}, {KLDC_ZTOLZE, nan, 314},
      {KLDC_ZTCOST, nan, 314},   {KLDC_ZTOLPV, inf, 314},    {KLDC_BIGM, -inf, 314},
  };
  for (const DoubleCase& c : doubles) {
    SCOPED_TRACE(c.control);
    double before = 0.0, after = 0.0;
    KLGETDCV(c.control, &before);
    EXPECT_EQ(KLSETDCV(c.control, c.value), KL_STATUS_REPORTED);
    int32_t error = 0;
    KLGETIPV(KLIA_ERRORCODE, &error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(kl::error_value, c.control);
    KLGETDCV(c.control, &after);
    EXPECT_EQ(after, before);
  }
  struct IntCase {
    int32_t control;
    int32_t value;
  };
  const IntCase ints[] = {
      {KLIC_INTMAX, INT32_MAX}, {KLIC_IGNORE, INT32_MAX}, {KLIC_M_E, INT32_MAX},
      {KLIC_NRXTRA, -1},        {KLIC_NAMLEN, 0},
  };
  for (const IntCase& c : ints) {
    SCOPED_TRACE(c.control);
    int32_t before = 0, after = 0;
    KLGETICV(c.control, &before);
    EXPECT_EQ(KLSETICV(c.control, c.value), KL_STATUS_REPORTED);
    KLGETICV(c.control, &after);
    EXPECT_EQ(after, before);
  }
  EXPECT_TRUE(kltest::any_line_contains("Control value out of range, control unchanged: M_E=2147483647"));
  EXPECT_TRUE(kltest::any_line_contains("Not a valid real number, control unchanged: ZTOLZE=nan"));
  // The edges themselves, and zero tolerances, are taken; the iteration
  // limit may be the largest int, since the limits derived from it saturate.
  EXPECT_EQ(KLSETICV(KLIC_INTMAX, INT32_MAX - 2), 0);
  EXPECT_EQ(KLSETICV(KLIC_ITRLIM, INT32_MAX), 0);
  EXPECT_EQ(KLSETDCV(KLDC_ZTOLZE, 0.0), 0);
  EXPECT_EQ(KLSETDCV(KLDC_CUTOFF, -1e30), 0);
}

TEST_F(LifeCycle, ProblemNameRoundTripAndRefusals) {
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  KLDEFINEUOPENTRY(kltest::capture_plain);
  char name[512] = {};
  EXPECT_EQ(KLSETPROB("model"), 0);
  EXPECT_EQ(KLGETPROB(name), 0);
  EXPECT_STREQ(name, "model");

  kltest::captured_lines().clear();
  EXPECT_EQ(KLSETPROB(nullptr), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 86);
  EXPECT_EQ(KLGETPROB(nullptr), KL_STATUS_REPORTED);
  EXPECT_TRUE(kltest::text_lines().empty());

  const std::string too_long(600, 'x');
  EXPECT_EQ(KLSETPROB(too_long.c_str()), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, 600);
  EXPECT_EQ(KLGETPROB(name), 0);
  EXPECT_STREQ(name, "model");
  const std::string longest(511, 'y');
  EXPECT_EQ(KLSETPROB(longest.c_str()), 0);
  EXPECT_EQ(KLGETPROB(name), 0);
  EXPECT_EQ(std::string(name), longest);
}

TEST_F(LifeCycle, OptionLogCollectsTheLinesOfSeveralCalls) {
  kltest::TempDir dir;
  ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
  EXPECT_EQ(KLSETOPTLOG(dir.file("run.log").c_str()), 0);
  int32_t value = 0;
  KLGETICV(0, &value);
  kl::end_of_call();
  KLGETICV(200, &value);
  kl::end_of_call();
  EXPECT_EQ(KLSETOPTLOG(""), 0);
  KLGETICV(300, &value);
  std::ifstream log(dir.file("run.log"));
  std::stringstream content;
  content << log.rdbuf();
  const std::string text = content.str();
  const std::size_t first = text.find("     0");
  const std::size_t second = text.find("   200");
  EXPECT_NE(first, std::string::npos) << text;
  EXPECT_NE(second, std::string::npos) << text;
  EXPECT_LT(first, second);
  EXPECT_EQ(text.find("300"), std::string::npos) << text;
}

}  // namespace
