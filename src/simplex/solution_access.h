// Reading the solution back: the bodies of KLSOLUTION, KLGETINF/KLIGETINF
// and KLGETIIS.
//
// Two sources serve a solution. The solution file (files/solution_file.h),
// which the LP driver writes after every optimisation, answers the plain
// forms between optimisations; the working arrays answer while IFMEM has
// bit 8 (set for the duration of KLMAXIM/KLMINIM, so callbacks read memory)
// or bit 0x10, and always for the I-forms of KLGETINF. Both sources give the
// same values in the caller's terms:
//   x            column values, unscaled;
//   slack        row slacks s_i of a_i x + s_i = b_i, unscaled (a G row's
//                slack is at most 0);
//   dual         y_i = d(objective)/d(b_i) for either sense;
//   reduced cost c_j - y'a_j for either sense.
// With IFOLDS non-zero the duals and reduced costs are instead the stored
// ones (internal sign: sense_factor x (c_j - y'a_j), rows likewise) times
// sense_factor.
//
// Rows are 1..nrow in the caller's base (row r - IFDBG), columns from 1
// (position - first_col + 1 - IFDBG). The cut rows of the global search
// (attribute 1012) are left out by the solution file and, with IFMEM bit
// 0x10, by the memory path.
#ifndef KLSOL_SIMPLEX_SOLUTION_ACCESS_H
#define KLSOL_SIMPLEX_SOLUTION_ACCESS_H

#include <cstdint>

namespace kl {

namespace routine {
inline constexpr const char* kGetiis = "getiis  ";
}  // namespace routine

// IFMEM bits read by the access bodies.
inline constexpr int32_t kIfmemInOptimiserCall = 0x8;
inline constexpr int32_t kIfmemLeaveOutCuts = 0x10;

// Body of KLSOLUTION: any array may be null. Errors: 91 no problem; 422 the
// memory path is asked for while the solution is not current; 122 with
// status 2 when the solution file cannot be opened, is cut short or does not
// fit the problem (nothing is taken as success that was not read whole).
void get_solution(double* x, double* slack, double* dual, double* reduced_cost);

// Body of KLGETINF (form 0) and KLIGETINF (form 1): the rows and columns
// whose value lies outside its bounds (primal) and the non-basic ones whose
// reduced cost has the wrong sign for the bound they sit at (dual), counted
// into the four counts and listed (caller's indices) into the lists that are
// not null. The solution file answers unless IFMEM has bit 8. The primal
// test of the plain form compares caller values with ZTOLZE; the I-form
// takes the file's outside-bounds bit or compares stored values. The dual
// test: at lower bound d < -ZTOLDJ, at upper bound d > ZTOLDJ, held between
// its bounds |d| > ZTOLDJ, d being the reduced cost of the column or of the
// row's slack in the optimiser's orientation. Fixed positions never count.
void get_infeasibilities(int32_t* primal_rows, int32_t* primal_cols, int32_t* dual_rows, int32_t* dual_cols,
                         int32_t* primal_row_list, int32_t* primal_col_list, int32_t* dual_row_list,
                         int32_t* dual_col_list, int32_t form);

// Body of KLGETIIS: the rows and columns of the last irreducible infeasible
// set (positions with status mark PS_PRESOLVE_TRACE left by the search);
// counts always, lists when given. With no search run, both counts are 0.
void get_iis(int32_t* column_count, int32_t* row_count, int32_t* column_list, int32_t* row_list);

}  // namespace kl

#endif
