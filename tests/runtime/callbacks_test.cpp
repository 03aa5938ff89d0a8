// User entries: registration, the invokers and what survives start-up.
#include <gtest/gtest.h>

#include <vector>

#include "klsol32.h"
#include "runtime/callbacks.h"
#include "support/output_capture.h"

namespace {

std::vector<int> calls;

int32_t stop_now() {
  calls.push_back(1);
  return 1;
}
void set_node(int32_t* cell) { *cell = 42; }
void use_entry(int32_t p, int32_t q, int32_t r, double d) {
  calls.push_back(p + q + r + static_cast<int>(d));
}

class Callbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    kl::user_entries = kl::UserEntries{};
    calls.clear();
    kltest::captured_lines().clear();
  }
  void TearDown() override { kl::user_entries = kl::UserEntries{}; }
};

TEST_F(Callbacks, EachExportEnablesOnlyItsOwnEntry) {
  EXPECT_EQ(KLDEFINEILENTRY(stop_now), 0);
  EXPECT_EQ(kl::user_entries.il.enabled, 1);
  EXPECT_EQ(kl::user_entries.gl.enabled, 0);
  EXPECT_EQ(kl::user_entries.bl.enabled, 0);
  EXPECT_EQ(kl::user_entries.uin.enabled, 0);
  EXPECT_EQ(KLDEFINEUONENTRY(set_node), 0);
  EXPECT_EQ(kl::has_uon_entry(), 1);
  EXPECT_EQ(kl::has_ube_entry(), 0);
  EXPECT_EQ(kl::has_ucb_entry(), 0);
  EXPECT_EQ(kl::user_entries.usn.enabled, 0);
  EXPECT_EQ(KLDEFINEILENTRY(nullptr), 0);
  EXPECT_EQ(kl::user_entries.il.enabled, 0);
  EXPECT_EQ(kl::user_entries.uon.enabled, 1);
}

TEST_F(Callbacks, StopEntriesSignalEndOfCallFirst) {
  KLDEFINEUOPENTRY(kltest::capture_plain);
  int32_t stop = 0;
  kl::invoke_il_entry(stop);
  EXPECT_EQ(stop, 0);  // not registered: the cell is left alone, nothing sent
  EXPECT_TRUE(kltest::captured_lines().empty());
  KLDEFINEILENTRY(stop_now);
  kl::invoke_il_entry(stop);
  EXPECT_EQ(stop, 1);
  ASSERT_EQ(kltest::captured_lines().size(), 1u);
  EXPECT_EQ(kltest::captured_lines()[0].kind, -1);

  stop = 7;
  kl::invoke_bl_entry(stop);
  EXPECT_EQ(stop, 0);  // the barrier's cell is cleared even with no entry
}

TEST_F(Callbacks, NodeInvokersPassCellsAndValues) {
  int32_t cell = 0;
  EXPECT_EQ(kl::invoke_uon_entry(cell), 0);
  KLDEFINEUONENTRY(set_node);
  KLDEFINEUSNENTRY(set_node);
  EXPECT_EQ(kl::invoke_uon_entry(cell), 42);
  int32_t node = 3;
  kl::invoke_usn_entry(node);
  EXPECT_EQ(node, 42);
  KLDEFINEUSEENTRY(use_entry);
  kl::invoke_use_entry(1, 2, 3, 4.0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], 10);
}

TEST_F(Callbacks, ResetKeepsOnlyTheWideOutputEntry) {
  KLDEFINEUOPENTRY(kltest::capture_plain);
  KLDEFINEUOPVBENTRY(kltest::capture_wide);
  KLDEFINEGLENTRY(stop_now);
  kl::reset_user_entries();
  EXPECT_EQ(kl::user_entries.uop.enabled, 0);
  EXPECT_EQ(kl::user_entries.gl.enabled, 0);
  EXPECT_EQ(kl::user_entries.uopvb.enabled, 1);
}

}  // namespace
