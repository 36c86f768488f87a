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

constexpr ColumnType Make(ub2 type, ub2 size, sb2 precision, sb1 scale, ub1 form, Family family,
                          uint8_t fraction_digits = 0) {
  return ColumnType{type, size, precision, scale, form, family, fraction_digits, 0, 0};
}

constexpr ub2 kRowidChars = 18;

ColumnType UnconstrainedNumber() {
  return Make(SQLT_NUM, 22, 0, -127, 0, Family::kNumber);
}

// What may follow a declared type name, and so how the rest of the declaration is read.
enum class Shape : uint8_t {
  kFixed,      // nothing that matters: the name's description as it stands
  kNumber,     // [(precision[, scale])]
  kFloat,      // [(binary precision)]
  kInterval,   // YEAR[(digits)] TO MONTH, or [DAY][(digits)] [TO SECOND[(fraction digits)]]
  kTimestamp,  // [(fraction digits)] [WITH [LOCAL] TIME ZONE]
  kLong,       // [RAW]
  kRaw,        // [(bytes)]
  kVarying,    // [(length [BYTE | CHAR])]: characters of varying length
  kCharacter,  // [(length [BYTE | CHAR])] of fixed length, or VARYING and the rest of kVarying
  kUrowid,     // [(bytes)]
};

// One declared type name. Character types (kVarying and kCharacter) may follow NATIONAL.
struct DeclaredName {
  const char* name;
  Shape shape;
  bool national = false;  // a national character type whatever precedes it
  ColumnType fixed{};     // kFixed: the description
};

// Every declared type name the engine describes by itself; other names are left to SQLite's
// affinity rules. A name matches only as a whole word.
constexpr DeclaredName kDeclaredNames[] = {
    {"NUMBER", Shape::kNumber},
    {"NUMERIC", Shape::kNumber},
    {"DECIMAL", Shape::kNumber},
    {"DEC", Shape::kNumber},
    {"FLOAT", Shape::kFloat},
    {"INTERVAL", Shape::kInterval},
    {"TIMESTAMP", Shape::kTimestamp},
    {"BINARY_FLOAT", Shape::kFixed, false, Make(SQLT_IBFLOAT, 4, 0, 0, 0, Family::kBinaryFloat)},
    {"BINARY_DOUBLE", Shape::kFixed, false, Make(SQLT_IBDOUBLE, 8, 0, 0, 0, Family::kBinaryDouble)},
    {"DATE", Shape::kFixed, false, Make(SQLT_DAT, 7, 0, 0, 0, Family::kDate)},
    {"DATETIME", Shape::kFixed, false, Make(SQLT_DAT, 7, 0, 0, 0, Family::kDate)},
    {"LONG", Shape::kLong},
    {"RAW", Shape::kRaw},
    {"ROWID", Shape::kFixed, false, Make(SQLT_RDD, kRowidChars, 0, 0, 0, Family::kText)},
    {"UROWID", Shape::kUrowid},
    {"NCLOB", Shape::kFixed, false, Make(SQLT_CLOB, 4000, 0, 0, 2, Family::kText)},
    {"CLOB", Shape::kFixed, false, Make(SQLT_CLOB, 4000, 0, 0, 1, Family::kText)},
    {"BLOB", Shape::kFixed, false, Make(SQLT_BLOB, 4000, 0, 0, 0, Family::kBinary)},
    {"BFILE", Shape::kFixed, false, Make(SQLT_BFILEE, 530, 0, 0, 0, Family::kBinary)},
    {"TEXT", Shape::kFixed, false, Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText)},
    {"NVARCHAR2", Shape::kVarying, true},
    {"NVARCHAR", Shape::kVarying, true},
    {"NCHAR", Shape::kCharacter, true},
    {"VARCHAR2", Shape::kVarying},
    {"VARCHAR", Shape::kVarying},
    {"CHARACTER", Shape::kCharacter},
    {"CHAR", Shape::kCharacter},
};

const DeclaredName* MatchName(const char** cursor) {
  for (const DeclaredName& candidate : kDeclaredNames) {
    if (Consume(cursor, candidate.name)) return &candidate;
  }
  return nullptr;
}

bool IsCharacter(Shape shape) {
  return shape == Shape::kVarying || shape == Shape::kCharacter;
}

ColumnType ReadInterval(const char** cursor) {
  int first = -1;
  int second = -1;
  bool char_unit = false;
  if (Consume(cursor, "YEAR")) {
    int values = ReadParens(cursor, &first, &second, &char_unit);
    return Make(SQLT_INTERVAL_YM, 5, static_cast<sb2>(values ? first : 2), 0, 0, Family::kText);
  }
  Consume(cursor, "DAY");
  int values = ReadParens(cursor, &first, &second, &char_unit);
  sb2 leading = static_cast<sb2>(values ? first : 2);
  int fraction = 6;
  if (Consume(cursor, "TO") && Consume(cursor, "SECOND") &&
      ReadParens(cursor, &first, &second, &char_unit)) {
    fraction = first;
  }
  return Make(SQLT_INTERVAL_DS, 11, leading, static_cast<sb1>(fraction), 0, Family::kText);
}

