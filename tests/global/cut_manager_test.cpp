// The caller's cut-manager entries: defining, disabling and calling them.
#include <gtest/gtest.h>

#include "klsol32.h"
#include "problem/cut_manager.h"
#include "problem/search_state.h"
#include "runtime/controls.h"
#include "support/library_session.h"

namespace {

using namespace kl;
using namespace kltest;

int32_t cm_calls = 0;
int32_t cm_answers_left = 0;
int32_t cm_entry() {
  ++cm_calls;
  return cm_answers_left > 0 ? cm_answers_left-- : 0;
}
int32_t tcm_entry() { return 7; }
int32_t notify_calls = 0;
void notify_entry() { ++notify_calls; }

class CutManager : public LibrarySession {
 protected:
  void SetUp() override {
    LibrarySession::SetUp();
    cm_calls = 0;
    cm_answers_left = 0;
    notify_calls = 0;
    cut_manager_calls = CutManagerCalls{};
    node_cut_lists_in_use = 0;
  }
  void TearDown() override {
    node_cut_lists_in_use = 0;
    LibrarySession::TearDown();
  }
};

TEST_F(CutManager, DefiningSwitchesTheLoopOnAndNullOnlyDisables) {
  EXPECT_EQ(icv(ic::IFCUTP), 0);
  int32_t result = -5;
  invoke_cm_callback(result);
  EXPECT_EQ(result, -5);  // no entry: unchanged

  EXPECT_EQ(KLDEFINECMENTRY(cm_entry), 0);
  EXPECT_EQ(icv(ic::IFCUTP), 1);
  cm_answers_left = 2;
  // The node loop's repeat rule: call until the entry answers 0.
  do invoke_cm_callback(result);
  while (result != 0);
  EXPECT_EQ(cm_calls, 3);
  EXPECT_EQ(cut_manager_calls.cm, 3);

  EXPECT_EQ(KLDEFINECMENTRY(nullptr), 0);
  EXPECT_EQ(icv(ic::IFCUTP), 1);
  result = 0;
  invoke_cm_callback(result);
  EXPECT_EQ(cm_calls, 3);

  EXPECT_EQ(KLDEFINETCMENTRY(tcm_entry), 0);
  invoke_tcm_callback(result);
  EXPECT_EQ(result, 7);

  reset_user_callbacks();
  EXPECT_EQ(icv(ic::IFCUTP), 0);
  result = 1;
  invoke_tcm_callback(result);
  EXPECT_EQ(result, 1);
}

TEST_F(CutManager, InitialCallMarksNodeCutListsInUse) {
  invoke_cmi_if_set();  // IFCUTP 0: nothing
  EXPECT_EQ(node_cut_lists_in_use, 0);
  EXPECT_EQ(KLDEFINECMIENTRY(notify_entry), 0);
  invoke_cmi_if_set();
  EXPECT_EQ(node_cut_lists_in_use, 1);
  EXPECT_EQ(notify_calls, 1);
  EXPECT_EQ(cut_manager_calls.cmi, 1);
}

// A new problem file read while the lists of a search are in use: CMS
// hears of it first, whether or not the file can be read.
TEST_F(CutManager, ReadingAProblemCallsTheEndEntry) {
  EXPECT_EQ(KLDEFINECMSENTRY(notify_entry), 0);
  KLINPUT("no-such-problem-file");
  EXPECT_EQ(notify_calls, 0);
  node_cut_lists_in_use = 1;
  KLINPUT("no-such-problem-file");
  EXPECT_EQ(notify_calls, 1);
  invoke_cms_callback();
  EXPECT_EQ(notify_calls, 2);
}

}  // namespace
