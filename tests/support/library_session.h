// A test fixture that runs with the library started and its plain output
// captured; the library is shut down again after each test.
#ifndef KLSOL_TESTS_SUPPORT_LIBRARY_SESSION_H
#define KLSOL_TESTS_SUPPORT_LIBRARY_SESSION_H

#include <gtest/gtest.h>

#include "klsol32.h"
#include "support/output_capture.h"

namespace kltest {

class LibrarySession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KLINITLZ(nullptr, nullptr), 0);
    captured_lines().clear();
    KLDEFINEUOPENTRY(capture_plain);
  }
  void TearDown() override {
    KLFREEXO();
    KLDEFINEUOPENTRY(nullptr);
  }
};

}  // namespace kltest

#endif
