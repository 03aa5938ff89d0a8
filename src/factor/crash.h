// The crash: a triangular starting basis with as many structural columns
// basic as numerical dominance of the pivots allows. Two procedures: the
// tracking crash (keeps a running basic solution and refuses pivots that make
// the primal infeasibility worse; it needs eta_capacity >= 3 x nrow, the room
// it is entitled to borrow) and the plain crash (plain_crash.h).
//
// Both work in passes over rows and columns. The state of a row is kept in
// basis_header while the passes run:
//   0       open: its slack is basic and a column may still pivot there;
//   j > 0   column j was taken into the row in the current sweep;
//   -k < 0  closed: variable k is basic there for good (a free row: -row).
// A column may pivot in a row only while it has exactly one entry in the
// active rows (its count), so the basis stays triangular.
#ifndef KLSOL_FACTOR_CRASH_H
#define KLSOL_FACTOR_CRASH_H

#include <cstdint>
#include <vector>

#include "runtime/arrays.h"

namespace kl {

// Limits and scales of the crash procedures.
inline constexpr int32_t kCrashPassLimit = 6;           // threshold limit t
inline constexpr int32_t kCrashPassLimitLong = 32;      // t when ICRASH >= 10
inline constexpr int32_t kCrashLongThreshold = 10;       // ICRASH of the long form
inline constexpr int32_t kCrashShortRowsDivisor = 100;  // t := 0 when nrow < columns / 100
inline constexpr int32_t kCrashEtaFactor = 3;           // tracking needs 3 x nrow slots
inline constexpr int32_t kCrashDriverEtaFactor = 4;     // the driver needs M_E > 4 x nrow
inline constexpr int32_t kCrashMaxLeavingEntries = 10;  // denser leaving columns stay basic
inline constexpr int32_t kCrashBoundSweeps = 3;         // bound improvement sweeps
inline constexpr int32_t kCrashManyInfeasibilities = 100;
inline constexpr double kCrashCostScale = 1000.0;
inline constexpr double kCrashBoxWidth = 10.0;          // narrow box: put at the cheaper bound
inline constexpr double kCrashBoundRatio = 10000.0;     // far bound ratio of the leaving choice
inline constexpr double kCrashSumSlack = 0.1;           // sum may grow this much for 100 fewer
inline constexpr double kCrashTieFactor = 100.0;        // sums within 100 x ZTOLDA tie

// Row-key weights: 10 per non-fixed column, less a bonus by slack kind.
inline constexpr int32_t kCrashKeyPerColumn = 10;
inline constexpr int32_t kCrashKeyEquality = 6;
inline constexpr int32_t kCrashKeyRanged = 4;
inline constexpr int32_t kCrashKeyOneSided = 2;

// Values of CrashStats::last_procedure.
enum CrashProcedure : int32_t {
  CRASH_NONE = 0,
  CRASH_SLACK = 1,     // ICRASH < 0: the slack basis with the placement rule
  CRASH_TRACKING = 2,
  CRASH_PLAIN = 3,
};
const char* crash_procedure_text(int32_t procedure);

// Arguments of crash_basis besides the problem store (status words, row
// types, basis_header, the matrix and its row-wise copy, rhs, objective and
// bounds are the store's arrays).
struct CrashArguments {
  int32_t icrash = 0;                // ICRASH
  int32_t phase2_start = 2;          // threshold of phase 2
  double pcrash = 0.3;               // PCRASH: fraction of rows that may take a column freely
  int32_t algorithm_value = 3;       // 3 - lp_algorithm (3 for the primal)
  int32_t typed_entry_count = 0;     // successive-LP entries of the problem
  double ztolda = 1e-9;              // ZTOLDA
  double sense_factor = 1.0;         // +1 minimise, -1 maximise
  double ztcr = 0.995;               // ZTCR: pivot dominance ratio
  int32_t eta_capacity = 0;          // slots of the eta file in place
};

// Counters a test can read.
struct CrashStats {
  int32_t last_procedure = CRASH_NONE;
  int32_t accepted_columns = 0;      // insert of message 121
  int32_t passes = 0;
  int32_t redundant_rows = 0;        // rows found unable to leave their bounds
  int32_t implied_free_columns = 0;
  int32_t swaps_back = 0;            // slacks put back in place of columns
  int32_t bound_flips = 0;           // nonbasic variables moved to the other bound
  int32_t scratch_failures = 0;      // no memory for the working quantities: slack basis kept
};
extern CrashStats crash_stats;

// Builds the crash basis in basis_header and pos_status. Needs the row-wise
// copy and the slack basis in place. Ends with message 121 and ifnbas := 1
// (the caller's copy of IFNBAS).
void crash_basis(const CrashArguments& arguments, int32_t& ifnbas);

// Placement P of the nonbasic variables (after the plain crash and the slack
// crash): each at the bound its kind and cost prefer.
void place_nonbasic_variables(double sense_factor);

// Final step F: the free bit leaves every position that has a finite bound,
// message 121 with the accepted count, ifnbas := 1.
void finish_crash(int32_t accepted, int32_t& ifnbas);

// The passes shared by the two procedures: column counts over the active
// rows, row keys and order, the sweeps, the processing of rows that took a
// column, the row walk, the closing of crossed rows and the re-counting.
// A procedure supplies its sweep, its column trial and its end-of-pass rule.
class CrashPasses {
 public:
  explicit CrashPasses(const CrashArguments& arguments);
  virtual ~CrashPasses() = default;
  CrashPasses(const CrashPasses&) = delete;
  CrashPasses& operator=(const CrashPasses&) = delete;

