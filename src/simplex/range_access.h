// Reading the range file back: the ranges of every row and structural column
// as the caller sees them (unscaled, in the problem's own sense).
#ifndef KLSOL_SIMPLEX_RANGE_ACCESS_H
#define KLSOL_SIMPLEX_RANGE_ACCESS_H

namespace kl {

// Body of KLROWRANGE: per row of the range file, upper and lower activity,
// upper and lower unit cost. Any array may be null and is then not filled.
// Rows the file does not hold (cut rows of the global search) are left as
// they are. status_code 32 when the file cannot be opened or read.
void get_row_ranges(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                    double* lower_unit_cost);

// Body of KLCOLRANGE: the same per structural column, plus the upper and
// lower cost; prints the file's header first.
void get_column_ranges(double* upper_activity, double* lower_activity, double* upper_unit_cost,
                       double* lower_unit_cost, double* upper_cost, double* lower_cost);

}  // namespace kl

#endif
