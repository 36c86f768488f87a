#include "output/insert_text.h"

#include <cstring>
#include <string_view>

#include "common/ascii.h"

namespace rowflume {
namespace {

// The words Oracle's SQL reference lists as reserved: none names a column or a table bare.
// Quoting an upper-case name is always safe, so the list errs on the side of more words.
constexpr std::string_view kOracleReserved[] = {
    "ACCESS",
    "ADD",
    "ALL",
    "ALTER",
    "AND",
    "ANY",
    "AS",
    "ASC",
    "AUDIT",
    "BETWEEN",
    "BY",
    "CHAR",
    "CHECK",
    "CLUSTER",
    "COLUMN",
    "COLUMN_VALUE",
    "COMMENT",
    "COMPRESS",
    "CONNECT",
    "CREATE",
    "CURRENT",
    "DATE",
    "DECIMAL",
    "DEFAULT",
    "DELETE",
    "DESC",
    "DISTINCT",
    "DROP",
    "ELSE",
    "EXCLUSIVE",
    "EXISTS",
    "FILE",
    "FLOAT",
    "FOR",
    "FROM",
    "GRANT",
    "GROUP",
    "HAVING",
    "IDENTIFIED",
    "IMMEDIATE",
    "IN",
    "INCREMENT",
    "INDEX",
    "INITIAL",
    "INSERT",
    "INTEGER",
    "INTERSECT",
    "INTO",
    "IS",
    "LEVEL",
    "LIKE",
    "LOCK",
    "LONG",
    "MAXEXTENTS",
    "MINUS",
    "MLSLABEL",
    "MODE",
    "MODIFY",
    "NESTED_TABLE_ID",
    "NOAUDIT",
    "NOCOMPRESS",
    "NOT",
    "NOWAIT",
    "NULL",
    "NUMBER",
    "OF",
    "OFFLINE",
    "ON",
    "ONLINE",
    "OPTION",
    "OR",
    "ORDER",
    "PCTFREE",
    "PRIOR",
    "PRIVILEGES",
    "PUBLIC",
    "RAW",
    "RENAME",
    "RESOURCE",
    "REVOKE",
    "ROW",
    "ROWID",
    "ROWNUM",
    "ROWS",
    "SELECT",
    "SESSION",
    "SET",
    "SHARE",
    "SIZE",
    "SMALLINT",
    "START",
    "SUCCESSFUL",
    "SYNONYM",
    "SYSDATE",
    "TABLE",
    "THEN",
    "TO",
    "TRIGGER",
    "UID",
    "UNION",
    "UNIQUE",
    "UPDATE",
    "USER",
    "VALIDATE",
    "VALUES",
    "VARCHAR",
    "VARCHAR2",
    "VIEW",
    "WHENEVER",
    "WHERE",
    "WITH",
};

bool IsOracleReserved(std::string_view word) {
  for (std::string_view reserved : kOracleReserved) {
    if (EqualIgnoringCase(word, reserved)) return true;
  }
  return false;
}

// Whether Oracle takes the text as a name without quotes, letter case aside.
bool IsBareOracleName(std::string_view name) {
  if (name.empty() || !IsAsciiLetter(name[0])) return false;
  for (char c : name) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '$' && c != '#') return false;
  }
  return !IsOracleReserved(name);
}

// Appends to a fixed area; bytes past the capacity (less the terminator) are dropped.
struct TextArea {
  char* dest;
  int capacity;
  int length;

  void Append(const char* text, int count) {
    int room = capacity - 1 - length;
    if (count > room) count = room;
    if (count <= 0) return;
    std::memcpy(dest + length, text, static_cast<size_t>(count));
    length += count;
  }
  void Append(const char* text) { Append(text, static_cast<int>(std::strlen(text))); }
  void Append(std::string_view text) { Append(text.data(), static_cast<int>(text.size())); }
  // The text between quote characters, a quote inside doubled; upper-cased when asked.
  void AppendQuoted(std::string_view text, char quote, bool upper) {
    Append(&quote, 1);
    for (char c : text) {
      if (c == quote) Append(&quote, 1);
      const char out = upper ? AsciiUpper(c) : c;
      Append(&out, 1);
    }
    Append(&quote, 1);
  }
  // A described column name: exact, so bare only when Oracle reads it back as it is.
  void AppendName(const ColumnDesc* column, int format) {
    const std::string_view name = NameOf(column);
    if (format == kMySqlFormat) {
      AppendQuoted(name, '`', false);
    } else if (OracleNameIsPlain(name.data(), static_cast<int>(name.size()))) {
      Append(name);
    } else {
      AppendQuoted(name, '"', false);
    }
  }
  // The user's `table` text, part by part between dots (owner, table).
  void AppendTable(std::string_view table, int format) {
    const char quote = format == kMySqlFormat ? '`' : '"';
    if (table.find(quote) != std::string_view::npos || table.empty()) {
      if (format == kMySqlFormat && table.empty()) Append("``");
      if (!table.empty()) Append(table);
      return;
    }
    size_t start = 0;
    for (;;) {
      const size_t dot = table.find('.', start);
      const std::string_view part =
          table.substr(start, dot == std::string_view::npos ? dot : dot - start);
      if (format == kMySqlFormat) {
        AppendQuoted(part, quote, false);
      } else if (IsBareOracleName(part)) {
        Append(part);
      } else {
        AppendQuoted(part, quote, IsOracleReserved(part));
      }
      if (dot == std::string_view::npos) break;
      Append(".");
      start = dot + 1;
    }
  }
  int Finish() {
    if (capacity > 0) dest[length] = '\0';
    return length;
  }

