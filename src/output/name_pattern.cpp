#include "output/name_pattern.h"

#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "platform/platform.h"

namespace rowflume {
namespace {

// Appends text to the name being built; false once the name would pass the limit.
struct NameBuilder {
  char* out;
  int length;
  bool too_long;

  void Add(const char* text, int count) {
    for (int k = 0; k < count; ++k) {
      if (length >= kMaxExpandedName) {
        too_long = true;
        return;
      }
      out[length++] = text[k];
    }
  }
  void AddNumber(long long value, int min_digits) {
    char digits[32];
    int count = std::snprintf(digits, sizeof digits, "%0*lld", min_digits, value);
    Add(digits, count);
  }
};

}  // namespace

bool HasPatternField(const char* pattern, char letter) {
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (AsciiLower(p[1]) == letter) return true;
    if (p[1] == '\0') break;
    ++p;  // the character after % is taken literally
  }
  return false;
}

bool HasAmbiguousNumbers(const char* pattern, bool pieces_vary, bool sequence_varies) {
  char last_varying = 0;  // the last varying field seen with only digits after it, or 0
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') {
      if (!IsAsciiDigit(*p)) last_varying = 0;
      continue;
    }
    if (p[1] == '\0') break;
    const char field = AsciiLower(*++p);
    const bool varies = (field == 'p' && pieces_vary) || (field == 'b' && sequence_varies);
    if (varies) {
      if (last_varying != 0 && last_varying != field) return true;
      last_varying = field;
    } else if (!(field == 'd' || field == 'm' || field == 'w' || field == 'y' || field == 't' ||
                 field == 'p' || field == 'b') &&
               !IsAsciiDigit(field)) {
      last_varying = 0;  // a literal character such as "%_" separates the numbers
    }
  }
  return false;
}

bool InsertBeforeExtension(char* name, size_t capacity, const char* text) {
  const size_t length = std::strlen(name);
  size_t base = name[0] == '+' ? 1 : 0;  // an appended file is named after the "+"
  for (size_t pos = 0; pos < length; ++pos) {
    if (name[pos] == '/' || name[pos] == DirectorySeparator()) base = pos + 1;
  }
  size_t at = length;
  for (size_t pos = length; pos-- > base + 1;) {  // a leading dot names a file, not an extension
    if (name[pos] == '.') {
      at = pos;
      break;
    }
  }
  const size_t text_length = std::strlen(text);
  if (length + text_length + 1 > capacity) return false;
  std::memmove(name + at + text_length, name + at, length - at + 1);
  std::memcpy(name + at, text, text_length);
  return true;
}

bool ExpandOutputName(const char* pattern, char* expanded, int sequence, int piece) {
  NameBuilder name{expanded, 0, false};
  LocalTime now = CurrentLocalTime();
  for (const char* p = pattern; *p != '\0' && !name.too_long; ++p) {
    if (*p != '%') {
      name.Add(p, 1);
      continue;
    }
    char field = p[1];
    if (field == '\0') break;  // a trailing % gives nothing
    ++p;
    switch (AsciiLower(field)) {
      case 'b':
        name.AddNumber(sequence, 1);
        break;
      case 'd':
        name.AddNumber(now.day, 2);
        break;
      case 'm':
        name.AddNumber(now.month, 2);
        break;
      case 'p':
        name.AddNumber(piece, 1);
        break;
      case 't':
        // The whole count, not its low 32 bits: those turn negative, and shorter, in 2038.
        name.AddNumber(CurrentTimeSeconds(), 1);
        break;
      case 'w':
        name.AddNumber(now.weekday, 1);
        break;
      case 'y':
        name.AddNumber(now.year, 4);
        break;
      default:
        name.Add(&field, 1);
        break;
    }
  }
  expanded[name.length] = '\0';
  if (name.too_long) return false;
  if (sequence >= 2 && expanded[0] != '+' && expanded[0] != '-' && !HasPatternField(pattern, 'b')) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%d", sequence);
    return InsertBeforeExtension(expanded, kExpandedNameBytes, suffix);
  }
  return true;
}

bool PiecePattern(char* pattern, size_t capacity) {
  if (pattern[0] == '-' || HasPatternField(pattern, 'p') || pattern[0] == '\0') return true;
  return InsertBeforeExtension(pattern, capacity, "_%p");
}

}  // namespace rowflume
