// The convergence test on hand-made states: one column (lower-bounded) and
// one equality row, with the residuals set directly so that the relative
// infeasibilities are known.
#include "barrier/iterate/convergence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/barrier_system.h"

namespace {

struct State {
  kl::barrier_params params;
  std::vector<int32_t> ranges = kltest::plain_class_ranges(1, 1, 0);
  std::vector<double> cost{0, 0.0}, rhs{0, 0.0}, upper{0, 0, 0};
  std::vector<double> x{0, 1.0, 0.0}, dx{0, 0.0, 0.0}, z{0, 1.0, 0.0}, dz{0, 0.0, 0.0};
  std::vector<double> w{0, 0, 0}, dw{0, 0, 0}, s{0, 0, 0}, qx{0, 0, 0}, qdx{0, 0, 0};
  std::vector<double> y{0, 0.0}, dy{0, 0.0};
  std::vector<double> rp{0, 0.0}, ru{0, 0, 0}, rd{0, 0.0, 0.0};
  double primal = 1.0, dual = 1.0, compl_sum = 1.0, last_move = 1.0, alpha_p = 0.5, alpha_d = 0.5;
  double primal_norm = 1e30, upper_norm = 0.0, dual_norm = 1e30, scale = 1.0;
  int32_t iteration = 5;
  kl::BarrierConvergenceMemory memory;
  // Outputs.
  double rel_primal = -1, rel_dual = -1;
  int32_t status = -9, primal_flag = 0, dual_flag = 0;

