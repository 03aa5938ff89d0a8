// Option letters, the pending file-name argument and the problem name.
#include <gtest/gtest.h>

#include "runtime/options.h"
#include "runtime/problem_name.h"

namespace {

TEST(OptionLetters, OnlyLowerCaseLettersSetFlags) {
  kl::clear_option_letters();
  kl::set_option_letters("AB12-x?z");
  for (char c = 'a'; c <= 'z'; ++c) EXPECT_EQ(kl::option_set(c), c == 'x' || c == 'z') << c;
  kl::set_option_letters("b");
  EXPECT_TRUE(kl::option_set('x'));  // flags already set stay set
  EXPECT_TRUE(kl::option_set('b'));
  kl::clear_option_letters();
  for (char c = 'a'; c <= 'z'; ++c) EXPECT_FALSE(kl::option_set(c)) << c;
}

TEST(CommandArgument, StoresAnyLengthAndProblemNameEmptiesIt) {
  const std::string long_name(300, 'f');  // longer than the classic 80-character line
  kl::set_command_argument(long_name.c_str());
  EXPECT_EQ(kl::command_line.position, 1);
  EXPECT_EQ(kl::command_line.length, 300);
  EXPECT_EQ(kl::command_argument(), long_name);
  ASSERT_TRUE(kl::set_problem_name("model"));
  EXPECT_EQ(kl::command_line.length, 0);
  EXPECT_EQ(kl::command_argument(), "");
}

TEST(ProblemName, StoredWithItsDotAndReadWithout) {
  kl::reset_problem_name();
  EXPECT_EQ(kl::get_problem_name(), "$$$$$$$$");
  ASSERT_TRUE(kl::set_problem_name("model"));
  EXPECT_EQ(kl::problem_name.text, "model.");
  EXPECT_EQ(kl::problem_name.length, 6);
  EXPECT_EQ(kl::get_problem_name(), "model");
  ASSERT_TRUE(kl::set_problem_name(""));
  EXPECT_EQ(kl::problem_name.length, 1);
  EXPECT_EQ(kl::get_problem_name(), "");
}

TEST(ProblemName, TooLongIsRefusedAndKeepsTheOldName) {
  ASSERT_TRUE(kl::set_problem_name("keep"));
  const std::string too_long(kl::kProblemNameMax + 1, 'n');
  EXPECT_FALSE(kl::set_problem_name(too_long.c_str()));
  EXPECT_EQ(kl::get_problem_name(), "keep");
}

TEST(ProblemName, SaveAndRestoreMarkTheArgumentRead) {
  ASSERT_TRUE(kl::set_problem_name("base"));
  kl::save_problem_name();
  kl::set_command_argument("other.bss");
  kl::command_line.position = 4;
  ASSERT_TRUE(kl::set_problem_name("other"));
  kl::command_line.position = 4;
  kl::command_line.length = 9;
  kl::restore_problem_name();
  EXPECT_EQ(kl::get_problem_name(), "base");
  EXPECT_EQ(kl::command_line.length, 3);
}

}  // namespace
