#include "output/escaping.h"

#include <bit>
#include <cstring>

#include "common/ascii.h"

namespace rowflume {
namespace {

constexpr uint64_t kLowBytes = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// True when no byte of the word equals an escaped byte, nor, when pairs are kept, has its top bit
// set (it might start a double-byte character).
bool IsPlainWord(uint64_t word, const EscapeTable& table, bool keep_pairs) {
  if (keep_pairs && (word & kHighBits) != 0) return false;
  for (int k = 0; k < table.word_count; ++k) {
    uint64_t diff = word ^ table.words[k];  // a zero byte where the word holds the escaped byte
    if (((diff - kLowBytes) & ~diff & kHighBits) != 0) return false;
  }
  return true;
}

}  // namespace

bool IsDoubleBytePair(uint8_t first, uint8_t second) {
  return first >= 0x81 && first <= 0xFE &&
         ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFE));
}

bool IsDoubleByteCharset(const char* name) {
  static constexpr const char* kDoubleByteSets[] = {
      "ZHS16GBK", "ZHS32GB18030",  "ZHT16BIG5",   "ZHT16MSWIN950", "ZHT16HKSCS",
      "JA16SJIS", "JA16SJISTILDE", "JA16SJISYEN", "KO16MSWIN949",
  };
  if (name == nullptr) return false;
  for (const char* set : kDoubleByteSets) {
    if (EqualIgnoringCase(name, set)) return true;
  }
  return false;
}

const char* ClientCharsetName(const char* charset, const char* nls_lang) {
  if (charset != nullptr && charset[0] != '\0') return charset;
  // NLS_LANG is LANGUAGE_TERRITORY.CHARSET, each part optional.
  const char* dot = nls_lang != nullptr ? std::strchr(nls_lang, '.') : nullptr;
  return dot != nullptr ? dot + 1 : "";
}

int CountEscapePairs(const char* escf, const char* esct) {
  int count = 0;
  while (count < kMaxEscapePairs && escf[count] != '\0' && esct[count] != '\0') ++count;
  return count;
}

void BuildEscapeTable(EscapeTable* table, char escape, const char* escf, const char* esct,
                      int pair_count) {
  table->escape = escape;
  table->escaped.fill(0);
  table->replacement.fill(0);
  uint8_t e = static_cast<uint8_t>(escape);
  table->escaped[e] = 1;
  table->replacement[e] = e;
  // The first matching position wins, and the escape character's own doubling wins over all.
  for (int k = 0; k < pair_count; ++k) {
    uint8_t from = static_cast<uint8_t>(escf[k]);
    if (table->escaped[from]) continue;
    table->escaped[from] = 1;
    table->replacement[from] = static_cast<uint8_t>(esct[k]);
  }
  table->word_count = 0;
  table->lone_byte = -1;
  int escaped_count = 0;
  for (int b = 0; b < 256; ++b) {
    if (!table->escaped[b]) continue;
    if (++escaped_count == 1 && b < 0x40) table->lone_byte = b;
  }
  if (escaped_count != 1) table->lone_byte = -1;
  for (int b = 0; b < 256; ++b) {
    if (!table->escaped[b]) continue;
    if (b >= 0x80) {
      table->word_count = -1;
      break;
    }
    table->words[table->word_count++] = kLowBytes * static_cast<uint64_t>(b);
  }
}

int64_t CountEscapes(const char* value, int64_t length, const EscapeTable& table, bool keep_pairs) {
  int64_t count = 0;
  if (table.lone_byte >= 0) {
    // Its occurrences, a word at a time.
    const uint64_t pattern = kLowBytes * static_cast<uint64_t>(table.lone_byte);
    auto marks = [pattern](uint64_t word) { return MarkBytes(word, pattern); };
    // One bit per marked byte moved to the bottom; the multiplication adds them up in the top
    // byte.
    auto sum = [](uint64_t marked) {
      return static_cast<int64_t>(((marked >> 7) * kLowBytes) >> 56);
    };
    int64_t i = 0;
    for (; i + 8 <= length; i += 8) count += sum(marks(LoadWord(value + i)));
    if (i < length && length >= 8 && std::endian::native == std::endian::little) {
      // The last eight bytes, less the low ones (the lower addresses) counted already.
      const int64_t counted = 8 - (length - i);
      return count + sum(marks(LoadWord(value + length - 8)) >> (8 * counted));
    }
    for (; i < length; ++i) count += static_cast<uint8_t>(value[i]) == table.lone_byte;
    return count;
  }
  int64_t i = 0;
  while (i < length) {
    // Whole plain words are passed over: no escape and no double-byte character starts in them.
    if (table.word_count >= 0) {
      while (i + 8 <= length && IsPlainWord(LoadWord(value + i), table, keep_pairs)) i += 8;
      if (i >= length) break;
    }
    uint8_t b = static_cast<uint8_t>(value[i]);
    if (keep_pairs && b >= 0x81 && i + 1 < length &&
        IsDoubleBytePair(b, static_cast<uint8_t>(value[i + 1]))) {
      i += 2;
      continue;
    }
    count += table.escaped[b];
    ++i;
  }
  return count;
}

int64_t CopyEscaped(char* dest, const char* value, int64_t length, const EscapeTable& table,
                    bool keep_pairs) {
  char* p = dest;
  if (table.lone_byte >= 0) {
    // The stretches between occurrences are copied whole. The byte is below 0x40, so it never
    // belongs to a double-byte character: pairs need no care here.
    const char* at = value;
    const char* end = value + length;
    const char doubled = static_cast<char>(table.replacement[static_cast<size_t>(table.lone_byte)]);
    for (;;) {
      const auto* hit =
          static_cast<const char*>(std::memchr(at, table.lone_byte, static_cast<size_t>(end - at)));
      const char* stop = hit != nullptr ? hit : end;
      std::memcpy(p, at, static_cast<size_t>(stop - at));
      p += stop - at;
      if (hit == nullptr) return p - dest;
      *p++ = table.escape;
      *p++ = doubled;
      at = hit + 1;
    }
  }
  int64_t i = 0;
  while (i < length) {
    uint8_t b = static_cast<uint8_t>(value[i]);
    if (keep_pairs && b >= 0x81 && i + 1 < length &&
        IsDoubleBytePair(b, static_cast<uint8_t>(value[i + 1]))) {
      p[0] = value[i];
      p[1] = value[i + 1];
      p += 2;
      i += 2;
      continue;
    }
    if (table.escaped[b]) {
      *p++ = table.escape;
      *p++ = static_cast<char>(table.replacement[b]);
    } else {
      *p++ = value[i];
    }
    ++i;
  }
  return p - dest;
}

bool BuildTranslateTable(TranslateTable* table, const char* sedf, const char* sedt) {
  for (int b = 0; b < 256; ++b) table->map[b] = static_cast<uint8_t>(b);
  bool changes = false;
  bool taken[256] = {};
  for (size_t k = 0; sedf[k] != '\0' && sedt[k] != '\0'; ++k) {
    const auto from = static_cast<uint8_t>(sedf[k]);
    if (taken[from]) continue;  // the first position naming a byte wins
    taken[from] = true;
    table->map[from] = static_cast<uint8_t>(sedt[k]);
    changes = changes || sedt[k] != sedf[k];
  }
  return changes;
}

void TranslateChars(char* value, int64_t length, const TranslateTable& table) {
  for (int64_t i = 0; i < length; ++i) {
    value[i] = static_cast<char>(table.map[static_cast<uint8_t>(value[i])]);
  }
}

}  // namespace rowflume
