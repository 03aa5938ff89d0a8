// Changing the loaded problem: bounds, coefficients, costs, the quadratic
// objective, right-hand sides, ranges, row and column types.
#include "api/export_frame.h"
#include "klsol32.h"
#include "problem/change_problem.h"
#include "problem/quadratic_edit.h"

extern "C" {

KLAPI int32_t KLCHGBDS(int32_t count, const int32_t* cols, const char* letters, const double* values) {
  return kl::run_export(__func__, [&] {
    kl::chgbds(count, cols, letters, values);
  });
}

KLAPI int32_t KLCHGCOF(int32_t row, int32_t col, double value) {
  return kl::run_export(__func__, [&] {
    kl::chgcof(row, col, value);
  });
}

KLAPI int32_t KLCHGMCOF(const int32_t* rows, const int32_t* cols, const double* values, int32_t count) {
  return kl::run_export(__func__, [&] {
    kl::chgmcof(rows, cols, values, count);
  });
}

KLAPI int32_t KLCHGOBJ(int32_t count, const int32_t* cols, const double* values) {
  return kl::run_export(__func__, [&] {
    kl::chgobj(count, cols, values);
  });
}

KLAPI int32_t KLCHGQOBJ(int32_t col1, int32_t col2, double value) {
  return kl::run_export_returning(__func__, [&] { return kl::chg_qobj_one(col1, col2, value); });
}

KLAPI int32_t KLCHGMQOBJ(const int32_t* cols1, const int32_t* cols2, const double* values, int32_t count) {
  return kl::run_export_returning(__func__, [&] { return kl::chg_qobj_many(cols1, cols2, values, count); });
}

KLAPI int32_t KLCHGRHS(int32_t count, const int32_t* rows, const double* values) {
  return kl::run_export(__func__, [&] {
    kl::chgrhs(count, rows, values);
  });
}

KLAPI int32_t KLCHGRNG(int32_t count, const int32_t* rows, const double* values) {
  return kl::run_export(__func__, [&] {
    kl::chgrng(count, rows, values);
  });
}

KLAPI int32_t KLCHGROWTYPE(int32_t count, const int32_t* rows, const char* types) {
  return kl::run_export(__func__, [&] {
    kl::chgrowtype(count, rows, types);
  });
}

KLAPI int32_t KLCHGCOLTYPE(int32_t count, const int32_t* cols, const char* types) {
  return kl::run_export(__func__, [&] {
    kl::chgcoltype(count, cols, types);
  });
}

}  // extern "C"
