// The LP driver: the entry bodies of KLMINIM and KLMAXIM around the global
// search and the successive-LP passes, and optimise_lp, which prepares the
// problem (presolve or the bound pass), runs the algorithm, maps the outcome
// back to the original problem and reports it.
//
// The barrier (IALG 4, option b, or IALG 1 with a quadratic objective) runs
// through barrier_front; without a crossover its solution has no basis
// (problem flag 0x10000), and the solution file is then written without a
// classification. The global search follows the LP relaxation when option
// g asks for it and the problem has global entities.
#include "simplex/lp_driver.h"

#include <algorithm>
#include <cmath>

#include "runtime/options.h"
#include "factor/basis.h"
#include "factor/crash.h"
#include "problem/factor_arrays.h"
#include "factor/scaling.h"
#include "factor/starting_basis.h"
#include "files/solution_file.h"
#include "global/node_loop.h"
#include "global/search_driver.h"
#include "problem/cut_manager.h"
#include "problem/search_state.h"
#include "presolve/array_switch.h"
#include "presolve/postsolve.h"
#include "presolve/presolve_driver.h"
#include "presolve/presolve_state.h"
#include "presolve/reduce_pass.h"
#include "problem/loader.h"
#include "problem/matrix_storage.h"
#include "problem/setup.h"
#include "problem/store.h"
#include "runtime/callbacks.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/platform.h"
#include "simplex/barrier_front.h"
#include "simplex/dual_driver.h"
#include "simplex/iteration_log.h"
#include "simplex/primal_driver.h"
#include "factor/simplex_state.h"
#include "simplex/successive_lp.h"

