#include "engine/number.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/ascii.h"
#include "common/digits.h"

namespace rowflume::engine {
namespace {

// 10^0 to 10^19, every power of ten a uint64_t holds.
constexpr auto kPowersOf10Int = [] {
  std::array<uint64_t, 20> powers{};
  uint64_t power = 1;
  for (uint64_t& entry : powers) {
    entry = power;
    power *= 10;  // wraps once, after the last entry, which unsigned arithmetic allows
  }
  return powers;
}();

// Writes exactly count digits (at most 8) of value < 10^count ending just before end, zeros in
// front. 32-bit steps: a 64-bit division by 100 costs more on the 32-bit targets and no less here.
void WriteDigits8(uint32_t value, char* end, size_t count) {
  char* pos = end;
  while (count >= 2) {
    const uint32_t pair = value % 100;
    value /= 100;
    pos -= 2;
    std::memcpy(pos, Digits2(pair), 2);
    count -= 2;
  }
  if (count > 0) pos[-1] = static_cast<char>('0' + value);
}

// The digits of a value of more than eight digits, out of line: only full-length doubles and
// large integers take it.
void WriteLongDigits(uint64_t value, char* end, size_t count) {
  while (count > 8) {
    const uint64_t high = value / 100000000u;
    WriteDigits8(static_cast<uint32_t>(value - high * 100000000u), end, 8);
    end -= 8;
    count -= 8;
    value = high;
  }
  WriteDigits8(static_cast<uint32_t>(value), end, count);
}

// Writes exactly count digits of value < 10^count ending just before end, zeros in front.
inline void WriteDigits(uint64_t value, char* end, size_t count) {
  if (count > 8) {
    WriteLongDigits(value, end, count);
  } else {
    WriteDigits8(static_cast<uint32_t>(value), end, count);
  }
}

// Decimal digits of value: estimated from its bit length (log10(2) ~ 1233 / 4096), then one
// comparison corrects the estimate. Setting the lowest bit keeps the count and makes zero one
// digit long.
size_t DigitCount(uint64_t value) {
  value |= 1;
  const auto bits = static_cast<size_t>(std::bit_width(value));
  const size_t estimate = (bits * 1233) >> 12;
  return estimate + (value >= kPowersOf10Int[estimate] ? 1 : 0);
}

size_t FormatUnsigned(uint64_t value, char* out) {
  const size_t count = DigitCount(value);
  WriteDigits(value, out + count, count);
  return count;
}

void StripTrailingZeros(Decimal* value) {
  while (value->ndigits > 0 && value->digits[value->ndigits - 1] == 0) --value->ndigits;
  if (value->ndigits == 0) {
    value->negative = false;
    value->exp10 = 0;
  }
}

// Keeps the first keep digits (keep < ndigits), rounding half away from zero. A carry out of
// the first digit (all kept digits nines, or none kept) leaves one unit of the next higher place.
static void RoundDigits(Decimal* value, int keep) {
  const bool up = value->digits[keep] >= 5;
  value->ndigits = keep;
  if (!up) return;
  int idx = keep - 1;
  while (idx >= 0 && value->digits[idx] == 9) value->digits[idx--] = 0;
  if (idx < 0) {
    value->digits[0] = 1;
    value->ndigits = 1;
    value->exp10 += 1;
  } else {
    ++value->digits[idx];
  }
}

// Rounds half away from zero to the digits a NUMBER keeps: 20 base-100 digits, which are 40
// decimal digits when the first base-100 digit is full and 39 when it holds one digit only.
void RoundToNumber(Decimal* value) {
  int allowed = (value->exp10 & 1) ? 39 : 40;
  if (value->ndigits > allowed) RoundDigits(value, allowed);
  StripTrailingZeros(value);
  // Below the smallest positive NUMBER (1E-130) the value is zero.
  if (value->ndigits > 0 && value->exp10 < -129) {
    value->ndigits = 0;
    value->negative = false;
    value->exp10 = 0;
  }
}

// Reads the output of std::to_chars in scientific form ("d.ddde+XX").
void DecimalFromScientific(const char* text, size_t len, Decimal* out) {
  out->negative = false;
  out->ndigits = 0;
  out->exp10 = 0;
  size_t pos = 0;
  if (pos < len && text[pos] == '-') {
    out->negative = true;
    ++pos;
  }
  int exponent = 0;
  for (; pos < len; ++pos) {
    char ch = text[pos];
    if (IsAsciiDigit(ch)) {
      if (out->ndigits < 48) out->digits[out->ndigits++] = static_cast<uint8_t>(ch - '0');
    } else if (ch == 'e' || ch == 'E') {
      size_t epos = pos + 1;
      bool negative = epos < len && text[epos] == '-';
      if (epos < len && (text[epos] == '-' || text[epos] == '+')) ++epos;
      for (; epos < len && IsAsciiDigit(text[epos]); ++epos)
        exponent = exponent * 10 + (text[epos] - '0');
      if (negative) exponent = -exponent;
      break;
    }
  }
  // Leading zeros only arise for the value zero.
  int lead = 0;
  while (lead < out->ndigits && out->digits[lead] == 0) ++lead;
  if (lead == out->ndigits) {
    out->ndigits = 0;
    out->negative = false;
    return;
  }
  out->exp10 = exponent + 1;
  StripTrailingZeros(out);
}

constexpr double kShortestMin = 1e-5;  // the digits have at most 21 fraction places from here
constexpr double kShortestMax = 1e15;  // the fixed layout's limit in FormatDouble

constexpr double kPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The shortest digits that read back as a positive value in [kShortestMin, kShortestMax): value
// = *digits / 10^*fraction, fraction from 0 to 21. They are the library's shortest round-trip
// conversion, the one every other double text of the engine is written from: among the fewest
// digits that read back, the nearest to the exact value. False outside the range.
bool ShortestDigits(double value, uint64_t* digits, int* fraction) {
  if (!(value >= kShortestMin && value < kShortestMax)) return false;
  // d.ddde-XX with at most 17 digits, and never a trailing zero among them.
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  uint64_t units = 0;
  int count = 0;
  const char* pos = text;
  for (; pos < result.ptr && *pos != 'e'; ++pos) {
    if (*pos == '.') continue;
    units = units * 10 + static_cast<uint64_t>(*pos - '0');
    ++count;
  }
  int exponent = 0;
  const bool negative = pos + 1 < result.ptr && pos[1] == '-';
  for (pos += 2; pos < result.ptr; ++pos) exponent = exponent * 10 + (*pos - '0');
  if (negative) exponent = -exponent;
  // Whole values below 1E15 are written with their zeros: 1500 is 1500 / 10^0.
  int places = count - 1 - exponent;
  for (; places < 0; ++places) units *= 10;
  *digits = units;
  *fraction = places;
  return true;
}

}  // namespace

size_t FormatInteger(int64_t value, char* out) {
  if (value < 0) {
    out[0] = '-';
    return 1 + FormatUnsigned(0 - static_cast<uint64_t>(value), out + 1);
  }
  return FormatUnsigned(static_cast<uint64_t>(value), out);
}

size_t FormatShortDouble(double value, char* out) {
  uint64_t digits = 0;
  int fraction = 0;
  if (!ShortestDigits(std::fabs(value), &digits, &fraction)) return 0;
  // At most 17 digits and 21 fraction digits: a sign, a point and 21 places at the longest.
  char* pos = out;
  if (value < 0) *pos++ = '-';
  if (fraction == 0) return static_cast<size_t>(pos - out) + FormatUnsigned(digits, pos);
  const auto scale = static_cast<size_t>(fraction);
  // Beyond 19 places (values under 1E-3) the whole part is zero, and 10^scale is no uint64_t.
  uint64_t whole = 0;
  uint64_t part = digits;
  if (scale < 20) {
    whole = digits / kPowersOf10Int[scale];
    part = digits - whole * kPowersOf10Int[scale];
  }
  if (whole != 0) pos += FormatUnsigned(whole, pos);
  *pos++ = '.';
  WriteDigits(part, pos + scale, scale);
  return static_cast<size_t>(pos + scale - out);
}

size_t FormatDouble(double value, char* out) {
  if (std::isnan(value)) {
    std::memcpy(out, "Nan", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) {
      std::memcpy(out, "-Inf", 4);
      return 4;
    }
    std::memcpy(out, "Inf", 3);
    return 3;
  }
  // Common magnitudes: the shortest round-trip digits written positionally in one pass, with
  // the leading zero of a fraction dropped (".5", "-.05"), which is the form FormatDecimal gives.
  const double magnitude = std::fabs(value);
  const size_t short_length = FormatShortDouble(value, out);
  if (short_length > 0) return short_length;
  if (magnitude >= 1e-20 && magnitude < 1e15) {  // above, fixed form prints all binary digits
    char* first = out;
    auto result = std::to_chars(out, out + 64, value, std::chars_format::fixed);
    if (result.ec == std::errc()) {
      size_t length = static_cast<size_t>(result.ptr - out);
      if (*first == '-') ++first;
      if (first[0] == '0' && first[1] == '.') {
        std::memmove(first, first + 1, length - static_cast<size_t>(first + 1 - out));
        --length;
      }
      return length;
    }
  }
  Decimal dec;
  DecimalFromDouble(value, &dec);
  return FormatDecimal(dec, out);
}

size_t FormatBinaryNumber(double value, int digits, char* out) {
  if (!std::isfinite(value)) return FormatDouble(value, out);
  if (value == 0) {
    out[0] = '0';
    return 1;
  }
  // "d.ddde+XX" from the library, then the client's layout: zeros at the end of the fraction go
  // but one digit stays after the point, and the exponent gets three digits.
  char scientific[48];
  auto result = std::to_chars(scientific, scientific + sizeof scientific, value,
                              std::chars_format::scientific, digits > 1 ? digits - 1 : 1);
  const char* begin = scientific;
  const char* end = result.ptr;
  const char* mark = std::find(begin, end, 'e');
  const char* point = std::find(begin, mark, '.');
  const char* kept = mark;
  while (kept - point > 2 && kept[-1] == '0') --kept;
  char* pos = out;
  std::memcpy(pos, begin, static_cast<size_t>(kept - begin));
  pos += kept - begin;
  *pos++ = 'E';
  const char* exponent = mark + 1;
  *pos++ = *exponent == '-' ? '-' : '+';
  if (*exponent == '-' || *exponent == '+') ++exponent;
  const size_t exponent_digits = static_cast<size_t>(end - exponent);
  for (size_t pad = exponent_digits; pad < 3; ++pad) *pos++ = '0';
  std::memcpy(pos, exponent, exponent_digits);
  return static_cast<size_t>(pos + exponent_digits - out);
}

namespace {

// value x 10^scale rounded half away from zero, when it is far enough from a tie that the
// shortest decimal of value rounds the same way; false otherwise (scale outside 1 to 9 too).
bool ScaledUnits(double value, int scale, uint64_t* units) {
  if (scale < 1 || scale > 9 || !std::isfinite(value)) return false;
  const double scaled = value * kPowersOf10[scale];
  // Below 1e9 the spacing of doubles is under 1.2e-7, so the shortest decimal of value rounds
  // the same way as value itself whenever value is more than 1e-6 away from a tie.
  if (std::fabs(scaled) >= 1e9) return false;
  const double rounded = std::nearbyint(scaled);
  if (std::fabs(std::fabs(scaled - rounded) - 0.5) <= 1e-6) return false;
  *units = static_cast<uint64_t>(std::fabs(rounded));
  return true;
}

}  // namespace

size_t FormatDoubleAtScale(double value, int scale, char* out) {
  // value x 10^scale, when it is far from a rounding tie, rounds to an integer whose digits are
  // the answer, so no decimal expansion is needed.
  uint64_t units = 0;
  if (!ScaledUnits(value, scale, &units)) return 0;
  if (units == 0) {
    out[0] = '0';
    return 1;
  }
  char* pos = out;
  if (value < 0) *pos++ = '-';
  // Whole part without a leading zero (".05"), fraction without its trailing zeros.
  const uint64_t power = kPowersOf10Int[scale];
  const uint64_t whole = units / power;
  uint64_t part = units - whole * power;
  if (whole != 0) pos += FormatUnsigned(whole, pos);
  if (part != 0) {
    auto places = static_cast<size_t>(scale);
    while (part % 10 == 0) {
      part /= 10;
      --places;
    }
    *pos++ = '.';
    WriteDigits(part, pos + places, places);
    pos += places;
  }
  return static_cast<size_t>(pos - out);
}

bool DecimalFromDouble(double value, Decimal* out) {
  if (!std::isfinite(value)) return false;
  uint64_t digits = 0;
  int fraction = 0;
  if (ShortestDigits(std::fabs(value), &digits, &fraction)) {
    char text[24];
    const size_t count = FormatUnsigned(digits, text);
    out->negative = value < 0;
    out->ndigits = static_cast<int>(count);
    out->exp10 = static_cast<int>(count) - fraction;
    for (size_t idx = 0; idx < count; ++idx)
      out->digits[idx] = static_cast<uint8_t>(text[idx] - '0');
    StripTrailingZeros(out);
    return true;
  }
  char buf[40];
  auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  DecimalFromScientific(buf, static_cast<size_t>(result.ptr - buf), out);
  // Below the smallest positive NUMBER (1E-130) a value reads as zero, as it would be stored.
  if (out->ndigits > 0 && out->exp10 < -129) {
    out->ndigits = 0;
    out->negative = false;
    out->exp10 = 0;
  }
  return true;
}

void DecimalFromInteger(int64_t value, Decimal* out) {
  out->negative = value < 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char buf[24];
  size_t len = FormatUnsigned(magnitude, buf);
  out->ndigits = static_cast<int>(len);
  out->exp10 = static_cast<int>(len);
  for (size_t idx = 0; idx < len; ++idx) out->digits[idx] = static_cast<uint8_t>(buf[idx] - '0');
  StripTrailingZeros(out);
}

bool ParseDecimal(const char* text, size_t len, Decimal* out) {
  out->negative = false;
  out->ndigits = 0;
  out->exp10 = 0;
  size_t pos = 0;
  while (pos < len && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos < len && (text[pos] == '-' || text[pos] == '+')) {
    out->negative = text[pos] == '-';
    ++pos;
  }
  bool any_digit = false;
  bool seen_point = false;
  int int_digits = 0;  // significant digits before the point
  int lead_zeros = 0;  // zeros after the point before the first significant digit
  bool significant = false;
  for (; pos < len; ++pos) {
    char ch = text[pos];
    if (IsAsciiDigit(ch)) {
      any_digit = true;
      if (!significant && ch == '0') {
        if (seen_point) ++lead_zeros;
        continue;
      }
      significant = true;
      // Digits past 41 cannot change a value rounded half-up at digit 40.
      if (out->ndigits < 42) out->digits[out->ndigits++] = static_cast<uint8_t>(ch - '0');
      if (!seen_point) ++int_digits;
    } else if (ch == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  long exponent = 0;
  if (pos < len && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool exp_negative = false;
    if (pos < len && (text[pos] == '-' || text[pos] == '+')) {
      exp_negative = text[pos] == '-';
      ++pos;
    }
    if (pos >= len || !IsAsciiDigit(text[pos])) return false;
    while (pos < len && IsAsciiDigit(text[pos])) {
      if (exponent < 100000) exponent = exponent * 10 + (text[pos] - '0');
      ++pos;
    }
    if (exp_negative) exponent = -exponent;
  }
  while (pos < len && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos != len) return false;
  if (out->ndigits == 0) {
    out->negative = false;
    return true;
  }
  out->exp10 = static_cast<int>((int_digits > 0 ? int_digits : -lead_zeros) + exponent);
  RoundToNumber(out);
  return true;
}

void RoundToScale(Decimal* value, int scale) {
  if (value->ndigits == 0) return;
  int keep = value->exp10 + scale;
  if (keep >= value->ndigits) return;
  if (keep < 0) {
    *value = Decimal{};
    return;
  }
  RoundDigits(value, keep);
  StripTrailingZeros(value);
}

size_t FormatDecimal(const Decimal& value, char* out) {
  if (value.ndigits == 0) {
    out[0] = '0';
    return 1;
  }
  char* pos = out;
  if (value.negative) *pos++ = '-';
  int ndigits = value.ndigits;
  int exp10 = value.exp10;
  if (exp10 <= 0) {
    *pos++ = '.';
    // Clamped so that absurd exponents from text cannot overrun the caller's buffer.
    int zeros = -exp10;
    if (zeros > 300) zeros = 300;
    std::memset(pos, '0', static_cast<size_t>(zeros));
    pos += zeros;
    for (int idx = 0; idx < ndigits; ++idx) *pos++ = static_cast<char>('0' + value.digits[idx]);
  } else if (exp10 < ndigits) {
    for (int idx = 0; idx < exp10; ++idx) *pos++ = static_cast<char>('0' + value.digits[idx]);
    *pos++ = '.';
    for (int idx = exp10; idx < ndigits; ++idx) {
      *pos++ = static_cast<char>('0' + value.digits[idx]);
    }
  } else {
    for (int idx = 0; idx < ndigits; ++idx) *pos++ = static_cast<char>('0' + value.digits[idx]);
    int zeros = exp10 - ndigits;
    if (zeros > 320) zeros = 320;
    std::memset(pos, '0', static_cast<size_t>(zeros));
    pos += zeros;
  }
  return static_cast<size_t>(pos - out);
}

size_t EncodeNumber(const Decimal& input, uint8_t* out) {
  Decimal value = input;
  RoundToNumber(&value);
  if (value.ndigits == 0) {
    out[0] = 0x80;
    return 1;
  }
  if (value.exp10 > 126) return 0;
  // Align the digits to base-100 pairs: an odd decimal exponent gets a leading zero digit.
  uint8_t aligned[44];
  int count = 0;
  int exp10 = value.exp10;
  if (exp10 & 1) {
    aligned[count++] = 0;
    ++exp10;
  }
  for (int idx = 0; idx < value.ndigits; ++idx) aligned[count++] = value.digits[idx];
  if (count & 1) aligned[count++] = 0;
  int pairs = count / 2;
  int exponent = exp10 / 2 - 1;  // base-100 exponent of the first pair
  size_t len = 0;
  if (!value.negative) {
    out[len++] = static_cast<uint8_t>(193 + exponent);
    for (int idx = 0; idx < pairs; ++idx) {
      out[len++] = static_cast<uint8_t>(aligned[2 * idx] * 10 + aligned[2 * idx + 1] + 1);
    }
  } else {
    out[len++] = static_cast<uint8_t>(62 - exponent);
    for (int idx = 0; idx < pairs; ++idx) {
      out[len++] = static_cast<uint8_t>(101 - (aligned[2 * idx] * 10 + aligned[2 * idx + 1]));
    }
    if (pairs < 20) out[len++] = 102;
  }
  return len;
}

namespace {

// NUMBER bytes of (negative ? -1 : 1) x digits / 10^fraction, the bytes EncodeNumber writes for
// that value: at most 19 digits, so no rounding to NUMBER precision and no overflow.
size_t EncodeScaled(bool negative, uint64_t digits, int fraction, uint8_t* out) {
  if (digits == 0) {
    out[0] = 0x80;
    return 1;
  }
  while (digits % 10 == 0) {
    digits /= 10;
    --fraction;
  }
  auto count = static_cast<int>(DigitCount(digits));
  int exp10 = count - fraction;  // value = 0.d1 d2 ... x 10^exp10
  // Base-100 digits start at an even decimal exponent: an odd one gets a leading zero digit,
  // which the highest pair picks up as its tens.
  if (exp10 & 1) {
    ++count;
    ++exp10;
  }
  // An odd count leaves half a pair at the end: a zero digit completes it. Nineteen digits
  // (above 1.8E18) would not take one more in 64 bits; their last digit is split off instead.
  uint8_t last_pair = 0;
  bool split_last = false;
  if (count & 1) {
    if (digits < 1000000000000000000u) {
      digits *= 10;
    } else {
      last_pair = static_cast<uint8_t>(digits % 10 * 10);
      digits /= 10;
      split_last = true;
    }
    ++count;
  }
  const int npairs = count / 2;
  const int exponent = exp10 / 2 - 1;  // base-100 exponent of the first pair
  out[0] = static_cast<uint8_t>(negative ? 62 - exponent : 193 + exponent);
  // The pairs are written from the last one back, eight digits at a time in 32-bit steps; a
  // positive pair is stored plus 1, a negative one as 101 less it.
  const int base = negative ? 101 : 1;
  const int sign = negative ? -1 : 1;
  uint8_t* pos = out + 1 + npairs;
  if (split_last) *--pos = static_cast<uint8_t>(base + sign * last_pair);
  while (digits >= 100000000u) {
    const uint64_t high = digits / 100000000u;
    auto low = static_cast<uint32_t>(digits - high * 100000000u);
    for (int idx = 0; idx < 4; ++idx) {
      *--pos = static_cast<uint8_t>(base + sign * static_cast<int>(low % 100));
      low /= 100;
    }
    digits = high;
  }
  auto rest = static_cast<uint32_t>(digits);
  while (pos > out + 1) {
    *--pos = static_cast<uint8_t>(base + sign * static_cast<int>(rest % 100));
    rest /= 100;
  }
  size_t len = 1 + static_cast<size_t>(npairs);
  if (negative) out[len++] = 102;  // fewer than 20 pairs: negatives end in a terminator
  return len;
}

}  // namespace

size_t EncodeInteger(int64_t value, uint8_t* out) {
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  return EncodeScaled(value < 0, magnitude, 0, out);
}

size_t EncodeShortDouble(double value, bool rounds, int scale, uint8_t* out) {
  uint64_t digits = 0;
  int fraction = scale;
  if (rounds) {
    if (!ScaledUnits(value, scale, &digits)) return 0;
  } else if (!ShortestDigits(std::fabs(value), &digits, &fraction)) {
    return 0;
  }
  return EncodeScaled(value < 0, digits, fraction, out);
}

}  // namespace rowflume::engine
