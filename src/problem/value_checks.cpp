#include "problem/value_checks.h"

#include <algorithm>
#include <cmath>

#include "klsol/message_ids.h"
#include "runtime/controls.h"
#include "runtime/frame.h"
#include "runtime/messages.h"

namespace kl {

namespace {

constexpr int32_t kRoutineNameChars = 8;

void report_not_finite(int32_t argument, int64_t k, const char* routine_name, int32_t status) {
  const int32_t entry = static_cast<int32_t>(std::clamp<int64_t>(k + 1 - icv(ic::IFDBG), INT32_MIN, INT32_MAX));
  error_number = MSG_VALUE_NOT_FINITE;
  error_value = entry;
  status_code = status;
  begin_message(MSG_VALUE_NOT_FINITE);
  insert_message_chars(routine_name, kRoutineNameChars);
  insert_message_int(argument);
  insert_message_int(entry);
  emit_message();
}

}  // namespace

bool value_usable(double value, ValueKind kind) {
  if (std::isnan(value)) return false;
  switch (kind) {
    case ValueKind::kFinite:
      return std::isfinite(value);
    case ValueKind::kLowerBound:
      return value != HUGE_VAL;
    case ValueKind::kUpperBound:
      return value != -HUGE_VAL;
    case ValueKind::kRange:
      return true;
  }
  return false;
}

bool check_value(double value, ValueKind kind, int32_t argument, int64_t k, const char* routine_name,
                 int32_t status) {
  if (value_usable(value, kind)) return true;
  report_not_finite(argument, k, routine_name, status);
  return false;
}

bool check_values(const double* values, int64_t begin, int64_t end, ValueKind kind, int32_t argument,
                  const char* routine_name, int32_t status) {
  for (int64_t k = begin; k < end; ++k) {
    if (!check_value(values[k], kind, argument, k, routine_name, status)) return false;
  }
  return true;
}

}  // namespace kl
