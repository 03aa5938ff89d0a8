// The crash: a triangular starting basis with as many structural columns
// basic as numerical dominance of the pivots allows. Two procedures: the
// tracking crash (keeps a running basic solution and refuses pivots that make
// the primal infeasibility worse; borrows the eta-file arrays, so it needs
// eta_capacity >= 3 x nrow) and the plain crash (plain_crash.h).
#ifndef KLSOL_FACTOR_CRASH_H
#define KLSOL_FACTOR_CRASH_H

#include <cstdint>

namespace kl {

// Pass limits and scales of the crash procedures.
inline constexpr int32_t kCrashPassLimit = 6;          // threshold limit t
inline constexpr int32_t kCrashPassLimitLong = 32;     // t when ICRASH >= 10
inline constexpr int32_t kCrashLongThreshold = 10;     // ICRASH of the long form
inline constexpr int32_t kCrashEtaFactor = 3;          // tracking needs 3 x nrow slots
inline constexpr int32_t kCrashDriverEtaFactor = 4;    // the driver needs M_E > 4 x nrow
inline constexpr int32_t kCrashMaxLeavingEntries = 10; // leaving column density limit
inline constexpr double kCrashCostScale = 1000.0;
inline constexpr double kCrashBoxWidth = 10.0;         // narrow box: put at the cheaper bound
inline constexpr double kCrashBoundRatio = 10000.0;    // far bound ratio of the leaving choice

// Inputs of crash_basis besides the problem store (status words, row types,
// basis_header, the matrix and its row-wise copy, rhs, objective and bounds
// are read from the store's arrays; the work arrays and the eta file are
// borrowed).
struct CrashArguments {
  int32_t icrash = 0;                // ICRASH
  int32_t phase2_start = 2;          // threshold of phase 2
  double pcrash = 0.3;               // PCRASH
  int32_t algorithm_value = 3;       // 3 - lp_algorithm (3 for the primal)
  int32_t typed_entry_count = 0;     // successive-LP entries of the problem
  double ztolda = 1e-9;              // ZTOLDA
  double sense_factor = 1.0;         // +1 minimise, -1 maximise
  double ztcr = 0.995;               // ZTCR
};

// Counters a test can read.
struct CrashStats {
  int32_t last_procedure = 0;        // 0 none, 1 slack (ICRASH < 0), 2 tracking, 3 plain
  int32_t accepted_columns = 0;      // insert of message 121
  int32_t passes = 0;
  int32_t redundant_rows = 0;
  int32_t swaps_back = 0;            // tracking: slacks swapped back in
};
extern CrashStats crash_stats;

// Builds the crash basis in basis_header and pos_status; needs the row-wise
// copy and the slack basis in place. Ends with message 121 and IFNBAS := 1
// (ifnbas is the caller's copy of IFNBAS, set to 1).
void crash_basis(const CrashArguments& arguments, int32_t& ifnbas);

// Placement P of the nonbasic variables (after the plain crash and the slack
// crash): at the cheaper or nearer bound by the rules of the crash.
void place_nonbasic_variables(double sense_factor);

// Final step F: free bits of bounded positions cleared, message 121 with the
// accepted count, IFNBAS := 1.
void finish_crash(int32_t accepted, int32_t& ifnbas);

}  // namespace kl

#endif
