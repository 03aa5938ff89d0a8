// Fixed-width number fields of the files, reports and message inserts, and
// the small mathematical wrappers. None writes a terminator.
#ifndef KLSOL_RUNTIME_NUMBER_FIELDS_H
#define KLSOL_RUNTIME_NUMBER_FIELDS_H

#include <cstdint>

namespace kl {

void format_double_field(double x, char* field);   // 12 characters
void format_float_field(float x, char* field);     // 12 characters
// Up to 24 characters; returns their count.
int32_t format_double_free(double x, char* buffer);
// Right-aligned in 6 characters. Values needing more room (below -99999 or
// above 999999) are written whole, so field must hold 12 characters; the
// return value is the width used.
int32_t format_int_field6(int32_t n, char* field);
void format_int_field5(int32_t n, char* field);    // exactly 5 digits
void format_int_field8(int32_t n, char* name);     // digits end at character 8
int32_t format_int_digits(int32_t n, char* buffer);

double compute_log10(const double& x);
double compute_log(const double& x);
double compute_sqrt(const double& x);
double raise_to_int_power(const double& x, const int32_t& n);

}  // namespace kl

#endif
