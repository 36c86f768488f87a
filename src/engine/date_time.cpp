#include "engine/date_time.h"

#include <cstring>
#include <string_view>

#include "common/ascii.h"
#include "common/calendar.h"
#include "common/digits.h"
#include "common/inlining.h"

namespace rowflume::engine {
namespace {

const char* const kMonthNames[12] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                     "MAY",       "JUNE",     "JULY",     "AUGUST",
                                     "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
const char* const kDayNames[7] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                                  "THURSDAY", "FRIDAY", "SATURDAY"};

// The last two digits of a value that is not negative.
char* PutTwo(char* out, int value) {
  std::memcpy(out, Digits2(static_cast<size_t>(value % 100)), 2);
  return out + 2;
}

char* PutDigits(char* out, int value, int width) {
  for (int idx = width - 1; idx >= 0; --idx) {
    out[idx] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// Copies a name in the letter case of its format element, padding to `pad` characters.
char* PutName(char* out, const char* name, size_t take, int letter_case, size_t pad) {
  size_t len = std::strlen(name);
  if (take < len) len = take;
  for (size_t idx = 0; idx < len; ++idx) {
    char ch = name[idx];
    bool lower = letter_case == 2 || (letter_case == 1 && idx > 0);
    if (lower) ch = AsciiLower(ch);
    out[idx] = ch;
  }
  for (size_t idx = len; idx < pad; ++idx) out[idx] = ' ';
  return out + (pad > len ? pad : len);
}

// Day of the week (0 = Sunday) of a proleptic Gregorian date.
int DayOfWeek(int year, int month, int day) {
  static const int offsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) --year;
  int dow = (year + year / 4 - year / 100 + year / 400 + offsets[(month - 1) % 12] + day) % 7;
  return dow < 0 ? dow + 7 : dow;
}

// Reads between min_digits and max_digits digits.
bool ReadNumber(const char* text, size_t len, size_t* pos, int min_digits, int max_digits,
                int* value) {
  int count = 0;
  int result = 0;
  while (*pos < len && count < max_digits && IsAsciiDigit(text[*pos])) {
    result = result * 10 + (text[*pos] - '0');
    ++*pos;
    ++count;
  }
  *value = result;
  return count >= min_digits;
}

// Whether the 19 bytes at text are 'YYYY-MM-DD HH:MM:SS' (or 'T' between date and time): the
// stored form of nearly every DATE, checked eight bytes at a time. XOR with the pattern leaves
// 0..9 in a digit's byte and 0 in a separator's; adding 0x76 (0x7F) then sets the top bit of a
// byte above that, and a byte that carries into its neighbour has its own top bit set already.
// The patterns are bytes copied into words, so the check holds in either byte order.
bool IsPlainDateTime(const char* text) {
  struct Word {
    unsigned char pattern[8];
    unsigned char limit[8];
    size_t at;
  };
  static constexpr Word kWords[] = {
      {{'0', '0', '0', '0', '-', '0', '0', '-'},
       {0x76, 0x76, 0x76, 0x76, 0x7F, 0x76, 0x76, 0x7F},
       0},
      // The separator at 10 is either of two and is checked on its own.
      {{'0', '0', 0, '0', '0', ':', '0', '0'}, {0x76, 0x76, 0, 0x76, 0x76, 0x7F, 0x76, 0x76}, 8},
      {{'0', '0', ':', '0', '0', ':', '0', '0'},
       {0x76, 0x76, 0x7F, 0x76, 0x76, 0x7F, 0x76, 0x76},
       11},
  };
  constexpr uint64_t kTopBits = 0x8080808080808080u;
  uint64_t flagged = 0;
  for (const Word& word : kWords) {
    uint64_t bytes = 0;
    uint64_t pattern = 0;
    uint64_t limit = 0;
    std::memcpy(&bytes, text + word.at, 8);
    std::memcpy(&pattern, word.pattern, 8);
    std::memcpy(&limit, word.limit, 8);
    const uint64_t offset = bytes ^ pattern;
    flagged |= (offset + limit) | offset;
  }
  return (flagged & kTopBits) == 0 && (text[10] == ' ' || text[10] == 'T');
}

// The fields of text that IsPlainDateTime accepted, into the date and time of out; false when
// one is out of its range, the same checks the general scan applies. Inlined, so that the
// canonical copy, which keeps only the checks, pays for no call and no stores.
inline ROWFLUME_ALWAYS_INLINE bool ReadPlainDateTime(const char* text, DateTime* out) {
  auto two = [text](size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  out->year = two(0) * 100 + two(2);
  out->month = two(5);
  out->day = two(8);
  out->hour = two(11);
  out->minute = two(14);
  out->second = two(17);
  return out->month >= 1 && out->month <= 12 && out->day >= 1 && out->day <= 31 &&
         out->hour <= 23 && out->minute <= 59 && out->second <= 59;
}

}  // namespace

bool ParseDateTime(const char* text, size_t len, DateTime* out) {
  *out = DateTime{};
  out->month = 1;
  out->day = 1;
  // The stored form of nearly every DATE, 'YYYY-MM-DD HH:MM:SS', read without the general scan;
  // the scan reads the same fields from it and applies the same range checks.
  if (len == 19 && IsPlainDateTime(text)) return ReadPlainDateTime(text, out);
  size_t pos = 0;
  while (pos < len && text[pos] == ' ') ++pos;
  bool negative_year = false;
  if (pos < len && text[pos] == '-') {
    negative_year = true;
    ++pos;
  }
  if (!ReadNumber(text, len, &pos, 4, 4, &out->year)) return false;
  if (negative_year) out->year = -out->year;
  if (pos >= len || text[pos] != '-') return false;
  ++pos;
  if (!ReadNumber(text, len, &pos, 1, 2, &out->month)) return false;
  if (pos >= len || text[pos] != '-') return false;
  ++pos;
  if (!ReadNumber(text, len, &pos, 1, 2, &out->day)) return false;
  if (out->month < 1 || out->month > 12 || out->day < 1 || out->day > 31) return false;
  if (pos < len && (text[pos] == ' ' || text[pos] == 'T') && pos + 1 < len &&
      IsAsciiDigit(text[pos + 1])) {
    ++pos;
    if (!ReadNumber(text, len, &pos, 1, 2, &out->hour)) return false;
    if (pos >= len || text[pos] != ':') return false;
    ++pos;
    if (!ReadNumber(text, len, &pos, 2, 2, &out->minute)) return false;
    if (pos < len && text[pos] == ':') {
      ++pos;
      if (!ReadNumber(text, len, &pos, 2, 2, &out->second)) return false;
      if (pos < len && text[pos] == '.') {
        ++pos;
        int digits = 0;
        int nanos = 0;
        while (pos < len && IsAsciiDigit(text[pos])) {
          if (digits < 9) {
            nanos = nanos * 10 + (text[pos] - '0');
            ++digits;
          }
          ++pos;
        }
        for (; digits < 9; ++digits) nanos *= 10;
        out->nanos = nanos;
      }
    }
    if (out->hour > 23 || out->minute > 59 || out->second > 59) return false;
  }
  while (pos < len && text[pos] == ' ') ++pos;
  if (pos < len && (text[pos] == 'Z' || text[pos] == 'z')) {
    out->has_tz = true;
    ++pos;
  } else if (pos < len && (text[pos] == '+' || text[pos] == '-')) {
    bool west = text[pos] == '-';
    ++pos;
    int hours = 0;
    int minutes = 0;
    if (!ReadNumber(text, len, &pos, 2, 2, &hours)) return false;
    if (pos < len && text[pos] == ':') ++pos;
    if (pos < len && IsAsciiDigit(text[pos]) && !ReadNumber(text, len, &pos, 2, 2, &minutes)) {
      return false;
    }
    if (hours > 14 || minutes > 59) return false;
    out->has_tz = true;
    out->tz_minutes = (west ? -1 : 1) * (hours * 60 + minutes);
  }
  while (pos < len && text[pos] == ' ') ++pos;
  return pos == len;
}

DateTime ShiftedToZone(const DateTime& value, int tz_minutes) {
  const int from = value.has_tz ? value.tz_minutes : 0;
  // Stored years have no year 0 (-1 is the year before 1); the calendar arithmetic counts one.
  const int64_t year = value.year < 0 ? value.year + 1 : value.year;
  int64_t minutes = DaysFromCivil(year, value.month, value.day) * 1440 + value.hour * 60 +
                    value.minute - from + tz_minutes;
  const int64_t days = FloorDivide(minutes, 1440);
  minutes -= days * 1440;
  DateTime out = value;
  const CivilDate date = CivilFromDays(days);
  out.year = static_cast<int>(date.year <= 0 ? date.year - 1 : date.year);
  out.month = date.month;
  out.day = date.day;
  out.hour = static_cast<int>(minutes / 60);
  out.minute = static_cast<int>(minutes % 60);
  out.tz_minutes = tz_minutes;
  return out;
}

bool ReadTimeZone(const char* text, size_t len, int* tz_minutes) {
  while (len > 0 && text[0] == ' ') ++text, --len;
  while (len > 0 && text[len - 1] == ' ') --len;
  const std::string_view name(text, len);
  if (EqualIgnoringCase(name, "UTC") || EqualIgnoringCase(name, "GMT") ||
      EqualIgnoringCase(name, "DBTIMEZONE")) {
    *tz_minutes = 0;
    return true;
  }
  // [+|-]H[H]:MM
  size_t pos = 0;
  const bool west = len > 0 && text[0] == '-';
  if (len > 0 && (text[0] == '+' || text[0] == '-')) ++pos;
  int hours = 0;
  int minutes = 0;
  if (!ReadNumber(text, len, &pos, 1, 2, &hours) || pos >= len || text[pos] != ':') return false;
  ++pos;
  if (!ReadNumber(text, len, &pos, 2, 2, &minutes) || pos != len || minutes > 59) return false;
  const int total = (west ? -1 : 1) * (hours * 60 + minutes);
  if (total < -12 * 60 || total > 14 * 60) return false;
  *tz_minutes = total;
  return true;
}

bool EncodeDate(const DateTime& value, uint8_t* out) {
  if (value.year == 0 || value.year < -4712 || value.year > 9999) return false;
  // Century and year of century are the truncated quotient and remainder, each plus 100; the
  // same formula serves years before Christ.
  out[0] = static_cast<uint8_t>(value.year / 100 + 100);
  out[1] = static_cast<uint8_t>(value.year % 100 + 100);
  out[2] = static_cast<uint8_t>(value.month);
  out[3] = static_cast<uint8_t>(value.day);
  out[4] = static_cast<uint8_t>(value.hour + 1);
  out[5] = static_cast<uint8_t>(value.minute + 1);
  out[6] = static_cast<uint8_t>(value.second + 1);
  return true;
}

namespace {

// Format elements that take no argument, longest spelling first where one is a prefix of
// another (YYYY before YY, MONTH before MON, HH24 before HH).
struct SimpleElement {
  const char* spelling;
  uint8_t length;
  DateFormat::Element element;
  bool named;  // written as a name, so its letter case follows the element's
};

constexpr SimpleElement kSimpleElements[] = {
    {"YYYY", 4, DateFormat::kYYYY, false},  {"YYY", 3, DateFormat::kYYY, false},
    {"YY", 2, DateFormat::kYY, false},      {"Y", 1, DateFormat::kY, false},
    {"RRRR", 4, DateFormat::kRRRR, false},  {"RR", 2, DateFormat::kRR, false},
    {"MONTH", 5, DateFormat::kMONTH, true}, {"MON", 3, DateFormat::kMON, true},
    {"MM", 2, DateFormat::kMM, false},      {"MI", 2, DateFormat::kMI, false},
    {"DD", 2, DateFormat::kDD, false},      {"DAY", 3, DateFormat::kDAY, true},
    {"DY", 2, DateFormat::kDY, true},       {"HH24", 4, DateFormat::kHH24, false},
    {"HH12", 4, DateFormat::kHH12, false},  {"HH", 2, DateFormat::kHH12, false},
    {"SS", 2, DateFormat::kSS, false},
};

const SimpleElement* MatchSimpleElement(std::string_view rest) {
  for (const SimpleElement& candidate : kSimpleElements) {
    if (StartsWithIgnoringCase(rest, candidate.spelling)) return &candidate;
  }
  return nullptr;
}

}  // namespace

bool CompileDateFormat(const char* text, size_t len, DateFormat* out) {
  out->count = 0;
  out->literal_used = 0;
  out->canonical = DateFormat::kNotCanonical;
  static const char kDate[] = "YYYY-MM-DD HH24:MI:SS";
  const std::string_view model(text, len);
  if (StartsWithIgnoringCase(model, kDate)) {
    if (len == sizeof kDate - 1) out->canonical = DateFormat::kCanonicalDate;
    if (len == sizeof kDate + 2 && StartsWithIgnoringCase(model.substr(sizeof kDate - 1), "XFF")) {
      out->canonical = DateFormat::kCanonicalTimestamp;
    }
  }
  auto add = [out](DateFormat::Element element, uint8_t arg, uint8_t letter_case) {
    if (out->count >= DateFormat::kMaxItems) return false;
    out->items[out->count++] = DateFormat::Item{element, arg, letter_case, 0, 0};
    return true;
  };
  auto add_literal = [out](const char* bytes, size_t n) {
    if (out->literal_used + n > DateFormat::kMaxLiteral) return false;
    DateFormat::Item* last = out->count > 0 ? &out->items[out->count - 1] : nullptr;
    if (last == nullptr || last->element != DateFormat::kLiteral || last->literal_len + n > 255) {
      if (out->count >= DateFormat::kMaxItems) return false;
      out->items[out->count++] =
          DateFormat::Item{DateFormat::kLiteral, 0, 0, 0, static_cast<uint16_t>(out->literal_used)};
      last = &out->items[out->count - 1];
    }
    std::memcpy(out->literal + out->literal_used, bytes, n);
    out->literal_used += static_cast<int>(n);
    last->literal_len = static_cast<uint8_t>(last->literal_len + n);
    return true;
  };
  size_t pos = 0;
  while (pos < len) {
    char ch = text[pos];
    const std::string_view rest = model.substr(pos);
    // Letter case of names follows the first two letters of the element, as Oracle does.
    uint8_t letter_case = 0;
    if (ch >= 'a' && ch <= 'z') {
      letter_case = 2;
    } else if (pos + 1 < len && text[pos + 1] >= 'a' && text[pos + 1] <= 'z') {
      letter_case = 1;
    }
    bool ok = true;
    if (ch == '"') {
      size_t end = pos + 1;
      while (end < len && text[end] != '"') ++end;
      if (end >= len) return false;
      ok = add_literal(text + pos + 1, end - pos - 1);
      pos = end + 1;
    } else if (ch == '-' || ch == '/' || ch == ',' || ch == '.' || ch == ';' || ch == ':' ||
               ch == ' ') {
      ok = add_literal(&ch, 1);
      ++pos;
    } else if (StartsWithIgnoringCase(rest, "A.M.") || StartsWithIgnoringCase(rest, "P.M.")) {
      ok = add(DateFormat::kAM, 1, letter_case);
      pos += 4;
    } else if (StartsWithIgnoringCase(rest, "AM") || StartsWithIgnoringCase(rest, "PM")) {
      ok = add(DateFormat::kAM, 0, letter_case);
      pos += 2;
    } else if (const SimpleElement* simple = MatchSimpleElement(rest)) {
      ok = add(simple->element, 0, simple->named ? letter_case : 0);
      pos += simple->length;
    } else if (StartsWithIgnoringCase(rest, "FF")) {
      uint8_t digits = 0;
      pos += 2;
      if (pos < len && text[pos] >= '1' && text[pos] <= '9') {
        digits = static_cast<uint8_t>(text[pos] - '0');
        ++pos;
      }
      ok = add(DateFormat::kFF, digits, 0);
    } else if (StartsWithIgnoringCase(rest, "X")) {
      ok = add_literal(".", 1);
      pos += 1;
    } else if (StartsWithIgnoringCase(rest, "TZH")) {
      ok = add(DateFormat::kTZH, 0, 0);
      pos += 3;
    } else if (StartsWithIgnoringCase(rest, "TZM")) {
      ok = add(DateFormat::kTZM, 0, 0);
      pos += 3;
    } else if (StartsWithIgnoringCase(rest, "TZR")) {
      ok = add(DateFormat::kTZR, 0, 0);
      pos += 3;
    } else if (StartsWithIgnoringCase(rest, "FM") || StartsWithIgnoringCase(rest, "FX")) {
      pos += 2;  // fill-mode modifiers: accepted, padding stays as it is
    } else {
      return false;
    }
    if (!ok) return false;
  }
  return true;
}

size_t CopyCanonicalDateTime(const DateFormat& format, const char* text, size_t len,
                             int fraction_digits, char* out) {
  if (format.canonical == DateFormat::kNotCanonical) return 0;
  if (len == 19 && format.canonical == DateFormat::kCanonicalDate) {
    DateTime fields;
    if (!IsPlainDateTime(text) || !ReadPlainDateTime(text, &fields)) return 0;
    std::memcpy(out, text, 19);
    out[10] = ' ';
    return 19;
  }
  // Anything the full parse would refuse (and pass on as stored) is left to it.
  if (len < 10 || text[4] != '-' || text[7] != '-') return 0;
  size_t head = 10;
  if (len > 10) {
    if (len < 19 || (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') {
      return 0;
    }
    head = 19;
  }
  static const uint8_t kDigitPositions[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
  for (uint8_t at : kDigitPositions) {
    if (at < head && !IsAsciiDigit(text[at])) return 0;
  }
  auto two = [text](size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  int month = two(5);
  int day = two(8);
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  if (head == 19 && (two(11) > 23 || two(14) > 59 || two(17) > 59)) return 0;
  size_t fraction_len = 0;
  if (len > head) {
    if (text[head] != '.') return 0;
    for (size_t idx = head + 1; idx < len; ++idx) {
      if (!IsAsciiDigit(text[idx])) return 0;
    }
    fraction_len = len - head - 1;
  }
  std::memcpy(out, text, head);
  if (head == 10) std::memcpy(out + 10, " 00:00:00", 9);
  out[10] = ' ';
  if (format.canonical == DateFormat::kCanonicalDate) return 19;
  out[19] = '.';
  size_t digits = static_cast<size_t>(fraction_digits);
  size_t take = fraction_len < digits ? fraction_len : digits;
  std::memcpy(out + 20, text + head + 1, take);
  std::memset(out + 20 + take, '0', digits - take);
  return 20 + digits;
}

size_t FormatDateTime(const DateFormat& format, const DateTime& value, int fraction_digits,
                      char* out) {
  char* pos = out;
  int year = value.year < 0 ? -value.year : value.year;
  for (int idx = 0; idx < format.count; ++idx) {
    const DateFormat::Item& item = format.items[idx];
    switch (item.element) {
      case DateFormat::kLiteral:
        std::memcpy(pos, format.literal + item.literal_pos, item.literal_len);
        pos += item.literal_len;
        break;
      case DateFormat::kYYYY:
      case DateFormat::kRRRR:
        pos = PutDigits(pos, year % 10000, 4);
        break;
      case DateFormat::kYYY:
        pos = PutDigits(pos, year % 1000, 3);
        break;
      case DateFormat::kYY:
      case DateFormat::kRR:
        pos = PutTwo(pos, year % 100);
        break;
      case DateFormat::kY:
        pos = PutDigits(pos, year % 10, 1);
        break;
      case DateFormat::kMM:
        pos = PutTwo(pos, value.month);
        break;
      case DateFormat::kMON:
        pos = PutName(pos, kMonthNames[(value.month + 11) % 12], 3, item.letter_case, 3);
        break;
      case DateFormat::kMONTH:
        pos = PutName(pos, kMonthNames[(value.month + 11) % 12], 9, item.letter_case, 9);
        break;
      case DateFormat::kDD:
        pos = PutTwo(pos, value.day);
        break;
      case DateFormat::kDY:
        pos = PutName(pos, kDayNames[DayOfWeek(value.year, value.month, value.day)], 3,
                      item.letter_case, 3);
        break;
      case DateFormat::kDAY:
        pos = PutName(pos, kDayNames[DayOfWeek(value.year, value.month, value.day)], 9,
                      item.letter_case, 9);
        break;
      case DateFormat::kHH24:
        pos = PutTwo(pos, value.hour);
        break;
      case DateFormat::kHH12:
        pos = PutTwo(pos, value.hour % 12 == 0 ? 12 : value.hour % 12);
        break;
      case DateFormat::kMI:
        pos = PutTwo(pos, value.minute);
        break;
      case DateFormat::kSS:
        pos = PutTwo(pos, value.second);
        break;
      case DateFormat::kFF: {
        int digits = item.arg != 0 ? item.arg : fraction_digits;
        if (digits > 9) digits = 9;
        if (digits > 0) {
          char nine[9];
          PutDigits(nine, value.nanos, 9);
          std::memcpy(pos, nine, static_cast<size_t>(digits));
          pos += digits;
        }
        break;
      }
      case DateFormat::kAM: {
        const char* text =
            value.hour < 12 ? (item.arg ? "A.M." : "AM") : (item.arg ? "P.M." : "PM");
        pos = PutName(pos, text, 4, item.letter_case == 2 ? 2 : 0, 0);
        break;
      }
      case DateFormat::kTZH: {
        int minutes = value.tz_minutes;
        *pos++ = minutes < 0 ? '-' : '+';
        pos = PutTwo(pos, (minutes < 0 ? -minutes : minutes) / 60);
        break;
      }
      case DateFormat::kTZM: {
        int minutes = value.tz_minutes < 0 ? -value.tz_minutes : value.tz_minutes;
        pos = PutTwo(pos, minutes % 60);
        break;
      }
      case DateFormat::kTZR: {
        int minutes = value.tz_minutes;
        *pos++ = minutes < 0 ? '-' : '+';
        if (minutes < 0) minutes = -minutes;
        pos = PutTwo(pos, minutes / 60);
        *pos++ = ':';
        pos = PutTwo(pos, minutes % 60);
        break;
      }
    }
  }
  return static_cast<size_t>(pos - out);
}

size_t StoredDateTimeText(const DateFormat& format, const char* text, size_t len,
                          int fraction_digits, bool local_zone, int tz_minutes, char* out) {
  if (tz_minutes == 0) {
    const size_t copied = CopyCanonicalDateTime(format, text, len, fraction_digits, out);
    if (copied != 0) return copied;
  }
  DateTime moment;
  if (!ParseDateTime(text, len, &moment)) return 0;
  if (local_zone) moment = ShiftedToZone(moment, tz_minutes);
  return FormatDateTime(format, moment, fraction_digits, out);
}

}  // namespace rowflume::engine