namespace kl {

LpDriverState lp_driver;
LpDriverStats lp_driver_stats;

const char* lp_status_text(int32_t status) {
  switch (status) {
    case LP_OPTIMAL: return "optimal";
    case LP_INFEASIBLE: return "infeasible";
    case LP_CUTOFF_NOT_BETTER: return "optimal, not better than the cutoff";
    case LP_UNFINISHED: return "unfinished";
    case LP_UNBOUNDED: return "unbounded";
    case LP_CUT_OFF: return "cut off";
    default: return "unknown";
  }
}

namespace {

// IFMEM bits used by the driver.
constexpr int32_t kIfmemNoSolutionFile = 0x4;
constexpr int32_t kIfmemInCall = 0x8;

// The polish of an optimum: passes at most, the share of the offenders'
// tolerance the primal prices with, and the least pricing tolerance.
constexpr int32_t kPolishPasses = 2;
constexpr double kPolishShare = 0.5;
constexpr double kPolishToleranceFloor = 1e-11;

constexpr uint32_t kPresolveMarks = PS_PRESOLVE_TRACE | PS_SEARCH_FIXED;  // 0x8000 | 0x800

bool user_set(int control) { return integer_set_flags[control] > 0; }

void set_bits(OneBased<int32_t> status, int32_t k, uint32_t clear, uint32_t set) {
  status[k] = static_cast<int32_t>((static_cast<uint32_t>(status[k]) & ~clear) | set);
}

// The option letters this body reads, each cleared as it is read.
struct OptionLetters {
  bool barrier = false;  // b
  bool dual = false;     // d
  bool primal = false;   // p
  bool global = false;   // g
  bool lp_only = false;  // l
  bool recurse = false;  // r
};

bool take_letter(char letter) {
  const bool given = option_set(letter);
  option_flags[letter - 'a'] = 0;
  return given;
}

OptionLetters take_option_letters() {
  OptionLetters o;
  o.barrier = take_letter('b');
  o.global = take_letter('g');
  o.dual = take_letter('d');
  o.primal = take_letter('p');
  o.lp_only = take_letter('l');
  o.recurse = take_letter('r');
  return o;
}

// Controls an LP call may change for its own work; they read as before once
// the call is over.
struct SavedControls {
  double peturb = 0.0;
  double bigm = 0.0;
  int32_t ifbigm = 0;
  void take() {
    peturb = dcv(dc::PETURB);
    bigm = dcv(dc::BIGM);
    ifbigm = icv(ic::IFBIGM);
  }
  void restore(int32_t mode) const {
    dcv(dc::PETURB) = peturb;
    if (mode < OPT_REOPTIMISE) {
      dcv(dc::BIGM) = bigm;
      icv(ic::IFBIGM) = ifbigm;
    }
  }
};

// Algorithm for this call: a forced choice, else by IALG. The dual prices a
// linear objective only: asked to solve a quadratic one it would report the
// optimum of another problem, so such a call goes to the primal, whose
// quadratic engine handles it, with a line saying so.
void choose_algorithm(int32_t mode) {
  if (lp_algorithm > kAlgorithmBarrier) {
    lp_algorithm -= kAlgorithmForcedOffset;
  } else {
    switch (icv(ic::IALG)) {
      case 1: lp_algorithm = nqelem > 0 ? kAlgorithmBarrier : kAlgorithmDual; break;
      case 3: lp_algorithm = kAlgorithmPrimal; break;
      case 4: lp_algorithm = kAlgorithmBarrier; break;
      default: lp_algorithm = kAlgorithmDual; break;
    }
  }
  if (lp_algorithm == kAlgorithmDual && nqelem > 0) {
    lp_algorithm = kAlgorithmPrimal;
    ++lp_driver_stats.quadratic_dual_rerouted;
    if (mode < OPT_REOPTIMISE) {
      begin_message(MSG_QUADRATIC_TO_PRIMAL);
      emit_message();
    }
  }
}

// Presolve's bound pass in its least form: the working bounds are the
// problem's own, and the objective constant of the fixed columns is set.
void run_bound_pass() {
  ++lp_driver_stats.bound_passes;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> work_lower = real_array(ARR_WORK_LOWER);
  OneBased<double> work_upper = real_array(ARR_WORK_UPPER);
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    // A basic fixed column is priced and valued as basic, not as a constant.
    if ((status[j] & PS_FIXED) != 0 && (status[j] & PS_BASIC) != 0) set_bits(status, j, PS_FIXED, 0);
    set_bits(status, j, kPresolveMarks, 0);
  }
  if (work_lower && work_upper) {
    for (int32_t k = 1; k <= nseq; ++k) {
      work_lower[k] = lower[k];
      work_upper[k] = upper[k];
    }
  }
  build_row_copy();
  fixed_columns_objective_constant();
}

// The per-position scratch of the optimisers starts clear for the primal
// that takes over from the dual.
void clear_scale_work() {
  OneBased<int32_t> stamps = int_array(ARR_SCALE_WORK);
  if (!stamps) return;
  for (int32_t p = 1; p <= nseq; ++p) stamps[p] = 0;
}

// The largest wrong-signed reduced cost of a non-basic position in the
// caller's units (the solution queries' view), and the tolerance on the
// stored value that keeps every offender within ZTOLDJ there.
struct DualViolation {
  int32_t count = 0;
  double stored_tolerance = 0.0;
};

DualViolation caller_dual_violations() {
  DualViolation v;
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> d = real_array(ARR_REDUCED_COSTS);
  const double tolerance = dcv(dc::ZTOLDJ);
  v.stored_tolerance = dcv(dc::ZTCOST);
  const auto visit = [&](int32_t p, bool column) {
    const int32_t s = status[p];
    if ((s & (PS_BASIC | PS_FIXED)) != 0) return;
    const int32_t e = scale_exponent(s);
    // Stored reduced costs are divided by a column's factor, multiplied by
    // a row's (its slack is stored divided by the row factor).
    const double factor = column ? scale_power(static_cast<uint32_t>(e))
                                 : scale_power(static_cast<uint32_t>(2 * kNeutralScaleExponent - e));
    const double caller = d[p] / factor;
    double wrong = 0.0;
    if ((s & (PS_FREE | PS_NONBASIC_BETWEEN)) != 0)
      wrong = std::fabs(caller);
    else if ((s & PS_AT_UPPER) != 0)
      wrong = caller;
    else
      wrong = -caller;
    if (!(wrong > tolerance)) return;
    ++v.count;
    v.stored_tolerance = std::min(v.stored_tolerance, tolerance * factor);
  };
  for (int32_t i = 1; i <= nrow; ++i) visit(i, false);
  for (int32_t j = store.first_col; j <= nseq; ++j) visit(j, true);
  return v;
}

// The optimisers price with ZTCOST on scaled values, while every solution
// query judges reduced costs with ZTOLDJ in the caller's units. An optimum
// that fails the queries' test gets a short primal pass with the pricing
// tolerance tightened to the offenders, from the basis it ended with.
void polish_dual_feasibility(int32_t mode) {
  for (int32_t pass = 0; pass < kPolishPasses; ++pass) {
    const DualViolation v = caller_dual_violations();
    if (v.count == 0) return;
    ++lp_driver_stats.dual_polishes;
    double& ztcost = dcv(dc::ZTCOST);
    const double kept = ztcost;
    ztcost = std::max(kPolishShare * v.stored_tolerance, kPolishToleranceFloor);
    const int32_t algorithm = lp_algorithm;
    lp_driver.bigm_at_start = dcv(dc::BIGM);
    primal_simplex(-mode);
    ztcost = kept;
    if (status_letter == kLetterUnbounded) return;
    lp_algorithm = algorithm;
    if (status_code != STATUS_OK || status_letter != kLetterOptimal) return;
    reinvert_and_recompute();
  }
}

// After the crash every nonbasic column sits where the primal can start
// from it: at a finite bound, or at zero.
void place_columns_after_crash() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  OneBased<double> lower = real_array(ARR_LOWER);
  OneBased<double> upper = real_array(ARR_UPPER);
  OneBased<double> x = real_array(ARR_X);
  const double ztolze = dcv(dc::ZTOLZE);
  const auto at_zero = [&](int32_t j) {
    set_bits(status, j, PS_AT_UPPER, PS_NONBASIC_BETWEEN);
    if (x) x[j] = 0.0;
  };
  for (int32_t j = store.first_col; j <= nseq; ++j) {
    const int32_t s = status[j];
    if ((s & PS_BASIC) != 0) continue;
    if (lower[j] < 0.0 && upper[j] > ztolze) {
      at_zero(j);
    } else if ((s & PS_AT_UPPER) != 0 && (s & PS_FINITE_UPPER) == 0) {
      set_bits(status, j, PS_AT_UPPER, 0);
      if ((s & PS_FINITE_LOWER) == 0) at_zero(j);
    } else if ((s & PS_AT_UPPER) == 0 && (s & PS_FINITE_LOWER) == 0) {
      if ((s & PS_FINITE_UPPER) != 0) {
        set_bits(status, j, 0, PS_AT_UPPER);
      } else {
        at_zero(j);
      }
    }
  }
}

