// Elimination with fill-in: a column that an equality row determines is
// solved from that row, substituted into the other rows and the objective,
// and leaves the problem with the row. Each elimination pushes a
// column-elimination record (type 6); the fill-in it creates is kept apart
// and merged into the column-wise matrix when the passes end.
#include "presolve/eliminate.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <vector>

#include "presolve/activity.h"
#include "presolve/eliminate_entries.h"
#include "presolve/presolve_state.h"
#include "presolve/record_stack.h"
#include "problem/store.h"
#include "runtime/controls.h"
#include "runtime/messages.h"

namespace kl {

namespace {

// IPSLCT switches of the pass.
constexpr int32_t kSwitchEliminate = 0x100;
constexpr int32_t kSwitchNoSmallestTest = 0x800;
constexpr int32_t kSwitchNoIntegerPivot = 0x1000;
// Row length limits of the first two passes; later passes take any length.
constexpr int32_t kFirstPassRowLength = 2;
constexpr int32_t kSecondPassRowLength = 10;

enum EliminationResult : int32_t { ELIM_DONE, ELIM_SKIPPED, ELIM_STOP, ELIM_STACK_FULL };

bool is_integral(double x) { return std::fabs(x - std::round(x)) <= dcv(dc::ZTOLDA) * std::max(1.0, std::fabs(x)); }

class EliminationPass {
 public:
  explicit EliminationPass(EliminationEntries& entries) : e_(entries) {}

  // Runs the passes; eliminated counts the pairs removed. Returns
  // PRESOLVE_DONE or PRESOLVE_STACK_CAPACITY.
  int32_t run(int32_t& eliminated) {
    const int32_t passes = icv(ic::NPPASS);
    for (int32_t pass = 1; pass <= passes && !stopped_; ++pass) {
      const int32_t limit = pass == 1 ? kFirstPassRowLength : pass == 2 ? kSecondPassRowLength : INT32_MAX;
      int32_t in_pass = 0;
      for (int32_t r = 1; r <= nrow && !stopped_; ++r) {
        if (!candidate_row(r, limit)) continue;
        Pivot pv;
        if (!choose_pivot(r, pv)) continue;
        if (!check_elimination_pivot(r, pv.q, e_.value(pv.ref_q))) continue;
        const int64_t need = static_cast<int64_t>(e_.row_count(r) - 1) * (e_.column_count(pv.q) - 1) + 1;
        if (e_.fill_left() <= need) {
          begin_message(MSG_ELIMINATION_FILL_CAPACITY);
          emit_message();
          stopped_ = true;
          break;
        }
        const int32_t result = eliminate(r, pv);
        if (result == ELIM_STACK_FULL) return PRESOLVE_STACK_CAPACITY;
        if (result == ELIM_STOP) stopped_ = true;
        if (result == ELIM_DONE) {
          ++in_pass;
          ++eliminated;
        }
      }
      if (icv(ic::IFMSG) != 0) {
        begin_message(MSG_ELIMINATION_PASS);
        insert_message_int(pass);
        insert_message_int(e_.live_rows());
        insert_message_int(e_.live_columns());
        insert_message_value12(e_.live_entries());
        emit_message();
      }
      if (pass >= 2 && in_pass == 0) break;
    }
    return PRESOLVE_DONE;
  }

 private:
  struct Pivot {
    int32_t q = 0;
    int32_t ref_q = 0;
    int32_t p = 0;  // the other column of a two-entry row
    int32_t ref_p = 0;
    bool two_entry = false;
  };

  bool candidate_row(int32_t r, int32_t limit) const {
    if (!e_.row_live(r)) return false;
    if ((status_of(r) & kEliminationUntouchable) != 0) return false;
    if ((int_array(ARR_ROW_TYPE)[r] & (ROW_G | ROW_L)) != 0) return false;
    const int32_t count = e_.row_count(r);
    if (count <= 1 || count > limit) return false;
    const double ztolze = dcv(dc::ZTOLZE);
    const double shifted = e_.shifted_rhs(r);
    return e_.marked(r) || (shifted <= ztolze && e_.nonpositive(r) == 1) ||
           (shifted >= -ztolze && e_.positive(r) == 1) || count == 2;
  }

