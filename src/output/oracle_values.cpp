#include "output/oracle_values.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "common/digits.h"

namespace rowflume {

namespace {

// The two digits of pair(b) at 2b, for every byte b: one look-up per byte of a NUMBER's mantissa
// or a DATE's field, with its own offset and clamping folded into the table.
template <typename Pair>
constexpr std::array<char, 512> ByteDigitTable(Pair pair) {
  std::array<char, 512> digits{};
  for (size_t b = 0; b < 256; ++b) {
    const char* two = Digits2(static_cast<size_t>(pair(static_cast<int>(b))));
    digits[2 * b] = two[0];
    digits[2 * b + 1] = two[1];
  }
  return digits;
}

// The two digits of each byte of a DATE's day and month (the byte itself) and of its hour,
// minute and second (the byte less 1); a byte out of range is written modulo 100.
constexpr auto kDayDigits = ByteDigitTable([](int b) { return b % 100; });
constexpr auto kTimeDigits = ByteDigitTable([](int b) { return b > 0 ? (b - 1) % 100 : 0; });

char* PutDateByte(char* p, const std::array<char, 512>& digits, uint8_t byte, char after) {
  std::memcpy(p, &digits[2 * static_cast<size_t>(byte)], 2);
  p[2] = after;
  return p + 3;
}

// The two digits of each mantissa byte of a NUMBER, positive (the byte is the pair plus 1) and
// negative (101 less the pair), so that a pair costs one look-up; a corrupt byte is clamped
// rather than written as garbage.
constexpr auto kPositiveDigits = ByteDigitTable([](int b) { return std::clamp(b - 1, 0, 99); });
constexpr auto kNegativeDigits = ByteDigitTable([](int b) { return std::clamp(101 - b, 0, 99); });

}  // namespace

int FormatOracleNumber(char* dest, const uint8_t* value, int length) {
  if (length <= 0) return 0;
  char* p = dest;
  // 0x80 alone is zero; followed by digits it is the exponent of values from 1E-130 to 1E-128.
  if (value[0] == 0x80 && length == 1) {
    *p++ = '0';
    return static_cast<int>(p - dest);
  }
  bool negative = (value[0] & 0x80) == 0;
  int exponent;
  int end;  // one past the last mantissa byte
  if (!negative) {
    exponent = value[0] - 192;
    end = length;
  } else {
    *p++ = '-';
    exponent = 63 - value[0];
    end = length - 1;  // the terminator 102 is not a digit
    if (length >= 21 && value[20] != 102) end = length;
  }
  if (end > 21) end = 21;  // a NUMBER has at most 20 mantissa bytes
  int pairs = end - 1;
  if (exponent < 1) {
    *p++ = '0';
    *p++ = '.';
    for (int k = 0; k < -exponent; ++k) {
      *p++ = '0';
      *p++ = '0';
    }
  }
  const char* digits = negative ? kNegativeDigits.data() : kPositiveDigits.data();
  int k = 1;
  if (exponent >= 1 && pairs >= 1) {
    // The first pair of a value of 1 or more has no leading zero.
    const char* first = digits + 2 * value[1];
    if (first[0] != '0') *p++ = first[0];
    *p++ = first[1];
    k = 2;
  }
  const int whole_pairs = exponent < pairs ? exponent : pairs;
  for (; k <= whole_pairs; ++k) {
    std::memcpy(p, digits + 2 * value[k], 2);
    p += 2;
  }
  if (exponent >= 1 && pairs > exponent) *p++ = '.';
  for (; k <= pairs; ++k) {
    std::memcpy(p, digits + 2 * value[k], 2);
    p += 2;
  }
  for (int k = exponent - pairs; k > 0; --k) {
    *p++ = '0';
    *p++ = '0';
  }
  return static_cast<int>(p - dest);
}

int FormatOracleDate(char* dest, const uint8_t* value, int length) {
  if (length < 7) return 0;
  int year = (value[0] - 100) * 100 + (value[1] - 100);
  char* p = dest;
  if (year < 0) {
    *p++ = '-';
    year = -year;
  }
  year %= 10000;
  std::memcpy(p, Digits2(static_cast<size_t>(year / 100)), 2);
  std::memcpy(p + 2, Digits2(static_cast<size_t>(year % 100)), 2);
  p += 4;
  *p++ = '-';
  p = PutDateByte(p, kDayDigits, value[2], '-');
  p = PutDateByte(p, kDayDigits, value[3], ' ');
  p = PutDateByte(p, kTimeDigits, value[4], ':');
  p = PutDateByte(p, kTimeDigits, value[5], ':');
  std::memcpy(p, &kTimeDigits[2 * static_cast<size_t>(value[6])], 2);
  return static_cast<int>(p + 2 - dest);
}

}  // namespace rowflume
