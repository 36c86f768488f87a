// The fast forms of number text must agree with the decimal expansion they stand in for.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "engine/number.h"

namespace rowflume::engine {
namespace {

std::string Slow(double value) {
  Decimal dec;
  DecimalFromDouble(value, &dec);
  char out[kNumberTextMax];
  return std::string(out, FormatDecimal(dec, out));
}

std::string SlowAtScale(double value, int scale) {
  Decimal dec;
  DecimalFromDouble(value, &dec);
  RoundToScale(&dec, scale);
  char out[kNumberTextMax];
  return std::string(out, FormatDecimal(dec, out));
}

TEST(NumberText, FastFormsAgreeWithTheDecimalExpansion) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-25, 25);
  char out[kNumberTextMax];
  for (int round = 0; round < 200000; ++round) {
    double value = unit(random) * std::pow(10.0, exponent(random));
    if (round % 3 == 0) value = std::round(value * 100) / 100;  // amounts with two decimals
    ASSERT_EQ(std::string(out, FormatDouble(value, out)), Slow(value)) << value;
    for (int scale = 1; scale <= 9; scale += 4) {
      size_t length = FormatDoubleAtScale(value, scale, out);
      if (length > 0) {
        ASSERT_EQ(std::string(out, length), SlowAtScale(value, scale)) << value << " " << scale;
      }
    }
  }
  // Typical cases take the fast form; ties fall back.
  EXPECT_EQ(std::string(out, FormatDoubleAtScale(237.57, 2, out)), "237.57");
  EXPECT_EQ(std::string(out, FormatDoubleAtScale(-0.05, 2, out)), "-.05");
  EXPECT_EQ(std::string(out, FormatDoubleAtScale(1200.5, 2, out)), "1200.5");
  EXPECT_EQ(std::string(out, FormatDoubleAtScale(0.004, 2, out)), "0");
  EXPECT_EQ(FormatDoubleAtScale(0.125, 2, out), 0u);
  EXPECT_EQ(std::string(out, FormatDouble(0.5, out)), ".5");
  EXPECT_EQ(std::string(out, FormatDouble(-0.05, out)), "-.05");
  EXPECT_EQ(std::string(out, FormatDouble(100.0, out)), "100");
}

}  // namespace
}  // namespace rowflume::engine