// The crash for the primal, when no basis was loaded or kept. Returns false
// when the LU arrays could not be had (status 4 after message 20).
bool run_crash() {
  if ((problem_flags & PF_LU_ARRAYS) == 0) {
    free_factor_arrays();
    if (alloc_lu_arrays() != 0) return false;
  }
  if ((problem_flags & PF_LU_ARRAYS) != 0 &&
      static_cast<int64_t>(icv(ic::M_E_)) > static_cast<int64_t>(kCrashDriverEtaFactor) * nrow) {
    CrashArguments a;
    a.icrash = icv(ic::ICRASH);
    a.phase2_start = 2;
    a.pcrash = dcv(dc::PCRASH);
    a.algorithm_value = kAlgorithmForcedOffset - lp_algorithm;
    a.typed_entry_count = recurse_entry_count;
    a.ztolda = dcv(dc::ZTOLDA);
    a.sense_factor = sense_factor;
    a.ztcr = dcv(dc::ZTCR);
    a.eta_capacity = eta_file.eta_capacity;
    ++lp_driver_stats.crash_runs;
    crash_basis(a, icv(ic::IFNBAS));
  }
  release_lu_arrays();
  place_columns_after_crash();
  return true;
}

// Presolve of the loaded problem. presolved := true when the presolved
// problem is current. False when the call ends (presolve has reported).
//
// A round of presolve that calls the problem unbounded has shown only that
// the objective falls without limit over the rows it kept: that is dual
// infeasibility, and a problem that is also primal infeasible is not
// unbounded. Likewise an infeasibility found after columns were fixed by
// their reduced costs shows only that there is no optimum: those fixings
// may cut every feasible point off an unbounded problem. Such verdicts go
// back to the loaded problem, which the simplex then solves and classifies.
bool run_presolve(bool& presolved) {
  presolved = false;
  presolve_state.conflict_stop = 0;
  presolve_cost_fixings = 0;
  const int32_t ipslct = icv(ic::IPSLCT);
  if ((problem_flags & PF_SEARCH_RUNNING) == 0) icv(ic::IPSLCT) = ipslct | kSelectNoEntitySweeps;
  int32_t outcome = PRESOLVE_DONE;
  presolve_problem(outcome);
  icv(ic::IPSLCT) = ipslct;
  switch (outcome) {
    case PRESOLVE_DONE:
      if (presolve_state.conflict_stop != 0) {
        // With IFPRES negative a conflict ends the reductions without a
        // word: the problem has no optimum, and what presolve did after it
        // (bounds dropped as implied by rows that cannot all hold) may hide
        // that. The simplex classifies the problem as loaded.
        restore_original_problem();
        ++lp_driver_stats.presolve_conflict_rechecks;
        return true;
      }
      lp_driver.presolve_active = 1;
      problem_flags |= (problem_flags & PF_SEARCH_RUNNING) != 0 ? PF_PRESOLVED_GLOBAL : PF_PRESOLVED_LP;
      presolved = true;
      return true;
    case PRESOLVE_INFEASIBLE:
      restore_original_problem();
      if (presolve_cost_fixings != 0) {
        ++lp_driver_stats.presolve_infeasible_rechecks;
        begin_message(MSG_PRESOLVE_INFEASIBLE_UNPROVEN);
        insert_message_int(presolve_cost_fixings);
        emit_message();
        status_letter = kLetterUnfinished;
        lp_status = LP_UNFINISHED;
        presolve_state.unbounded_position = 0;
        return true;
      }
      lp_algorithm = kAlgorithmPrimal;
      return false;
    case PRESOLVE_UNBOUNDED:
      restore_original_problem();
      ++lp_driver_stats.presolve_unbounded_rechecks;
      begin_message(MSG_PRESOLVE_UNBOUNDED_UNPROVEN);
      emit_message();
      status_letter = kLetterUnfinished;
      lp_status = LP_UNFINISHED;
      presolve_state.unbounded_position = 0;
      return true;
    default:
      // The capacities: presolve has put the loaded problem back.
      return false;
  }
}

