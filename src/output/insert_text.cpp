#include "output/insert_text.h"

#include <cstring>

#include "common/ascii.h"

namespace rowflume {
namespace {

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
  void AppendName(const ColumnDesc* column) {
    int length_of_name = static_cast<int>(column->name_length);
    if (length_of_name > kMaxInsertName) length_of_name = kMaxInsertName;
    Append(column->name, static_cast<int>(strnlen(column->name, length_of_name)));
  }
  int Finish() {
    if (capacity > 0) dest[length] = '\0';
    return length;
  }
};

}  // namespace

int BuildInsertHead(const ColumnDesc* head, char* dest, int capacity, const char* table, int format,
                    const char* hint) {
  TextArea area{dest, capacity, 0};
  if (capacity <= 0) return 0;
  const bool mysql = format == kMySqlFormat;
  const char* name_quote = mysql ? "`" : "";
  area.Append("INSERT ");
  area.Append(hint);
  area.Append(" INTO ");
  area.Append(name_quote);
  area.Append(table);
  area.Append(name_quote);
  area.Append(" (");
  bool first = true;
  for (const ColumnDesc* column = head->next; column != nullptr; column = column->next) {
    if (!first) area.Append(",");
    first = false;
    area.Append(name_quote);
    area.AppendName(column);
    area.Append(name_quote);
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
    area.Append("`");
    area.AppendName(column);
    area.Append("`=VALUES(`");
    area.AppendName(column);
    area.Append("`)");
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
