// Power-of-two scaling of rows and columns.
#ifndef KLSOL_FACTOR_SCALING_H
#define KLSOL_FACTOR_SCALING_H

#include <cstdint>

namespace kl {

// Fresh exponents, applied to the stored problem and stamped into the status
// words; adds 100000 to result when the typed entries failed to scale.
void scale_problem(int32_t& result, int32_t& error);
void apply_scale_factors();
void row_scale_pass();
void column_scale_pass();
void row_scale_pass_alt();
void column_scale_pass_alt();
void scale_matrix();
void scale_typed_entries(int32_t& error);
// Body of KLSCALE (given: 1 row exponents present, + 2 column exponents
// present) and of the SCALE command (given 0).
void rescale_problem(const int32_t* row_exponents, const int32_t* col_exponents, int32_t given);

void zero_words32(void* destination, int64_t count);
void zero_words16(void* destination, int64_t count);

// 2^k for the exponent byte e = k + 64 (0 reads as 64).
double scale_power(uint32_t exponent_byte);

}  // namespace kl

#endif