// What a mode 1 or 2 call of optimise_lp prepares before the run.
// False when the call must end (status word set).
bool prepare_lp(int32_t mode) {
  factor.work_vector_count = 0;
  factor.work_vector_state = WV_CLEAR_ALL;
  if (user_set(ic::IFNBAS) && icv(ic::IFNBAS) == 0) set_slack_basis();
  if ((problem_flags & PF_CLOCK_STARTED) == 0) start_clock();
  sense_factor = mode == OPT_MAXIMISE ? -std::fabs(sense_factor) : std::fabs(sense_factor);
  if (sense_factor == 0.0) sense_factor = mode == OPT_MAXIMISE ? -1.0 : 1.0;
  primal_end_flags = 0;

  if (store.unpresolvable_count == 0 && (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) {
    bool presolved = false;
    // A quadratic objective read from a problem file is solved as read.
    if (icv(ic::IFPRES) != 0 && icv(ic::IPSLCT) != 0 && file_quadratic_entry_count == 0) {
      if (!run_presolve(presolved)) return false;
    }
    if (!presolved) run_bound_pass();
  }

  if (icv(ic::IFNBAS) == 0 && lp_algorithm == kAlgorithmPrimal && icv(ic::ICRASH) != 0) {
    if (!run_crash()) return false;
  }

  icv(ic::IFNBAS) = 1;
  normalise_status_flags();
  ratio_tolerance = dcv(dc::ZTOLRP);
  problem_flags |= PF_DRIVER_SETUP;
  if (!user_set(ic::INOINV)) icv(ic::INOINV) = 0;
  return true;
}

// lp_status and the problem flags from the status letter.
void map_status_letter(int32_t mode) {
  const bool full = mode <= OPT_MINIMISE;
  switch (status_letter) {
    case kLetterOptimal:
      lp_status = LP_OPTIMAL;
      if (mode == OPT_REOPTIMISE && (objval - lp_driver.search_cutoff) * sense_factor >= 0.0)
        lp_status = LP_CUTOFF_NOT_BETTER;
      if (full) {
        problem_flags &= ~PF_DRIVER_SETUP;
        global_status = kGlobalStatusLpSolved;
      }
      break;
    case kLetterInfeasible:
      lp_status = LP_INFEASIBLE;
      if (full) {
        problem_flags &= ~PF_DRIVER_SETUP;
        global_status = kGlobalStatusLpSolved;
      }
      break;
    case kLetterUnbounded:
      lp_status = LP_UNBOUNDED;
      if (full) {
        problem_flags &= ~PF_DRIVER_SETUP;
        global_status = kGlobalStatusLpSolved;
      }
      break;
    case kLetterCutOff:
      lp_status = LP_CUT_OFF;
      if (full) problem_flags &= ~PF_DRIVER_SETUP;
      break;
    default:
      // Consumes an interrupt that arrived after the engine's last test.
      check_stop_request();
      lp_status = LP_UNFINISHED;
      break;
  }
}

// The solution file of a problem still presolved is written in original
// terms: postsolve in keep mode, then back to the presolved problem.
void write_presolved_solution_file() {
  const int32_t entering = entering_column;
  // The presolved problem keeps its own values for the run that goes on.
  read_original_solution([] { write_solution_file(SOLUTION_AS_LEFT); }, lp_driver.no_basis);
  entering_column = entering;
}

// kept_as_left: the values postsolve left stand. A run cut off on the
// presolved problem proved its bound there; the original basis postsolve
// makes of a point that is not optimal need not price to that bound, so it
// is not refactorised over it.
void write_final_solution_file(bool kept_as_left) {
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
    write_presolved_solution_file();
  } else if ((problem_flags & PF_NO_BASIS) != 0) {
    write_solution_file(SOLUTION_NO_BASIS);
  } else if (lp_driver.no_basis == 0 && !kept_as_left) {
    reinvert_and_recompute();
    write_solution_file(SOLUTION_RECOMPUTED);
  } else {
    write_solution_file(SOLUTION_AS_LEFT);
  }
}

