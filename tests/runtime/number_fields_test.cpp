// Fixed-width number fields: the 12-character real fields in both
// precisions, the free-width real, the integer fields and the power helper.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/number_fields.h"

namespace {

// The field written between guard bytes, which must survive.
template <class T>
std::string real_field(T x) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  if constexpr (std::is_same_v<T, float>)
    kl::format_float_field(x, buffer + 2);
  else
    kl::format_double_field(x, buffer + 2);
  EXPECT_EQ(std::string(buffer, 2), "##") << x;
  EXPECT_EQ(std::string(buffer + 14, 2), "##") << x;
  return std::string(buffer + 2, 12);
}

std::string free_field(double x) {
  char buffer[26];
  std::memset(buffer, '#', sizeof buffer);
  const int32_t n = kl::format_double_free(x, buffer);
  EXPECT_LE(n, 24);
  EXPECT_EQ(buffer[n], '#');
  return std::string(buffer, static_cast<std::size_t>(n));
}

struct RealCase {
  double x;
  const char* field;
};

TEST(NumberFields, DoubleFieldExamples) {
  const RealCase cases[] = {
      {12.5, "   12.500000"},       {-0.25, "    -.250000"},      {123456.789, " 123456.7890"},
      {1234567890, " 1234567890."},  {1.5e20, " 1.50000E+20"},     {0.0005, " 5.00000E-04"},
      {0, "     .000000"},           {9999.9999999, " 10000.00000"}, {1e-30, " 1.00000E-30"},
      {9.99e-31, "     .000000"},    {-12345, "-12345.00000"},      {0.1, "     .100000"},
      {1, "    1.000000"},           {0.01, "     .010000"},       {-1234567890, "-1234567890."},
      {-1.5e-7, "-1.50000E-07"},     {1e10, " 1.00000E+10"},       {99999.5, " 99999.50000"},
      {2.5e123, " 2.5000E+123"},     {-1.7e308, "-1.7000E+308"},    {1.7976931348623157e308, " 1.7977E+308"},
  };
  for (const RealCase& c : cases) EXPECT_EQ(real_field(c.x), c.field) << c.x;
}

TEST(NumberFields, FloatFieldUsesSinglePrecision) {
  const RealCase cases[] = {
      {12.5, "   12.500000"}, {-0.25, "    -.250000"}, {1.5e20, " 1.50000E+20"},
      {0, "     .000000"},  {3.0e38, " 3.00000E+38"}, {1e-30, " 1.00000E-30"},
  };
  for (const RealCase& c : cases) EXPECT_EQ(real_field(static_cast<float>(c.x)), c.field) << c.x;
  // 0.1f is 0.100000001...; the single-precision rounding gives the same field.
  EXPECT_EQ(real_field(0.1f), "     .100000");
}

// Around every power of ten and the edges of the fixed range, in both signs:
// the field stays within its 12 characters, keeps a column for the sign, and
// reads back as the value to the precision it shows.
template <class T>
void check_field_sweep() {
  const double nudges[] = {-1e-6, -5e-7, -1e-9, -1e-12, 0, 1e-12, 1e-9, 5e-7, 1e-6};
  for (int p = -31; p <= 37; ++p) {
    for (double nudge : nudges) {
      for (double sign : {1.0, -1.0}) {
        const double x = sign * std::pow(10.0, p) * (1 + nudge);
        const std::string field = real_field(static_cast<T>(x));
        const std::size_t first = field.find_first_not_of(' ');
        ASSERT_NE(first, std::string::npos);
        if (sign < 0) {
          EXPECT_EQ(field[first], '-') << field;
        } else {
          EXPECT_NE(first, 0u) << field;  // the blank sign is inside the field
        }
        const double back = std::strtod(field.c_str(), nullptr);
        if (std::fabs(x) < 1e-30) continue;
        EXPECT_NEAR(back, x, std::fabs(x) * 2e-5 + 5e-7) << field;
      }
    }
  }
}

