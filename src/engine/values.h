// Value conversions of the embedded engine: SQLite values into the text, NUMBER and DATE forms an
// Oracle client receives, and the session's date and timestamp format models. Pure functions on
// caller buffers; nothing here allocates, so the fetch path may call them once per field.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rowflume::engine {

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
// value rounded to scale (1 to 9) fraction digits in NUMBER text; 0 when the fast form does not
// apply (then round the decimal expansion instead).
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

// A point in time as stored in the database text: date, time, fraction and offset.
struct DateTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
  int nanos;       // fraction of the second in nanoseconds
  int tz_minutes;  // offset east of UTC in minutes
  bool has_tz;     // the text carried an offset
};

// Parses 'YYYY-MM-DD', 'YYYY-MM-DD HH:MM[:SS[.fffffffff]]' (or with 'T'), optionally followed by
// an offset '+HH:MM', '-HHMM' or 'Z'. False when the text is not such a value.
bool ParseDateTime(const char* text, size_t len, DateTime* out);
// The 7-byte Oracle DATE of a point in time; false for years outside -4712..9999 or year 0.
bool EncodeDate(const DateTime& value, uint8_t* out);

// A compiled date format model (NLS_DATE_FORMAT and friends).
struct DateFormat {
  enum Element : uint8_t {
    kLiteral,  // text from the literal pool
    kYYYY,
    kYYY,
    kYY,
    kY,
    kRR,
    kRRRR,
    kMM,
    kMON,
    kMONTH,
    kDD,
    kHH24,
    kHH12,
    kMI,
    kSS,
    kFF,  // arg: digits 1-9, or 0 for the column's fractional precision
    kAM,  // arg: 1 for the dotted form A.M.
    kTZH,
    kTZM,
    kTZR,
    kDY,
    kDAY,
  };
  struct Item {
    Element element;
    uint8_t arg;          // FF digits, AM style
    uint8_t letter_case;  // 0 upper, 1 capitalised, 2 lower (names of months and days)
    uint8_t literal_len;
    uint16_t literal_pos;
  };
  static constexpr int kMaxItems = 64;
  static constexpr int kMaxLiteral = 256;
  int count;
  Item items[kMaxItems];
  char literal[kMaxLiteral];
  int literal_used;
  // The model is "YYYY-MM-DD HH24:MI:SS" (kCanonicalDate) or that followed by "XFF"
  // (kCanonicalTimestamp), the forms the stored text already has: such values are copied.
  enum Canonical : uint8_t { kNotCanonical, kCanonicalDate, kCanonicalTimestamp };
  Canonical canonical;
};

// Compiles a format model; false when it holds an element this engine does not know.
bool CompileDateFormat(const char* text, size_t len, DateFormat* out);
// Formats a point in time; fraction_digits is what FF alone prints. Returns the length written;
// out must hold kDateTextMax bytes.
constexpr size_t kDateTextMax = 1024;
size_t FormatDateTime(const DateFormat& format, const DateTime& value, int fraction_digits,
                      char* out);
// The text of a stored value under a canonical format, copied without parsing; 0 when the
// format is not canonical or the text is not plainly 'YYYY-MM-DD[ HH:MM:SS[.f...]]'.
size_t CopyCanonicalDateTime(const DateFormat& format, const char* text, size_t len,
                             int fraction_digits, char* out);

}  // namespace rowflume::engine
