// The frame every export runs in: nothing a body throws crosses the C
// boundary; the call returns its status word with a message naming it.
#include "api/export_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/options.h"
#include "klsol/message_ids.h"
#include "klsol32.h"
#include "support/library_session.h"
#include "support/output_capture.h"

namespace {

using ExportFrame = kltest::LibrarySession;

TEST_F(ExportFrame, AThrownExceptionBecomesAStatusWordAndAMessage) {
  struct Case {
    const char* label;
    std::function<void()> body;
    int32_t error;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"allocation failure", [] { throw std::bad_alloc(); }, kl::MSG_CALL_NO_MEMORY,
       "not enough memory, the call was abandoned"},
      {"other exception", [] { throw std::runtime_error("table mismatch"); }, kl::MSG_CALL_FAILED,
       "internal failure (table mismatch), the call was abandoned"},
      {"not an exception class", [] { throw 7; }, kl::MSG_CALL_FAILED, "internal failure (unknown exception)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    kltest::captured_lines().clear();
    kl::set_option_letters("xy");
    EXPECT_EQ(kl::run_export("KLTEST", c.body), KL_STATUS_REPORTED);
    int32_t error = 0;
    ASSERT_EQ(KLGETIPV(KLIA_ERRORCODE, &error), 0);
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(kltest::any_line_contains("Error in KLTEST"));
    EXPECT_TRUE(kltest::any_line_contains(c.line));
    // The call's option letters end with it, as after a normal return.
    EXPECT_FALSE(kl::option_set('x'));
    EXPECT_FALSE(kl::option_set('y'));
  }
  // The library goes on serving calls.
  int32_t value = 0;
  EXPECT_EQ(KLGETICV(KLIC_ITRLOG, &value), 0);
  EXPECT_EQ(value, 100);
}

TEST_F(ExportFrame, BodiesReturningTheirOwnResultAreGuardedToo) {
  EXPECT_EQ(kl::run_export_returning("KLTEST", []() -> int32_t { return 5; }), 5);
  EXPECT_EQ(kl::run_export_returning("KLTEST", []() -> int32_t { throw std::bad_alloc(); }), KL_STATUS_REPORTED);
  EXPECT_EQ(kl::error_number, kl::MSG_CALL_NO_MEMORY);
}

TEST_F(ExportFrame, NoBodyRunsBeforeStartUp) {
  KLFREEXO();
  bool ran = false;
  EXPECT_EQ(kl::run_export("KLTEST", [&] { ran = true; }), KL_STATUS_FATAL);
  EXPECT_FALSE(ran);
}

}  // namespace
