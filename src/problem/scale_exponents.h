// The scale record of the stored problem: the exponent byte every status
// word carries (see factor/scaling.h for how the factors are chosen and
// applied) and the two problem-wide marks that go with it. Loading, editing
// and the readers of the stored values read it, so it sits below the factor.
#ifndef KLSOL_PROBLEM_SCALE_EXPONENTS_H
#define KLSOL_PROBLEM_SCALE_EXPONENTS_H

#include <array>
#include <cstdint>

namespace kl {

// Exponent bytes of a factor 2^k: k + 64, within 1..127.
inline constexpr int32_t kMinScaleExponent = 1;
inline constexpr int32_t kMaxScaleExponent = 127;
inline constexpr int32_t kNeutralScaleExponent = 64;
// Powers a caller may ask for through KLSCALE.
inline constexpr int32_t kMaxCallerScalePower = 63;

// scale_powers[e] = 2^(e - 64) for e = 0..128: entry e is the factor of
// exponent byte e and entry 128 - e its inverse.
extern const std::array<double, 129> scale_powers;

// The exponent byte of a status word (0 reads as 64).
inline int32_t scale_exponent(int32_t status_word) {
  const int32_t e = static_cast<int32_t>(static_cast<uint32_t>(status_word) >> 24);
  return e == 0 ? kNeutralScaleExponent : e;
}
// 2^(e - 64) for an exponent byte e (0 reads as 64).
double scale_power(uint32_t exponent_byte);

// A power-of-two scale the dual simplex may put on the costs: its value sits
// in double slot kObjectiveScaleSlot, its exponent byte (biased by 64) in
// objective_scale_exponent. Applying factors resets both to 1.0 and 64.
extern int32_t objective_scale_exponent;

// Position of the row named by OBCNAM when a problem file was read (0 for
// none): scaling always leaves it at factor 1.
extern int32_t objective_name_row;

}  // namespace kl

#endif
