// Adding and deleting rows, columns and names of the loaded problem.
#include "api/export_frame.h"
#include "klsol32.h"
#include "problem/add_rows_cols.h"
#include "problem/delete_rows_cols.h"

extern "C" {

KLAPI int32_t KLADDROWS(int32_t nrows, int32_t nelems, const char* row_types, const double* rhs,
                        const double* ranges, const int32_t* starts, const int32_t* cols, const double* values) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::addrow(nrows, nelems, row_types, rhs, ranges, starts, cols, values);
  return kl::status_code;
}

KLAPI int32_t KLADDCOLS(int32_t ncols, int32_t nelems, const double* objective, const int32_t* starts,
                        const int32_t* rows, const double* values, const double* lower, const double* upper) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::addcol(ncols, nelems, objective, starts, rows, values, lower, upper);
  return kl::status_code;
}

KLAPI int32_t KLADDNAMES(int32_t type, const char* names, int32_t first, int32_t last) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::addnames(type, names, first, last);
  return kl::status_code;
}

KLAPI int32_t KLDELROWS(int32_t nrows, const int32_t* rows) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::delrow(nrows, rows);
  return kl::status_code;
}

KLAPI int32_t KLDELCOLS(int32_t ncols, const int32_t* cols) {
  if (kl::refused_before_start()) return kl::status_code;
  kl::delcol(ncols, cols);
  return kl::status_code;
}

}  // extern "C"