  // Structural columns made basic so far.
  int32_t accepted() const { return accepted_; }

 protected:
  // The sweep of one pass: tries columns with no excluded row.
  virtual void sweep_columns() = 0;
  // Trial of column j with pivot row excluded (0 none). True when j was
  // taken into a row.
  virtual bool try_column(int32_t j, int32_t excluded) = 0;
  // End of a pass: threshold, over-limit flag and phase. True to stop.
  virtual bool end_of_pass(bool rows_kept, int32_t added) = 0;
  // Whether the row walk takes rows from the row order (else it only works
  // off the rows that took columns).
  virtual bool walks_row_order() const { return true; }

  // Row state 0 (open, slack basic), every column count computed, the row
  // keys and the row order built. Free rows (row_free_) are closed.
  void start_passes();
  // Passes while free rows plus accepted columns are fewer than the rows.
  void run_passes();

  // Views of the store.
  bool is_structural(int32_t k) const { return k >= first_col_; }
  bool finite_lower(int32_t k) const;
  bool finite_upper(int32_t k) const;
  bool fixed(int32_t k) const;
  bool basic(int32_t k) const;
  // Free: no finite bound, or found implied free by the crash.
  bool free_position(int32_t k) const;
  bool equality_row(int32_t i) const;
  bool row_open(int32_t i) const { return header_[i] == 0; }
  int32_t basic_in_row(int32_t i) const;
  // Value of a nonbasic variable at its bound (a free one at 0).
  double bound_value(int32_t k) const;
  int32_t column_entries(int32_t j) const { return col_start_[j + 1] - col_start_[j]; }
  // Pivot row and largest entry of column j among rows open or holding a
  // column of this sweep (step 2 of the trials); 0 when none.
  struct PivotChoice {
    int32_t row = 0;
    double entry = 0.0;
    double largest = -1.0;
    int32_t crossed_rows = 0;  // rows of j with a nonzero crossing count
  };
  PivotChoice choose_pivot_row(int32_t j, int32_t excluded, const std::vector<int32_t>& crossing) const;
  // The first rejections of every trial: count 1, pass-over count within the
  // threshold, neither basic nor fixed.
  bool passes_count_tests(int32_t j) const;
  // Contact counts of the nonbasic columns of row r rise by one.
  void raise_contacts(int32_t r);
  // Row r took column j in this sweep.
  void take_row(int32_t r, int32_t j);

  int32_t rows_ = 0;
  int32_t first_col_ = 0;
  int32_t last_col_ = 0;
  CrashArguments args_;
  OneBased<int32_t> status_;
  OneBased<int32_t> row_type_;
  OneBased<int32_t> header_;
  OneBased<int32_t> col_start_;
  OneBased<int32_t> elem_row_;
  OneBased<double> elem_value_;
  OneBased<int32_t> rc_start_;
  OneBased<int32_t> rc_col_;
  OneBased<double> rc_val_;
  OneBased<double> rhs_;
  OneBased<double> cost_;
  OneBased<double> lower_;
  OneBased<double> upper_;

  // Per position (index 0..nseq+1).
  std::vector<int32_t> count_;
  std::vector<int32_t> passover_;
  std::vector<int32_t> contact_;
  std::vector<uint8_t> implied_free_;
  // Per row (index 0..nrow): -1 done, 0 or 1 active; free marker (N row or
  // redundant row).
  std::vector<int8_t> done_;
  std::vector<uint8_t> row_free_;
  std::vector<int32_t> row_order_;
  std::vector<int32_t> kept_;
  std::vector<int32_t> received_;  // rows that took a column in this sweep
  std::vector<int32_t> queue_;

  int32_t threshold_ = 0;
  int32_t phase_ = 1;
  int32_t pass_ = 0;
  int32_t accepted_ = 0;
  int32_t free_rows_ = 0;
  int32_t limit_ = 0;  // L: more accepted columns put the procedure over the limit
  bool over_limit_ = false;

 private:
  void build_row_order();
  void count_columns();
  void close_received_rows();
  void walk_rows();
  void close_rows_crossed_by_basics();
  void recount_kept_rows();
  bool complete() const { return free_rows_ + accepted_ >= rows_; }
};

}  // namespace kl

#endif
