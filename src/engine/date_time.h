// Dates and timestamps of the embedded engine: the point in time a stored text names, its DATE
// bytes, and the session's format models that write it as text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rowflume::engine {

// Pure functions on caller buffers: nothing here allocates, so the fetch path may call them once
// per field.

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
// The same instant as the wall time of the zone tz_minutes east of UTC: a value without an
// offset is taken as UTC. The fields are carried across days, months and years.
DateTime ShiftedToZone(const DateTime& value, int tz_minutes);
// A session time zone as TIME_ZONE and ORA_SDTZ give it: '[+|-]HH:MM' (-12:00 to +14:00), or
// UTC, GMT or DBTIMEZONE, the database's own zone here. False for anything else, such as a
// region name: this engine knows no region's rules.
bool ReadTimeZone(const char* text, size_t len, int* tz_minutes);

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
// format is not canonical or the text is not plainly 'YYYY-MM-DD[ HH:MM:SS[.f...]]', and then
// nothing is written. Writes kCanonicalDateText bytes for a date, one more and fraction_digits
// for a timestamp.
constexpr size_t kCanonicalDateText = 19;
size_t CopyCanonicalDateTime(const DateFormat& format, const char* text, size_t len,
                             int fraction_digits, char* out);
// The text of a stored value under format: copied when the format is canonical and no zone
// moves it, else read and formatted, a local time zone value (local_zone) first moved into the
// zone tz_minutes east of UTC. 0 when the text is no date or time, and nothing is written; out
// must hold kDateTextMax bytes.
size_t StoredDateTimeText(const DateFormat& format, const char* text, size_t len,
                          int fraction_digits, bool local_zone, int tz_minutes, char* out);

}  // namespace rowflume::engine
