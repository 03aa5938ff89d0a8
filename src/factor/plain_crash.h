// The plain crash: a triangular starting basis built without a running
// basic solution, for eta files too small to lend the tracking crash its
// room. Competing columns are decided by a preference for free and
// one-sided columns and by cost.
#ifndef KLSOL_FACTOR_PLAIN_CRASH_H
#define KLSOL_FACTOR_PLAIN_CRASH_H

#include <cstdint>

#include "factor/crash.h"

namespace kl {

// Thresholds at which the two phases of the plain crash end.
inline constexpr int32_t kPlainPhase1ThresholdLimit = 4;
inline constexpr int32_t kPlainPhase2ThresholdLimit = 8;
// Preference keys: free, one-sided and boxed variables.
inline constexpr int32_t kPlainFreePreference = 6;
inline constexpr int32_t kPlainOneSidedPreference = 2;
inline constexpr int32_t kPlainBoxedPreference = 0;
// A slack keeps its row against a costly column within this many points.
inline constexpr int32_t kPlainCostlyColumnMargin = 3;
// Pass-over counts cost one preference point per ten.
inline constexpr int32_t kPlainPassOverPerPoint = 10;

// Runs the plain crash; returns the number of structural columns made basic.
// The placement of nonbasic variables and the final step are the caller's.
// May throw std::bad_alloc (crash_basis catches it).
int32_t plain_crash(const CrashArguments& arguments);

}  // namespace kl

#endif