  State() {
    kl::set_barrier_defaults(params);
    params.col_count = 1;
    params.row_count = 1;
    params.var_count = 2;
    memory.best_merit = 1.0;
  }
  // Relative infeasibilities p and d (the bound and cost scales are 0).
  void infeasibility(double p, double d) {
    rp[1] = p;
    rd[1] = d;
  }
  int32_t run() {
    kl::test_barrier_convergence(params, rel_primal, rel_dual, primal, dual, compl_sum, iteration, status,
                                 primal_flag, dual_flag, last_move, primal_norm, upper_norm, dual_norm, rp.data(),
                                 ru.data(), rd.data(), alpha_p, alpha_d, cost.data(), rhs.data(), upper.data(),
                                 x.data(), dx.data(), z.data(), dz.data(), w.data(), dw.data(), y.data(), dy.data(),
                                 s.data(), qx.data(), qdx.data(), scale, ranges.data(), memory);
    return status;
  }
};

struct Case {
  std::string name;
  double p, d, primal, dual, compl_sum, alpha_p;
  int32_t iteration, flags;  // iteration_flags
  double best_merit;
  int32_t expected;
};

TEST(BarrierConvergence, VerdictTable) {
  const double tf = 1e-6, to = 1e-9;
  const std::vector<Case> cases = {
      {"feasible, gap within TOPT1", 0.5 * tf, 0.5 * tf, 1.0, 1.0 - 1e-9, 1.0, 0.5, 5, 0, 1.0, 2},
      {"feasible at the tolerance itself", tf, tf, 1.0, 1.0 - 1e-9, 1.0, 0.5, 5, 0, 1.0, 2},
      {"feasible, gap above, complementarity just below TOPT2", tf, tf, 1.0, 1.0 - 1e-7, 0.99 * to, 0.5, 5, 0, 1.0,
       2},
      {"feasible, gap above, complementarity at TOPT2", tf, tf, 1.0, 1.0 - 1e-7, to, 0.5, 5, 0, 1.0, 0},
      {"feasible, gap above, complementarity below TZER", tf, tf, 1.0, 1.0 - 1e-7, 1e-40, 0.5, 5, 0, 1.0, 0},
      {"primal infeasible, gap within TOPT1", 11 * tf, 0, 1.0, 1.0, 1.0, 0.5, 5, 0, 1.0, 0},
      {"dual infeasible, gap within TOPT1", 0, 11 * tf, 1.0, 1.0, 1.0, 0.5, 5, 0, 1.0, 0},
      {"infeasible, tiny complementarity", 2 * tf, 0, 1.0, 0.5, 0.5e-11, 0.5, 5, 0, 1.0, 1},
      {"infeasible, complementarity just above 0.01 TOPT2", 2 * tf, 0, 1.0, 0.5, 1.01e-11, 0.5, 5, 0, 1.0, 0},
      {"feasible, long step, gap 9x TOPT1", tf, tf, 1.0, 1.0 - 18e-9, 1.0, 0.95, 5, 0, 1.0, 2},
      {"feasible, short step, gap 9x TOPT1", tf, tf, 1.0, 1.0 - 18e-9, 1.0, 0.0, 5, 0, 1.0, 0},
      // The long step loosens the gap, never the feasibility tolerances.
      {"within 10x feasibility, long step, gap 9x TOPT1", 9 * tf, 9 * tf, 1.0, 1.0 - 18e-9, 1.0, 0.95, 5, 0, 1.0, 0},
      {"start with equal objectives, dual residual 3 TFEAS2", 0, 3 * tf, 0.9, 0.9, 0.0, 0.0, 0, 0, 1.0, 0},
      // Vanished complementarity with the objectives apart is no optimum
      // (a barely infeasible problem sits there).
      {"feasible, complementarity below TOPT2, objectives 10% apart", tf, tf, 1.1, 1.0, 0.99 * to, 0.5, 5, 0, 1.0,
       0},
      // The dual objective far above the primal one with no complementarity
      // left to explain it: y has grown along a ray of primal infeasibility.
      {"feasible, dual 10% above, complementarity gone", tf, tf, 1.0, 1.1, 1e-8, 0.5, 5, 0, 1.0, 4},
      {"feasible, dual 10% above, complementarity explains it", tf, tf, 1.0, 1.1, 0.2, 0.5, 5, 0, 1.0, 0},
      {"feasible, dual 10% above at the start", tf, tf, 1.0, 1.1, 1e-8, 0.0, 0, 0, 1.0, 0},
      {"regularised mode loosens the flags tenfold", 5 * tf, 5 * tf, 1.0, 1.0 - 1e-7, 0.5 * to, 0.5, 5, 0x1, 1.0, 2},
      {"not regularised: same state goes on", 5 * tf, 5 * tf, 1.0, 1.0 - 1e-7, 0.5 * to, 0.5, 5, 0, 1.0, 0},
      {"iteration limit with progress", 1e-3, 1e-3, 1.0, 0.5, 1.0, 0.5, 199, 0, 1.0, 1},
      {"one below the iteration limit", 1e-3, 1e-3, 1.0, 0.5, 1.0, 0.5, 198, 0, 1.0, 0},
      {"diverging, dual larger: infeasible", 1.0, 1.0, 0.0, 1e6, 1.0, 0.5, 5, 0, 1.0, 4},
      {"diverging, primal larger: unbounded", 1.0, 1.0, -1e7, 1.0, 1.0, 0.5, 5, 0, 1.0, 3},
      {"diverging while feasible: stopped", 0.0, 0.0, 0.0, 1e6, 1.0, 0.5, 5, 0, 1.0, 1},
  };
  for (const Case& c : cases) {
    State st;
    st.infeasibility(c.p, c.d);
    st.primal = c.primal;
    st.dual = c.dual;
    st.compl_sum = c.compl_sum;
    st.alpha_p = c.alpha_p;
    st.iteration = c.iteration;
    st.params.iteration_flags = c.flags;
    st.memory.best_merit = c.best_merit;
    EXPECT_EQ(st.run(), c.expected) << c.name;
    if (st.status == kl::BARRIER_OPTIMAL) {
      EXPECT_EQ(st.primal_flag, kl::kBarrierFeasible) << c.name;
      EXPECT_EQ(st.dual_flag, kl::kBarrierFeasible) << c.name;
    }
  }
}

TEST(BarrierConvergence, TieOfObjectiveMagnitudesIsInfeasible) {
  State st;
  st.params.INFTOL = 1.0;
  st.infeasibility(1.0, 1.0);
  st.primal = -1e6;
  st.dual = 1e6;
  EXPECT_EQ(st.run(), kl::BARRIER_INFEASIBLE);
}

TEST(BarrierConvergence, FlagsAndMemoryOfAPassThatGoesOn) {
  State st;
  st.infeasibility(2e-6, 5e-7);
  st.primal = 2.0;
  st.dual = 1.0;
  ASSERT_EQ(st.run(), kl::BARRIER_GO_ON);
  EXPECT_DOUBLE_EQ(st.rel_primal, 2e-6);
  EXPECT_DOUBLE_EQ(st.rel_dual, 5e-7);
  EXPECT_EQ(st.primal_flag, kl::kBarrierNotFeasible);
  EXPECT_EQ(st.dual_flag, kl::kBarrierFeasible);
  EXPECT_EQ(st.memory.saved_primal_flag, kl::kBarrierNotFeasible);
  EXPECT_EQ(st.memory.saved_dual_flag, kl::kBarrierFeasible);
  EXPECT_DOUBLE_EQ(st.memory.saved_rel_primal, 2e-6);
  // The residual norms cap the relative measures.
  State capped;
  capped.infeasibility(1.0, 1.0);
  capped.primal_norm = 0.25;
  capped.upper_norm = 0.5;
  capped.dual_norm = 0.125;
  capped.run();
  EXPECT_DOUBLE_EQ(capped.rel_primal, 0.5);
  EXPECT_DOUBLE_EQ(capped.rel_dual, 0.125);
}

// The last step crossed the objectives: they are interpolated back to where
// they meet and the iterate moves back by the same fraction.
TEST(BarrierConvergence, CrossingObjectivesStepBack) {
  State st;
  st.cost[1] = 1.0;
  st.rhs[1] = 1.0;
  st.dx[1] = -2.0;
  st.dy[1] = 1.0;
  st.alpha_p = 1.0;
  st.alpha_d = 1.0;
  const double delta = 1e-5;  // crossed by a hair, as near the optimum
  st.primal = 10.0;
  st.dual = 10.0 + delta;
  st.x[1] = 3.0;
  st.y[1] = 2.0;
  st.compl_sum = 1e-6;
  State apart = st;
  ASSERT_EQ(st.run(), kl::BARRIER_OPTIMAL);
  // Before the step: primal 12, dual 9 + delta; they meet at theta = delta / 3.
  const double theta = delta / 3.0;
  EXPECT_NEAR(st.primal, 10.0 + 2.0 * theta, 1e-12);
  EXPECT_NEAR(st.dual, st.primal, 1e-12);
  EXPECT_NEAR(st.alpha_p, -theta, 1e-12);
  EXPECT_NEAR(st.alpha_d, -theta, 1e-12);
  EXPECT_NEAR(st.x[1], 3.0 + 2.0 * theta, 1e-12);
  EXPECT_NEAR(st.y[1], 2.0 - theta, 1e-12);

  // With a complementarity far from closed the crossing comes from the
  // residual terms: no optimum, and the iterate stays where it is.
  apart.compl_sum = 1.0;
  EXPECT_EQ(apart.run(), kl::BARRIER_GO_ON);
  EXPECT_DOUBLE_EQ(apart.x[1], 3.0);

  // At iteration 0 the same state only goes on.
  State first;
  first.cost[1] = 1.0;
  first.rhs[1] = 1.0;
  first.dx[1] = -2.0;
  first.dy[1] = 1.0;
  first.primal = 10.0;
  first.dual = 10.5;
  first.iteration = 0;
  EXPECT_EQ(first.run(), kl::BARRIER_GO_ON);
  EXPECT_DOUBLE_EQ(first.x[1], 1.0);
}

TEST(BarrierConvergence, StallWindowNearOptimality) {
  auto stalled = [](int32_t iteration, double p) {
    State st;
    st.infeasibility(p, 0.0);
    st.primal = 1.0;
    st.dual = 1.0 - 1e-6;  // g2 above TOPT1, |g1| below its square root
    st.iteration = iteration;
    st.memory.stall_iteration = 5;
    st.memory.stall_gap = 1e-6;
    st.run();
    return st;
  };
  State ended = stalled(15, 0.0);
  ASSERT_EQ(ended.status, kl::BARRIER_OPTIMAL);
  const double d = 2.0 - 1e-6, g = 1e-6 / (1.0 - 1e-6 + 1.0);
  const double h = d * std::sqrt(g) * g;
  EXPECT_NEAR(ended.primal, (d + h) / 2, 1e-15);
  EXPECT_NEAR(ended.dual, (d - h) / 2, 1e-15);
  EXPECT_EQ(stalled(14, 0.0).status, kl::BARRIER_GO_ON);
  // A window opened while feasible never ends as optimal once the iterate
  // has left the feasibility tolerance.
  EXPECT_EQ(stalled(15, 1e-3).status, kl::BARRIER_GO_ON);
  // A tenfold reduction restarts the window.
  State restart;
  restart.primal = 1.0;
  restart.dual = 1.0 - 1e-6;
  restart.iteration = 15;
  restart.memory.stall_iteration = 5;
  restart.memory.stall_gap = 1e-4;
  EXPECT_EQ(restart.run(), kl::BARRIER_GO_ON);
  EXPECT_EQ(restart.memory.stall_iteration, 15);
}

TEST(BarrierConvergence, NoMoveAndTinyStepsInRegularisedMode) {
  State still;
  still.primal = 2.0;
  still.dual = 1.0;
  still.last_move = 1e-17;
  EXPECT_EQ(still.run(), kl::BARRIER_STOPPED);
  State early = still;
  early.iteration = 1;
  EXPECT_EQ(early.run(), kl::BARRIER_GO_ON);
  State tiny;
  tiny.primal = 2.0;
  tiny.dual = 1.0;
  tiny.alpha_p = tiny.alpha_d = 1e-9;
  tiny.params.iteration_flags = 0x1;
  EXPECT_EQ(tiny.run(), kl::BARRIER_STOPPED);
  State troubled = tiny;
  troubled.params.iteration_flags = 0x21;
  EXPECT_EQ(troubled.run(), kl::BARRIER_GO_ON);
}

// Diverging after a pass that was feasible: back to that pass, stopped.
TEST(BarrierConvergence, DivergenceAfterFeasiblePassUndoesTheStep) {
  State st;
  st.infeasibility(1.0, 1.0);
  st.primal = 0.0;
  st.dual = 1e6;
  st.cost[1] = 2.0;
  st.x[1] = 1.5;
  st.dx[1] = 0.5;
  st.alpha_p = 1.0;
  st.memory.saved_primal_flag = st.memory.saved_dual_flag = kl::kBarrierFeasible;
  st.memory.saved_rel_primal = 1e-7;
  st.memory.saved_rel_dual = 2e-7;
  st.memory.saved_primal_norm = 3e-7;
  st.memory.saved_dual_norm = 4e-7;
  st.memory.previous_complementarity = 0.125;
  ASSERT_EQ(st.run(), kl::BARRIER_STOPPED);
  EXPECT_DOUBLE_EQ(st.x[1], 1.0);
  EXPECT_DOUBLE_EQ(st.primal, -2.0 * 0.5);  // c dx undone
  EXPECT_EQ(st.primal_flag, kl::kBarrierFeasible);
  EXPECT_EQ(st.dual_flag, kl::kBarrierFeasible);
  EXPECT_DOUBLE_EQ(st.rel_primal, 1e-7);
  EXPECT_DOUBLE_EQ(st.primal_norm, 3e-7);
  EXPECT_DOUBLE_EQ(st.dual_norm, 4e-7);
  EXPECT_DOUBLE_EQ(st.compl_sum, 0.125);
}

// Feasibility lost right after a feasible pass whose gap had closed: the
// solves ran out of accuracy, and the previous iterate is the optimum.
TEST(BarrierConvergence, FeasibilityLostNearTheOptimumStepsBack) {
  auto lost = [](double saved_gap) {
    State st;
    st.infeasibility(1e-3, 0.0);
    st.primal = 1.0;
    st.dual = 1.0 - 1e-9;
    st.cost[1] = 2.0;
    st.x[1] = 1.5;
    st.dx[1] = 0.5;
    st.alpha_p = 1.0;
    st.memory.saved_primal_flag = st.memory.saved_dual_flag = kl::kBarrierFeasible;
    st.memory.saved_rel_primal = 1e-7;
    st.memory.saved_rel_dual = 2e-7;
    st.memory.saved_gap = saved_gap;
    st.run();
    return st;
  };
  const State back = lost(1e-8);
  ASSERT_EQ(back.status, kl::BARRIER_OPTIMAL);
  EXPECT_DOUBLE_EQ(back.x[1], 1.0);
  EXPECT_DOUBLE_EQ(back.primal, 1.0 - 2.0 * 0.5);  // c dx undone
  EXPECT_EQ(back.primal_flag, kl::kBarrierFeasible);
  EXPECT_DOUBLE_EQ(back.rel_primal, 1e-7);
  // A previous pass still far from the optimum: the run goes on.
  const State on = lost(1e-3);
  EXPECT_EQ(on.status, kl::BARRIER_GO_ON);
  EXPECT_DOUBLE_EQ(on.x[1], 1.5);
  // The memory keeps the gap of every pass that goes on.
  EXPECT_NEAR(on.memory.saved_gap, 1e-9 / 2.0, 1e-15);
}

// Whatever the gap, complementarity, step, iteration or stall memory, a
// state outside the loosest feasibility test is never called optimal, and
// an optimal verdict always leaves both flags feasible.
TEST(BarrierConvergence, InfeasibleStateIsNeverOptimal) {
  const double tf = 1e-6;
  const std::vector<std::pair<double, double>> infeasible = {{11 * tf, 0}, {0, 11 * tf}, {1.0, 1.0}, {1e-3, 0}};
  const std::vector<std::pair<double, double>> objectives = {{1, 1}, {1, 1 - 1e-6}, {10, 10.5}, {0, 1e6}};
  for (const auto& [p, d] : infeasible) {
    for (const auto& [primal, dual] : objectives) {
      for (double compl_sum : {1.0, 0.5e-9, 1e-12, 0.0}) {
        for (int32_t flags : {0, 0x1}) {
          for (int32_t stall : {-1, 3}) {
            State st;
            st.infeasibility(p, d);
            st.cost[1] = 1.0;
            st.dx[1] = -2.0;
            st.alpha_p = 0.99;
            st.primal = primal;
            st.dual = dual;
            st.compl_sum = compl_sum;
            st.params.iteration_flags = flags;
            st.iteration = 20;
            st.memory.stall_iteration = stall;
            st.memory.stall_gap = 1.0;
            st.run();
            const bool loose_feasible =
                st.rel_primal <= 10 * tf * (flags ? 10 : 1) && st.rel_dual <= 10 * tf * (flags ? 10 : 1);
            if (!loose_feasible) {
              EXPECT_NE(st.status, kl::BARRIER_OPTIMAL) << p << " " << d << " " << primal << " " << dual;
            }
          }
        }
      }
    }
  }
}

}  // namespace
