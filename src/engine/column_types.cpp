#include "engine/column_types.h"

#include <sqlite3.h>

#include <cstring>

#include "common/ascii.h"
#include "engine/sql_scanner.h"

namespace rowflume::engine {
namespace {

// Parses "(a)" or "(a,b)" where a may be '*'; returns the number of values read (0 when there
// are no parentheses). Unit words after the first value (BYTE, CHAR) are reported in char_unit.
int ReadParens(const char** cursor, int* first, int* second, bool* char_unit) {
  const char* pos = *cursor;
  while (*pos == ' ') ++pos;
  if (*pos != '(') return 0;
  ++pos;
  int values = 0;
  int* targets[2] = {first, second};
  while (values < 2) {
    while (*pos == ' ') ++pos;
    if (*pos == '*') {
      *targets[values] = 38;
      ++pos;
    } else {
      bool negative = false;
      if (*pos == '-' || *pos == '+') negative = *pos++ == '-';
      if (!IsAsciiDigit(*pos)) break;
      int value = 0;
      while (IsAsciiDigit(*pos)) {
        if (value < 1000000) value = value * 10 + (*pos - '0');
        ++pos;
      }
      *targets[values] = negative ? -value : value;
    }
    ++values;
    while (*pos == ' ') ++pos;
    if (std::strncmp(pos, "CHAR", 4) == 0) {
      *char_unit = true;
      pos += 4;
    } else if (std::strncmp(pos, "BYTE", 4) == 0) {
      pos += 4;
    }
    while (*pos == ' ') ++pos;
    if (*pos != ',') break;
    ++pos;
  }
  while (*pos && *pos != ')') ++pos;
  if (*pos == ')') ++pos;
  *cursor = pos;
  return values;
}

bool Consume(const char** cursor, const char* word) {
  const char* pos = *cursor;
  while (*pos == ' ') ++pos;
  size_t len = std::strlen(word);
  if (std::strncmp(pos, word, len) != 0) return false;
  if (IsSqlWordChar(pos[len])) return false;
  *cursor = pos + len;
  return true;
}

ub2 ClampSize(long value) {
  if (value < 0) return 0;
  return value > 65535 ? 65535 : static_cast<ub2>(value);
}

ColumnType Make(ub2 type, ub2 size, sb2 precision, sb1 scale, ub1 form, Family family,
                uint8_t fraction_digits = 0) {
  return ColumnType{type, size, precision, scale, form, family, fraction_digits, 0};
}

ColumnType UnconstrainedNumber() {
  return Make(SQLT_NUM, 22, 0, -127, 0, Family::kNumber);
}

}  // namespace

bool TypeFromDeclared(const char* declared, ColumnType* out) {
  if (declared == nullptr) return false;
  // Upper-cased, blanks collapsed, so that matching below is plain prefix comparison.
  char buf[128];
  size_t used = 0;
  bool blank = true;
  for (const char* pos = declared; *pos && used + 1 < sizeof buf; ++pos) {
    if (IsSqlBlank(*pos)) {
      if (!blank) buf[used++] = ' ';
      blank = true;
      continue;
    }
    buf[used++] = AsciiUpper(*pos);
    blank = false;
  }
  while (used > 0 && buf[used - 1] == ' ') --used;
  buf[used] = '\0';
  if (used == 0) return false;

  const char* cursor = buf;
  int first = -1;
  int second = -1;
  bool char_unit = false;
  if (Consume(&cursor, "NUMBER") || Consume(&cursor, "NUMERIC") || Consume(&cursor, "DECIMAL") ||
      Consume(&cursor, "DEC")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    if (values == 0) {
      *out = UnconstrainedNumber();
    } else {
      *out = Make(SQLT_NUM, 22, static_cast<sb2>(first), static_cast<sb1>(values == 2 ? second : 0),
                  0, Family::kNumber);
    }
    return true;
  }
  if (Consume(&cursor, "FLOAT")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    *out = Make(SQLT_NUM, 22, static_cast<sb2>(values ? first : 126), -127, 0, Family::kNumber);
    return true;
  }
  if (Consume(&cursor, "INTERVAL")) {
    if (Consume(&cursor, "YEAR")) {
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      *out = Make(SQLT_INTERVAL_YM, 5, static_cast<sb2>(values ? first : 2), 0, 0, Family::kText);
    } else {
      Consume(&cursor, "DAY");
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      sb2 leading = static_cast<sb2>(values ? first : 2);
      int fraction = 6;
      if (Consume(&cursor, "TO") && Consume(&cursor, "SECOND") &&
          ReadParens(&cursor, &first, &second, &char_unit)) {
        fraction = first;
      }
      *out = Make(SQLT_INTERVAL_DS, 11, leading, static_cast<sb1>(fraction), 0, Family::kText);
    }
    return true;
  }
  if (Consume(&cursor, "TIMESTAMP")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    int fraction = values ? first : 6;
    if (fraction < 0) fraction = 0;
    if (fraction > 9) fraction = 9;
    auto digits = static_cast<uint8_t>(fraction);
    if (Consume(&cursor, "WITH")) {
      if (Consume(&cursor, "LOCAL")) {
        *out = Make(SQLT_TIMESTAMP_LTZ, 11, 0, static_cast<sb1>(fraction), 0, Family::kTimestampLtz,
                    digits);
      } else {
        *out = Make(SQLT_TIMESTAMP_TZ, 13, 0, static_cast<sb1>(fraction), 0, Family::kTimestampTz,
                    digits);
      }
    } else {
      *out = Make(SQLT_TIMESTAMP, 11, 0, static_cast<sb1>(fraction), 0, Family::kTimestamp, digits);
    }
    return true;
  }
  if (Consume(&cursor, "DATE") || Consume(&cursor, "DATETIME")) {
    *out = Make(SQLT_DAT, 7, 0, 0, 0, Family::kDate);
    return true;
  }
  if (Consume(&cursor, "LONG")) {
    if (Consume(&cursor, "RAW")) {
      *out = Make(SQLT_LBI, 0, 0, 0, 0, Family::kBinary);
    } else {
      *out = Make(SQLT_LNG, 0, 0, 0, 1, Family::kText);
    }
    return true;
  }
  if (Consume(&cursor, "RAW")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    *out = Make(SQLT_BIN, ClampSize(values ? first : 2000), 0, 0, 0, Family::kBinary);
    return true;
  }
  if (Consume(&cursor, "ROWID") || Consume(&cursor, "UROWID")) {
    *out = Make(SQLT_RDD, 10, 0, 0, 0, Family::kText);
    return true;
  }
  if (Consume(&cursor, "NCLOB")) {
    *out = Make(SQLT_CLOB, 4000, 0, 0, 2, Family::kText);
    return true;
  }
  if (Consume(&cursor, "CLOB")) {
    *out = Make(SQLT_CLOB, 4000, 0, 0, 1, Family::kText);
    return true;
  }
  if (Consume(&cursor, "BLOB")) {
    *out = Make(SQLT_BLOB, 4000, 0, 0, 0, Family::kBinary);
    return true;
  }
  if (Consume(&cursor, "BFILE")) {
    *out = Make(SQLT_BFILEE, 530, 0, 0, 0, Family::kBinary);
    return true;
  }
  if (Consume(&cursor, "TEXT")) {
    *out = Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
    return true;
  }
  // Character types: the national ones count two bytes a character, a CHAR length unit four.
  bool national = Consume(&cursor, "NATIONAL");
  if (Consume(&cursor, "NVARCHAR2") || Consume(&cursor, "NVARCHAR"))
    national = true;
  else if (Consume(&cursor, "NCHAR")) {
    national = true;
    if (!Consume(&cursor, "VARYING")) {
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      *out = Make(SQLT_AFC, ClampSize(2L * (values ? first : 1)), 0, 0, 2, Family::kText);
      out->char_length = ClampSize(values ? first : 1);
      return true;
    }
  } else if (Consume(&cursor, "VARCHAR2") || Consume(&cursor, "VARCHAR")) {
  } else if (Consume(&cursor, "CHARACTER") || Consume(&cursor, "CHAR")) {
    if (!Consume(&cursor, "VARYING")) {
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      long size = values ? first : 1;
      if (national)
        size *= 2;
      else if (char_unit)
        size *= 4;
      *out = Make(SQLT_AFC, ClampSize(size), 0, 0, national ? 2 : 1, Family::kText);
      out->char_length = ClampSize(values ? first : 1);
      return true;
    }
  } else {
    // Anything else by SQLite's own affinity rules.
    if (std::strstr(buf, "INT")) {
      *out = Make(SQLT_NUM, 22, 38, 0, 0, Family::kNumber);
    } else if (std::strstr(buf, "CHAR") || std::strstr(buf, "CLOB") || std::strstr(buf, "TEXT")) {
      *out = Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
    } else if (std::strstr(buf, "BLOB")) {
      *out = Make(SQLT_BLOB, 4000, 0, 0, 0, Family::kBinary);
    } else {
      *out = UnconstrainedNumber();
    }
    return true;
  }
  int values = ReadParens(&cursor, &first, &second, &char_unit);
  long size = values ? first : 4000;
  if (national)
    size *= 2;
  else if (char_unit)
    size *= 4;
  *out = Make(SQLT_CHR, ClampSize(size), 0, 0, national ? 2 : 1, Family::kText);
  return true;
}

ColumnType TypeFromStorage(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return UnconstrainedNumber();
    case SQLITE_BLOB:
      return Make(SQLT_BIN, 2000, 0, 0, 0, Family::kBinary);
    default:
      return Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
  }
}

}  // namespace rowflume::engine
