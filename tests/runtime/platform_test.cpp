// The platform layer: interrupt flag, pager answer, floating-point mode,
// private random numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfenv>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/platform.h"

namespace {

TEST(Platform, InterruptsCountOnceAndPollClears) {
  kl::arm_interrupt();
  std::raise(SIGINT);
  std::raise(SIGINT);
  EXPECT_EQ(kl::poll_interrupt(), 1);
  EXPECT_EQ(kl::poll_interrupt(), 0);
  std::signal(SIGINT, SIG_DFL);
}

// Feeds the pager's standard input from a pipe.
int32_t answer_pager(const std::string& answer) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  int saved = dup(0);
  dup2(fds[0], 0);
  close(fds[0]);
  if (write(fds[1], answer.data(), answer.size()) < 0) return -1;
  close(fds[1]);
  std::clearerr(stdin);
  int32_t quit = kl::pager_prompt();
  dup2(saved, 0);
  close(saved);
  std::clearerr(stdin);
  return quit;
}

TEST(Platform, PagerQuitSetsTheInterruptFlag) {
  kl::clear_interrupt();
  EXPECT_EQ(answer_pager("\n"), 0);
  EXPECT_EQ(kl::poll_interrupt(), 0);
  EXPECT_EQ(answer_pager("q\n"), 1);
  EXPECT_EQ(kl::poll_interrupt(), 1);
  EXPECT_EQ(kl::poll_interrupt(), 0);
}

TEST(Platform, FpuModeIsSetAndRestored) {
  ASSERT_EQ(std::fesetround(FE_DOWNWARD), 0);
  kl::set_fpu_mode(1);
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  volatile double zero = 0.0;
  volatile double x = 1.0 / zero;  // masked: no trap, just a flag
  EXPECT_TRUE(x > 1e300);
  kl::set_fpu_mode(0);
  EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
  EXPECT_EQ(std::fetestexcept(FE_DIVBYZERO), 0);  // sticky flags cleared
  std::fesetround(FE_TONEAREST);
}

TEST(Platform, RandomNumbersRepeatFromSeedAndStayInRange) {
  kl::seed_random();
  std::srand(12345);  // the host's generator does not disturb ours
  double first[5];
  for (double& value : first) value = kl::random_unit();
  kl::seed_random();
  for (double value : first) EXPECT_EQ(kl::random_unit(), value);
  for (int i = 0; i < 100000; ++i) {
    double u = kl::random_unit();
    ASSERT_GE(u, 0.0);
    ASSERT_LE(u, 1.0);
  }
}

TEST(Platform, MemoryStatusIsConsistent) {
  uint64_t total = 0, available = 0;
  ASSERT_TRUE(kl::read_memory_status(total, available));
  EXPECT_GT(total, uint64_t{1} << 20);
  EXPECT_LE(available, total);
}

}  // namespace
