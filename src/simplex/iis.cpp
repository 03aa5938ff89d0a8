#include "simplex/iis.h"

#include <cmath>
#include <new>
#include <string>

#include "runtime/problem_name.h"
#include "factor/basis.h"
#include "factor/solves.h"
#include "factor/starting_basis.h"
#include "klsol/message_ids.h"
#include "presolve/array_switch.h"
#include "problem/array_ids.h"
#include "problem/store.h"
#include "runtime/arrays.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"
#include "runtime/text_io.h"
#include "simplex/kernel.h"
#include "simplex/lp_driver.h"
#include "factor/simplex_state.h"

namespace kl {

std::vector<std::vector<int32_t>> iis_sets_found;

namespace {

constexpr uint32_t kBoundBits = PS_FREE | PS_FIXED | PS_FINITE_LOWER | PS_FINITE_UPPER;
constexpr uint32_t kSideBits = PS_AT_UPPER | PS_NONBASIC_BETWEEN;
constexpr uint32_t kMemberMark = PS_PRESOLVE_TRACE;
constexpr int32_t kIfmemNoSolutionFile = 0x4;
constexpr int32_t kForcedPrimal = 3;
constexpr double kSearchBigm = 128.0;
// First verdict of a problem infeasible with its objective only.
constexpr int32_t kVerdictRestsOnObjective = -1;
// Array id reported when the search's own work space cannot be had.
constexpr int32_t kMemberListArray = 74;

void emit_empty_lines(int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    if (message_line.length == 0) return;
    message_line.length = 1;
    message_line.placeholder = 1;
    emit_message();
  }
}

void emit_plain(int32_t n) {
  begin_message(n);
  emit_message();
}

void emit_with_int(int32_t n, int32_t k) {
  begin_message(n);
  insert_message_int(k);
  emit_message();
}

// Everything the search changes and must give back.
struct SavedState {
  int32_t iquiet = 0, ifpres = 0, ifmem = 0, ishfmx = 0;
  double bigm = 0.0, sense = 0.0, cutoff = 0.0;
  int32_t bigm_mode_value = 0;
  // The outcome of the problem's own last optimisation, which the search's
  // re-solves overwrite: STOP and the attribute queries must still see it.
  char letter = kLetterIterating;
  int32_t lp_status_value = 0, ninf_value = 0, nnegdj_value = 0, itcnt_value = 0;
  double objval_value = 0.0, suminf_value = 0.0;
  bool data_saved = false;
  std::vector<double> lower, upper, cost, rhs, work_rhs;
  std::vector<uint32_t> bound_bits;

  void take_controls() {
    iquiet = icv(ic::IQUIET);
    ifpres = icv(ic::IFPRES);
    ifmem = icv(ic::IFMEM);
    ishfmx = icv(ic::ISHFMX);
    bigm = dcv(dc::BIGM);
    sense = sense_factor;
    cutoff = lp_driver.search_cutoff;
    bigm_mode_value = bigm_mode;
    letter = status_letter;
    lp_status_value = lp_status;
    ninf_value = ninf;
    nnegdj_value = nnegdj;
    itcnt_value = itcnt;
    objval_value = objval;
    suminf_value = dcv(dc::SUMINF);
  }

  void take_data() {
    OneBased<double> lo = real_array(ARR_LOWER);
    OneBased<double> up = real_array(ARR_UPPER);
    OneBased<double> c = real_array(ARR_OBJECTIVE);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    lower.assign(nseq + 1, 0.0);
    upper.assign(nseq + 1, 0.0);
    cost.assign(nseq + 1, 0.0);
    bound_bits.assign(nseq + 1, 0);
    for (int32_t p = 1; p <= nseq; ++p) {
      lower[p] = lo[p];
      upper[p] = up[p];
      cost[p] = c[p];
      bound_bits[p] = static_cast<uint32_t>(status[p]) & kBoundBits;
    }
    rhs.assign(nrow + 1, 0.0);
    work_rhs.assign(nrow + 1, 0.0);
    OneBased<double> b = real_array(ARR_RHS);
    const bool has_work_rhs = array_cells[ARR_WORK_RHS] != nullptr;
    for (int32_t i = 1; i <= nrow; ++i) {
      rhs[i] = b[i];
      work_rhs[i] = has_work_rhs ? real_array(ARR_WORK_RHS)[i] : b[i];
    }
    data_saved = true;
  }

