// Solution, basis and pivot access.
#include "api/export_frame.h"
#include "klsol32.h"
#include "simplex/basis_access.h"
#include "simplex/pivot_access.h"
#include "simplex/solution_access.h"

extern "C" {

KLAPI int32_t KLSOLUTION(double* x, double* slack, double* dual, double* reduced_cost) {
  return kl::run_export(__func__, [&] {
    kl::get_solution(x, slack, dual, reduced_cost);
  });
}

KLAPI int32_t KLGETBASIS(int32_t* row_status, int32_t* col_status) {
  return kl::run_export(__func__, [&] {
    kl::get_basis(row_status, col_status, kl::FORM_PLAIN);
  });
}

KLAPI int32_t KLIGETBASIS(int32_t* row_status, int32_t* col_status) {
  return kl::run_export(__func__, [&] {
    kl::get_basis(row_status, col_status, kl::FORM_INTERNAL);
  });
}

KLAPI int32_t KLLOADBASIS(const int32_t* row_status, const int32_t* col_status) {
  return kl::run_export(__func__, [&] {
    kl::ldbasis(row_status, col_status, kl::FORM_PLAIN);
  });
}

KLAPI int32_t KLILOADBASIS(const int32_t* row_status, const int32_t* col_status) {
  return kl::run_export(__func__, [&] {
    kl::ldbasis(row_status, col_status, kl::FORM_INTERNAL);
  });
}

KLAPI int32_t KLGETINF(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                       int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list,
                       int32_t* dual_col_list) {
  return kl::run_export(__func__, [&] {
    kl::get_infeasibilities(primal_rows, primal_cols, dual_rows, dual_cols, primal_row_list, primal_col_list,
                            dual_row_list, dual_col_list, kl::FORM_PLAIN);
  });
}

KLAPI int32_t KLIGETINF(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                        int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list,
                        int32_t* dual_col_list) {
  return kl::run_export(__func__, [&] {
    kl::get_infeasibilities(primal_rows, primal_cols, dual_rows, dual_cols, primal_row_list, primal_col_list,
                            dual_row_list, dual_col_list, kl::FORM_INTERNAL);
  });
}

KLAPI int32_t KLGETIIS(int32_t* ncols, int32_t* nrows, int32_t* cols, int32_t* rows) {
  return kl::run_export(__func__, [&] {
    kl::get_iis(ncols, nrows, cols, rows);
  });
}

KLAPI int32_t KLPIVOT(int32_t entering, int32_t leaving) {
  return kl::run_export(__func__, [&] {
    kl::pivot_basis(entering, leaving);
  });
}

KLAPI int32_t KLGETPIVOTS(int32_t entering, int32_t* list, double* solution, double* objective, int32_t* count,
                          int32_t maximum) {
  return kl::run_export(__func__, [&] {
    kl::get_pivots(entering, list, solution, objective, count, maximum);
  });
}

KLAPI int32_t KLGETBASICPIV(int32_t* header) {
  return kl::run_export(__func__, [&] {
    kl::get_basic_pivots(header);
  });
}

}  // extern "C"
