// The fast forms of number text must agree with the decimal expansion they stand in for.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

// The library's shortest digits, read from its scientific form.
Decimal LibraryDecimal(double value) {
  char out[64];
  auto result = std::to_chars(out, out + sizeof out, value, std::chars_format::scientific);
  Decimal dec{};
  const char* pos = out;
  dec.negative = *pos == '-';
  if (dec.negative) ++pos;
  for (; *pos != 'e'; ++pos) {
    if (*pos != '.') dec.digits[dec.ndigits++] = static_cast<uint8_t>(*pos - '0');
  }
  dec.exp10 = std::stoi(std::string(pos + 1, static_cast<const char*>(result.ptr))) + 1;
  while (dec.ndigits > 0 && dec.digits[dec.ndigits - 1] == 0) --dec.ndigits;
  if (dec.ndigits == 0) dec = Decimal{};  // zero has no sign and no exponent
  return dec;
}

// What FormatDouble wrote before it had its own digit search: the library's shortest fixed form
// without the zero before the point, or beyond its range the shortest digits placed.
std::string LibraryText(double value) {
  char out[400];
  if (std::fabs(value) < 1e-20 || std::fabs(value) >= 1e15) {
    return std::string(out, FormatDecimal(LibraryDecimal(value), out));
  }
  auto result = std::to_chars(out, out + sizeof out, value, std::chars_format::fixed);
  std::string text(out, result.ptr);
  const size_t first = text[0] == '-' ? 1 : 0;
  if (text.size() > first + 1 && text[first] == '0' && text[first + 1] == '.') {
    text.erase(first, 1);
  }
  return text;
}

std::string DecimalDigits(const Decimal& dec) {
  std::string digits;
  for (int idx = 0; idx < dec.ndigits; ++idx) digits += static_cast<char>('0' + dec.digits[idx]);
  return (dec.negative ? "-" : "") + digits + "e" + std::to_string(dec.exp10);
}

void ExpectLibraryForm(double value) {
  char out[kNumberTextMax];
  ASSERT_EQ(std::string(out, FormatDouble(value, out)), LibraryText(value)) << value;
  // The in-place form writes the same text, or nothing, and stays within its bound.
  char slot[kShortDoubleTextMax + 1];
  slot[kShortDoubleTextMax] = 'x';
  const size_t short_length = FormatShortDouble(value, slot);
  if (short_length > 0) {
    ASSERT_EQ(std::string(slot, short_length), LibraryText(value)) << value;
  }
  ASSERT_EQ(slot[kShortDoubleTextMax], 'x') << value;
  Decimal dec;
  ASSERT_TRUE(DecimalFromDouble(value, &dec));
  ASSERT_EQ(DecimalDigits(dec), DecimalDigits(LibraryDecimal(value))) << value;
}

