// Fixed-width number fields written digit by digit, so that every report,
// file and message shows a number the same way whatever the C library's
// formatting does.
#include "runtime/number_fields.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kl {

namespace {

constexpr int kFieldWidth = 12;
constexpr int kPointColumn = 5;  // index of column 6
constexpr int kMaxFixedDigits = 4;  // integer digits below 10^4 leave column 1 for the sign

// Constants of the real fields in the precision of the value formatted.
template <class T>
struct FieldConstants;

template <>
struct FieldConstants<double> {
  static constexpr double kTiny = 1e-30;
  // 5e-7 held in single precision: the rounding half of the sixth decimal.
  static constexpr double kFixedHalf = 4.999999987376214e-7;
  static constexpr double kExponentHalf = 5e-6;
  static constexpr double kWideExponentHalf = 5e-5;
  // Values a hair below a power of ten count as that power.
  static constexpr double kExponentFactor = 1.00000011921;
  static constexpr double kScale[7] = {1.0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6};
};

template <>
struct FieldConstants<float> {
  static constexpr float kTiny = 1e-30f;
  static constexpr float kFixedHalf = 5e-7f;
  static constexpr float kExponentHalf = 5e-6f;
  static constexpr float kWideExponentHalf = 5e-5f;
  static constexpr float kExponentFactor = 1.00000011921f;
  static constexpr float kScale[7] = {1.0f, 1e-1f, 1e-2f, 1e-3f, 1e-4f, 1e-5f, 1e-6f};
};

void put_digits(int64_t v, char* field, int width) {
  for (int i = width - 1; i >= 0; --i) {
    field[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

void put_right_aligned(const char* text, char* field) {
  const int n = static_cast<int>(std::strlen(text));
  std::memset(field, ' ', kFieldWidth - n);
  std::memcpy(field + kFieldWidth - n, text, n);
}

// Fixed form: five integer digits, the point, six decimals; then the point
// moves right by shift places. Returns false, writing nothing, when the
// integer part would reach column 1 and leave no room for the sign.
template <class T>
bool format_fixed(char sign, T x, int shift, char* field) {
  using C = FieldConstants<T>;
  x += C::kFixedHalf;
  const int64_t whole = static_cast<int64_t>(x);
  if (whole >= 10000) return false;
  const T fraction = (x - static_cast<T>(whole)) * static_cast<T>(10000);
  int64_t first = static_cast<int64_t>(fraction);
  int64_t second = static_cast<int64_t>((fraction - static_cast<T>(first)) * static_cast<T>(100));
  if (first > 9999) first = 9999;
  if (second > 99) second = 99;

  char c[kFieldWidth];
  put_digits(whole, c, 5);
  c[kPointColumn] = '.';
  put_digits(first, c + 6, 4);
  put_digits(second, c + 10, 2);
  for (int i = 0; i < shift; ++i) c[kPointColumn + i] = c[kPointColumn + i + 1];
  c[kPointColumn + shift] = '.';

  int lead = 0;
  while (c[lead] == '0') c[lead++] = ' ';
  c[lead - 1] = sign;  // lead >= 1: the integer part has at most four digits
  std::memcpy(field, c, kFieldWidth);
  return true;
}

// Exponent form: sign, one digit, point, five digits, "E", exponent sign and
// two digits. Exponents of three digits (beyond 1e99) take a place from the
// mantissa so the field keeps its width and the exponent its value.
template <class T>
void format_exponent(char sign, T x, int p, char* field) {
  using C = FieldConstants<T>;
  // Dividing by an exact power of ten rounds once where multiplying by an
  // inexact reciprocal rounds twice.
  const auto scaled = [&](int power, T half) {
    const T scale = static_cast<T>(std::pow(10.0, std::abs(power)));
    return (power >= 0 ? x / scale : x * scale) + half;
  };
  T half = C::kExponentHalf;
  T m = scaled(p, half);
  if (static_cast<int64_t>(m) >= 10) {
    m /= 10;
    ++p;
  } else if (m < 1) {
    --p;
    m = scaled(p, half);
  }
  int decimals = 5;
  if (std::abs(p) >= 100) {
    decimals = 4;
    half = C::kWideExponentHalf;
    m = scaled(p, half);
    if (static_cast<int64_t>(m) >= 10) {
      m /= 10;
      ++p;
    }
  }
  char* f = field;
  *f++ = sign;
  int64_t digit = static_cast<int64_t>(m);
  *f++ = static_cast<char>('0' + digit);
  *f++ = '.';
  for (int i = 0; i < decimals; ++i) {
    m = (m - static_cast<T>(digit)) * static_cast<T>(10);
    digit = static_cast<int64_t>(m);
    if (digit > 9) digit = 9;
    *f++ = static_cast<char>('0' + digit);
  }
  *f++ = 'E';
  *f++ = p < 0 ? '-' : '+';
  put_digits(std::abs(p), f, decimals == 5 ? 2 : 3);
}

template <class T>
void format_real_field(T x, char* field) {
  using C = FieldConstants<T>;
  if (std::isnan(x)) {
    put_right_aligned("NaN", field);
    return;
  }
  const char sign = x < 0 ? '-' : ' ';
  x = std::fabs(x);
  if (std::isinf(x)) {
    put_right_aligned(sign == '-' ? "-Inf" : "Inf", field);
    return;
  }
  if (x < C::kTiny) {
    format_fixed<T>(sign, x, 0, field);
    return;
  }
  // The nudge must not push the largest values to infinity.
  const T nudged = std::isinf(C::kExponentFactor * x) ? x : C::kExponentFactor * x;
  const int e = static_cast<int>(std::log10(nudged) + static_cast<T>(1));
  if (e >= -1 && e <= kMaxFixedDigits) {
    if (format_fixed<T>(sign, x, 0, field)) return;
  } else if (e >= 5 && e <= 10) {
    const int shift = e - kMaxFixedDigits;
    if (format_fixed<T>(sign, x * C::kScale[shift], shift, field)) return;
  }
  format_exponent<T>(sign, x, e > 0 ? e - 1 : e - 2, field);
}

int digit_count(int64_t v) {
  int count = 1;
  while (v >= 10) {
    v /= 10;
    ++count;
  }
  return count;
}

}  // namespace

void format_double_field(double x, char* field) { format_real_field<double>(x, field); }

void format_float_field(float x, char* field) { format_real_field<float>(x, field); }

int32_t format_double_free(double x, char* buffer) {
  constexpr int kDecimals = 14;
  constexpr double kHalf = 5e-15;
  constexpr double kTiny = 1e-300;
  if (std::isnan(x)) {
    std::memcpy(buffer, " NaN", 4);
    return 4;
  }
  int32_t n = 0;
  buffer[n++] = x < 0 ? '-' : ' ';
  x = std::fabs(x);
  if (std::isinf(x)) {
    std::memcpy(buffer + n, "Inf", 3);
    return n + 3;
  }
  if (x < kTiny) {
    std::memcpy(buffer, " 0.0", 4);
    return 4;
  }
  const double nudged = std::isinf(x * (1.0 + std::ldexp(1.0, -52))) ? x : x * (1.0 + std::ldexp(1.0, -52));
  int e = static_cast<int>(std::log10(nudged));
  if (nudged < 1.0) --e;
  const auto scaled = [x](int power) {
    return (power >= 0 ? x / std::pow(10.0, power) : x * std::pow(10.0, -power)) + kHalf;
  };
  double m = scaled(e);
  if (static_cast<int64_t>(m) >= 10) {
    m /= 10;
    ++e;
  } else if (m < 1.0) {
    --e;
    m = scaled(e);
  }
  // All fifteen digits at once: m x 10^14 stays below 2^53, so it is one
  // rounding instead of fourteen.
  constexpr int64_t kDigitScale = 100000000000000;  // 10^14
  int64_t digits = static_cast<int64_t>(m * static_cast<double>(kDigitScale));
  if (digits >= 10 * kDigitScale) digits = 10 * kDigitScale - 1;
  buffer[n++] = static_cast<char>('0' + digits / kDigitScale);
  buffer[n++] = '.';
  char decimals[kDecimals];
  put_digits(digits % kDigitScale, decimals, kDecimals);
  int kept = kDecimals;
  while (kept > 1 && decimals[kept - 1] == '0') --kept;
  std::memcpy(buffer + n, decimals, kept);
  n += kept;
  if (e != 0) {
    buffer[n++] = 'E';
    buffer[n++] = e < 0 ? '-' : '+';
    const int width = digit_count(std::abs(e));
    put_digits(std::abs(e), buffer + n, width);
    n += width;
  }
  return n;
}

int32_t format_int_field6(int32_t n, char* field) {
  constexpr int kWidth = 6;
  const int64_t v = std::llabs(static_cast<int64_t>(n));
  const int digits = digit_count(v);
  const int needed = digits + (n < 0 ? 1 : 0);
  const int width = needed > kWidth ? needed : kWidth;
  put_digits(v, field + width - digits, digits);
  int i = width - digits - 1;
  if (i >= 0) field[i--] = n < 0 ? '-' : ' ';
  for (; i >= 0; --i) field[i] = ' ';
  return width;
}

void format_int_field5(int32_t n, char* field) {
  put_digits(std::llabs(static_cast<int64_t>(n)) % 100000, field, 5);
}

// At most the last 8 digits: a name has no room for more.
void format_int_field8(int32_t n, char* name) {
  constexpr int kNameWidth = 8;
  int64_t v = std::llabs(static_cast<int64_t>(n));
  const int digits = digit_count(v) < kNameWidth ? digit_count(v) : kNameWidth;
  put_digits(v, name + kNameWidth - digits, digits);
}

int32_t format_int_digits(int32_t n, char* buffer) {
  const int64_t v = std::llabs(static_cast<int64_t>(n));
  int32_t count = 0;
  if (n < 0) buffer[count++] = '-';
  const int digits = digit_count(v);
  put_digits(v, buffer + count, digits);
  return count + digits;
}

double compute_log10(const double& x) { return std::log10(x); }
double compute_log(const double& x) { return std::log(x); }
double compute_sqrt(const double& x) { return std::sqrt(x); }

// Squaring keeps large powers to a few dozen multiplications.
double raise_to_int_power(const double& x, const int32_t& n) {
  uint64_t k = static_cast<uint64_t>(std::llabs(static_cast<int64_t>(n)));
  double result = 1.0;
  double base = x;
  while (k != 0) {
    if ((k & 1) != 0) result *= base;
    k >>= 1;
    if (k != 0) base *= base;
  }
  return n < 0 ? 1.0 / result : result;
}

}  // namespace kl
