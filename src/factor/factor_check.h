// Checking code for the factor: residuals of solves against an independent
// dense product with the basis, and the consistency of the basis header,
// the status bits and the row chains of the eta file. Run by tests (and by
// whoever debugs the factor), never on the hot path.
#ifndef KLSOL_FACTOR_FACTOR_CHECK_H
#define KLSOL_FACTOR_FACTOR_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

namespace kl {

// The basis as a dense nrow x nrow matrix, column k = the column of the
// basic variable at position k (a slack is its unit column), rows by row
// index. Element (i, k) is at [(i - 1) * nrow + (k - 1)].
std::vector<double> dense_basis_matrix();

// max_i |(B x)_i - b_i| and max_k |(B' y)_k - c_k|, vectors 0-based by row
// (b, y) or by basis position (x, c).
double ftran_residual(const std::vector<double>& b, const std::vector<double>& x);
double btran_residual(const std::vector<double>& c, const std::vector<double>& y);

// Empty when the header names nrow distinct variables that all carry the
// basic bit, and no other position does; else a description of the first
// fault found.
std::string check_basis_consistency();

// Empty when the row chains of the eta file (ids 49, 69, 53 and eta_next)
// list exactly the slots the records hold, in rising order; else a
// description of the first fault found.
std::string check_solve_chains();

}  // namespace kl

#endif
