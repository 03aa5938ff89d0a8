#include "problem/scale_exponents.h"

namespace kl {

namespace {

constexpr double power_of_two(int k) {
  double value = 1.0;
  for (; k > 0; --k) value *= 2.0;
  for (; k < 0; ++k) value /= 2.0;
  return value;
}

constexpr std::array<double, 129> make_scale_powers() {
  std::array<double, 129> table{};
  for (int e = 0; e <= 128; ++e) table[e] = power_of_two(e - kNeutralScaleExponent);
  return table;
}

}  // namespace

constexpr std::array<double, 129> scale_powers = make_scale_powers();
int32_t objective_scale_exponent = kNeutralScaleExponent;
int32_t objective_name_row = 0;

double scale_power(uint32_t exponent_byte) {
  return scale_powers[exponent_byte == 0 || exponent_byte > 128 ? kNeutralScaleExponent : exponent_byte];
}

}  // namespace kl
