// The problem lists the data tests are registered from name exactly the MPS
// files of their folders: a problem added to the data set without a line in
// the list, or a listed one that is gone, fails here rather than going
// untested.
#include <gtest/gtest.h>

#include <string>

#include "support/data_dir.h"

namespace {

TEST(ProblemLists, NameEveryProblemOfTheirFolder) {
  for (const std::string folder_name : {"netlib", "infeas"}) {
    KLTEST_REQUIRE_DATA(folder, folder_name);
    SCOPED_TRACE(folder);
    EXPECT_EQ(kltest::mps_files_in(folder_name), kltest::mps_problems(folder_name));
  }
}

}  // namespace