  void give_back_data() const {
    if (!data_saved) return;
    OneBased<double> lo = real_array(ARR_LOWER);
    OneBased<double> up = real_array(ARR_UPPER);
    OneBased<double> c = real_array(ARR_OBJECTIVE);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t p = 1; p <= nseq; ++p) {
      lo[p] = lower[p];
      up[p] = upper[p];
      c[p] = cost[p];
      status[p] = static_cast<int32_t>((static_cast<uint32_t>(status[p]) & ~kBoundBits) | bound_bits[p]);
    }
    OneBased<double> b = real_array(ARR_RHS);
    const bool has_work_rhs = array_cells[ARR_WORK_RHS] != nullptr;
    for (int32_t i = 1; i <= nrow; ++i) {
      b[i] = rhs[i];
      if (has_work_rhs) real_array(ARR_WORK_RHS)[i] = work_rhs[i];
    }
  }

  void give_back_controls() const {
    icv(ic::IQUIET) = iquiet;
    icv(ic::IFPRES) = ifpres;
    icv(ic::IFMEM) = ifmem;
    icv(ic::ISHFMX) = ishfmx;
    dcv(dc::BIGM) = bigm;
    sense_factor = sense;
    lp_driver.search_cutoff = cutoff;
    bigm_mode = bigm_mode_value;
  }

  void give_back_outcome() const {
    status_letter = letter;
    lp_status = lp_status_value;
    ninf = ninf_value;
    nnegdj = nnegdj_value;
    itcnt = itcnt_value;
    objval = objval_value;
    dcv(dc::SUMINF) = suminf_value;
  }
};

class IisSearch {
 public:
  IisSearch(const SavedState& saved, bool keep_output)
      : saved_(saved), keep_output_(keep_output), relaxed_(nseq + 1, false), member_(nseq + 1, false) {}

  // False when a solve ended unfinished: the search stops without listing.
  bool run() {
    int32_t limit = icv(ic::NIIS);
    if (limit == 0 || limit < -1) {
      emit_with_int(MSG_IIS_BAD_LIMIT, limit);
      limit = -1;
    }
    int32_t lp = first_verdict();
    if (lp == LP_UNFINISHED) return false;
    if (lp == kVerdictRestsOnObjective) return true;
    if (lp != LP_INFEASIBLE) {
      emit_plain(MSG_IIS_NOT_INFEASIBLE);
      return true;
    }
    bool feasible = false;
    for (;;) {
      std::vector<int32_t> set;
      if (!dual_filter(false) || !deletion_filter(1, nrow, MSG_IIS_ROW_FILTER, set)) return false;
      lp = solve();
      if (lp == LP_UNFINISHED) return false;
      if (lp == LP_INFEASIBLE &&
          (!dual_filter(true) || !deletion_filter(store.first_col, nseq, MSG_IIS_COLUMN_FILTER, set)))
        return false;
      // Nothing left to relax and still infeasible: no further set to find.
      if (set.empty()) break;
      sets_.push_back(set);
      for (int32_t p = 1; p <= nseq; ++p) set_relaxed(p, member_[p]);
      lp = solve();
      int_attribute(kIisSetCountAttribute) = static_cast<int32_t>(sets_.size());
      if (lp == LP_UNFINISHED) return false;
      if (lp != LP_INFEASIBLE) {
        emit_with_int(MSG_IIS_NOW_FEASIBLE, static_cast<int32_t>(sets_.size()));
        emit_empty_lines(3);
        feasible = true;
        break;
      }
      if (limit > 0 && static_cast<int32_t>(sets_.size()) >= limit) break;
      emit_plain(MSG_IIS_STILL_INFEASIBLE);
      emit_empty_lines(3);
    }
    restores_.assign(nseq + 1, false);
    if (feasible && !isolate()) return false;
    list();
    return true;
  }

  const std::vector<std::vector<int32_t>>& sets() const { return sets_; }

 private:
  // Makes position p free (relax) or gives it its own bounds back.
  void set_relaxed(int32_t p, bool relax) {
    if (relaxed_[p] == relax) return;
    relaxed_[p] = relax;
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    uint32_t s = static_cast<uint32_t>(status[p]) & ~(kBoundBits | kSideBits);
    if (relax) {
      lower[p] = -kInfinity;
      upper[p] = kInfinity;
      s |= PS_FREE;
    } else {
      lower[p] = saved_.lower[p];
      upper[p] = saved_.upper[p];
      s |= saved_.bound_bits[p];
    }
    status[p] = static_cast<int32_t>(s);
  }

