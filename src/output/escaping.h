// Escaping and character translation of field values: the byte tables built once per run from
// `escape`, `escf`/`esct` and `sedf`/`sedt`, and the counting and copying passes the encoder makes
// over each value. In a double-byte client character set, the two bytes of a character are never
// split by an escape.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "common/inlining.h"

namespace rowflume {

constexpr int kMaxEscapePairs = 20;  // leading escf/esct positions taken

// Byte classes for escaping, built once per run: escaped[b] is non-zero when b is written as
// the escape character followed by replacement[b] (the escape character maps to itself).
struct EscapeTable {
  char escape;
  std::array<uint8_t, 256> escaped;
  std::array<uint8_t, 256> replacement;
  // The escaped bytes, each repeated over a 64-bit word, for scanning eight bytes at a time;
  // word_count is -1 when an escaped byte is 0x80 or above (the byte-wise scan is used then).
  uint64_t words[kMaxEscapePairs + 1];
  int word_count;
  // The only escaped byte when there is exactly one and it lies below 0x40, else -1. Such a
  // byte is never part of a double-byte character, so its escapes are simply its occurrences.
  int lone_byte;
};

// Translation map built once per run; identity for bytes that are not translated.
struct TranslateTable {
  std::array<uint8_t, 256> map;
};

// True when the two bytes form one double-byte character (GBK and relatives): the first 0x81 to
// 0xFE, the second 0x40 to 0x7E or 0x80 to 0xFE. Such pairs are never escaped when the passes
// below are asked to keep pairs.
bool IsDoubleBytePair(uint8_t first, uint8_t second);

// True for the client character sets whose two-byte characters may end in a byte below 0x80,
// which an escape must not split: ZHS16GBK, ZHS32GB18030, ZHT16BIG5, ZHT16MSWIN950, ZHT16HKSCS,
// JA16SJIS, JA16SJISTILDE, JA16SJISYEN and KO16MSWIN949 (letter case aside). In every other set
// (UTF-8, the single-byte sets, the EUC sets, whose characters hold high bytes only) a byte
// below 0x80 is always a character of its own, and pairing it with the byte before would leave
// a backslash or quote after a multi-byte character unescaped.
bool IsDoubleByteCharset(const char* name);

// The name of the client's character set: `charset` when given, otherwise the part of NLS_LANG
// (nls_lang, null when unset) after its ".". Empty when neither names one: the client's default
// then, AL32UTF8 for the embedded engine and US7ASCII for an Oracle client, neither double-byte.
const char* ClientCharsetName(const char* charset, const char* nls_lang);

// Leading positions, at most kMaxEscapePairs, at which both lists hold a non-zero byte.
int CountEscapePairs(const char* escf, const char* esct);

// The escape character is always doubled; escf[k] becomes the escape character and esct[k].
void BuildEscapeTable(EscapeTable* table, char escape, const char* escf, const char* esct,
                      int pair_count);
// Bytes that escaping adds to the value. keep_pairs copies double-byte characters unescaped: set
// for text in a double-byte client character set, never for binary values.
int64_t CountEscapes(const char* value, int64_t length, const EscapeTable& table, bool keep_pairs);
// Writes the escaped value to dest (room for length + CountEscapes bytes); returns bytes written.
int64_t CopyEscaped(char* dest, const char* value, int64_t length, const EscapeTable& table,
                    bool keep_pairs);

// Short values are moved a word at a time: a call to memcpy costs more than the copy itself for
// the few dozen bytes a typical field holds. Unaligned access goes through memcpy, which the
// compiler turns into a single load or store.
inline uint64_t LoadWord(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}
inline void StoreWord(char* dest, uint64_t word) {
  std::memcpy(dest, &word, sizeof word);
}

// The 1 to 7 bytes of a value whose slot holds no whole word, in the low bytes of a word (the
// rest zero), read from two overlapping halves, or the first, middle and last byte: bytes copied
// into a word in memory and read back as the word would stall the load. Out of line: inlined,
// this rare path costs the common ones registers.
ROWFLUME_NOINLINE inline uint64_t LoadShort(const char* value, int64_t length) {
  if constexpr (std::endian::native == std::endian::little) {
    if (length >= 4) {
      uint32_t low;
      uint32_t high;
      std::memcpy(&low, value, 4);
      std::memcpy(&high, value + length - 4, 4);
      return low | (static_cast<uint64_t>(high) << (8 * (length - 4)));
    }
    const int64_t middle = length / 2;
    return static_cast<uint64_t>(static_cast<uint8_t>(value[0])) |
           static_cast<uint64_t>(static_cast<uint8_t>(value[middle])) << (8 * middle) |
           static_cast<uint64_t>(static_cast<uint8_t>(value[length - 1])) << (8 * (length - 1));
  } else {
    uint64_t word = 0;
    std::memcpy(&word, value, static_cast<size_t>(length));
    return word;
  }
}

// Copies length bytes. readable (>= length) is how many bytes from value may be read: a value
// shorter than a word is moved as one word when its slot holds a whole word, and then up to 7
// bytes past dest + length are overwritten, so dest must have room for length + 8 bytes.
inline void CopyValueWords(char* dest, const char* value, int64_t length, int64_t readable) {
  if (length >= 8) {
    if (length > 64) {
      std::memcpy(dest, value, static_cast<size_t>(length));
      return;
    }
    for (int64_t i = 0; i + 8 < length; i += 8) StoreWord(dest + i, LoadWord(value + i));
    // The last word overlaps the one before it rather than leaving a byte-wise tail.
    StoreWord(dest + length - 8, LoadWord(value + length - 8));
  } else if (readable >= 8) {
    StoreWord(dest, LoadWord(value));
  } else if (length > 0) {
    if constexpr (std::endian::native == std::endian::little) {
      StoreWord(dest, LoadShort(value, length));
    } else {
      std::memcpy(dest, value, static_cast<size_t>(length));
    }
  }
}

// Top bit set in exactly the bytes of word that equal the byte repeated in pattern: a byte of
// the XOR is zero exactly there, and no carry crosses from one byte into the next.
inline uint64_t MarkBytes(uint64_t word, uint64_t pattern) {
  constexpr uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t diff = word ^ pattern;
  return ~(((diff & kLowSeven) + kLowSeven) | diff | kLowSeven);
}

// What CopyEscaped writes for a table with a lone_byte, in one pass instead of a count and a
// copy: words are stored whole and the escape is written over the byte where it occurs.
// readable as for CopyValueWords; dest must have room for 2 * length + 8 bytes (up to 7 bytes
// past the returned length are overwritten).
inline int64_t CopyLoneEscaped(char* dest, const char* value, int64_t length, int64_t readable,
                               const EscapeTable& table) {
  if constexpr (std::endian::native != std::endian::little) {
    return CopyEscaped(dest, value, length, table, false);
  } else {
    const uint64_t pattern = 0x0101010101010101ULL * static_cast<uint64_t>(table.lone_byte);
    const char escape = table.escape;
    const char doubled = static_cast<char>(table.replacement[static_cast<size_t>(table.lone_byte)]);
    char* p = dest;
    int64_t i = 0;
    while (i + 8 <= length) {
      const uint64_t word = LoadWord(value + i);
      StoreWord(p, word);
      const uint64_t marks = MarkBytes(word, pattern);
      if (marks == 0) {
        p += 8;
        i += 8;
        continue;
      }
      // The next word starts right after the escaped byte.
      const int at = std::countr_zero(marks) >> 3;
      p += at;
      p[0] = escape;
      p[1] = doubled;
      p += 2;
      i += at + 1;
    }
    int64_t rest = length - i;
    if (rest == 0) return p - dest;
    // The last bytes, moved to the bottom of one word: taken from the value's last word, which
    // then holds only bytes of the value, or from its slot's first word, whose bytes past the
    // value are masked off.
    uint64_t word = 0;
    if (length >= 8) {
      word = LoadWord(value + length - 8) >> (8 * (8 - rest));
    } else if (readable >= 8) {
      word = LoadWord(value);
    } else {
      word = LoadShort(value, rest);
    }
    uint64_t marks = MarkBytes(word, pattern) & ((uint64_t{1} << (8 * rest)) - 1);
    for (;;) {
      StoreWord(p, word);
      if (marks == 0) return p + rest - dest;
      const int at = std::countr_zero(marks) >> 3;
      p += at;
      p[0] = escape;
      p[1] = doubled;
      p += 2;
      rest -= at + 1;
      if (rest == 0) return p - dest;
      word >>= 8 * (at + 1);
      marks >>= 8 * (at + 1);
    }
  }
}

// Every position k of the from-list is a pair, sedf[k] becoming sedt[k]; when a byte is listed
// twice its first pair wins, and a pair of equal bytes leaves its byte as it is. The lists are
// read up to their NUL bytes; the job checks refuse lists of different lengths, and here a
// from-list longer than the to-list leaves its extra bytes untranslated. True when the table
// changes some byte.
bool BuildTranslateTable(TranslateTable* table, const char* sedf, const char* sedt);
// Replaces every byte in place, in one pass (a replaced byte is not translated again).
void TranslateChars(char* value, int64_t length, const TranslateTable& table);

}  // namespace rowflume
