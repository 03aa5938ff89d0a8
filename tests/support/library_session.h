// A test fixture that runs with the library started and its plain output
// captured; the library is shut down again after each test.
#ifndef KLSOL_TESTS_SUPPORT_LIBRARY_SESSION_H
#define KLSOL_TESTS_SUPPORT_LIBRARY_SESSION_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "klsol32.h"
#include "support/output_capture.h"
#include "support/temp_dir.h"

namespace kltest {

// An integer problem attribute and the objective value, read through the
// exports.
inline int32_t int_attribute_value(int32_t n) {
  int32_t v = 0;
  KLGETIPV(n, &v);
  return v;
}
inline double objective_value() {
  double v = 0.0;
  KLGETDPV(KLDA_OBJVAL, &v);
  return v;
}

// Base is ::testing::Test or a ::testing::TestWithParam.
template <class Base>
class LibrarySessionOf : public Base {
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

using LibrarySession = LibrarySessionOf<::testing::Test>;

// The same, run with a scratch directory as the current directory, where
// the work files of the problem name go; the previous one is put back.
template <class Base>
class LibrarySessionInDirOf : public LibrarySessionOf<Base> {
 protected:
  void SetUp() override {
    LibrarySessionOf<Base>::SetUp();
    kept_directory_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override {
    std::filesystem::current_path(kept_directory_);
    LibrarySessionOf<Base>::TearDown();
  }

  TempDir dir_;
  std::filesystem::path kept_directory_;
};

using LibrarySessionInDir = LibrarySessionInDirOf<::testing::Test>;

}  // namespace kltest

#endif