  // One solve from a slack basis, so that no bound side or value left by an
  // earlier relaxation is carried over. The driver's own judge is the solve
  // KLMINIM or KLMAXIM makes of the problem: its own objective, sense and
  // controls. The feasibility judge is the primal on the zero objective.
  enum class Judge { kFeasibility, kDriver };
  int32_t solve(Judge judge = Judge::kFeasibility) {
    const bool own = judge == Judge::kDriver;
    OneBased<double> cost = real_array(ARR_OBJECTIVE);
    for (int32_t p = 1; p <= nseq; ++p) cost[p] = own ? saved_.cost[p] : 0.0;
    if (own) {
      saved_.give_back_controls();
      icv(ic::IFNBAS) = 0;
    } else {
      icv(ic::IFPRES) = 0;
      dcv(dc::BIGM) = kSearchBigm;
      icv(ic::ISHFMX) = 0;
      lp_driver.search_cutoff = -1e20;
      bigm_mode = 1;
      lp_algorithm = kForcedPrimal;
    }
    if (!keep_output_) icv(ic::IQUIET) = 1;
    icv(ic::IFMEM) |= kIfmemNoSolutionFile;
    set_slack_basis();
    normalise_status_flags();
    problem_flags &= ~(PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
    if (!keep_output_) suspend_messages();
    optimise_lp(own ? (saved_.sense < 0.0 ? OPT_MAXIMISE : OPT_MINIMISE) : OPT_REOPTIMISE);
    const int32_t solve_status = status_code;
    if (!keep_output_) resume_messages();
    status_code = STATUS_OK;
    if (solve_status != STATUS_OK && lp_status != LP_INFEASIBLE) return LP_UNFINISHED;
    return lp_status;
  }

  // The verdict on the problem is the driver's own, so that the search and
  // KLMINIM (or KLMAXIM) cannot differ on it; the sets are then sought with
  // the feasibility judge. A problem infeasible only at about the
  // tolerances can be infeasible with its objective and feasible with it
  // ignored: no set can be isolated then, and a line says so.
  int32_t first_verdict() {
    const int32_t lp = solve(Judge::kDriver);
    if (lp != LP_INFEASIBLE) return lp;
    const int32_t feasibility = solve();
    if (feasibility == LP_INFEASIBLE || feasibility == LP_UNFINISHED) return feasibility;
    emit_plain(MSG_IIS_OBJECTIVE_ONLY);
    return kVerdictRestsOnObjective;
  }

  bool relaxable(int32_t p) const {
    if (relaxed_[p]) return false;
    if (p <= nrow) return (int_array(ARR_ROW_TYPE)[p] & ROW_TYPE_MASK) != ROW_N;
    return (saved_.bound_bits[p] & PS_FREE) == 0;
  }

  // Relaxes at once the rows (or the non-basic columns) that carry no
  // weight in the phase-1 duals of the infeasible basis just solved; the
  // duals are computed here, from that basis, never taken from whatever an
  // earlier step left in the work vector. Should the problem turn feasible
  // all the same, the relaxations are undone and the deletion filter alone
  // decides. False when a solve ended unfinished.
  bool dual_filter(bool on_columns) {
    if ((problem_flags & PF_FACTOR_VALID) == 0) return true;
    set_basic_costs();
    btran_update_part();
    btran_invert_part();
    const double zteta = dcv(dc::ZTETA);
    sparsify_work_vector(zteta);
    OneBased<double> y = work_vector();
    std::vector<int32_t> dropped;
    if (!on_columns) {
      for (int32_t i = 1; i <= nrow; ++i)
        if (relaxable(i) && std::fabs(y[i]) < zteta) dropped.push_back(i);
    } else {
      OneBased<int32_t> status = int_array(ARR_POS_STATUS);
      OneBased<int32_t> start = int_array(ARR_COL_START);
      OneBased<int32_t> elem_row = int_array(ARR_ELEM_ROW);
      OneBased<double> elem_value = real_array(ARR_ELEM_VALUE);
      for (int32_t j = store.first_col; j <= nseq; ++j) {
        if (!relaxable(j) || (status[j] & PS_BASIC) != 0) continue;
        double sum = 0.0;
        for (int32_t k = start[j]; k < start[j + 1]; ++k) {
          const int32_t i = elem_row[k];
          if (i >= 1 && i <= nrow) sum += y[i] * elem_value[k];
        }
        if (std::fabs(sum) < zteta) dropped.push_back(j);
      }
    }
    for (int32_t p : dropped) set_relaxed(p, true);
    if (!dropped.empty()) {
      const int32_t lp = solve();
      if (lp == LP_UNFINISHED) return false;
      if (lp != LP_INFEASIBLE) {
        for (int32_t p : dropped) set_relaxed(p, false);
        dropped.clear();
      }
    }
    emit_with_int(on_columns ? MSG_IIS_COLUMNS_DROPPED : MSG_IIS_ROWS_DROPPED, static_cast<int32_t>(dropped.size()));
    return true;
  }

  // Relaxes each candidate in first..last in turn; those whose relaxation
  // makes the problem feasible are members and are given back their bounds.
  bool deletion_filter(int32_t first, int32_t last, int32_t header, std::vector<int32_t>& set) {
    emit_plain(header);
    for (int32_t p = first; p <= last; ++p) {
      if (!relaxable(p)) continue;
      set_relaxed(p, true);
      const int32_t lp = solve();
      if (lp == LP_UNFINISHED) return false;
      if (lp != LP_INFEASIBLE) {
        set_relaxed(p, false);
        member_[p] = true;
        set.push_back(p);
      }
    }
    return true;
  }

  // With every other set relaxed, which members of each set restore
  // feasibility when relaxed alone.
  bool isolate() {
    for (const std::vector<int32_t>& set : sets_) {
      for (int32_t p = 1; p <= nseq; ++p) set_relaxed(p, member_[p]);
      for (int32_t p : set) set_relaxed(p, false);
      for (auto it = set.rbegin(); it != set.rend(); ++it) {
        set_relaxed(*it, true);
        const int32_t lp = solve();
        if (lp == LP_UNFINISHED) return false;
        if (lp != LP_INFEASIBLE) {
          restores_[*it] = true;
          emit_with_int(MSG_IIS_RESTORES, *it);
        }
        set_relaxed(*it, false);
      }
    }
    return true;
  }

  void set_header(int32_t k) {
    emit_with_int(MSG_IIS_SET_HEADER, k);
    emit_plain(MSG_IIS_COLUMN_TITLES);
    emit_plain(MSG_IIS_COLUMN_RULE);
  }

  void list() {
    if (sets_.empty()) return;
    emit_plain(MSG_IIS_LISTING);
    emit_empty_lines(2);
    for (size_t k = 0; k < sets_.size(); ++k) {
      if (k > 0) emit_empty_lines(2);
      set_header(static_cast<int32_t>(k + 1));
      for (int32_t p : sets_[k]) {
        begin_message(restores_[p] ? MSG_IIS_MEMBER_ALONE : MSG_IIS_MEMBER);
        insert_message_int(p);
        insert_message_vector_name(p);
        emit_message();
      }
    }
  }

  const SavedState& saved_;
  const bool keep_output_;
  std::vector<bool> relaxed_;
  std::vector<bool> member_;
  std::vector<bool> restores_;
  std::vector<std::vector<int32_t>> sets_;
};

void clear_member_marks() {
  OneBased<int32_t> status = int_array(ARR_POS_STATUS);
  for (int32_t p = 1; p <= nseq; ++p) status[p] = static_cast<int32_t>(static_cast<uint32_t>(status[p]) & ~kMemberMark);
}

void run_search(bool keep_output, SavedState& saved) {
  if (!keep_output) icv(ic::IQUIET) = 1;
  icv(ic::IFPRES) = 0;
  clear_member_marks();
  iis_sets_found.clear();
  int_attribute(kIisSetCountAttribute) = 0;
  saved.take_data();

  IisSearch search(saved, keep_output);
  const bool finished = search.run();
  iis_sets_found = search.sets();
  if (finished && !iis_sets_found.empty()) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    for (int32_t p : iis_sets_found.back()) status[p] = static_cast<int32_t>(static_cast<uint32_t>(status[p]) | kMemberMark);
  }
}

}  // namespace

