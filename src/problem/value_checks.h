// Checks that the reals a caller hands to a load or an edit are numbers the
// store can hold: a NaN or an infinite coefficient, cost, right-hand side or
// range would be stored as it is and reach the optimisers, which then report
// "optimal" with a NaN objective or a false cut-off. Bounds may be infinite
// in their own direction (a lower bound of minus infinity, an upper bound of
// plus infinity), as the library's 1e20 already is.
//
// Each check reports the first bad entry with message 975 (routine name, the
// export's argument number and the entry as the caller counts it, from 0
// under IFDBG 1), sets error_number 975, error_value the entry and the given
// status word, and returns false; it changes nothing else.
#ifndef KLSOL_PROBLEM_VALUE_CHECKS_H
#define KLSOL_PROBLEM_VALUE_CHECKS_H

#include <cstdint>

namespace kl {

enum class ValueKind {
  kFinite,      // coefficients, costs, right-hand sides
  kLowerBound,  // finite or minus infinity
  kUpperBound,  // finite or plus infinity
  kRange,       // finite or infinite either way (a range beyond 5e19 is none)
};

bool value_usable(double value, ValueKind kind);

// Entry k (0-based) of an argument holding value.
bool check_value(double value, ValueKind kind, int32_t argument, int64_t k, const char* routine_name,
                 int32_t status);
// Entries begin .. end - 1 of values.
bool check_values(const double* values, int64_t begin, int64_t end, ValueKind kind, int32_t argument,
                  const char* routine_name, int32_t status);

}  // namespace kl

#endif
