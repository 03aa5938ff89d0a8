// The command bodies owned by the console.
#include "console/command_handlers.h"

#include "factor/basis.h"
#include "factor/invert.h"
#include "factor/starting_basis.h"
#include "files/mps_writer.h"
#include "files/solution_file.h"
#include "presolve/postsolve.h"
#include "problem/factor_arrays.h"
#include "problem/search_state.h"
#include "klsol/message_ids.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "simplex/iteration_log.h"
#include "simplex/primal_driver.h"
#include "factor/simplex_state.h"

namespace kl {

namespace {

// global_status values the search leaves; below kSearchStarted no search
// has run and the LP letter decides.
constexpr int32_t kSearchStarted = 3;
constexpr int32_t kSearchStatus4 = 4;
constexpr int32_t kSearchStatus5 = 5;
constexpr int32_t kSearchFinished = 6;

}  // namespace

int32_t stop_exit_code(int32_t search_status, char letter) {
  if (search_status < kSearchStarted) {
    switch (letter) {
      case kLetterUnfinished:
        return STOP_LP_UNFINISHED;
      case kLetterOptimal:
        return STOP_LP_OPTIMAL;
      case kLetterInfeasible:
        return STOP_LP_INFEASIBLE;
      case kLetterUnbounded:
        return STOP_LP_UNBOUNDED;
      default:
        return STOP_LP_OTHER;
    }
  }
  switch (search_status) {
    case kSearchFinished:
      return STOP_SEARCH_FINISHED;
    case kSearchStatus4:
      return STOP_SEARCH_STATUS_4;
    case kSearchStatus5:
      return STOP_SEARCH_STATUS_5;
    default:
      return STOP_SEARCH_OTHER;
  }
}

void crash_command() {
  if (!require_problem()) return;
  icv(ic::IFNBAS) = 0;
  begin_message(MSG_CRASH_NEXT_START);
  emit_message();
}

int32_t stop_command() {
  delete_global_work_files();
  return stop_exit_code(global_status, status_letter);
}

void quit_command() { delete_global_work_files(); }

void out_command() {}
void user_command() {}
void objective_command() {}
void size_command() {}

void output_command() {
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) free_factor_arrays();
  write_mps_file();
}

// Flags that say what the problem is (loaded, presolved, searched, without a
// basis); the others say which arrays and factor exist and follow them.
constexpr int32_t kProblemStateFlags = PF_LOADED | PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL | PF_DRIVER_SETUP |
                                       PF_SEARCH_RUNNING | PF_KEEP_SEARCH_FILES | PF_NO_BASIS;

void invert_command() {
  begin_body();
  if (!require_problem()) return;
  start_clock();
  dcv(dslot::kInvertPivotThreshold) = dcv(dc::ZTOLRI);
  problem_state = 1;
  // The user's IQUIET, the forced-algorithm choice and what the problem is
  // are put back on every way out, a failed step included.
  struct Restore {
    int32_t quiet = icv(ic::IQUIET);
    int32_t algorithm = lp_algorithm;
    int32_t flags = problem_flags;
    ~Restore() {
      icv(ic::IQUIET) = quiet;
      lp_algorithm = algorithm;
      problem_flags = (problem_flags & ~kProblemStateFlags) | (flags & kProblemStateFlags);
    }
  } const kept;
  lp_algorithm = algorithm_kind();
  factor.factor_permuted = 0;
  // The log line below comes with its header.
  log_line_counter = 0;
  icv(ic::IQUIET) = 1;

  // Factor of the current problem, then the duals and the values of every
  // variable with it, the solution file and the closing log line.
  const auto refactor_and_write = [&]() {
    set_basis_header();
    invert_basis(InvertReason::kRecompute);
    icv(ic::IQUIET) = kept.quiet;
    if (status_code != STATUS_OK) return;
    reinvert_and_recompute();
    if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) fixed_columns_objective_constant();
    compute_objective_value();
    if ((problem_flags & PF_SEARCH_RUNNING) == 0) {
      write_solution_file(SOLUTION_RECOMPUTED);
      if (status_code != STATUS_OK) return;
    }
    iteration_log(1);
  };

  // A problem kept presolved for the search is read in original terms as
  // well: every reader of the solution file expects the original problem.
  if ((problem_flags & (PF_PRESOLVED_LP | PF_PRESOLVED_GLOBAL)) == 0) {
    refactor_and_write();
    if (status_code == STATUS_OK) problem_flags = kept.flags;
    return;
  }
  // A presolved problem is refactorised in original terms: its own factor
  // gives the duals postsolve maps back, and the original basis is factorised
  // afresh for the file.
  if ((problem_flags & PF_FACTOR_VALID) == 0) {
    set_basis_header();
    invert_basis(InvertReason::kRecompute);
    if (status_code != STATUS_OK) return;
  }
  read_original_solution([&]() {
    free_factor_arrays();
    // The dual's working bounds and costs are the presolved problem's; the
    // original basis is valued on the problem's own.
    lp_algorithm = kAlgorithmPrimal;
    refactor_and_write();
  });
  // The factor in place is the original problem's.
  problem_flags &= ~PF_FACTOR_VALID;
}

}  // namespace kl
