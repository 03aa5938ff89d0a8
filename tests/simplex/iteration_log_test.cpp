// The iteration log: lines every |ITRLOG| iterations with a header after
// every ITRHDG lines, forced lines, the quiet settings, the long form, the
// iteration-log callback with the caller's objective; and the stop test.
#include "simplex/iteration_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "factor/scaling.h"
#include "factor/factor_fixture.h"
#include "runtime/platform.h"
#include "simplex/primal_engines.h"
#include "factor/simplex_state.h"

namespace {

using namespace kl;

int callback_calls = 0;
double callback_objective = 0.0;
int32_t callback_answer = 0;

int32_t log_callback() {
  ++callback_calls;
  KLGETDPV(2001, &callback_objective);
  return callback_answer;
}

class IterationLog : public kltest::FactorTest {
 protected:
  void SetUp() override {
    FactorTest::SetUp();
    kltest::build_problem(3, {kltest::Column{{1, 1.0}}, kltest::Column{{2, 1.0}}});
    lp_algorithm = kAlgorithmPrimal;
    candidate_mode = 0;
    ninf = 0;
    nnegdj = 0;
    objval = 0.0;
    entering_column = 0;
    entering_sign = 0;
    leaving_variable = 0;
    log_line_counter = 0;
    callback_calls = 0;
    callback_answer = 0;
    start_clock();
    kltest::captured_lines().clear();
  }
  void TearDown() override {
    KLDEFINEILENTRY(nullptr);
    FactorTest::TearDown();
  }
  // Headers and lines printed since the last clear.
  void count(int& headers, int& lines) const {
    headers = lines = 0;
    for (const auto& line : kltest::text_lines()) {
      if (line.text.find("Its") != std::string::npos)
        ++headers;
      else
        ++lines;
    }
  }
  void run_iterations(int32_t from, int32_t to) {
    for (itcnt = from; itcnt <= to; ++itcnt) EXPECT_EQ(iteration_log(0), 0);
  }
};

TEST_F(IterationLog, LinesEveryItrlogWithRepeatedHeaders) {
  struct Case {
    int32_t itrlog;
    int32_t itrhdg;
    int32_t iterations;
    int headers;
    int lines;
  };
  const Case cases[] = {
      {100, 20, 250, 1, 2},
      {1, 2, 5, 3, 5},
      {-2, 20, 7, 1, 3},
      {0, 20, 50, 0, 0},
      {-kQuietIterationLog, 20, 50, 0, 0},
  };
  for (const Case& c : cases) {
    icv(ic::ITRLOG) = c.itrlog;
    icv(ic::ITRHDG) = c.itrhdg;
    log_line_counter = 0;
    kltest::captured_lines().clear();
    run_iterations(1, c.iterations);
    int headers = 0;
    int lines = 0;
    count(headers, lines);
    EXPECT_EQ(headers, c.headers) << "ITRLOG " << c.itrlog;
    EXPECT_EQ(lines, c.lines) << "ITRLOG " << c.itrlog;
  }
}

TEST_F(IterationLog, ForcedLinePrintsRegardlessOfTheCount) {
  icv(ic::ITRLOG) = 0;
  itcnt = 7;
  iteration_log(1);
  int headers = 0;
  int lines = 0;
  count(headers, lines);
  EXPECT_EQ(headers, 1);
  EXPECT_EQ(lines, 1);
}

TEST_F(IterationLog, QuietSuppressesLinesAndCallback) {
  KLDEFINEILENTRY(log_callback);
  icv(ic::IQUIET) = 1;
  icv(ic::ITRLOG) = 1;
  run_iterations(1, 3);
  itcnt = 4;
  iteration_log(1);
  EXPECT_TRUE(kltest::text_lines().empty());
  EXPECT_EQ(callback_calls, 0);
}

TEST_F(IterationLog, CallbackSeesTheCallersObjectiveAndMayStop) {
  KLDEFINEILENTRY(log_callback);
  icv(ic::ITRLOG) = 10;
  dcv(kObjectiveScaleSlot) = 4.0;
  objval = 10.0;
  run_iterations(1, 9);
  EXPECT_EQ(callback_calls, 0);
  itcnt = 10;
  callback_answer = 1;
  EXPECT_EQ(iteration_log(0), 1);
  EXPECT_EQ(callback_calls, 1);
  EXPECT_DOUBLE_EQ(callback_objective, 2.5);
  EXPECT_DOUBLE_EQ(objval, 10.0);
}

TEST_F(IterationLog, LongLineInPhaseOneShowsTheInfeasibilityAndSignedPivot) {
  icv(ic::ITRLOG) = -1;
  ninf = 2;
  suminf = 3.5;
  objval = 123.0;
  entering_reduced_cost = -0.25;
  entering_column = 5;
  entering_sign = 1;
  leaving_variable = 2;
  int_array(ARR_POS_STATUS)[2] |= PS_AT_UPPER;
  itcnt = 1;
  iteration_log(0);
  const auto lines = kltest::text_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].text.find("Reduced"), std::string::npos);
  const std::string& line = lines[1].text;
  EXPECT_NE(line.find(" P "), std::string::npos) << line;
  EXPECT_NE(line.find("-5"), std::string::npos) << line;
  EXPECT_NE(line.find("-2"), std::string::npos) << line;
  EXPECT_NE(line.find("3.5"), std::string::npos) << line;
  EXPECT_NE(line.find("-.25"), std::string::npos) << line;
  EXPECT_EQ(line.find("123"), std::string::npos) << line;
}

TEST_F(IterationLog, StopOnInterruptAndOnTheTimeLimit) {
  icv(ic::MAXTIM) = 0;
  interrupt_flag = 1;
  EXPECT_EQ(check_stop_request(), 1);
  EXPECT_EQ(check_stop_request(), 0);

  // A positive limit waits for the global search's first integer solution.
  icv(ic::MAXTIM) = 1;
  integer_solution_count = 0;
  start_clock();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(check_stop_request(), 0);
  integer_solution_count = 1;
  EXPECT_EQ(check_stop_request(), 1);
  integer_solution_count = 0;
  icv(ic::MAXTIM) = -1;
  EXPECT_EQ(check_stop_request(), 1);
  icv(ic::MAXTIM) = -60;
  EXPECT_EQ(check_stop_request(), 0);
}

}  // namespace
