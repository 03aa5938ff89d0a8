// Ranging: sensitivity analysis of an optimal basis and the range file.
//
// For every nonbasic position, how far its value may move up and down before
// a basic variable reaches a bound, and which one (the limiting variable);
// for every basic variable, how far its cost may fall and rise before the
// basis stops being optimal, which nonbasic position limits that, and how far
// the basic variable moves at that point. The results are written, unscaled,
// beside a copy of the solution file's records into the range file (the
// problem name with the extension "rng"); see files/solution_file.h for the
// record layout.
#ifndef KLSOL_SIMPLEX_RANGING_H
#define KLSOL_SIMPLEX_RANGING_H

#include <cstdint>
#include <vector>

namespace kl {

// The results of the last analysis, in scaled units, before unscaling by the
// writer. Kept by ranging itself (not in the numbered-array registry: the id
// the range work array would take is the LU factor's, which ranging needs
// alive while it writes).
struct RangeResults {
  // Per position 1..nseq (index 0 unused; spare rows and basic positions
  // keep their initial values except limit_down of a basic position, which
  // holds its basis row). Activity steps start at 0.
  std::vector<float> step_up;     // largest step up (P1)
  std::vector<float> step_down;   // largest step down (P2)
  std::vector<int32_t> limit_up;  // limiting variable, signed record number
  std::vector<int32_t> limit_down;
  // Per basis row 1..nrow (index 0 unused).
  std::vector<float> cost_down;    // A1: how far the basic cost may fall (1e30: unlimited)
  std::vector<float> cost_up;      // A2: how far it may rise
  std::vector<float> change_down;  // B1: move of the basic variable at the A1 limit
  std::vector<float> change_up;    // B2: at the A2 limit
  std::vector<int32_t> limiter_down;  // C1: record number of the limiting position
  std::vector<int32_t> limiter_up;    // C2
};
extern RangeResults range_results;

// Unlimited ratio and cost range.
inline constexpr double kRangeInfinity = 1e30;

// Body of KLRANGE and of the RANGE command. Needs an optimal solution of the
// current, unpresolved problem and the solution file of that optimisation.
// status_code: 0; 32 after message 11 (not optimal), 112 (presolved) or 122
// (solution file missing or unreadable, range file not creatable); the
// invert's status when the basis cannot be factorised.
void range_problem();

// The analysis on the factor of the current basis, then write_range_file.
void range_analysis();

// Record number of a position in the solution and range files: rows
// 1..rows in the file, then the columns numbered on. Cut rows added by the
// global search have no record there and get 0.
int32_t range_record_number(int32_t position);

// Negates every limiting index in list[0..length) that refers to a column
// at its upper bound or to a row whose type is not G (0 stays 0).
void fix_range_signs(int32_t* list, int32_t length);

// Writes the range file from the solution file and range_results. Failures:
// message 122 and status 32 (missing solution file, range file not
// creatable, short solution file); a transfer error keeps its status.
void write_range_file();

}  // namespace kl

#endif
