// The engine's reader of decimal text (ParseDecimal) on arbitrary bytes. It must accept exactly
// the texts of its grammar; what it reads must be a canonical decimal of at most 20 base-100
// digits, the one an independent reading and rounding of the text gives, whose value agrees with
// strtod's reading of the same text (to the double's last place);
// within NUMBER's range its text (FormatDecimal) must read back as the same decimal, and its
// NUMBER bytes (EncodeNumber) must decode, independently, to the same digits.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/number.h"
#include "fuzz/fuzz_input.h"

namespace rowflume::fuzz {
namespace {

using engine::Decimal;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// [blanks][+-](digits[.digits] | .digits)[(e|E)[+-]digits][blanks], blanks being space and tab.
bool InGrammar(const std::string& text) {
  size_t pos = 0;
  size_t end = text.size();
  auto blank = [&](size_t at) { return text[at] == ' ' || text[at] == '\t'; };
  while (pos < end && blank(pos)) ++pos;
  while (end > pos && blank(end - 1)) --end;
  if (pos < end && (text[pos] == '+' || text[pos] == '-')) ++pos;
  size_t digits = 0;
  while (pos < end && IsDigit(text[pos])) ++pos, ++digits;
  if (pos < end && text[pos] == '.') {
    ++pos;
    while (pos < end && IsDigit(text[pos])) ++pos, ++digits;
  }
  if (digits == 0) return false;
  if (pos < end && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) ++pos;
    if (pos == end || !IsDigit(text[pos])) return false;
    while (pos < end && IsDigit(text[pos])) ++pos;
  }
  return pos == end;
}

// A decimal as ParseDecimal promises it: zero is ndigits 0, positive, exponent 0; otherwise
// digits 0 to 9 without leading or trailing zeros, at most 20 base-100 digits once aligned to
// even powers of ten, and not below NUMBER's smallest magnitude (1E-130).
void CheckCanonical(const Decimal& value) {
  if (value.ndigits == 0) {
    FUZZ_CHECK(!value.negative && value.exp10 == 0);
    return;
  }
  FUZZ_CHECK(value.ndigits > 0 && value.ndigits <= 40);
  for (int idx = 0; idx < value.ndigits; ++idx) FUZZ_CHECK(value.digits[idx] <= 9);
  FUZZ_CHECK(value.digits[0] != 0 && value.digits[value.ndigits - 1] != 0);
  FUZZ_CHECK(value.ndigits + (value.exp10 & 1) <= 40);
  FUZZ_CHECK(value.exp10 >= -129);
}

bool SameDecimal(const Decimal& a, const Decimal& b) {
  return a.negative == b.negative && a.ndigits == b.ndigits && a.exp10 == b.exp10 &&
         std::memcmp(a.digits, b.digits, static_cast<size_t>(a.ndigits)) == 0;
}

// The decimal the text stands for, read independently: every significant digit kept, then
// rounded half away from zero to 20 base-100 digits (39 decimal digits when the first base-100
// digit holds one), below 1E-130 zero. For a text in the grammar; false when its exponent is too
// large to compare (100000 or more), which the reader is free to saturate.
bool ReferenceDecimal(const std::string& text, Decimal* out) {
  *out = Decimal{};
  size_t pos = text.find_first_not_of(" \t");
  bool negative = text[pos] == '-';
  if (text[pos] == '-' || text[pos] == '+') ++pos;
  std::string digits;
  long before_point = -1;  // digits before the point; -1 until a point is seen
  for (; pos < text.size() && (IsDigit(text[pos]) || text[pos] == '.'); ++pos) {
    if (text[pos] == '.') {
      before_point = static_cast<long>(digits.size());
    } else {
      digits += text[pos];
    }
  }
  if (before_point < 0) before_point = static_cast<long>(digits.size());
  long exponent = 0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    const bool exponent_negative = text[pos + 1] == '-';
    pos += text[pos + 1] == '-' || text[pos + 1] == '+' ? 2 : 1;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
      exponent = exponent * 10 + (text[pos] - '0');
      if (exponent >= 100000) return false;
    }
    if (exponent_negative) exponent = -exponent;
  }
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return true;  // zero
  const size_t last = digits.find_last_not_of('0');
  std::string significant = digits.substr(first, last - first + 1);
  long exp10 = before_point - static_cast<long>(first) + exponent;
  const size_t allowed = (exp10 & 1) != 0 ? 39 : 40;
  if (significant.size() > allowed) {
    const bool up = significant[allowed] >= '5';
    significant.resize(allowed);
    size_t idx = allowed;
    while (up && idx > 0 && significant[idx - 1] == '9') significant[--idx] = '0';
    if (up && idx == 0) {
      significant = "1";
      ++exp10;
    } else if (up) {
      ++significant[idx - 1];
    }
    significant.resize(significant.find_last_not_of('0') + 1);
  }
  if (exp10 < -129) return true;  // below the smallest NUMBER: zero
  out->negative = negative;
  out->exp10 = static_cast<int>(exp10);
  out->ndigits = static_cast<int>(significant.size());
  for (size_t idx = 0; idx < significant.size(); ++idx) {
    out->digits[idx] = static_cast<uint8_t>(significant[idx] - '0');
  }
  return true;
}