// The final message of a mode 1 or 2 call.
void report_outcome() {
  if (status_letter == kLetterOptimal) {
    begin_message(MSG_OUTCOME_OPTIMAL);
    emit_message();
  } else if (status_letter == kLetterUnbounded) {
    int32_t q = entering_column;
    int32_t first_col = store.first_col;
    if (q > 0 && (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0) {
      OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
      if (map) q = map[q];
      first_col = original_problem.first_col;
    }
    // A slack that enters unbounded names no column.
    if (q >= first_col) {
      begin_message(MSG_LP_UNBOUNDED_COLUMN);
      insert_message_name8(position_name(q));
    } else {
      begin_message(MSG_LP_UNBOUNDED);
    }
    emit_message();
  } else if (itcnt >= icv(ic::ITRLIM)) {
    status_letter = kLetterUnfinished;
    begin_message(MSG_LP_ITERATION_LIMIT);
    emit_message();
  } else if (status_letter == kLetterStopped) {
    status_letter = kLetterUnfinished;
    begin_message(MSG_OUTCOME_UNFINISHED);
    emit_message();
  } else if (status_letter == kLetterCutOff) {
    begin_message(MSG_LP_CUT_OFF);
    emit_message();
  } else if (status_letter == kLetterInfeasible) {
    begin_message(MSG_OUTCOME_INFEASIBLE);
    emit_message();
  } else {
    // An engine that gave up is unfinished, not infeasible.
    begin_message(MSG_OUTCOME_UNFINISHED);
    emit_message();
  }
}

// The presolved problem given up for the original one (message 274): the
// solution and basis mapped back, then a primal run on the original
// problem from that basis, which is optimal there up to the tolerances of
// the presolved solve. False when the status word ends the call.
bool postsolve_and_clean_up(int32_t mode) {
  begin_message(MSG_POSTSOLVE_START);
  emit_message();
  lp_driver.presolve_active = 0;
  // Final mode always reports no basis on return; the clean-up asks
  // whether the presolved solve left one.
  const bool had_basis = lp_driver.no_basis == 0;
  int32_t no_basis = lp_driver.no_basis;
  postsolve(0, no_basis);
  // The columns fixed before presolve are in the problem again; their share
  // of the objective is the original problem's own.
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) fixed_columns_objective_constant();
  if (!had_basis || status_letter == kLetterCutOff) return true;
  ++lp_driver_stats.postsolve_clean_ups;
  dcv(dc::PETURB) = 0.0;
  const int32_t ifbigm = icv(ic::IFBIGM);
  icv(ic::IFBIGM) = bigm_mode;
  const int32_t itcnt_before = itcnt;
  lp_driver.bigm_at_start = dcv(dc::BIGM);
  primal_simplex(mode);
  icv(ic::IFBIGM) = ifbigm;
  if (status_code != STATUS_OK) return false;
  const int32_t itrlog = icv(ic::ITRLOG);
  if (itrlog != 0 && itcnt > 0 && itcnt == itcnt_before && itcnt % itrlog == 0) iteration_log(1);
  return true;
}

