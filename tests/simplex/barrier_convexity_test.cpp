// A quadratic objective the barrier cannot solve, through the exports: a
// non-convex minimisation and the maximisation of a convex objective end
// with status word 32 and message 259 (not the memory message 251), no
// optimum claimed; the convex counterparts still solve.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "klsol32.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

constexpr int32_t kStatusReported = 32;
constexpr int32_t kOptimal = 1;

class BarrierConvexity : public kltest::LibrarySession {
 protected:
  // 0 <= x <= 1, x0 + x1 <= 1.5, objective x0 + x1 + x'Qx/2 with
  // Q = [[q00, q01], [q01, q11]].
  void load(double q00, double q01, double q11) {
    const char types[] = "L";
    const double rhs[] = {1.5};
    const double cost[] = {1.0, 1.0};
    const int32_t starts[] = {0, 1, 2};
    const int32_t rows[] = {0, 0};
    const double values[] = {1.0, 1.0};
    const double lower[] = {0.0, 0.0};
    const double upper[] = {1.0, 1.0};
    const int32_t q1[] = {0, 0, 1};
    const int32_t q2[] = {0, 1, 1};
    const double qv[] = {q00, q01, q11};
    ASSERT_EQ(KLLOADQPROB("convexity", 2, 1, types, rhs, nullptr, cost, starts, nullptr, rows, values, lower, upper,
                          3, q1, q2, qv),
              0);
    kltest::captured_lines().clear();
  }

  void expect_refused(int32_t call_status) {
    EXPECT_EQ(call_status, kStatusReported);
    EXPECT_EQ(kltest::int_attribute_value(KLIA_ERRORCODE), 259);
    EXPECT_NE(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
    EXPECT_TRUE(kltest::any_line_contains("quadratic objective is not convex"));
    EXPECT_FALSE(kltest::any_line_contains("not enough memory"));
  }
};

TEST_F(BarrierConvexity, IndefiniteMinimisationIsRefusedWithItsMessage) {
  load(1.0, 2.0, 1.0);
  expect_refused(KLMINIM(""));
  // Option b asks for the barrier by name: the same answer.
  load(1.0, 2.0, 1.0);
  expect_refused(KLMINIM("b"));
}

TEST_F(BarrierConvexity, ConcaveMinimisationAndConvexMaximisationAreRefused) {
  load(-2.0, 0.0, -2.0);
  expect_refused(KLMINIM(""));
  load(1.0, 0.0, 1.0);
  expect_refused(KLMAXIM(""));
}

// The convex counterparts: min with Q = I (x = 0, objective 0) and max with
// Q = -I (x = (0.75, 0.75), objective 1.5 - 0.5625).
TEST_F(BarrierConvexity, ConvexCounterpartsStillSolve) {
  load(1.0, 0.0, 1.0);
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
  EXPECT_NEAR(kltest::objective_value(), 0.0, 1e-6);

  load(-1.0, 0.0, -1.0);
  EXPECT_EQ(KLMAXIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
  EXPECT_NEAR(kltest::objective_value(), 0.9375, 1e-6);

  // Semidefinite, a zero column: Q = [[1, 0], [0, 0]] (x = 0, objective 0).
  load(1.0, 0.0, 0.0);
  EXPECT_EQ(KLMINIM(""), 0);
  EXPECT_EQ(kltest::int_attribute_value(KLIA_LPSTATUS), kOptimal);
  EXPECT_NEAR(kltest::objective_value(), 0.0, 1e-6);
}

}  // namespace
