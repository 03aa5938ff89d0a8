// A small problem loaded through the exports and made ready for a
// reduction round of presolve, as the presolve set-up leaves it: working
// right-hand sides, counts, an empty record stack. The stacks are read back
// in push order.
#ifndef KLSOL_TESTS_PRESOLVE_ROUND_FIXTURE_H
#define KLSOL_TESTS_PRESOLVE_ROUND_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "factor/basis.h"
#include "presolve/activity.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "presolve/reduce_pass.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "simplex/small_lps.h"
#include "support/library_session.h"

namespace kltest {

class RoundTest : public LibrarySession {
 protected:
  static constexpr int32_t kDefaultSelect = 511 | 0x200;

  struct RoundResult {
    int32_t change = 0;
    int32_t conflict = 0;
    int32_t outcome = 0;
  };

  void load(const Problem& p) {
    using namespace kl;
    // Coefficients as given, so that tests read them back unscaled.
    icv(ic::IFSCAL) = 0;
    ASSERT_EQ(p.load("round"), 0);
    // Presolve reads the working right-hand sides and keeps its records
    // on a stack that starts empty.
    OneBased<double> working = real_array(ARR_WORK_RHS);
    const OneBased<double> rhs = real_array(ARR_RHS);
    for (int32_t i = 1; i <= nrow; ++i) working[i] = rhs[i];
    // Outside the global search the driver runs the rounds without entity
    // sweeps.
    icv(ic::IPSLCT) = kDefaultSelect;
    reset_presolve_state();
    presolve_state.counts = {nrow, nseq, nelem, 0, 0, 0};
    compute_row_activity_bounds();
    build_presolve_row_copy(0);
  }

  RoundResult run_round(int32_t round) {
    RoundResult r;
    kl::presolve_reduce_pass(round, r.change, r.conflict, r.outcome);
    return r;
  }

 public:
  // Both stacks as pushed, oldest entry first.
  static std::vector<int32_t> stack_ints() {
    std::vector<int32_t> v;
    for (int32_t k = 1; k <= kl::presolve_int_top; ++k) v.push_back(kl::int_array(kl::ARR_PRESOLVE_INTS)[k]);
    return v;
  }
  static std::vector<double> stack_reals() {
    std::vector<double> v;
    for (int32_t k = 1; k <= kl::presolve_real_top; ++k) v.push_back(kl::real_array(kl::ARR_PRESOLVE_REALS)[k]);
    return v;
  }

 protected:
  static int32_t column(int32_t caller_index) { return kl::store.first_col + caller_index; }
  static int32_t row(int32_t caller_index) { return caller_index + 1; }
  static int32_t status(int32_t position) { return kl::int_array(kl::ARR_POS_STATUS)[position]; }
  static bool removed_column(int32_t c) { return (status(column(c)) & kl::PS_FIXED) != 0; }
  static bool removed_row(int32_t r) { return (status(row(r)) & kl::PS_FREE) != 0; }
  static double lower(int32_t position) { return kl::real_array(kl::ARR_LOWER)[position]; }
  static double upper(int32_t position) { return kl::real_array(kl::ARR_UPPER)[position]; }
  static double working_rhs(int32_t r) { return kl::real_array(kl::ARR_WORK_RHS)[row(r)]; }
  static double cost(int32_t c) { return kl::real_array(kl::ARR_OBJECTIVE)[column(c)]; }
  static double objective_constant() { return kl::dcv(kl::kObjectiveConstantSlot); }
  static void set_select(int32_t v) { kl::icv(kl::ic::IPSLCT) = v; }
};

}  // namespace kltest

#endif