// The dual simplex, and the primal after it when the dual gives up. False
// when the status word ends the call.
bool run_dual(int32_t mode) {
  int32_t dual_mode = mode;
  int32_t dual_result = DUAL_FINISHED;
  dual_simplex(&dual_mode, &dual_result);
  if (status_code != STATUS_OK) return false;
  if (dual_result == DUAL_FALL_BACK) {
    ++lp_driver_stats.dual_fall_backs;
    clear_scale_work();
    lp_driver.bigm_at_start = dcv(dc::BIGM);
    primal_simplex(-mode);
    if (status_code != STATUS_OK) return false;
  }
  return true;
}

// One judge of an infeasible verdict, from a slack basis: the dual, or the
// primal with pure phase-1 pricing. Nothing to do once a judge has found a
// feasible point. False when the status word ends the call.
bool judge_infeasibility(int32_t mode, bool dual) {
  if (status_letter != kLetterInfeasible) return true;
  ++lp_driver_stats.infeasibility_rechecks;
  // A quiet re-optimisation (the nodes of a global search) keeps its log to
  // the counter: one line per infeasible node would bury the node log.
  if (mode < OPT_REOPTIMISE || icv(ic::IQUIET) == 0) {
    begin_message(MSG_INFEASIBILITY_RECHECK);
    insert_message_real(dcv(dc::SUMINF));
    emit_message();
  }
  set_slack_basis();
  normalise_status_flags();
  problem_flags &= ~(PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
  lp_driver.bigm_at_start = dcv(dc::BIGM);
  if (dual) return run_dual(mode);
  const int32_t kept_mode = bigm_mode;
  const double kept_bigm = dcv(dc::BIGM);
  bigm_mode = 0;
  dcv(dc::BIGM) = bigm_fallback;
  lp_driver.bigm_at_start = bigm_fallback;
  primal_simplex(mode);
  bigm_mode = kept_mode;
  dcv(dc::BIGM) = kept_bigm;
  return status_code == STATUS_OK;
}

// Each simplex method ends an infeasible run where its own phase 1 finds
// nothing more to do. On a badly conditioned problem that can be a flat
// point that only a long move of free columns along directions of almost
// no phase-1 slope leaves, which no pricing tolerance can see. That is no
// proof, so every infeasible verdict is judged again from a slack basis: by
// the dual after the primal, then by the primal with pure phase-1 pricing
// (costs ignored while infeasible, as in a feasibility question). The
// problem is called infeasible only when every judge agrees; a feasible
// point found stands and the run goes on from it. The search for
// infeasible sets re-solves through here too, so its filters get the same
// verdicts.
bool confirm_infeasibility(int32_t mode, bool dual_ran) {
  if (status_letter != kLetterInfeasible) return true;
  // A verdict of the dual itself names its infeasible row (KLGETUNB): the
  // dual judges last then, so that the row is the one it reports.
  const bool dual_verdict = lp_algorithm == kAlgorithmDual;
  if (!dual_ran && !judge_infeasibility(mode, true)) return false;
  if (!judge_infeasibility(mode, false)) return false;
  if (dual_verdict && !judge_infeasibility(mode, true)) return false;
  return true;
}

// The barrier, and what its outcome means for the rest of the call. False
// when the call ends here: a status word (letter Z, message 87), or an
// unbounded verdict, which the barrier front end has reported in full.
bool run_barrier_path(int32_t mode) {
  int32_t crossover_flag = 0;
  barrier_front(mode, crossover_flag);
  if (status_code != STATUS_OK) {
    status_letter = kLetterUnfinished;
    begin_message(MSG_OUTCOME_UNFINISHED);
    emit_message();
    return false;
  }
  if (status_letter == kLetterUnbounded) return false;
  if (crossover_flag == 0) {
    problem_flags |= PF_NO_BASIS;
    lp_driver.no_basis = 1;
  }
  // The search's cut-off margin is at least PERCUT percent of the objective
  // the barrier reached (in the caller's units).
  const double scale = dcv(kObjectiveScaleSlot);
  const double caller_objective = std::fabs(objval) / (scale != 0.0 ? scale : 1.0);
  dcv(dc::ADDCUT) =
      sense_factor * std::min(sense_factor * dcv(dc::ADDCUT), -(dcv(dc::PERCUT) * 0.01 * caller_objective));
  lp_driver.bigm_at_start = dcv(dc::BIGM);
  return true;
}

void run_lp(int32_t mode, SavedControls& saved) {
  status_code = STATUS_OK;
  saved.take();
  if (!require_problem()) return;
  if ((problem_flags & PF_ROW_COPY) == 0) build_row_copy();
  if ((problem_flags & PF_COLUMN_COPY) == 0) build_column_copy();
  problem_flags &= ~PF_NO_BASIS;
  lp_driver.no_basis = 0;
  log_line_counter = 0;
  if (mode < OPT_REOPTIMISE) itcnt = 0;
  lp_status = LP_UNFINISHED;

  choose_algorithm(mode);

  if (mode < OPT_REOPTIMISE && !prepare_lp(mode)) return;

  lp_driver_stats.last_algorithm = lp_algorithm;
  lp_driver.bigm_at_start = dcv(dc::BIGM);
  const bool dual_ran = lp_algorithm == kAlgorithmDual;
  if (lp_algorithm == kAlgorithmBarrier) {
    if (!run_barrier_path(mode)) return;
  } else if (dual_ran) {
    if (!run_dual(mode)) return;
  } else {
    primal_simplex(mode);
    if (status_code != STATUS_OK) return;
  }
  if (lp_algorithm != kAlgorithmBarrier && !confirm_infeasibility(mode, dual_ran)) return;

  const bool presolved_run = (problem_flags & PF_PRESOLVED_LP) != 0;
  if (presolved_run) {
    // A stopped run keeps its presolved form so that the next call can go on
    // from where it stopped.
    if (status_letter != kLetterStopped && itcnt < icv(ic::ITRLIM) && !postsolve_and_clean_up(mode)) return;
    // Without a basis no clean-up run follows postsolve: the barrier's
    // optimum stands only when the solution postsolve made of it passes the
    // same checks on the original problem.
    if (lp_algorithm == kAlgorithmBarrier && (problem_flags & PF_PRESOLVED_LP) == 0 &&
        status_letter == kLetterOptimal && !confirm_postsolved_barrier_optimum())
      status_letter = kLetterUnfinished;
  }
  // After postsolve the clean-up run has left its own solution; only an
  // optimum is refactorised and polished.
  const bool recompute = !presolved_run || status_letter == kLetterOptimal;
  if ((problem_flags & (PF_PRESOLVED_LP | PF_NO_BASIS)) == 0 && mode < OPT_REOPTIMISE && recompute) {
    reinvert_and_recompute();
    if (status_letter == kLetterOptimal) polish_dual_feasibility(mode);
  }
  map_status_letter(mode);
  problem_flags |= PF_SOLUTION_CURRENT;

  if (mode < OPT_REOPTIMISE && (icv(ic::IFMEM) & kIfmemNoSolutionFile) == 0)
    write_final_solution_file(presolved_run && status_letter == kLetterCutOff);
  if (mode == OPT_REOPTIMISE) return;
  report_outcome();
}

}  // namespace