  bool choose_pivot(int32_t r, Pivot& pv) {
    const std::vector<int32_t>& refs = e_.row_refs(r);
    smallest_ = 0.0;
    integer_count_ = 0;
    for (size_t n = 0; n < refs.size(); ++n) {
      const int32_t j = e_.column_of(refs[n]);
      if ((status_of(j) & kEliminationUntouchable) != 0) return false;
      if ((status_of(j) & PS_INTEGER_OR_BINARY) != 0) ++integer_count_;
      const double m = e_.magnitude(refs[n]);
      if (n == 0 || m < smallest_) smallest_ = m;
    }
    if (refs.size() == 2) {
      const bool second = e_.magnitude(refs[1]) > e_.magnitude(refs[0]);
      pv = {e_.column_of(refs[second ? 1 : 0]), refs[second ? 1 : 0], e_.column_of(refs[second ? 0 : 1]),
            refs[second ? 0 : 1], true};
      return two_entry_tests(r, pv);
    }
    int32_t chosen = 0;
    bool by_sign = false;
    if (e_.marked(r)) {
      double best = -1.0;
      for (int32_t ref : refs) {
        if (e_.free_like(e_.column_of(ref)) && e_.magnitude(ref) > best) {
          best = e_.magnitude(ref);
          chosen = ref;
        }
      }
    }
    const double ztolze = dcv(dc::ZTOLZE);
    if (chosen == 0 && e_.shifted_rhs(r) <= ztolze && e_.nonpositive(r) == 1) {
      for (int32_t ref : refs)
        if (e_.value(ref) <= 0.0) chosen = ref;
      by_sign = true;
    }
    if (chosen == 0 && e_.shifted_rhs(r) >= -ztolze && e_.positive(r) == 1) {
      for (int32_t ref : refs)
        if (e_.value(ref) > 0.0) chosen = ref;
      by_sign = true;
    }
    if (chosen == 0) return false;
    pv = {e_.column_of(chosen), chosen, 0, 0, false};
    if (by_sign && !sign_implies_lower(r, pv.q)) return false;
    return long_row_tests(r, pv);
  }

  // The sign pattern implies q's lower bound only through the other
  // columns' shifted values x - l >= 0, which needs their lower bounds
  // finite.
  bool sign_implies_lower(int32_t r, int32_t q) const {
    if ((status_of(q) & PS_FINITE_LOWER) == 0) return true;
    for (int32_t ref : e_.row_refs(r)) {
      const int32_t k = e_.column_of(ref);
      if (k != q && (status_of(k) & PS_FINITE_LOWER) == 0) return false;
    }
    return true;
  }

  bool pivot_size_ok(int32_t r, const Pivot& pv) const {
    const double m = e_.magnitude(pv.ref_q);
    const double ztelim = dcv(dc::ZTELIM);
    return m >= ztelim * e_.max_entry_magnitude(r) && m >= ztelim * e_.max_entry_magnitude(pv.q);
  }

  // q integer: it stays integral only when every coefficient ratio of the
  // row and its right-hand side over the pivot are integers.
  bool integral_substitution(int32_t r, const Pivot& pv) const {
    const double a = e_.unscaled(pv.ref_q);
    if (!is_integral(e_.unscaled_rhs(r) / a)) return false;
    for (int32_t ref : e_.row_refs(r))
      if (ref != pv.ref_q && !is_integral(e_.unscaled(ref) / a)) return false;
    return true;
  }

  static bool integer_column(int32_t j) { return (status_of(j) & PS_INTEGER_OR_BINARY) != 0; }

  bool long_row_tests(int32_t r, Pivot& pv) {
    if (!pivot_size_ok(r, pv)) return false;
    const double ztolze = dcv(dc::ZTOLZE);
    const int32_t q = pv.q;
    bool upper_flag = real_array(ARR_UPPER)[q] <= real_array(ARR_WORK_UPPER)[q] + ztolze;
    const int64_t cq = e_.column_count(q);
    const int64_t cr = e_.row_count(r);
    if ((cq - 2) * cr > 2 * cq + icv(ic::IEFILL) - 2) return false;
    if (basic(r) == basic(q)) return false;
    const int32_t switches = icv(ic::IPSLCT);
    if (nsets == 0 && integer_column(q)) {
      if ((switches & kSwitchNoIntegerPivot) != 0) return false;
      if (integer_count_ != cr || e_.magnitude(pv.ref_q) != smallest_) return false;
      if (!integral_substitution(r, pv)) return false;
    } else if ((status_of(q) & PS_ENTITY) != 0) {
      return false;
    }
    if ((switches & kSwitchNoSmallestTest) == 0 && dcv(dc::ZTOLDA) * e_.max_entry_magnitude(r) > smallest_) return false;
    if (upper_flag) upper_flag = !row_implies_column_upper(q);
    return !upper_flag;
  }