void find_iis(bool keep_output, bool to_file) {
  status_code = STATUS_OK;
  if (to_file) {
    int32_t error = 0;
    open_text_output((get_problem_name() + ".iis").c_str(), error);
    if (error != 0) return;
  }
  const bool copy_was = message_line.copy;
  if (to_file) message_line.copy = true;
  if (require_problem()) {
    // The sets are sought in the problem as loaded. A presolved form left
    // by an unfinished solve is given up first: the search's first solve
    // would postsolve it, after the problem data it gives back at the end
    // had been taken in presolved terms.
    if ((problem_flags & PF_PRESOLVED_LP) != 0 ||
        ((problem_flags & PF_PRESOLVED_GLOBAL) != 0 && (problem_flags & PF_SEARCH_RUNNING) == 0))
      discard_presolved_problem();
    SavedState saved;
    saved.take_controls();
    try {
      run_search(keep_output, saved);
    } catch (const std::bad_alloc&) {
      report_error(MSG_ARRAY_NO_MEMORY, kMemberListArray, "iis     ");
    }
    const int32_t kept_status = status_code;
    saved.give_back_data();
    saved.give_back_controls();
    icv(ic::IFNBAS) = 0;
    primal_end_flags = 0;
    set_slack_basis();
    normalise_status_flags();
    problem_flags &= ~(PF_FACTOR_VALID | PF_SOLUTION_CURRENT);
    saved.give_back_outcome();
    status_code = kept_status;
  }
  if (to_file) {
    message_line.copy = copy_was;
    close_text_output();
  }
}

}  // namespace kl