void optimise_lp(int32_t mode) {
  SavedControls saved;
  optimise_mode = mode;
  // Every solve starts trusting the factor; a failed residual test of an
  // invert during the run switches the stricter pivot rules on.
  factor_accurate = 1;
  run_lp(mode, saved);
  saved.restore(mode);
}

namespace {

// The body shared by maximise_problem and minimise_problem.
void optimise_entry(int32_t mode) {
  begin_body();
  if (!require_problem()) {
    if (icv(ic::IFPMSG) > 0) end_of_call();
    return;
  }
  set_fpu_mode(1);
  problem_flags &= ~PF_SEARCH_RUNNING;
  const int32_t ifmem_at_entry = icv(ic::IFMEM);
  icv(ic::IFMEM) |= kIfmemInCall;

  const OptionLetters o = take_option_letters();
  const auto finish = [&]() {
    if (icv(ic::IFPMSG) > 0) end_of_call();
    icv(ic::IFMEM) = ifmem_at_entry;
    problem_flags &= ~PF_CLOCK_STARTED;
    set_fpu_mode(0);
  };

  if (o.recurse) {
    problem_flags |= PF_CLOCK_STARTED;
    start_clock();
  }
  if (o.global) start_search_clock(0);
  const bool global = !o.lp_only && (has_ube_entry() != 0 || original_problem.nglent != 0);
  const bool search_follows = o.global && global;
  lp_driver.global_problem = global ? 1 : 0;
  if (!global && (problem_flags & PF_PRESOLVED_GLOBAL) != 0 && (problem_flags & PF_SEARCH_RUNNING) == 0) {
    // The form an earlier search presolved is of no use to an LP.
    discard_presolved_problem();
  }
  if (global) {
    if (icv(ic::IFCUTP) != 0) {
      invoke_cmi_if_set();
      if (status_code != STATUS_OK) {
        finish();
        return;
      }
    }
    problem_flags |= PF_SEARCH_RUNNING;
    if ((problem_flags & PF_PRESOLVED_LP) != 0) {
      report_plain_error(MSG_LAST_LP_NOT_FINISHED);
      icv(ic::IQUIET) = 0;
      finish();
      return;
    }
    if (search_follows) icv(ic::IFMEM) |= kIfmemNoSolutionFile;
  }

  if (o.barrier) {
    lp_algorithm = kAlgorithmBarrier + kAlgorithmForcedOffset;
  } else if (o.dual) {
    lp_algorithm = kAlgorithmDual + kAlgorithmForcedOffset;
  } else if (o.primal) {
    lp_algorithm = kAlgorithmPrimal + kAlgorithmForcedOffset;
  }

  // The cut-off an earlier search left behind (its last solution's value)
  // belongs to that search: a fresh optimisation is not cut off by it.
  if (global_search_started == 0 && double_set_flags[dc::CUTOFF] == 0)
    dcv(dc::CUTOFF) = (mode == OPT_MAXIMISE ? -1.0 : 1.0) * kDefaultCutoff;
  seed_random();
  optimise_lp(mode);
  if (status_code != STATUS_OK) {
    finish();
    return;
  }
  if (global && icv(ic::IFCUTP) != 0 && lp_status == LP_OPTIMAL) {
    lp_driver.search_cutoff = dcv(dc::CUTOFF) * scale_powers[objective_scale_exponent];
    run_node_callbacks(1);
    if (status_code != STATUS_OK) {
      finish();
      return;
    }
  }

  if (o.recurse) {
    recurse_problem();
    if (status_code != STATUS_OK) {
      finish();
      return;
    }
  }
  if (search_follows) {
    icv(ic::IFMEM) = ifmem_at_entry | kIfmemInCall;
    if (lp_status == LP_OPTIMAL) run_global_search();
  }
  finish();
}

}  // namespace

void maximise_problem() { optimise_entry(OPT_MAXIMISE); }

void minimise_problem() { optimise_entry(OPT_MINIMISE); }

void get_unbounded_index(int32_t* index) {
  begin_body();
  if (!require_problem()) return;
  int32_t result = -1;
  const bool presolved = (problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) != 0;
  OneBased<int32_t> map = int_array(ARR_POSITION_MAP);
  if (lp_algorithm == kAlgorithmDual) {
    if (lp_status == LP_INFEASIBLE && leaving_row > 0) {
      int32_t row = leaving_row;
      OneBased<int32_t> rows = int_array(ARR_FACTOR_ROWS);
      if (factor.factor_permuted != 0 && rows) row = rows[row];
      if (presolved && map) row = map[row];
      if (row > 0) result = row_to_caller(row);
    }
  } else if (lp_status == LP_UNBOUNDED && entering_column > 0) {
    int32_t p = entering_column;
    int32_t first_col = store.first_col;
    if (presolved && map) {
      p = map[p];
      first_col = original_problem.first_col;
    }
    // A slack that enters unbounded names no column.
    if (p >= first_col) result = p - first_col + 1 - icv(ic::IFDBG);
  }
  if (index != nullptr) *index = result;
}

}  // namespace kl