ColumnType ReadTimestamp(const char** cursor) {
  int first = -1;
  int second = -1;
  bool char_unit = false;
  int values = ReadParens(cursor, &first, &second, &char_unit);
  int fraction = values ? first : 6;
  if (fraction < 0) fraction = 0;
  if (fraction > 9) fraction = 9;
  auto digits = static_cast<uint8_t>(fraction);
  if (!Consume(cursor, "WITH")) {
    return Make(SQLT_TIMESTAMP, 11, 0, static_cast<sb1>(fraction), 0, Family::kTimestamp, digits);
  }
  if (Consume(cursor, "LOCAL")) {
    return Make(SQLT_TIMESTAMP_LTZ, 11, 0, static_cast<sb1>(fraction), 0, Family::kTimestampLtz,
                digits);
  }
  return Make(SQLT_TIMESTAMP_TZ, 13, 0, static_cast<sb1>(fraction), 0, Family::kTimestampTz,
              digits);
}

// Character types: the national ones count two bytes a character, a CHAR length unit four.
ColumnType ReadCharacter(const char** cursor, bool national, bool varying) {
  int first = -1;
  int second = -1;
  bool char_unit = false;
  int values = ReadParens(cursor, &first, &second, &char_unit);
  long size = values ? first : varying ? 4000 : 1;
  if (national)
    size *= 2;
  else if (char_unit)
    size *= 4;
  ColumnType type =
      Make(varying ? SQLT_CHR : SQLT_AFC, ClampSize(size), 0, 0, national ? 2 : 1, Family::kText);
  // Values of fixed length are padded to it.
  if (!varying) type.char_length = ClampSize(values ? first : 1);
  type.char_size = ClampSize(values ? first : varying ? 4000 : 1);
  return type;
}

ColumnType Describe(const DeclaredName& name, bool national, const char** cursor) {
  int first = -1;
  int second = -1;
  bool char_unit = false;
  switch (name.shape) {
    case Shape::kFixed:
      return name.fixed;
    case Shape::kNumber: {
      int values = ReadParens(cursor, &first, &second, &char_unit);
      if (values == 0) return UnconstrainedNumber();
      return Make(SQLT_NUM, 22, static_cast<sb2>(first), static_cast<sb1>(values == 2 ? second : 0),
                  0, Family::kNumber);
    }
    case Shape::kFloat: {
      int values = ReadParens(cursor, &first, &second, &char_unit);
      return Make(SQLT_NUM, 22, static_cast<sb2>(values ? first : 126), -127, 0, Family::kNumber);
    }
    case Shape::kInterval:
      return ReadInterval(cursor);
    case Shape::kTimestamp:
      return ReadTimestamp(cursor);
    case Shape::kLong:
      if (Consume(cursor, "RAW")) return Make(SQLT_LBI, 0, 0, 0, 0, Family::kBinary);
      return Make(SQLT_LNG, 0, 0, 0, 1, Family::kText);
    case Shape::kRaw: {
      int values = ReadParens(cursor, &first, &second, &char_unit);
      return Make(SQLT_BIN, ClampSize(values ? first : 2000), 0, 0, 0, Family::kBinary);
    }
    case Shape::kUrowid: {
      // Logical ROWIDs of index-organized tables are far longer than physical ones.
      int values = ReadParens(cursor, &first, &second, &char_unit);
      return Make(SQLT_RDD, ClampSize(values ? first : 4000), 0, 0, 0, Family::kText);
    }
    case Shape::kVarying:
      return ReadCharacter(cursor, national, true);
    case Shape::kCharacter:
      return ReadCharacter(cursor, national, Consume(cursor, "VARYING"));
  }
  return UnconstrainedNumber();
}

// Names the table does not know, by SQLite's own affinity rules.
ColumnType ByAffinity(const char* declared) {
  if (std::strstr(declared, "INT")) return Make(SQLT_NUM, 22, 38, 0, 0, Family::kNumber);
  if (std::strstr(declared, "CHAR") || std::strstr(declared, "CLOB") ||
      std::strstr(declared, "TEXT")) {
    return Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
  }
  if (std::strstr(declared, "BLOB")) return Make(SQLT_BLOB, 4000, 0, 0, 0, Family::kBinary);
  return UnconstrainedNumber();
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
  const DeclaredName* name = MatchName(&cursor);
  bool national = false;
  // NATIONAL comes only before a character type.
  if (name == nullptr && Consume(&cursor, "NATIONAL")) {
    national = true;
    name = MatchName(&cursor);
    if (name != nullptr && !IsCharacter(name->shape)) name = nullptr;
  }
  *out = name != nullptr ? Describe(*name, national || name->national, &cursor) : ByAffinity(buf);
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

ColumnType RowidType() {
  return Make(SQLT_RDD, kRowidChars, 0, 0, 0, Family::kText);
}

}  // namespace rowflume::engine