  bool two_entry_tests(int32_t r, Pivot& pv) {
    const bool row_basic = basic(r);
    const bool q_basic = basic(pv.q);
    const bool p_basic = basic(pv.p);
    if (!((!row_basic && (q_basic || p_basic)) || (row_basic && !q_basic && !p_basic))) return false;
    auto swap = [&] {
      std::swap(pv.q, pv.p);
      std::swap(pv.ref_q, pv.ref_p);
    };
    if (row_basic == basic(pv.q)) swap();
    if (nsets == 0 && integer_column(pv.q)) {
      if ((icv(ic::IPSLCT) & kSwitchNoIntegerPivot) != 0) return false;
      if (!integer_column(pv.p)) {
        swap();
      } else {
        if (std::fabs(e_.magnitude(pv.ref_q) - e_.magnitude(pv.ref_p)) > dcv(dc::ZTOLDA)) return false;
        if (!integral_substitution(r, pv)) return false;
      }
    } else if ((status_of(pv.q) & PS_ENTITY) != 0) {
      if ((status_of(pv.p) & PS_ENTITY) != 0) return false;
      swap();
    }
    // A swap for integrality must not break the basis: a nonbasic row may
    // only leave with a basic column.
    if (!row_basic && !basic(pv.q)) return false;
    return pivot_size_ok(r, pv);
  }

  static bool basic(int32_t p) { return (status_of(p) & PS_BASIC) != 0; }

  // Clears the flag (returns true) when one of q's rows bounds q from above
  // within its upper bound.
  bool row_implies_column_upper(int32_t q) const {
    const double ztolda = dcv(dc::ZTOLDA);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    for (int32_t ref_iq : e_.column_refs(q)) {
      const int32_t i = e_.row_of(ref_iq);
      const double a = e_.value(ref_iq);
      const uint32_t row_status = status_of(i);
      if (a == 0.0 || (a < 0.0 && (row_status & PS_FINITE_UPPER) == 0) ||
          (a > 0.0 && (row_status & PS_FINITE_LOWER) == 0))
        continue;
      // hi = b - minimum of the other terms, lo = b - their maximum.
      double hi = real_array(ARR_WORK_RHS)[i];
      double lo = hi;
      bool hi_finite = true;
      bool lo_finite = true;
      for (int32_t ref : e_.row_refs(i)) {
        const int32_t k = e_.column_of(ref);
        if (k == q) continue;
        const double v = e_.value(ref);
        const bool up_finite = (status_of(k) & PS_FINITE_UPPER) != 0;
        const bool low_finite = (status_of(k) & PS_FINITE_LOWER) != 0;
        if (v <= 0.0) {
          if (up_finite) hi -= v * upper[k];
          else hi_finite = false;
          if (low_finite) lo -= v * lower[k];
          else lo_finite = false;
        } else {
          if (up_finite) lo -= v * upper[k];
          else lo_finite = false;
          if (low_finite) hi -= v * lower[k];
          else hi_finite = false;
        }
      }
      double t = 0.0;
      if (a < 0.0) {
        if (!lo_finite) continue;
        t = (lo - upper[i]) / a;
      } else {
        if (!hi_finite) continue;
        t = (hi - lower[i]) / a;
      }
      if (t >= upper[q] + ztolda) continue;
      if (t < lower[q]) return false;
      return true;
    }
    return false;
  }

