// Adding and deleting rows, columns and names of the loaded problem.
#include "api/export_frame.h"
#include "klsol32.h"
#include "problem/add_rows_cols.h"
#include "problem/add_rows_presolved.h"
#include "problem/delete_rows_cols.h"

extern "C" {

KLAPI int32_t KLADDROWS(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs,
                        const double* ranges, const int32_t* starts, const int32_t* cols, const double* values) {
  return kl::run_export(__func__, [&] {
    kl::addrow(nrows, nelems, row_types, rhs, ranges, starts, cols, values);
  });
}

KLAPI int32_t KLADDROWS_PRE(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs,
                            const double* ranges, const int32_t* starts, const int32_t* cols, const double* values,
                            int32_t* codes) {
  return kl::run_export_returning(__func__, [&]() -> int32_t {
    return kl::add_rows_presolved(kl::AddedRows{nrows, nelems, row_types, rhs, ranges, starts, cols, values}, codes);
  });
}

KLAPI int32_t KLADDCOLS(int32_t ncols, int32_t nelems, const double* objective, const int32_t* starts,
                        const int32_t* rows, const double* values, const double* lower, const double* upper) {
  return kl::run_export(__func__, [&] {
    kl::addcol(ncols, nelems, objective, starts, rows, values, lower, upper);
  });
}

KLAPI int32_t KLADDNAMES(int32_t type, const char* names, int32_t first, int32_t last) {
  return kl::run_export(__func__, [&] {
    kl::addnames(type, names, first, last);
  });
}

KLAPI int32_t KLDELROWS(int32_t nrows, const int32_t* rows) {
  return kl::run_export(__func__, [&] {
    kl::delrow(nrows, rows);
  });
}

KLAPI int32_t KLDELCOLS(int32_t ncols, const int32_t* cols) {
  return kl::run_export(__func__, [&] {
    kl::delcol(ncols, cols);
  });
}

}  // extern "C"