// The decimal's value as strtod reads "[-]0.DIGITSeEXP10".
double ValueOf(const Decimal& value) {
  std::string text = value.negative ? "-0." : "0.";
  for (int idx = 0; idx < value.ndigits; ++idx) text += static_cast<char>('0' + value.digits[idx]);
  if (value.ndigits == 0) text += '0';
  text += "e" + std::to_string(value.exp10);
  return std::strtod(text.c_str(), nullptr);
}

// The value read from the text itself: rounding to 40 digits moves it by less than 1E-39 of
// itself, so both readings are the same double or, for a text next to a midpoint between two
// doubles, neighbours.
void CheckValue(const std::string& text, const Decimal& value) {
  const double expected = std::strtod(text.c_str(), nullptr);
  if (value.ndigits == 0) {
    // Zero, or a magnitude below 1E-130 read as zero.
    FUZZ_CHECK(std::fabs(expected) < 1e-129);
    return;
  }
  if (!std::isfinite(expected) || std::fabs(expected) < DBL_MIN) return;  // beyond double
  const double got = ValueOf(value);
  FUZZ_CHECK(got == expected || std::nextafter(got, expected) == expected);
}

// Decodes NUMBER bytes as their format says (an exponent byte, then base-100 digits each stored
// plus one, or for a negative as 101 minus it with 102 after fewer than 20 of them).
bool DecodeNumber(const uint8_t* bytes, size_t length, Decimal* out) {
  *out = Decimal{};
  if (length == 1) return bytes[0] == 0x80;
  if (length < 2) return false;
  const bool negative = (bytes[0] & 0x80) == 0;
  size_t end = length;
  // 102 is no digit's byte, so the terminator is told apart from a twentieth digit.
  if (negative && bytes[length - 1] == 102) {
    --end;
  } else if (negative && length != 21) {
    return false;
  }
  const int exponent = negative ? 62 - bytes[0] : bytes[0] - 193;
  uint8_t digits[44] = {};
  int count = 0;
  for (size_t idx = 1; idx < end; ++idx) {
    const int pair = negative ? 101 - bytes[idx] : bytes[idx] - 1;
    if (pair < 0 || pair > 99) return false;
    digits[count++] = static_cast<uint8_t>(pair / 10);
    digits[count++] = static_cast<uint8_t>(pair % 10);
  }
  int first = digits[0] == 0 ? 1 : 0;
  while (count > first && digits[count - 1] == 0) --count;
  out->negative = negative;
  out->exp10 = 2 * (exponent + 1) - first;
  out->ndigits = count - first;
  std::memcpy(out->digits, digits + first, static_cast<size_t>(out->ndigits));
  return out->ndigits > 0;
}

void CheckText(const std::string& text) {
  Decimal value;
  const bool read = engine::ParseDecimal(text.data(), text.size(), &value);
  FUZZ_CHECK(read == InGrammar(text));
  if (!read) return;
  CheckCanonical(value);
  Decimal expected;
  if (ReferenceDecimal(text, &expected)) FUZZ_CHECK(SameDecimal(value, expected));
  CheckValue(text, value);

  // The text writer: bounded for every decimal read, and read back as the same decimal within
  // NUMBER's range (beyond it the writer clamps its zeros).
  auto written = std::make_unique<char[]>(engine::kNumberTextMax);
  const size_t written_length = engine::FormatDecimal(value, written.get());
  FUZZ_CHECK(written_length > 0 && written_length <= engine::kNumberTextMax);
  if (value.exp10 <= 126) {
    Decimal again;
    FUZZ_CHECK(engine::ParseDecimal(written.get(), written_length, &again));
    FUZZ_CHECK(SameDecimal(value, again));
  }

  // The NUMBER bytes: none beyond the range (the caller reports the overflow), else bytes that
  // decode to the same digits.
  auto bytes = std::make_unique<uint8_t[]>(engine::kNumberBytesMax);
  const size_t byte_count = engine::EncodeNumber(value, bytes.get());
  FUZZ_CHECK(byte_count <= engine::kNumberBytesMax);
  if (value.exp10 > 126) {
    FUZZ_CHECK(byte_count == 0);
    return;
  }
  FUZZ_CHECK(byte_count > 0);
  Decimal decoded;
  if (value.ndigits == 0) {
    FUZZ_CHECK(byte_count == 1 && bytes[0] == 0x80);
    return;
  }
  FUZZ_CHECK(DecodeNumber(bytes.get(), byte_count, &decoded));
  FUZZ_CHECK(SameDecimal(value, decoded));
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A text of this many bytes holds every form of the grammar; longer ones only repeat digits.
  if (size > 4096) return 0;
  rowflume::fuzz::CheckText(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