  // The substitution through pivot a must not leave coefficients in the
  // band of numerical noise, nor create noisy fill-in that matters over
  // the column's range.
  bool check_elimination_pivot(int32_t r, int32_t q, double a) {
    const double ztolda = dcv(dc::ZTOLDA);
    const double ztolze = dcv(dc::ZTOLZE);
    const double noise = dcv(dc::RPSSV1) * ztolda;
    double largest = 0.0;
    bool ok = true;
    for (int32_t ref_rk : e_.row_refs(r)) {
      const int32_t k = e_.column_of(ref_rk);
      if (k == q) continue;
      largest = std::max(largest, std::fabs(e_.value(ref_rk)));
      const double ratio = e_.value(ref_rk) / a;
      e_.scatter_column(k);
      for (int32_t ref_iq : e_.column_refs(q)) {
        const int32_t i = e_.row_of(ref_iq);
        if (i == r) continue;
        const double a_iq = e_.value(ref_iq);
        const int32_t ref_ik = e_.scattered(i);
        if (ref_ik != 0) {
          const double updated = std::fabs(e_.value(ref_ik) - a_iq * ratio);
          if (updated > ztolda && updated <= noise) ok = false;
        } else if (std::fabs(ratio) < 1.0) {
          const double f = std::fabs(a_iq * ratio);
          const double range = real_array(ARR_UPPER)[k] - real_array(ARR_LOWER)[k];
          if (f > ztolda && f <= noise && range * f >= ztolze) ok = false;
        }
        if (!ok) break;
      }
      e_.unscatter_column(k);
      if (!ok || std::fabs(a) <= dcv(dc::ZTELIM) * largest) return false;
    }
    return true;
  }

  // Bounds of p derived from q's through a two-entry row.
  struct Carried {
    bool has_lower = false;
    bool has_upper = false;
    double lower = 0.0;
    double upper = 0.0;
  };

  Carried carried_bounds(int32_t r, const Pivot& pv) const {
    const double a = e_.value(pv.ref_q);
    const double a_p = e_.value(pv.ref_p);
    const double ratio = a_p / a;
    const double b = real_array(ARR_WORK_RHS)[r];
    Carried c;
    auto put = [&](double v, bool as_upper) {
      if (as_upper) {
        c.has_upper = true;
        c.upper = v;
      } else {
        c.has_lower = true;
        c.lower = v;
      }
    };
    // x_p = b / a_p - x_q / ratio.
    if ((status_of(pv.q) & PS_FINITE_LOWER) != 0) put(b / a_p - real_array(ARR_LOWER)[pv.q] / ratio, ratio > 0.0);
    if ((status_of(pv.q) & PS_FINITE_UPPER) != 0) put(b / a_p - real_array(ARR_UPPER)[pv.q] / ratio, ratio <= 0.0);
    return c;
  }

  bool carried_bounds_cross(int32_t p, const Carried& c) const {
    const double ztolze = dcv(dc::ZTOLZE);
    return (c.has_lower && (status_of(p) & PS_FINITE_UPPER) != 0 && c.lower > real_array(ARR_UPPER)[p] + ztolze) ||
           (c.has_upper && (status_of(p) & PS_FINITE_LOWER) != 0 && c.upper < real_array(ARR_LOWER)[p] - ztolze);
  }