TEST(NumberFields, RealFieldNeverLeavesItsTwelveCharacters) {
  check_field_sweep<double>();
  check_field_sweep<float>();
  for (double x : {9999999999.6, -9999999999.6, 9999998807.0, -9999998807.0, 99999.9999999, -9999.99999999}) {
    const std::string field = real_field(x);
    EXPECT_NEAR(std::strtod(field.c_str(), nullptr), x, std::fabs(x) * 1e-5) << field;
    if (x < 0) {
      EXPECT_NE(field.find('-'), std::string::npos) << field;
    }
  }
}

TEST(NumberFields, NonFiniteValuesStayInTheField) {
  EXPECT_EQ(real_field(HUGE_VAL), "         Inf");
  EXPECT_EQ(real_field(-HUGE_VAL), "        -Inf");
  EXPECT_EQ(real_field(std::nan("")), "         NaN");
  EXPECT_EQ(free_field(-HUGE_VAL), "-Inf");
}

TEST(NumberFields, FreeFieldExamples) {
  const RealCase cases[] = {
      {1.5, " 1.5"},
      {-2500, "-2.5E+3"},
      {0.001, " 1.0E-3"},
      {123.456, " 1.23456E+2"},
      {0.1, " 1.0E-1"},
      {2, " 2.0"},
      {1e10, " 1.0E+10"},
      {0, " 0.0"},
      {-1e-301, " 0.0"},
      {1.0 / 3.0, " 3.33333333333333E-1"},
      {-1.7976931348623157e308, "-1.79769313486232E+308"},
      {1e-300, " 1.0E-300"},
      {9.999999999999999, " 1.0E+1"},
      {100, " 1.0E+2"},
  };
  for (const RealCase& c : cases) EXPECT_EQ(free_field(c.x), c.field) << c.x;
}

TEST(NumberFields, IntegerFields) {
  struct Case6 {
    int32_t n;
    const char* text;
    int32_t width;
  };
  const Case6 cases6[] = {
      {-12345, "-12345", 6}, {7, "     7", 6},    {0, "     0", 6},           {999999, "999999", 6},
      {-99999, "-99999", 6}, {-100000, "-100000", 7}, {1000000, "1000000", 7}, {INT32_MIN, "-2147483648", 11},
  };
  for (const Case6& c : cases6) {
    char field[12];
    std::memset(field, '#', sizeof field);
    const int32_t width = kl::format_int_field6(c.n, field);
    EXPECT_EQ(width, c.width) << c.n;
    EXPECT_EQ(std::string(field, static_cast<std::size_t>(width)), c.text);
  }

  char five[5];
  kl::format_int_field5(42, five);
  EXPECT_EQ(std::string(five, 5), "00042");
  kl::format_int_field5(1234567, five);
  EXPECT_EQ(std::string(five, 5), "34567");

  char name[9] = "VVVVVVVV";
  kl::format_int_field8(305, name);
  EXPECT_STREQ(name, "VVVVV305");
  kl::format_int_field8(1234567890, name);  // no room for more than 8 digits
  EXPECT_STREQ(name, "34567890");

  char digits[12];
  EXPECT_EQ(kl::format_int_digits(9071, digits), 4);
  EXPECT_EQ(std::string(digits, 4), "9071");
  EXPECT_EQ(kl::format_int_digits(0, digits), 1);
  EXPECT_EQ(digits[0], '0');
}

TEST(NumberFields, MathematicalWrappers) {
  EXPECT_DOUBLE_EQ(kl::raise_to_int_power(2.0, 10), 1024.0);
  EXPECT_DOUBLE_EQ(kl::raise_to_int_power(2.0, -3), 0.125);
  EXPECT_DOUBLE_EQ(kl::raise_to_int_power(0.0, 0), 1.0);
  EXPECT_DOUBLE_EQ(kl::raise_to_int_power(-3.0, 3), -27.0);
  EXPECT_EQ(kl::raise_to_int_power(10.0, INT32_MIN), 0.0);
  EXPECT_DOUBLE_EQ(kl::compute_log10(1000.0), 3.0);
  EXPECT_DOUBLE_EQ(kl::compute_log(std::exp(2.0)), 2.0);
  EXPECT_DOUBLE_EQ(kl::compute_sqrt(2.25), 1.5);
}

}  // namespace
