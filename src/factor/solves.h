// FTRAN (B x = a) and BTRAN (B' y = c) with the factor in the eta file, on
// the work vector; the work-vector services; the exported solves.
//
// A full FTRAN is ftran_invert_part then ftran_update_part on the work vector;
// a full BTRAN is btran_update_part then btran_invert_part. The passes do no
// checks: they need a valid factor (problem flag 0x200). Each pass on the
// work vector leaves work_vector_state 1: the vector is dense afterwards and
// a nonzero list it had no longer describes it.
//
// The update etas are row etas (IFFTUP 1) or product-form etas (IFFTUP 0,
// basis.h). The passes apply whichever the file holds: row etas belong to
// the invert part, product-form etas follow U in FTRAN and precede it in
// BTRAN, so the same two-pass solves serve both configurations.
#ifndef KLSOL_FACTOR_SOLVES_H
#define KLSOL_FACTOR_SOLVES_H

#include <cstdint>

#include "runtime/arrays.h"

namespace kl {

// First FTRAN pass: diagonal and L column etas, then the row etas.
void ftran_invert_part();
// Second FTRAN pass (back substitution with U) on a vector indexed by row.
void ftran_update_part(OneBased<double> vector);
// First BTRAN pass: U transposed.
void btran_update_part();
// Second BTRAN pass: row etas newest first, then L column and diagonal etas.
void btran_invert_part();

// Drops entries whose magnitude is below tolerance (compared on the upper
// 32 bits), rebuilds the nonzero list; work_vector_state := 2.
void sparsify_work_vector(double tolerance);
// Zeroes the work vector as its state allows; state and count unchanged.
void clear_work_vector();
// first := u_file_end + invert_part_size (the fill figure), second := 0.
void get_eta_file_usage(int32_t& first, int32_t& second);

// The full FTRAN and BTRAN under the names the product-form configuration
// (IFFTUP 0) calls them by.
void eta_backward_pass();
void btran_product_form();
// Full solves on the work vector.
void basis_solve_work_vector();
void basis_btran_work_vector();
// Row r of the inverse times value, left listed in the work vector: e_r'
// solved through the hypersparse path (densely under product-form updates)
// and sparsified with ZTETA when it ended dense.
void btran_unit_row(int32_t r, double value);

// Pieces the hypersparse solves finish with when they fall back to a dense
// sweep. Records are named by their top boundary (FTRAN, walking down) or
// bottom boundary (BTRAN, walking up).
void ftran_invert_records_from(OneBased<double> x, int32_t top_boundary);
void ftran_row_etas(OneBased<double> x);
void ftran_row_etas_from(OneBased<double> x, int32_t top_boundary);
void btran_row_etas_from(OneBased<double> x, int32_t bottom_boundary, double drop_tolerance);
void btran_invert_records_from(OneBased<double> x, int32_t bottom_boundary);
// The row-eta pieces above do nothing while the update etas are product-form
// ones; these apply those (none after a row-eta update), and U' alone.
void ftran_product_form_etas(OneBased<double> x);
void btran_product_form_etas(OneBased<double> x);
void btran_u_file(OneBased<double> x);

// Bodies of KLFTRAN / KLIFTRAN (flag 0 / 1) and KLBTRAN / KLIBTRAN: the
// caller's nrow values are solved in place. Flag 0 takes and returns the
// problem as the caller gave it; flag 1 works on the stored, scaled form.
// Refactorises first when the factor is not valid or is permuted; when that
// fails the status word says why and the vector is left as it was.
void ftran_user_vector(double* vector, int32_t flag);
void btran_user_vector(double* vector, int32_t flag);

}  // namespace kl

#endif
