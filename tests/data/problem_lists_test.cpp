// The problem lists the data tests are registered from name exactly the MPS
// files of their folders: a problem added to the data set without a line in
// the list, or a listed one that is gone, fails here rather than going
// untested.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/problem_lists.h"
#include "support/data_dir.h"

namespace {

TEST(ProblemLists, NameEveryProblemOfTheirFolder) {
  const struct {
    const char* folder;
    const std::vector<std::string>& listed;
  } lists[] = {{"netlib", kltest::netlib_problems()}, {"infeas", kltest::infeasible_problems()}};
  for (const auto& list : lists) {
    KLTEST_REQUIRE_DATA(folder, list.folder);
    SCOPED_TRACE(folder);
    EXPECT_EQ(kltest::mps_problems(list.folder), list.listed);
  }
}

}  // namespace