  // Gives p the bounds carried over from q; returns the record flags.
  int32_t apply_carried_bounds(int32_t r, const Pivot& pv, const Carried& c) {
    const double ztolda = dcv(dc::ZTOLDA);
    const double ztolze = dcv(dc::ZTOLZE);
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<double> lower = real_array(ARR_LOWER);
    OneBased<double> upper = real_array(ARR_UPPER);
    const int32_t p = pv.p;
    const double ratio = e_.value(pv.ref_p) / e_.value(pv.ref_q);
    const bool row_nonbasic = !basic(r);
    const uint32_t sq = status_of(pv.q);
    const bool q_at_upper = (sq & PS_BASIC) == 0 && (sq & PS_AT_UPPER) != 0;
    const bool q_at_lower = (sq & (PS_BASIC | PS_AT_UPPER)) == 0;
    int32_t flags = 0;
    if (c.has_lower) {
      const bool had_lower = (status_of(p) & PS_FINITE_LOWER) != 0;
      // Bounds that met within ZTOLZE meet exactly rather than cross.
      double v = c.lower;
      if ((status_of(p) & PS_FINITE_UPPER) != 0) v = std::min(v, upper[p]);
      if ((!had_lower || v > lower[p] - ztolda) && row_nonbasic &&
          ((q_at_upper && ratio > 0.0) || (q_at_lower && ratio < 0.0)))
        status[p] &= ~static_cast<int32_t>(PS_BASIC | PS_AT_UPPER);
      if (!had_lower || v > lower[p] + ztolda) {
        const double old = had_lower ? lower[p] : 0.0;
        const bool moved = !had_lower || std::fabs(v - lower[p]) > ztolda;
        lower[p] = v;
        if (!had_lower) status[p] = static_cast<int32_t>((status_of(p) | PS_FINITE_LOWER) & ~PS_FREE);
        flags |= 1;
        if (moved) e_.shift_rows_by_column_value(p, v, old);
      }
    }
    if (c.has_upper) {
      const bool had_upper = (status_of(p) & PS_FINITE_UPPER) != 0;
      double v = c.upper;
      if ((status_of(p) & PS_FINITE_LOWER) != 0) v = std::max(v, lower[p]);
      if ((!had_upper || v < upper[p] + ztolda) && row_nonbasic &&
          ((q_at_upper && ratio < 0.0) || (q_at_lower && ratio > 0.0)))
        status[p] = static_cast<int32_t>((status_of(p) & ~PS_BASIC) | PS_AT_UPPER);
      if (!had_upper || v < upper[p] - ztolze) {
        upper[p] = v;
        status[p] = static_cast<int32_t>((status_of(p) | PS_FINITE_UPPER) & ~PS_FREE);
        flags |= 2;
        e_.use_fill_slot();
      }
    }
    return flags;
  }

  // Eliminates q through row r.
  int32_t eliminate(int32_t r, const Pivot& pv) {
    const int32_t q = pv.q;
    Carried carried;
    if (pv.two_entry) {
      carried = carried_bounds(r, pv);
      if (carried_bounds_cross(pv.p, carried)) return icv(ic::IFPRES) < 0 ? ELIM_SKIPPED : ELIM_STOP;
    }
    // Room for the whole record first, so that a refused growth leaves no
    // part of it behind.
    const int32_t np = pv.two_entry ? e_.column_count(pv.p) - 1 : 0;
    const int32_t nr = e_.row_count(r) - 1;
    const int32_t nq = e_.column_count(q) - 1;
    const int32_t p_part = pv.two_entry ? np + 1 : 0;
    if (!reserve_presolve_record(p_part + nr + nq + 6, p_part + nr + nq + 3)) return ELIM_STACK_FULL;

    OneBased<double> cost = real_array(ARR_OBJECTIVE);
    OneBased<double> rhs = real_array(ARR_WORK_RHS);
    const double a = e_.value(pv.ref_q);
    const double b = rhs[r];
    const double cq = cost[q];
    dcv(kObjectiveConstantSlot) += b * cq / a;

    PresolveRecord record;
    int32_t flags = 0;
    if (pv.two_entry) {
      // p's column as it stands before the substitution.
      for (int32_t ref : e_.column_refs(pv.p)) {
        if (e_.row_of(ref) == r) continue;
        record.ints.push_back(e_.row_of(ref));
        record.reals.push_back(e_.value(ref));
      }
      record.ints.push_back(np);
      record.reals.push_back(cost[pv.p]);
      flags = apply_carried_bounds(r, pv, carried);
    }
    const double shifted_r = e_.shifted_rhs(r);

    // Row r's other columns, p first when present.
    std::vector<int32_t> others;
    if (pv.two_entry) others.push_back(pv.ref_p);
    for (int32_t ref : e_.row_refs(r))
      if (ref != pv.ref_q && ref != pv.ref_p) others.push_back(ref);
    for (int32_t ref_rk : others) {
      const int32_t k = e_.column_of(ref_rk);
      const double a_rk = e_.value(ref_rk);
      record.ints.push_back(k);
      record.reals.push_back(a_rk);
      cost[k] -= a_rk * cq / a;
      e_.substitute_into_column(k, q, r, a_rk / a);
    }

    // Row r and column q leave; q's other rows take the substitution.
    e_.remove_row(r);
    for (int32_t ref_iq : std::vector<int32_t>(e_.column_refs(q))) {
      const int32_t i = e_.row_of(ref_iq);
      const double a_iq = e_.value(ref_iq);
      record.ints.push_back(i);
      record.reals.push_back(a_iq);
      rhs[i] -= a_iq * b / a;
      e_.shift_rhs(i, -a_iq * shifted_r / a);
    }
    e_.remove_column(q);
    free_eliminated_pair(r, q);

    record.ints.insert(record.ints.end(), {pv.two_entry ? -r : r, q, flags, nr, nq, REC_COLUMN_ELIMINATION});
    record.reals.insert(record.reals.end(), {b, cq, a});
    push_presolve_record(record);
    return ELIM_DONE;
  }

