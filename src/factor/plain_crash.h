// The plain crash: a triangular starting basis built without a running
// basic solution, for eta files too small to lend the tracking crash its
// work space. Competing columns are decided by a preference for free and
// one-sided columns and by cost.
#ifndef KLSOL_FACTOR_PLAIN_CRASH_H
#define KLSOL_FACTOR_PLAIN_CRASH_H

#include <cstdint>

#include "factor/crash.h"

namespace kl {

inline constexpr int32_t kPlainPhase1ThresholdLimit = 4;
inline constexpr int32_t kPlainPhase2ThresholdLimit = 8;
inline constexpr int32_t kPlainFreePreference = 6;
inline constexpr int32_t kPlainOneSidedPreference = 2;
inline constexpr int32_t kPlainBoxedPreference = 0;

// Runs the plain crash; returns the number of structural columns made basic.
// The placement P and the final step F are the caller's (crash_basis).
int32_t plain_crash(const CrashArguments& arguments);

}  // namespace kl

#endif