  static std::string_view NameOf(const ColumnDesc* column) {
    int length_of_name = static_cast<int>(column->name_length);
    if (length_of_name > kMaxInsertName) length_of_name = kMaxInsertName;
    return {column->name, strnlen(column->name, static_cast<size_t>(length_of_name))};
  }
};

}  // namespace

bool OracleNameIsPlain(const char* name, int length) {
  const std::string_view text(name, length > 0 ? static_cast<size_t>(length) : 0);
  for (char c : text) {
    if (c >= 'a' && c <= 'z') return false;
  }
  return IsBareOracleName(text);
}

const ColumnDesc* UnwritableOracleName(const ColumnDesc* head) {
  for (const ColumnDesc* column = head->next; column != nullptr; column = column->next) {
    const std::string_view name = TextArea::NameOf(column);
    if (name.empty() || name.size() != column->name_length ||
        name.find('"') != std::string_view::npos) {
      return column;
    }
  }
  return nullptr;
}

int BuildInsertHead(const ColumnDesc* head, char* dest, int capacity, const char* table, int format,
                    const char* hint) {
  TextArea area{dest, capacity, 0};
  if (capacity <= 0) return 0;
  area.Append("INSERT ");
  area.Append(hint);
  area.Append(" INTO ");
  area.AppendTable(table, format);
  area.Append(" (");
  bool first = true;
  for (const ColumnDesc* column = head->next; column != nullptr; column = column->next) {
    if (!first) area.Append(",");
    first = false;
    area.AppendName(column, format);
  }
  area.Append(") VALUES \n");
  return area.Finish();
}

int BuildDuplicateUpdate(const ColumnDesc* head, const char* unique, int unique_bytes, char* dest,
                         int capacity) {
  TextArea area{dest, capacity, 0};
  if (capacity <= 0) return 0;
  uint8_t unique_flags[kMaxColumns];
  FlagUniqueColumns(head, unique, unique_bytes, unique_flags);
  area.Append("\nON DUPLICATE KEY UPDATE ");
  int assigned = 0;
  int position = 0;
  for (const ColumnDesc* column = head->next; column != nullptr && position < kMaxColumns;
       column = column->next) {
    if (unique_flags[position++] != 0) continue;
    if (assigned > 0) area.Append(", ");
    if (assigned % 3 == 0) area.Append("\n    ");
    area.AppendName(column, kMySqlFormat);
    area.Append("=VALUES(");
    area.AppendName(column, kMySqlFormat);
    area.Append(")");
    ++assigned;
  }
  return area.Finish();
}

void StartTokens(TokenCursor* cursor, const char* text, int length) {
  cursor->text = text;
  cursor->length = length;
  cursor->start = 0;
  cursor->end = -1;
}

int NextToken(TokenCursor* cursor) {
  int start = cursor->end + 1;
  if (start > cursor->length) start = cursor->length;
  int end = start;
  while (end < cursor->length && cursor->text[end] != ',') ++end;
  cursor->start = start;
  cursor->end = end;
  return end - start;
}

void FlagUniqueColumns(const ColumnDesc* head, const char* unique, int unique_bytes,
                       uint8_t* flags) {
  std::memset(flags, 0, kMaxColumns);
  TokenCursor tokens;
  StartTokens(&tokens, unique, static_cast<int>(strnlen(unique, unique_bytes)));
  for (int length = NextToken(&tokens); length > 0; length = NextToken(&tokens)) {
    const char* token = unique + tokens.start;
    int position = 0;
    for (const ColumnDesc* column = head->next; column != nullptr && position < kMaxColumns;
         column = column->next, ++position) {
      if (column->name_length == static_cast<uint32_t>(length) &&
          EqualIgnoringCase(column->name, token, static_cast<size_t>(length))) {
        flags[position] = 1;
      }
    }
  }
}

}  // namespace rowflume