  static void free_eliminated_pair(int32_t r, int32_t q) {
    OneBased<int32_t> status = int_array(ARR_POS_STATUS);
    OneBased<int32_t> row_type = int_array(ARR_ROW_TYPE);
    status[r] = static_cast<int32_t>((status_of(r) | PS_FREE) & ~static_cast<uint32_t>(PS_FIXED | PS_BOTH_FINITE));
    row_type[r] = (row_type[r] & ~ROW_TYPE_MASK) | ROW_N;
    real_array(ARR_LOWER)[r] = -kInfinity;
    real_array(ARR_UPPER)[r] = kInfinity;
    status[q] = static_cast<int32_t>((status_of(q) | PS_FIXED) & ~PS_FREE);
    real_array(ARR_LOWER)[q] = 0.0;
    real_array(ARR_UPPER)[q] = 0.0;
  }

  EliminationEntries& e_;
  bool stopped_ = false;
  double smallest_ = 0.0;
  int32_t integer_count_ = 0;
};

// Folds the fill-in into the column-wise matrix; false (message 52) when
// the element space cannot hold it.
bool merge_into_matrix(EliminationEntries& entries) {
  const int64_t in_use = int_array(ARR_COL_START)[nseq + 1] - int_array(ARR_COL_START)[store.first_col];
  const int64_t records = entries.fill_records_used();
  const int64_t space = entries.element_space();
  // Without fill-in the merge only drops deleted elements.
  if (records > 0 && space < in_use + records) {
    begin_message(MSG_MPS_ELEMENT_SPACE);
    insert_message_int(static_cast<int32_t>(space));
    insert_message_int(static_cast<int32_t>(std::min<int64_t>(in_use + records, INT32_MAX)));
    emit_message();
    return false;
  }
  entries.merge_fill_in_records();
  return true;
}

}  // namespace

void presolve_eliminate(int32_t& eliminated, int32_t& conflict, int32_t& outcome) {
  eliminated = 0;
  conflict = 0;
  outcome = PRESOLVE_DONE;
  if (nrow <= 0 || nseq < store.first_col || (icv(ic::IPSLCT) & kSwitchEliminate) == 0) return;
  int32_t live_elements = 0;
  try {
    EliminationEntries entries;
    if (!entries.set_up()) {
      outcome = PRESOLVE_NO_MEMORY;
      return;
    }
    EliminationPass pass(entries);
    outcome = pass.run(eliminated);
    if (icv(ic::IFMSG) != 0) {
      begin_message(MSG_ELIMINATION_FILL_IN);
      insert_message_int(entries.fill_records_used());
      emit_message();
    }
    live_elements = entries.live_entries();
    // The eliminations made stay, also when the stack stopped the passes.
    if (eliminated > 0 && !merge_into_matrix(entries)) {
      if (outcome == PRESOLVE_DONE) outcome = PRESOLVE_FILL_CAPACITY;
      return;
    }
  } catch (const std::bad_alloc&) {
    outcome = PRESOLVE_NO_MEMORY;
    return;
  }
  if (eliminated > 0) {
    // The counts describe the reduced problem: nelem still holds the
    // elements of removed rows and columns, the live lists do not.
    presolve_state.counts.rows -= eliminated;
    presolve_state.counts.last_position -= eliminated;
    presolve_state.counts.elements = live_elements;
    // Coefficients, costs and bounds changed: the row copy and the activity
    // sums of the rounds are rebuilt for whoever reads them next.
    build_presolve_row_copy(0);
    compute_row_activity_bounds();
  }
}

}  // namespace kl
