// NUMBER values of the embedded engine: digits read from SQLite's values and number text, rounded
// as a NUMBER column stores them, and written as the text or the NUMBER bytes a client receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rowflume::engine {

// Pure functions on caller buffers: nothing here allocates, so the fetch path may call them once
// per field.

// Largest text any number conversion produces: 40 significant digits placed positionally with an
// exponent down to -130 or up to 126 (about 170 characters), or a double printed in full
// (up to 310 digits). Callers provide at least this much scratch.
constexpr size_t kNumberTextMax = 400;
// Oracle NUMBER bytes: one exponent byte, up to 20 base-100 digits, a terminator on negatives.
constexpr size_t kNumberBytesMax = 22;

// A decimal number: value = 0.d1 d2 ... dn x 10^exp10, digits without leading or trailing zeros;
// ndigits 0 is zero.
struct Decimal {
  bool negative;
  int ndigits;
  int exp10;
  uint8_t digits[48];
};

// Writes the integer in Oracle's default text form; returns the length.
size_t FormatInteger(int64_t value, char* out);
// Writes the shortest text that reads back as the same double, in positional notation without
// a leading zero before the point ("Inf", "-Inf", "Nan" for non-finite values); returns length.
size_t FormatDouble(double value, char* out);
// FormatDouble's text of the values in the common range (1E-5 to 1E15), written in place
// without the decimal expansion; 0, and nothing written, for the others.
// Writes at most kShortDoubleTextMax bytes.
constexpr size_t kShortDoubleTextMax = 24;
size_t FormatShortDouble(double value, char* out);
// Significant digits that tell every value of a binary type apart; the client writes that many,
// less trailing zeros.
constexpr int kBinaryFloatDigits = 9;
constexpr int kBinaryDoubleDigits = 17;
// Writes a BINARY_FLOAT or BINARY_DOUBLE value (digits as above; a BINARY_FLOAT value already
// narrowed to float) as the client does: one digit before the point, at least one after it,
// trailing zeros dropped, and an exponent of sign and three digits ("1.5E+000",
// "1.00000001E-001", "-1.7976931348623157E+308"); "0" for zero, "Inf", "-Inf" and "Nan" for
// the values that are no numbers. Returns the length, at most 24.
size_t FormatBinaryNumber(double value, int digits, char* out);
// value rounded to scale (1 to 9) fraction digits in NUMBER text; 0 when the fast form does not
// apply (then round the decimal expansion instead), and nothing is written. Writes at most
// kScaledTextMax bytes.
constexpr size_t kScaledTextMax = 12;
size_t FormatDoubleAtScale(double value, int scale, char* out);

// Parses decimal text ([+-]digits[.digits][e[+-]digits], surrounding blanks allowed) and rounds
// it to what an Oracle NUMBER holds (20 base-100 digits). False when the text is not a number.
bool ParseDecimal(const char* text, size_t len, Decimal* out);
// Decimal from a double (shortest round-trip digits); false for non-finite values.
bool DecimalFromDouble(double value, Decimal* out);
void DecimalFromInteger(int64_t value, Decimal* out);
// Rounds half away from zero to `scale` digits after the point (before it when negative), the
// way a NUMBER(p,s) column stores a value.
void RoundToScale(Decimal* value, int scale);
// Positional text of a decimal; returns the length (at most kNumberTextMax).
size_t FormatDecimal(const Decimal& value, char* out);

// Oracle NUMBER bytes of a decimal; returns the length, or 0 when the magnitude is outside what
// NUMBER can hold (at least 1E126): the caller reports an overflow. Values below 1E-130 become 0.
size_t EncodeNumber(const Decimal& value, uint8_t* out);

// The bytes EncodeNumber writes for an integer (unrounded, or rounded to a scale of 0 or more,
// which leaves it as it is), without the decimal expansion; returns the length, at most
// kShortNumberBytesMax.
constexpr size_t kShortNumberBytesMax = 13;
size_t EncodeInteger(int64_t value, uint8_t* out);
// The bytes EncodeNumber writes for a double as a NUMBER column stores it (rounds: rounded to
// scale), for the values the fast text forms serve (FormatDoubleAtScale, FormatShortDouble);
// 0, and nothing written, for the others. At most kShortNumberBytesMax bytes.
size_t EncodeShortDouble(double value, bool rounds, int scale, uint8_t* out);

}  // namespace rowflume::engine
