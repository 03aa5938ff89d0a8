// Matrix storage: the row-wise copy, the column-wise matrix rebuilt from it,
// the solver work arrays, the row lists and the growth of problem storage.
#ifndef KLSOL_PROBLEM_MATRIX_STORAGE_H
#define KLSOL_PROBLEM_MATRIX_STORAGE_H

#include <cstdint>

namespace kl {

// Every routine returning int32_t returns a failure code: 0, or the id of
// the array that could not be allocated.
int32_t alloc_solver_work_arrays();
void free_solver_work_arrays();
void build_row_copy();
void build_column_copy();
int32_t alloc_row_lists();
void build_row_lists();
void free_row_lists();
void unlink_entering_column(int32_t position);
void link_leaving_column(int32_t position);
// Makes room for additions; a failure leaves the problem as it was.
int32_t grow_problem_storage(int32_t rows, int32_t columns, int64_t elements, int32_t entities);

}  // namespace kl

#endif