// Every family of doubles whose text takes a different shape: random bit patterns (mostly 17
// digits), quotients like the ones a division stores (16 and 17), short decimals (few digits),
// integers (zeros before the point), the neighbours of powers of ten and two (where the digit
// count and the exponent change), and the ends of the range written in place.
TEST(NumberText, DoubleTextsMatchTheLibraryConversion) {
  std::mt19937_64 random(11);
  std::vector<double> edges;
  for (int exponent = -8; exponent <= 16; ++exponent) {
    double power = std::pow(10.0, exponent);
    edges.push_back(power);
    edges.push_back(std::nextafter(power, 0.0));
    edges.push_back(std::nextafter(power, 1e300));
  }
  for (int exponent = -25; exponent <= 52; ++exponent) {
    double power = std::ldexp(1.0, exponent);
    edges.push_back(power);
    edges.push_back(std::nextafter(power, 0.0));
    edges.push_back(std::nextafter(power, 1e300));
  }
  for (double edge : {9e15, 8.999999999999999e15, 0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3}) {
    edges.push_back(edge);
  }
  for (double edge : edges) {
    ExpectLibraryForm(edge);
    ExpectLibraryForm(-edge);
  }
  for (int round = 0; round < 20000; ++round) {
    // Bit patterns from just below 1e-5 to just above 1e15.
    uint64_t bits = (uint64_t(1006) + random() % 67) << 52 | (random() & ((uint64_t(1) << 52) - 1));
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    ExpectLibraryForm(round % 2 ? value : -value);
  }
  for (int round = 0; round < 20000; ++round) {
    const double numerator =
        static_cast<double>(static_cast<int64_t>(random() % 2000000) - 1000000);
    const double denominator = static_cast<double>(random() % 999 + 1);
    ExpectLibraryForm(numerator / denominator);
  }
  for (int round = 0; round < 20000; ++round) {
    const int digits = static_cast<int>(random() % 16) + 1;
    const int scale = static_cast<int>(random() % 20);
    uint64_t units = random() % static_cast<uint64_t>(std::pow(10.0, digits));
    double value = static_cast<double>(units) / std::pow(10.0, scale);
    ExpectLibraryForm(round % 2 ? value : -value);
  }
  for (int round = 0; round < 200000; ++round) {
    ExpectLibraryForm(static_cast<double>(static_cast<int64_t>(random() >> (random() % 64))));
  }
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

// Digit counts change at powers of ten and the writer works in eight-digit steps: every
// neighbour of a power of ten, both ends of the range and random values of every length.
TEST(NumberText, IntegersMatchPrintf) {
  std::vector<int64_t> values = {0, std::numeric_limits<int64_t>::min(),
                                 std::numeric_limits<int64_t>::max()};
  for (int64_t power = 1;; power *= 10) {
    for (int64_t near : {power - 1, power, power + 1}) {
      values.push_back(near);
      values.push_back(-near);
    }
    if (power > std::numeric_limits<int64_t>::max() / 10) break;  // 10^18 is the last
  }
  std::mt19937_64 random(3);
  for (int round = 0; round < 100000; ++round) {
    values.push_back(static_cast<int64_t>(random()) >> (random() % 64));
  }
  char out[32];
  char expected[32];
  for (int64_t value : values) {
    std::snprintf(expected, sizeof expected, "%lld", static_cast<long long>(value));
    ASSERT_EQ(std::string(out, FormatInteger(value, out)), expected);
  }
}

std::string Bytes(const uint8_t* bytes, size_t len) {
  return std::string(reinterpret_cast<const char*>(bytes), len);
}

// The NUMBER bytes of the long way: the decimal of the value, rounded as the column stores it.
std::string SlowNumberBytes(const Decimal& input, bool rounds, int scale) {
  Decimal dec = input;
  if (rounds) RoundToScale(&dec, scale);
  uint8_t out[kNumberBytesMax];
  return Bytes(out, EncodeNumber(dec, out));
}

// The direct encoders against EncodeNumber: integers of every length and sign (zeros at the end
// move the exponent, odd lengths leave half a base-100 digit), and doubles unrounded and at the
// scales of NUMBER(p,s) columns, short decimals and full-length quotients alike.
TEST(NumberText, DirectNumberBytesMatchTheDecimalEncoding) {
  std::mt19937_64 random(5);
  uint8_t out[kNumberBytesMax];
  std::vector<int64_t> integers = {0,
                                   1,
                                   -1,
                                   100,
                                   -100,
                                   10,
                                   99,
                                   std::numeric_limits<int64_t>::max(),
                                   std::numeric_limits<int64_t>::min()};
  for (int round = 0; round < 200000; ++round) {
    integers.push_back(static_cast<int64_t>(random()) >> (random() % 64));
  }
  for (int64_t value : integers) {
    Decimal dec;
    DecimalFromInteger(value, &dec);
    const size_t len = EncodeInteger(value, out);
    ASSERT_LE(len, kShortNumberBytesMax);
    ASSERT_EQ(Bytes(out, len), SlowNumberBytes(dec, false, 0)) << value;
  }
  std::uniform_int_distribution<int> exponent(-6, 16);
  int encoded = 0;
  for (int round = 0; round < 600000; ++round) {
    double value = 0;
    switch (round % 3) {
      case 0:
        value = static_cast<double>(static_cast<int64_t>(random() % 20000001) - 10000000) / 100;
        break;
      case 1:
        value = static_cast<double>(static_cast<int64_t>(random() % 2000) - 1000) / 7.0;
        break;
      default:
        value = (static_cast<double>(random() >> 11) / 9007199254740992.0 - 0.5) *
                std::pow(10.0, exponent(random));
        break;
    }
    Decimal dec;
    ASSERT_TRUE(DecimalFromDouble(value, &dec));
    for (int scale : {0, 2, 5, 9}) {
      const bool rounds = scale != 0;
      const size_t len = EncodeShortDouble(value, rounds, scale, out);
      if (len == 0) continue;
      ++encoded;
      ASSERT_LE(len, kShortNumberBytesMax);
      ASSERT_EQ(Bytes(out, len), SlowNumberBytes(dec, rounds, scale)) << value << " " << scale;
    }
  }
  // Over half of them take the direct form; otherwise the comparison above proves little.
  EXPECT_GT(encoded, 1000000);
  EXPECT_EQ(EncodeShortDouble(std::numeric_limits<double>::infinity(), false, 0, out), 0u);
  EXPECT_EQ(EncodeShortDouble(0.125, true, 2, out), 0u);  // a tie: the decimal settles it
}

}  // namespace
}  // namespace rowflume::engine
